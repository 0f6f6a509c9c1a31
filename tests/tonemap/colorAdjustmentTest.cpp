// Colour adjustment: illuminant colours, white-balance gains, the white balance found from a
// neutral sample, and the selective-saturation tables. Expected numbers were worked out apart from
// the program (by hand and with a short script of the same formulas in double precision).

#include "tonemap/colorAdjustment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

using namespace halvora;

namespace {

constexpr int kN = 32640;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

void expectSaneTable(const std::vector<double>& table) {
    ASSERT_EQ(table.size(), size_t(kN + 1));
    for (size_t j = 0; j < table.size(); ++j) {
        ASSERT_TRUE(std::isfinite(table[j])) << j;
        ASSERT_LE(std::fabs(table[j]), 1.0) << j;
        ASSERT_TRUE(table[j] == 0.0 || std::fabs(table[j]) >= 0.01) << j;
    }
}

selKneePoints_t knee(double x, double y, double sigma = 1.0) {
    selKneePoints_t k;
    k.x = x;
    k.y = y;
    k.sigma = sigma;
    return k;
}

} // namespace

TEST(colorAdjustmentWhiteBalance, illuminantAndGains) {
    const auto d65 = illuminantColor(6500);
    EXPECT_NEAR(d65[0], 0.99944665, 1e-7);
    EXPECT_NEAR(d65[1], 1.0, 1e-12);
    EXPECT_NEAR(d65[2], 0.99836058, 1e-7);
    const auto warm = illuminantColor(3500); // first branch: red-dominant
    EXPECT_NEAR(warm[0], 1.0, 1e-12);
    EXPECT_NEAR(warm[1], 0.58162477, 1e-7);
    EXPECT_NEAR(warm[2], 0.24327308, 1e-7);
    const auto cool = illuminantColor(15500); // third branch: blue-dominant
    EXPECT_NEAR(cool[0], 0.42818605, 1e-7);
    EXPECT_NEAR(cool[1], 0.59412478, 1e-7);
    EXPECT_NEAR(cool[2], 1.0, 1e-12);
    // Branch borders: 4000 belongs to the first formula, 7000 to the second.
    EXPECT_NEAR(illuminantColor(4000)[2], 0.35764284, 1e-7);
    EXPECT_NEAR(illuminantColor(7000)[0], 0.89439985, 1e-7);
    EXPECT_NEAR(illuminantColor(7001)[0], 0.89420710, 1e-7);

    EXPECT_EQ(temperatureKelvin(1.0), 6500);
    EXPECT_EQ(temperatureKelvin(0.0), 3500);
    EXPECT_EQ(temperatureKelvin(2.0), 15500);
    EXPECT_EQ(temperatureKelvin(0.5), 5000);
    EXPECT_EQ(temperatureKelvin(1.00005), 6500); // 6500.45 rounds down

    const auto neutral = whiteBalanceGains(1.0, 1.0);
    EXPECT_NEAR(neutral[0], 0.99891333, 1e-7);
    EXPECT_NEAR(neutral[1], 0.99836058, 1e-7);
    EXPECT_EQ(neutral[2], 1.0);
    const auto low = whiteBalanceGains(0.0, 0.0);
    EXPECT_NEAR(low[0], 0.24327308, 1e-7);
    EXPECT_NEAR(low[1], 1.46392629, 1e-7);
    const auto high = whiteBalanceGains(2.0, 2.0);
    EXPECT_NEAR(high[0], 2.33543338, 1e-7);
    EXPECT_NEAR(high[1], 0.98183640, 1e-7);
    const auto mid = whiteBalanceGains(0.5, 1.3);
    EXPECT_NEAR(mid[0], 0.61305578, 1e-7);
    EXPECT_NEAR(mid[1], 0.60826457, 1e-7);

    // Settings from a damaged file: clamped into 0 … 2, NaN as neutral.
    const auto clamped = whiteBalanceGains(-3.0, 9.0);
    EXPECT_NEAR(clamped[0], whiteBalanceGains(0.0, 2.0)[0], 1e-12);
    EXPECT_NEAR(clamped[1], whiteBalanceGains(0.0, 2.0)[1], 1e-12);
    const auto nan = whiteBalanceGains(kNaN, kNaN);
    EXPECT_NEAR(nan[0], neutral[0], 1e-12);
    EXPECT_NEAR(nan[1], neutral[1], 1e-12);

    const double gains[3] = {0.5, 2.0, 1.0};
    const auto swatch = wbSwatchColor(gains);
    EXPECT_NEAR(swatch[0], 1.0, 1e-12);
    EXPECT_NEAR(swatch[1], 0.25, 1e-12);
    EXPECT_NEAR(swatch[2], 0.5, 1e-12);
}

TEST(colorAdjustmentWhiteBalance, sampleBecomesNeutralAgain) {
    const auto d65 = illuminantColor(6500);
    const whiteBalanceSetting_t atD65 = whiteBalanceFromSample(d65[0], d65[1], d65[2]);
    EXPECT_NEAR(atD65.temperature, 1.0, 1e-4);
    EXPECT_NEAR(atD65.tint, 1.0, 1e-9);

    // Samples lit by illuminants across the range, with green pulled either way.
    for (double kelvin : {3700.0, 4000.0, 5200.0, 6500.0, 9000.0, 12000.0, 15000.0})
        for (double greenFactor : {0.6, 1.0, 1.3}) {
            auto s = illuminantColor(kelvin);
            s[1] *= greenFactor;
            const whiteBalanceSetting_t wb = whiteBalanceFromSample(s[0] * 0.4, s[1] * 0.4, s[2] * 0.4);
            const auto g = whiteBalanceGains(wb.temperature, wb.tint);
            const double r = g[0] * s[0], gr = g[1] * s[1], b = g[2] * s[2];
            const double hi = std::max({r, gr, b}), lo = std::min({r, gr, b});
            EXPECT_LT(hi / lo, 1.01) << kelvin << " K, green × " << greenFactor << ": t " << wb.temperature
                                     << " u " << wb.tint;
        }

    // A warm sample gives a low Temperature, a cool one a high one.
    EXPECT_LT(whiteBalanceFromSample(0.9, 0.6, 0.3).temperature, 1.0);
    EXPECT_GT(whiteBalanceFromSample(0.4, 0.6, 0.9).temperature, 1.0);

    for (const auto& bad : {std::array<double, 3>{0, 0.5, 0.5}, std::array<double, 3>{0.5, 0, 0.5},
                            std::array<double, 3>{0.5, 0.5, 0}, std::array<double, 3>{kNaN, 0.5, 0.5},
                            std::array<double, 3>{0.5, -0.2, 0.5},
                            std::array<double, 3>{0.5, std::numeric_limits<double>::infinity(), 0.5}}) {
        const whiteBalanceSetting_t wb = whiteBalanceFromSample(bad[0], bad[1], bad[2]);
        EXPECT_EQ(wb.temperature, 1.0);
        EXPECT_EQ(wb.tint, 1.0);
    }
    // A sample far redder than 3500 K stops at the end of the range instead of running off.
    const whiteBalanceSetting_t red = whiteBalanceFromSample(1.0, 0.3, 0.01);
    EXPECT_NEAR(red.temperature, 0.0, 1e-4);
    EXPECT_GE(red.tint, 0.0);
    EXPECT_LE(red.tint, 2.0);
}

TEST(colorAdjustmentSelective, neutralAndEmptyCurves) {
    toneMappingTables_t tables;
    updateHueSelectiveTable(tables, {knee(0.3, 0.5)});
    EXPECT_TRUE(tables.hueSelectiveActive);
    expectSaneTable(tables.selectiveTable[0]);
    for (double v : tables.selectiveTable[0])
        ASSERT_EQ(v, 0.0);

    updateBrightnessSelectiveTable(tables, {});
    EXPECT_TRUE(tables.brightnessSelectiveActive);
    expectSaneTable(tables.selectiveTable[1]);
    for (double v : tables.selectiveTable[1])
        ASSERT_EQ(v, 0.0);
}

TEST(colorAdjustmentSelective, hueSeamIsContinuous) {
    // One point at red (x = 0), y = 1, sigma 1: width s = 1.2 × 32640 / 100 × 4 = 1566.72 entries,
    // entry j = (1 − j/n) G(j) + (j/n) G(n − j), with G(d) = exp(−d² / (2 s²)).
    std::vector<double> table;
    generateSelectiveTable(table, {knee(0.0, 1.0)}, true);
    expectSaneTable(table);
    EXPECT_DOUBLE_EQ(table[0], 1.0);
    EXPECT_NEAR(table[1000], 0.7907174310, 1e-9);
    EXPECT_NEAR(table[kN - 1000], 0.7907174310, 1e-9); // the same distance on the other side of 360°
    EXPECT_NEAR(table[kN - 1], 1.0, 1e-3);
    EXPECT_EQ(table[kN / 2], 0.0);  // cyan is untouched
    EXPECT_EQ(table[kN], table[0]); // hue 360° is hue 0°
    for (int j = 1; j < kN; j += 97)
        ASSERT_NEAR(table[j], table[kN - j], 1e-12) << j;
    for (int j = 1; j < kN; ++j)
        ASSERT_LT(std::fabs(table[j] - table[j - 1]), 0.02) << j;

    // A point near 360° reaches across the seam to the low hues in the same way.
    std::vector<double> late;
    generateSelectiveTable(late, {knee(0.2, 0.5), knee(0.98, 0.0)}, true);
    expectSaneTable(late);
    EXPECT_LT(late[0], -0.3);
    EXPECT_LT(late[kN - 1], -0.3);
    EXPECT_NEAR(late[0], late[kN - 1], 0.02);
}

TEST(colorAdjustmentSelective, brightnessTailsAndClosePoints) {
    // Two points at y = 0 (amplitude −1), x = 0.3 and 0.7: c0 = 9791, c1 = 22847.
    std::vector<double> table;
    generateSelectiveTable(table, {knee(0.7, 0.0), knee(0.3, 0.0)}, false); // order of x is restored
    expectSaneTable(table);
    EXPECT_DOUBLE_EQ(table[9791], -1.0);
    EXPECT_DOUBLE_EQ(table[22847], -1.0);
    EXPECT_NEAR(table[9791 - 1000], -0.8157085003, 1e-9);  // lower tail
    EXPECT_NEAR(table[22847 + 1000], -0.8157085003, 1e-9); // upper tail
    EXPECT_NEAR(table[9791 + 500], -0.9140279998, 1e-9);   // between the points
    EXPECT_EQ(table[16320], 0.0);                          // midway both Gaussians have faded
    EXPECT_EQ(table[0], 0.0);                              // the tails fade out towards the ends
    EXPECT_EQ(table[kN - 1], 0.0);
    EXPECT_EQ(table[kN], table[kN - 1]);
    for (int j = 1; j <= 9791; ++j)
        ASSERT_LE(table[j], table[j - 1]) << j; // monotone towards the point

    // Points closer than their widths blend linearly: x 0.5 (y 1) and 0.55 (y 0), sigma 2.
    std::vector<double> close;
    generateSelectiveTable(close, {knee(0.5, 1.0, 2.0), knee(0.55, 0.0, 2.0)}, false);
    expectSaneTable(close);
    EXPECT_DOUBLE_EQ(close[16319], 1.0);
    EXPECT_EQ(close[17136], 0.0); // t = (0.55 − 0.525) / 0.05 = 0.5
    EXPECT_NEAR(close[16728], 2 * (0.55 - 16728.0 / kN) / 0.05 - 1.0, 1e-9); // t × 1 + (1 − t) × −1
    // A point at full brightness covers the last entries, including the one read for exactly 1.0.
    std::vector<double> top;
    generateSelectiveTable(top, {knee(1.0, 1.0)}, false);
    expectSaneTable(top);
    EXPECT_EQ(top[kN - 1], 1.0);
    EXPECT_EQ(top[kN], 1.0);
}

TEST(colorAdjustmentSelective, degeneratePointsStaySane) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::vector<selKneePoints_t>> curves = {
        {knee(0.0, 1.0), knee(1.0, 0.0)},                      // points at both ends
        {knee(0.0, 0.0, 0.0), knee(0.0, 1.0, 0.0)},            // same place, sigma 0
        {knee(0.5, 1.0, -5.0), knee(0.5005, 0.0, 1e9)},        // within 0.001, absurd sigmas
        {knee(kNaN, 1.0), knee(0.4, 1.0, kNaN), knee(inf, 0)}, // not numbers
        {knee(-0.5, 7.0), knee(1.5, -3.0)},                    // out of range
        {knee(0.1, 0.9, 0.1), knee(0.2, 0.1, 0.1), knee(0.3, 0.9, 2.0), knee(0.9, 0.1, 2.0)},
    };
    for (size_t i = 0; i < curves.size(); ++i)
        for (bool cyclic : {true, false}) {
            std::vector<double> table(5, 123.0); // wrong size and stale values
            generateSelectiveTable(table, curves[i], cyclic);
            SCOPED_TRACE(testing::Message() << "curve " << i << (cyclic ? " hue" : " brightness"));
            expectSaneTable(table);
        }
    // Points without a finite position are dropped and a NaN sigma counts as 1, so the curve is
    // the one remaining point.
    std::vector<double> repaired, expected;
    generateSelectiveTable(repaired, curves[3], false);
    generateSelectiveTable(expected, {knee(0.4, 1.0, 1.0)}, false);
    EXPECT_EQ(repaired, expected);
    EXPECT_EQ(repaired[13055], 1.0); // ⌊0.4 × 32639⌋
}
