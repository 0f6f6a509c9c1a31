#include "hdr/hdrPreprocess.h"

#include "base/debugLog.h"
#include "base/parallelFor.h"
#include "base/rgbBuffers.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <vector>

namespace halvora {

namespace {

constexpr int kHistogramBins = 16384;

// The curves are tabulated over the bit patterns of floats in [0, 1]: the top 20 bits index the
// table and the low 12 bits interpolate linearly inside one binade, which keeps the relative error
// near 1e-8 down to the smallest radiances (a table over the value itself would flatten the shadows).
constexpr uint32_t kShift = 12;
constexpr uint32_t kOneBits = 0x3F800000u;
constexpr size_t kCurveEntries = (kOneBits >> kShift) + 2;

struct curveTable_threadParams_t {
    int method;
    float* table;
};

const std::vector<float>& curveTable(int method) {
    static const auto build = [](int m) {
        std::vector<float> table(kCurveEntries);
        curveTable_threadParams_t p{m, table.data()};
        parallelFor(int64_t(kCurveEntries), [&p](int, int64_t first, int64_t last) {
            for (int64_t i = first; i < last; ++i)
                p.table[i] =
                    float(preprocessCurve(p.method, double(std::bit_cast<float>(uint32_t(i) << kShift))));
        });
        return table;
    };
    static const std::vector<float> trueHdr = build(0);
    static const std::vector<float> smartMerge = build(1);
    return method == 0 ? trueHdr : smartMerge;
}

struct applyGammaHDR_threadParams_t {
    float* rgb;
    int64_t firstPixel, endPixel;
    float lo;
    float scale;
    const float* table; ///< null: no curve (Stack)
    std::vector<uint64_t> histogram;
};

inline float normalised(float v, float lo, float scale) {
    float t = (v - lo) * scale;
    if (!(t > 0.0f)) // also NaN
        t = 0.0f;
    return t > 1.0f ? 1.0f : t;
}

inline float curved(float t, const float* table) {
    const uint32_t bits = std::bit_cast<uint32_t>(t);
    const uint32_t i = bits >> kShift;
    const float frac = float(bits & ((1u << kShift) - 1u)) * (1.0f / float(1u << kShift));
    const float v = table[i] + (table[i + 1] - table[i]) * frac;
    return std::clamp(v, 0.0f, 1.0f);
}

void applyGammaHDRpart(applyGammaHDR_threadParams_t& p) {
    p.histogram.assign(kHistogramBins, 0);
    for (int64_t i = p.firstPixel; i < p.endPixel; ++i) {
        float* px = p.rgb + i * 3;
        float c[3];
        for (int ch = 0; ch < 3; ++ch) {
            c[ch] = normalised(px[ch], p.lo, p.scale);
            if (p.table) c[ch] = curved(c[ch], p.table);
            px[ch] = c[ch];
        }
        const float y = std::min(1.0f, 0.3086f * c[0] + 0.6094f * c[1] + 0.082f * c[2]);
        ++p.histogram[size_t(int(16383.0f * y))];
    }
}

} // namespace

double preprocessCurve(int method, double v) {
    if (method == 0) return 1.5385 * std::pow(v, 0.6) - 0.5385 * std::pow(v, 1.3);
    if (method == 1) return std::pow(v, 1.35);
    return v;
}

void radianceRange(const float* rgb, size_t pixels, double& lo, double& hi) {
    struct range_threadParams_t {
        const float* rgb;
        int64_t firstPixel, endPixel;
        float lo = std::numeric_limits<float>::infinity();
        float hi = -std::numeric_limits<float>::infinity();
    };
    const auto params = parallelRecords<range_threadParams_t>(
        int64_t(pixels),
        [rgb](int, int64_t first, int64_t last) {
            return range_threadParams_t{rgb, first, last};
        },
        [](range_threadParams_t& p) {
            for (int64_t i = p.firstPixel * 3; i < p.endPixel * 3; ++i)
                if (std::isfinite(p.rgb[i])) {
                    p.lo = std::min(p.lo, p.rgb[i]);
                    p.hi = std::max(p.hi, p.rgb[i]);
                }
        });
    float l = std::numeric_limits<float>::infinity(), h = -std::numeric_limits<float>::infinity();
    for (const auto& p : params) {
        l = std::min(l, p.lo);
        h = std::max(h, p.hi);
    }
    lo = l <= h ? l : 0.0;
    hi = l <= h ? h : 0.0;
}

void LDRenhancementPreprocess(const uint16_t* samples, float* radiance, size_t count) {
    struct LDRenhancementPreprocess_threadParams_t {
        const uint16_t* src;
        float* dst;
    };
    const LDRenhancementPreprocess_threadParams_t p{samples, radiance};
    parallelFor(int64_t(count), [&p](int, int64_t first, int64_t last) {
        for (int64_t i = first; i < last; ++i)
            p.dst[i] = std::min(float(p.src[i] * kInvFullScale), 1.0f);
    });
}

hdrStatistics statisticsFromHistogram(const uint64_t* histogram, uint64_t pixels) {
    double hs = 0, he = 1, med = 0;
    if (pixels > 0) {
        bool hsFound = false, medFound = false;
        uint64_t cumulative = 0;
        for (int k = 0; k < kHistogramBins; ++k) {
            cumulative += histogram[k];
            const double fraction = double(cumulative) / double(pixels);
            if (!hsFound && fraction >= 0.1) {
                hs = k / 16384.0;
                hsFound = true;
            }
            if (!medFound && fraction >= 0.5) {
                med = k / 16384.0;
                medFound = true;
            }
            if (fraction <= 0.9) he = k / 16384.0;
        }
    }
    double g = 1.0;
    for (;;) {
        const double hs2 = std::pow(hs, g), he2 = std::pow(he, g);
        g -= 0.01;
        debugLog("hs2=%lf, he2=%lf, gm=%lf\n", hs2, he2, g);
        if (he2 >= 0.2 || hs2 >= 0.04 || g <= 0.5) break;
    }
    hdrStatistics s;
    s.lcCorrection = std::min(g, 1.0) + 0.01;
    s.hdrMean = med + 0.001;
    debugLog("lcCorrection=%lf\n", s.lcCorrection);
    debugLog("hdrMean=%lf\n", s.hdrMean);
    return s;
}

hdrStatistics applyGammaHDR(float* rgb, size_t pixels, int method, double hdrMin, double hdrMax) {
    debugLog("HDR preprocess...\n");
    if (!std::isfinite(hdrMin) || !std::isfinite(hdrMax)) radianceRange(rgb, pixels, hdrMin, hdrMax);
    double lo = hdrMin, scale = 0;
    if (hdrMax - hdrMin > 1e-6 * std::fabs(hdrMax)) {
        scale = 1.0 / (hdrMax - hdrMin);
    } else {
        debugLog("%s: uniform picture (hdrMin=%g, hdrMax=%g), normalising by the maximum\n", "applyGammaHDR",
                 hdrMin, hdrMax);
        lo = 0;
        scale = hdrMax > 0 ? 1.0 / hdrMax : 0.0;
    }
    if (!std::isfinite(scale)) scale = 0; // a range below the smallest float: treat as black

    const float* table = (method == 0 || method == 1) ? curveTable(method).data() : nullptr;
    const auto params = parallelRecords<applyGammaHDR_threadParams_t>(
        int64_t(pixels),
        [&](int, int64_t first, int64_t last) {
            return applyGammaHDR_threadParams_t{rgb, first, last, float(lo), float(scale), table, {}};
        },
        [](applyGammaHDR_threadParams_t& p) { applyGammaHDRpart(p); });
    std::vector<uint64_t> histogram(kHistogramBins, 0);
    for (const auto& p : params)
        for (size_t k = 0; k < p.histogram.size(); ++k)
            histogram[k] += p.histogram[k];
    return statisticsFromHistogram(histogram.data(), pixels);
}

} // namespace halvora
