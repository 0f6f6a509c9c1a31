// The HDR dialog on a real bracket: Generate HDR from the window, stored options, the HDR file
// check, one photo, "Break" during a run, and hidden runs without message boxes.

#include "app/programOptionsSettings.h"
#include "base/runContext.h"
#include "project/exposureValues.h"
#include "project/generationRun.h"
#include "project/processingProject.h"
#include "support/testSupport.h"
#include "ui/generateHDR.h"
#include "ui/mainWindow.h"
#include "ui/mainWorkspace.h"
#include "ui/styledMessageBox.h"
#include "uiTestSupport.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabWidget>
#include <cmath>
#include <gtest/gtest.h>

using namespace halvora::test;

namespace {

// Three frames about two stops apart: 1/15, 1/60 and 1/250 s at f/22, ISO 200.
QStringList bracketFiles() {
    const QString dir = dataFile("brackets/mysore_palace_fuji_xt1_7exp");
    return {dir + "/AJAZ0816.jpg", dir + "/AJAZ0818.jpg", dir + "/AJAZ0821.jpg"};
}

struct generateHDRDialog : ::testing::Test {
    void SetUp() override {
        abortRequested = false;
        // The stored options this test looks at start at their defaults.
        programOptionsSettings& o = programOptionsSettings::instance();
        o.generateHdrMethod = 0;
        o.generateHdrAutoAlign = false; // the alignment test turns it on
        o.generateHdrTrueHdrSelectivity = 2;
        o.generateHdrSmartMergeStrength = 1;
        o.generateHdrNoiseFilter = true;
        o.generateHdrNoiseFilterStrength = 2;
        o.generateHdrNoiseFilterSoftness = 2;
        o.enhanceLdrNoiseFilter = true;
        o.enhanceLdrNoiseFilterStrength = 2;
        o.enhanceLdrNoiseFilterSoftness = 2;
        window = std::make_unique<mainWindow>(nullptr);
        ASSERT_FALSE(window->startupError());
        window->resultSaved = true;
    }
    void TearDown() override {
        if (window) window->resultSaved = true; // closing asks nothing
        if (window && !window->shutdownDone()) window->close();
        window.reset();
        abortRequested = false;
    }
    void load(const QStringList& files) {
        ASSERT_TRUE(window->addImages(files));
        ASSERT_TRUE(waitUntil([&] { return !window->loadingPhotos(); }));
        ASSERT_EQ(window->project()->photos.size(), size_t(files.size()));
    }
    QAction* action() const { return window->findChild<QAction*>("generateHdrAction"); }
    QPushButton* pageButton() const { return window->findChild<QPushButton*>("generateHdrButton"); }
    generateHDR* dialog() const { return window->findChild<generateHDR*>(); }
    // Generation ends in the tone-mapping preparation; both leave nothing running.
    bool waitForPicture() {
        return waitUntil([&] {
            processingProject* p = window->project();
            return !dialog() && p->hdrPresent && p->lcPlanesValid && action()->isEnabled();
        });
    }
    std::unique_ptr<mainWindow> window;
};

TEST_F(generateHDRDialog, bracketGeneratesFromTheDialogAndRemembersTheOptions) {
    HALVORA_REQUIRE_DATA();
    boxRecorder boxes;
    EXPECT_FALSE(action()->isEnabled()) << "nothing to merge yet";
    EXPECT_FALSE(pageButton()->isEnabled());
    EXPECT_EQ(action()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_G));
    load(bracketFiles());
    EXPECT_TRUE(action()->isEnabled());
    EXPECT_TRUE(pageButton()->isEnabled());

    pageButton()->click();
    generateHDR* d = dialog();
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->isVisible());
    EXPECT_FALSE(action()->isEnabled()) << "one dialog at a time";
    EXPECT_EQ(d->runButton()->text(), "Generate HDR");
    EXPECT_FALSE(d->ghostRemovalBox()->isEnabled());
    EXPECT_FALSE(d->ghostRemovalBox()->isChecked()) << "ghost removal is not built: the run goes without it";
    EXPECT_TRUE(d->autoAlignBox()->isEnabled());
    EXPECT_FALSE(d->autoAlignBox()->isChecked()) << "from GenerateHDR/AutoAlign";
    EXPECT_FALSE(d->alignUndoButton()->isEnabled()) << "nothing aligned yet";

    processingProject* p = window->project();
    EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join("|").toStdString();

    // Smart Merge shows its strength, hides the selectivity.
    EXPECT_EQ(d->methodBox()->currentIndex(), 0);
    EXPECT_TRUE(d->selectivityBox()->isVisibleTo(d)) << "True HDR shows its selectivity";
    EXPECT_FALSE(d->smartMergeSlider()->isVisibleTo(d));
    d->methodBox()->setCurrentIndex(1);
    EXPECT_TRUE(d->smartMergeSlider()->isVisibleTo(d));
    EXPECT_FALSE(d->selectivityBox()->isVisibleTo(d));
    d->smartMergeSlider()->setValue(4);
    d->noiseStrengthBox()->setValue(5);
    EXPECT_EQ(programOptionsSettings::instance().generateHdrMethod, 0);

    d->runButton()->click();
    ASSERT_TRUE(waitForPicture());
    EXPECT_TRUE(p->hdrPresent);
    EXPECT_EQ(p->photos.size(), 3u);
    const programOptionsSettings& s = programOptionsSettings::instance();
    EXPECT_EQ(s.generateHdrMethod, 1);
    EXPECT_EQ(s.generateHdrSmartMergeStrength, 4);
    EXPECT_EQ(s.generateHdrNoiseFilterStrength, 5);
    auto* tabs = window->findChild<QTabWidget*>("rightTabs");
    EXPECT_EQ(tabs->currentIndex(), 1) << "on to tone mapping";
    EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join("|").toStdString();

    // A second dialog starts from what was remembered.
    action()->trigger();
    ASSERT_NE(dialog(), nullptr);
    EXPECT_EQ(dialog()->methodBox()->currentIndex(), 1);
    EXPECT_EQ(dialog()->smartMergeSlider()->value(), 4);
    dialog()->cancelButton()->click();
    ASSERT_TRUE(waitUntil([&] { return !dialog(); }));
    EXPECT_TRUE(action()->isEnabled());
    EXPECT_TRUE(window->menuBar()->isEnabled());

    // Another photo is decoded into the picture's own stores: the old HDR image must not be saved
    // or tone-mapped any more.
    ASSERT_TRUE(window->addImages({dataFile("brackets/mysore_palace_fuji_xt1_7exp/AJAZ0819.jpg")}));
    ASSERT_TRUE(waitUntil([&] { return !window->loadingPhotos(); }));
    EXPECT_EQ(p->photos.size(), 4u);
    EXPECT_FALSE(p->hdrPresent);
    EXPECT_FALSE(p->lcPlanesValid);
    EXPECT_FALSE(window->findChild<QAction*>("saveAction")->isEnabled())
        << "nothing to save until the HDR image is generated again";
}

TEST_F(generateHDRDialog, hdrFileFollowsTheSuffixAndAMissingFolderIsRefused) {
    HALVORA_REQUIRE_DATA();
    boxRecorder boxes;
    load(bracketFiles());
    const QString dir = makeTempDir("hdrout");

    action()->trigger();
    generateHDR* d = dialog();
    ASSERT_NE(d, nullptr);
    d->noiseGroup()->setChecked(false);
    d->saveHdrBox()->setChecked(true);
    EXPECT_TRUE(d->hdrPathEdit()->isEnabled());
    d->hdrPathEdit()->setText(dir + "/missing/out.hdr");
    d->runButton()->click();
    EXPECT_FALSE(d->saveHdrBox()->isChecked());
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_EQ(boxes.kinds[0], styledMessageBox::warning);
    EXPECT_EQ(boxes.texts[0], "Directory does not exist. HDR save disabled.");
    EXPECT_TRUE(window->logPanelHtml().contains("#b0b060"));
    EXPECT_TRUE(d->isVisible()) << "the user sees the unchecked box and decides";
    EXPECT_FALSE(window->project()->hdrPresent);

    d->saveHdrBox()->setChecked(true);
    d->hdrPathEdit()->setText(dir + "/out.hdr");
    d->runButton()->click();
    ASSERT_TRUE(waitForPicture());
    EXPECT_TRUE(QFileInfo::exists(dir + "/out.hdr")) << "its format by suffix: generationRunTest";
    EXPECT_TRUE(window->logPanelHtml().contains("Saved as"));

    action()->trigger();
    ASSERT_NE(dialog(), nullptr);
    EXPECT_FALSE(dialog()->saveHdrBox()->isChecked()) << "the HDR file is asked for each time";
    dialog()->cancelButton()->click();
    EXPECT_EQ(boxes.texts.size(), 1);
}

TEST_F(generateHDRDialog, onePhotoOffersLdrEnhancementWithNoiseOptionsOnly) {
    HALVORA_REQUIRE_DATA();
    boxRecorder boxes;
    programOptionsSettings::instance().enhanceLdrNoiseFilterStrength = 7;
    load({bracketFiles()[1]});
    action()->trigger();
    generateHDR* d = dialog();
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->ldrEnhancement());
    EXPECT_EQ(d->runButton()->text(), "LDR enhancement");
    EXPECT_FALSE(d->methodBox()->isEnabled());
    EXPECT_FALSE(d->selectivityBox()->isEnabled());
    EXPECT_FALSE(d->smartMergeSlider()->isEnabled());
    EXPECT_FALSE(d->saveHdrBox()->isEnabled());
    EXPECT_FALSE(d->hdrPathEdit()->isEnabled());
    EXPECT_TRUE(d->noiseGroup()->isEnabled());
    EXPECT_TRUE(d->noiseStrengthBox()->isEnabled());
    EXPECT_EQ(d->noiseStrengthBox()->value(), 7) << "the EnhanceLDR noise options, not GenerateHDR's";
    d->noiseSoftnessBox()->setValue(9);
    d->runButton()->click();
    ASSERT_TRUE(waitForPicture());
    EXPECT_EQ(programOptionsSettings::instance().enhanceLdrNoiseFilterSoftness, 9);
    EXPECT_EQ(programOptionsSettings::instance().generateHdrNoiseFilterSoftness, 2)
        << "HDR options untouched";
    EXPECT_TRUE(boxes.texts.isEmpty());
}

TEST_F(generateHDRDialog, breakStopsTheRunAndTheDialogCanRunAgain) {
    HALVORA_REQUIRE_DATA();
    boxRecorder boxes;
    load(bracketFiles());
    processingProject* p = window->project();
    // A first picture, prepared and shown.
    action()->trigger();
    ASSERT_NE(dialog(), nullptr);
    dialog()->noiseGroup()->setChecked(false);
    dialog()->runButton()->click();
    ASSERT_TRUE(waitForPicture());
    ASSERT_TRUE(p->previewValid);

    action()->trigger();
    generateHDR* d = dialog();
    ASSERT_NE(d, nullptr);
    auto* breakButton = window->findChild<QPushButton*>("breakButton");
    ASSERT_NE(breakButton, nullptr);
    // The user presses "Break" as soon as the generation stage shows its progress.
    bool pressed = false, enabledWhileRunning = true;
    auto c = QObject::connect(d, &generateHDR::startProgress, window.get(), [&](uint64_t total) {
        if (total <= 1 || pressed) return;
        enabledWhileRunning = d->isEnabled();
        EXPECT_TRUE(breakButton->isEnabled());
        breakButton->click();
        pressed = true;
    });
    d->runButton()->click();
    ASSERT_TRUE(waitUntil([&] { return pressed && d->activeRun() == nullptr; }));
    QObject::disconnect(c);
    EXPECT_FALSE(enabledWhileRunning) << "the dialog is disabled while its run is active";
    EXPECT_TRUE(d->isVisible()) << "a failed run leaves the dialog open";
    EXPECT_TRUE(d->isEnabled());
    EXPECT_FALSE(breakButton->isEnabled());
    EXPECT_FALSE(p->hdrPresent);
    EXPECT_FALSE(p->lcPlanesValid) << "the old preparation belongs to a picture that is gone";
    EXPECT_FALSE(p->previewValid);
    // The view shows the first photo again, not the old tone-mapped preview.
    auto* view = window->findChild<mainWorkspace*>("workspace");
    ASSERT_NE(view, nullptr);
    const QImage shown = view->shownImage().convertToFormat(QImage::Format_RGB888);
    photoEntry& first = *p->photos.front();
    ASSERT_EQ(shown.width(), first.preview.width);
    ASSERT_EQ(shown.height(), first.preview.height);
    int same = 0, checked = 0;
    for (int y = 0; y < shown.height(); y += 17)
        for (int x = 0; x < shown.width(); x += 13, ++checked)
            same += qRed(shown.pixel(x, y)) ==
                    first.preview.pixels()[(size_t(y) * first.preview.width + x) * 3] / 128;
    EXPECT_EQ(same, checked);
    EXPECT_EQ(p->photos.size(), 3u);
    ASSERT_EQ(boxes.kinds.size(), 1);
    EXPECT_EQ(boxes.kinds[0], styledMessageBox::error);
    EXPECT_TRUE(boxes.texts[0].contains("Aborted.")) << boxes.texts[0].toStdString();
    EXPECT_TRUE(window->logPanelHtml().contains("#b06060"));
    EXPECT_EQ(programOptionsSettings::instance().generateHdrMethod, 0);

    d->noiseGroup()->setChecked(false);
    d->runButton()->click();
    ASSERT_TRUE(waitForPicture());
    EXPECT_TRUE(p->hdrPresent);
}

TEST_F(generateHDRDialog, hiddenDialogReportsInTheLogAndRemembersNothing) {
    HALVORA_REQUIRE_DATA();
    boxRecorder boxes;
    load(bracketFiles());
    processingProject* p = window->project();
    halvora::chooseEVsAfterLoading(*p);
    generateHDR d(p, true);
    QStringList lines;
    QObject::connect(&d, &generateHDR::logLine, [&](int, const QString& text) { lines << text; });
    d.methodBox()->setCurrentIndex(2);
    d.noiseGroup()->setChecked(false);
    d.saveHdrBox()->setChecked(true);
    d.hdrPathEdit()->setText("/nonexistent-halvora-dir/x.hdr");
    EXPECT_FALSE(d.checkHdrPath());
    EXPECT_FALSE(d.saveHdrBox()->isChecked());
    d.saveHdrBox()->setChecked(true);
    d.generateHDRslot(); // hidden: unchecks again and goes on without the file
    ASSERT_TRUE(waitUntil([&] { return d.activeRun() == nullptr; }));
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_TRUE(p->hdrPresent);
    EXPECT_EQ(lines.count("Directory does not exist. HDR save disabled."), 2);
    EXPECT_TRUE(lines.contains("HDR generation..."));
    EXPECT_TRUE(boxes.texts.isEmpty()) << "no message box in a hidden run";
    EXPECT_EQ(programOptionsSettings::instance().generateHdrMethod, 0) << "hidden runs do not store options";
}

} // namespace

TEST_F(generateHDRDialog, closingTheWindowDuringARunStopsItCleanly) {
    HALVORA_REQUIRE_DATA();
    boxRecorder boxes;
    load(bracketFiles());
    action()->trigger();
    QPointer<generateHDR> d = dialog();
    ASSERT_NE(d, nullptr);
    d->runButton()->click();
    ASSERT_NE(d->activeRun(), nullptr);
    const QString session = window->project()->sessionDir;
    halvora::test::logCapture log;
    window->close();
    EXPECT_TRUE(window->shutdownDone());
    EXPECT_EQ(window->project(), nullptr);
    EXPECT_TRUE(d.isNull()) << "the dialog goes with its run";
    EXPECT_FALSE(QDir(session).exists());
    EXPECT_FALSE(log.contains("terminating its thread")) << "the stage stopped on its own";
    QCoreApplication::processEvents(); // late stage reports find nobody
    EXPECT_TRUE(boxes.texts.isEmpty()) << "no report of a run stopped by the shutdown";
}

TEST_F(generateHDRDialog, equalEVsWarnWhenTheDialogOpensAndDoNotStopIt) {
    HALVORA_REQUIRE_DATA();
    boxRecorder boxes;
    const QString dir = makeTempDir("same");
    ASSERT_TRUE(QFile::copy(bracketFiles()[1], dir + "/a.jpg"));
    ASSERT_TRUE(QFile::copy(bracketFiles()[1], dir + "/b.jpg"));
    load({dir + "/a.jpg", dir + "/b.jpg"});
    boxes.texts.clear();
    boxes.kinds.clear();
    action()->trigger();
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_EQ(boxes.kinds[0], styledMessageBox::warning);
    EXPECT_EQ(
        boxes.texts[0],
        "Warning! There are photos that have the same EV value. It is all right as far as it was intended.");
    EXPECT_TRUE(window->logPanelHtml().contains("same EV value"));
    ASSERT_NE(dialog(), nullptr) << "the warning does not stop the generation";
    EXPECT_TRUE(dialog()->runButton()->isEnabled());
}

TEST_F(generateHDRDialog, automaticAlignmentBeforeTheMergeAndItsUndo) {
    HALVORA_REQUIRE_DATA();
    if (QStandardPaths::findExecutable("exiftool").isEmpty()) GTEST_SKIP() << "exiftool is not installed";
    boxRecorder boxes;
    // Hand-held-like: the middle frame cut 8 pixels further right and 5 further down than the others.
    const QString dir = makeTempDir("alignDialog");
    QStringList files;
    for (int i = 0; i < 3; ++i) {
        const QImage frame(bracketFiles()[i]);
        ASSERT_FALSE(frame.isNull());
        const QString name = dir + QString("/f%1.jpg").arg(i);
        ASSERT_TRUE(frame.copy(i == 1 ? QRect(8, 5, 600, 400) : QRect(0, 0, 600, 400)).save(name, "JPG", 95));
        QProcess tool; // the exposures come from the frames' EXIF
        tool.start("exiftool",
                   {"-q", "-overwrite_original", "-TagsFromFile", bracketFiles()[i], "-exif:all", name});
        ASSERT_TRUE(tool.waitForFinished(30000) && tool.exitCode() == 0);
        files << name;
    }
    load(files);
    processingProject* p = window->project();
    action()->trigger();
    generateHDR* d = dialog();
    ASSERT_NE(d, nullptr);
    d->autoAlignBox()->setChecked(true);
    d->runButton()->click();
    ASSERT_TRUE(waitForPicture());
    EXPECT_TRUE(p->aligned);
    EXPECT_TRUE(programOptionsSettings::instance().generateHdrAutoAlign) << "remembered";
    // The other frames moved (-8, -5) against the middle one: the common area is 592 × 395.
    EXPECT_NEAR(p->width, 592, 1);
    EXPECT_NEAR(p->height, 395, 1);
    EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join("|").toStdString();

    // "Undo" asks, then gives back the photos' size as loaded.
    action()->trigger();
    d = dialog();
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(d->alignUndoButton()->isEnabled());
    boxes.answer = false;
    d->alignUndoButton()->click();
    EXPECT_EQ(boxes.texts.value(0), "Are you sure you want to undo the alignment?");
    EXPECT_TRUE(p->aligned) << "answered No";
    boxes.answer = true;
    d->alignUndoButton()->click();
    ASSERT_TRUE(waitUntil([&] { return d->isEnabled() && !d->activeRun(); }));
    EXPECT_FALSE(p->aligned);
    EXPECT_FALSE(d->alignUndoButton()->isEnabled());
    // The bytes given back are checked by the alignment run's own test (tests/project).
    EXPECT_EQ(p->width, 600);
    EXPECT_EQ(p->height, 400);
    d->cancelButton()->click();
}
