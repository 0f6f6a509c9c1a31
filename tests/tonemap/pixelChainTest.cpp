// The per-pixel chain, the colour matrix, the detail plane and the preview and full-resolution drivers.

#include "tonemap/pixelChain.h"
#include "base/parallelFor.h"
#include "base/runContext.h"
#include "support/syntheticPictures.h"
#include "support/testSupport.h"
#include "tonemap/colorMatrix.h"
#include "tonemap/detailPlane.h"
#include "tonemap/picturePasses.h"
#include "tonemap/rebuildOnChange.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <random>

using namespace halvora;
using halvora::test::testPicture;

namespace {

std::vector<uint16_t> syntheticPlane(int w, int h, int phase) {
    std::vector<uint16_t> plane(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            plane[size_t(y) * w + x] = uint16_t((x * 97 + y * 31 + phase * 1009) % 32641);
    return plane;
}

struct chainFixture : ::testing::Test {
    static constexpr int w = 67, h = 43;
    toneMappingSettings_t s;
    std::vector<float> picture = testPicture(w, h);
    toneMapSource_t source;

    void SetUp() override {
        ASSERT_TRUE(s.tables.allocate());
        s.localContrastEnabled = false;
        s.maskEnabled = false;
        s.sharpness = 0;
        rebuildToneMappingTables(s, toneMappingChange::everything);
        source.width = w;
        source.height = h;
        source.hdr = picture.data();
        source.hdrMean = 0.12;
        source.lcCorrection = 0.8;
    }
    std::vector<uint16_t> render16() {
        std::vector<uint16_t> out(size_t(w) * h * 3, 0xffff);
        EXPECT_TRUE(runToneMapping(s, source, out.data(), nullptr, false));
        return out;
    }
};

} // namespace

TEST_F(chainFixture, whiteIs32639AndLevelsStretch) {
    std::vector<float> white(size_t(w) * h * 3, 1.0f);
    source.hdr = white.data();
    s.whiteLevel = 0.98;
    std::vector<uint16_t> out = render16();
    EXPECT_EQ(out[0], 32639);
    EXPECT_EQ(out[1], 32639);
    EXPECT_EQ(out[2], 32639);
    std::vector<uint8_t> out8(size_t(w) * h * 3);
    ASSERT_TRUE(runToneMapping(s, source, nullptr, out8.data(), false));
    EXPECT_EQ(out8[0], 255);
    // Black level: a mid grey well below it becomes 0.
    std::vector<float> grey(size_t(w) * h * 3, 0.01f);
    source.hdr = grey.data();
    s.blackLevel = 0.5;
    out = render16();
    EXPECT_EQ(out[0], 0);
}

TEST_F(chainFixture, hostileSourceValuesGiveDefinedPixels) {
    std::vector<float> bad(size_t(w) * h * 3, 0.5f);
    bad[0] = std::nanf("");
    bad[1] = std::nanf("");
    bad[2] = std::nanf("");
    bad[3] = INFINITY;
    bad[4] = INFINITY;
    bad[5] = INFINITY;
    bad[6] = -5;
    bad[7] = -1e30f;
    bad[8] = -INFINITY;
    source.hdr = bad.data();
    s.localContrastEnabled = true;
    std::vector<uint16_t> planes = syntheticPlane(w, h, 1);
    source.lcPlaneFine = source.lcPlaneMedium = source.lcPlaneCoarse = source.maskPlane = planes.data();
    s.maskEnabled = true;
    source.hdrMean = 5; // nonsense statistics must not turn into NaN either
    source.lcCorrection = -3;
    const std::vector<uint16_t> out = render16();
    EXPECT_EQ(out[0], 0); // NaN reads as black
    EXPECT_EQ(out[6], 0); // negative as black
    for (uint16_t v : out)
        ASSERT_LE(v, 32639);
}

TEST_F(chainFixture, greyIsUntouchedBySelectiveSaturation) {
    std::vector<float> greys(size_t(w) * h * 3);
    for (size_t i = 0; i < size_t(w) * h; ++i)
        greys[i * 3] = greys[i * 3 + 1] = greys[i * 3 + 2] = float(i) / (w * h - 1);
    source.hdr = greys.data();
    s.tables.wbGain[0] = s.tables.wbGain[1] = s.tables.wbGain[2] = 1.0; // greys stay grey up to step 8
    const std::vector<uint16_t> plain = render16();
    for (int t = 0; t < 2; ++t)
        for (size_t j = 0; j < s.tables.selectiveTable[t].size(); ++j)
            s.tables.selectiveTable[t][j] = (j % 3 == 0) ? -1.0 : 1.0;
    s.tables.hueSelectiveActive = s.tables.brightnessSelectiveActive = true;
    // The trip through XYZ leaves greys grey only to about 3e-7; where that straddles an output-table
    // step the two selective factors (at most 2 each) see a tint of one table step: at most 4 steps.
    const std::vector<uint16_t> selective = render16();
    size_t unchanged = 0;
    for (size_t i = 0; i < plain.size(); ++i) {
        ASSERT_LE(std::abs(int(selective[i]) - int(plain[i])), 4) << i;
        unchanged += selective[i] == plain[i];
    }
    EXPECT_GT(unchanged, plain.size() * 9 / 10);
    // A coloured pixel does change.
    source.hdr = picture.data();
    const std::vector<uint16_t> coloured = render16();
    s.tables.hueSelectiveActive = s.tables.brightnessSelectiveActive = false;
    EXPECT_NE(render16(), coloured);
}

TEST_F(chainFixture, whiteBalanceFadesOutTowardsWhite) {
    s.tables.wbGain[0] = 1.3;
    s.tables.wbGain[1] = 0.9;
    s.tables.wbGain[2] = 1.0;
    std::vector<float> px(size_t(w) * h * 3, 0.0f);
    for (int k = 0; k < 3; ++k)
        px[k] = 0.2f; // dark grey: balanced
    for (int k = 3; k < 6; ++k)
        px[k] = 1.0f; // white: left almost unbalanced
    source.hdr = px.data();
    const std::vector<uint16_t> out = render16();
    EXPECT_GT(out[0], out[1] + 1000);
    EXPECT_NEAR(int(out[3]), int(out[4]), 40);
}

// Identical output, histograms and clip results for 1, 2 and 3 threads with every step on.
TEST_F(chainFixture, oneAndManyThreadsGiveIdenticalOutput) {
    std::vector<uint16_t> fine = syntheticPlane(w, h, 1), medium = syntheticPlane(w, h, 2),
                          coarse = syntheticPlane(w, h, 3), mask = syntheticPlane(w, h, 4);
    std::vector<int16_t> detail(size_t(w) * h);
    std::vector<uint16_t> scratch(size_t(w) * h);
    double detailScale = 0;
    s.localContrastEnabled = s.maskEnabled = true;
    s.sharpness = 0.8;
    s.saturation = 1.4;
    s.hue = 1.3;
    s.autoClipping = true;
    s.blackClip = 0.5;
    s.whiteClip = 1.0;
    s.curves[2].identity = false;
    s.curves[2].kneePoints = {{0, 0.05}, {0.4, 0.5}, {1, 0.9}};
    rebuildToneMappingTables(s, toneMappingChange::everything);
    s.tables.wbGain[0] = 1.1;
    for (size_t j = 0; j < 32640; ++j) {
        s.tables.selectiveTable[0][j] = 0.5 * std::sin(j * 0.001);
        s.tables.selectiveTable[1][j] = -0.3 * std::cos(j * 0.0007);
    }
    s.tables.hueSelectiveActive = s.tables.brightnessSelectiveActive = true;
    source.lcPlaneFine = fine.data();
    source.lcPlaneMedium = medium.data();
    source.lcPlaneCoarse = coarse.data();
    source.maskPlane = mask.data();

    struct result {
        std::vector<uint8_t> preview;
        std::vector<uint16_t> full;
        std::vector<int16_t> detail;
        std::vector<uint32_t> histogram;
        double black, white, blackResult, whiteResult;
    };
    auto run = [&](int threads) {
        setThreadCountOverride(threads);
        result r;
        computeDetailPlane(w * 4, h * 4, picture.data(), detail.data(), scratch.data(), w, h, true,
                           detailScale, 0.25);
        source.detailPlane = detail.data();
        source.detailScale = detailScale;
        r.detail = detail;
        r.preview.assign(size_t(w) * h * 3, 0);
        toneMapPreviewPasses(s, source, nullptr, r.preview.data(), false);
        r.histogram = s.tables.histogram[0];
        r.black = s.blackLevel;
        r.white = s.whiteLevel;
        r.blackResult = s.blackClipResult;
        r.whiteResult = s.whiteClipResult;
        r.full = render16();
        setThreadCountOverride(0);
        return r;
    };
    const result one = run(1);
    for (int threads : {2, 3}) {
        const result many = run(threads);
        EXPECT_EQ(many.detail, one.detail) << threads;
        EXPECT_EQ(many.preview, one.preview) << threads;
        EXPECT_EQ(many.full, one.full) << threads;
        EXPECT_EQ(many.histogram, one.histogram) << threads;
        EXPECT_EQ(many.black, one.black);
        EXPECT_EQ(many.white, one.white);
        EXPECT_EQ(many.blackResult, one.blackResult);
        EXPECT_EQ(many.whiteResult, one.whiteResult);
    }
    EXPECT_GT(one.white, one.black);
}

// One progress unit of 100 at every pixel index that is a multiple of 100 (whatever the thread's
// first pixel), and a cancelled run stops after the pixel it is on.
TEST_F(chainFixture, progressAtEveryHundredthPixelAndCancellation) {
    s.localContrastEnabled = true;
    const std::vector<uint16_t> plane = syntheticPlane(w, h, 5);
    std::vector<uint8_t> out(size_t(w) * h * 3, 77);
    std::vector<double> kept(size_t(w) * h * 3, 0.5);
    toneMapping_threadParams_t p;
    p.pixelCount = w * h;
    p.width = w;
    p.height = h;
    p.hdr = picture.data();
    p.lcPlaneFine = p.lcPlaneMedium = p.lcPlaneCoarse = plane.data();
    p.out8 = out.data();
    p.settings = &s;
    p.keptColor = kept.data();
    const int32_t ranges[3][2] = {{150, 1050}, {0, 250}, {1000, 1001}};
    const uint64_t expected[3] = {900, 300, 100}; // 200 … 1000; 0, 100, 200; 1000
    for (int r = 0; r < 3; ++r) {
        p.firstPixel = ranges[r][0];
        p.endPixel = ranges[r][1];
        for (int finish = 0; finish < 2; ++finish) {
            runContext run(1);
            runContext::scope bind(run);
            finish ? toneMappingFinish(p) : toneMapping(p);
            EXPECT_EQ(run.progressDone(), expected[r]) << r << " " << finish;
        }
    }
    for (int finish = 0; finish < 2; ++finish) {
        std::fill(out.begin(), out.end(), uint8_t(77));
        p.firstPixel = 300;
        p.endPixel = 900;
        runContext run(1);
        runContext::scope bind(run);
        run.cancel();
        finish ? toneMappingFinish(p) : toneMapping(p);
        EXPECT_EQ(std::count(out.begin(), out.end(), uint8_t(77)), std::ptrdiff_t(out.size() - 3)) << finish;
        EXPECT_EQ(out[300 * 3 + 3], 77) << "the pixel after the first is not written";
    }
}

TEST(colorMatrix, saturationRowsAndLuminancePreservingHue) {
    const colorMatrix_t sat = buildColorMatrix(0.4, 0.0);
    const double a = 0.3086 * 0.6, b = 0.6094 * 0.6, c = 0.082 * 0.6;
    const double expected[3][3] = {{a + 0.4, a, a}, {b, b + 0.4, b}, {c, c, c + 0.4}};
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(sat.m[r][k], expected[r][k], 1e-6);

    std::mt19937 gen(3);
    std::uniform_real_distribution<double> u(0, 1);
    for (double degrees : {-180.0, -90.0, 30.0, 120.0, 180.0}) {
        const colorMatrix_t m = buildColorMatrix(1.0, degrees);
        for (int k = 0; k < 50; ++k) {
            const double in[3] = {u(gen), u(gen), u(gen)};
            double out[3];
            for (int col = 0; col < 3; ++col)
                out[col] = in[0] * m.m[0][col] + in[1] * m.m[1][col] + in[2] * m.m[2][col] + m.m[3][col];
            const double l0 = 0.3086 * in[0] + 0.6094 * in[1] + 0.082 * in[2];
            const double l1 = 0.3086 * out[0] + 0.6094 * out[1] + 0.082 * out[2];
            EXPECT_NEAR(l1, l0, 1e-5) << degrees;
        }
        // Greys stay grey.
        for (int col = 0; col < 3; ++col)
            EXPECT_NEAR(0.5 * (m.m[0][col] + m.m[1][col] + m.m[2][col]), 0.5, 1e-5);
    }
    // Hue 0 and Hue 2 are the same half turn; a full turn is no turn.
    const colorMatrix_t minus = buildColorMatrix(1.0, (0.0 - 1) * 180),
                        plus = buildColorMatrix(1.0, (2.0 - 1) * 180);
    const colorMatrix_t full = buildColorMatrix(1.0, 360.0);
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 4; ++k) {
            EXPECT_NEAR(minus.m[r][k], plus.m[r][k], 1e-5);
            EXPECT_NEAR(full.m[r][k], r == k ? 1.0 : 0.0, 1e-5);
        }
    // A small positive turn moves red towards yellow (green rises more than blue).
    const colorMatrix_t turn = buildColorMatrix(1.0, 20.0);
    EXPECT_GT(turn.m[0][1], turn.m[0][2]);
}

TEST(clipLevels, automaticClippingEdgeCases) {
    toneMappingSettings_t s;
    ASSERT_TRUE(s.tables.allocate());
    auto fill = [&](auto binOf) {
        s.tables.clearHistograms();
        for (int c = 1; c <= 3; ++c)
            for (int j = 0; j < 4096; ++j)
                s.tables.histogram[c][size_t(binOf(j))] += 10;
    };
    s.autoClipping = true;
    s.blackClip = 1.0;
    s.whiteClip = 2.0;

    // Uniform: 1 % is reached at bin 40 ((j + 1) / 40.96 ≥ 1), 98 % last holds at bin 4013.
    fill([](int j) { return j; });
    clipOutcome_t o = updateClipLevels(s, 40960);
    EXPECT_FALSE(o.disableBlack || o.disableWhite);
    EXPECT_EQ(s.blackLevel, 40 / 4095.0);
    EXPECT_EQ(s.whiteLevel, 4013 / 4095.0);
    EXPECT_NEAR(s.blackClipResult, 41 / 40.96, 1e-9);
    EXPECT_NEAR(s.whiteClipResult, 100 - 4014 / 40.96, 1e-9);

    // Everything in the first bin: lo = 0, hi = 1.
    fill([](int) { return 0; });
    updateClipLevels(s, 40960);
    EXPECT_EQ(s.blackLevel, 0.0);
    EXPECT_EQ(s.whiteLevel, 1 / 4095.0);

    // Everything in two low bins with a large white clip: lo would pass hi = 0; the levels stay
    // ordered and inside the histogram.
    fill([](int j) { return j < 3000 ? 0 : 1; });
    s.blackClip = 80;
    s.whiteClip = 30;
    updateClipLevels(s, 40960);
    EXPECT_EQ(s.blackLevel, 0.0);
    EXPECT_EQ(s.whiteLevel, 1 / 4095.0);

    // Everything in one high bin: lo ≥ hi with hi > 0 gives lo = hi − 1.
    fill([](int) { return 2000; });
    s.blackClip = 0.5;
    s.whiteClip = 0.5;
    updateClipLevels(s, 40960);
    EXPECT_EQ(s.whiteLevel, 1999 / 4095.0);
    EXPECT_EQ(s.blackLevel, 1998 / 4095.0);

    // A requested percentage of 0 asks to switch automatic clipping off and keeps that level.
    fill([](int j) { return j; });
    s.blackLevel = 0.123;
    s.blackClip = 0;
    s.whiteClip = 2.0;
    test::logCapture log;
    o = updateClipLevels(s, 40960);
    EXPECT_TRUE(o.disableBlack);
    EXPECT_FALSE(o.disableWhite);
    EXPECT_EQ(s.blackLevel, 0.123);
    EXPECT_EQ(s.whiteLevel, 4013 / 4095.0);
    EXPECT_TRUE(log.contains("disableAutoClipping\n"));
}

TEST(clipLevels, stretchInPlace) {
    std::vector<uint8_t> px{0, 25, 26, 100, 229, 230, 255};
    stretchLevels(px.data(), int64_t(px.size()), 0.1, 0.9);
    // ⌊(b − 25.5) / 0.8⌋ clamped
    const std::vector<uint8_t> expected{0, 0, 0, 93, 254, 255, 255};
    EXPECT_EQ(px, expected);
}

TEST(detailPlane, smoothingKeepsFlatPlanesAndWrapsInPanoramaMode) {
    const int w = 40, h = 6;
    std::vector<uint16_t> flat(size_t(w) * h, 20000);
    recursiveSmooth(flat.data(), w, h, false, 3.0);
    for (uint16_t v : flat) {
        EXPECT_LE(v, 20000);
        EXPECT_GE(v, 19996); // the filter's 65535 / 65536 gain loses a step or two
    }
    // An impulse next to the left edge reaches the right edge only around the seam.
    auto impulse = [&](bool panorama) {
        std::vector<uint16_t> p(size_t(w) * h, 0);
        for (int y = 0; y < h; ++y)
            p[size_t(y) * w + 1] = 30000;
        recursiveSmooth(p.data(), w, h, panorama, 4.0);
        return p;
    };
    const std::vector<uint16_t> plain = impulse(false), wrapped = impulse(true);
    EXPECT_EQ(plain[size_t(2) * w + w - 2], 0);
    EXPECT_GT(wrapped[size_t(2) * w + w - 2], 100);
    EXPECT_EQ(wrapped[size_t(2) * w + w - 1], wrapped[size_t(2) * w + w - 2]); // border copies
    // Degenerate values do nothing.
    std::vector<uint16_t> same = plain;
    recursiveSmooth(same.data(), w, h, false, 0.0);
    recursiveSmooth(same.data(), w, h, false, std::nan(""));
    EXPECT_EQ(same, plain);
}

TEST(detailPlane, signAndScale) {
    const int w = 64, h = 16;
    std::vector<float> rgb(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                rgb[(size_t(y) * w + x) * 3 + c] = x < w / 2 ? 0.05f : 0.6f;
    std::vector<int16_t> detail(size_t(w) * h), withoutScratch(size_t(w) * h);
    std::vector<uint16_t> scratch(size_t(w) * h);
    double scale = 0;
    ASSERT_TRUE(
        computeDetailPlane(300, 300, rgb.data(), detail.data(), scratch.data(), w, h, false, scale, 1.0));
    EXPECT_NEAR(scale, std::sqrt(0.5), 1e-12); // σ below one pixel scales the detail instead
    const size_t row = size_t(8) * w;
    EXPECT_GT(detail[row + w / 2], 1000);      // bright side of the edge
    EXPECT_LT(detail[row + w / 2 - 1], -1000); // dark side
    // Flat areas carry almost nothing: the filter's gain of 65535 / 65536 leaves a bias of a few steps.
    EXPECT_NEAR(detail[row + 3], 0, 12);
    ASSERT_TRUE(
        computeDetailPlane(300, 300, rgb.data(), withoutScratch.data(), nullptr, w, h, false, scale, 1.0));
    EXPECT_EQ(withoutScratch, detail);
    ASSERT_TRUE(
        computeDetailPlane(6000, 4000, rgb.data(), detail.data(), scratch.data(), w, h, false, scale, 1.0));
    EXPECT_EQ(scale, 1.0);
}
