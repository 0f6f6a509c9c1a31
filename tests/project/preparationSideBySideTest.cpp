// The preparation with two threads or more runs the mask plane and the local-contrast planes side by
// side, each with a scratch third of the result buffer of its own: the planes are exactly those of
// the passes run alone, and a cancel marks only a plane that was finished.

#include "base/debugLog.h"
#include "base/runContext.h"
#include "project/processingProject.h"
#include "project/toneMappingPreprocessWorker.h"
#include "support/testSupport.h"
#include "tonemap/localContrast.h"
#include "tonemap/maskPlane.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace halvora;

namespace {

// Bright and dark halves with texture and noise: every pass has edges to work on.
void paintRadiance(processingProject& p) {
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const double base = x < p.width / 3 ? 0.004 : 0.35;
            const double v = base * (1.2 + std::sin(x * 0.07 + y * 0.05)) *
                             (0.8 + 0.4 * (halvora::test::hashMix(uint32_t(y * 65537 + x)) % 1000) / 1000.0);
            for (int c = 0; c < 3; ++c)
                p.rgbFloatBuffer()[3 * (size_t(y) * p.width + x) + c] =
                    float(std::min(1.0, v * (0.7 + 0.15 * c)));
        }
}

bool prepare(processingProject& p) {
    toneMappingPreprocessWorker worker(&p, toneMappingPrepareOptions_t{});
    worker.doIt();
    return worker.succeeded();
}

std::vector<uint16_t> plane(const pyramid& p) {
    return std::vector<uint16_t>(p.data<uint16_t>(), p.data<uint16_t>() + size_t(p.width()) * p.height());
}

} // namespace

// Sizes whose sample grid (a quarter of the picture, rounded up) reaches furthest into the second
// third of the result buffer: odd sides, a single row, a single column.
TEST(preparationSideBySide, planesEqualThePassesRunAlone) {
    for (auto [w, h] : {std::pair{641, 379}, std::pair{1, 257}, std::pair{333, 1}, std::pair{97, 96}}) {
        halvora::test::threadCountGuard threads(3);
        processingProject p(nullptr, test::makeTempDir("side"));
        ASSERT_TRUE(p.setImageSize(w, h));
        paintRadiance(p);
        p.lcCorrection = 0.7;
        ASSERT_TRUE(prepare(p)) << w << "x" << h;
        ASSERT_TRUE(p.maskPlaneValid && p.lcPlanesValid);

        const size_t n = size_t(w) * h;
        std::vector<uint16_t> mask(n), scratch(n), prepared(n), samples(size_t((w + 1) / 2) * ((h + 1) / 2)),
            expected(n);
        ASSERT_TRUE(computeMaskPlane(p.rgbFloatBuffer(), w, h, mask.data(), scratch.data()));
        EXPECT_EQ(plane(p.maskPlane), mask) << w << "x" << h;
        ASSERT_TRUE(runLocalContrastPrepare(p.rgbFloatBuffer(), w, h, 0.7, prepared.data()));
        const localContrastWindows_t k = localContrastWindowSizes(w, h);
        const std::pair<int, const pyramid*> steps[] = {
            {k.fine, &p.lcPlaneFine}, {k.medium, &p.lcPlaneMedium}, {k.coarse, &p.lcPlaneCoarse}};
        for (const auto& [window, target] : steps) {
            ASSERT_TRUE(runLocalContrast(prepared.data(), w, h, window, false, target == &p.lcPlaneFine,
                                         samples.data(), expected.data()));
            EXPECT_EQ(plane(*target), expected) << w << "x" << h << " window " << window;
        }
    }
}

// A cancel during the local-contrast passes fails the preparation and leaves the local contrast
// unmarked; the mask, running meanwhile, is marked only when it ran to its end, and then it is whole.
TEST(preparationSideBySide, cancelMarksOnlyFinishedPlanes) {
    for (const char* trigger : {"* step 1", "* step 3"}) {
        halvora::test::threadCountGuard threads(2);
        processingProject p(nullptr, test::makeTempDir("side"));
        ASSERT_TRUE(p.setImageSize(800, 500));
        paintRadiance(p);
        runContext run;
        runContext::scope bind(run);
        const std::string prefix = trigger;
        setDebugLogListener([&run, prefix](const char* line) {
            if (std::string(line).rfind(prefix, 0) == 0) run.cancel();
        });
        EXPECT_FALSE(prepare(p)) << trigger;
        setDebugLogListener(nullptr);
        EXPECT_FALSE(p.lcPlanesValid) << trigger;
        if (p.maskPlaneValid) {
            std::vector<uint16_t> mask(800 * 500), scratch(mask.size());
            runContext fresh;
            runContext::scope again(fresh);
            ASSERT_TRUE(computeMaskPlane(p.rgbFloatBuffer(), 800, 500, mask.data(), scratch.data()));
            EXPECT_EQ(plane(p.maskPlane), mask) << trigger;
        }
        // Uncancelled, the same project is prepared in full, both passes again or the rest of them.
        runContext retry;
        runContext::scope bindRetry(retry);
        EXPECT_TRUE(prepare(p)) << trigger;
        EXPECT_TRUE(p.maskPlaneValid && p.lcPlanesValid) << trigger;
    }
}
