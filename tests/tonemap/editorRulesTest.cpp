// The histogram editor's level rules, the colour controls' units, and the white balance found from a
// neutral sample, checked against values worked out apart from the program.

#include "tonemap/colorAdjustment.h"
#include "tonemap/colorUnits.h"
#include "tonemap/histogramEditing.h"
#include "tonemap/picturePasses.h"
#include "tonemap/tableBuilders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

using namespace halvora;

namespace {

// Linear sRGB of the CIE daylight illuminant at `kelvin` (4000 … 7000 K), written out here from the
// published formulas and the sRGB matrix (four decimals), largest component 1.
std::array<double, 3> cieDaylight(double kelvin) {
    const double t = kelvin;
    const double x = -4.6070e9 / (t * t * t) + 2.9678e6 / (t * t) + 0.09911e3 / t + 0.244063;
    const double y = -3.0 * x * x + 2.87 * x - 0.275;
    const double X = x / y, Y = 1.0, Z = (1.0 - x - y) / y;
    std::array<double, 3> rgb = {3.2406 * X - 1.5372 * Y - 0.4986 * Z, -0.9689 * X + 1.8758 * Y + 0.0415 * Z,
                                 0.0557 * X - 0.2040 * Y + 1.0570 * Z};
    const double m = std::max({rgb[0], rgb[1], rgb[2]});
    for (double& v : rgb)
        v /= m;
    return rgb;
}

} // namespace

TEST(histogramEditing, levelsKeepWhiteAboveBlack) {
    toneMappingParameters_t s;
    s.blackLevel = 0.2;
    s.whiteLevel = 0.8;
    setBlackLevel(s, 0.5);
    EXPECT_DOUBLE_EQ(s.blackLevel, 0.5);
    setBlackLevel(s, 0.95);
    EXPECT_DOUBLE_EQ(s.blackLevel, 0.8 - kMinLevelGap) << "black stops below white";
    setWhiteLevel(s, 0.1);
    EXPECT_DOUBLE_EQ(s.whiteLevel, s.blackLevel + kMinLevelGap) << "white stops above black";
    EXPECT_GT(s.whiteLevel, s.blackLevel);
    setWhiteLevel(s, 7);
    EXPECT_DOUBLE_EQ(s.whiteLevel, 1.0);
    setBlackLevel(s, -3);
    EXPECT_DOUBLE_EQ(s.blackLevel, 0.0);
    setBlackLevel(s, std::numeric_limits<double>::quiet_NaN());
    EXPECT_DOUBLE_EQ(s.blackLevel, 0.0);
    setWhiteLevel(s, std::numeric_limits<double>::infinity());
    EXPECT_DOUBLE_EQ(s.whiteLevel, 1.0);
    // At the very top, black can still move up to one gap below white.
    setBlackLevel(s, 1.0);
    EXPECT_NEAR(s.blackLevel, 1.0 - kMinLevelGap, 1e-15);
}

TEST(histogramEditing, sampledColourGivesTheLevelBeforeTheStretch) {
    // Shown values were stretched from black … white: mid-grey of a 0.2 … 0.6 stretch was 0.4.
    EXPECT_NEAR(levelOfShownColor({0.5, 0.5, 0.5, 0}, 0.2, 0.6), 0.4, 1e-12);
    EXPECT_NEAR(levelOfShownColor({0, 0, 0, 0}, 0.2, 0.6), 0.2, 1e-12);
    // Luminance weights of the histogram: pure green counts 0.6094.
    EXPECT_NEAR(levelOfShownColor({0, 1, 0, 0}, 0.0, 1.0), 0.6094, 1e-12);
    EXPECT_NEAR(levelOfShownColor({2, 2, 2, 0}, 0.0, 0.5), 0.5, 1e-12) << "kept inside the stretch";

    // A radiance colour through the chain without local operators: Compression 1, Gamma 1, no
    // colour change and identity curves leave grey radiance g at g (to the table steps), so the
    // level is g. White balance is not exactly neutral at Temperature 1: allow for its 0.2 %.
    toneMappingSettings_t s;
    ASSERT_TRUE(s.tables.allocate());
    s.compression = 1.0;
    s.gamma = 1.0;
    s.sharpness = 0;
    for (int c = 0; c < 4; ++c)
        generateCurveTable(s, c);
    for (int c = 0; c < 3; ++c)
        generateLUT(s, c);
    updateWbGain(s.tables, 1.0, 1.0);
    s.blackLevel = 0.3;
    s.whiteLevel = 0.4;
    for (double g : {0.05, 0.25, 0.5, 0.9})
        EXPECT_NEAR(levelOfRadianceColor(s, {g, g, g, 0}, 0.2, 1.0), g, 0.003) << g;
    EXPECT_EQ(s.blackLevel, 0.3) << "the levels are left as they were";
    EXPECT_EQ(s.whiteLevel, 0.4);
    // Compression 2 takes the square root of the luminance.
    s.compression = 2.0;
    EXPECT_NEAR(levelOfRadianceColor(s, {0.25, 0.25, 0.25, 0}, 0.2, 1.0), 0.5, 0.003);
    EXPECT_EQ(levelOfRadianceColor(s, {-1, std::nan(""), 0, 0}, 0.2, 1.0), 0.0);
    toneMappingSettings_t empty;
    EXPECT_EQ(levelOfRadianceColor(empty, {0.5, 0.5, 0.5, 0}, 0.2, 1.0), -1.0);
}

TEST(colorUnits, realUnitsOfTheColourControls) {
    EXPECT_EQ(temperatureText(1.0), "6500 K");
    EXPECT_EQ(temperatureText(0.0), "3500 K");
    EXPECT_EQ(temperatureText(2.0), "15500 K");
    EXPECT_EQ(temperatureText(0.5), "5000 K");
    EXPECT_EQ(temperatureText(1.5), "11000 K");
    // Tint scales the illuminant's green by (u + 0.4) / 1.4; the picture's green by the inverse.
    EXPECT_NEAR(tintGreenFactor(1.0), 1.0, 1e-12);
    EXPECT_NEAR(tintGreenFactor(2.0), 1.4 / 2.4, 1e-12);
    EXPECT_NEAR(tintGreenFactor(0.0), 3.5, 1e-12);
    EXPECT_EQ(tintText(1.0), QString::fromUtf8("green \u00d71.00"));
    EXPECT_EQ(tintText(2.0), QString::fromUtf8("green \u00d70.58"));
    EXPECT_EQ(hueText(1.0), QString::fromUtf8("0\u00b0"));
    EXPECT_EQ(hueText(1.2), QString::fromUtf8("+36\u00b0"));
    EXPECT_EQ(hueText(0.0), QString::fromUtf8("-180\u00b0"));
    // The axis positions the selective editors mark: pure red 0, green 1/3, blue 2/3; grey 0.
    EXPECT_NEAR(selectiveAxisPosition(1, 0, 0, true), 0.0, 1e-12);
    EXPECT_NEAR(selectiveAxisPosition(0, 1, 0, true), 1.0 / 3, 1e-12);
    EXPECT_NEAR(selectiveAxisPosition(0, 0, 1, true), 2.0 / 3, 1e-12);
    EXPECT_NEAR(selectiveAxisPosition(1, 0, 1, true), 5.0 / 6, 1e-12);
    EXPECT_EQ(selectiveAxisPosition(0.4, 0.4, 0.4, true), 0.0);
    EXPECT_NEAR(selectiveAxisPosition(0.2, 0.7, 0.1, false), 0.7, 1e-12);
}

TEST(whiteBalanceSample, knownTemperatureAndTintSolveToTheirValues) {
    // A grey card lit by daylight of K kelvin whose green the tint u pulled by (u + 0.4) / 1.4.
    const struct { double kelvin, tint; } cases[] = {{5000, 0.7}, {6500, 1.3}, {4500, 1.0}, {6800, 0.45}};
    for (const auto& c : cases) {
        std::array<double, 3> card = cieDaylight(c.kelvin);
        card[1] *= (c.tint + 0.4) / 1.4;
        const whiteBalanceSetting_t wb = whiteBalanceFromSample(card[0] * 0.6, card[1] * 0.6, card[2] * 0.6);
        const double expectedT = 1.0 + (c.kelvin - 6500.0) / (c.kelvin > 6500 ? 9000.0 : 3000.0);
        EXPECT_NEAR(wb.temperature, expectedT, 0.004) << c.kelvin;
        EXPECT_NEAR(wb.tint, c.tint, 0.0101) << c.kelvin << " K, tint " << c.tint;
    }
}
