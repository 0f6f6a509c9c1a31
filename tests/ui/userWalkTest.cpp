// The whole interactive road in one sitting, as a photographer walks it: add a bracket, generate,
// look at 100 % and pan, crop, pick a white point, bend the curve, apply a curve preset, turn the
// picture, save; and what must not change: the photos while the stages run, the file of a save
// broken off, and a repeated save. Each step is checked by what it must change. With
// HALVORA_WALK_SHOTS=<folder> the window is photographed after every step (run under Xvfb with
// QT_QPA_PLATFORM=xcb to see what the window system really draws).
#include "app/programOptionsSettings.h"
#include "project/processingProject.h"
#include "support/testSupport.h"
#include "ui/generateHDR.h"
#include "ui/histogramTool.h"
#include "ui/imageItem.h"
#include "ui/mainImageArea.h"
#include "ui/mainWindow.h"
#include "ui/mainWorkspace.h"
#include "ui/paramSlider.h"
#include "ui/toneCurveTool.h"
#include "ui/toneCurveToolArea.h"
#include "ui/tonemappingGroup.h"
#include "uiInput.h"
#include "uiTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTabWidget>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace halvora::test;

// The program's own look, as its start sets it (the resources live in a static library).
static void useProgramLook() {
    Q_INIT_RESOURCE(resources);
    QFile css(":/resources/style1.css");
    ASSERT_TRUE(css.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromLatin1(css.readAll()));
}

namespace {

struct walk {
    std::unique_ptr<mainWindow> window;
    QString shots = qEnvironmentVariable("HALVORA_WALK_SHOTS");
    int step = 0;

    QAction* action(const QString& text) {
        QAction* a = menuAction(*window, text);
        if (!a) ADD_FAILURE() << "no action " << text.toStdString();
        return a;
    }
    mainWorkspace* ws() { return window->workspace(); }
    bool idle() {
        return waitUntil([&] { return window->menuBar()->isEnabled() && !window->progressRun(); }, 120000);
    }
    /// The window as it is on the screen now (the real screen under an X server).
    void shot(const char* name) {
        if (shots.isEmpty()) return;
        QDir().mkpath(shots);
        QCoreApplication::processEvents();
        const bool realScreen = QGuiApplication::platformName() == "xcb";
        const QPixmap p = realScreen ? window->screen()->grabWindow(window->winId()) : window->grab();
        p.save(QString("%1/%2-%3.png").arg(shots).arg(++step, 2, 10, QChar('0')).arg(name));
    }
};

TEST(userWalk, addGenerateZoomCropSampleCurvePresetTurnSave) {
    HALVORA_REQUIRE_DATA();
    programOptionsSettings::instance().newProjectShowFileOpen = false;
    // A tripod bracket spanning eight stops: automatic alignment finds too few common corners and
    // would only add its warning box.
    programOptionsSettings::instance().generateHdrAutoAlign = false;
    boxRecorder boxes(true);
    useProgramLook();
    walk w;
    w.window = std::make_unique<mainWindow>(nullptr);
    mainWindow& window = *w.window;
    window.resize(1400, 900);
    window.show();
    ASSERT_TRUE(waitUntil([&] { return window.isVisible(); }));

    // Add three frames of the desk bracket.
    const QString dir = dataDir() + "/brackets/desk_canon_s45_13exp/";
    ASSERT_TRUE(window.addImages({dir + "img03.jpg", dir + "img07.jpg", dir + "img11.jpg"}));
    ASSERT_TRUE(waitUntil([&] { return !window.loadingPhotos(); }));
    processingProject* project = window.project();
    ASSERT_EQ(project->photos.size(), 3u);
    w.shot("added");

    // Generate.
    window.findChild<QPushButton*>("generateHdrButton")->click();
    auto* dialog = window.findChild<generateHDR*>();
    ASSERT_NE(dialog, nullptr);
    dialog->runButton()->click();
    // While the stages run, nothing may change the photos or their EVs under the worker.
    const double ev0 = project->photos[0]->ev;
    EXPECT_FALSE(window.addImages({dir + "img05.jpg"}));
    window.removeImages();
    window.EVmanualSelectSlot(8);
    window.photoItemAt(1)->includeBox()->setChecked(false);
    window.newProject(true);
    EXPECT_EQ(project, window.project());
    EXPECT_EQ(project->photos.size(), 3u);
    EXPECT_EQ(project->photos[0]->ev, ev0);
    EXPECT_TRUE(project->photos[1]->included);
    EXPECT_TRUE(window.photoItemAt(1)->includeBox()->isChecked()) << "the click is undone";
    ASSERT_TRUE(waitUntil(
        [&] { return !window.findChild<generateHDR*>() && project->hdrPresent && project->previewValid; },
        120000));
    EXPECT_EQ(window.findChild<QTabWidget*>("rightTabs")->currentIndex(), 1) << "on to tone mapping";
    ASSERT_TRUE(w.idle());
    w.shot("generated");

    // 100 %, then a drag pans: the same picture point moves on the screen by the drag.
    w.action("Original size")->trigger();
    ASSERT_TRUE(waitUntil([&] { return project->previewToneMapLevel() == 0; }));
    EXPECT_DOUBLE_EQ(w.ws()->scale(), 1.0);
    const QPointF before = w.ws()->mapping().toView(QPointF(500, 400));
    drag(w.ws()->area(), QPointF(300, 300), QPointF(200, 250));
    const QPointF after = w.ws()->mapping().toView(QPointF(500, 400));
    EXPECT_NEAR(after.x() - before.x(), -100, 1.0);
    EXPECT_NEAR(after.y() - before.y(), -50, 1.0);
    w.shot("panned-100-percent");
    w.action("Fit to workspace")->trigger();
    ASSERT_TRUE(waitUntil([&] { return project->previewToneMapLevel() > 0; }));

    // Crop to 800 × 600 from (100, 80).
    w.action("Crop")->trigger();
    ASSERT_EQ(w.ws()->area()->currentMode(), mainImageArea::cropMode);
    drag(w.ws()->area(), w.ws()->mapping().toView(QPointF(100, 80)),
         w.ws()->mapping().toView(QPointF(900, 680)));
    w.shot("crop-rectangle");
    key(w.ws()->area(), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return project->width == 800 && project->previewValid; }, 120000));
    ASSERT_TRUE(w.idle());
    EXPECT_EQ(project->height, 600);
    EXPECT_TRUE(project->cropped);
    w.shot("cropped");

    // White point from a light grey of the view (a clipped white would leave the level where it
    // is): the white level comes down and automatic clipping, which would overrule a level picked by
    // hand, is off.
    auto* histogram = window.findChild<histogramTool*>();
    ASSERT_NE(histogram, nullptr);
    const double whiteBefore = project->tmSettings.whiteLevel;
    const QImage shown = w.ws()->shownImage().convertToFormat(QImage::Format_Grayscale8);
    QPoint lightGrey(0, 0);
    int best = 1000;
    for (int y = 8; y < shown.height() - 8; y += 4)
        for (int x = 8; x < shown.width() - 8; x += 4)
            if (std::abs(shown.constScanLine(y)[x] - 200) < best)
                best = std::abs(shown.constScanLine(y)[x] - 200), lightGrey = QPoint(x, y);
    ASSERT_LT(best, 20);
    histogram->whiteSampleButton()->click();
    const double sx = double(project->width) / shown.width();
    click(w.ws()->area(),
          w.ws()->mapping().toView(QPointF((lightGrey.x() + 0.5) * sx, (lightGrey.y() + 0.5) * sx)));
    ASSERT_TRUE(waitUntil([&] { return project->tmSettings.whiteLevel != whiteBefore; }));
    EXPECT_LT(project->tmSettings.whiteLevel, whiteBefore);
    EXPECT_FALSE(project->tmSettings.autoClipping);
    ASSERT_TRUE(w.idle());
    w.shot("white-point");

    // Bend the master curve upwards in the middle: the preview gets brighter.
    auto* curve = window.findChild<toneCurveTool*>();
    ASSERT_NE(curve, nullptr);
    for (QWidget* p = curve; p; p = p->parentWidget())
        if (auto* tabs =
                qobject_cast<QTabWidget*>(p->parentWidget() ? p->parentWidget()->parentWidget() : nullptr))
            if (tabs->indexOf(p) >= 0) tabs->setCurrentWidget(p);
    const QImage plain = w.ws()->shownImage();
    toneCurveToolArea* area = curve->area();
    const QRectF r = area->rect();
    drag(area, QPointF(r.width() / 2, r.height() / 2), QPointF(r.width() / 2, r.height() / 4));
    ASSERT_TRUE(waitUntil([&] { return w.ws()->shownImage() != plain; }, 20000));
    ASSERT_TRUE(w.idle());
    EXPECT_GT(meanLevel(w.ws()->shownImage()), meanLevel(plain) + 2.0);
    w.shot("curve");

    // A curve preset ("Whole range" › "Contrast ++") replaces the bent curve by the preset's knees.
    const QImage bent = w.ws()->shownImage();
    const QList<QAction*> ranges = curve->presetMenu()->actions();
    ASSERT_FALSE(ranges.isEmpty());
    ranges[0]->menu()->actions().at(0)->trigger();
    ASSERT_TRUE(waitUntil([&] { return w.ws()->shownImage() != bent; }, 20000));
    ASSERT_TRUE(w.idle());
    w.shot("curve-preset");

    // Turn by 90°: the picture stands up.
    const QImage upright = w.ws()->shownImage();
    w.action("Rotate 90 (clockwise)")->trigger();
    ASSERT_TRUE(waitUntil([&] { return project->width == 600 && project->previewValid; }, 120000));
    ASSERT_TRUE(w.idle());
    EXPECT_EQ(w.ws()->shownImage().width(), upright.height());
    w.shot("turned");

    // Save: the file has the turned, cropped size.
    const QString out = makeTempDir("walk") + "/desk.jpg";
    saveResultRequest request;
    request.fileName = out;
    request.options.jpegQuality = 92;
    request.options.transferExif = false;
    window.resultSaved = false;
    window.saveResultSlot(request);
    ASSERT_TRUE(waitUntil([&] { return window.resultSaved; }, 120000));
    EXPECT_EQ(QImageReader(out).size(), QSize(600, 800));
    EXPECT_TRUE(window.logPanelHtml().contains("Saved: " + out));
    w.shot("saved");
    EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(" | ").toStdString();

    // "Break" during a save stops that save, and only it: no file, the reason shown, and the next
    // preview and the next save work as before.
    saveResultRequest interrupted = request;
    interrupted.fileName = makeTempDir("walk") + "/broken.jpg";
    window.saveResultSlot(interrupted);
    ASSERT_NE(window.progressRun(), nullptr);
    auto* breakButton = window.findChild<QPushButton*>("breakButton");
    ASSERT_TRUE(breakButton->isEnabled());
    breakButton->click();
    ASSERT_TRUE(w.idle());
    EXPECT_FALSE(QFileInfo::exists(interrupted.fileName)) << "a broken save leaves no file";
    ASSERT_EQ(boxes.texts.size(), 1) << boxes.texts.join(" | ").toStdString();
    EXPECT_TRUE(boxes.texts[0].contains("Tone mapping the entire photo failed."))
        << boxes.texts[0].toStdString();
    boxes.texts.clear();

    // "Save" repeats the last save to the same file; a moved slider made the result unsaved.
    const QImage beforeBreak = w.ws()->shownImage();
    QSlider* const compression = window.findChild<tonemappingGroup*>()->control("compression")->slider();
    compression->setValue(compression->value() + 50);
    ASSERT_TRUE(waitUntil([&] { return w.ws()->shownImage() != beforeBreak; }, 20000))
        << "the preview after a Break renders";
    ASSERT_TRUE(waitUntil([&] { return !window.resultSaved; }, 10000)) << "a new look is not saved yet";
    QFile::remove(out);
    window.saveResultSlot();
    ASSERT_TRUE(waitUntil([&] { return window.resultSaved; }, 120000));
    EXPECT_TRUE(QFileInfo::exists(out));
    EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(" | ").toStdString();

    window.resultSaved = true;
    window.close();
    qApp->setStyleSheet(QString());
}

} // namespace
