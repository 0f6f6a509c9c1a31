#include "align/coarseShift.h"

#include "base/debugLog.h"
#include "base/parallelFor.h"

#include <algorithm>
#include <cmath>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace halvora {
namespace {

/// Photo samples above this where the reference is below it are clipped in the photo only: they say
/// nothing about the shift.
constexpr int kClipped = 245;

/// Σ (a − b)² over n bytes, leaving out positions where a > 245 and b < 245; `count` gets the
/// positions counted.
inline uint64_t maskedSquaredDifference(const uint8_t* a, const uint8_t* b, int n, uint64_t& count) {
    int i = 0;
    uint64_t sum = 0;
    count = uint64_t(n);
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128(), flip = _mm_set1_epi8(char(0x80));
    const __m128i limit = _mm_set1_epi8(char(kClipped ^ 0x80)); // unsigned compare through the sign bit
    const __m128i one = _mm_set1_epi8(1);
    __m128i acc = zero, skipped = zero;
    for (; i + 16 <= n; i += 16) {
        __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        const __m128i skip = _mm_and_si128(_mm_cmpgt_epi8(_mm_xor_si128(va, flip), limit),
                                           _mm_cmplt_epi8(_mm_xor_si128(vb, flip), limit));
        va = _mm_or_si128(_mm_andnot_si128(skip, va), _mm_and_si128(skip, vb)); // skipped: no difference
        skipped = _mm_add_epi64(skipped, _mm_sad_epu8(_mm_and_si128(skip, one), zero));
        const __m128i lo = _mm_sub_epi16(_mm_unpacklo_epi8(va, zero), _mm_unpacklo_epi8(vb, zero));
        const __m128i hi = _mm_sub_epi16(_mm_unpackhi_epi8(va, zero), _mm_unpackhi_epi8(vb, zero));
        acc = _mm_add_epi32(acc, _mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi)));
    }
    uint32_t lanes[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), acc);
    sum = uint64_t(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
    uint64_t wide[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(wide), skipped);
    count -= wide[0] + wide[1];
#endif
    for (; i < n; ++i) {
        const int x = a[i], y = b[i];
        if (x > kClipped && y < kClipped) {
            --count;
            continue;
        }
        sum += uint64_t((x - y) * (x - y));
    }
    return sum;
}

/// One search: reference pixels of `area` (level coordinates, right and bottom exclusive) against
/// the photo moved by every candidate within `radius` of `centre`; pixels closer than `margin` to an
/// edge (in either picture) are left out.
struct shiftSearch {
    const uint8_t* reference = nullptr;
    const uint8_t* photo = nullptr;
    int width = 0, height = 0;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    int margin = 0;
    alignOffset centre;
    int radius = 0;
};

struct shiftCost_threadParams_t {
    const shiftSearch* search = nullptr;
    int64_t rowBegin = 0, rowEnd = 0;
    std::vector<uint64_t> sums, counts; ///< one per candidate, row-major over (dy, dx)
};

void shiftCost(shiftCost_threadParams_t& p) {
    const shiftSearch& s = *p.search;
    const int side = 2 * s.radius + 1, m = s.margin, w = s.width, h = s.height;
    p.sums.assign(size_t(side) * side, 0);
    p.counts.assign(size_t(side) * side, 0);
    for (int64_t y = p.rowBegin; y < p.rowEnd; ++y) {
        const uint8_t* r = s.reference + size_t(y) * size_t(w);
        for (int j = 0; j < side; ++j) {
            const int sy = s.centre.y + j - s.radius;
            if (y < m || y >= h - m || y + sy < m || y + sy >= h - m) continue;
            const uint8_t* q = s.photo + size_t(y + sy) * size_t(w);
            for (int i = 0; i < side; ++i) {
                const int sx = s.centre.x + i - s.radius;
                const int x0 = std::max({s.x0, m, m - sx}), x1 = std::min({s.x1, w - m, w - m - sx});
                if (x1 <= x0) continue;
                uint64_t count = 0;
                p.sums[size_t(j) * side + i] += maskedSquaredDifference(q + x0 + sx, r + x0, x1 - x0, count);
                p.counts[size_t(j) * side + i] += count;
            }
        }
    }
}

/// The candidate with the smallest cost (sum ÷ (1 + count); the first on ties, starting from 10⁹),
/// or false when no candidate overlaps the area at all.
bool bestShift(const shiftSearch& search, alignOffset& best) {
    const auto parts = parallelRecords<shiftCost_threadParams_t>(
        search.y1 - search.y0,
        [&](int, int64_t begin, int64_t end) {
            shiftCost_threadParams_t p;
            p.search = &search;
            p.rowBegin = search.y0 + begin;
            p.rowEnd = search.y0 + end;
            return p;
        },
        [](shiftCost_threadParams_t& p) { shiftCost(p); });
    const int side = 2 * search.radius + 1;
    double lowest = 1e9;
    bool found = false;
    for (int j = 0; j < side; ++j)
        for (int i = 0; i < side; ++i) {
            uint64_t sum = 0, count = 0;
            for (const auto& p : parts) {
                sum += p.sums[size_t(j) * side + i];
                count += p.counts[size_t(j) * side + i];
            }
            if (count == 0) continue; // no overlap: nothing to judge the candidate by
            const double cost = double(sum) / double(1 + count);
            if (cost < lowest) {
                lowest = cost;
                best = {search.centre.x + i - search.radius, search.centre.y + j - search.radius};
                found = true;
            }
        }
    return found;
}

shiftSearch wholeLevel(const pyramid& reference, const pyramid& photo, int level) {
    shiftSearch s;
    s.reference = reference.data<uint8_t>(level);
    s.photo = photo.data<uint8_t>(level);
    s.width = reference.width(level);
    s.height = reference.height(level);
    s.x1 = s.width;
    s.y1 = s.height;
    return s;
}

bool sameLevel(const pyramid& a, const pyramid& b, int level) {
    return a.width(level) == b.width(level) && a.height(level) == b.height(level) && a.width(level) > 0 &&
           a.height(level) > 0;
}

/// Least-squares affine map through the pairs (from[k] → to[k]) of `use`; false when singular.
bool fitAffine(const std::vector<alignPoint>& from, const std::vector<alignPoint>& to,
               const std::vector<bool>& use, alignTransform& out) {
    // Normal equations of X = a0 x + a1 y + a2 (and the same for Y), around the centroid.
    double cx = 0, cy = 0;
    int n = 0;
    for (size_t k = 0; k < from.size(); ++k)
        if (use[k]) {
            cx += from[k].x;
            cy += from[k].y;
            ++n;
        }
    if (n < 3) return false;
    cx /= n;
    cy /= n;
    double sxx = 0, sxy = 0, syy = 0, tx = 0, ty = 0, bx[2] = {0, 0}, by[2] = {0, 0};
    for (size_t k = 0; k < from.size(); ++k)
        if (use[k]) {
            const double x = from[k].x - cx, y = from[k].y - cy;
            sxx += x * x;
            sxy += x * y;
            syy += y * y;
            tx += to[k].x;
            ty += to[k].y;
            bx[0] += x * to[k].x;
            bx[1] += y * to[k].x;
            by[0] += x * to[k].y;
            by[1] += y * to[k].y;
        }
    const double det = sxx * syy - sxy * sxy;
    if (!(det > 1e-9 * (sxx * syy)) || !(sxx > 0) || !(syy > 0)) return false;
    const double a0 = (bx[0] * syy - bx[1] * sxy) / det, a1 = (bx[1] * sxx - bx[0] * sxy) / det;
    const double a3 = (by[0] * syy - by[1] * sxy) / det, a4 = (by[1] * sxx - by[0] * sxy) / det;
    out = alignTransform::identity();
    out.a[0] = a0;
    out.a[1] = a1;
    out.a[2] = tx / n - a0 * cx - a1 * cy;
    out.a[3] = a3;
    out.a[4] = a4;
    out.a[5] = ty / n - a3 * cx - a4 * cy;
    return true;
}

} // namespace

int coarseSearchRadius(int width, int height) {
    return std::max(8, std::min(width, height) / 4);
}

alignOffset coarseShift(const pyramid& reference, const pyramid& photo, int photoIndex) {
    const int top = std::min(reference.levelCount(), photo.levelCount()) - 1;
    const int finest = top >= 1 ? 1 : 0;
    alignOffset estimate;
    for (int level = top; level >= finest && top >= 0; --level) {
        if (!sameLevel(reference, photo, level)) break;
        shiftSearch s = wholeLevel(reference, photo, level);
        s.radius = level == top ? coarseSearchRadius(s.width, s.height) : kFineSearchRadius;
        s.margin = std::min(s.radius, 8);
        s.centre = level == top ? alignOffset{} : alignOffset{estimate.x * 2, estimate.y * 2};
        estimate = s.centre;
        bestShift(s, estimate);
    }
    const alignOffset result{-estimate.x * (1 << finest), -estimate.y * (1 << finest)};
    debugLog("%d: ox=%d, oy=%d\n", photoIndex, result.x, result.y);
    return result;
}

alignTransform coarseGuide(const pyramid& reference, const pyramid& photo, alignOffset shift) {
    alignTransform fallback;
    fallback.a[2] = -shift.x;
    fallback.a[5] = -shift.y;
    const int levels = std::min(reference.levelCount(), photo.levelCount());
    int start = 0;
    for (int k = levels - 1; k >= 0; --k)
        if (std::min(reference.width(k), reference.height(k)) >= 96) {
            start = k;
            break;
        }
    const int end = std::min(start, 1);
    constexpr int kGrid = 3, kRegionRadius = 6;

    std::vector<alignPoint> centres, moved;
    for (int gy = 0; gy < kGrid; ++gy)
        for (int gx = 0; gx < kGrid; ++gx) {
            // The shift of the region on the start level, rounded from the whole-picture shift.
            const int scale = 1 << start;
            alignOffset estimate{int(std::lround(-double(shift.x) / scale)),
                                 int(std::lround(-double(shift.y) / scale))};
            bool found = true;
            shiftSearch s;
            for (int level = start; level >= end && found; --level) {
                if (!sameLevel(reference, photo, level)) {
                    found = false;
                    break;
                }
                s = wholeLevel(reference, photo, level);
                s.x0 = gx * s.width / kGrid;
                s.x1 = (gx + 1) * s.width / kGrid;
                s.y0 = gy * s.height / kGrid;
                s.y1 = (gy + 1) * s.height / kGrid;
                s.radius = level == start ? kRegionRadius : kFineSearchRadius;
                s.margin = 1;
                s.centre = level == start ? estimate : alignOffset{estimate.x * 2, estimate.y * 2};
                found = bestShift(s, estimate);
            }
            if (!found) continue;
            // Level-k pixel x is centred on full-size position 2^k (x + ½) − ½.
            const double k = double(1 << end);
            const alignPoint centre{k * ((s.x0 + s.x1) / 2.0) - 0.5, k * ((s.y0 + s.y1) / 2.0) - 0.5};
            centres.push_back(centre);
            moved.push_back({centre.x + k * estimate.x, centre.y + k * estimate.y});
        }

    // Leave out the region that agrees least until all agree within a few pixels.
    const double tolerance = 2.0 * (1 << end) + 2.0;
    std::vector<bool> use(centres.size(), true);
    alignTransform guide;
    for (;;) {
        const int used = int(std::count(use.begin(), use.end(), true));
        if (used < 4 || !fitAffine(centres, moved, use, guide)) return fallback;
        double worst = 0;
        size_t worstIndex = 0;
        for (size_t k = 0; k < centres.size(); ++k)
            if (use[k]) {
                const alignPoint q = guide.map(centres[k].x, centres[k].y);
                const double e = std::hypot(q.x - moved[k].x, q.y - moved[k].y);
                if (e > worst) {
                    worst = e;
                    worstIndex = k;
                }
            }
        if (worst <= tolerance) break;
        use[worstIndex] = false;
    }
    // A hand-held camera turns by a few degrees at most and hardly changes scale.
    const double* a = guide.a;
    if (std::fabs(a[0] - 1) > 0.1 || std::fabs(a[4] - 1) > 0.1 || std::fabs(a[1]) > 0.15 ||
        std::fabs(a[3]) > 0.15)
        return fallback;
    return guide;
}

} // namespace halvora
