#include "align/alignmentTile.h"

#include "base/parallelFor.h"
#include "base/runContext.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace halvora {
namespace {

/// Σ (a[i] − b[i])² over n bytes. The matching spends nearly all its time here.
#ifdef __SSE2__
/// acc += the squared differences of 8 byte pairs (in four 32-bit lanes).
inline __m128i addSquaredDifference8(__m128i acc, __m128i a, __m128i b) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i d = _mm_sub_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
    return _mm_add_epi32(acc, _mm_madd_epi16(d, d));
}
#endif

/// Σ (a[i] − b[i])² over n bytes; the matching spends most of its time here.
inline uint64_t rowSquaredDifference(const uint8_t* a, const uint8_t* b, int n) {
    int i = 0;
    uint64_t sum = 0;
#ifdef __SSE2__
    __m128i acc = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        acc = addSquaredDifference8(acc, va, vb);
        acc = addSquaredDifference8(acc, _mm_srli_si128(va, 8), _mm_srli_si128(vb, 8));
    }
    if (i + 8 <= n) {
        acc = addSquaredDifference8(acc, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + i)),
                                    _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + i)));
        i += 8;
    }
    uint32_t lanes[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), acc);
    sum = uint64_t(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
#endif
    for (; i < n; ++i) {
        const int d = int(a[i]) - int(b[i]);
        sum += uint64_t(d * d);
    }
    return sum;
}

/// Sums over the positions of n bytes where neither mask is set (0xFF: at or next to a sample the
/// brightening clipped to 255, which no longer follows the scene).
struct correlationSums {
    uint64_t count = 0, a = 0, b = 0, aa = 0, bb = 0, ab = 0;
};

inline void addUnclippedSums(const uint8_t* a, const uint8_t* maskA, const uint8_t* b, const uint8_t* maskB,
                             int n, correlationSums& s) {
    int i = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi8(1);
    __m128i sa = zero, sb = zero, saa = zero, sbb = zero, sab = zero, sn = zero;
    for (; i + 16 <= n; i += 16) {
        __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        const __m128i clipped = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(maskA + i)),
                                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(maskB + i)));
        va = _mm_andnot_si128(clipped, va);
        vb = _mm_andnot_si128(clipped, vb);
        sn = _mm_add_epi64(sn, _mm_sad_epu8(_mm_andnot_si128(clipped, one), zero));
        sa = _mm_add_epi64(sa, _mm_sad_epu8(va, zero));
        sb = _mm_add_epi64(sb, _mm_sad_epu8(vb, zero));
        const __m128i alo = _mm_unpacklo_epi8(va, zero), ahi = _mm_unpackhi_epi8(va, zero);
        const __m128i blo = _mm_unpacklo_epi8(vb, zero), bhi = _mm_unpackhi_epi8(vb, zero);
        saa = _mm_add_epi32(saa, _mm_add_epi32(_mm_madd_epi16(alo, alo), _mm_madd_epi16(ahi, ahi)));
        sbb = _mm_add_epi32(sbb, _mm_add_epi32(_mm_madd_epi16(blo, blo), _mm_madd_epi16(bhi, bhi)));
        sab = _mm_add_epi32(sab, _mm_add_epi32(_mm_madd_epi16(alo, blo), _mm_madd_epi16(ahi, bhi)));
    }
    uint64_t wide[2];
    uint32_t lanes[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(wide), sn);
    s.count += wide[0] + wide[1];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(wide), sa);
    s.a += wide[0] + wide[1];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(wide), sb);
    s.b += wide[0] + wide[1];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), saa);
    s.aa += uint64_t(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), sbb);
    s.bb += uint64_t(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), sab);
    s.ab += uint64_t(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
#endif
    for (; i < n; ++i) {
        const uint32_t x = a[i], y = b[i];
        if (maskA[i] | maskB[i]) continue;
        ++s.count;
        s.a += x;
        s.b += y;
        s.aa += x * x;
        s.bb += y * y;
        s.ab += x * y;
    }
}

/// 0xFF at every sample of a w × h plane (row stride `stride`) that is 255 or has a 255 neighbour
/// across or down, else 0. The neighbours count because a resampled picture blurs the edge of a
/// clipped area into values just below 255.
void markClipped(const uint8_t* plane, int w, int h, size_t stride, uint8_t* mask, size_t maskStride) {
    for (int y = 0; y < h; ++y) {
        const uint8_t* r = plane + size_t(y) * stride;
        const uint8_t* up = y > 0 ? r - stride : r;
        const uint8_t* down = y + 1 < h ? r + stride : r;
        uint8_t* m = mask + size_t(y) * maskStride;
        auto near = [&](int x) {
            return r[x] == 255 || up[x] == 255 || down[x] == 255 || (x > 0 && r[x - 1] == 255) ||
                   (x + 1 < w && r[x + 1] == 255);
        };
        int x = 0;
        if (w > 0) m[x] = near(x) ? 0xFF : 0;
        x = 1;
#ifdef __SSE2__
        const __m128i full = _mm_set1_epi8(char(0xFF));
        auto clipped = [&](const uint8_t* at) {
            return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), full);
        };
        for (; x + 17 <= w; x += 16) {
            const __m128i any = _mm_or_si128(
                _mm_or_si128(clipped(r + x), clipped(up + x)),
                _mm_or_si128(clipped(down + x), _mm_or_si128(clipped(r + x - 1), clipped(r + x + 1))));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(m + x), any);
        }
#endif
        for (; x < w; ++x)
            m[x] = near(x) ? 0xFF : 0;
    }
}

/// 2 × 2 reduction of an n × n block (stride `srcStride`) into ((n + 1) / 2)² samples: rounded means
/// of full blocks, the first sample of the partial blocks along the last row and column.
void reduceTile(const uint8_t* src, int srcStride, int n, uint8_t* dst, int dstStride) {
    const int m = (n + 1) / 2;
    for (int y = 0; y < m; ++y)
        for (int x = 0; x < m; ++x) {
            const uint8_t* s = src + size_t(2 * y) * srcStride + 2 * x;
            const bool full = 2 * x + 1 < n && 2 * y + 1 < n;
            dst[y * dstStride + x] =
                full ? uint8_t((s[0] + s[1] + s[srcStride] + s[srcStride + 1] + 2) >> 2) : s[0];
        }
}

/// A normalised match keeps its tile when the correlation is at least 0.5.
constexpr double kMaxCorrelationCost = 0.5;
/// ... and when its cost curves in both directions, the flatter at least this part of the steeper.
constexpr double kMinCurvatureRatio = 0.15;

struct extractTile_threadParams_t {
    const uint8_t* photo = nullptr;
    int width = 0, height = 0;
    const alignCorner* corners = nullptr;
    alignmentTile* tiles = nullptr;
    alignTransform guide;
    bool wholeShift = false; ///< the guide moves by whole pixels: tiles are plain copies
    int radius = 0;
    int64_t begin = 0, end = 0;
};

/// Positions along a tile row are fixed point with 32 fractional bits; the weights use 8 of them.
constexpr double kFixedOne = 4294967296.0;

/// One row of n tile samples from the plane, from position (x0, y0) in steps of (dx, dy), all
/// at least a pixel inside the plane: bilinear with weights in 1/256 steps.
void sampleRow(const uint8_t* plane, int w, double x0, double y0, double dx, double dy, int n, uint8_t* out) {
    int64_t X = int64_t(x0 * kFixedOne), Y = int64_t(y0 * kFixedOne);
    const int64_t DX = int64_t(dx * kFixedOne), DY = int64_t(dy * kFixedOne);
    constexpr int64_t half = int64_t(1) << 23; // rounds to the nearest 1/256
    for (int i = 0; i < n; ++i, X += DX, Y += DY) {
        const int64_t xr = X + half, yr = Y + half;
        // The tile and its margin lie inside the plane, so both neighbours exist.
        const int xi = int(xr >> 32), yi = int(yr >> 32), x1 = xi + 1, y1 = yi + 1;
        const uint32_t tx = uint32_t(xr >> 24) & 255, ty = uint32_t(yr >> 24) & 255;
        const uint8_t* r0 = plane + size_t(yi) * size_t(w);
        const uint8_t* r1 = plane + size_t(y1) * size_t(w);
        const uint32_t top = r0[xi] * (256 - tx) + r0[x1] * tx, bottom = r1[xi] * (256 - tx) + r1[x1] * tx;
        out[i] = uint8_t((top * (256 - ty) + bottom * ty + 32768) >> 16);
    }
}

void extractTile(extractTile_threadParams_t& p) {
    const int R = p.radius, n = 2 * R + 1, reach = R + kTileEdgeMargin;
    for (int64_t k = p.begin; k < p.end; ++k) {
        alignmentTile& t = p.tiles[k];
        t.usable = 0;
        t.copied = false;
        t.offsetX = t.offsetY = 0;
        const alignCorner c = p.corners[k];
        // The guide maps the square around the corner (tile and margin) to a convex quadrilateral:
        // it fits when its four corners do.
        bool fits = true;
        for (const int sy : {-1, 1})
            for (const int sx : {-1, 1}) {
                const alignPoint q = p.guide.map(c.x + sx * reach, c.y + sy * reach);
                fits = fits && q.x >= 0 && q.y >= 0 && q.x <= p.width - 1 && q.y <= p.height - 1;
            }
        if (!fits) continue;
        uint32_t sum = 0;
        if (p.wholeShift) {
            // The nearest whole pixel to where the guide puts the corner; the guide turns too little
            // for the tile's edges to lie elsewhere.
            const alignPoint centre = p.guide.map(c.x, c.y);
            const int cx = int(std::lround(centre.x)), cy = int(std::lround(centre.y));
            for (int y = 0; y < n; ++y) {
                const uint8_t* src = p.photo + size_t(cy - R + y) * size_t(p.width) + (cx - R);
                std::memcpy(t.patch + y * kTileStride, src, size_t(n));
            }
            t.copied = true;
            t.shiftX = cx - c.x;
            t.shiftY = cy - c.y;
        } else {
            // Each row is sampled along the straight line between its exactly mapped ends: over a
            // tile, a projective map departs from that line by far less than a hundredth of a pixel.
            for (int y = 0; y < n; ++y) {
                const alignPoint a = p.guide.map(c.x - R, c.y - R + y), b = p.guide.map(c.x + R, c.y - R + y);
                sampleRow(p.photo, p.width, a.x, a.y, (b.x - a.x) / (n - 1), (b.y - a.y) / (n - 1), n,
                          t.patch + y * kTileStride);
            }
        }
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                sum += t.patch[y * kTileStride + x];
        const double mean = double(sum) / double(n * n);
        if (!(mean > 10 && mean < 240)) continue; // too dark or too bright to show structure reliably
        reduceTile(t.patch, kTileStride, n, t.half, kTileHalfStride);
        reduceTile(t.half, kTileHalfStride, (n + 1) / 2, t.quarter, kTileQuarterStride);
        t.usable = 1;
    }
}

struct matchTile_threadParams_t {
    const pyramid* reference = nullptr;
    const alignCorner* corners = nullptr;
    alignmentTile* tiles = nullptr;
    int tileRadius = 0;
    int startLevel = 0, startRadius = 0;
    bool normalised = false;
    const uint8_t* referenceClipped = nullptr; ///< clippedMask of the reference's level 0
    int64_t begin = 0, end = 0;
    bool cancelled = false;
};

/// Samples of the tile (radius ρ at `level`) over the reference window centred on (qx, qy), limited
/// to the rows and columns inside the reference level.
struct window {
    int i0, i1, j0, j1; ///< tile columns [i0, i1), rows [j0, j1)
    int count() const { return (i1 - i0) * (j1 - j0); }
};

inline window windowAt(int qx, int qy, int rho, int w, int h) {
    const int n = 2 * rho + 1;
    window win{std::max(0, rho - qx), std::min(n, w - qx + rho), std::max(0, rho - qy),
               std::min(n, h - qy + rho)};
    if (win.i1 < win.i0) win.i1 = win.i0;
    if (win.j1 < win.j0) win.j1 = win.j0;
    return win;
}

/// Mean squared difference of the tile's level version against the reference level around (qx, qy);
/// infinite when they do not overlap.
double meanSquaredDifference(const alignmentTile& t, const pyramid& ref, int level, int rho, int qx, int qy) {
    const int w = ref.width(level), h = ref.height(level);
    const window win = windowAt(qx, qy, rho, w, h);
    if (win.count() <= 0) return std::numeric_limits<double>::infinity();
    const uint8_t* plane = ref.data<uint8_t>(level);
    const uint8_t* tile = t.levelData(level);
    const int stride = alignmentTile::levelStride(level);
    uint64_t ssd = 0;
    for (int j = win.j0; j < win.j1; ++j)
        ssd += rowSquaredDifference(tile + j * stride + win.i0,
                                    plane + size_t(qy - rho + j) * size_t(w) + (qx - rho + win.i0),
                                    win.i1 - win.i0);
    return double(ssd) / double(win.count());
}

/// 1 − the normalised cross-correlation of the tile's level-0 samples with the reference around
/// (qx, qy), over the samples neither side has clipped: blind to a difference of brightness and
/// contrast between the two pictures. Infinite when either side is flat or they do not overlap.
double correlationCost(const alignmentTile& t, const uint8_t* tileClipped, const pyramid& ref,
                       const uint8_t* refClipped, int rho, int qx, int qy) {
    const int w = ref.width(0), h = ref.height(0);
    const window win = windowAt(qx, qy, rho, w, h);
    if (win.count() <= 0) return std::numeric_limits<double>::infinity();
    correlationSums sums;
    for (int j = win.j0; j < win.j1; ++j) {
        const size_t tileAt = size_t(j) * kTileStride + win.i0;
        const size_t refAt = size_t(qy - rho + j) * size_t(w) + (qx - rho + win.i0);
        addUnclippedSums(t.patch + tileAt, tileClipped + tileAt, ref.data<uint8_t>(0) + refAt,
                         refClipped + refAt, win.i1 - win.i0, sums);
    }
    const double n = double(sums.count);
    const double va = n * double(sums.aa) - double(sums.a) * double(sums.a);
    const double vb = n * double(sums.bb) - double(sums.b) * double(sums.b);
    if (!(va > 0 && vb > 0) || sums.count < uint64_t(win.count()) / 4)
        return std::numeric_limits<double>::infinity();
    return 1.0 - (n * double(sums.ab) - double(sums.a) * double(sums.b)) / std::sqrt(va * vb);
}

/// Median of a 256-bin histogram over `count` samples: the first value where the running count
/// exceeds half of them.
int histogramMedian(const uint32_t* histogram, int count) {
    uint32_t running = 0;
    for (int v = 0; v < 256; ++v) {
        running += histogram[v];
        if (2 * running > uint32_t(count)) return v;
    }
    return 255;
}

/// Vertex of the parabola through the costs at −1, 0 and +1 (0 when they do not curve upwards),
/// kept within half a pixel.
inline double parabolaVertex(double minus, double centre, double plus) {
    const double curvature = minus - 2 * centre + plus;
    if (!(curvature > 0) || !std::isfinite(curvature)) return 0;
    return std::clamp((minus - plus) / (2 * curvature), -0.5, 0.5);
}

void matchTile(matchTile_threadParams_t& p) {
    const pyramid& ref = *p.reference;
    for (int64_t k = p.begin; k < p.end; ++k) {
        alignmentTile& t = p.tiles[k];
        if (!t.usable) continue;
        if ((k & 15) == 0 && cancelRequested()) {
            p.cancelled = true;
            return;
        }
        // Which tile samples are at or next to clipped ones, for the correlation.
        uint8_t tileClipped[kTileStride * kTileStride];
        if (p.normalised)
            markClipped(t.patch, 2 * p.tileRadius + 1, 2 * p.tileRadius + 1, kTileStride, tileClipped,
                        kTileStride);
        const alignCorner c = p.corners[k];
        alignOffset centre;
        double best = 0;
        for (int level = p.startLevel; level >= 0 && std::isfinite(best); --level) {
            const int rho = p.tileRadius >> level, radius = level == p.startLevel ? p.startRadius : 2;
            if (level != p.startLevel) centre = {centre.x * 2, centre.y * 2};
            best = std::numeric_limits<double>::infinity();
            alignOffset winner = centre;
            for (int oy = -radius; oy <= radius; ++oy)
                for (int ox = -radius; ox <= radius; ++ox) {
                    const int qx = (c.x >> level) + centre.x + ox, qy = (c.y >> level) + centre.y + oy;
                    const double cost =
                        p.normalised && level == 0
                            ? correlationCost(t, tileClipped, ref, p.referenceClipped, rho, qx, qy)
                            : meanSquaredDifference(t, ref, level, rho, qx, qy);
                    if (cost < best) {
                        best = cost;
                        winner = {centre.x + ox, centre.y + oy};
                    }
                }
            centre = winner;
        }
        if (!std::isfinite(best)) {
            t.usable = 0;
            continue;
        }
        const int rho = p.tileRadius, w = ref.width(0), h = ref.height(0);
        const int qx = c.x + centre.x, qy = c.y + centre.y;
        if (p.normalised) {
            // Tiles that correlate this poorly show something else in the two pictures.
            if (!(best < kMaxCorrelationCost)) {
                t.usable = 0;
                continue;
            }
            const double left = correlationCost(t, tileClipped, ref, p.referenceClipped, rho, qx - 1, qy),
                         right = correlationCost(t, tileClipped, ref, p.referenceClipped, rho, qx + 1, qy);
            const double up = correlationCost(t, tileClipped, ref, p.referenceClipped, rho, qx, qy - 1),
                         down = correlationCost(t, tileClipped, ref, p.referenceClipped, rho, qx, qy + 1);
            // A tile showing one straight edge fixes the position across it only: along it the cost
            // hardly curves, and the vertex there is noise.
            const double acrossX = left - 2 * best + right, acrossY = up - 2 * best + down;
            if (!(std::min(acrossX, acrossY) > kMinCurvatureRatio * std::max(acrossX, acrossY))) {
                t.usable = 0;
                continue;
            }
            t.offsetX = centre.x + parabolaVertex(left, best, right);
            t.offsetY = centre.y + parabolaVertex(up, best, down);
            continue;
        }
        // A match whose differences are far larger than the difference of the two patches' middle
        // greys did not find the same structure.
        const window win = windowAt(qx, qy, rho, w, h);
        uint32_t tileHist[256] = {}, refHist[256] = {};
        uint64_t absolute = 0;
        for (int j = win.j0; j < win.j1; ++j) {
            const uint8_t* a = t.patch + j * kTileStride;
            const uint8_t* b = ref.data<uint8_t>(0) + size_t(qy - rho + j) * size_t(w) + (qx - rho);
            for (int i = win.i0; i < win.i1; ++i) {
                absolute += uint64_t(std::abs(int(a[i]) - int(b[i])));
                ++refHist[b[i]];
            }
        }
        const int n = 2 * rho + 1;
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i)
                ++tileHist[t.patch[j * kTileStride + i]];
        const double meanAbsolute = double(absolute) / double(win.count());
        const int medianDifference = histogramMedian(tileHist, n * n) - histogramMedian(refHist, win.count());
        if (std::abs(medianDifference) + 20 < meanAbsolute) {
            t.usable = 0;
            continue;
        }
        // The cost around the winner is close to a parabola: its vertex places the match to a
        // fraction of a pixel.
        t.offsetX = centre.x + parabolaVertex(meanSquaredDifference(t, ref, 0, rho, qx - 1, qy), best,
                                              meanSquaredDifference(t, ref, 0, rho, qx + 1, qy));
        t.offsetY = centre.y + parabolaVertex(meanSquaredDifference(t, ref, 0, rho, qx, qy - 1), best,
                                              meanSquaredDifference(t, ref, 0, rho, qx, qy + 1));
    }
}

} // namespace

void extractTiles(const pyramid& photo, const std::vector<alignCorner>& corners, const alignTransform& guide,
                  const alignSizes& sizes, bool copyTiles, std::vector<alignmentTile>& tiles) {
    tiles.resize(corners.size());
    const double* a = guide.a;
    const double reach = std::min(sizes.tileRadius, (kTileStride - 1) / 2);
    const bool wholeShift =
        copyTiles && a[6] == 0 && a[7] == 0 &&
        (std::fabs(a[0] - 1) + std::fabs(a[1]) + std::fabs(a[3]) + std::fabs(a[4] - 1)) * reach < 0.5;
    parallelRecords<extractTile_threadParams_t>(
        int64_t(corners.size()),
        [&](int, int64_t begin, int64_t end) {
            extractTile_threadParams_t p;
            p.photo = photo.data<uint8_t>(0);
            p.width = photo.width(0);
            p.height = photo.height(0);
            p.corners = corners.data();
            p.tiles = tiles.data();
            p.guide = guide;
            p.wholeShift = wholeShift;
            p.radius = std::min(sizes.tileRadius, (kTileStride - 1) / 2);
            p.begin = begin;
            p.end = end;
            return p;
        },
        [](extractTile_threadParams_t& p) { extractTile(p); });
}

std::vector<uint8_t> clippedMask(const pyramid& grey) {
    const int w = grey.width(0), h = grey.height(0);
    std::vector<uint8_t> mask(size_t(w) * size_t(h));
    const uint8_t* plane = grey.data<uint8_t>(0);
    parallelFor(h, [&](int, int64_t begin, int64_t end) {
        // Rows [begin, end) with their neighbours above and below, whichever part they belong to.
        const int64_t first = std::max<int64_t>(0, begin - 1), last = std::min<int64_t>(h, end + 1);
        std::vector<uint8_t> band(size_t(last - first) * size_t(w));
        markClipped(plane + size_t(first) * size_t(w), w, int(last - first), size_t(w), band.data(),
                    size_t(w));
        std::copy(band.begin() + (begin - first) * w, band.begin() + (end - first) * w,
                  mask.begin() + begin * w);
    });
    return mask;
}

bool matchTiles(const pyramid& reference, const std::vector<alignCorner>& corners,
                const alignTransform& guide, const alignSizes& sizes, int startLevel, int startRadius,
                const std::vector<uint8_t>* referenceClipped, std::vector<alignmentTile>& tiles,
                std::vector<alignMatch>& matches) {
    const int count = int(std::min(corners.size(), tiles.size()));
    const bool normalised = referenceClipped && referenceClipped->size() ==
                                                    size_t(reference.width(0)) * size_t(reference.height(0));
    const auto parts = parallelRecords<matchTile_threadParams_t>(
        count,
        [&](int, int64_t begin, int64_t end) {
            matchTile_threadParams_t p;
            p.reference = &reference;
            p.corners = corners.data();
            p.tiles = tiles.data();
            p.tileRadius = std::min(sizes.tileRadius, (kTileStride - 1) / 2);
            p.startLevel = std::clamp(std::min(startLevel, reference.levelCount() - 1), 0, 2);
            p.startRadius = std::max(0, startRadius);
            p.normalised = normalised;
            p.referenceClipped = normalised ? referenceClipped->data() : nullptr;
            p.begin = begin;
            p.end = end;
            return p;
        },
        [](matchTile_threadParams_t& p) { matchTile(p); });
    if (std::any_of(parts.begin(), parts.end(),
                    [](const matchTile_threadParams_t& p) { return p.cancelled; }))
        return false;
    matches.assign(size_t(count), alignMatch{});
    for (int k = 0; k < count; ++k) {
        const alignmentTile& t = tiles[size_t(k)];
        alignMatch& m = matches[size_t(k)];
        m.usable = t.usable != 0;
        if (!m.usable) continue;
        const alignPoint q =
            t.copied ? alignPoint{corners[size_t(k)].x + t.shiftX - t.offsetX,
                                  corners[size_t(k)].y + t.shiftY - t.offsetY}
                     : guide.map(corners[size_t(k)].x - t.offsetX, corners[size_t(k)].y - t.offsetY);
        if (!std::isfinite(q.x) || !std::isfinite(q.y)) {
            m.usable = false;
            continue;
        }
        m.x = q.x;
        m.y = q.y;
        m.dx = int32_t(std::lround(corners[size_t(k)].x - q.x));
        m.dy = int32_t(std::lround(corners[size_t(k)].y - q.y));
    }
    return true;
}

} // namespace halvora
