// The local-contrast plane where its inner bookkeeping is stretched: windows whose fine bins go unread
// for hundreds of moves while whole window columns pour into them. (The mask plane over many chunks:
// maskPlaneTest.)

#include "base/parallelFor.h"
#include "support/testSupport.h"
#include "tonemap/localContrast.h"

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
