#include "tonemap/pixelChain.h"

#include "base/rgbBuffers.h"
#include "base/runContext.h"
#include "tonemap/fastPow.h"

#include <algorithm>
#include <cmath>

namespace halvora {
namespace {

constexpr float kLumR = 0.3086f, kLumG = 0.6094f, kLumB = 0.0820f;

using mat4 = float[4][4];

void setIdentity(mat4 m) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m[r][c] = r == c ? 1.0f : 0.0f;
}

// m = m × b: with row vectors, b is applied after m.
void postMultiply(mat4 m, const mat4 b) {
    float t[4][4];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            t[r][c] = m[r][0] * b[0][c] + m[r][1] * b[1][c] + m[r][2] * b[2][c] + m[r][3] * b[3][c];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m[r][c] = t[r][c];
}

void rotateX(mat4 m, float s, float c) {
    mat4 b;
    setIdentity(b);
    b[1][1] = c;
    b[1][2] = s;
    b[2][1] = -s;
    b[2][2] = c;
    postMultiply(m, b);
}

void rotateY(mat4 m, float s, float c) {
    mat4 b;
    setIdentity(b);
    b[0][0] = c;
    b[0][2] = -s;
    b[2][0] = s;
    b[2][2] = c;
    postMultiply(m, b);
}

void rotateZ(mat4 m, float s, float c) {
    mat4 b;
    setIdentity(b);
    b[0][0] = c;
    b[0][1] = s;
    b[1][0] = -s;
    b[1][1] = c;
    postMultiply(m, b);
}

void shearZ(mat4 m, float dx, float dy) {
    mat4 b;
    setIdentity(b);
    b[0][2] = dx;
    b[1][2] = dy;
    postMultiply(m, b);
}

void transformPoint(const mat4 m, float x, float y, float z, float& tx, float& ty, float& tz) {
    tx = x * m[0][0] + y * m[1][0] + z * m[2][0] + m[3][0];
    ty = x * m[0][1] + y * m[1][1] + z * m[2][1] + m[3][1];
    tz = x * m[0][2] + y * m[1][2] + z * m[2][2] + m[3][2];
}

// NaN-safe clamp to 0 … 1: NaN becomes 0, so no table index can leave its table.
// Written as two selections so that it compiles to maxsd/minsd rather than branches.
inline double clamp01(double v) {
    const double a = v > 0.0 ? v : 0.0;
    return a < 1.0 ? a : 1.0;
}

inline double luminance(double r, double g, double b) {
    return 0.3086 * r + 0.6094 * g + 0.082 * b;
}

// Step 14: the pixel's samples into the 16-bit result or the 8-bit preview.
inline void storeOutput(const toneMapping_threadParams_t& p, int32_t i, double r, double g, double b) {
    const size_t o = size_t(i) * 3;
    if (p.out16) {
        p.out16[o] = uint16_t(r * 32639.0);
        p.out16[o + 1] = uint16_t(g * 32639.0);
        p.out16[o + 2] = uint16_t(b * 32639.0);
    } else if (p.out8) {
        p.out8[o] = uint8_t(r * 255.0);
        p.out8[o + 1] = uint8_t(g * 255.0);
        p.out8[o + 2] = uint8_t(b * 255.0);
    }
}

// Step 15: one progress unit per 100 pixels.
inline void countProgress(int32_t& untilProgress) {
    if (untilProgress == 0) {
        halvora::addProgress(100);
        untilProgress = 100;
    }
    --untilProgress;
}

inline double pow15(double v) {
    const double v2 = v * v, v4 = v2 * v2, v8 = v4 * v4;
    return v8 * v4 * v2 * v;
}

inline double pow40(double v) {
    const double v2 = v * v, v4 = v2 * v2, v5 = v4 * v, v10 = v5 * v5, v20 = v10 * v10;
    return v20 * v20;
}

} // namespace

colorMatrix_t buildColorMatrix(double saturation, double degrees) {
    colorMatrix_t result;
    auto& m = result.m;
    setIdentity(m);

    const float s = float(saturation);
    const float a = kLumR * (1 - s), b = kLumG * (1 - s), c = kLumB * (1 - s);
    mat4 sat;
    setIdentity(sat);
    sat[0][0] = a + s, sat[0][1] = a, sat[0][2] = a;
    sat[1][0] = b, sat[1][1] = b + s, sat[1][2] = b;
    sat[2][0] = c, sat[2][1] = c, sat[2][2] = c + s;
    postMultiply(m, sat);

    // Hue: turn the grey axis onto z, shear so that the luminance plane is horizontal, rotate about
    // z, then undo the shear and the turns.
    mat4 h;
    setIdentity(h);
    const float xs = 1.0f / std::sqrt(2.0f), xc = xs;
    rotateX(h, xs, xc);
    const float ys = -1.0f / std::sqrt(3.0f), yc = std::sqrt(2.0f) / std::sqrt(3.0f);
    rotateY(h, ys, yc);
    float lx, ly, lz;
    transformPoint(h, kLumR, kLumG, kLumB, lx, ly, lz);
    const float zsx = lx / lz, zsy = ly / lz;
    shearZ(h, zsx, zsy);
    const double radians = degrees * 3.14159265358979323846 / 180.0;
    rotateZ(h, float(std::sin(radians)), float(std::cos(radians)));
    shearZ(h, -zsx, -zsy);
    rotateY(h, -ys, yc);
    rotateX(h, -xs, xc);
    postMultiply(m, h);
    return result;
}

} // namespace halvora

void toneMapping(const toneMapping_threadParams_t& p) {
    using namespace halvora;
    const toneMappingSettings_t& s = *p.settings;
    const toneMappingTables_t& t = s.tables;

    // ---- set-up
    const bool lcOn = s.localContrastEnabled && p.lcPlaneFine && p.lcPlaneMedium && p.lcPlaneCoarse;
    const bool maskOn = s.maskEnabled && p.maskPlane;
    const double lcStrength = s.lcStrength, highlights = s.highlights, shadows = s.shadows;
    const double micro = s.micro * 0.25;
    const double range = s.range;
    // hdrMean lies in (0, 1) for any real picture; keep the logarithms finite for any other value.
    const double mean = std::clamp(p.hdrMean, 1e-4, 0.999);
    const double r = std::sqrt(mean);
    const double blackThreshold = s.blackness * 0.05 * 10.0 * r;
    const double spread = 0.015 * std::pow(s.blackness, 0.8) * 10.0 * r;
    const double blackSpread2 = 2.0 * spread * spread;
    const double compression = s.compression;
    const double exponent =
        lcOn ? 1.0 / (compression * (1 - lcStrength) + compression * lcStrength * 0.5) : 1.0 / compression;
    const double shadowExponent = std::log(std::clamp(p.lcCorrection, 1e-4, 1.0) * 0.25) / std::log(mean);

    const colorMatrix_t cm = buildColorMatrix(s.saturation, (s.hue - 1.0) * 180.0);
    const auto& M = cm.m;
    const double gain[3] = {t.wbGain[0], t.wbGain[1], t.wbGain[2]};
    // An all-zero table multiplies by exactly 1: such a step changes nothing and is skipped.
    auto anyOffset = [](const std::vector<double>& table) {
        return std::any_of(table.begin(), table.end(), [](double v) { return v != 0.0; });
    };
    const bool selectiveOn = (t.hueSelectiveActive && anyOffset(t.selectiveTable[0])) ||
                             (t.brightnessSelectiveActive && anyOffset(t.selectiveTable[1]));
    const double* hueTable = t.selectiveTable[0].data();
    const double* brightnessTable = t.selectiveTable[1].data();
    // Without channel curves the three output tables are equal: reading one keeps it in cache.
    const double* lut[3] = {t.outputLUT[0].data(), t.outputLUT[1].data(), t.outputLUT[2].data()};
    for (int c = 1; c < 3; ++c)
        if (t.outputLUT[c] == t.outputLUT[0]) lut[c] = lut[0];
    const double* tmTable = t.tmTable.data();
    const double sharpen = p.detailPlane ? s.sharpness * p.detailScale * kInvFullScale : 0.0;
    const bool histogramPass = p.histogram[0] != nullptr;
    const double black = s.blackLevel;
    // Levels closer than one histogram bin (or inverted) would divide by almost nothing.
    const double levelScale = 1.0 / std::max(s.whiteLevel - s.blackLevel, 1.0 / 4095.0);

    // Pixels until the next multiple of 100, where 100 is added to the progress counter.
    int32_t untilProgress = (100 - p.firstPixel % 100) % 100;
    // Blocks of pixels go through steps 1 and 2, then 3 and 4, then 5 to 7, then the rest: short loops
    // overlap more of their pixels' long chains of dependent arithmetic than one long loop does.
    constexpr int32_t kBlock = 256;
    double stage[kBlock][3];
    double stageV[kBlock], stageY[kBlock];
    float stageSource[kBlock][3];
    for (int32_t blockStart = p.firstPixel; blockStart < p.endPixel;) {
        const int32_t blockEnd = int32_t(std::min<int64_t>(p.endPixel, int64_t(blockStart) + kBlock));
        for (int32_t i = blockStart; i < blockEnd; ++i) {
            const float* src = p.hdr + size_t(i) * 3;
            // Radiance is normalised to 0 … 1; anything else (NaN, inf, negative) is brought into range.
            const float sr = float(clamp01(src[0])), sg = float(clamp01(src[1])), sb = float(clamp01(src[2]));

            // 1. luminance and chromaticity. Only whether the chromaticity is defined matters: mapping back
            //    through (x, y) with a new luminance Y' scales X, Y, Z alike, so step 4 scales R, G, B by Y'
            //    / Y.
            const float X = 0.4124564f * sr + 0.3575761f * sg + 0.1804375f * sb;
            const float Yf = 0.2126729f * sr + 0.7151522f * sg + 0.072175f * sb;
            const float Z = 0.0193339f * sr + 0.119192f * sg + 0.9503041f * sb;
            const float sum = X + Yf + Z;
            double Y = 0;
            bool chromatic = false;
            if (sum > 1e-5f) {
                Y = Yf;
                chromatic = float(double(Yf) / double(sum)) >= 1e-5f;
            }

            // 2. local contrast and micro details
            double V = Y;
            if (lcOn) {
                const double f = p.lcPlaneFine[i] * kInvFullScale;
                const double md = p.lcPlaneMedium[i] * kInvFullScale;
                const double co = p.lcPlaneCoarse[i] * kInvFullScale;
                double L;
                if (range < 0.5) {
                    const double tr = (0.5 - range) * 2.0;
                    L = tr * f + (1.0 - tr) * md;
                } else {
                    const double tr = (range - 0.5) * 2.0;
                    L = (1.0 - tr) * md + tr * co;
                }
                if (f > L) L = 0.75 * L + 0.25 * f;
                double Yl = Y;
                if (blackThreshold > Yl && blackSpread2 > 0) {
                    const double d = Yl - blackThreshold;
                    const double g = std::min(1.0, fastPow::exp(-d * d / blackSpread2));
                    L *= g;
                    Yl *= g;
                }
                if (Yl > 0.75) L = std::min(1.0, L * (pow40(Yl) + 1.0));
                const double q = fastPow::pow(Yl, shadowExponent);
                const double A = ((1.0 - q) * L + q) * (1.0 - highlights) + L * highlights;
                V = (q * A * shadows + (1.0 - shadows) * A) * lcStrength + (1.0 - lcStrength) * Yl;
                V = std::min(V, 1.0);
                V = ((1.0 - (1.0 - f) * (1.0 - V)) * V + f * V * (1.0 - V)) * micro + (1.0 - micro) * V;
                V = clamp01(V);
            }

            // Y = 0 marks a pixel without chromaticity (a chromatic one has Y > 0).
            stageV[i - blockStart] = V;
            stageY[i - blockStart] = chromatic ? Y : 0.0;
            stageSource[i - blockStart][0] = sr;
            stageSource[i - blockStart][1] = sg;
            stageSource[i - blockStart][2] = sb;
        }

        for (int32_t i = blockStart; i < blockEnd; ++i) {
            // 3. global compression
            const double Yc = fastPow::pow(stageV[i - blockStart], exponent);

            // 4. back to RGB through the pixel's own chromaticity: X' = x·Y'/y = X·Y'/Y, Z' = Z·Y'/Y, and
            //    the XYZ → RGB matrix undoes RGB → XYZ (to 1e-7), so each channel is scaled by Y'/Y.
            double R = 0, G = 0, B = 0;
            const double Y = stageY[i - blockStart];
            if (Y != 0.0) {
                const double k = Yc / Y;
                R = clamp01(stageSource[i - blockStart][0] * k);
                G = clamp01(stageSource[i - blockStart][1] * k);
                B = clamp01(stageSource[i - blockStart][2] * k);
            }
            stage[i - blockStart][0] = R;
            stage[i - blockStart][1] = G;
            stage[i - blockStart][2] = B;
        }

        for (int32_t i = blockStart; i < blockEnd; ++i) {
            double R = stage[i - blockStart][0], G = stage[i - blockStart][1], B = stage[i - blockStart][2];

            // 5. curves and gamma
            R = lut[0][int(R * 32639.0)];
            G = lut[1][int(G * 32639.0)];
            B = lut[2][int(B * 32639.0)];

            // 6. local tone mapping
            if (maskOn) {
                const int row = p.maskPlane[i] >> 4;
                if (row < 2047) {
                    const double* tmRow = tmTable + size_t(row) * 2048;
                    R = tmRow[int(clamp01(R) * 2047.0)];
                    G = tmRow[int(clamp01(G) * 2047.0)];
                    B = tmRow[int(clamp01(B) * 2047.0)];
                }
            }

            // 7. white balance, fading out towards white
            {
                const double l0 = luminance(R, G, B);
                const double w = pow15(l0);
                R = R * gain[0] * (1.0 - w) + R * w;
                G = G * gain[1] * (1.0 - w) + G * w;
                B = B * gain[2] * (1.0 - w) + B * w;
                const double l1 = luminance(R, G, B);
                if (l1 > 0.0001) {
                    const double k = l0 / l1;
                    R *= k;
                    G *= k;
                    B *= k;
                }
                R = clamp01(R);
                G = clamp01(G);
                B = clamp01(B);
            }
            stage[i - blockStart][0] = R;
            stage[i - blockStart][1] = G;
            stage[i - blockStart][2] = B;
        }

        for (int32_t i = blockStart; i < blockEnd; ++i) {
            double R = stage[i - blockStart][0], G = stage[i - blockStart][1], B = stage[i - blockStart][2];

            // 8. hue- and brightness-selective saturation
            if (selectiveOn) {
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
                const double k1 = hueTable[int(h / 360.0 * 32640.0)] + 1.0;
                R = R * k1 + (1.0 - k1) * l;
                G = G * k1 + (1.0 - k1) * l;
                B = B * k1 + (1.0 - k1) * l;
                const double k2 = brightnessTable[int(mx * 32640.0)] + 1.0;
                R = R * k2 + (1.0 - k2) * l;
                G = G * k2 + (1.0 - k2) * l;
                B = B * k2 + (1.0 - k2) * l;
            }

            // 9. saturation and hue
            double r2 = R * M[0][0] + G * M[1][0] + B * M[2][0] + M[3][0];
            double g2 = R * M[0][1] + G * M[1][1] + B * M[2][1] + M[3][1];
            double b2 = R * M[0][2] + G * M[1][2] + B * M[2][2] + M[3][2];

            // 10. sharpening
            if (p.detailPlane) {
                const double a = sharpen * p.detailPlane[i];
                r2 += a;
                g2 += a;
                b2 += a;
            }

            if (p.keptColor) {
                double* kept = p.keptColor + size_t(i) * 3;
                kept[0] = r2;
                kept[1] = g2;
                kept[2] = b2;
            }

            // 11. black and white levels (the histogram pass measures the unstretched picture)
            if (!histogramPass) {
                r2 = (r2 - black) * levelScale;
                g2 = (g2 - black) * levelScale;
                b2 = (b2 - black) * levelScale;
            }

            // 12. clamp
            r2 = clamp01(r2);
            g2 = clamp01(g2);
            b2 = clamp01(b2);

            // 13. histograms
            if (histogramPass) {
                ++p.histogram[0][std::min(int(luminance(r2, g2, b2) * 4095.0), 4095)];
                ++p.histogram[1][int(r2 * 4095.0)];
                ++p.histogram[2][int(g2 * 4095.0)];
                ++p.histogram[3][int(b2 * 4095.0)];
            }

            // 14. output
            storeOutput(p, i, r2, g2, b2);

            // 15. progress and cancel
            countProgress(untilProgress);
            if (halvora::cancelRequested()) return;
        }
        blockStart = blockEnd;
    }
}

void toneMappingFinish(const toneMapping_threadParams_t& p) {
    using namespace halvora;
    const toneMappingSettings_t& s = *p.settings;
    // The same expressions, in the same order, as steps 10 to 15 of toneMapping.
    const double sharpen = p.detailPlane ? s.sharpness * p.detailScale * kInvFullScale : 0.0;
    const double black = s.blackLevel;
    const double levelScale = 1.0 / std::max(s.whiteLevel - s.blackLevel, 1.0 / 4095.0);
    int32_t untilProgress = (100 - p.firstPixel % 100) % 100;
    for (int32_t i = p.firstPixel; i < p.endPixel; ++i) {
        const double* kept = p.keptColor + size_t(i) * 3;
        double r2 = kept[0], g2 = kept[1], b2 = kept[2];
        if (p.detailPlane) {
            const double a = sharpen * p.detailPlane[i];
            r2 += a;
            g2 += a;
            b2 += a;
        }
        r2 = clamp01((r2 - black) * levelScale);
        g2 = clamp01((g2 - black) * levelScale);
        b2 = clamp01((b2 - black) * levelScale);
        storeOutput(p, i, r2, g2, b2);
        countProgress(untilProgress);
        if (halvora::cancelRequested()) break;
    }
}
