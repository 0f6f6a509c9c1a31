// The HDR preprocess (curves, histogram, gamma search, uniform and hostile pictures), the range of
// an opened radiance picture and the LDR enhancement conversion, with any thread count.

#include "hdr/hdrPreprocess.h"
#include "base/parallelFor.h"
#include "support/testSupport.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace {

TEST(hdrPreprocess, curvesHistogramAndGammaSearch) {
    // Reference curves at values spread over many binades.
    std::vector<float> rgb;
    for (int e = -30; e <= 0; ++e)
        for (double m : {1.0, 1.1, 1.37, 1.5, 1.93})
            if (std::ldexp(m, e) <= 1.0) rgb.push_back(float(std::ldexp(m, e)));
    while (rgb.size() % 3)
        rgb.push_back(0.5f);
    // White pixels (more than 2 %): the top is already at 1, so no exposure normalisation lifts it.
    rgb.insert(rgb.end(), 30, 1.0f);
    for (int method : {0, 1, 2}) {
        std::vector<float> v = rgb;
        halvora::applyGammaHDR(v.data(), v.size() / 3, method, 0.0, 1.0);
        for (size_t i = 0; i < v.size(); ++i) {
            const double x = rgb[i];
            const double expected = method == 0   ? 1.5385 * std::pow(x, 0.6) - 0.5385 * std::pow(x, 1.3)
                                    : method == 1 ? std::pow(x, 1.35)
                                                  : x;
            ASSERT_NEAR(v[i], std::clamp(expected, 0.0, 1.0), 2e-7 + 1e-6 * expected) << method << " " << x;
        }
    }

    // Stack keeps values: a grey picture at 0.02 gives hs = 0.02, he just below it, median 0.02.
    std::vector<float> grey(3000, 0.02f);
    halvora::test::logCapture log;
    const auto s = halvora::applyGammaHDR(grey.data(), 1000, 2, 0.0, 1.0);
    // hs^g ≥ 0.04 first holds for g = 0.82 (0.02^0.82 = 0.0405); he^g stays below 0.2.
    EXPECT_NEAR(s.lcCorrection, 0.82, 1e-9);
    const int bin = int(16383.0f * 0.02f);
    EXPECT_NEAR(s.hdrMean, bin / 16384.0 + 0.001, 1e-12);
    EXPECT_TRUE(log.contains("HDR preprocess...\n"));
    EXPECT_TRUE(log.contains("lcCorrection=0.82"));

    // A bright picture stops at once: he = 0.9 ≥ 0.2 for g = 1.
    std::vector<float> bright(3000, 0.05f);
    std::fill(bright.begin() + 2700, bright.end(), 0.9f);
    EXPECT_NEAR(halvora::applyGammaHDR(bright.data(), 1000, 2, 0.0, 1.0).lcCorrection, 1.0, 1e-9);
}

// A scene whose maximum is a small, very bright area: 90 % ground at 0.25, 8.5 % sky at 1 and a
// 1.5 % sun at 1000. The brightest 2 % are the sun and part of the sky, so the sky (0.001 after the
// division by the maximum) is lifted to the knee 0.8: gain 800, the ground to 0.2, the sun rolled off
// to 1 — before the True HDR curve.
TEST(hdrPreprocess, smallBrightAreaNoLongerDarkensTheRest) {
    const size_t pixels = 10000;
    std::vector<float> rgb(pixels * 3);
    for (size_t i = 0; i < pixels; ++i) {
        const float v = i < 9000 ? 0.25f : i < 9850 ? 1.0f : 1000.0f;
        rgb[i * 3] = rgb[i * 3 + 1] = rgb[i * 3 + 2] = v;
    }
    const auto curve = [](double x) { return 1.5385 * std::pow(x, 0.6) - 0.5385 * std::pow(x, 1.3); };
    for (int threads : {1, 3}) {
        halvora::setThreadCountOverride(threads);
        std::vector<float> v = rgb;
        halvora::applyGammaHDR(v.data(), pixels, 0, 0.0, 1000.0);
        // The sky's luminance is known to one bin of the log histogram (under 1.6 %): the values within 1 %.
        EXPECT_NEAR(v[0], curve(0.2), curve(0.2) * 0.01);
        EXPECT_NEAR(v[9000 * 3], curve(0.8), curve(0.8) * 0.01);
        EXPECT_FLOAT_EQ(v[9900 * 3], 1.0f);
        // Without the sun nothing moves: its top is already white.
        std::vector<float> noSun(rgb.begin(), rgb.begin() + 9850 * 3);
        halvora::applyGammaHDR(noSun.data(), 9850, 0, 0.0, 1.0);
        EXPECT_NEAR(noSun[0], curve(0.25), 1e-5);
        EXPECT_NEAR(noSun[9000 * 3], 1.0, 1e-6);
    }
    halvora::setThreadCountOverride(0);
}

// The roll-off above the knee: grey rises strictly up to white at the maximum and joins the linear part
// without a kink; a saturated highlight keeps its luminance ordering and stays inside 0…1.
TEST(hdrPreprocess, rollOffIsSmoothMonotoneAndInRange) {
    std::vector<uint64_t> histogram(halvora::kLogLuminanceBins, 0);
    histogram[size_t(halvora::logLuminanceBin(1.0f / 1024))] = 980; // the scene, 10 stops below
    histogram[size_t(halvora::logLuminanceBin(1.0f))] = 15;         // a lamp, 1.5 %
    const halvora::exposureNormalisation n = halvora::exposureNormalisationFor(histogram.data(), 1000);
    ASSERT_GT(n.gain, 700.0f);
    ASSERT_LT(n.gain, 820.0f);
    const auto grey = [&](double t) {
        float c[3] = {float(t), float(t), float(t)};
        n.apply(c);
        return double(c[1]);
    };
    double previous = -1;
    for (double t = 1e-6; t <= 1.0; t *= 1.01) {
        const double v = grey(t);
        ASSERT_GT(v, previous) << t;
        ASSERT_LE(v, 1.0);
        previous = v;
    }
    EXPECT_NEAR(grey(1.0), 1.0, 1e-5);
    EXPECT_NEAR(grey(0.5 / n.gain), 0.5, 1e-5); // linear below the knee
    // Slopes just below and above the knee agree (both 1 in units of the gained value).
    const double k = n.knee / n.gain, d = 1e-4 / n.gain;
    const double below = (grey(k) - grey(k - d)) / (d * n.gain);
    const double above = (grey(k + d) - grey(k)) / (d * n.gain);
    EXPECT_NEAR(below, 1.0, 0.01);
    EXPECT_NEAR(above, 1.0, 0.01);
    // Saturated orange highlights: channels stay in 0…1 and brighter input is never darker.
    double previousY = -1;
    for (double t = 0.5 / n.gain; t <= 1.0; t *= 1.05) {
        float c[3] = {float(t), float(t * 0.4), float(t * 0.05)};
        n.apply(c);
        for (float x : c)
            ASSERT_TRUE(x >= 0.0f && x <= 1.0f) << t;
        const double y = 0.3086 * c[0] + 0.6094 * c[1] + 0.082 * c[2];
        ASSERT_GE(y, previousY - 1e-6) << t;
        previousY = y;
    }
}

TEST(hdrPreprocess, uniformAndHostilePictures) {
    // hdrMin == hdrMax: normalised by the maximum, so a lit uniform scene is white and a black one black.
    std::vector<float> uniform(300, 5.0f);
    halvora::applyGammaHDR(uniform.data(), 100, 0, 5.0, 5.0);
    for (float v : uniform)
        ASSERT_EQ(v, 1.0f);
    std::vector<float> black(300, 0.0f);
    const auto s = halvora::applyGammaHDR(black.data(), 100, 0, 0.0, 0.0);
    for (float v : black)
        ASSERT_EQ(v, 0.0f);
    EXPECT_TRUE(std::isfinite(s.lcCorrection) && std::isfinite(s.hdrMean));

    // NaN and infinity in a loaded radiance picture become finite values.
    std::vector<float> bad = {std::nanf(""), INFINITY, -INFINITY, 1.0f, 2.0f, 3.0f};
    halvora::applyGammaHDR(bad.data(), 2, 0, NAN, NAN);
    EXPECT_TRUE(halvora::test::allFinite(bad));
    // (The NaN channel is 0 before the exposure normalisation, which may then lift it with its pixel.)
    for (float v : bad)
        EXPECT_TRUE(v >= 0.0f && v <= 1.0f) << v;
    EXPECT_EQ(bad[5], 1.0f);
}

TEST(hdrPreprocess, radianceRangeSkipsWhatIsNotFinite) {
    std::vector<float> rgb(3000, 1.0f);
    rgb[17] = -2.5f;
    rgb[2998] = 7000.0f;
    rgb[5] = std::nanf("");
    rgb[6] = INFINITY;
    rgb[7] = -INFINITY;
    for (int threads : {1, 4}) {
        halvora::setThreadCountOverride(threads);
        double lo = 0, hi = 0;
        halvora::radianceRange(rgb.data(), 1000, lo, hi);
        EXPECT_EQ(lo, -2.5);
        EXPECT_EQ(hi, 7000.0);
        // Nothing finite, or nothing at all: 0 and 0.
        std::vector<float> broken(30, std::nanf(""));
        halvora::radianceRange(broken.data(), 10, lo, hi);
        EXPECT_EQ(lo, 0.0);
        EXPECT_EQ(hi, 0.0);
        lo = hi = 5;
        halvora::radianceRange(rgb.data(), 0, lo, hi);
        EXPECT_EQ(lo, 0.0);
        EXPECT_EQ(hi, 0.0);
    }
    halvora::setThreadCountOverride(0);
}

TEST(hdrPreprocess, sameStatisticsAndPictureForAnyThreadCount) {
    // A dark picture over 14 stops (Stack keeps its values), so the histogram and the gamma search
    // have something to find.
    const size_t pixels = 200003;
    std::vector<float> source(pixels * 3);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = float(std::exp2(-14.0 + 14.0 * double((i * 7919) % pixels) / pixels)) *
                    (1.0f + 0.1f * float(i % 3));
    // True HDR also runs the exposure normalisation (the top of this picture lies 3 stops below its
    // maximum of 8, so it is lifted).
    for (int method : {2, 0}) {
        std::vector<float> result[2];
        halvora::hdrStatistics stats[2];
        const int threads[2] = {1, 5};
        for (int k = 0; k < 2; ++k) {
            halvora::setThreadCountOverride(threads[k]);
            result[k] = source;
            stats[k] = halvora::applyGammaHDR(result[k].data(), pixels, method, 0.0, 8.0);
        }
        halvora::setThreadCountOverride(0);
        EXPECT_TRUE(result[0] == result[1]) << method;
        EXPECT_EQ(stats[0].lcCorrection, stats[1].lcCorrection);
        EXPECT_EQ(stats[0].hdrMean, stats[1].hdrMean);
        if (method == 2) {
            EXPECT_LT(stats[0].lcCorrection, 1.0) << "a dark picture lowers the exponent";
        }
    }
}

TEST(ldrEnhancement, samplesBecomeRadianceUpToOne) {
    const std::vector<uint16_t> samples = {0, 128, 16320, 32640, 32639, 40000, 65535};
    std::vector<float> radiance(samples.size(), -1.0f);
    halvora::LDRenhancementPreprocess(samples.data(), radiance.data(), samples.size());
    EXPECT_EQ(radiance[0], 0.0f);
    EXPECT_FLOAT_EQ(radiance[1], 1.0f / 255.0f);
    EXPECT_FLOAT_EQ(radiance[2], 0.5f);
    EXPECT_FLOAT_EQ(radiance[3], 1.0f);
    EXPECT_FLOAT_EQ(radiance[4], 32639.0f / 32640.0f);
    EXPECT_EQ(radiance[5], 1.0f); // above full scale: still white
    EXPECT_EQ(radiance[6], 1.0f);
}

} // namespace
