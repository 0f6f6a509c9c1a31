// Tone curves, output tables, the local tone-mapping table and their rebuild triggers.

#include "tonemap/tableBuilders.h"
#include "base/parallelFor.h"
#include "tonemap/colorAdjustment.h"
#include "tonemap/rebuildOnChange.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace halvora;

namespace {

double curveAt(const std::vector<curvePoint_t>& points, int type, double x) {
    // Evaluate on a grid that has x as one of its positions: n − 1 = 1000.
    std::vector<double> out(1001, -1.0);
    evaluateCurve(out.data(), 1001, points, type);
    return out[size_t(std::lround(x * 1000))];
}

struct tablesFixture : ::testing::Test {
    toneMappingSettings_t s;
    void SetUp() override {
        ASSERT_TRUE(s.tables.allocate());
        rebuildToneMappingTables(s, toneMappingChange::everything);
    }
};

} // namespace

// Natural spline through (0, 0), (0.5, 0.8), (1, 1), solved by hand:
// c1 = 3 (0.4 − 1.6) / (2 (0.5 + 0.5)) = −1.8; left piece 1.9 t − 1.2 t³, right piece
// 0.8 + 1.0 t − 1.8 t² + 1.2 t³ (t from 0.5).
TEST(evaluateCurve, naturalSplineMatchesHandSolution) {
    const std::vector<curvePoint_t> points{{0, 0}, {0.5, 0.8}, {1, 1}};
    EXPECT_NEAR(curveAt(points, 0, 0.25), 1.9 * 0.25 - 1.2 * 0.25 * 0.25 * 0.25, 1e-12);      // 0.45625
    EXPECT_NEAR(curveAt(points, 0, 0.75), 0.8 + 0.25 - 1.8 * 0.0625 + 1.2 * 0.015625, 1e-12); // 0.95625
    EXPECT_NEAR(curveAt(points, 0, 0.5), 0.8, 1e-12);
    EXPECT_NEAR(curveAt(points, 0, 0.1), 1.9 * 0.1 - 1.2 * 0.001, 1e-12);
    EXPECT_NEAR(curveAt(points, 0, 1.0), 1.0, 1e-12);
}

TEST(evaluateCurve, endsClampingAndGuards) {
    // Outside the knee points the end values hold.
    const std::vector<curvePoint_t> inner{{0.2, 0.3}, {0.8, 0.6}};
    EXPECT_EQ(curveAt(inner, 1, 0.0), 0.3);
    EXPECT_EQ(curveAt(inner, 1, 1.0), 0.6);
    EXPECT_NEAR(curveAt(inner, 1, 0.5), 0.45, 1e-12);
    EXPECT_EQ(curveAt(inner, 0, 0.1), 0.3);
    // An overshooting spline is clamped to 0 … 1.
    const std::vector<curvePoint_t> steep{{0, 0}, {0.1, 1}, {0.2, 0}, {1, 1}};
    std::vector<double> out(1001);
    evaluateCurve(out.data(), 1001, steep, 0);
    for (double v : out) {
        EXPECT_GE(v, 0.0);
        EXPECT_LE(v, 1.0);
    }
    // Coincident knee points: the 0.01 guards keep everything finite.
    const std::vector<curvePoint_t> coincident{{0, 0}, {0.5, 0.2}, {0.5, 0.9}, {0.505, 0.3}, {1, 1}};
    for (int type : {0, 1}) {
        evaluateCurve(out.data(), 1001, coincident, type);
        for (double v : out)
            ASSERT_TRUE(std::isfinite(v) && v >= 0 && v <= 1);
    }
    // Linear across a short interval uses the slope over 0.01: from (0.5, 0.9) towards (0.505, 0.3).
    std::vector<double> fine(201);
    evaluateCurve(fine.data(), 201, coincident, 1); // x = j / 200
    EXPECT_NEAR(fine[100], 0.9, 1e-12);             // x = 0.5 lies in the last interval ≥ it
    // An unknown type writes nothing.
    std::vector<double> untouched(10, 7.0);
    evaluateCurve(untouched.data(), 10, inner, 2);
    EXPECT_EQ(untouched[5], 7.0);
}

TEST_F(tablesFixture, curveTableOfIdentityAndOfACurve) {
    for (int j : {0, 1, 1000, 16320, 32638, 32639})
        EXPECT_EQ(s.tables.curveTable[0][size_t(j)], j);
    s.curves[0].identity = false;
    s.curves[0].type = curveSettings_t::kLinear;
    s.curves[0].kneePoints = {{0, 0}, {1, 0.5}};
    rebuildToneMappingTables(s, toneMappingChange::masterCurve);
    for (int j : {0, 1, 3, 1000, 32639}) // ⌊j / 32639 × 0.5 × 32639 + 0.5⌋
        EXPECT_EQ(s.tables.curveTable[0][size_t(j)], (j + 1) / 2) << j;
}

TEST_F(tablesFixture, outputTableEntries) {
    s.gamma = 2.2;
    rebuildToneMappingTables(s, toneMappingChange::gamma);
    const int n = 32641;
    for (int j : {0, 1, 100, 16320, 32000, 32640}) {
        const double expected = std::pow(std::floor(double(j) * 32640.0 / n) / 32640.0, 1.0 / 2.2);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(s.tables.outputLUT[c][size_t(j)], expected, 1e-12) << j;
    }
    // Master curve halves, then the gamma: entry = (⌊⌊j·32640/n⌋ / 2 + 0.5⌋ / 32640)^(1/2.2).
    s.curves[0].identity = false;
    s.curves[0].type = curveSettings_t::kLinear;
    s.curves[0].kneePoints = {{0, 0}, {1, 0.5}};
    rebuildToneMappingTables(s, toneMappingChange::masterCurve);
    for (int j : {7, 20000, 32640}) {
        const double m = std::floor(double(j) * 32640.0 / n);
        const double expected = std::pow(std::floor(m / 2 + 0.5) / 32640.0, 1.0 / 2.2);
        EXPECT_NEAR(s.tables.outputLUT[1][size_t(j)], expected, 1e-12) << j;
    }
    // Channel −1: the plain gamma in every channel.
    generateLUT(s, -1);
    EXPECT_NEAR(s.tables.outputLUT[2][20000], std::pow(20000.0 / n, 1.0 / 2.2), 1e-12);
}

TEST_F(tablesFixture, localToneMappingTableEntries) {
    s.maskStrength = 0.5;
    rebuildToneMappingTables(s, toneMappingChange::maskStrength);
    const double strength = 0.3;
    const auto& t = s.tables.tmTable;
    // Entries are floats: within their rounding (2^-24 relative) of the exact response.
    // Mid-grey neighbourhood: κ = 1, the identity.
    EXPECT_NEAR(t[1024 * 2048 + 700], 700.0 / 2048, 1e-7);
    // Bright neighbourhood darkens, dark brightens.
    const double kBright = std::pow(10.0, std::fabs(2 * 2000.0 / 2048 - 1) * strength);
    EXPECT_NEAR(t[2000 * 2048 + 1000], std::pow(1000.0 / 2048, kBright), 1e-7);
    EXPECT_LT(t[2000 * 2048 + 1000], 1000.0 / 2048);
    const double kDark = std::pow(10.0, std::fabs(2 * 10.0 / 2048 - 1) * strength);
    EXPECT_NEAR(t[10 * 2048 + 1000], 1 - std::pow(1 - 1000.0 / 2048, kDark), 1e-7);
    EXPECT_GT(t[10 * 2048 + 1000], 1000.0 / 2048);
    EXPECT_EQ(t[10 * 2048 + 0], 0.0);
    EXPECT_EQ(t[2000 * 2048 + 0], 0.0);
}

TEST_F(tablesFixture, rebuildTriggersTouchOnlyTheirTables) {
    const std::vector<double> lutBefore = s.tables.outputLUT[0];
    const std::vector<double> lutGreen = s.tables.outputLUT[1];
    // A red curve rebuilds the red curve table and the red output table only.
    s.curves[1].identity = false;
    s.curves[1].kneePoints = {{0, 0}, {0.5, 0.7}, {1, 1}};
    rebuildToneMappingTables(s, toneMappingChange::redCurve);
    EXPECT_GT(s.tables.outputLUT[0][10000], lutBefore[10000]);
    EXPECT_EQ(s.tables.outputLUT[1], lutGreen);
    // Resetting all curves brings the tables back.
    for (auto& c : s.curves)
        c.reset();
    rebuildToneMappingTables(s, toneMappingChange::allCurvesReset);
    EXPECT_EQ(s.tables.outputLUT[0], lutBefore);
    // The 16 MiB table is rebuilt only when its strength changes.
    s.tables.tmTable[5] = -1;
    rebuildToneMappingTables(s, toneMappingChange::localContrastStrength);
    EXPECT_EQ(s.tables.tmTable[5], -1);
    s.maskStrength = 0.9;
    rebuildToneMappingTables(s, toneMappingChange::localContrastStrength);
    EXPECT_NE(s.tables.tmTable[5], -1);
    EXPECT_EQ(s.tables.tmTableStrength, 0.9);
}

// The colour tables are rebuilt through the same triggers: white balance from Temperature and Tint,
// the selective tables from their points.
TEST_F(tablesFixture, colourTriggers) {
    EXPECT_NEAR(s.tables.wbGain[0], 0.9989, 5e-4); // the 6500 K illuminant normalised to blue
    EXPECT_NEAR(s.tables.wbGain[1], 0.9984, 5e-4);
    EXPECT_EQ(s.tables.wbGain[2], 1.0);
    s.temperature = 0.5;
    rebuildToneMappingTables(s, toneMappingChange::whiteBalance);
    const auto gains = whiteBalanceGains(0.5, 1.0);
    EXPECT_EQ(s.tables.wbGain[0], gains[0]);
    EXPECT_EQ(s.tables.wbGain[1], gains[1]);
    EXPECT_LT(s.tables.wbGain[0], 0.99); // 5000 K light is redder: red is turned down
    s.hueSelective = {{0.0, 1.0, 1.0}};
    rebuildToneMappingTables(s, toneMappingChange::hueSelective);
    EXPECT_TRUE(s.tables.hueSelectiveActive);
    EXPECT_GT(s.tables.selectiveTable[0][0], 0.5);
    EXPECT_EQ(s.tables.selectiveTable[1][100], 0.0);
}

TEST(tableBuilders, sameTablesForOneAndManyThreads) {
    toneMappingSettings_t a, b;
    ASSERT_TRUE(a.tables.allocate() && b.tables.allocate());
    for (auto* s : {&a, &b}) {
        s->gamma = 1.3;
        s->maskStrength = 0.7;
        s->curves[0].identity = false;
        s->curves[0].kneePoints = {{0, 0}, {0.3, 0.45}, {1, 1}};
    }
    setThreadCountOverride(1);
    rebuildToneMappingTables(a, toneMappingChange::everything);
    setThreadCountOverride(3);
    rebuildToneMappingTables(b, toneMappingChange::everything);
    setThreadCountOverride(0);
    EXPECT_EQ(a.tables.outputLUT[2], b.tables.outputLUT[2]);
    EXPECT_EQ(a.tables.tmTable, b.tables.tmTable);
}
