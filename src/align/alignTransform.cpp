#include "align/alignTransform.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace halvora {
namespace {

/// Moves four points to their centroid and scales them to a mean distance of √2 from it, so the
/// linear system below has entries near 1 whatever the picture size. p' = (p − c) × k.
struct pointScaling {
    double cx = 0, cy = 0, k = 1;
};

template <class Points> bool scalingFor(const Points& p, size_t n, pointScaling& s) {
    if (n == 0) return false;
    s.cx = s.cy = 0;
    for (size_t i = 0; i < n; ++i) {
        s.cx += p[i].x / double(n);
        s.cy += p[i].y / double(n);
    }
    double mean = 0;
    for (size_t i = 0; i < n; ++i)
        mean += std::sqrt((p[i].x - s.cx) * (p[i].x - s.cx) + (p[i].y - s.cy) * (p[i].y - s.cy)) / double(n);
    if (!(mean > 0) || !std::isfinite(mean)) return false;
    s.k = std::sqrt(2.0) / mean;
    return true;
}

using matrix3 = std::array<std::array<double, 3>, 3>;

matrix3 multiply(const matrix3& a, const matrix3& b) {
    matrix3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                r[i][j] += a[i][k] * b[k][j];
    return r;
}

/// p ↦ (p − c) k as a matrix, and its inverse.
matrix3 scaling(const pointScaling& s) {
    return {{{s.k, 0, -s.k * s.cx}, {0, s.k, -s.k * s.cy}, {0, 0, 1}}};
}
matrix3 unscaling(const pointScaling& s) {
    return {{{1 / s.k, 0, s.cx}, {0, 1 / s.k, s.cy}, {0, 0, 1}}};
}

matrix3 matrixOf(const alignTransform& t) {
    return {{{t.a[0], t.a[1], t.a[2]}, {t.a[3], t.a[4], t.a[5]}, {t.a[6], t.a[7], 1}}};
}

/// The coefficients of a matrix scaled to a bottom-right 1; false when that entry is (nearly) 0 or a
/// coefficient is not finite.
bool transformOf(const matrix3& m, alignTransform& out) {
    const double w = m[2][2];
    if (!(std::fabs(w) > 1e-12)) return false;
    alignTransform t;
    const double coef[8] = {m[0][0], m[0][1], m[0][2], m[1][0], m[1][1], m[1][2], m[2][0], m[2][1]};
    for (int i = 0; i < 8; ++i)
        t.a[i] = coef[i] / w;
    if (!t.isFinite()) return false;
    out = t;
    return true;
}

/// Solves the 8 × 8 system m · h = m[.][8] by elimination with partial pivoting. False when a
/// pivot is not above `smallest` (the equations do not fix the map).
bool solve8(double m[8][9], double h[8], double smallest) {
    for (int col = 0; col < 8; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 8; ++r)
            if (std::fabs(m[r][col]) > std::fabs(m[pivot][col])) pivot = r;
        // The scaled points put every entry near 1, so an absolute bound separates a proper system
        // from one whose points are (almost) on a line.
        if (!(std::fabs(m[pivot][col]) > smallest)) return false;
        if (pivot != col) std::swap(m[pivot], m[col]);
        for (int r = col + 1; r < 8; ++r) {
            const double f = m[r][col] / m[col][col];
            for (int c = col; c < 9; ++c)
                m[r][c] -= f * m[col][c];
        }
    }
    for (int r = 7; r >= 0; --r) {
        double v = m[r][8];
        for (int c = r + 1; c < 8; ++c)
            v -= m[r][c] * h[c];
        h[r] = v / m[r][r];
    }
    return true;
}

/// The projective map of the unit square's corners (0, 0), (1, 0), (1, 1), (0, 1) onto the four
/// points, in closed form; false when three of the points are on a line.
bool squareToQuad(const alignPoint q[4], matrix3& m) {
    const double sx = q[0].x - q[1].x + q[2].x - q[3].x, sy = q[0].y - q[1].y + q[2].y - q[3].y;
    const double dx1 = q[1].x - q[2].x, dx2 = q[3].x - q[2].x, dy1 = q[1].y - q[2].y, dy2 = q[3].y - q[2].y;
    const double den = dx1 * dy2 - dx2 * dy1;
    if (den == 0 || !std::isfinite(den)) return false;
    const double g = (sx * dy2 - dx2 * sy) / den, h = (dx1 * sy - sx * dy1) / den;
    m = {{{q[1].x - q[0].x + g * q[1].x, q[3].x - q[0].x + h * q[3].x, q[0].x},
          {q[1].y - q[0].y + g * q[1].y, q[3].y - q[0].y + h * q[3].y, q[0].y},
          {g, h, 1}}};
    return true;
}

/// The adjugate: the inverse times the determinant, which a projective map does not mind.
matrix3 adjugate(const matrix3& a) {
    return {{{a[1][1] * a[2][2] - a[1][2] * a[2][1], a[0][2] * a[2][1] - a[0][1] * a[2][2],
              a[0][1] * a[1][2] - a[0][2] * a[1][1]},
             {a[1][2] * a[2][0] - a[1][0] * a[2][2], a[0][0] * a[2][2] - a[0][2] * a[2][0],
              a[0][2] * a[1][0] - a[0][0] * a[1][2]},
             {a[1][0] * a[2][1] - a[1][1] * a[2][0], a[0][1] * a[2][0] - a[0][0] * a[2][1],
              a[0][0] * a[1][1] - a[0][1] * a[1][0]}}};
}

} // namespace

bool alignTransform::isIdentity() const {
    return a[0] == 1 && a[1] == 0 && a[2] == 0 && a[3] == 0 && a[4] == 1 && a[5] == 0 && a[6] == 0 &&
           a[7] == 0;
}

bool alignTransform::isFinite() const {
    return std::all_of(a, a + 8, [](double v) { return std::isfinite(v); });
}

alignPoint alignTransform::map(double x, double y) const {
    const double d = a[6] * x + a[7] * y + 1;
    if (!(d > 0)) return {std::nan(""), std::nan("")};
    return {(a[0] * x + a[1] * y + a[2]) / d, (a[3] * x + a[4] * y + a[5]) / d};
}

alignTransform alignTransform::forModel(int model) const {
    alignTransform t = *this;
    if (model == alignShift) {
        t = identity();
        t.a[2] = a[2];
        t.a[5] = a[5];
    } else if (model != alignPerspective) {
        t.a[6] = t.a[7] = 0;
    }
    return t;
}

bool projectiveFromPoints(const alignPoint reference[4], const alignPoint photo[4], alignTransform& out) {
    // Through the unit square: reference → square → photo. Both sides are moved to their centroid
    // first, which keeps the products of coordinates small.
    pointScaling sr, sp;
    if (!scalingFor(reference, 4, sr) || !scalingFor(photo, 4, sp)) return false;
    alignPoint r[4], q[4];
    for (int i = 0; i < 4; ++i) {
        r[i] = {(reference[i].x - sr.cx) * sr.k, (reference[i].y - sr.cy) * sr.k};
        q[i] = {(photo[i].x - sp.cx) * sp.k, (photo[i].y - sp.cy) * sp.k};
    }
    matrix3 fromSquareR, fromSquareQ;
    if (!squareToQuad(r, fromSquareR) || !squareToQuad(q, fromSquareQ)) return false;
    const matrix3 scaled = multiply(fromSquareQ, adjugate(fromSquareR));
    alignTransform result;
    if (!transformOf(multiply(unscaling(sp), multiply(scaled, scaling(sr))), result)) return false;
    // Each pair must really be met, in front of the horizon: three points on a line or two that
    // coincide leave a map that misses (or a system that has none), and fail here.
    double scale = 1;
    for (int i = 0; i < 4; ++i)
        scale = std::max({scale, std::fabs(photo[i].x), std::fabs(photo[i].y)});
    for (int i = 0; i < 4; ++i) {
        const alignPoint p = result.map(reference[i].x, reference[i].y);
        if (!(std::fabs(p.x - photo[i].x) <= 1e-6 * scale && std::fabs(p.y - photo[i].y) <= 1e-6 * scale))
            return false;
    }
    out = result;
    return true;
}

bool projectiveLeastSquares(const std::vector<alignPoint>& reference, const std::vector<alignPoint>& photo,
                            alignTransform& t, const std::vector<double>* weight) {
    size_t n = std::min(reference.size(), photo.size());
    if (weight) n = std::min(n, weight->size());
    pointScaling sr, sp;
    if (n < 4 || !scalingFor(reference, n, sr) || !scalingFor(photo, n, sp)) return false;
    // Work on scaled coordinates, where the map is H' = Sp · H · Sr⁻¹.
    alignTransform h;
    if (!transformOf(multiply(scaling(sp), multiply(matrixOf(t), unscaling(sr))), h)) return false;
    std::vector<alignPoint> from(n), to(n);
    for (size_t i = 0; i < n; ++i) {
        from[i] = {(reference[i].x - sr.cx) * sr.k, (reference[i].y - sr.cy) * sr.k};
        to[i] = {(photo[i].x - sp.cx) * sp.k, (photo[i].y - sp.cy) * sp.k};
    }
    for (int step = 0; step < 10; ++step) {
        double m[8][9] = {};
        const double* a = h.a;
        for (size_t i = 0; i < n; ++i) {
            const double x = from[i].x, y = from[i].y;
            const double w = a[6] * x + a[7] * y + 1;
            if (!(w > 0)) return false;
            const double u = (a[0] * x + a[1] * y + a[2]) / w, v = (a[3] * x + a[4] * y + a[5]) / w;
            const double ju[8] = {x / w, y / w, 1 / w, 0, 0, 0, -u * x / w, -u * y / w};
            const double jv[8] = {0, 0, 0, x / w, y / w, 1 / w, -v * x / w, -v * y / w};
            const double ru = to[i].x - u, rv = to[i].y - v;
            const double g = weight ? (*weight)[i] : 1.0;
            for (int r = 0; r < 8; ++r) {
                for (int c = 0; c < 8; ++c)
                    m[r][c] += g * (ju[r] * ju[c] + jv[r] * jv[c]);
                m[r][8] += g * (ju[r] * ru + jv[r] * rv);
            }
        }
        double delta[8];
        if (!solve8(m, delta, 1e-12 * double(n))) return false;
        double largest = 0;
        for (int k = 0; k < 8; ++k) {
            h.a[k] += delta[k];
            largest = std::max(largest, std::fabs(delta[k]));
        }
        if (!h.isFinite()) return false;
        if (largest < 1e-12) break;
    }
    alignTransform result;
    if (!transformOf(multiply(unscaling(sp), multiply(matrixOf(h), scaling(sr))), result)) return false;
    t = result;
    return true;
}

bool pinsAroundCrossing(const alignPoint pins[4], alignPoint& crossing) {
    // Line A: pins[0] + s (pins[2] − pins[0]); line B: pins[1] + t (pins[3] − pins[1]).
    const double ax = pins[2].x - pins[0].x, ay = pins[2].y - pins[0].y;
    const double bx = pins[3].x - pins[1].x, by = pins[3].y - pins[1].y;
    const double den = ax * by - ay * bx;
    if (den == 0 || !std::isfinite(den)) return false;
    const double wx = pins[1].x - pins[0].x, wy = pins[1].y - pins[0].y;
    const double s = (wx * by - wy * bx) / den;
    const double t = (wx * ay - wy * ax) / den;
    // Both pairs straddle the crossing when it lies strictly inside both segments.
    if (!(s > 0 && s < 1 && t > 0 && t < 1)) return false;
    crossing = {pins[0].x + s * ax, pins[0].y + s * ay};
    return true;
}

} // namespace halvora
