// The merge's per-sample tables (selectivity shapes, Smart Merge tents, closeness to clipping and the
// limits of a weight table) and the Smart Merge brightness map.

#include "base/parallelFor.h"
#include "hdr/mergeWeights.h"
#include "hdr/smartMergeMask.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace {

TEST(mergeWeights, selectivityShapes) {
    std::vector<double> t(32640);
    ASSERT_TRUE(halvora::buildSelectivityTable(halvora::selectivityNone, 0.3, 0.2, t.data()));
    EXPECT_EQ(t[0], 1.0);
    EXPECT_EQ(t[32639], 1.0);

    ASSERT_TRUE(halvora::buildSelectivityTable(halvora::selectivityBalanced, 0.1, 0.2, t.data()));
    EXPECT_NEAR(t[1632], 0.0, 1e-12);                // tent 0.1, not above p
    EXPECT_NEAR(t[8160], (0.5 - 0.1) / 0.9, 1e-12);  // tent 0.5
    EXPECT_NEAR(t[24480], (0.5 - 0.2) / 0.8, 1e-12); // upper half, tent 0.5
    EXPECT_NEAR(t[32000], 0.01, 1e-12);              // below q: the floor

    ASSERT_TRUE(halvora::buildSelectivityTable(halvora::selectivityCutOff, 0.0, 0.2, t.data()));
    EXPECT_NEAR(t[1020], 0.5, 1e-12); // 1020 × 16 / 32640
    EXPECT_NEAR(t[2040], 1.0, 1e-12);
    EXPECT_NEAR(t[28560], 1.0, 1e-12); // 4080 × 8 / 32640 = 1
    EXPECT_NEAR(t[30600], (0.5 - 0.2) / 0.8, 1e-12);

    ASSERT_TRUE(halvora::buildSelectivityTable(halvora::selectivityBestExposed, 0.1, 0.2, t.data()));
    const double at16319 = 2.0 * 16319 / 32640 - 0.1;
    EXPECT_NEAR(t[8160], (0.5 - 0.1) / at16319 / 0.9, 1e-12);
    EXPECT_NEAR(t[16319], 1.0, 1e-12); // 1 / 0.9 clamped
    EXPECT_NEAR(t[29000], (2.0 * 3640 / 32640 - 0.2) / 0.1, 1e-12);
    EXPECT_NEAR(t[30000], 0.1, 1e-12); // floor 0.01 divided by 0.1
    EXPECT_EQ(t[24480], 1.0);

    EXPECT_FALSE(halvora::buildSelectivityTable(4, 0.1, 0.2, t.data()));

    uint16_t lo = 0, hi = 0;
    halvora::buildSelectivityTable(halvora::selectivityBalanced, 0.0, 0.2, t.data());
    halvora::weightLimits(t.data(), lo, hi);
    EXPECT_EQ(lo, 1);
    EXPECT_EQ(hi, 32639);
    std::fill(t.begin(), t.end(), 0.0);
    halvora::weightLimits(t.data(), lo, hi);
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 32639);
}

TEST(mergeWeights, smartMergeTentsAndCloseness) {
    EXPECT_EQ(halvora::smartMergeCentre(2, -2, 2), 0); // brightest peaks at the dark end
    EXPECT_EQ(halvora::smartMergeCentre(0, -2, 2), 16320);
    EXPECT_EQ(halvora::smartMergeCentre(-2, -2, 2), 32639); // darkest at the bright end
    EXPECT_EQ(halvora::smartMergeCentre(1, 1, 1), 16320);   // a single EV
    std::vector<double> t(32640);
    halvora::buildSmartMergeTable(0, -2, 2, t.data());
    EXPECT_NEAR(t[8160], 0.5, 1e-6);
    EXPECT_NEAR(t[16320], 1.0, 1e-6);
    EXPECT_NEAR(t[24480], 0.5, 1e-6);

    std::vector<double> bright(32640), dark(32640);
    halvora::buildClosenessTables(bright.data(), dark.data());
    EXPECT_EQ(bright[32639], 1.0);
    EXPECT_NEAR(bright[16320], std::exp(-0.49 * 0.49 / 0.003), 1e-15);
    EXPECT_EQ(dark[0], 1.0);
    EXPECT_NEAR(dark[3264], std::exp(-0.09 * 0.09 / 0.003), 1e-9);
}

TEST(smartMergeMask, keepsEdgesAndSmoothsNoise) {
    const int w = 1200, h = 900; // σ = 2.25
    std::vector<uint16_t> plane(size_t(w) * h), scratch(plane.size());
    uint32_t seed = 1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 24) - 128; // ±128
            plane[size_t(y) * w + x] = uint16_t((x < w / 2 ? 4000 : 28000) + noise);
        }
    const auto kernel = halvora::makeSmartMergeKernel(w, h);
    EXPECT_NEAR(kernel.sigma, 2.25, 1e-12);
    std::vector<uint16_t> threaded = plane;
    halvora::setThreadCountOverride(1);
    halvora::smartMergeFilter(plane.data(), scratch.data(), w, h, kernel);
    halvora::setThreadCountOverride(3);
    halvora::smartMergeFilter(threaded.data(), scratch.data(), w, h, kernel);
    halvora::setThreadCountOverride(0);
    EXPECT_EQ(plane, threaded);
    double var = 0;
    int n = 0;
    for (int y = 100; y < 800; ++y) {
        // One pixel from the edge on each side: no bleeding across 24000 levels.
        EXPECT_NEAR(plane[size_t(y) * w + w / 2 - 1], 4000, 130);
        EXPECT_NEAR(plane[size_t(y) * w + w / 2], 28000, 130);
        for (int x = 100; x < 400; ++x, ++n)
            var += std::pow(plane[size_t(y) * w + x] - 4000.0, 2);
    }
    // The noise (variance 128² / 3) is reduced by averaging.
    EXPECT_LT(var / n, 128.0 * 128.0 / 3.0 / 4.0);
}

} // namespace
