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

// Exposure normalisation: the brightest 2 % of the pixels may lie above the knee (a low sun with its
// glow, a lamp and its reflection, a window in a dark room are each about this size or smaller);
// the rest of the picture is brightened until its top reaches the knee, by at most 12 stops.
constexpr double kBrightShare = 0.02;
constexpr double kKnee = 0.8;
constexpr double kMaxGain = 4096.0;

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
    exposureNormalisation exposure;
    std::vector<uint64_t> histogram;
};

struct logLuminanceHistogram_threadParams_t {
    const float* rgb;
    int64_t firstPixel, endPixel;
    float lo;
    float scale;
    std::vector<uint64_t> histogram;
};

void logLuminanceHistogramPart(logLuminanceHistogram_threadParams_t& p) {
    p.histogram.assign(kLogLuminanceBins, 0);
    for (int64_t i = p.firstPixel; i < p.endPixel; ++i) {
        const float* px = p.rgb + i * 3;
        float c[3];
        for (int ch = 0; ch < 3; ++ch) {
            float t = (px[ch] - p.lo) * p.scale;
            c[ch] = t > 0.0f ? std::min(t, 1.0f) : 0.0f; // also NaN
        }
        ++p.histogram[size_t(logLuminanceBin(0.3086f * c[0] + 0.6094f * c[1] + 0.082f * c[2]))];
    }
}

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
        for (int ch = 0; ch < 3; ++ch)
            c[ch] = normalised(px[ch], p.lo, p.scale);
        if (p.exposure.gain > 1.0f) p.exposure.apply(c);
        for (int ch = 0; ch < 3; ++ch) {
            if (p.table) c[ch] = curved(c[ch], p.table);
            px[ch] = c[ch];
        }
        const float y = std::min(1.0f, 0.3086f * c[0] + 0.6094f * c[1] + 0.082f * c[2]);
        ++p.histogram[size_t(int(16383.0f * y))];
    }
}

} // namespace

// The exponent and the top six mantissa bits of the float: 64 bins per stop, without a logarithm.
constexpr uint32_t kLogBinShift = 17;
constexpr uint32_t kLogBinBase = (127u - 32u) << 6; ///< bin of 2^-32

int logLuminanceBin(float y) {
    if (!(y > 0x1p-32f)) return 0;
    if (!(y < 1.0f)) return kLogLuminanceBins - 1;
    return int((std::bit_cast<uint32_t>(y) >> kLogBinShift) - kLogBinBase);
}

void exposureNormalisation::apply(float c[3]) const {
    for (int ch = 0; ch < 3; ++ch)
        c[ch] *= gain;
    // The luminance rolls off, not each channel: a channel-wise roll-off would darken saturated
    // highlights (the orange core of a sunset) below the paler sky around them and draw a ring.
    const float y = 0.3086f * c[0] + 0.6094f * c[1] + 0.082f * c[2];
    if (y > knee) {
        const float s = (knee + (1.0f - knee) * std::log1p(rolloff * (y - knee)) * invLogTop) / y;
        for (int ch = 0; ch < 3; ++ch)
            c[ch] *= s;
    }
    const float m = std::max({c[0], c[1], c[2]});
    if (m > 1.0f) {
        // Too saturated to fit below 1 at this luminance: move towards the grey of the same luminance.
        const float yl = std::min(1.0f, 0.3086f * c[0] + 0.6094f * c[1] + 0.082f * c[2]);
        const float a = (1.0f - yl) / (m - yl);
        for (int ch = 0; ch < 3; ++ch)
            c[ch] = std::clamp(yl + (c[ch] - yl) * a, 0.0f, 1.0f);
    }
}

exposureNormalisation exposureNormalisationFor(const uint64_t* histogram, uint64_t pixels) {
    exposureNormalisation n;
    if (pixels == 0) return n;
    // A picture whose own maximum lies more than 4 stops below 1 was placed there on purpose (a uniform black
    // or grey merge is set against the brightest value the photos could record): it is not lifted.
    int top = kLogLuminanceBins - 1;
    while (top > 0 && histogram[top] == 0)
        --top;
    if (top < kLogLuminanceBins - 1 - 4 * 64) return n;
    // The luminance all but the brightest share stay below: the upper edge of the bin where that
    // share begins (rounding up, so the gain is never larger than the histogram proves).
    const double share = kBrightShare * double(pixels);
    uint64_t above = 0;
    int bin = kLogLuminanceBins - 1;
    for (; bin > 0; --bin) {
        above += histogram[bin];
        if (double(above) >= share) break;
    }
    const double white =
        bin + 1 >= kLogLuminanceBins
            ? 1.0
            : double(std::bit_cast<float>((uint32_t(bin + 1) + kLogBinBase) << kLogBinShift));
    const double gain = std::min(kMaxGain, kKnee / white);
    debugLog("exposure normalisation: white=%lf gain=%lf\n", white, std::max(gain, 1.0));
    if (!(gain > 1.0 + 1e-3)) return n;
    // Slope 1 at the knee, so the roll-off continues the linear part without a crease:
    // a (1 − k) = ln(1 + a (gain − k)) has one root a > 0 when gain > 1; bisection in log scale.
    double lo = 1e-9, hi = 1e12;
    for (int i = 0; i < 200; ++i) {
        const double a = std::sqrt(lo * hi);
        if (a * (1 - kKnee) < std::log1p(a * (gain - kKnee)))
            lo = a;
        else
            hi = a;
    }
    n.gain = float(gain);
    n.knee = float(kKnee);
    n.rolloff = float(lo);
    n.invLogTop = float(1.0 / std::log1p(lo * (gain - kKnee)));
    return n;
}

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

    const auto logParts = parallelRecords<logLuminanceHistogram_threadParams_t>(
        int64_t(pixels),
        [&](int, int64_t first, int64_t last) {
            return logLuminanceHistogram_threadParams_t{rgb, first, last, float(lo), float(scale), {}};
        },
        [](logLuminanceHistogram_threadParams_t& p) { logLuminanceHistogramPart(p); });
    std::vector<uint64_t> logHistogram(kLogLuminanceBins, 0);
    for (const auto& p : logParts)
        for (size_t k = 0; k < p.histogram.size(); ++k)
            logHistogram[k] += p.histogram[k];
    const exposureNormalisation exposure =
        method == 2 ? exposureNormalisation{} : exposureNormalisationFor(logHistogram.data(), pixels);

    const float* table = (method == 0 || method == 1) ? curveTable(method).data() : nullptr;
    const auto params = parallelRecords<applyGammaHDR_threadParams_t>(
        int64_t(pixels),
        [&](int, int64_t first, int64_t last) {
            return applyGammaHDR_threadParams_t{rgb,          first, last,     float(lo),
                                                float(scale), table, exposure, {}};
        },
        [](applyGammaHDR_threadParams_t& p) { applyGammaHDRpart(p); });
    std::vector<uint64_t> histogram(kHistogramBins, 0);
    for (const auto& p : params)
        for (size_t k = 0; k < p.histogram.size(); ++k)
            histogram[k] += p.histogram[k];
    return statisticsFromHistogram(histogram.data(), pixels);
}

} // namespace halvora
