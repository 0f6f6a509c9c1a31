// The preparation worker on a real processing project: planes, pyramids, flags, progress, logging,
// hostile radiance, tiny pictures and cancellation.

#include "project/toneMappingPreprocessWorker.h"
#include "base/debugLog.h"
#include "base/parallelFor.h"
#include "base/runContext.h"
#include "project/processingProject.h"
#include "support/testSupport.h"
#include "tonemap/localContrast.h"
#include "tonemap/maskPlane.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace halvora;

namespace {

void fillRadiance(processingProject& p) {
    float* hdr = p.rgbFloatBuffer();
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const double lum = 0.002 + 0.5 * (1 + std::sin(x * 0.09) * std::cos(y * 0.13)) *
                                           (x > p.width / 2 ? 1.0 : 0.01) *
                                           (0.9 + 0.2 * (halvora::test::hashMix(y * 7919 + x) % 100) / 100.0);
            for (int c = 0; c < 3; ++c)
                hdr[3 * (size_t(y) * p.width + x) + c] = float(std::min(1.0, lum * (1.0 - 0.1 * c)));
        }
}

std::vector<uint16_t> level(pyramid& p, int k) {
    const uint16_t* d = p.data<uint16_t>(k);
    return std::vector<uint16_t>(d, d + size_t(p.width(k)) * p.height(k));
}

struct projectFixture {
    processingProject project{nullptr, test::makeTempDir("tm")};
    explicit projectFixture(int w, int h) {
        EXPECT_FALSE(project.createFailed);
        EXPECT_TRUE(project.setImageSize(w, h));
    }
};

bool runWorker(processingProject& project, bool panorama = false) {
    toneMappingPrepareOptions_t options;
    options.panoramaMode = panorama;
    toneMappingPreprocessWorker worker(&project, options);
    int finished = 0;
    QObject::connect(&worker, &toneMappingPreprocessWorker::finished, [&finished] { ++finished; });
    worker.doIt();
    EXPECT_EQ(finished, 1);
    return worker.succeeded();
}

// Level 1 of a plane straight from its rule: truncated mean of columns 2x−1, 2x and rows 2y−1, 2y.
std::vector<uint16_t> reduceDirect(const uint16_t* src, int w, int h, int) {
    std::vector<uint16_t> out(size_t(w / 2) * (h / 2));
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 2; ++x) {
            auto at = [&](int xx, int yy) {
                return unsigned(src[size_t(std::max(yy, 0)) * w + std::max(xx, 0)]);
            };
            out[size_t(y) * (w / 2) + x] = uint16_t(
                (at(2 * x - 1, 2 * y - 1) + at(2 * x, 2 * y - 1) + at(2 * x - 1, 2 * y) + at(2 * x, 2 * y)) /
                4);
        }
    return out;
}

} // namespace

TEST(toneMappingPreprocessWorker, buildsEveryPlaneAndPyramid) {
    projectFixture f(700, 333); // two pyramid levels, odd height
    processingProject& p = f.project;
    fillRadiance(p);
    p.lcCorrection = 0.8;
    ASSERT_EQ(p.pyramidLevels, 2);
    // One thread: the passes one after the other, their log lines in order.
    halvora::test::threadCountGuard one(1);
    runContext run;
    runContext::scope bind(run);
    run.startProgress(toneMappingPreprocessWorker::progressTotal(p, {}));
    EXPECT_EQ(run.progressTotal(), uint64_t(700 + 333 + 3 * 700));
    test::logCapture log;
    ASSERT_TRUE(runWorker(p));
    EXPECT_TRUE(p.maskPlaneValid);
    EXPECT_TRUE(p.lcPlanesValid);
    EXPECT_EQ(run.progressDone(), run.progressTotal());
    EXPECT_TRUE(log.contains("Mask...\np.tabSize=24\n"));
    EXPECT_TRUE(log.contains("Local Contrast (panorama mode = 0)...\n* preparing...\n* step 1 (k=30)...\n"));
    EXPECT_TRUE(log.contains("* step 2 (k=8)...\n* step 3 (k=88)...\n"));

    // The planes are exactly what the passes give on their own.
    const int w = p.width, h = p.height;
    std::vector<uint16_t> mask(size_t(w) * h), scratch(mask.size()), prepared(mask.size()),
        samples(size_t((w + 1) / 2) * ((h + 1) / 2)), plane(mask.size());
    ASSERT_TRUE(computeMaskPlane(p.rgbFloatBuffer(), w, h, mask.data(), scratch.data()));
    EXPECT_EQ(level(p.maskPlane, 0), mask);
    ASSERT_TRUE(runLocalContrastPrepare(p.rgbFloatBuffer(), w, h, 0.8, prepared.data()));
    EXPECT_TRUE(std::equal(prepared.begin(), prepared.end(), p.resultBuffer()));
    const localContrastWindows_t k = localContrastWindowSizes(w, h);
    ASSERT_TRUE(runLocalContrast(prepared.data(), w, h, k.fine, false, true, samples.data(), plane.data()));
    EXPECT_EQ(level(p.lcPlaneFine, 0), plane);
    ASSERT_TRUE(
        runLocalContrast(prepared.data(), w, h, k.medium, false, false, samples.data(), plane.data()));
    EXPECT_EQ(level(p.lcPlaneMedium, 0), plane);
    ASSERT_TRUE(
        runLocalContrast(prepared.data(), w, h, k.coarse, false, false, samples.data(), plane.data()));
    EXPECT_EQ(level(p.lcPlaneCoarse, 0), plane);

    for (pyramid* pl : {&p.maskPlane, &p.lcPlaneFine, &p.lcPlaneMedium, &p.lcPlaneCoarse})
        EXPECT_EQ(level(*pl, 1), reduceDirect(pl->data<uint16_t>(0), w, h, 1));
}

TEST(toneMappingPreprocessWorker, sameResultForAnyThreadCountAndPanoramaLogged) {
    std::vector<std::vector<uint16_t>> planes;
    for (int n : {1, 3}) {
        halvora::test::threadCountGuard t(n);
        projectFixture f(157, 94);
        fillRadiance(f.project);
        test::logCapture log;
        ASSERT_TRUE(runWorker(f.project, true));
        EXPECT_TRUE(log.contains("Local Contrast (panorama mode = 1)...\n"));
        for (pyramid* pl : {&f.project.maskPlane, &f.project.lcPlaneFine, &f.project.lcPlaneMedium,
                            &f.project.lcPlaneCoarse})
            planes.push_back(level(*pl, 0));
    }
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(planes[i], planes[i + 4]) << i;
}

TEST(toneMappingPreprocessWorker, hostileRadianceStaysInRange) {
    projectFixture f(64, 48);
    processingProject& p = f.project;
    const float specials[] = {NAN, INFINITY, -INFINITY, -1.0f, 1e30f, -1e-30f, 1e-40f, 0.0f, 0.5f, 2.0f};
    for (size_t i = 0; i < size_t(64 * 48 * 3); ++i)
        p.rgbFloatBuffer()[i] = specials[halvora::test::hashMix(uint32_t(i)) % std::size(specials)];
    for (double e : {1.0, 0.51, std::nan(""), -3.0, 0.0}) {
        p.maskPlaneValid = p.lcPlanesValid = false;
        p.lcCorrection = e;
        ASSERT_TRUE(runWorker(p)) << e;
        for (int i = 0; i < 64 * 48; ++i)
            ASSERT_LE(p.resultBuffer()[i], 2040);
        for (pyramid* pl : {&p.maskPlane, &p.lcPlaneFine, &p.lcPlaneMedium, &p.lcPlaneCoarse})
            for (int k = 0; k < pl->levelCount(); ++k)
                for (uint16_t v : level(*pl, k))
                    ASSERT_LE(v, 32640);
    }
}

TEST(toneMappingPreprocessWorker, tinyPictures) {
    for (auto [w, h] : {std::pair{1, 1}, std::pair{3, 2}, std::pair{2, 5}, std::pair{7, 1}}) {
        projectFixture f(w, h);
        processingProject& p = f.project;
        for (int i = 0; i < w * h * 3; ++i)
            p.rgbFloatBuffer()[i] = float(i % 7) / 6.0f;
        ASSERT_TRUE(runWorker(p)) << w << "x" << h;
        for (pyramid* pl : {&p.maskPlane, &p.lcPlaneFine, &p.lcPlaneMedium, &p.lcPlaneCoarse})
            for (uint16_t v : level(*pl, 0))
                EXPECT_LE(v, 32640);
    }
    // One grey pixel: the only sample is itself, so every local-contrast plane holds its ramp share.
    projectFixture f(1, 1);
    for (int c = 0; c < 3; ++c)
        f.project.rgbFloatBuffer()[c] = 1.0f;
    ASSERT_TRUE(runWorker(f.project));
    EXPECT_EQ(f.project.resultBuffer()[0], 2040);
    // 2040: ramp width 40, ramp 2000 … 2048 → weight 8 / 48.
    EXPECT_EQ(f.project.lcPlaneMedium.data<uint16_t>()[0], 32640 * 8 / 48);
    EXPECT_EQ(f.project.maskPlane.data<uint16_t>()[0], 32640);
}

TEST(toneMappingPreprocessWorker, skipsPassesMarkedValid) {
    projectFixture f(40, 30);
    processingProject& p = f.project;
    fillRadiance(p);
    std::fill_n(p.maskPlane.data<uint16_t>(), 40 * 30, uint16_t(4321));
    p.maskPlaneValid = true;
    test::logCapture log;
    runContext run;
    runContext::scope bind(run);
    run.startProgress(toneMappingPreprocessWorker::progressTotal(p, {}));
    EXPECT_EQ(run.progressTotal(), uint64_t(3 * 40));
    ASSERT_TRUE(runWorker(p));
    EXPECT_FALSE(log.contains("Mask...\n"));
    EXPECT_EQ(p.maskPlane.data<uint16_t>()[123], 4321);
    EXPECT_TRUE(p.lcPlanesValid);

    p.lcPlaneFine.data<uint16_t>()[0] = 1;
    ASSERT_TRUE(runWorker(p)); // nothing left to do
    EXPECT_EQ(p.lcPlaneFine.data<uint16_t>()[0], 1);
}

TEST(toneMappingPreprocessWorker, refusesProjectWithoutPicture) {
    processingProject empty(nullptr, test::makeTempDir("tm"));
    test::logCapture log;
    EXPECT_FALSE(runWorker(empty));
    EXPECT_TRUE(log.contains("toneMappingPreprocessWorker::doIt: "));
    EXPECT_FALSE(empty.maskPlaneValid || empty.lcPlanesValid);

    // Planes that do not match the recorded size (a half-done resize) are refused too.
    projectFixture f(30, 20);
    f.project.width = 31;
    EXPECT_FALSE(runWorker(f.project));
}

TEST(toneMappingPreprocessWorker, cancelBeforeStart) {
    projectFixture f(120, 80);
    fillRadiance(f.project);
    runContext run;
    runContext::scope bind(run);
    run.cancel();
    const bool ok = runWorker(f.project);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(f.project.maskPlaneValid);
    EXPECT_FALSE(f.project.lcPlanesValid);
}

TEST(toneMappingPreprocessWorker, cancelDuringLocalContrastStopsPromptly) {
    projectFixture f(900, 600);
    processingProject& p = f.project;
    fillRadiance(p);
    // One thread: the mask is finished before the local contrast starts.
    halvora::test::threadCountGuard one(1);
    runContext run;
    runContext::scope bind(run);
    run.startProgress(toneMappingPreprocessWorker::progressTotal(p, {}));
    // The cancel arrives exactly when the first local-contrast step starts.
    setDebugLogListener([&run](const char* line) {
        if (std::string(line).rfind("* step 1", 0) == 0) run.cancel();
    });
    const bool ok = runWorker(p);
    setDebugLogListener(nullptr);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(p.maskPlaneValid);
    EXPECT_FALSE(p.lcPlanesValid);
    // The mask (width + height) is done; step 1 stopped within its first rows, finishing no columns.
    EXPECT_EQ(run.progressDone(), uint64_t(900 + 600));
}
