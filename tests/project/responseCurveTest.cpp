// Response curve recovery: the standard curve, the grid search, sample selection, the fallbacks.

#include "hdr/responseCurve.h"
#include "base/parallelFor.h"
#include "hdr/mergeWeights.h"
#include "project/exposureValues.h"
#include "project/hdrTestSupport.h"
#include "project/responseRecovery.h"
#include "support/testSupport.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

// The kernel's view of two of a project's photos: previews, exposures, the project's tables.
bool selectFromProject(processingProject& project, halvora::sampleRandom& random,
                       halvora::curveSampleSet& set) {
    halvora::ensureStandardCurve(project);
    halvora::ensureProjectWeightTable(project);
    std::vector<halvora::curvePhoto> photos;
    for (int i : {0, 1})
        photos.push_back({&project.photos[size_t(i)]->preview, project.photos[size_t(i)]->lnExposure, i});
    halvora::curveSampleTables tables;
    tables.standardCurve = project.standardCurve.data();
    tables.weightTable = project.weightTable.data();
    tables.ghostMask = project.antiGhostMask();
    tables.ghostMaskWidth = project.previewWidth;
    tables.ghostMaskHeight = project.previewHeight;
    return halvora::selectCurveSamples(photos, {1.0, 4.0}, tables, random, set);
}

using hdrtest::photoData;

// Independent evaluation with powers.
double evaluate(const halvora::responsePolynomial& p, double t) {
    double v = 0;
    for (int j = 0; j < p.n; ++j)
        v += p.c[j] * std::pow(t, j);
    return v;
}

bool monotoneIndependent(const halvora::responsePolynomial& p) {
    for (int k = 0; k < 256; ++k) {
        const double v = evaluate(p, k / 256.0);
        if (v < -1e-15 || (k > 0 && v < evaluate(p, (k - 1) / 256.0) - 1e-15)) return false;
    }
    return true;
}

// Samples of a scene with log-uniform radiances seen through `truth` at exposures b (8-bit levels).
halvora::curveSampleSet samplesFrom(const halvora::responsePolynomial& truth, const std::vector<double>& b) {
    halvora::curveSampleSet set;
    set.photoCount = int(b.size());
    std::vector<double> levels(256);
    for (int k = 0; k < 256; ++k)
        levels[size_t(k)] = evaluate(truth, k / 256.0);
    for (int pos = 0; pos < halvora::curveSampleSet::kPositions; ++pos) {
        const double e = std::exp2(-9.0 + 10.0 * ((pos * 7919) % 1024) / 1023.0);
        for (double bi : b) {
            const double q = e * bi;
            int k = 0;
            while (k < 255 && levels[size_t(k) + 1] <= q)
                ++k;
            set.luminance.push_back(uint8_t(k));
        }
    }
    return set;
}

TEST(responseCurve, standardCurveTable) {
    auto p = hdrtest::makeProject();
    halvora::ensureStandardCurve(*p);
    ASSERT_EQ(p->standardCurve.size(), 32640u);
    const auto standard = halvora::standardResponsePolynomial();
    for (int x : {0, 1, 1000, 16320, 30000, 32639})
        EXPECT_NEAR(p->standardCurve[size_t(x)], evaluate(standard, x / 32640.0), 1e-13) << x;
    EXPECT_NEAR(p->standardCurve[0], 0.011572206254299083, 1e-18);
}

TEST(responseCurve, gridSearchFindsTheCameraAndNeverAFallingCurve) {
    const std::vector<double> b{0.25, 1.0, 4.0};
    int offsets[4];
    const auto truth = hdrtest::gridCandidate(2, -1, 1, 0);
    const auto found = halvora::searchResponsePolynomial(
        samplesFrom(truth, b), halvora::standardResponsePolynomial(), {true, true, true}, b, offsets);
    // Up to scale (which the merge does not see) the curve is within 5 % of the camera's.
    const double scale = evaluate(found, 0.5) / evaluate(truth, 0.5);
    for (int k = 16; k < 256; k += 15)
        EXPECT_NEAR(evaluate(found, k / 256.0) / evaluate(truth, k / 256.0) / scale, 1.0, 0.05) << k;

    // Whatever the samples, the chosen curve does not fall.
    for (const auto& scene : {hdrtest::gridCandidate(-5, -5, 4, 4), hdrtest::gridCandidate(4, 4, -5, -5),
                              hdrtest::gridCandidate(-5, 4, -5, 4)}) {
        const auto chosen = halvora::searchResponsePolynomial(
            samplesFrom(scene, b), halvora::standardResponsePolynomial(), {true, true, true}, b, offsets);
        EXPECT_TRUE(monotoneIndependent(chosen));
        EXPECT_EQ(halvora::monotoneOnGrid(chosen), true);
    }
    halvora::responsePolynomial falls;
    falls.n = 2;
    falls.c[0] = 1.0;
    falls.c[1] = -0.5;
    EXPECT_FALSE(halvora::monotoneOnGrid(falls));

    // Samples that are all clipped give no usable error: the start stays.
    halvora::curveSampleSet white;
    white.photoCount = 3;
    white.luminance.assign(3 * 1024, 255);
    const auto kept = halvora::searchResponsePolynomial(white, halvora::standardResponsePolynomial(),
                                                        {true, true, true}, b, offsets);
    EXPECT_EQ(kept.c[1], halvora::standardResponsePolynomial().c[1]);
}

TEST(responseCurve, pixelInconsistency) {
    std::vector<double> curve(32640);
    for (int x = 0; x < 32640; ++x)
        curve[size_t(x)] = x / 32640.0 + 0.01;
    std::vector<double> weight(32640);
    halvora::buildSelectivityTable(halvora::selectivityBalanced, 0, 0, weight.data());
    const double* curves[3] = {curve.data(), curve.data(), curve.data()};
    const uint16_t a[3] = {8000, 8000, 8000}, b[3] = {16000, 16000, 40000};
    halvora::inconsistencyPhoto photos[2] = {{a, 1.0, 0.0}, {b, 2.0, std::log(2.0)}};
    // Channel 0: √(curve(8000) / 1) vs √(curve(16000) / 2), d = ln 2.
    const double a0 = std::sqrt(8000 / 32640.0 + 0.01), b0 = std::sqrt((16000 / 32640.0 + 0.01) / 2.0);
    const double r0 = std::fabs(a0 - b0) / (a0 + b0) * 0.5 / std::log(2.0) * (weight[8000] + weight[16000]);
    // Channel 2: the sample is clamped to 32639.
    const double b2 = std::sqrt((32639 / 32640.0 + 0.01) / 2.0);
    const double r2 = std::fabs(a0 - b2) / (a0 + b2) * 0.5 / std::log(2.0) * (weight[8000] + weight[32639]);
    EXPECT_NEAR(halvora::pixelInconsistency(photos, 2, curves, weight.data()), std::max(r0, r2), 1e-14);
    EXPECT_EQ(halvora::pixelInconsistency(photos, 1, curves, weight.data()), 0.0);
}

std::vector<photoData> rampPhotos(const std::vector<double>& evs, int w, int h) {
    hdrtest::radianceImage scene;
    scene.width = w;
    scene.height = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                scene.rgb.push_back(float(std::exp2(-7.0 + 10.0 * (x + y) / (w + h)) * (0.8 + 0.2 * c)));
    return hdrtest::exposeBracket(scene, hdrtest::syntheticCamera(hdrtest::gridCandidate(1, 1, 0, -1)), 1.0,
                                  evs);
}

TEST(responseCurve, tooFewPhotosUseTheStandardCurve) {
    auto project = hdrtest::makeProject();
    ASSERT_TRUE(hdrtest::addPhotos(*project, 200, 150, rampPhotos({0, 1.0 / 3.0}, 200, 150)));
    halvora::chooseEVsAfterLoading(*project);
    halvora::test::logCapture log;
    EXPECT_TRUE(halvora::recoverResponseCurve(*project));
    EXPECT_TRUE(log.contains("Recover response curve...\n"));
    EXPECT_TRUE(log.contains(": too small EV difference, skipping this photo\n"));
    EXPECT_TRUE(log.contains("  Too few photos can be used for curve recovery. Using standard curve.\n"));
    EXPECT_FALSE(project->responseCurveValid);
    for (const auto& table : project->responseCurve)
        EXPECT_EQ(table, project->standardCurve);
}

TEST(responseCurve, recoveryIsDeterministicAndSkippedWhileValid) {
    auto project = hdrtest::makeProject();
    ASSERT_TRUE(hdrtest::addPhotos(*project, 400, 300, rampPhotos({-2, 0, 2}, 400, 300)));
    halvora::chooseEVsAfterLoading(*project);
    halvora::setThreadCountOverride(1);
    ASSERT_TRUE(halvora::recoverResponseCurve(*project));
    halvora::setThreadCountOverride(0);
    ASSERT_TRUE(project->responseCurveValid);
    const auto first = project->responseCurve;
    std::vector<double> corrections;
    for (auto& photo : project->photos)
        corrections.push_back(photo->exposureCorrection);
    EXPECT_EQ(project->photos[size_t(project->midId)]->exposureCorrection, 0.0);
    for (const auto& table : first)
        for (int x = 1; x < 32640; ++x)
            ASSERT_GE(table[size_t(x)], table[size_t(x) - 1]);

    {
        halvora::test::logCapture log;
        EXPECT_TRUE(halvora::recoverResponseCurve(*project));
        EXPECT_FALSE(log.contains("Recover response curve"));
    }
    project->responseCurveValid = false;
    halvora::setThreadCountOverride(3);
    ASSERT_TRUE(halvora::recoverResponseCurve(*project));
    halvora::setThreadCountOverride(0);
    EXPECT_EQ(project->responseCurve, first);
    for (size_t i = 0; i < corrections.size(); ++i)
        EXPECT_EQ(project->photos[i]->exposureCorrection, corrections[i]);
}

// EVs from the photos' own exposure data are taken as they are; typed EVs a stop off the truth (the
// photos are 2 stops apart, typed 1 stop apart) are corrected from the content towards the truth.
TEST(responseCurve, exposureCorrectionOnlyForEVsThatAreNotExposureData) {
    auto project = hdrtest::makeProject();
    ASSERT_TRUE(hdrtest::addPhotos(*project, 400, 300, rampPhotos({-2, 0, 2}, 400, 300)));
    ASSERT_EQ(halvora::chooseEVsAfterLoading(*project).chosen, halvora::evChoice::fromExif);
    ASSERT_TRUE(halvora::recoverResponseCurve(*project));
    for (const auto& photo : project->photos)
        EXPECT_EQ(photo->exposureCorrection, 0.0);

    ASSERT_TRUE(halvora::setEVsManual(*project, {-1, 0, 1}));
    project->responseCurveValid = false;
    ASSERT_TRUE(halvora::recoverResponseCurve(*project));
    // The estimate from the medians is coarse (here it moves the outer photos 15…30 % of the missing
    // stop, 0.69 in ln), but it moves them, and never by more than the stop and a half.
    EXPECT_EQ(project->photos[1]->exposureCorrection, 0.0);
    for (size_t i : {size_t(0), size_t(2)}) {
        EXPECT_GT(std::fabs(project->photos[i]->exposureCorrection), 0.05) << i;
        EXPECT_LT(std::fabs(project->photos[i]->exposureCorrection), 1.05) << i;
    }
    // Towards the truth: the outer photos move further from the middle one (2 stops, not 1).
    for (size_t i : {size_t(0), size_t(2)}) {
        const double typed = project->photos[i]->lnExposure - project->photos[1]->lnExposure;
        EXPECT_GT(std::fabs(typed + project->photos[i]->exposureCorrection), std::fabs(typed)) << i;
    }
}

TEST(responseCurve, sampleSelectionForcedModeAndGhostMask) {
    // A uniform picture: every probe after the first four lands in a full bin.
    std::vector<photoData> flat(2);
    for (int k = 0; k < 2; ++k) {
        flat[size_t(k)].pixels.assign(size_t(300) * 200 * 3, uint16_t(8000 + 8000 * k));
        flat[size_t(k)].exposureTime = k ? 1 / 15.f : 1 / 60.f;
        flat[size_t(k)].fNumber = 8;
        flat[size_t(k)].iso = 100;
    }
    auto project = hdrtest::makeProject();
    ASSERT_TRUE(hdrtest::addPhotos(*project, 300, 200, flat));
    halvora::chooseEVsAfterLoading(*project);
    halvora::sampleRandom random;
    halvora::curveSampleSet set;
    ASSERT_TRUE(selectFromProject(*project, random, set));
    EXPECT_TRUE(set.forced);
    EXPECT_EQ(set.x.size(), 1024u);
    EXPECT_EQ(set.luminance.size(), 2048u);

    // A ramp with the left half masked: no position lands there.
    auto ramp = hdrtest::makeProject();
    ASSERT_TRUE(hdrtest::addPhotos(*ramp, 600, 400, rampPhotos({-1, 1}, 600, 400)));
    halvora::chooseEVsAfterLoading(*ramp);
    uint8_t* mask = ramp->antiGhostMask();
    ASSERT_NE(mask, nullptr);
    for (int y = 0; y < ramp->previewHeight; ++y)
        for (int x = 0; x < ramp->previewWidth / 2; ++x)
            mask[size_t(y) * ramp->previewWidth + x] = 1;
    halvora::sampleRandom random2;
    ASSERT_TRUE(selectFromProject(*ramp, random2, set));
    // 256 bins of 4 positions can hold 1024 only in a picture using every bin: forced mode ends it.
    ASSERT_GT(set.forcedFrom, 100);
    for (size_t i = 0; i < size_t(set.forcedFrom); ++i) {
        ASSERT_GE(set.x[i], ramp->previewWidth / 2);
        ASSERT_GT(set.y[i], 5);
        ASSERT_LT(set.y[i], ramp->previewHeight - 5);
    }
}

} // namespace
