// Bad input for the HDR core: equal EVs, one photo, clipped brackets, the
// largest bracket, photos that disappear between the stages, missing or damaged temporary files.

#include "project/exposureValues.h"
#include "project/generateHDRworker.h"
#include "project/hdrTestSupport.h"
#include "support/testSupport.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

using hdrtest::photoData;

constexpr int badW = 120, badH = 80;

std::vector<photoData> bracket(int count, double step, bool withExif = true) {
    std::vector<double> evs;
    for (int i = 0; i < count; ++i)
        evs.push_back(step * (i - (count - 1) / 2.0));
    auto photos =
        hdrtest::exposeBracket(hdrtest::rampScene(badW, badH),
                               hdrtest::syntheticCamera(halvora::standardResponsePolynomial()), 1.0, evs);
    if (!withExif)
        for (auto& p : photos)
            p.exposureTime = p.fNumber = float(p.iso = 0);
    return photos;
}

std::unique_ptr<processingProject> badProject(const std::vector<photoData>& photos) {
    auto project = hdrtest::makeProject();
    EXPECT_TRUE(hdrtest::addPhotos(*project, badW, badH, photos));
    return project;
}

// Prepares, merges and preprocesses with `method`; the radiance picture must be finite throughout.
void generateAndCheck(processingProject& project, int method, const char* what) {
    generateHDRworker worker(&project);
    worker.method = method;
    ASSERT_TRUE(worker.prepareWeightTables()) << what;
    ASSERT_TRUE(worker.generateHDR_core()) << what << ": " << worker.lastError.toStdString();
    const size_t n = size_t(badW) * badH * 3;
    ASSERT_TRUE(halvora::test::allFinite(project.rgbFloatBuffer(), n)) << what;
    EXPECT_TRUE(std::isfinite(worker.hdrMin) && std::isfinite(worker.hdrMax)) << what;
    ASSERT_TRUE(worker.hdrPreprocess());
    ASSERT_TRUE(halvora::test::allFinite(project.rgbFloatBuffer(), n)) << what;
    for (size_t i = 0; i < n; ++i)
        ASSERT_TRUE(project.rgbFloatBuffer()[i] >= 0.0f && project.rgbFloatBuffer()[i] <= 1.0f) << what;
    EXPECT_TRUE(std::isfinite(project.lcCorrection) && std::isfinite(project.hdrMean)) << what;
}

TEST(badInput, equalEVsWarnAndFallBackToTheStandardCurve) {
    auto project = badProject(bracket(3, 0));
    halvora::chooseEVsAfterLoading(*project);
    bool switched = false;
    const QStringList warnings = halvora::evChecksBeforeGeneration(*project, true, switched);
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_EQ(warnings[0],
              "Warning! There are photos that have the same EV value. It is all right as far as it "
              "was intended.");
    halvora::test::logCapture log;
    for (int method : {0, 1, 2})
        generateAndCheck(*project, method, "equal evs");
    EXPECT_TRUE(log.contains("Too few photos can be used for curve recovery"));
}

TEST(badInput, onePhoto) {
    auto project = badProject(bracket(1, 0));
    halvora::chooseEVsAfterLoading(*project);
    for (int method : {0, 1, 2})
        generateAndCheck(*project, method, "one photo");
    generateHDRworker worker(project.get());
    ASSERT_TRUE(worker.ldrPreprocess());
    EXPECT_TRUE(halvora::test::allFinite(project->rgbFloatBuffer(), size_t(badW) * badH * 3));
}

TEST(badInput, bracketsClippedWhiteOrBlackEverywhere) {
    for (uint16_t level : {uint16_t(32640), uint16_t(0)}) {
        auto photos = bracket(3, 2);
        for (auto& p : photos)
            std::fill(p.pixels.begin(), p.pixels.end(), level);
        auto project = badProject(photos);
        halvora::chooseEVsAfterLoading(*project);
        for (int method : {0, 1, 2}) {
            generateAndCheck(*project, method, level ? "white" : "black");
            // A white bracket stays white, a black one (nearly) black.
            const float v = project->rgbFloatBuffer()[0];
            if (level)
                EXPECT_GT(v, 0.99f) << method;
            else
                EXPECT_LT(v, 0.02f) << method;
        }
    }
}

TEST(badInput, thirtyTwoPhotos) {
    auto project = badProject(bracket(32, 0.5));
    halvora::chooseEVsAfterLoading(*project);
    EXPECT_NEAR(project->evMax - project->evMin, 15.5, 1e-4);
    for (int method : {0, 1, 2})
        generateAndCheck(*project, method, "32 photos");

    // A 33rd photo (the loader refuses it; the merge must refuse it too, not overrun its tables).
    ASSERT_TRUE(hdrtest::addPhotos(*project, badW, badH, bracket(1, 0)));
    generateHDRworker worker(project.get());
    EXPECT_FALSE(worker.prepareWeightTables());
    EXPECT_FALSE(worker.generateHDR_core());
    EXPECT_EQ(worker.lastError, "Too many images! (a sequence holds at most 32 photos)");
}

TEST(badInput, photosRemovedBetweenTheStages) {
    auto project = badProject(bracket(3, 2));
    halvora::chooseEVsAfterLoading(*project);
    generateHDRworker worker(project.get());
    ASSERT_TRUE(worker.prepareWeightTables());
    ASSERT_TRUE(project->responseCurveValid);
    ASSERT_TRUE(project->removePhoto(project->photos[2]->id));
    EXPECT_FALSE(project->responseCurveValid);
    ASSERT_TRUE(worker.generateHDR_core()) << worker.lastError.toStdString();
    EXPECT_TRUE(halvora::test::allFinite(project->rgbFloatBuffer(), size_t(badW) * badH * 3));

    while (!project->photos.empty())
        project->removePhoto(project->photos.front()->id);
    EXPECT_FALSE(worker.generateHDR_core());
    EXPECT_EQ(worker.lastError, "No photos are selected for HDR generation.");
    EXPECT_FALSE(worker.prepareWeightTables());
}

TEST(badInput, missingOrDamagedTemporaryFilesFailVisibly) {
    auto project = badProject(bracket(3, 2));
    halvora::chooseEVsAfterLoading(*project);
    generateHDRworker worker(project.get());
    ASSERT_TRUE(worker.prepareWeightTables());
    std::fill_n(project->rgbFloatBuffer(), size_t(badW) * badH * 3, 7.0f);

    // Slot 0 of the middle photo is gone.
    auto saved = std::move(project->photos[1]->tempFiles[photoEntry::slotCurrent]);
    {
        halvora::test::logCapture log;
        EXPECT_FALSE(worker.generateHDR_core());
        EXPECT_TRUE(log.contains("tfInput=NULL\n"));
        EXPECT_TRUE(
            log.contains("generateHDRworker::generateHDR_core: The temporary file of photo 1 is missing."));
    }
    EXPECT_EQ(project->rgbFloatBuffer()[0], 7.0f); // nothing was merged

    // A shorter file (the disk filled up, the file was cut).
    std::vector<uint16_t> half(size_t(badW) * badH * 3 / 2, 100);
    ASSERT_TRUE(
        project->writeToTempFile(*project->photos[1], photoEntry::slotCurrent, half.data(), half.size() * 2));
    EXPECT_FALSE(worker.generateHDR_core());
    EXPECT_TRUE(worker.lastError.contains("bytes instead of"));

    // A ghost map of the wrong size.
    project->photos[1]->tempFiles[photoEntry::slotCurrent] = std::move(saved);
    std::vector<uint8_t> ghost(10, 255);
    ASSERT_TRUE(
        project->writeToTempFile(*project->photos[0], photoEntry::slotGhostMap, ghost.data(), ghost.size()));
    worker.ghostRemovalEnabled = true;
    EXPECT_FALSE(worker.generateHDR_core());
    worker.ghostRemovalEnabled = false;
    EXPECT_TRUE(worker.generateHDR_core());

    // Merging before the preparation.
    auto fresh = badProject(bracket(2, 2));
    halvora::chooseEVsAfterLoading(*fresh);
    generateHDRworker unprepared(fresh.get());
    EXPECT_FALSE(unprepared.generateHDR_core());
    EXPECT_TRUE(unprepared.lastError.contains("generation was not prepared"));

    // Options out of range.
    generateHDRworker odd(project.get());
    odd.method = 7;
    EXPECT_FALSE(odd.prepareWeightTables());
    odd.method = 0;
    odd.selectivity = 9; // treated as "Balanced"
    EXPECT_TRUE(odd.prepareWeightTables());
    odd.smartMergeStrength = 99;
    odd.method = 1;
    ASSERT_TRUE(odd.prepareWeightTables());
    EXPECT_TRUE(odd.generateHDR_core());
    EXPECT_TRUE(halvora::test::allFinite(project->rgbFloatBuffer(), size_t(badW) * badH * 3));
}

TEST(badInput, hostileExposureData) {
    auto photos = bracket(3, 2);
    photos[0].exposureTime = 3.0e38f;  // absurd but finite
    photos[1].exposureTime = 1.0e-30f; // below the floor: counts as unknown (1 s)
    photos[2].exposureBias = NAN;
    auto project = badProject(photos);
    halvora::chooseEVsAfterLoading(*project);
    for (auto& photo : project->photos)
        ASSERT_TRUE(std::isfinite(photo->ev));
    for (int method : {0, 1, 2})
        generateAndCheck(*project, method, "hostile exif");
}

} // namespace
