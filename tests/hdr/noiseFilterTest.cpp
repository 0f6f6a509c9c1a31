// Noise filter: colour conversion, threshold rules, the wavelet denoise against a plain
// double-precision reference, behaviour on real-looking and hostile pictures, threads.

#include "hdr/noiseFilter.h"
#include "base/parallelFor.h"
#include "base/runContext.h"
#include "support/testSupport.h"

#include <QImage>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

using namespace halvora;

namespace {

/// Deterministic noise: a 64-bit LCG, approximately Gaussian through the sum of twelve uniforms.
class noiseSource {
public:
    explicit noiseSource(uint64_t seed) : state_(seed) {}
    double uniform() {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return double(state_ >> 11) * (1.0 / 9007199254740992.0);
    }
    double gaussian() {
        double s = 0;
        for (int i = 0; i < 12; ++i)
            s += uniform();
        return s - 6.0;
    }

private:
    uint64_t state_;
};

/// A clean synthetic scene: soft gradients with a bright rectangle and a dark disc (sharp edges).
std::vector<float> cleanScene(int w, int h) {
    std::vector<float> pic(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float* p = &pic[(size_t(y) * w + x) * 3];
            const double gx = double(x) / std::max(1, w - 1), gy = double(y) / std::max(1, h - 1);
            double r = 0.15 + 0.3 * gx, g = 0.2 + 0.25 * gy, b = 0.1 + 0.2 * gx * gy;
            if (x > w / 4 && x < w / 2 && y > h / 4 && y < 3 * h / 4) {
                r = 0.8;
                g = 0.7;
                b = 0.5;
            }
            const double dx = x - 0.75 * w, dy = y - 0.5 * h;
            if (dx * dx + dy * dy < 0.04 * w * h) {
                r = 0.03;
                g = 0.04;
                b = 0.06;
            }
            p[0] = float(r);
            p[1] = float(g);
            p[2] = float(b);
        }
    return pic;
}

std::vector<float> withNoise(const std::vector<float>& clean, double amount, uint64_t seed) {
    noiseSource n(seed);
    std::vector<float> pic = clean;
    for (float& v : pic)
        v = float(std::max(0.0, v + amount * n.gaussian()));
    return pic;
}

double rmse(const std::vector<float>& a, const std::vector<float>& b) {
    double s = 0;
    for (size_t i = 0; i < a.size(); ++i)
        s += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    return std::sqrt(s / double(a.size()));
}

/// The plane denoise written the plain way: whole-plane row pass, column pass and threshold pass
/// per level, in double precision.
std::vector<double> referenceDenoise(std::vector<double> plane, int w, int h, double sigma, double s) {
    auto reflect = [](int i, int n) {
        if (n == 1) return 0;
        while (i < 0 || i >= n) {
            if (i < 0) i = -i;
            if (i >= n) i = 2 * (n - 1) - i;
        }
        return i;
    };
    const size_t count = size_t(w) * h;
    std::vector<double> high = plane, rows(count), low(count);
    for (int level = 0; level < 5; ++level) {
        const int d = 1 << level;
        const double t = sigma * 0.8002 * std::exp(-2.6 * s * s * (std::sqrt(level + 1.0) - 1.0));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                rows[size_t(y) * w + x] =
                    (high[size_t(y) * w + reflect(x - d, w)] + 2 * high[size_t(y) * w + x] +
                     high[size_t(y) * w + reflect(x + d, w)]) /
                    4;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                low[size_t(y) * w + x] =
                    (rows[size_t(reflect(y - d, h)) * w + x] + 2 * rows[size_t(y) * w + x] +
                     rows[size_t(reflect(y + d, h)) * w + x]) /
                    4;
        for (size_t i = 0; i < count; ++i) {
            double detail = high[i] - low[i];
            detail = detail > t ? detail - t : (detail < -t ? detail + t : 0.0);
            plane[i] = level == 0 ? detail : plane[i] + detail;
        }
        high = low;
    }
    for (size_t i = 0; i < count; ++i)
        plane[i] += high[i];
    return plane;
}

} // namespace

TEST(noiseFilterColour, forwardValuesAndRoundTrip) {
    // sqrt(0.25, 0.64, 0.09) = (0.5, 0.8, 0.3): Y = 0.1495 + 0.4696 + 0.0342,
    // Cb = 0.15 − 0.08435 − 0.26504 + 0.5, Cr = 0.25 − 0.33496 − 0.02439 + 0.5.
    float px[3] = {0.25f, 0.64f, 0.09f};
    convertToSqrtYCbCr(px, 1);
    EXPECT_NEAR(px[0], 0.6533, 1e-6);
    EXPECT_NEAR(px[1], 0.30061, 1e-6);
    EXPECT_NEAR(px[2], 0.39065, 1e-6);

    // Grey stays on the grey axis: Y = sqrt(v), Cb = Cr = 0.5.
    float grey[3] = {0.36f, 0.36f, 0.36f};
    convertToSqrtYCbCr(grey, 1);
    EXPECT_NEAR(grey[0], 0.6, 1e-6);
    EXPECT_NEAR(grey[1], 0.5, 1e-6);
    EXPECT_NEAR(grey[2], 0.5, 1e-6);

    std::vector<float> pic;
    for (int r = 0; r <= 10; ++r)
        for (int g = 0; g <= 10; ++g)
            for (int b = 0; b <= 10; ++b) {
                pic.push_back(r / 10.0f);
                pic.push_back(g / 10.0f);
                pic.push_back(b / 10.0f);
            }
    const std::vector<float> original = pic;
    convertToSqrtYCbCr(pic.data(), pic.size() / 3);
    convertFromSqrtYCbCr(pic.data(), pic.size() / 3);
    // The JPEG matrix constants are rounded to 4–5 digits, so the way back is not an exact inverse.
    for (size_t i = 0; i < pic.size(); ++i)
        ASSERT_NEAR(pic[i], original[i], 3e-4) << "sample " << i;
}

TEST(noiseFilterColour, histogramAndHostileSamples) {
    // Greys 0.25 (Y 0.5 → bin 127), 1.0 (bin 255), 0 (bin 0), and samples far out of range.
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> pic = {0.25f, 0.25f, 0.25f, 1,     1,     1,     0,    0, 0,
                              -5,    nan,   inf,   3e38f, 3e38f, 3e38f, -inf, 2, 0};
    uint64_t hist[256];
    convertToSqrtYCbCr(pic.data(), pic.size() / 3, hist);
    EXPECT_EQ(hist[127], 1u);
    EXPECT_GE(hist[255], 3u); // white, the huge grey, and the clamped infinity
    EXPECT_GE(hist[0], 1u);
    uint64_t total = 0;
    for (uint64_t c : hist)
        total += c;
    EXPECT_EQ(total, 6u);
    convertFromSqrtYCbCr(pic.data(), pic.size() / 3);
    for (float v : pic) {
        EXPECT_TRUE(std::isfinite(v));
        EXPECT_GE(v, 0.0f);
    }
    EXPECT_NEAR(pic[0], 0.25f, 1e-5);
    EXPECT_EQ(pic[6], 0.0f);
    // (−5, NaN, ∞) became (0, 0, 1e30): blue at the ceiling, red and green negligible beside it.
    EXPECT_NEAR(pic[11], 1e30f, 1e27f);
    EXPECT_LT(pic[9], 1e-6f * pic[11]);
    EXPECT_LT(pic[10], 1e-6f * pic[11]);
}

TEST(noiseFilterThreshold, sigmaRules) {
    uint64_t hist[256] = {};
    hist[5] = 100;
    EXPECT_EQ(noiseMedianBin(hist, 100), 16); // dark picture
    std::fill(hist, hist + 256, 0);
    hist[20] = 10;
    hist[40] = 10;
    EXPECT_EQ(noiseMedianBin(hist, 20), 40); // half is not more than half
    hist[20] = 11;
    EXPECT_EQ(noiseMedianBin(hist, 21), 20);

    noiseFilterOptions_t o;
    o.strength = 2;
    o.photoIso = {800, 800, 800};
    o.rawNotDenoised = true;
    // 3000 / 3000 × 2 × 0.0006 × 100 / 128 = 0.0009375; × 1.6 × 1.4 ÷ 1.2 = 0.00175
    EXPECT_NEAR(noiseSigma(4000, 3000, 100, o), 0.00175, 1e-12);
    o.calibrated = true;
    EXPECT_NEAR(noiseSigma(4000, 3000, 100, o), 0.0009375, 1e-12);

    noiseFilterOptions_t small;
    small.strength = 3;
    small.photoIso = {200};
    // side below 600 counts as 600: 0.2 × 3 × 0.0006 × 16 / 128
    EXPECT_NEAR(noiseSigma(300, 200, 16, small), 0.000045, 1e-12);
    small.photoIso = {1600};
    EXPECT_NEAR(noiseSigma(300, 200, 16, small), 0.000045 * 1.8, 1e-12);
    small.photoIso = {400};
    EXPECT_NEAR(noiseSigma(300, 200, 16, small), 0.000045 * 1.4, 1e-12);
    small.photoIso = {399};
    EXPECT_NEAR(noiseSigma(300, 200, 16, small), 0.000045, 1e-12);
    // A photo without ISO counts as 100: (100 + 1600 + 1600) / 3 = 1100 → × 1.6, three photos ÷ 1.2.
    small.photoIso = {0, 1600, 1600};
    EXPECT_NEAR(noiseMeanIso(small.photoIso), 1100.0, 1e-9);
    EXPECT_NEAR(noiseSigma(300, 200, 16, small), 0.000045 * 1.6 / 1.2, 1e-12);
    small.strength = -4;
    EXPECT_EQ(noiseSigma(300, 200, 16, small), 0.0);
    EXPECT_EQ(noiseMeanIso({}), 100.0);
}

TEST(noiseFilterWavelet, matchesPlainReference) {
    // Sizes below, at and above the largest spacing (16), odd and prime sizes, single rows/columns.
    const int sizes[][2] = {{1, 1}, {2, 3}, {1, 7}, {9, 1}, {5, 40}, {33, 17}, {61, 47}};
    for (auto [w, h] : sizes) {
        noiseSource n(uint64_t(w) * 1000 + h);
        std::vector<float> pic(size_t(w) * h * 3);
        for (float& v : pic)
            v = float(0.4 + 0.2 * n.gaussian());
        for (int channel = 0; channel < 3; ++channel) {
            std::vector<double> plane(size_t(w) * h);
            for (size_t i = 0; i < plane.size(); ++i)
                plane[i] = pic[i * 3 + channel];
            const std::vector<double> expected = referenceDenoise(plane, w, h, 0.05, 0.7);
            ASSERT_TRUE(waveletDenoisePlane(pic.data(), w, h, channel, 0.05, 0.7));
            for (size_t i = 0; i < plane.size(); ++i)
                ASSERT_NEAR(pic[i * 3 + channel], expected[i], 2e-6)
                    << w << "x" << h << " channel " << channel << " pixel " << i;
        }
    }
}

TEST(noiseFilterPicture, flatPictureStaysFlat) {
    const int w = 37, h = 23;
    std::vector<float> pic(size_t(w) * h * 3);
    for (size_t i = 0; i < pic.size(); i += 3) {
        pic[i] = 0.3f;
        pic[i + 1] = 0.5f;
        pic[i + 2] = 0.2f;
    }
    noiseFilterOptions_t o;
    o.strength = 50;
    ASSERT_TRUE(noiseFilter(pic.data(), w, h, o));
    for (size_t i = 0; i < pic.size(); i += 3) {
        ASSERT_EQ(std::memcmp(&pic[i], &pic[0], 3 * sizeof(float)), 0) << "pixel " << i / 3;
    }
    EXPECT_NEAR(pic[0], 0.3f, 1e-4);
    EXPECT_NEAR(pic[1], 0.5f, 1e-4);
    EXPECT_NEAR(pic[2], 0.2f, 1e-4);
}

TEST(noiseFilterPicture, noisySceneGetsCloserToCleanAndKeepsEdges) {
    const int w = 320, h = 240;
    const std::vector<float> clean = cleanScene(w, h);
    std::vector<float> pic = withNoise(clean, 0.01, 12345);
    const double before = rmse(pic, clean);
    noiseFilterOptions_t o;
    o.strength = 40;
    o.softness = 4;
    ASSERT_TRUE(noiseFilter(pic.data(), w, h, o));
    const double after = rmse(pic, clean);
    EXPECT_LT(after, 0.65 * before) << "before " << before << " after " << after;

    // The left edge of the bright rectangle (x = 80 | 81, from 0.15 + 0.3 x / 319 to 0.8 in red)
    // stays a step: average the rows of the rectangle's middle and compare two pixels either side.
    auto columnMean = [&](int x) {
        double s = 0;
        for (int y = 80; y < 160; ++y)
            s += pic[(size_t(y) * w + x) * 3];
        return s / 80;
    };
    const double outside = columnMean(w / 4 - 1), inside = columnMean(w / 4 + 2);
    const double cleanStep = 0.8 - (0.15 + 0.3 * (w / 4 - 1) / double(w - 1));
    EXPECT_GT(inside - outside, 0.85 * cleanStep);
    EXPECT_NEAR(inside, 0.8, 0.03);
}

TEST(noiseFilterPicture, hostileSamplesAndTinySizesStayFinite) {
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    const float specials[] = {0.0f, -1.0f, -inf, inf, nan, 3e38f, 1e-30f, 0.5f, 1.0f};
    const int sizes[][2] = {{1, 1}, {2, 3}, {3, 2}, {17, 5}, {31, 33}};
    for (auto [w, h] : sizes) {
        std::vector<float> pic(size_t(w) * h * 3);
        for (size_t i = 0; i < pic.size(); ++i)
            pic[i] = specials[(i * 7 + 3) % 9];
        noiseFilterOptions_t o;
        o.strength = 1000;
        o.softness = 10;
        o.photoIso = {3200, 0};
        ASSERT_TRUE(noiseFilter(pic.data(), w, h, o)) << w << "x" << h;
        EXPECT_TRUE(test::allFinite(pic)) << w << "x" << h;
        for (float v : pic)
            EXPECT_GE(v, 0.0f);
    }
    std::vector<float> zeros(size_t(6) * 5 * 3, 0.0f);
    noiseFilterOptions_t o;
    ASSERT_TRUE(noiseFilter(zeros.data(), 6, 5, o));
    for (float v : zeros)
        EXPECT_EQ(v, 0.0f);
}

TEST(noiseFilterPicture, refusalsAndStrengthZero) {
    noiseFilterOptions_t o;
    std::vector<float> pic = withNoise(cleanScene(20, 10), 0.05, 3);
    EXPECT_FALSE(noiseFilter(nullptr, 20, 10, o));
    EXPECT_FALSE(noiseFilter(pic.data(), 0, 10, o));
    EXPECT_FALSE(noiseFilter(pic.data(), 20, -1, o));
    EXPECT_FALSE(waveletDenoisePlane(pic.data(), 20, 10, 3, 0.1, 1.0));

    const std::vector<float> original = pic;
    o.strength = 0;
    ASSERT_TRUE(noiseFilter(pic.data(), 20, 10, o));
    EXPECT_EQ(std::memcmp(pic.data(), original.data(), pic.size() * sizeof(float)), 0);
}

TEST(noiseFilterPicture, logProgressAndAbort) {
    const int w = 64, h = 48;
    std::vector<float> pic = withNoise(cleanScene(w, h), 0.01, 99);
    noiseFilterOptions_t o;
    o.photoIso = {800, 800, 800};
    o.rawNotDenoised = true;
    runContext run;
    runContext::scope bind(run);
    run.startProgress(1000000);
    {
        test::logCapture log;
        ASSERT_TRUE(noiseFilter(pic.data(), w, h, o));
        EXPECT_TRUE(log.contains("Noise filtering...\n"));
        EXPECT_TRUE(log.contains(", softness=3.000000, meanISO=800.000000, rawNotDenoised=1\n"));
        EXPECT_TRUE(log.contains("* strength=0.0"));
    }
    EXPECT_EQ(run.progressDone(), uint64_t(w + 2 * h) * 15);

    run.cancel();
    const bool ok = noiseFilter(pic.data(), w, h, o);
    EXPECT_FALSE(ok);
}

TEST(noiseFilterPicture, sameResultForAnyThreadCount) {
    test::threadCountGuard guard;
    // 5 rows with three threads: bands of one or two rows, far narrower than the spacings.
    const int sizes[][2] = {{157, 101}, {40, 5}, {3, 70}};
    for (auto [w, h] : sizes) {
        const std::vector<float> input = withNoise(cleanScene(w, h), 0.03, uint64_t(w) * h);
        noiseFilterOptions_t o;
        o.strength = 30;
        o.softness = 6;
        std::vector<std::vector<float>> results;
        for (int threads : {1, 2, 3}) {
            setThreadCountOverride(threads);
            std::vector<float> pic = input;
            ASSERT_TRUE(noiseFilter(pic.data(), w, h, o));
            results.push_back(std::move(pic));
        }
        EXPECT_EQ(std::memcmp(results[0].data(), results[1].data(), input.size() * sizeof(float)), 0)
            << w << "x" << h;
        EXPECT_EQ(std::memcmp(results[0].data(), results[2].data(), input.size() * sizeof(float)), 0)
            << w << "x" << h;
        EXPECT_NE(std::memcmp(results[0].data(), input.data(), input.size() * sizeof(float)), 0);
    }
}

TEST(noiseFilterPicture, realPhotoWithAddedNoise) {
    HALVORA_REQUIRE_DATA();
    const QImage photo(test::dataFile("brackets/mysore_palace_fuji_xt1_7exp/AJAZ0819.jpg"));
    ASSERT_FALSE(photo.isNull());
    const QImage rgb = photo.convertToFormat(QImage::Format_RGB888);
    const int w = rgb.width(), h = rgb.height();
    std::vector<float> clean(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        const uchar* line = rgb.constScanLine(y);
        for (int i = 0; i < w * 3; ++i)
            clean[size_t(y) * w * 3 + i] = float(std::pow(line[i] / 255.0, 2.2)); // roughly linear light
    }

    // At the default strength a clean photo keeps its detail.
    std::vector<float> untouched = clean;
    noiseFilterOptions_t defaults;
    ASSERT_TRUE(noiseFilter(untouched.data(), w, h, defaults));
    EXPECT_LT(rmse(untouched, clean), 0.002);

    // Shot noise (grows with the square root of the signal), as a sensor makes it.
    std::vector<float> noisy = clean;
    noiseSource n(2024);
    for (float& v : noisy)
        v = float(std::max(0.0, v + 0.02 * std::sqrt(double(v)) * n.gaussian()));
    const double before = rmse(noisy, clean);
    noiseFilterOptions_t o;
    o.strength = 40;
    o.softness = 4;
    ASSERT_TRUE(noiseFilter(noisy.data(), w, h, o));
    const double after = rmse(noisy, clean);
    EXPECT_LT(after, 0.8 * before) << "before " << before << " after " << after;
    EXPECT_TRUE(test::allFinite(noisy));
}
