// A run whose look is fixed before the planes are made (the automatic run) makes only the planes that
// look reads: its preview and full-size picture are exactly those of a preparation that made them all.

#include "base/runContext.h"
#include "project/processingProject.h"
#include "project/toneMappingPreprocessWorker.h"
#include "support/syntheticPictures.h"
#include "support/testSupport.h"
#include "tonemap/rebuildOnChange.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace halvora;

namespace {

constexpr int kWidth = 420, kHeight = 300;

struct lookCase {
    const char* name;
    bool localContrast, mask;
    double range;
    bool mediumMade, coarseMade; // what the fixed-look preparation must make
};

struct tonedPicture {
    std::vector<uint8_t> preview;
    std::vector<uint16_t> full;
};

void setUp(processingProject& p, const lookCase& c) {
    ASSERT_FALSE(p.createFailed);
    ASSERT_TRUE(p.setImageSize(kWidth, kHeight));
    const std::vector<float> rgb = test::testPicture(kWidth, kHeight, 5);
    std::copy(rgb.begin(), rgb.end(), p.rgbFloatBuffer());
    p.hdrImage.buildLevels();
    p.hdrMean = 0.15;
    p.lcCorrection = 0.85;
    toneMappingSettings_t& s = p.tmSettings;
    s.localContrastEnabled = c.localContrast;
    s.maskEnabled = c.mask;
    s.range = c.range;
    s.autoClipping = true;
    s.blackClip = s.whiteClip = 0.05;
    rebuildToneMappingTables(s, toneMappingChange::everything);
}

bool prepare(processingProject& p, const toneMappingPrepareOptions_t& options) {
    runContext run;
    runContext::scope bind(run);
    run.startProgress(toneMappingPreprocessWorker::progressTotal(p, options));
    toneMappingPreprocessWorker worker(&p, options);
    worker.doIt();
    // The progress total announced counts exactly the passes made.
    EXPECT_EQ(run.progressDone(), run.progressTotal());
    return worker.succeeded();
}

tonedPicture toneMap(processingProject& p) {
    tonedPicture t;
    p.toneMapPreview(p.tmSettings, nullptr, false);
    EXPECT_TRUE(p.previewValid);
    t.preview = p.toneMappedPreview;
    EXPECT_TRUE(p.toneMapFullImage());
    t.full.assign(p.resultBuffer(), p.resultBuffer() + size_t(kWidth) * kHeight * 3);
    return t;
}

void spoil(pyramid& plane) {
    for (int level = 0; level < plane.levelCount(); ++level)
        if (plane.data<uint16_t>(level))
            std::fill_n(plane.data<uint16_t>(level), size_t(plane.width(level)) * plane.height(level),
                        uint16_t(23456));
}

} // namespace

TEST(fixedLookPlanes, samePictureFromOnlyThePlanesTheLookReads) {
    const lookCase cases[] = {
        {"default range", true, true, 0.5, true, false},
        {"finest range", true, true, 0.0, false, false},
        {"coarsest range", true, true, 1.0, false, true},
        {"between fine and medium", true, true, 0.3, true, false},
        {"between medium and coarse", true, false, 0.8, true, true},
        {"no local contrast", false, true, 0.5, false, false},
    };
    for (const lookCase& c : cases) {
        SCOPED_TRACE(c.name);
        processingProject all(nullptr, test::makeTempDir("all"));
        setUp(all, c);
        ASSERT_TRUE(prepare(all, toneMappingPrepareOptions_t{}));
        const tonedPicture expected = toneMap(all);

        processingProject fixed(nullptr, test::makeTempDir("fixed"));
        setUp(fixed, c);
        // Whatever a plane that is not made holds must not reach the picture.
        for (pyramid* plane :
             {&fixed.lcPlaneFine, &fixed.lcPlaneMedium, &fixed.lcPlaneCoarse, &fixed.maskPlane})
            spoil(*plane);
        toneMappingPrepareOptions_t options;
        options.onlyPlanesReadBy(fixed.tmSettings);
        test::logCapture log;
        ASSERT_TRUE(prepare(fixed, options));
        EXPECT_EQ(log.contains("* step 1 ("), c.mediumMade);
        EXPECT_EQ(log.contains("* step 2 ("), c.localContrast);
        EXPECT_EQ(log.contains("* step 3 ("), c.coarseMade);
        EXPECT_EQ(log.contains("Mask...\n"), c.mask);
        const tonedPicture got = toneMap(fixed);
        EXPECT_TRUE(got.preview == expected.preview);
        EXPECT_TRUE(got.full == expected.full);
        // The run hands the picture on as prepared for any look only when it made every plane.
        fixed.forgetPlanesLeftOut();
        EXPECT_EQ(fixed.lcPlanesValid, c.localContrast && c.mediumMade && c.coarseMade);
    }
}

// An interactive session may move Range to any value: its preparation makes the planes a fixed look
// left out, and the picture then reads them.
TEST(fixedLookPlanes, laterPreparationMakesThePlanesLeftOut) {
    const lookCase c{"default range", true, true, 0.5, true, false};
    processingProject all(nullptr, test::makeTempDir("all"));
    setUp(all, c);
    ASSERT_TRUE(prepare(all, toneMappingPrepareOptions_t{}));
    all.tmSettings.range = 0.9;
    rebuildToneMappingTables(all.tmSettings, toneMappingChange::everything);
    const tonedPicture expected = toneMap(all);

    processingProject p(nullptr, test::makeTempDir("fixed"));
    setUp(p, c);
    toneMappingPrepareOptions_t fixedLook;
    fixedLook.onlyPlanesReadBy(p.tmSettings);
    ASSERT_TRUE(prepare(p, fixedLook));
    ASSERT_TRUE(p.lcPlanesValid && p.lcCoarseSkipped);
    p.tmSettings.range = 0.9;
    rebuildToneMappingTables(p.tmSettings, toneMappingChange::everything);
    ASSERT_TRUE(prepare(p, toneMappingPrepareOptions_t{}));
    EXPECT_FALSE(p.lcCoarseSkipped);
    const tonedPicture got = toneMap(p);
    EXPECT_TRUE(got.preview == expected.preview);
    EXPECT_TRUE(got.full == expected.full);
}
