// Manual white balance from a picked area: the output curve undone against published values, the
// multiplier correction checked by running the colour forward again, and on a real camera file the
// picked area decoded anew with the new multipliers coming out grey.

#include "imageio/rawWhiteBalance.h"
#include "imageio/rawConverter.h"
#include "imageio/rawLoadOptions.h"
#include "support/testSupport.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using namespace halvora;

namespace {

/// Relative spread of three values: (largest − smallest) / largest.
double spread(const double v[3]) {
    const double hi = std::max({v[0], v[1], v[2]}), lo = std::min({v[0], v[1], v[2]});
    return hi > 0 ? (hi - lo) / hi : 1.0;
}

} // namespace

TEST(rawWhiteBalance, outputCurvesAreUndoneAsTheirStandardsDefineThem) {
    // BT.709: V = 4.5 L below L = 0.018, V = 1.099 L^0.45 − 0.099 above.
    const rawOutputCurve_t bt709 = outputCurveOf(buildDcrawArgs(rawLoadOptions{}, true));
    EXPECT_NEAR(rawCurveToLinear(0.081, bt709), 0.018, 2e-4);
    EXPECT_NEAR(rawCurveToLinear(0.0405, bt709), 0.009, 1e-5) << "on the linear toe";
    EXPECT_NEAR(rawCurveToLinear(1.099 * std::pow(0.5, 0.45) - 0.099, bt709), 0.5, 1e-3);
    EXPECT_NEAR(rawCurveToLinear(1.0, bt709), 1.0, 1e-9);
    EXPECT_EQ(rawCurveToLinear(0.0, bt709), 0.0);

    // "-g 2.4 12.92" is the sRGB curve: its published segment meets at 0.0031308 with offset 0.055.
    const rawOutputCurve_t srgb = outputCurveOf({"-w", "-g", "2.4", "12.92", "-W"});
    EXPECT_NEAR(srgb.power, 1 / 2.4, 1e-12);
    EXPECT_NEAR(rawCurveToLinear(0.735357, srgb), 0.5, 2e-3);
    EXPECT_NEAR(rawCurveToLinear(0.02, srgb), 0.02 / 12.92, 1e-4);
    // A pure power.
    EXPECT_NEAR(rawCurveToLinear(0.5, rawOutputCurve_t{1 / 2.2, 0}), std::pow(0.5, 2.2), 1e-12);
    // Malformed "-g" values leave the default curve; out-of-range input is clamped.
    for (const QStringList& args :
         {QStringList{"-g"}, QStringList{"-g", "x", "4"}, QStringList{"-g", "-2", "4"}}) {
        const rawOutputCurve_t c = outputCurveOf(args);
        EXPECT_EQ(c.power, 0.45);
        EXPECT_EQ(c.slope, 4.5);
    }
    EXPECT_EQ(rawCurveToLinear(7.0, bt709), 1.0);
    EXPECT_EQ(rawCurveToLinear(-3.0, bt709), 0.0);
}

TEST(rawWhiteBalance, correctedMultipliersMakeThePickedColourGreyThroughTheCameraMatrix) {
    // A camera matrix with strong cross terms (rows sum to 1: equal camera channels are grey).
    const double m[3][3] = {{1.82, -0.71, -0.11}, {-0.19, 1.52, -0.33}, {0.04, -0.55, 1.51}};
    const double current[4] = {2.0, 1.0, 1.5, 1.0};
    const double rawCamera[3] = {0.11, 0.31, 0.17}; // the area's camera values before multipliers
    auto output = [&](const double mul[4], double out[3]) {
        for (int r = 0; r < 3; ++r) {
            out[r] = 0;
            for (int c = 0; c < 3; ++c)
                out[r] += m[r][c] * rawCamera[c] * mul[c];
        }
    };
    double before[3], after[3], result[4];
    output(current, before);
    ASSERT_GT(spread(before), 0.05);
    ASSERT_TRUE(greyMultipliers(before, current, m, result));
    output(result, after);
    EXPECT_LT(spread(after), 1e-9);
    EXPECT_EQ(result[1], current[1]) << "green keeps its value";
    EXPECT_EQ(result[3], current[3]);

    // Refused: a singular matrix, a black area, a colour outside what the camera can have recorded.
    const double singular[3][3] = {{1, 2, 3}, {2, 4, 6}, {0, 0, 1}};
    const double black[3] = {0, 0, 0};
    const double impossible[3] = {-0.2, 0.5, 0.5};
    const double identity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    double untouched[4] = {7, 7, 7, 7};
    EXPECT_FALSE(greyMultipliers(before, current, singular, untouched));
    EXPECT_FALSE(greyMultipliers(black, current, m, untouched));
    EXPECT_FALSE(greyMultipliers(impossible, current, identity, untouched));
    EXPECT_EQ(untouched[0], 7.0);
}

TEST(rawWhiteBalance, meanColourSkipsNothingOutsideAndRefusesClippedAreas) {
    const int w = 4, h = 3;
    std::vector<uint8_t> rgb(size_t(w) * h * 3, 128);
    const rawOutputCurve_t linear{1.0, 0};
    double mean[3];
    // A corner pick takes only the pixels inside the picture.
    rgb[0] = 64;
    ASSERT_TRUE(meanLinearColor(rgb.data(), w, h, w * 3, 0, 0, 1, linear, mean));
    EXPECT_NEAR(mean[0], (64 + 3 * 128) / 4.0 / 255.0, 1e-12);
    EXPECT_NEAR(mean[1], 128 / 255.0, 1e-12);
    // Far outside, or over a clipped or black sample: nothing to learn from.
    EXPECT_FALSE(meanLinearColor(rgb.data(), w, h, w * 3, 100, 100, 2, linear, mean));
    EXPECT_FALSE(meanLinearColor(rgb.data(), w, h, w * 3, -2147483647, 0, 2, linear, mean));
    rgb[size_t(w) * 3 + 4] = 255;
    EXPECT_FALSE(meanLinearColor(rgb.data(), w, h, w * 3, 1, 1, 1, linear, mean));
    rgb[size_t(w) * 3 + 4] = 0;
    EXPECT_FALSE(meanLinearColor(rgb.data(), w, h, w * 3, 1, 1, 1, linear, mean));
    EXPECT_FALSE(meanLinearColor(nullptr, w, h, w * 3, 1, 1, 1, linear, mean));
}

namespace {

// Picks the brightest few even, coloured areas of `file`'s half-size preview, solves the multipliers
// from each and decodes again: the area must come out grey within `tolerance` (relative spread).
void expectPickedAreasComeOutGrey(const QString& dng, bool fourColors, double tolerance) {
    rawInfo_t info;
    exifInfo_t exif;
    QString error;
    ASSERT_TRUE(getRAWinfo_DCRAW(dng, true, info, exif, &error)) << error.toStdString();
    ASSERT_EQ(info.colors, 3) << "the matrix solve is for three-colour sensors";
    rawLoadOptions options;
    options.whiteBalance = rawLoadOptions::manual;
    options.fourColors = fourColors;
    // The dialog starts from the camera's own multipliers relative to green.
    for (int c = 0; c < 3; ++c)
        options.multipliers[c] = info.cameraMultipliers[c] / info.cameraMultipliers[1];
    options.multipliers[3] = 1.0;
    const int w = info.halfWidth, h = info.halfHeight;
    ASSERT_GT(w, 0);
    auto render = [&](std::vector<uint8_t>& rgb) {
        rgb.assign(size_t(w) * h * 3, 0);
        return loadRAW_DCRAW(dng, buildDcrawArgs(options, true), w, h, nullptr, rgb.data(), &error);
    };
    std::vector<uint8_t> preview;
    ASSERT_TRUE(render(preview)) << error.toStdString();
    const rawOutputCurve_t curve = outputCurveOf(buildDcrawArgs(options, true));

    // The brightest few 5 × 5 areas of even tone that are visibly coloured as shot; darker ones hold
    // too few 8-bit levels to tell 1 %.
    constexpr int radius = 2;
    struct area {
        int x, y;
        double level;
    };
    std::vector<area> areas;
    for (int y = h / 8; y < h - h / 8; y += h / 40)
        for (int x = w / 8; x < w - w / 8; x += w / 40) {
            double mean[3];
            if (!meanLinearColor(preview.data(), w, h, w * 3, x, y, radius, curve, mean)) continue;
            const double level = (mean[0] + mean[1] + mean[2]) / 3;
            bool even = level > 0.08 && level < 0.6;
            for (int dy = -radius; even && dy <= radius; ++dy)
                for (int dx = -radius; even && dx <= radius; ++dx)
                    for (int c = 0; c < 3; ++c) {
                        const int v = preview[(size_t(y + dy) * size_t(w) + size_t(x + dx)) * 3 + size_t(c)];
                        const int centre = preview[(size_t(y) * size_t(w) + size_t(x)) * 3 + size_t(c)];
                        even = even && std::abs(v - centre) <= 12;
                    }
            if (even && spread(mean) > 0.02) areas.push_back({x, y, level});
        }
    std::sort(areas.begin(), areas.end(), [](const area& a, const area& b) { return a.level > b.level; });
    if (areas.size() > 4) areas.resize(4);
    ASSERT_FALSE(areas.empty()) << "no even, coloured area in the photo";

    const rawLoadOptions asShot = options;
    for (const area& a : areas) {
        options = asShot;
        std::vector<uint8_t> shot;
        ASSERT_TRUE(render(shot)) << error.toStdString();
        double mean[3], result[4];
        ASSERT_TRUE(meanLinearColor(shot.data(), w, h, w * 3, a.x, a.y, radius, curve, mean));
        ASSERT_TRUE(greyMultipliers(mean, options.multipliers, info.cameraToRgb, result));
        std::copy(result, result + 4, options.multipliers);
        std::vector<uint8_t> balanced;
        ASSERT_TRUE(render(balanced)) << error.toStdString();
        double after[3];
        ASSERT_TRUE(meanLinearColor(balanced.data(), w, h, w * 3, a.x, a.y, radius, curve, after));
        EXPECT_LT(spread(after), tolerance)
            << "area at " << a.x << ", " << a.y << ": " << after[0] << " " << after[1] << " " << after[2]
            << " (as shot spread " << spread(mean) << ")";
        // The 8-bit samples themselves as well.
        double encoded[3] = {0, 0, 0};
        for (int dy = -radius; dy <= radius; ++dy)
            for (int dx = -radius; dx <= radius; ++dx)
                for (int c = 0; c < 3; ++c)
                    encoded[c] += balanced[(size_t(a.y + dy) * size_t(w) + size_t(a.x + dx)) * 3 + size_t(c)];
        EXPECT_LT(spread(encoded), tolerance);
    }
}

} // namespace

TEST(rawWhiteBalance, pickedAreaOfARealRawPhotoComesOutGrey) {
    HALVORA_REQUIRE_DATA();
    {
        SCOPED_TRACE("Canon EOS 6D DNG");
        expectPickedAreasComeOutGrey(test::dataFile("formats/raw/canon_eos_6d_lossy.dng"), false, 0.01);
    }
    // A mosaic sensor: "Interpolate RGGB as 4 colors" keeps the second green a channel of its own
    // through the interpolation, yet the camera matrix stays 3 × 3 and the solve holds.
    for (bool four : {false, true}) {
        SCOPED_TRACE(four ? "Kodak DC50 KDC, four colours" : "Kodak DC50 KDC");
        expectPickedAreasComeOutGrey(test::dataFile("formats/raw/RAW_KODAK_DC50_é.KDC"), four, 0.01);
    }
}
