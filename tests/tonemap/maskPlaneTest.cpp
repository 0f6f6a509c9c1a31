// Mask plane: the luminance power, the bilateral weights and both passes against a slow reference,
// also over several chunks and threads.

#include "tonemap/maskPlane.h"
#include "base/parallelFor.h"
#include "base/runContext.h"
#include "support/testSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace halvora;

namespace {

struct referenceTables {
    double g[64];
    int radius = -1;
    std::vector<double> range;
    referenceTables() {
        double sum = 0;
        for (int j = 0; j < 64; ++j)
            sum += g[j] = std::exp(-(j * j) / 200.0);
        for (int j = 0; j < 64; ++j) {
            g[j] /= sum;
            if (radius < 0 && g[j] < 0.005) radius = j;
        }
        for (int i = 0; i <= 32640; ++i)
            range.push_back(std::exp(-i / 32640.0 / 0.08));
    }
};

// One bilateral pass computed pixel by pixel along rows or columns: the weighted mean of the
// neighbours, formed as the centre plus the weighted mean difference so flat areas stay exact.
std::vector<uint16_t> referencePass(const std::vector<uint16_t>& in, int w, int h, bool columns,
                                    const referenceTables& t) {
    std::vector<uint16_t> out(in.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int c = std::min<int>(in[size_t(y) * w + x], 32640);
            double sw = 0, swd = 0;
            for (int o = -t.radius; o <= t.radius; ++o) {
                const int nx = columns ? x : x + o, ny = columns ? y + o : y;
                if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
                const int nb = std::min<int>(in[size_t(ny) * w + nx], 32640);
                const double weight = t.g[std::abs(o)] * t.range[size_t((nb - c) * (nb - c) / 32640)];
                sw += weight;
                swd += weight * (nb - c);
            }
            double result = c + swd / sw;
            result = std::min(std::max(result, 0.0), 32640.0);
            out[size_t(y) * w + x] = uint16_t(std::floor(0.0 * c + 1.0 * result));
        }
    return out;
}

// The luminance power the mask filters, over a whole picture.
std::vector<uint16_t> lumOf(const std::vector<float>& hdr, int w, int h) {
    std::vector<uint16_t> lum(size_t(w) * h);
    powHdrLum_threadParams_t p;
    p.firstPixel = 0;
    p.endPixel = int64_t(w) * h;
    p.hdr = hdr.data();
    p.target = lum.data();
    powHdrLum(p);
    return lum;
}

std::vector<float> radianceScene(int w, int h) {
    std::vector<float> hdr(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            // Dark and bright halves with noise: edges the filter must keep.
            const float base = (x * 3 < w * 2) ? 0.02f : 0.7f;
            const float n = float(halvora::test::hashMix(uint32_t(y * 4099 + x)) % 1000) / 1000.0f;
            for (int c = 0; c < 3; ++c)
                hdr[3 * (size_t(y) * w + x) + c] = base * (0.8f + 0.4f * n) * (1.0f + 0.1f * c);
        }
    return hdr;
}

} // namespace

TEST(maskPlane, tables) {
    const referenceTables ref;
    bilateralTables_t t;
    bilateralMaskTables(t);
    EXPECT_EQ(ref.radius, 24);
    EXPECT_EQ(t.radius, 24);
    ASSERT_EQ(t.spatial.size(), 64u);
    ASSERT_EQ(t.range.size(), 32641u);
    for (int j = 0; j < 64; ++j)
        EXPECT_DOUBLE_EQ(t.spatial[size_t(j)], ref.g[j]);
    EXPECT_DOUBLE_EQ(t.range[0], 1.0);
    EXPECT_NEAR(t.range[32640], std::exp(-12.5), 1e-15);
}

TEST(maskPlane, powHdrLumValuesAndHostileInput) {
    const float pixels[][3] = {
        {1, 1, 1},    {0, 0, 0}, {0.125f, 0.125f, 0.125f}, {NAN, 0, 0}, {INFINITY, 0, 0},
        {-1, -1, -1}, {3, 3, 3}, {0, 0, -INFINITY},        {1, 0, 0},   {INFINITY, -INFINITY, 0}};
    const int n = int(std::size(pixels));
    std::vector<uint16_t> out(size_t(n), 0xFFFF);
    powHdrLum_threadParams_t p;
    p.firstPixel = 0;
    p.endPixel = n;
    p.hdr = &pixels[0][0];
    p.target = out.data();
    powHdrLum(p);
    EXPECT_EQ(out[0], 32640);
    EXPECT_EQ(out[1], 0);
    // 0.125^(2/3) = 0.25 → 8160 (up to the last bit of the power).
    EXPECT_NEAR(out[2], 8160, 1);
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(out[4], 32640);
    EXPECT_EQ(out[5], 0);
    EXPECT_EQ(out[6], 32640);
    EXPECT_EQ(out[7], 0);
    EXPECT_NEAR(out[8], std::pow(0.3086, 2.0 / 3.0) * 32640, 1);
    EXPECT_EQ(out[9], 0); // Inf − Inf
}

TEST(maskPlane, bilateralMatchesReference) {
    const referenceTables ref;
    for (auto [w, h] :
         {std::pair{71, 53}, std::pair{3, 2}, std::pair{1, 1}, std::pair{60, 1}, std::pair{1, 40}}) {
        const std::vector<float> hdr = radianceScene(w, h);
        std::vector<uint16_t> mask(size_t(w) * h), scratch(mask.size());
        ASSERT_TRUE(computeMaskPlane(hdr.data(), w, h, mask.data(), scratch.data()));

        const std::vector<uint16_t> lum = lumOf(hdr, w, h);
        const std::vector<uint16_t> expected =
            referencePass(referencePass(lum, w, h, false, ref), w, h, true, ref);
        EXPECT_EQ(mask, expected) << w << "x" << h;
    }
}

TEST(maskPlane, keepsEdgesAndFlatAreas) {
    const int w = 80, h = 20;
    std::vector<float> hdr(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                hdr[3 * (size_t(y) * w + x) + c] = x < 40 ? 0.001f : 1.0f;
    std::vector<uint16_t> mask(size_t(w) * h), scratch(mask.size());
    ASSERT_TRUE(computeMaskPlane(hdr.data(), w, h, mask.data(), scratch.data()));
    const int dark = int(std::pow(0.001, 2.0 / 3.0) * 32640); // 326
    // Range weight across the edge is e^-12.5 of a close neighbour: the edge survives almost untouched.
    EXPECT_NEAR(mask[size_t(10) * w + 39], dark, 2);
    EXPECT_NEAR(mask[size_t(10) * w + 40], 32640, 2);
    EXPECT_NEAR(mask[size_t(10) * w + 5], dark, 1);
    EXPECT_EQ(mask[size_t(10) * w + 75], 32640);
}

// Pictures wide and tall enough for several chunks, thread ranges and the kept pair weights to meet,
// on one and on three threads.
TEST(maskPlane, manyChunksMatchThePixelByPixelReference) {
    // 650 × 160: rows of three chunks of filtered pixels plus the borders, columns in eleven chunks,
    // and more rows than the kept pair weights of one column chunk cover. Large smooth areas, edges
    // of every height and grain.
    const int w = 650, h = 160;
    std::vector<float> hdr(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t n = halvora::test::hashMix(uint32_t(y) * 7919u + uint32_t(x));
            double lum = 0.02 + 0.3 * (0.5 + 0.5 * std::sin(x * 0.021 + y * 0.013));
            if ((x / 37 + y / 23) % 5 == 0) lum = 0.9;            // bright patches with sharp edges
            lum *= 1.0 + 0.2 * (double(n % 1000) / 1000.0 - 0.5); // grain
            if (n % 4099 == 0) lum = 40.0;                        // hot pixels above full scale
            for (int c = 0; c < 3; ++c)
                hdr[3 * (size_t(y) * w + x) + c] = float(lum);
        }
    const referenceTables ref;
    const std::vector<uint16_t> lum = lumOf(hdr, w, h);
    const std::vector<uint16_t> expected =
        referencePass(referencePass(lum, w, h, false, ref), w, h, true, ref);
    for (int threads : {1, 3}) {
        halvora::test::threadCountGuard guard(threads);
        std::vector<uint16_t> mask(lum.size()), scratch(lum.size());
        ASSERT_TRUE(computeMaskPlane(hdr.data(), w, h, mask.data(), scratch.data()));
        for (size_t i = 0; i < mask.size(); ++i)
            ASSERT_EQ(mask[i], expected[i])
                << "at " << i % w << "," << i / w << ", " << threads << " threads";
    }
}

TEST(maskPlane, progressCountsRowsAndColumns) {
    const int w = 50, h = 30;
    const std::vector<float> hdr = radianceScene(w, h);
    std::vector<uint16_t> mask(size_t(w) * h), scratch(mask.size());
    runContext run;
    runContext::scope bind(run);
    run.startProgress(w + h);
    ASSERT_TRUE(computeMaskPlane(hdr.data(), w, h, mask.data(), scratch.data()));
    EXPECT_EQ(run.progressDone(), uint64_t(w + h));
}

TEST(maskPlane, refusesMissingBuffers) {
    std::vector<uint16_t> mask(4), scratch(4);
    const float hdr[12] = {};
    EXPECT_FALSE(computeMaskPlane(nullptr, 2, 2, mask.data(), scratch.data()));
    EXPECT_FALSE(computeMaskPlane(hdr, 0, 2, mask.data(), scratch.data()));
    EXPECT_FALSE(computeMaskPlane(hdr, 2, 2, mask.data(), nullptr));
}
