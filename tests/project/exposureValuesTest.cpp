// Exposure values: EV from exposure data, the EV sources, normalisation and the checks.

#include "project/exposureValues.h"
#include "project/hdrTestSupport.h"
#include "support/testSupport.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

struct evPhoto {
    float t = 0, n = 0, bias = 0;
    int iso = 0;
    double brightness = 0;
};

// Photos without pixels: enough for everything the EV code reads.
std::unique_ptr<processingProject> projectWith(const std::vector<evPhoto>& list) {
    auto project = hdrtest::makeProject();
    for (const evPhoto& e : list) {
        auto photo = std::make_unique<photoEntry>();
        photo->id = project->photoIdCounter++;
        photo->exif.exposureTime = e.t;
        photo->exif.fNumber = e.n;
        photo->exif.iso = e.iso;
        photo->exif.exposureBias = e.bias;
        photo->meanBrightness = e.brightness;
        photo->included = true;
        project->photos.push_back(std::move(photo));
    }
    return project;
}

std::vector<double> evs(const processingProject& p) {
    std::vector<double> v;
    for (auto& photo : p.photos)
        v.push_back(photo->ev);
    return v;
}

TEST(exposureValues, evFromExposureData) {
    bool valid = false;
    EXPECT_NEAR(halvora::evFromExposure(0.01, 8, 100, valid), std::log2(0.01 / 64.0), 1e-12);
    EXPECT_TRUE(valid);
    EXPECT_NEAR(halvora::evFromExposure(0.01, 8, 100, valid), -12.643856, 1e-6);
    // Only ISO known: t = N = 1.
    EXPECT_DOUBLE_EQ(halvora::evFromExposure(0, 0, 200, valid), 1.0);
    EXPECT_TRUE(valid);
    EXPECT_DOUBLE_EQ(halvora::evFromExposure(0, 0, 0, valid), 0.0);
    EXPECT_FALSE(valid);
    // Hostile values never give NaN.
    const double v = halvora::evFromExposure(std::nan(""), -3, 100, valid);
    EXPECT_TRUE(std::isfinite(v));
    EXPECT_DOUBLE_EQ(v, 0.0);
}

TEST(exposureValues, computeFromExifIsRelativeToTheMiddlePhoto) {
    // Times 1/100, 1/25, 1/400 at f/8 ISO 100: EVs differ by +2 and −2 from the first.
    auto p = projectWith({{0.01f, 8, 0, 100, 10000}, {0.04f, 8, 0, 100, 20000}, {0.0025f, 8, 0, 100, 3000}});
    halvora::test::logCapture log;
    p->computeEV();
    EXPECT_TRUE(p->exifEVvalid);
    EXPECT_EQ(p->midId, 0);
    EXPECT_NEAR(p->photos[0]->ev, 0.0, 1e-9);
    EXPECT_NEAR(p->photos[1]->ev, 2.0, 1e-6);
    EXPECT_NEAR(p->photos[2]->ev, -2.0, 1e-6);
    EXPECT_NEAR(p->photos[1]->lnExposure, 2.0 * std::log(2.0), 1e-6);
    EXPECT_EQ(p->minId, 2);
    EXPECT_EQ(p->maxId, 1);
    EXPECT_NEAR(p->evMin, -2.0, 1e-6);
    EXPECT_NEAR(p->lnEvMax, 2.0 * std::log(2.0), 1e-6);
    EXPECT_NEAR(p->evMean, 0.0, 1e-6);
    // exifEV is replaced by the relative value.
    EXPECT_NEAR(p->photos[1]->exifEV, 2.0, 1e-6);
    EXPECT_EQ(p->photos[1]->brightnessRank, 0);
    EXPECT_EQ(p->photos[0]->brightnessRank, 1);
    EXPECT_EQ(p->photos[2]->brightnessRank, 2);
    EXPECT_TRUE(log.contains("evMin=-2.0"));
}

TEST(exposureValues, aebBiasesAndTheirKeys) {
    auto p = projectWith({{0, 0, -2, 0, 1}, {0, 0, 0, 0, 2}, {0, 0, 2, 0, 3}});
    p->computeEV();
    EXPECT_FALSE(p->exifEVvalid);
    EXPECT_TRUE(p->aebEVdistinct);
    const std::vector<double> expected{-2, 0, 2};
    EXPECT_EQ(evs(*p), expected);

    auto same = projectWith({{0, 0, 0, 0, 1}, {0, 0, 0, 0, 2}, {0, 0, 0, 0, 3}});
    same->computeEV();
    EXPECT_FALSE(same->aebEVdistinct);

    // 0.333 and 0.335 both truncate to 33 hundredths.
    auto close = projectWith({{0, 0, 0.333f, 0, 1}, {0, 0, 0.335f, 0, 2}});
    close->computeEV();
    EXPECT_FALSE(close->aebEVdistinct);
}

TEST(exposureValues, evenStepsAndTheTieRule) {
    auto five = projectWith(
        {{0, 0, 0, 0, 50}, {0, 0, 0, 0, 40}, {0, 0, 0, 0, 30}, {0, 0, 0, 0, 20}, {0, 0, 0, 0, 10}});
    five->computeEV();
    ASSERT_TRUE(halvora::setEVsEvenSteps(*five, 4)); // step 1
    const std::vector<double> expected5{2, 1, 0, -1, -2};
    EXPECT_EQ(evs(*five), expected5);

    // Four photos brightest first, step 1: 2, 1, 0, −1; mean 0.5 ties EV 1 and EV 0, the later wins.
    auto four = projectWith({{0, 0, 0, 0, 40}, {0, 0, 0, 0, 30}, {0, 0, 0, 0, 20}, {0, 0, 0, 0, 10}});
    four->computeEV();
    ASSERT_TRUE(halvora::setEVsEvenSteps(*four, 4));
    EXPECT_EQ(four->midId, 2);
    const std::vector<double> expected4{2, 1, 0, -1};
    EXPECT_EQ(evs(*four), expected4);

    // Three photos with step 2 (brightest in the middle of the list).
    auto three = projectWith({{0, 0, 0, 0, 20}, {0, 0, 0, 0, 30}, {0, 0, 0, 0, 10}});
    three->computeEV();
    ASSERT_TRUE(halvora::setEVsEvenSteps(*three, 8));
    const std::vector<double> expected3{0, 2, -2};
    EXPECT_EQ(evs(*three), expected3);
    EXPECT_FALSE(halvora::setEVsEvenSteps(*three, 0)); // "-" does nothing
    EXPECT_EQ(evs(*three), expected3);
}

TEST(exposureValues, checks) {
    auto p = projectWith({{0, 0, 0, 0, 1}, {0, 0, 0, 0, 2}});
    p->computeEV();
    ASSERT_TRUE(halvora::setEVsManual(*p, {0.0, 0.005}));
    halvora::test::logCapture log;
    EXPECT_TRUE(p->checkEVminDiff());
    EXPECT_TRUE(log.contains("EV minDiff = 0.01\n") || log.contains("EV minDiff = 0.00\n"));
    ASSERT_TRUE(halvora::setEVsManual(*p, {0.0, 1.0}));
    EXPECT_FALSE(p->checkEVminDiff());

    // EXIF says 1 stop apart, AEB says 2 stops: inconsistent.
    auto q = projectWith({{0.01f, 4, -1, 100, 1}, {0.02f, 4, 1, 100, 2}});
    q->computeEV();
    EXPECT_TRUE(q->checkAEBconsistency());
    bool switched = false;
    const QStringList warnings = halvora::evChecksBeforeGeneration(*q, true, switched);
    EXPECT_TRUE(switched);
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].startsWith("The EV calculated from EXIF values seem to be incorrect"));
    EXPECT_NEAR(std::fabs(q->photos[1]->ev - q->photos[0]->ev), 2.0, 1e-9);

    auto r = projectWith({{0.01f, 4, -1, 100, 1}, {0.02f, 4, 0, 100, 2}});
    r->computeEV();
    EXPECT_FALSE(r->checkAEBconsistency());
}

TEST(exposureValues, choiceAfterLoading) {
    auto exif = projectWith({{0.01f, 8, 0, 100, 1}, {0.04f, 8, 0, 100, 2}});
    auto choice = halvora::chooseEVsAfterLoading(*exif);
    EXPECT_EQ(choice.chosen, halvora::evChoice::fromExif);
    EXPECT_TRUE(choice.warning.isEmpty());

    auto aeb = projectWith({{0, 0, -1, 0, 1}, {0, 0, 1, 0, 2}});
    EXPECT_EQ(halvora::chooseEVsAfterLoading(*aeb).chosen, halvora::evChoice::fromAEB);

    auto none = projectWith({{0, 0, 0, 0, 1}, {0, 0, 0, 0, 3}, {0, 0, 0, 0, 2}});
    choice = halvora::chooseEVsAfterLoading(*none);
    EXPECT_EQ(choice.chosen, halvora::evChoice::evenSteps);
    EXPECT_EQ(choice.comboIndex, 8);
    EXPECT_EQ(choice.warning, "No complete EXIF data found in input photos. Providing correct EV values is "
                              "necessary for proper calibration.");
    const std::vector<double> expected{-2, 2, 0};
    EXPECT_EQ(evs(*none), expected);

    auto four = projectWith({{0, 0, 0, 0, 1}, {0, 0, 0, 0, 3}, {0, 0, 0, 0, 2}, {0, 0, 0, 0, 4}});
    EXPECT_EQ(halvora::chooseEVsAfterLoading(*four).comboIndex, 4);

    // One photo without exposure data: the EXIF EVs are not trusted for the set.
    auto mixed = projectWith({{0, 0, 0, 0, 1}, {0.01f, 8, 0, 100, 2}, {0.04f, 8, 0, 100, 3}});
    EXPECT_EQ(halvora::chooseEVsAfterLoading(*mixed).chosen, halvora::evChoice::evenSteps);
}

TEST(exposureValues, changesInvalidateTheCurveAndRadianceInputIsLeftAlone) {
    auto p = projectWith({{0.01f, 8, 0, 100, 1}, {0.04f, 8, 0, 100, 2}});
    p->computeEV();
    p->responseCurveValid = true;
    halvora::test::logCapture log;
    ASSERT_TRUE(halvora::setEVsFromExif(*p));
    EXPECT_FALSE(p->responseCurveValid);
    EXPECT_TRUE(log.contains("Invalidating response curve...\n"));

    p->responseCurveValid = true;
    p->photos.front()->isRadiance = true;
    EXPECT_FALSE(halvora::setEVsFromAEB(*p));
    EXPECT_FALSE(halvora::setEVsEvenSteps(*p, 4));
    EXPECT_TRUE(p->responseCurveValid);

    auto empty = hdrtest::makeProject();
    empty->computeEV();
    EXPECT_FALSE(empty->checkEVminDiff());
    EXPECT_FALSE(empty->checkAEBconsistency());
    EXPECT_FALSE(halvora::setEVsFromExif(*empty));
}

} // namespace
