#include "tonemap/pixelChain.h"

#include "base/rgbBuffers.h"
#include "base/runContext.h"
#include "tonemap/colorMatrix.h"
#include "tonemap/fastPow.h"

#include <algorithm>
#include <cmath>

namespace halvora {
namespace {

// The steps are small functions that the compiler must fold into the pixel loops: a call per step
// and pixel would cost more than most steps do.
#define CHAIN_STEP inline __attribute__((always_inline))

// NaN-safe clamp to 0 … 1: NaN becomes 0, so no table index can leave its table.
// Written as two selections so that it compiles to maxsd/minsd rather than branches.
CHAIN_STEP double clamp01(double v) {
    const double a = v > 0.0 ? v : 0.0;
    return a < 1.0 ? a : 1.0;
}

CHAIN_STEP double luminance(double r, double g, double b) {
    return 0.3086 * r + 0.6094 * g + 0.082 * b;
}

CHAIN_STEP double pow15(double v) {
    const double v2 = v * v, v4 = v2 * v2, v8 = v4 * v4;
    return v8 * v4 * v2 * v;
}

CHAIN_STEP double pow40(double v) {
    const double v2 = v * v, v4 = v2 * v2, v5 = v4 * v, v10 = v5 * v5, v20 = v10 * v10;
    return v20 * v20;
}

struct rgb_t {
    double r, g, b;
};

/// What a thread derives once from the settings and the picture's statistics, before its pixels.
struct chainSetup_t {
    bool localContrast = false; ///< the three local-contrast planes are there and the operator is on
    bool mask = false;          ///< the mask plane is there and Mask is on
    double lcStrength = 0, highlights = 0, shadows = 0, micro = 0, range = 0;
    double blackThreshold = 0, blackSpread2 = 0;
    double exponent = 1;       ///< global compression
    double shadowExponent = 1; ///< q = Y^shadowExponent
    colorMatrix_t colour{};
    double gain[3] = {1, 1, 1};
    bool selective = false; ///< a selective-saturation table changes something
    const double* hueTable = nullptr;
    const double* brightnessTable = nullptr;
    const double* lut[3] = {};
    const float* tmTable = nullptr;
    double sharpen = 0; ///< Sharpness × detail scale ÷ 32640
    bool histogramPass = false;
    double black = 0;
    double levelScale = 1;
};

// An all-zero selective table multiplies by exactly 1: such a step changes nothing and is skipped.
bool anyOffset(const std::vector<double>& table) {
    return std::any_of(table.begin(), table.end(), [](double v) { return v != 0.0; });
}

chainSetup_t chainSetup(const toneMapping_threadParams_t& p) {
    const toneMappingSettings_t& s = *p.settings;
    const toneMappingTables_t& t = s.tables;
    chainSetup_t c;
    const localContrastPlanesRead_t reads = localContrastPlanesRead(s.range);
    c.localContrast = s.localContrastEnabled && p.lcPlaneFine && (p.lcPlaneMedium || !reads.medium) &&
                      (p.lcPlaneCoarse || !reads.coarse);
    c.mask = s.maskEnabled && p.maskPlane;
    c.lcStrength = s.lcStrength;
    c.highlights = s.highlights;
    c.shadows = s.shadows;
    c.micro = s.micro * 0.25;
    c.range = s.range;
    // hdrMean lies in (0, 1) for any real picture; keep the logarithms finite for any other value.
    const double mean = std::clamp(p.hdrMean, 1e-4, 0.999);
    const double r = std::sqrt(mean);
    c.blackThreshold = s.blackness * 0.05 * 10.0 * r;
    const double spread = 0.015 * std::pow(s.blackness, 0.8) * 10.0 * r;
    c.blackSpread2 = 2.0 * spread * spread;
    const double compression = s.compression;
    c.exponent = c.localContrast ? 1.0 / (compression * (1 - c.lcStrength) + compression * c.lcStrength * 0.5)
                                 : 1.0 / compression;
    c.shadowExponent = std::log(std::clamp(p.lcCorrection, 1e-4, 1.0) * 0.25) / std::log(mean);

    c.colour = buildColorMatrix(s.saturation, (s.hue - 1.0) * 180.0);
    for (int ch = 0; ch < 3; ++ch)
        c.gain[ch] = t.wbGain[ch];
    c.selective = (t.hueSelectiveActive && anyOffset(t.selectiveTable[0])) ||
                  (t.brightnessSelectiveActive && anyOffset(t.selectiveTable[1]));
    c.hueTable = t.selectiveTable[0].data();
    c.brightnessTable = t.selectiveTable[1].data();
    // Without channel curves the three output tables are equal: reading one keeps it in cache.
    for (int ch = 0; ch < 3; ++ch)
        c.lut[ch] = ch > 0 && t.outputLUT[ch] == t.outputLUT[0] ? c.lut[0] : t.outputLUT[ch].data();
    c.tmTable = t.tmTable.data();
    c.sharpen = p.detailPlane ? s.sharpness * p.detailScale * kInvFullScale : 0.0;
    c.histogramPass = p.histogram[0] != nullptr;
    c.black = s.blackLevel;
    // Levels closer than one histogram bin (or inverted) would divide by almost nothing.
    c.levelScale = 1.0 / std::max(s.whiteLevel - s.blackLevel, 1.0 / 4095.0);
    return c;
}

// Step 1: the luminance Y of a source pixel (0 when X + Y + Z is not above 1e-5) and whether its
// chromaticity is defined. Only that matters: mapping back through (x, y) with a new luminance Y'
// scales X, Y, Z alike, so step 4 scales R, G, B by Y' / Y.
CHAIN_STEP double sourceLuminance(float sr, float sg, float sb, bool& chromatic) {
    const float X = 0.4124564f * sr + 0.3575761f * sg + 0.1804375f * sb;
    const float Yf = 0.2126729f * sr + 0.7151522f * sg + 0.072175f * sb;
    const float Z = 0.0193339f * sr + 0.119192f * sg + 0.9503041f * sb;
    const float sum = X + Yf + Z;
    chromatic = false;
    if (!(sum > 1e-5f)) return 0.0;
    chromatic = float(double(Yf) / double(sum)) >= 1e-5f;
    return Yf;
}

// Step 2: the local-contrast operator and the micro details, from the pixel's three local ranks.
CHAIN_STEP double localContrastValue(const chainSetup_t& c, const toneMapping_threadParams_t& p, int32_t i,
                                     double Y) {
    const double f = p.lcPlaneFine[i] * kInvFullScale;
    // A plane whose blend weight is exactly 0 is not read (it may be absent): 1·a + 0·b is a exactly.
    double L;
    if (c.range < 0.5) {
        const double tr = (0.5 - c.range) * 2.0;
        L = tr == 1.0 ? f : tr * f + (1.0 - tr) * (p.lcPlaneMedium[i] * kInvFullScale);
    } else {
        const double tr = (c.range - 0.5) * 2.0;
        if (tr == 0.0)
            L = p.lcPlaneMedium[i] * kInvFullScale;
        else if (tr == 1.0)
            L = p.lcPlaneCoarse[i] * kInvFullScale;
        else
            L = (1.0 - tr) * (p.lcPlaneMedium[i] * kInvFullScale) + tr * (p.lcPlaneCoarse[i] * kInvFullScale);
    }
    if (f > L) L = 0.75 * L + 0.25 * f;
    if (c.blackThreshold > Y && c.blackSpread2 > 0) {
        const double d = Y - c.blackThreshold;
        const double g = std::min(1.0, fastPow::exp(-d * d / c.blackSpread2));
        L *= g;
        Y *= g;
    }
    if (Y > 0.75) L = std::min(1.0, L * (pow40(Y) + 1.0));
    const double q = fastPow::pow(Y, c.shadowExponent);
    const double A = ((1.0 - q) * L + q) * (1.0 - c.highlights) + L * c.highlights;
    double V = (q * A * c.shadows + (1.0 - c.shadows) * A) * c.lcStrength + (1.0 - c.lcStrength) * Y;
    V = std::min(V, 1.0);
    V = ((1.0 - (1.0 - f) * (1.0 - V)) * V + f * V * (1.0 - V)) * c.micro + (1.0 - c.micro) * V;
    return clamp01(V);
}

// Steps 3 and 4: the global compression of V, back to RGB through the pixel's own chromaticity
// (X' = x·Y'/y = X·Y'/Y, Z' = Z·Y'/Y, and the XYZ → RGB matrix undoes RGB → XYZ to 1e-7, so each
// channel is scaled by Y' / Y). Y = 0 marks a pixel without chromaticity: black.
CHAIN_STEP rgb_t compressed(const chainSetup_t& c, double V, double Y, const float source[3]) {
    const double Yc = fastPow::pow(V, c.exponent);
    if (Y == 0.0) return {0, 0, 0};
    const double k = Yc / Y;
    return {clamp01(source[0] * k), clamp01(source[1] * k), clamp01(source[2] * k)};
}

// Steps 5 and 6: curves and gamma, then local tone mapping by the mask plane. Table reads only:
// the loop that runs this step over a block keeps many pixels' cache misses in flight at once.
CHAIN_STEP rgb_t outputTables(const chainSetup_t& c, const toneMapping_threadParams_t& p, int32_t i,
                              rgb_t v) {
    double R = c.lut[0][int(v.r * 32639.0)];
    double G = c.lut[1][int(v.g * 32639.0)];
    double B = c.lut[2][int(v.b * 32639.0)];
    if (c.mask) {
        const int row = p.maskPlane[i] >> 4;
        if (row < 2047) {
            const float* tmRow = c.tmTable + size_t(row) * 2048;
            R = tmRow[int(clamp01(R) * 2047.0)];
            G = tmRow[int(clamp01(G) * 2047.0)];
            B = tmRow[int(clamp01(B) * 2047.0)];
        }
    }
    return {R, G, B};
}

// Step 7: white balance fading out towards white.
CHAIN_STEP rgb_t whiteBalance(const chainSetup_t& c, rgb_t v) {
    double R = v.r, G = v.g, B = v.b;
    const double l0 = luminance(R, G, B);
    const double w = pow15(l0);
    R = R * c.gain[0] * (1.0 - w) + R * w;
    G = G * c.gain[1] * (1.0 - w) + G * w;
    B = B * c.gain[2] * (1.0 - w) + B * w;
    const double l1 = luminance(R, G, B);
    if (l1 > 0.0001) {
        const double k = l0 / l1;
        R *= k;
        G *= k;
        B *= k;
    }
    return {clamp01(R), clamp01(G), clamp01(B)};
}

// Step 8: hue- and brightness-selective saturation; the brightness index is the largest channel as
// it was before this step.
CHAIN_STEP rgb_t selectiveSaturation(const chainSetup_t& c, rgb_t v) {
    double R = v.r, G = v.g, B = v.b;
    const double l = luminance(R, G, B);
    const double mx = std::max(R, std::max(G, B));
    const double mn = std::min(R, std::min(G, B));
    const double d = mx - mn;
    double h = 0;
    if (!(std::fabs(d) < 1e-5 || mx == 0)) {
        if (R == mn)
            h = 60.0 * (3.0 - (G - B) / d);
        else if (G == mn)
            h = 60.0 * (5.0 - (B - R) / d);
        else
            h = 60.0 * (1.0 - (R - G) / d);
        if (h >= 3600.0) h = std::fmod(h, 360.0);
        while (h >= 360.0)
            h -= 360.0;
        if (h < 0) h = 0;
    }
    const double k1 = c.hueTable[int(h / 360.0 * 32640.0)] + 1.0;
    R = R * k1 + (1.0 - k1) * l;
    G = G * k1 + (1.0 - k1) * l;
    B = B * k1 + (1.0 - k1) * l;
    const double k2 = c.brightnessTable[int(mx * 32640.0)] + 1.0;
    R = R * k2 + (1.0 - k2) * l;
    G = G * k2 + (1.0 - k2) * l;
    B = B * k2 + (1.0 - k2) * l;
    return {R, G, B};
}

// Step 9: saturation and hue.
CHAIN_STEP rgb_t colourMatrix(const chainSetup_t& c, rgb_t v) {
    const auto& M = c.colour.m;
    return {v.r * M[0][0] + v.g * M[1][0] + v.b * M[2][0] + M[3][0],
            v.r * M[0][1] + v.g * M[1][1] + v.b * M[2][1] + M[3][1],
            v.r * M[0][2] + v.g * M[1][2] + v.b * M[2][2] + M[3][2]};
}

// Step 10: sharpening by the detail plane.
CHAIN_STEP rgb_t sharpened(const toneMapping_threadParams_t& p, double sharpen, int32_t i, rgb_t v) {
    if (!p.detailPlane) return v;
    const double a = sharpen * p.detailPlane[i];
    return {v.r + a, v.g + a, v.b + a};
}

// Step 11: black and white levels.
CHAIN_STEP rgb_t levelled(double black, double levelScale, rgb_t v) {
    return {(v.r - black) * levelScale, (v.g - black) * levelScale, (v.b - black) * levelScale};
}

// Step 13: the pixel in the thread's histograms.
CHAIN_STEP void countInHistograms(const toneMapping_threadParams_t& p, rgb_t v) {
    ++p.histogram[0][std::min(int(luminance(v.r, v.g, v.b) * 4095.0), 4095)];
    ++p.histogram[1][int(v.r * 4095.0)];
    ++p.histogram[2][int(v.g * 4095.0)];
    ++p.histogram[3][int(v.b * 4095.0)];
}

// Step 14: the pixel's samples into the 16-bit result or the 8-bit preview.
CHAIN_STEP void storeOutput(const toneMapping_threadParams_t& p, int32_t i, rgb_t v) {
    const size_t o = size_t(i - p.outFirstPixel) * 3;
    if (p.out16) {
        p.out16[o] = uint16_t(v.r * 32639.0);
        p.out16[o + 1] = uint16_t(v.g * 32639.0);
        p.out16[o + 2] = uint16_t(v.b * 32639.0);
    } else if (p.out8) {
        p.out8[o] = uint8_t(v.r * 255.0);
        p.out8[o + 1] = uint8_t(v.g * 255.0);
        p.out8[o + 2] = uint8_t(v.b * 255.0);
    }
}

// Step 15: one progress unit per 100 pixels, counted at every pixel index that is a multiple of 100.
struct progressCounter {
    int32_t untilProgress;
    explicit progressCounter(int32_t firstPixel) : untilProgress((100 - firstPixel % 100) % 100) {}
    CHAIN_STEP void count() {
        if (untilProgress == 0) {
            halvora::addProgress(100);
            untilProgress = 100;
        }
        --untilProgress;
    }
};

} // namespace
} // namespace halvora

localContrastPlanesRead_t localContrastPlanesRead(double range) {
    // The blend weights as localContrastValue computes them.
    localContrastPlanesRead_t reads;
    if (range < 0.5) {
        reads.medium = (0.5 - range) * 2.0 != 1.0;
        reads.coarse = false;
    } else {
        const double tr = (range - 0.5) * 2.0;
        reads.medium = tr != 1.0;
        reads.coarse = tr != 0.0;
    }
    return reads;
}

void toneMapping(const toneMapping_threadParams_t& p) {
    using namespace halvora;
    const chainSetup_t c = chainSetup(p);
    progressCounter progress(p.firstPixel);
    // Blocks of pixels go through steps 1 and 2, then 3 and 4, then 5 and 6, then the rest: short
    // loops overlap more of their pixels' long chains of dependent arithmetic than one long loop does.
    constexpr int32_t kBlock = 256;
    rgb_t stage[kBlock];
    double stageV[kBlock], stageY[kBlock];
    float stageSource[kBlock][3];
    for (int32_t blockStart = p.firstPixel; blockStart < p.endPixel;) {
        const int32_t blockEnd = int32_t(std::min<int64_t>(p.endPixel, int64_t(blockStart) + kBlock));
        for (int32_t i = blockStart; i < blockEnd; ++i) {
            const float* src = p.hdr + size_t(i) * 3;
            // Radiance is normalised to 0 … 1; anything else (NaN, inf, negative) is brought into range.
            float* source = stageSource[i - blockStart];
            source[0] = float(clamp01(src[0]));
            source[1] = float(clamp01(src[1]));
            source[2] = float(clamp01(src[2]));
            bool chromatic;
            const double Y = sourceLuminance(source[0], source[1], source[2], chromatic);
            stageV[i - blockStart] = c.localContrast ? localContrastValue(c, p, i, Y) : Y;
            stageY[i - blockStart] = chromatic ? Y : 0.0; // a chromatic pixel has Y > 0
        }
        for (int32_t i = blockStart; i < blockEnd; ++i)
            stage[i - blockStart] =
                compressed(c, stageV[i - blockStart], stageY[i - blockStart], stageSource[i - blockStart]);
        for (int32_t i = blockStart; i < blockEnd; ++i)
            stage[i - blockStart] = outputTables(c, p, i, stage[i - blockStart]);
        for (int32_t i = blockStart; i < blockEnd; ++i) {
            rgb_t v = whiteBalance(c, stage[i - blockStart]);
            if (c.selective) v = selectiveSaturation(c, v);
            v = sharpened(p, c.sharpen, i, colourMatrix(c, v));
            if (p.keptColor) {
                double* kept = p.keptColor + size_t(i) * 3;
                kept[0] = v.r;
                kept[1] = v.g;
                kept[2] = v.b;
            }
            // The histogram pass measures the picture before the levels stretch it (step 11).
            if (!c.histogramPass) v = levelled(c.black, c.levelScale, v);
            v = {clamp01(v.r), clamp01(v.g), clamp01(v.b)}; // step 12
            if (c.histogramPass) countInHistograms(p, v);
            storeOutput(p, i, v);
            progress.count();
            if (halvora::cancelRequested()) return;
        }
        blockStart = blockEnd;
    }
}

void toneMappingFinish(const toneMapping_threadParams_t& p) {
    using namespace halvora;
    const toneMappingSettings_t& s = *p.settings;
    // Steps 10 to 15 of toneMapping, with the same set-up.
    const double sharpen = p.detailPlane ? s.sharpness * p.detailScale * kInvFullScale : 0.0;
    const double black = s.blackLevel;
    const double levelScale = 1.0 / std::max(s.whiteLevel - s.blackLevel, 1.0 / 4095.0);
    progressCounter progress(p.firstPixel);
    for (int32_t i = p.firstPixel; i < p.endPixel; ++i) {
        const double* kept = p.keptColor + size_t(i) * 3;
        rgb_t v = levelled(black, levelScale, sharpened(p, sharpen, i, {kept[0], kept[1], kept[2]}));
        v = {clamp01(v.r), clamp01(v.g), clamp01(v.b)};
        storeOutput(p, i, v);
        progress.count();
        if (halvora::cancelRequested()) break;
    }
}
