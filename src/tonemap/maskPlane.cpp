#include "tonemap/maskPlane.h"

#include "base/debugLog.h"
#include "base/parallelFor.h"
#include "base/rgbBuffers.h"
#include "base/runContext.h"
#include "tonemap/fastPow.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

// The tap loop is the mask's whole cost; with GCC it gets an AVX2 clone (picked at run time) and the
// full vectoriser (measured: 2.9 → 1.2 CPU seconds for a 12-megapixel picture).
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define HALVORA_VECTORIZE __attribute__((target_clones("avx2", "default"), optimize("O3")))
#else
#define HALVORA_VECTORIZE
#endif

namespace halvora {

namespace {

constexpr int kSpatialEntries = 64;
// Pixels filtered together: their running sums (2 × 8 bytes each) and the rows of samples they read
// stay in the first-level cache while all taps are added.
// The range weight of a pair of pixels is the same seen from either end, so each pair's weight is
// looked up once and kept for both: in the row pass for a chunk of pixels, in the column pass for the
// last radius + 1 rows of a chunk of columns (radius × radius × chunk weights, kept in the second-level
// cache).
constexpr int kColumnChunk = 64; // columns of the column pass
constexpr int kRowChunk = 256;   // pixels of one row in the row pass

inline int clampSample(int v) {
    return std::min(v, kFullScale);
}

// The weighted mean is formed from the differences to the centre, so a flat area keeps its value
// exactly (Σw·n / Σw can round below n).
inline uint16_t blendResult(double c, double sumW, double sumWD, double blend) {
    const double result = std::clamp(c + sumWD / sumW, 0.0, double(kFullScale));
    return uint16_t(int((1.0 - blend) * c + blend * result));
}

// Adds the taps of one offset to n pixels: sample[i] is the neighbour of the pixel whose centre value
// is centre[i]. Kept free of branches so it vectorises (with gathers where the CPU has them).
HALVORA_VECTORIZE void accumulateTaps(const uint16_t* __restrict sample, const int* __restrict centre, int n,
                                      double g, const double* __restrict rangeByDifference,
                                      double* __restrict sumW, double* __restrict sumWD) {
    for (int i = 0; i < n; ++i) {
        const int d = std::min<int>(sample[i], kFullScale) - centre[i];
        const double weight = g * rangeByDifference[d < 0 ? -d : d];
        sumW[i] += weight;
        sumWD[i] += weight * d;
    }
}

// Range weights of n pairs, g × range(|a[i] − b[i]|) with both samples clipped to full scale: the
// weight accumulateTaps forms for the same pair, from either end.
HALVORA_VECTORIZE void pairWeights(const uint16_t* __restrict a, const uint16_t* __restrict b, int n,
                                   double g, const double* __restrict rangeByDifference,
                                   double* __restrict weight) {
    for (int i = 0; i < n; ++i) {
        const int d = std::min<int>(a[i], kFullScale) - std::min<int>(b[i], kFullScale);
        weight[i] = g * rangeByDifference[d < 0 ? -d : d];
    }
}

// accumulateTaps with the weights already known.
HALVORA_VECTORIZE void accumulateWeighted(const uint16_t* __restrict sample, const int* __restrict centre,
                                          int n, const double* __restrict weight, double* __restrict sumW,
                                          double* __restrict sumWD) {
    for (int i = 0; i < n; ++i) {
        const int d = std::min<int>(sample[i], kFullScale) - centre[i];
        sumW[i] += weight[i];
        sumWD[i] += weight[i] * d;
    }
}

// One pixel with its taps clipped to [lo, hi] (the picture's border), in the order −radius … +radius.
uint16_t filterPixel(const bilateralPass_threadParams_t& p, const uint16_t* centrePtr, ptrdiff_t stride,
                     int lo, int hi) {
    const int c = clampSample(*centrePtr);
    double sumW = 0.0, sumWD = 0.0;
    for (int o = lo; o <= hi; ++o) {
        const int d = clampSample(centrePtr[o * stride]) - c;
        const double weight = p.spatial[o < 0 ? -o : o] * p.rangeByDifference[d < 0 ? -d : d];
        sumW += weight;
        sumWD += weight * d;
    }
    return blendResult(c, sumW, sumWD, p.blend);
}

void rowPass(const bilateralPass_threadParams_t& p) {
    const int w = p.width, r = p.radius;
    // Pixels whose taps all lie inside the row are filtered offset by offset, the rest one by one.
    const int inFirst = std::min(r, w), inEnd = std::max(inFirst, w - r);
    int centre[kRowChunk];
    double sumW[kRowChunk], sumWD[kRowChunk];
    // pairs[(o − 1) × stride + r + i]: weight of the pair (x0 + i, x0 + i + o), i = −r … chunk − 1.
    const size_t stride = size_t(kRowChunk + r);
    std::vector<double> pairs(size_t(r) * stride);
    for (int y = p.first; y < p.end; ++y) {
        const uint16_t* src = p.source + size_t(y) * size_t(w);
        uint16_t* dst = p.target + size_t(y) * size_t(w);
        for (int x = 0; x < inFirst; ++x)
            dst[x] = filterPixel(p, src + x, 1, std::max(-r, -x), std::min(r, w - 1 - x));
        for (int x = inEnd; x < w; ++x)
            dst[x] = filterPixel(p, src + x, 1, std::max(-r, -x), std::min(r, w - 1 - x));
        for (int x0 = inFirst; x0 < inEnd; x0 += kRowChunk) {
            const int n = std::min(kRowChunk, inEnd - x0);
            for (int i = 0; i < n; ++i) {
                centre[i] = clampSample(src[x0 + i]);
                sumW[i] = sumWD[i] = 0.0;
            }
            for (int o = 1; o <= r; ++o)
                pairWeights(src + x0 - r + o, src + x0 - r, n + r, p.spatial[o], p.rangeByDifference,
                            pairs.data() + size_t(o - 1) * stride);
            // Taps in the order −radius … +radius: the pair (x0 + i + o, x0 + i) for o < 0.
            for (int o = -r; o < 0; ++o)
                accumulateWeighted(src + x0 + o, centre, n,
                                   pairs.data() + size_t(-o - 1) * stride + size_t(r + o), sumW, sumWD);
            accumulateTaps(src + x0, centre, n, p.spatial[0], p.rangeByDifference, sumW, sumWD);
            for (int o = 1; o <= r; ++o)
                accumulateWeighted(src + x0 + o, centre, n, pairs.data() + size_t(o - 1) * stride + size_t(r),
                                   sumW, sumWD);
            for (int i = 0; i < n; ++i)
                dst[x0 + i] = blendResult(centre[i], sumW[i], sumWD[i], p.blend);
        }
        addProgress(1);
        if (halvora::cancelRequested()) return;
    }
}

// Columns are filtered a chunk at a time, row by row, so reads stay contiguous; each pixel still
// sums its taps in the order −radius … +radius. Row y looks up the weights of its pairs with the rows
// below it and keeps them for those rows.
void columnPass(const bilateralPass_threadParams_t& p) {
    const int w = p.width, h = p.height, r = p.radius;
    double sumW[kColumnChunk], sumWD[kColumnChunk];
    int centre[kColumnChunk];
    // pairs[((y mod (r + 1)) × r + o − 1) × chunk + i]: weight of the pair (y, y + o) in column x0 + i.
    std::vector<double> pairs(size_t(r + 1) * size_t(r) * kColumnChunk);
    auto pairsOf = [&](int y, int o) {
        return pairs.data() + (size_t(y % (r + 1)) * size_t(r) + size_t(o - 1)) * kColumnChunk;
    };
    for (int x0 = p.first; x0 < p.end; x0 += kColumnChunk) {
        const int n = std::min(kColumnChunk, p.end - x0);
        for (int y = 0; y < h; ++y) {
            const uint16_t* mid = p.source + size_t(y) * size_t(w) + size_t(x0);
            for (int i = 0; i < n; ++i) {
                centre[i] = clampSample(mid[i]);
                sumW[i] = sumWD[i] = 0.0;
            }
            const int lo = std::max(-r, -y), hi = std::min(r, h - 1 - y);
            for (int o = 1; o <= hi; ++o)
                pairWeights(mid + size_t(o) * size_t(w), mid, n, p.spatial[o], p.rangeByDifference,
                            pairsOf(y, o));
            for (int o = lo; o < 0; ++o)
                accumulateWeighted(mid - ptrdiff_t(-o) * ptrdiff_t(w), centre, n, pairsOf(y + o, -o), sumW,
                                   sumWD);
            accumulateTaps(mid, centre, n, p.spatial[0], p.rangeByDifference, sumW, sumWD);
            for (int o = 1; o <= hi; ++o)
                accumulateWeighted(mid + size_t(o) * size_t(w), centre, n, pairsOf(y, o), sumW, sumWD);
            uint16_t* dst = p.target + size_t(y) * size_t(w) + size_t(x0);
            for (int i = 0; i < n; ++i)
                dst[i] = blendResult(centre[i], sumW[i], sumWD[i], p.blend);
        }
        addProgress(uint64_t(n));
        if (halvora::cancelRequested()) return;
    }
}

} // namespace

void powHdrLum(const powHdrLum_threadParams_t& p) {
    for (int64_t i = p.firstPixel; i < p.endPixel; ++i) {
        const double l = 0.3086 * p.hdr[3 * i] + 0.6094 * p.hdr[3 * i + 1] + 0.082 * p.hdr[3 * i + 2];
        int v = 0;
        if (l >= 1.0) // also +Inf
            v = kFullScale;
        else if (l > 0.0) // NaN and negative luminance stay 0
            v = fastPow::scaledPowFloor(l, p.exponent, kFullScale);
        p.target[i] = uint16_t(v);
    }
}

void bilateralMaskTables(bilateralTables_t& t) {
    t.spatial.assign(kSpatialEntries, 0.0);
    double sum = 0.0;
    for (int j = 0; j < kSpatialEntries; ++j) {
        t.spatial[size_t(j)] = std::exp(-double(j * j) / 200.0);
        sum += t.spatial[size_t(j)];
    }
    t.radius = kSpatialEntries;
    for (int j = 0; j < kSpatialEntries; ++j) {
        t.spatial[size_t(j)] /= sum;
        if (t.radius == kSpatialEntries && t.spatial[size_t(j)] < 0.005) t.radius = j;
    }
    // The pass reads spatial[|o|] for |o| ≤ radius.
    t.radius = std::min(t.radius, kSpatialEntries - 1);
    t.range.assign(size_t(kFullScale) + 1, 0.0);
    for (int i = 0; i <= kFullScale; ++i)
        t.range[size_t(i)] = std::exp(-double(i) / double(kFullScale) / 0.08);
    t.rangeByDifference.assign(size_t(kFullScale) + 1, 0.0);
    for (int d = 0; d <= kFullScale; ++d)
        t.rangeByDifference[size_t(d)] = t.range[size_t(d * d / kFullScale)];
}

bool bilateralPass(const bilateralPass_threadParams_t& p) {
    if (p.direction == 0)
        rowPass(p);
    else
        columnPass(p);
    return !halvora::cancelRequested();
}

bool computeMaskPlane(const float* hdr, int width, int height, uint16_t* mask, uint16_t* scratch) {
    if (!hdr || !mask || !scratch || width <= 0 || height <= 0) return false;
    const int64_t pixels = int64_t(width) * int64_t(height);
    parallelFor(pixels, [&](int, int64_t begin, int64_t end) {
        powHdrLum_threadParams_t p;
        p.firstPixel = begin;
        p.endPixel = end;
        p.hdr = hdr;
        p.target = mask;
        powHdrLum(p);
    });

    bilateralTables_t tables;
    bilateralMaskTables(tables);
    debugLog("p.tabSize=%d\n", tables.radius);

    auto pass = [&](int direction, const uint16_t* src, uint16_t* dst) {
        parallelFor(direction == 0 ? height : width, [&](int, int64_t first, int64_t end) {
            bilateralPass_threadParams_t p;
            p.direction = direction;
            p.source = src;
            p.target = dst;
            p.width = width;
            p.height = height;
            p.first = int(first);
            p.end = int(end);
            p.blend = 1.0;
            p.spatial = tables.spatial.data();
            p.radius = tables.radius;
            p.range = tables.range.data();
            p.rangeByDifference = tables.rangeByDifference.data();
            bilateralPass(p);
        });
        return !halvora::cancelRequested();
    };
    return !halvora::cancelRequested() && pass(0, mask, scratch) && pass(1, scratch, mask);
}

} // namespace halvora
