// The HDR worker's merge of a project: the three methods, the fallbacks and ghost weights through
// the project's photos, temporary files and tables, the LDR preprocess, and thread-count
// independence. The kernels on their own are tested in tests/hdr.

#include "base/parallelFor.h"
#include "hdr/mergeWeights.h"
#include "project/exposureValues.h"
#include "project/generateHDRworker.h"
#include "project/hdrTestSupport.h"
#include "project/responseRecovery.h"
#include "support/testSupport.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

namespace {

using hdrtest::photoData;

constexpr int mergeW = 96, mergeH = 64;

std::vector<photoData> rampBracket(const std::vector<double>& evs) {
    return hdrtest::exposeBracket(hdrtest::rampScene(mergeW, mergeH),
                                  hdrtest::syntheticCamera(halvora::standardResponsePolynomial()), 1.0, evs);
}

std::unique_ptr<processingProject> projectOf(const std::vector<photoData>& photos, int w = mergeW,
                                             int h = mergeH) {
    auto project = hdrtest::makeProject();
    EXPECT_TRUE(hdrtest::addPhotos(*project, w, h, photos));
    halvora::chooseEVsAfterLoading(*project);
    return project;
}

std::vector<float> radiance(processingProject& p) {
    return std::vector<float>(p.rgbFloatBuffer(), p.rgbFloatBuffer() + size_t(p.width) * p.height * 3);
}

double linear(const processingProject& p, int photo, int ch, int sample) {
    const photoEntry& e = *p.photos[size_t(photo)];
    return p.responseCurve[size_t(ch)][size_t(std::min(sample, 32639))] /
           std::exp(e.lnExposure + e.exposureCorrection);
}

TEST(merge, stackOfIdenticalPhotosReturnsThePhotos) {
    auto photos = rampBracket({0, 0, 0});
    auto project = projectOf(photos);
    generateHDRworker worker(project.get());
    worker.method = generateHDRworker::stack;
    ASSERT_TRUE(worker.prepareWeightTables());
    ASSERT_TRUE(worker.generateHDR_core());
    const std::vector<float> out = radiance(*project);
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], float(std::min<int>(photos[0].pixels[i], 32639))) << i;
}

TEST(merge, noneSelectivityIsThePlainAverageOfLinearisedPhotos) {
    auto project = projectOf(rampBracket({-2, 0, 2}));
    generateHDRworker worker(project.get());
    worker.selectivity = halvora::selectivityNone;
    ASSERT_TRUE(worker.prepareWeightTables());
    ASSERT_TRUE(worker.generateHDR_core());
    const std::vector<float> out = radiance(*project);
    // Independent average from the photos' samples.
    auto samples = rampBracket({-2, 0, 2});
    for (size_t i = 0; i < out.size(); i += 7) {
        double sum = 0;
        for (int k = 0; k < 3; ++k)
            sum += linear(*project, k, int(i % 3), samples[size_t(k)].pixels[i]);
        ASSERT_NEAR(out[i], sum / 3.0, 1e-6 * sum) << i;
    }
}

// Full-size ghost maps in slot 3, one byte per pixel.
void addGhostMap(processingProject& p, int photo, uint8_t value, int pixels) {
    std::vector<uint8_t> map(size_t(p.width) * p.height, 0);
    std::fill_n(map.begin(), pixels, value);
    ASSERT_TRUE(
        p.writeToTempFile(*p.photos[size_t(photo)], photoEntry::slotGhostMap, map.data(), map.size()));
}

// The ghost maps reach the merge from the photos' temporary files (their blending arithmetic:
// exposureMerge.ghostWeightsReplaceTheMeanAndAreScaledTo255); a photo without a map weighs nothing.
TEST(merge, ghostWeightsSelectAndShareThePhotos) {
    auto photos = rampBracket({-2, 0, 2});
    auto project = projectOf(photos);
    generateHDRworker worker(project.get());
    worker.ghostRemovalEnabled = true;
    worker.repairOverUnder = false;
    ASSERT_TRUE(worker.prepareWeightTables());
    ASSERT_TRUE(worker.generateHDR_core()); // no maps yet: a normal merge
    const std::vector<float> plain = radiance(*project);

    addGhostMap(*project, 1, 255, mergeW); // first row from the middle photo alone
    addGhostMap(*project, 0, 0, 0);
    project->photos[2]->tempFiles[photoEntry::slotGhostMap].reset();
    ASSERT_TRUE(worker.generateHDR_core());
    const float* out = project->rgbFloatBuffer();
    for (size_t i = 0; i < size_t(mergeW) * 3; ++i)
        EXPECT_NEAR(out[i], linear(*project, 1, int(i % 3), photos[1].pixels[i]), 1e-5 * out[i]) << i;
    for (size_t i = size_t(mergeW) * 3; i < plain.size(); ++i)
        ASSERT_EQ(out[i], plain[i]);
}

TEST(merge, smartMergeWeightsFollowTheBrightnessMap) {
    // Two uniform photos: the map is flat, so each photo's weight is its tent at its luminance.
    std::vector<photoData> photos(2);
    const uint16_t value[2] = {24000, 6000};
    const float times[2] = {1 / 15.f, 1 / 60.f};
    for (int k = 0; k < 2; ++k) {
        photos[size_t(k)].pixels.assign(size_t(mergeW) * mergeH * 3, value[k]);
        photos[size_t(k)].exposureTime = times[k];
        photos[size_t(k)].fNumber = 8;
        photos[size_t(k)].iso = 100;
    }
    auto project = projectOf(photos);
    generateHDRworker worker(project.get());
    worker.method = generateHDRworker::smartMerge;
    worker.smartMergeStrength = 4; // offset 0.1
    ASSERT_TRUE(worker.prepareWeightTables());
    ASSERT_TRUE(worker.generateHDR_core());
    // Brightest (EV +1) centre 0: weight (32640 − L) / 32640; darkest centre 32639: L / 32639.
    const int l0 = (54 * 24000 + 183 * 24000 + 19 * 24000) >> 8,
              l1 = (54 * 6000 + 183 * 6000 + 19 * 6000) >> 8;
    const double w0 = std::min(1.0, double(float(32640 - l0) / 32640.0f) + 0.1);
    const double w1 = std::min(1.0, double(float(l1) / 32639.0f) + 0.1);
    const double expected = (24000 * w0 + 6000 * w1) / (w0 + w1);
    const float* out = project->rgbFloatBuffer();
    EXPECT_NEAR(out[0], expected, 0.5);
    EXPECT_NEAR(out[(size_t(mergeH / 2) * mergeW + mergeW / 2) * 3 + 1], expected, 0.5);
}

TEST(merge, sameResultForOneAndSeveralThreads) {
    // 1152 × 768: two full-size chunks and four preview chunks.
    const int w = mergeW * 12, h = mergeH * 12;
    hdrtest::radianceImage scene;
    scene.width = w;
    scene.height = h;
    scene.rgb.resize(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                scene.rgb[(size_t(y) * w + x) * 3 + c] =
                    float(std::exp2(-8.0 + 12.0 * x / (w - 1)) * (1.0 + 0.5 * std::sin(y * 0.05 + c)));
    const auto photos = hdrtest::exposeBracket(
        scene, hdrtest::syntheticCamera(halvora::standardResponsePolynomial()), 1.0, {-2, 0, 2});
    auto project = projectOf(photos, w, h);
    addGhostMap(*project, 1, 255, w * 40);
    for (int method : {0, 1, 2})
        for (bool previewMode : {false, true}) {
            std::vector<float> result[2];
            std::vector<double> curve[2];
            double stats[2][4] = {};
            for (int run = 0; run < 2; ++run) {
                halvora::setThreadCountOverride(run == 0 ? 1 : 3);
                project->responseCurveValid = false;
                generateHDRworker worker(project.get());
                worker.method = method;
                worker.preview = previewMode;
                worker.ghostRemovalEnabled = true;
                ASSERT_TRUE(worker.prepareWeightTables());
                ASSERT_TRUE(worker.generateHDR_core());
                curve[run] = project->responseCurve[0];
                if (previewMode) {
                    result[run].assign(worker.previewResult.pixels(),
                                       worker.previewResult.pixels() + worker.previewResult.sampleCount());
                } else {
                    ASSERT_TRUE(worker.hdrPreprocess());
                    result[run] = radiance(*project);
                    stats[run][2] = project->lcCorrection;
                    stats[run][3] = project->hdrMean;
                }
                stats[run][0] = worker.hdrMin;
                stats[run][1] = worker.hdrMax;
                ASSERT_TRUE(halvora::test::allFinite(result[run].data(), result[run].size()));
            }
            halvora::setThreadCountOverride(0);
            EXPECT_EQ(curve[0], curve[1]) << method;
            EXPECT_TRUE(result[0] == result[1]) << "method " << method << " preview " << previewMode;
            for (int k = 0; k < 4; ++k)
                EXPECT_EQ(stats[0][k], stats[1][k]) << method << " " << k;
        }
}

TEST(ldrPreprocess, convertsTheFirstIncludedPhoto) {
    auto photos = rampBracket({0, 2});
    photos[0].included = false;
    auto project = projectOf(photos);
    generateHDRworker worker(project.get());
    ASSERT_TRUE(worker.ldrPreprocess());
    const std::vector<float> out = radiance(*project);
    for (size_t i = 0; i < out.size(); i += 5)
        ASSERT_FLOAT_EQ(out[i], std::min(1.0f, float(photos[1].pixels[i] * 3.0637254902e-5)));
    EXPECT_EQ(project->lcCorrection, 1.0);
    EXPECT_EQ(project->hdrMean, 0.4);
}

} // namespace
