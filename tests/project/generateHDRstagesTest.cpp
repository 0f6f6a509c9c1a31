// The generation stages that end a run: merge → optional HDR file → preprocess → noise filter →
// picture levels; the LDR enhancement; the preparation of an opened radiance picture.

#include "hdrTestSupport.h"
#include "project/exposureValues.h"
#include "project/generateHDRworker.h"
#include "project/processingProject.h"
#include "support/testSupport.h"

#include <QDir>
#include <cmath>
#include <gtest/gtest.h>

namespace {

constexpr int stageW = 640, stageH = 40; // wide enough for a second picture level

std::vector<hdrtest::photoData> bracket() {
    const hdrtest::radianceImage scene = hdrtest::rampScene(stageW, stageH);
    return hdrtest::exposeBracket(scene, hdrtest::syntheticCamera(halvora::standardResponsePolynomial()), 1.0,
                                  {-2.0, 0.0, 2.0});
}

std::unique_ptr<processingProject> stagesProject() {
    auto project = hdrtest::makeProject();
    EXPECT_TRUE(hdrtest::addPhotos(*project, stageW, stageH, bracket()));
    halvora::chooseEVsAfterLoading(*project);
    return project;
}

// Runs one stage slot the way the window's thread would, and reports what it signalled.
bool runStage(generateHDRworker& worker, void (generateHDRworker::*slot)()) {
    bool signalled = false, result = false;
    QObject::connect(&worker, &generateHDRworker::finished, [&](bool ok) {
        signalled = true;
        result = ok;
    });
    (worker.*slot)();
    EXPECT_TRUE(signalled) << "every stage ends with finished()";
    return result;
}

std::vector<float> picture(processingProject& p, int level = 0) {
    const float* data = p.hdrImage.data<float>(level);
    return std::vector<float>(data, data + size_t(p.hdrImage.width(level)) * p.hdrImage.height(level) * 3);
}

TEST(generateHDRstages, generationWritesTheMergeBeforeThePreprocess) {
    auto project = stagesProject();
    const QString dir = halvora::test::makeTempDir("stages");

    // The merge alone, for reference.
    generateHDRworker reference(project.get());
    ASSERT_TRUE(runStage(reference, &generateHDRworker::generateHDR_prepare));
    ASSERT_TRUE(reference.generateHDR_core());
    const std::vector<float> merged = picture(*project);

    generateHDRworker worker(project.get());
    worker.saveHDR = true;
    worker.hdrOutputFileName = dir + "/m.hdr";
    ASSERT_TRUE(runStage(worker, &generateHDRworker::generateHDR_prepare));
    ASSERT_TRUE(runStage(worker, &generateHDRworker::generateHDR_function)) << worker.lastError.toStdString();
    EXPECT_TRUE(project->hdrPresent);
    EXPECT_FALSE(project->lcPlanesValid) << "the planes belong to the previous picture";

    // The file holds the merge (RGBE keeps about 1 % precision), the project the 0…1 picture.
    hdrtest::radianceImage file;
    ASSERT_TRUE(hdrtest::readRgbe(dir + "/m.hdr", file));
    ASSERT_EQ(file.width, stageW);
    ASSERT_EQ(file.height, stageH);
    const std::vector<float> fromFile = file.rgb;
    double worst = 0;
    for (size_t i = 0; i < merged.size(); ++i)
        if (merged[i] > 1e-3f * *std::max_element(merged.begin(), merged.end()))
            worst = std::max(worst, std::fabs(fromFile[i] / merged[i] - 1.0));
    EXPECT_LT(worst, 0.02);
    const std::vector<float> normalised = picture(*project);
    const auto [lo, hi] = std::minmax_element(normalised.begin(), normalised.end());
    EXPECT_GE(*lo, 0.0f);
    EXPECT_LE(*hi, 1.0f);
    EXPECT_GT(*hi, 0.9f);

    // The picture levels the tone-mapping preview reads are built (their rule: tests/base pyramidTest).
    EXPECT_GT(project->hdrImage.levelCount(), 1);
}

TEST(generateHDRstages, anUnwritableHdrFileFailsTheStage) {
    auto project = stagesProject();
    generateHDRworker worker(project.get());
    worker.saveHDR = true;
    worker.hdrOutputFileName = halvora::test::makeTempDir("stages") + "/missing/m.exr";
    ASSERT_TRUE(runStage(worker, &generateHDRworker::generateHDR_prepare));
    EXPECT_FALSE(runStage(worker, &generateHDRworker::generateHDR_function));
    EXPECT_FALSE(worker.lastError.isEmpty());
    EXPECT_FALSE(project->hdrPresent) << "a failed stage hands no picture on";
}

TEST(generateHDRstages, openedRadianceIsNormalised) {
    auto project = hdrtest::makeProject();
    ASSERT_TRUE(hdrtest::addPhotos(*project, stageW, stageH, {bracket()[1]}));
    // An opened radiance picture (here: a ramp from 0.5 to 4000) is normalised to 0…1.
    float* rgb = project->rgbFloatBuffer();
    for (int i = 0; i < stageW * stageH; ++i)
        for (int c = 0; c < 3; ++c)
            rgb[i * 3 + c] = float(0.5 * std::pow(8000.0, double(i) / (stageW * stageH - 1)));
    rgb[5] = std::nanf(""); // a broken sample must not spoil the rest
    generateHDRworker opened(project.get());
    ASSERT_TRUE(runStage(opened, &generateHDRworker::prepareRadiance_function));
    EXPECT_TRUE(project->hdrPresent);
    const std::vector<float> prepared = picture(*project);
    for (float v : prepared)
        ASSERT_TRUE(std::isfinite(v) && v >= 0.0f && v <= 1.0f);
    EXPECT_NEAR(prepared.back(), 1.0f, 1e-4);
    EXPECT_LT(prepared[3], 0.05f);
    EXPECT_LT(prepared[size_t(stageW) * stageH * 3 / 2], prepared.back()) << "order of brightness kept";
}

} // namespace

namespace {

// A run's options reach the worker; one photo takes the noise options only, and the HDR file is
// written only when it has a name.
TEST(generateHDRworker, takesTheRunsOptions) {
    genHDR_options o;
    o.ldrEnhancement = true;
    o.noiseStrength = 8;
    o.method = generateHDRworker::smartMerge;
    generateHDRworker ldr(nullptr);
    ldr.method = generateHDRworker::stack;
    ldr.setOptions(o);
    EXPECT_EQ(ldr.noiseFilterStrength, 8);
    EXPECT_EQ(ldr.method, int(generateHDRworker::stack));

    genHDR_options withFile;
    withFile.saveHDR = true;
    generateHDRworker worker(nullptr);
    worker.setOptions(withFile);
    EXPECT_FALSE(worker.saveHDR);
    withFile.hdrFileName = "/x/m.hdr";
    worker.setOptions(withFile);
    EXPECT_TRUE(worker.saveHDR);
}

} // namespace
