// The fast paths of the per-pixel tone mapping against the exact formulas: the inline pow / exp,
// the chain over every 16-bit input under extreme settings, and the preview's render pass from the
// colours its histogram pass kept.

#include "base/parallelFor.h"
#include "tonemap/colorMatrix.h"
#include "tonemap/detailPlane.h"
#include "tonemap/fastPow.h"
#include "tonemap/picturePasses.h"
#include "tonemap/pixelChain.h"
#include "tonemap/rebuildOnChange.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

using namespace halvora;

namespace {

// Output code the way the 16-bit output quantises a value.
int code(double v) {
    return int(std::clamp(v, 0.0, 1.0) * 32639.0);
}

} // namespace

// Every 16-bit input and a fine float grid near black, for the exponents the chain meets: the shadow
// exponent (tiny to over a thousand for extreme means), the global exponent 1/4 … 20.
TEST(fastPow, powMatchesLibraryOverTheWholeInputRange) {
    const double exponents[] = {1e-3, 0.05, 0.25, 1 / 2.2, 0.64, 1.0, 1.7, 3.3, 10.0, 20.0, 1385.0};
    std::vector<double> inputs;
    for (int k = 0; k <= 65535; ++k)
        inputs.push_back(k / 65535.0);
    for (int k = 0; k <= 32640; ++k)
        inputs.push_back(k / 32640.0);
    for (float v = 1e-30f; v < 1e-3f; v *= 1.0007f)
        inputs.push_back(v);
    inputs.push_back(std::numeric_limits<double>::denorm_min());
    inputs.push_back(std::nextafter(1.0, 0.0));
    double worstExcess = 0;
    int codeFlips = 0;
    for (double y : exponents)
        for (double x : inputs) {
            const double exact = std::pow(x, y), fast = fastPow::pow(x, y);
            // y × log2(x) carries the log's absolute error, which the power turns into a relative one.
            if (exact > 1e-300)
                worstExcess =
                    std::max(worstExcess, std::fabs(fast - exact) / exact /
                                              (1e-15 * (1 + y * std::max(1.0, std::fabs(std::log2(x))))));
            else
                ASSERT_LE(fast, 1e-300) << x << " ^ " << y;
            const int d = std::abs(code(fast) - code(exact));
            ASSERT_LE(d, 1) << x << " ^ " << y;
            codeFlips += d;
        }
    EXPECT_LE(worstExcess, 1.0);
    // Flips happen only where the exact value lies within about 1e-15 of a code step (k / 65535
    // and j / 32639 share the factor 257, so some inputs land on steps exactly).
    EXPECT_LE(codeFlips, int(inputs.size() * std::size(exponents) / 10000));
    // End values the chain relies on.
    EXPECT_EQ(fastPow::pow(1.0, 0.7), 1.0);
    EXPECT_EQ(fastPow::pow(0.0, 0.7), 0.0);
    EXPECT_EQ(fastPow::pow(-0.5, 0.7), 0.0);
    EXPECT_EQ(fastPow::pow(std::nan(""), 0.7), 0.0);
    EXPECT_EQ(fastPow::exp(-std::numeric_limits<double>::infinity()), 0.0);
    EXPECT_EQ(fastPow::exp(0.0), 1.0);
    EXPECT_EQ(fastPow::log2(1.0), 0.0);
    EXPECT_EQ(fastPow::log2(0.0), -std::numeric_limits<double>::infinity());
}

TEST(fastPow, expAndLog2MatchLibrary) {
    double worstExp = 0, worstLog = 0;
    for (double x = -700; x <= 700; x += 0.0137) {
        const double exact = std::exp(x);
        worstExp = std::max(worstExp, std::fabs(fastPow::exp(x) - exact) / exact);
    }
    for (double t = -1021.9; t < 1023; t += 0.00731) {
        const double exact = std::exp2(t);
        worstExp = std::max(worstExp, std::fabs(fastPow::exp2(t) - exact) / exact);
    }
    EXPECT_LT(worstExp, 1e-15 * 200); // x × log2(e) loses up to |x| ulps of the argument
    for (double x = 1e-310; x < 1e300; x *= 1.00137)
        worstLog = std::max(worstLog, std::fabs(fastPow::log2(x) - std::log2(x)));
    for (double x = 0.5; x < 2; x += 1.0 / 65536)
        worstLog = std::max(worstLog, std::fabs(fastPow::log2(x) - std::log2(x)));
    EXPECT_LT(worstLog, 3e-13); // absolute; up to 1000 ulps of log2 values near ±1000
    for (double x = 0.5; x < 2; x += 1.0 / 65536)
        ASSERT_NEAR(fastPow::log2(x), std::log2(x), 4e-16) << x;
}

namespace {

// Steps 1 to 6, an identity colour step (white balance by the record's gains) and levels 0 … 1
// written from the formulas with the library's pow and exp and the exact tables.
std::vector<uint16_t> referenceChain(const toneMappingSettings_t& s, const toneMapSource_t& src) {
    const toneMappingTables_t& t = s.tables;
    const size_t n = size_t(src.width) * src.height;
    std::vector<uint16_t> out(n * 3);
    const bool lc = s.localContrastEnabled, mask = s.maskEnabled;
    const double r = std::sqrt(src.hdrMean);
    const double tb = s.blackness * 0.05 * 10 * r;
    const double vb = std::pow(0.015 * std::pow(s.blackness, 0.8) * 10 * r, 2);
    const double C = s.compression;
    const double e = lc ? 1 / (C * (1 - s.lcStrength) + C * s.lcStrength * 0.5) : 1 / C;
    const double p = std::log(src.lcCorrection * 0.25) / std::log(src.hdrMean);
    const double m = s.micro * 0.25;
    for (size_t i = 0; i < n; ++i) {
        const float R0 = src.hdr[i * 3], G0 = src.hdr[i * 3 + 1], B0 = src.hdr[i * 3 + 2];
        const float X = 0.4124564f * R0 + 0.3575761f * G0 + 0.1804375f * B0;
        const float Yf = 0.2126729f * R0 + 0.7151522f * G0 + 0.072175f * B0;
        const float Z = 0.0193339f * R0 + 0.119192f * G0 + 0.9503041f * B0;
        double Y = 0;
        bool chromatic = false;
        if (X + Yf + Z > 1e-5f) {
            Y = Yf;
            chromatic = float(double(Yf) / double(X + Yf + Z)) >= 1e-5f;
        }
        const double Y0 = Y; // the way back to RGB goes through the pixel's own chromaticity
        double V = Y;
        if (lc) {
            const double f = src.lcPlaneFine[i] * 3.0637254902e-5;
            const double md = src.lcPlaneMedium[i] * 3.0637254902e-5,
                         co = src.lcPlaneCoarse[i] * 3.0637254902e-5;
            const double rho = s.range;
            double L = rho < 0.5 ? (0.5 - rho) * 2 * f + (1 - (0.5 - rho) * 2) * md
                                 : (1 - (rho - 0.5) * 2) * md + (rho - 0.5) * 2 * co;
            if (f > L) L = 0.75 * L + 0.25 * f;
            if (tb > Y && vb > 0) {
                const double g = std::min(1.0, std::exp(-(Y - tb) * (Y - tb) / (2 * vb)));
                L *= g;
                Y *= g;
            }
            if (Y > 0.75) L = std::min(1.0, L * (std::pow(Y, 40) + 1));
            const double q = std::pow(Y, p);
            const double A = ((1 - q) * L + q) * (1 - s.highlights) + L * s.highlights;
            V = std::min(1.0,
                         (q * A * s.shadows + (1 - s.shadows) * A) * s.lcStrength + (1 - s.lcStrength) * Y);
            V = ((1 - (1 - f) * (1 - V)) * V + f * V * (1 - V)) * m + (1 - m) * V;
            V = std::clamp(V, 0.0, 1.0);
        }
        const double Yc = std::pow(V, e);
        double c[3] = {0, 0, 0};
        if (chromatic)
            for (int k = 0; k < 3; ++k)
                c[k] = std::clamp(double(src.hdr[i * 3 + k]) * (Yc / Y0), 0.0, 1.0);
        for (int k = 0; k < 3; ++k)
            c[k] = t.outputLUT[k][size_t(c[k] * 32639)];
        const int row = src.maskPlane ? src.maskPlane[i] >> 4 : 2047;
        if (mask && row < 2047)
            for (int k = 0; k < 3; ++k)
                c[k] = t.tmTable[size_t(row) * 2048 + size_t(std::clamp(c[k], 0.0, 1.0) * 2047)];
        // White balance and the colour matrix (with neutral settings these still round differently
        // from doing nothing).
        auto lum = [](const double* v) { return 0.3086 * v[0] + 0.6094 * v[1] + 0.082 * v[2]; };
        const double l0 = lum(c), wgt = std::pow(l0, 15);
        for (int k = 0; k < 3; ++k)
            c[k] = c[k] * t.wbGain[k] * (1 - wgt) + c[k] * wgt;
        const double l1 = lum(c);
        for (int k = 0; k < 3; ++k)
            c[k] = std::clamp(l1 > 0.0001 ? c[k] * (l0 / l1) : c[k], 0.0, 1.0);
        const colorMatrix_t cm = buildColorMatrix(s.saturation, (s.hue - 1) * 180);
        for (int k = 0; k < 3; ++k)
            out[i * 3 + k] =
                uint16_t(code(c[0] * cm.m[0][k] + c[1] * cm.m[1][k] + c[2] * cm.m[2][k] + cm.m[3][k]));
    }
    return out;
}

} // namespace

// Every 16-bit input level as grey and in three colours, local contrast and Mask on and off, the
// slider ends of compression, gamma, strength, shadows, highlights, blackness and micro detail, and
// extreme picture means: the fast chain stays within one output code of the exact one.
TEST(fastPath, chainMatchesExactFormulasForEvery16BitInput) {
    const int w = 65536, h = 4;
    std::vector<float> hdr(size_t(w) * h * 3);
    std::vector<uint16_t> fine(size_t(w) * h), medium(fine.size()), coarse(fine.size()), mask(fine.size());
    const float tint[4][3] = {{1, 1, 1}, {1, 0.6f, 0.3f}, {0.2f, 1, 0.5f}, {0.35f, 0.4f, 1}};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + x;
            for (int c = 0; c < 3; ++c)
                hdr[i * 3 + c] = float(x / 65535.0) * tint[y][c];
            fine[i] = uint16_t((x * 7919u + y * 104729u) % 32641u);
            medium[i] = uint16_t((x * 2u + y * 5000u) % 32641u);
            coarse[i] = uint16_t((32640u - x / 2u + y * 77u) % 32641u);
            mask[i] = uint16_t((x * 40503u + y) % 32768u);
        }
    toneMapSource_t src;
    src.width = w;
    src.height = h;
    src.hdr = hdr.data();
    src.lcPlaneFine = fine.data();
    src.lcPlaneMedium = medium.data();
    src.lcPlaneCoarse = coarse.data();
    src.maskPlane = mask.data();

    struct setting {
        bool lc, mask;
        double compression, gamma, strength, shadows, highlights, blackness, micro, maskStrength, mean, corr;
    };
    const setting settings[] = {
        {false, false, 1.4, 0.9, 0.3, 0.3, 0.3, 0.3, 0.3, 0.3, 0.12, 0.8},
        {false, false, 0.1, 4.0, 0, 0, 0, 0, 0, 0, 0.5, 1.0},
        {false, false, 4.0, 0.1, 0, 0, 0, 0, 0, 0, 0.5, 1.0},
        {true, true, 1.4, 0.9, 0.3, 0.3, 0.3, 0.3, 0.3, 0.3, 0.08, 0.8},
        {true, true, 0.1, 0.1, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 0.001, 0.51},
        {true, true, 4.0, 4.0, 1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.9, 1.0},
        {true, false, 2.0, 2.2, 0.7, 0.9, 0.1, 1.0, 0.5, 0.6, 0.02, 0.6},
    };
    for (const setting& c : settings) {
        toneMappingSettings_t s;
        ASSERT_TRUE(s.tables.allocate());
        s.localContrastEnabled = c.lc;
        s.maskEnabled = c.mask;
        s.compression = c.compression;
        s.gamma = c.gamma;
        s.lcStrength = c.strength;
        s.shadows = c.shadows;
        s.highlights = c.highlights;
        s.blackness = c.blackness;
        s.micro = c.micro;
        s.maskStrength = c.maskStrength;
        s.sharpness = 0;
        rebuildToneMappingTables(s, toneMappingChange::everything);
        s.tables.wbGain[0] = s.tables.wbGain[1] = s.tables.wbGain[2] = 1.0;
        src.hdrMean = c.mean;
        src.lcCorrection = c.corr;
        std::vector<uint16_t> out(size_t(w) * h * 3);
        ASSERT_TRUE(runToneMapping(s, src, out.data(), nullptr, false));
        const std::vector<uint16_t> exact = referenceChain(s, src);
        int worst = 0;
        size_t differing = 0;
        for (size_t i = 0; i < out.size(); ++i) {
            const int d = std::abs(int(out[i]) - int(exact[i]));
            worst = std::max(worst, d);
            differing += d != 0;
        }
        RecordProperty("differing", int(differing));
        EXPECT_LE(worst, 1) << "compression " << c.compression << " gamma " << c.gamma;
        EXPECT_LE(differing, out.size() / 10000) << "compression " << c.compression << " gamma " << c.gamma;
    }
}

// The preview renders from the colours its histogram pass kept: byte for byte what the full render
// pass (sharpening, levels) gives, with 1, 2 and 3 threads.
TEST(fastPath, previewFromKeptColoursEqualsFullRenderPass) {
    const int w = 203, h = 151;
    std::vector<float> hdr(size_t(w) * h * 3);
    std::vector<uint16_t> planes[4];
    for (auto& p : planes)
        p.resize(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + x;
            const float v = 0.02f + 0.9f * std::pow(float(x + 1) / w, 1.5f) * (0.2f + 0.8f * float(y) / h);
            hdr[i * 3] = v;
            hdr[i * 3 + 1] = std::min(1.0f, v * (1.0f + 0.5f * std::sin(0.1f * y)));
            hdr[i * 3 + 2] = v * 0.5f;
            for (int k = 0; k < 4; ++k)
                planes[k][i] = uint16_t((x * (31 + k) * 37 + y * (17 + 9 * k) * 41) % 32641);
        }
    std::vector<int16_t> detail(size_t(w) * h);
    std::vector<uint16_t> scratch(size_t(w) * h);
    toneMapSource_t src;
    src.width = w;
    src.height = h;
    src.hdr = hdr.data();
    src.lcPlaneFine = planes[0].data();
    src.lcPlaneMedium = planes[1].data();
    src.lcPlaneCoarse = planes[2].data();
    src.maskPlane = planes[3].data();
    src.hdrMean = 0.1;
    src.lcCorrection = 0.7;
    computeDetailPlane(w * 3, h * 3, hdr.data(), detail.data(), scratch.data(), w, h, false, src.detailScale,
                       1.0 / 3);
    src.detailPlane = detail.data();

    toneMappingSettings_t s;
    ASSERT_TRUE(s.tables.allocate());
    s.localContrastEnabled = s.maskEnabled = true;
    s.sharpness = 0.9;
    s.blackLevel = 0.1; // levels that stretch, so that the comparison covers them
    s.whiteLevel = 0.85;
    s.saturation = 1.5;
    rebuildToneMappingTables(s, toneMappingChange::everything);

    std::vector<uint8_t> first;
    for (int threads : {1, 2, 3}) {
        setThreadCountOverride(threads);
        std::vector<uint8_t> fast(size_t(w) * h * 3), full(fast.size());
        const previewOutcome_t outcome = toneMapPreviewPasses(s, src, nullptr, fast.data(), false);
        EXPECT_TRUE(outcome.renderedDisplay);
        ASSERT_TRUE(runToneMapping(s, src, nullptr, full.data(), false));
        EXPECT_EQ(fast, full) << threads;
        if (first.empty()) first = fast;
        EXPECT_EQ(fast, first) << threads;
        // The 16-bit finish equals the 16-bit render pass as well.
        std::vector<double> kept(size_t(w) * h * 3);
        ASSERT_TRUE(runToneMapping(s, src, nullptr, nullptr, true, kept.data()));
        std::vector<uint16_t> fast16(fast.size()), full16(fast.size());
        ASSERT_TRUE(finishToneMapping(s, src, kept.data(), fast16.data(), nullptr));
        ASSERT_TRUE(runToneMapping(s, src, full16.data(), nullptr, false));
        EXPECT_EQ(fast16, full16) << threads;
    }
    setThreadCountOverride(0);
    EXPECT_FALSE(finishToneMapping(s, src, nullptr, nullptr, first.data())); // nothing kept
}
