// The generation stage machine: stage order, progress totals, log lines of hidden runs, the HDR file
// format chosen by the suffix, "Break" during a run and the shutdown stop.

#include "project/generationRun.h"
#include "base/runContext.h"
#include "hdrTestSupport.h"
#include "imageio/imageLoader.h"
#include "project/exposureValues.h"
#include "project/processingProject.h"
#include "support/testSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>
#include <cmath>
#include <gtest/gtest.h>

namespace {

constexpr int runW = 320, runH = 24;

std::unique_ptr<processingProject> bracketProject(int photos = 3) {
    const hdrtest::radianceImage scene = hdrtest::rampScene(runW, runH);
    std::vector<double> evs = {-2.0, 0.0, 2.0};
    evs.resize(size_t(photos));
    auto project = hdrtest::makeProject();
    EXPECT_TRUE(hdrtest::addPhotos(
        *project, runW, runH,
        hdrtest::exposeBracket(scene, hdrtest::syntheticCamera(halvora::standardResponsePolynomial()), 1.0,
                               evs)));
    halvora::chooseEVsAfterLoading(*project);
    return project;
}

// Everything a run signals, in order.
struct recorder {
    explicit recorder(generationRun& run) {
        QObject::connect(&run, &generationRun::startProgress, [this](uint64_t t) { totals.push_back(t); });
        QObject::connect(&run, &generationRun::finishProgress, [this] { ++finishes; });
        QObject::connect(&run, &generationRun::logLine, [this](int kind, const QString& text) {
            logKinds << kind;
            logs << text;
        });
        QObject::connect(&run, &generationRun::message,
                         [this](int, const QString& text) { messages << text; });
        QObject::connect(&run, &generationRun::finished, [this](bool ok, const QString& e) {
            ++ends;
            result = ok;
            error = e;
        });
    }
    std::vector<uint64_t> totals;
    int finishes = 0;
    QList<int> logKinds;
    QStringList logs, messages;
    int ends = 0;
    bool result = false;
    QString error;
};

genHDR_options plainOptions() {
    genHDR_options o;
    o.autoAlign = false;
    o.ghostRemoval = false;
    o.noiseFilter = false;
    return o;
}

struct generationRunTest : ::testing::Test {};

// The progress total of the largest sequence (32 photos of 60000 × 60000, Smart Merge) stays far inside
// 64 bits: 10 × height for the merge and photos × (height + width) for the brightness maps.
TEST_F(generationRunTest, progressTotalOfTheLargestSequenceDoesNotOverflow) {
    genHDR_options o = plainOptions();
    o.method = 1;
    EXPECT_EQ(generationRun::generationProgressTotal(60000, 60000, 32, o), 600000u + 32u * 120000u);
}

TEST_F(generationRunTest, hiddenRunSkipsAlignmentAndLogsItsStages) {
    auto project = bracketProject();
    const QString dir = halvora::test::makeTempDir("run");
    genHDR_options o = plainOptions(); // without automatic alignment
    o.ghostRemoval = true;
    o.saveHDR = true;
    o.hdrFileName = dir + "/out.hdr";
    generationRun run(project.get(), o, false, true);
    recorder rec(run);
    run.start();
    ASSERT_TRUE(hdrtest::waitForRun(run));
    ASSERT_EQ(rec.ends, 1);
    ASSERT_TRUE(rec.result) << rec.error.toStdString();
    EXPECT_TRUE(project->hdrPresent);
    EXPECT_EQ(run.stage(), 3);

    // Stage 1 moved on at once; stage 2 then stage 3 each started the bar.
    ASSERT_EQ(rec.totals.size(), 2u);
    EXPECT_EQ(rec.totals[0], 1u);
    EXPECT_EQ(rec.totals[1], uint64_t(10 * runH + runH)) << "ghost removal is not run, so it is not counted";
    EXPECT_EQ(rec.finishes, 2);

    EXPECT_TRUE(rec.messages.isEmpty()) << "a hidden run sends nothing meant for a box";
    ASSERT_GE(rec.logs.size(), 3);
    EXPECT_FALSE(rec.logs.contains("Auto alignment..."));
    EXPECT_TRUE(rec.logs.contains("HDR generation..."));
    EXPECT_TRUE(rec.logs.filter("ghost removal is not available").size() == 1);
    EXPECT_EQ(rec.logs.back(), "Saved as " + QDir::toNativeSeparators(dir + "/out.hdr"));
    EXPECT_EQ(rec.logKinds.back(), int(generationRun::success));

    // The ".hdr" file is Radiance RGBE at the picture's size.
    int w = 0, h = 0;
    double primaries[8];
    bool present = false;
    ASSERT_TRUE(halvora::getRGBEinfo(dir + "/out.hdr", w, h, primaries, present, nullptr));
    EXPECT_EQ(w, runW);
    EXPECT_EQ(h, runH); // its pixels: generateHDRstages.generationWritesTheMergeBeforeThePreprocess
}

TEST_F(generationRunTest, interactiveRunIsQuietAndOtherSuffixesGiveOpenExr) {
    auto project = bracketProject();
    const QString dir = halvora::test::makeTempDir("run");
    genHDR_options o = plainOptions();
    o.method = 1;
    o.smartMergeStrength = 3;
    o.saveHDR = true;
    o.hdrFileName = dir + "/out.pic";
    generationRun run(project.get(), o, false, false);
    recorder rec(run);
    run.start();
    ASSERT_TRUE(hdrtest::waitForRun(run));
    ASSERT_TRUE(rec.result) << rec.error.toStdString();
    ASSERT_EQ(rec.totals.size(), 2u);
    EXPECT_EQ(rec.totals[1], uint64_t(10 * runH + 3 * (runH + runW) + runH));
    EXPECT_TRUE(rec.messages.isEmpty());
    EXPECT_FALSE(rec.logs.contains("HDR generation...")) << "progress lines are for hidden runs";

    QFile f(dir + "/out.pic");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray magic = f.read(4);
    EXPECT_EQ(magic, QByteArray("\x76\x2f\x31\x01", 4)) << "anything but .hdr is OpenEXR";
    int w = 0, h = 0;
    ASSERT_TRUE(halvora::getEXRinfo(dir + "/out.pic", w, h, nullptr));
    EXPECT_EQ(w, runW);
    EXPECT_EQ(h, runH);
}

TEST_F(generationRunTest, onePhotoIsEnhancedWithoutPreparation) {
    auto project = bracketProject(1);
    genHDR_options o = plainOptions();
    o.ldrEnhancement = true;
    o.noiseFilter = true;
    generationRun run(project.get(), o, false, true);
    recorder rec(run);
    run.start();
    ASSERT_TRUE(hdrtest::waitForRun(run));
    ASSERT_TRUE(rec.result) << rec.error.toStdString();
    ASSERT_EQ(rec.totals.size(), 1u) << "no preparation stage for one photo";
    EXPECT_EQ(rec.totals[0], uint64_t((runW + 2 * runH) * 15 + 1));
    EXPECT_EQ(rec.logs, QStringList{"LDR enhancement..."});
    EXPECT_TRUE(project->hdrPresent);
}

TEST_F(generationRunTest, breakEndsTheRunWithFailureAndTheNextRunWorks) {
    auto project = bracketProject();
    for (int breakAtStage : {2, 3}) {
        // A new picture replaces a prepared one: the old planes may not be used meanwhile.
        project->hdrPresent = project->lcPlanesValid = project->maskPlaneValid = true;
        generationRun run(project.get(), plainOptions(), false, false);
        recorder rec(run);
        // "Break" as the user presses it: right after the stage has started; it cancels this run only.
        QObject::connect(&run, &generationRun::startProgress, [&] {
            if (run.stage() == breakAtStage) run.cancel();
        });
        run.start();
        ASSERT_TRUE(hdrtest::waitForRun(run));
        EXPECT_EQ(rec.ends, 1);
        EXPECT_FALSE(rec.result);
        EXPECT_TRUE(rec.error.contains("Aborted.")) << rec.error.toStdString();
        EXPECT_EQ(rec.finishes, breakAtStage == 2 ? 1 : 2) << "the bar is always stopped";
        if (breakAtStage == 3) {
            EXPECT_FALSE(project->hdrPresent);
            EXPECT_FALSE(project->lcPlanesValid) << "planes of the old picture are not reused";
        }
        EXPECT_EQ(project->photos.size(), 3u);
    }
    // The next run is not touched by the last one's "Break".
    generationRun again(project.get(), plainOptions(), false, false);
    recorder rec(again);
    again.start();
    ASSERT_TRUE(hdrtest::waitForRun(again));
    EXPECT_TRUE(rec.result) << rec.error.toStdString();
    EXPECT_TRUE(project->hdrPresent);
}

TEST_F(generationRunTest, stopNowWaitsForTheStageAndSignalsNothingMore) {
    auto project = bracketProject();
    auto run = std::make_unique<generationRun>(project.get(), plainOptions(), false, false);
    recorder rec(*run);
    halvora::test::logCapture log;
    run->start();
    EXPECT_TRUE(run->running());
    run->stopNow();
    EXPECT_FALSE(run->running());
    QCoreApplication::processEvents();
    QThread::msleep(20);
    QCoreApplication::processEvents();
    EXPECT_EQ(rec.ends, 0) << "a stopped run reports nothing";
    run.reset(); // nothing left to wait for
    EXPECT_EQ(rec.ends, 0);
}

} // namespace
