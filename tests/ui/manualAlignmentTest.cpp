// Manual alignment from the HDR dialog: pins dragged with the mouse give the transforms worked out by
// hand for each method, the score and the refusal of pins on one line, then apply → undo gives back
// the photos byte for byte.

#include "ui/manualAlignment.h"
#include "align/alignTransform.h"
#include "app/programOptionsSettings.h"
#include "project/processingProject.h"
#include "support/testSupport.h"
#include "ui/generateHDR.h"
#include "ui/mainWindow.h"
#include "ui/manualAlignmentWorkspace.h"
#include "ui/zoomWidget.h"
#include "uiInput.h"
#include "uiTestSupport.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <cmath>
#include <gtest/gtest.h>

using namespace halvora::test;

namespace {

struct manualAlignmentDialog : ::testing::Test {
    void SetUp() override {
        abortRequested = false;
        programOptionsSettings::instance().generateHdrAutoAlign = false;
        window = std::make_unique<mainWindow>(nullptr);
        ASSERT_FALSE(window->startupError());
        window->resultSaved = true;
    }
    void TearDown() override {
        if (window) window->resultSaved = true;
        if (window && !window->shutdownDone()) window->close();
        window.reset();
        abortRequested = false;
    }
    // Three 600 × 400 cuts of one frame: photo 1 cut 8 pixels further right and 5 further down.
    void loadCuts() {
        const QImage frame(dataFile("brackets/mysore_palace_fuji_xt1_7exp/AJAZ0818.jpg"));
        ASSERT_FALSE(frame.isNull());
        const QString dir = makeTempDir("manualAlign");
        QStringList files;
        for (int i = 0; i < 3; ++i) {
            const QString name = dir + QString("/cut%1.jpg").arg(i);
            ASSERT_TRUE(
                frame.copy(i == 1 ? QRect(8, 5, 600, 400) : QRect(0, 0, 600, 400)).save(name, "JPG", 95));
            files << name;
        }
        ASSERT_TRUE(window->addImages(files));
        ASSERT_TRUE(waitUntil([&] { return !window->loadingPhotos(); }));
        ASSERT_EQ(window->project()->photos.size(), 3u);
    }
    generateHDR* openHdrDialog() {
        window->findChild<QAction*>("generateHdrAction")->trigger();
        return window->findChild<generateHDR*>();
    }
    std::vector<uint16_t> current(int photo) {
        processingProject* p = window->project();
        std::vector<uint16_t> pixels(p->photoBytes() / 2);
        EXPECT_TRUE(p->readFromTempFile(*p->photos[size_t(photo)], photoEntry::slotCurrent, pixels.data(),
                                        p->photoBytes()));
        return pixels;
    }
    std::unique_ptr<mainWindow> window;
};

// Drags pin `pin` of `view` by (dx, dy) screen pixels with the left button.
void dragPin(manualAlignmentWorkspace* view, int pin, double dx, double dy) {
    const QPointF from = view->area()->mapping().toView(view->pins()[size_t(pin)]) + QPointF(1, -1);
    ASSERT_EQ(view->pinAt(from), pin);
    drag(view->area(), from, from + QPointF(dx, dy));
}

} // namespace

TEST_F(manualAlignmentDialog, pinsDraggedWithTheMouseGiveTheHandComputedTransforms) {
    HALVORA_REQUIRE_DATA();
    boxRecorder boxes;
    loadCuts();
    processingProject* p = window->project();
    generateHDR* d = openHdrDialog();
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(d->manualAlignButton()->isEnabled());
    d->manualAlignButton()->click();
    auto* m = d->findChild<manualAlignment*>();
    ASSERT_NE(m, nullptr);
    ASSERT_TRUE(m->ready());
    m->resize(1500, 800);
    QCoreApplication::processEvents();
    m->baseBox()->setCurrentIndex(1); // no pins set yet: nothing to confirm
    EXPECT_EQ(m->basePhoto(), 1);
    m->toAlignBox()->setCurrentIndex(m->toAlignBox()->findData(0));
    ASSERT_EQ(m->photoToAlign(), 0);
    // Half size: a pin follows the mouse at two picture pixels per screen pixel.
    for (manualAlignmentWorkspace* view : {m->baseView(), m->photoView()}) {
        view->setFitting(false);
        view->setScale(0.5);
    }

    // "Shift": pin 1 of the photo dragged 4, 2.5 screen pixels → 8, 5 picture pixels.
    m->methodBox()->setCurrentIndex(0);
    EXPECT_EQ(m->photoView()->activePins(), 1);
    dragPin(m->photoView(), 0, 4, 2.5);
    EXPECT_EQ(m->photoView()->pins()[0], QPointF(158, 105));
    halvora::alignTransform t;
    ASSERT_TRUE(m->currentTransform(t, nullptr));
    const double shift[8] = {1, 0, 8, 0, 1, 5, 0, 0};
    for (int k = 0; k < 8; ++k)
        EXPECT_DOUBLE_EQ(t.a[k], shift[k]) << "a" << k;
    EXPECT_EQ(m->scoreLabel()->text(), "<b>0 / 100</b>");
    EXPECT_TRUE(m->pinSet().pair(0).set);

    // "Shift & rotation" (its arithmetic: pinAlignment.eachMethodGivesTheHandComputedTransform): pin 2
    // of the photo dragged 15 screen pixels down, to (450, 130), turns the map.
    m->methodBox()->setCurrentIndex(1);
    dragPin(m->photoView(), 1, 0, 15);
    EXPECT_EQ(m->photoView()->pins()[1], QPointF(450, 130));
    ASSERT_TRUE(m->currentTransform(t, nullptr));
    EXPECT_NE(t.a[1], 0);

    // Perspective: pins 3 and 4 moved like pin 1; the map goes through all four pin pairs.
    m->methodBox()->setCurrentIndex(2);
    EXPECT_EQ(m->photoView()->activePins(), 4);
    dragPin(m->photoView(), 2, 4, 2.5);
    dragPin(m->photoView(), 3, 4, 2.5);
    ASSERT_TRUE(m->currentTransform(t, nullptr));
    const QPointF base[4] = {{150, 100}, {450, 100}, {450, 300}, {150, 300}};
    const QPointF photo[4] = {{158, 105}, {450, 130}, {458, 305}, {158, 305}};
    for (int k = 0; k < 4; ++k) {
        const halvora::alignPoint q = t.map(base[k].x(), base[k].y());
        EXPECT_NEAR(q.x, photo[k].x(), 1e-6) << "pin " << k + 1;
        EXPECT_NEAR(q.y, photo[k].y(), 1e-6) << "pin " << k + 1;
    }
    // Base side 50 (nearest pin 180.3 px from the centre of a 721-px diagonal); photo side: the
    // diagonals cross 156.2 px from pin 2, so ⌊156.2 / 721 × 200⌋ = 43.
    EXPECT_EQ(m->scoreLabel()->text(), "<b>43 / 100</b>");

    // Pin 3 of the base dragged onto the line through pins 1 and 2: refused, nothing applied.
    dragPin(m->baseView(), 2, -50, -100);
    EXPECT_EQ(m->baseView()->pins()[2], QPointF(350, 100));
    EXPECT_FALSE(m->currentTransform(t, nullptr));
    boxes.texts.clear();
    boxes.kinds.clear();
    m->applyButton()->click();
    ASSERT_EQ(boxes.texts.size(), 2) << boxes.texts.join("|").toStdString();
    EXPECT_EQ(boxes.texts[0],
              "Are you sure you want to apply manual alignment? There are still photos for which "
              "the pins were not set.");
    EXPECT_TRUE(boxes.texts[1].contains("cut0.jpg")) << boxes.texts[1].toStdString();
    EXPECT_TRUE(boxes.texts[1].contains("one line")) << boxes.texts[1].toStdString();
    EXPECT_EQ(boxes.kinds[1], styledMessageBox::error);
    EXPECT_FALSE(m->activeRun());
    EXPECT_FALSE(p->aligned);

    // Changing the base photo now asks first; No keeps everything.
    boxes.answer = false;
    m->baseBox()->setCurrentIndex(0);
    EXPECT_EQ(boxes.texts.last(),
              "By changing the base photo you'll reset the current alignment pins. Do you wish to proceed?");
    EXPECT_EQ(m->basePhoto(), 1);
    EXPECT_EQ(m->baseBox()->currentIndex(), 1);
    EXPECT_TRUE(m->pinSet().pair(0).set);
    boxes.answer = true;
    m->resetButton()->click();
    EXPECT_EQ(boxes.texts.last(),
              "Are you sure you want to reset pin positions for the currently opened photo pair?");
    EXPECT_FALSE(m->pinSet().pair(0).set);
    EXPECT_EQ(m->photoView()->pins()[0], QPointF(150, 100));
    m->close();
    d->cancelButton()->click();
}

TEST_F(manualAlignmentDialog, appliedShiftMovesThePixelsAndUndoGivesBackTheOriginalBytes) {
    HALVORA_REQUIRE_DATA();
    boxRecorder boxes;
    loadCuts();
    processingProject* p = window->project();
    std::vector<std::vector<uint16_t>> before;
    for (int i = 0; i < 3; ++i)
        before.push_back(current(i));
    generateHDR* d = openHdrDialog();
    ASSERT_NE(d, nullptr);
    d->manualAlignButton()->click();
    auto* m = d->findChild<manualAlignment*>();
    ASSERT_NE(m, nullptr);
    m->resize(1500, 800);
    QCoreApplication::processEvents();
    m->baseBox()->setCurrentIndex(1);
    m->toAlignBox()->setCurrentIndex(m->toAlignBox()->findData(0));
    m->pairZoom()->set100(); // "Original size" for both pinned views: one picture pixel per screen pixel
    QCoreApplication::processEvents();
    ASSERT_EQ(m->baseView()->scale(), 1.0);
    ASSERT_EQ(m->photoView()->scale(), 1.0);
    m->methodBox()->setCurrentIndex(0);
    dragPin(m->photoView(), 0, 8, 5);
    ASSERT_EQ(m->photoView()->pins()[0], QPointF(158, 105));
    ASSERT_TRUE(m->autoCropBox()->isChecked());
    boxes.texts.clear();
    m->applyButton()->click(); // photo 2 keeps its place: asked, answered Yes
    EXPECT_EQ(boxes.texts.size(), 1);
    ASSERT_TRUE(waitUntil([&] { return !d->findChild<manualAlignment*>(); }));
    ASSERT_TRUE(p->aligned);
    EXPECT_TRUE(d->alignUndoButton()->isEnabled());
    // The common area of the three: 592 × 395 from the top left.
    ASSERT_EQ(p->width, 592);
    ASSERT_EQ(p->height, 395);
    const std::vector<uint16_t> aligned0 = current(0), aligned2 = current(2), aligned1 = current(1);
    for (int y = 0; y < 395; ++y)
        for (int x = 0; x < 592; ++x)
            for (int c = 0; c < 3; ++c) {
                const size_t out = (size_t(y) * 592 + size_t(x)) * 3 + size_t(c);
                const size_t in0 = (size_t(y + 5) * 600 + size_t(x + 8)) * 3 + size_t(c);
                const size_t in = (size_t(y) * 600 + size_t(x)) * 3 + size_t(c);
                ASSERT_EQ(aligned0[out], before[0][in0]) << x << "," << y;
                ASSERT_EQ(aligned1[out], before[1][in]) << x << "," << y;
                ASSERT_EQ(aligned2[out], before[2][in]) << x << "," << y;
            }

    // "Manual" again: asked whether to undo first; Yes restores the photos and opens the dialog on them.
    boxes.texts.clear();
    d->manualAlignButton()->click();
    EXPECT_EQ(boxes.texts.value(0),
              "The photos have already been aligned. Undo the current alignment first?");
    ASSERT_TRUE(waitUntil([&] { return d->findChild<manualAlignment*>() != nullptr; }));
    EXPECT_FALSE(p->aligned);
    ASSERT_EQ(p->width, 600);
    ASSERT_EQ(p->height, 400);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(current(i) == before[size_t(i)]) << "photo " << i;
    d->findChild<manualAlignment*>()->close();
    d->cancelButton()->click();
}

TEST_F(manualAlignmentDialog, automaticPinsComeFromTheEstimatorOffTheWindowsThread) {
    HALVORA_REQUIRE_DATA();
    boxRecorder boxes;
    loadCuts();
    generateHDR* d = openHdrDialog();
    ASSERT_NE(d, nullptr);
    d->manualAlignButton()->click();
    auto* m = d->findChild<manualAlignment*>();
    ASSERT_NE(m, nullptr);
    m->baseBox()->setCurrentIndex(1);
    m->toAlignBox()->setCurrentIndex(m->toAlignBox()->findData(0));
    m->methodBox()->setCurrentIndex(0);

    // The shown pair: asked first; No leaves the pins alone.
    boxes.texts.clear();
    boxes.answer = false;
    m->autoPinsButton()->click();
    EXPECT_EQ(boxes.texts.value(0),
              "Are you sure you want to automatically set the pins for the current pair of "
              "photos? This will reset your current settings.");
    EXPECT_FALSE(m->activeRun());
    boxes.answer = true;
    m->autoPinsButton()->click();
    ASSERT_NE(m->activeRun(), nullptr) << "the estimation runs on the alignment run's thread";
    EXPECT_FALSE(m->applyButton()->isEnabled());
    EXPECT_TRUE(m->breakButton()->isVisible());
    ASSERT_TRUE(waitUntil([&] { return !m->activeRun(); }));
    EXPECT_TRUE(m->applyButton()->isEnabled());
    EXPECT_EQ(boxes.texts.size(), 2) << boxes.texts.join("|").toStdString();
    EXPECT_TRUE(m->pinSet().pair(0).set);
    EXPECT_FALSE(m->pinSet().pair(2).set);
    EXPECT_EQ(m->methodBox()->currentIndex(), 2) << "the estimator's pins fix a perspective";
    // Photo 0 shows base position (x, y) at (x + 8, y + 5).
    halvora::alignTransform t;
    ASSERT_TRUE(m->currentTransform(t, nullptr));
    for (const QPointF at : {QPointF(100, 80), QPointF(300, 200), QPointF(520, 330)}) {
        const halvora::alignPoint q = t.map(at.x(), at.y());
        EXPECT_NEAR(q.x, at.x() + 8, 0.5) << at.x();
        EXPECT_NEAR(q.y, at.y() + 5, 0.5) << at.y();
    }

    // Every pair: photo 2 is cut like photo 0, so it gets the same pins' shift.
    m->autoPinsAllButton()->click();
    EXPECT_EQ(boxes.texts.value(2),
              "Are you sure you want to automatically set the pins for all the photo pairs? "
              "This will reset your current settings.");
    ASSERT_TRUE(waitUntil([&] { return !m->activeRun(); }));
    EXPECT_TRUE(m->pinSet().pair(2).set);
    m->toAlignBox()->setCurrentIndex(m->toAlignBox()->findData(2));
    ASSERT_TRUE(m->currentTransform(t, nullptr));
    const halvora::alignPoint q = t.map(300, 200);
    EXPECT_NEAR(q.x, 308, 0.5);
    EXPECT_NEAR(q.y, 205, 0.5);
    EXPECT_EQ(boxes.texts.size(), 3) << "no failure reported: " << boxes.texts.join("|").toStdString();
    m->close();
    d->cancelButton()->click();
}
