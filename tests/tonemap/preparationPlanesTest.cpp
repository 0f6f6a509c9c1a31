// The preparation planes where their inner bookkeeping is stretched: local-contrast windows whose fine
// bins go unread for hundreds of moves while whole window columns pour into them, and mask passes over
// pictures wide and tall enough for several chunks, thread ranges and the kept pair weights to meet.

#include "base/parallelFor.h"
#include "support/testSupport.h"
#include "tonemap/localContrast.h"
#include "tonemap/maskPlane.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

using namespace halvora;

TEST(preparationPlanes, localContrastCountsExactlyAfterLongUnreadRuns) {
    // 2000 × 700 pixels, k = 700: every window spans all 350 sampled rows and 701 sampled columns. The
    // left 700 pixel columns hold 1500, the next 40 hold 240, the rest 270. Blocks over the 240 columns
    // read the bins 256 … 279 (their ramp ends at 280), which no block before them reads, while each
    // move before them adds a column of 350 samples of 270: the window's first block column sweeps
    // at least 94 moves (32 900 samples) there, more than a signed 16-bit count holds.
    const int w = 2000, h = 700, k = 700;
    std::vector<uint16_t> plane(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            plane[size_t(y) * w + x] = x < 700 ? 1500 : x < 740 ? 240 : 270;
    for (int threads : {1, 2}) {
        halvora::test::threadCountGuard guard(threads);
        std::vector<uint16_t> out(plane.size()), samples(size_t(w / 2) * (h / 2));
        ASSERT_TRUE(runLocalContrast(plane.data(), w, h, k, false, false, samples.data(), out.data()));
        // Value 240: ramp width 80, so lo = 160 and hi = 280; nothing lies below 160. The block of
        // sampled column 350 + d sees 20 columns of 240, each sample counting (280 − 240) / 120, and
        // 331 + d columns of 270, each sample counting 10 / 120, out of 701 columns of 350 samples.
        for (int x = 700; x < 740; ++x) {
            const int64_t d = (x - 700) / 2;
            const auto expected = uint16_t((20 * 40 + (331 + d) * 10) * 32640 / (701 * 120));
            for (int y = 0; y < h; y += 7)
                ASSERT_EQ(out[size_t(y) * w + x], expected)
                    << "at " << x << "," << y << ", " << threads << " threads";
        }
        // Value 1500 at the left edge: ramp width 300, lo = 1200, hi = 1650. The window holds columns
        // 0 … 350: 350 columns of 1500 (ramp weight 150 / 450 each) and one of 240 (below lo):
        // ⌊(450 + 350 × 150) × 32640 / (351 × 450)⌋ = ⌊10941.99⌋.
        EXPECT_EQ(out[0], 10941);
        EXPECT_EQ(out[size_t(h - 1) * w + 1], 10941);
    }
}

namespace {

// The mask plane pixel by pixel: one pass along rows, one along columns, every tap weighted with the
// tables' spatial weight of its distance and range weight of its squared difference.
std::vector<uint16_t> maskByPixel(const std::vector<uint16_t>& lum, int w, int h) {
    bilateralTables_t t;
    bilateralMaskTables(t);
    auto pass = [&](const std::vector<uint16_t>& in, int dx, int dy) {
        std::vector<uint16_t> out(in.size());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int64_t c = std::min<int>(in[size_t(y) * w + x], 32640);
                double sumW = 0, sumWD = 0;
                for (int o = -t.radius; o <= t.radius; ++o) {
                    const int nx = x + o * dx, ny = y + o * dy;
                    if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
                    const int64_t d = std::min<int>(in[size_t(ny) * w + nx], 32640) - c;
                    const double weight = t.spatial[size_t(std::abs(o))] * t.range[size_t(d * d / 32640)];
                    sumW += weight;
                    sumWD += weight * double(d);
                }
                const double v = std::min(std::max(double(c) + sumWD / sumW, 0.0), 32640.0);
                out[size_t(y) * w + x] = uint16_t(v);
            }
        return out;
    };
    return pass(pass(lum, 1, 0), 0, 1);
}

} // namespace

TEST(preparationPlanes, maskOverManyChunksMatchesPixelByPixel) {
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
    std::vector<uint16_t> lum(size_t(w) * h);
    powHdrLum_threadParams_t p;
    p.endPixel = int64_t(w) * h;
    p.hdr = hdr.data();
    p.target = lum.data();
    powHdrLum(p);
    const std::vector<uint16_t> expected = maskByPixel(lum, w, h);
    for (int threads : {1, 3}) {
        halvora::test::threadCountGuard guard(threads);
        std::vector<uint16_t> mask(lum.size()), scratch(lum.size());
        ASSERT_TRUE(computeMaskPlane(hdr.data(), w, h, mask.data(), scratch.data()));
        for (size_t i = 0; i < mask.size(); ++i)
            ASSERT_EQ(mask[i], expected[i])
                << "at " << i % w << "," << i / w << ", " << threads << " threads";
    }
}
