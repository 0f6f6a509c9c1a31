// The picture view as a user drives it: zoom steps and their ends, the wheel about the pointer,
// dragging, the background, over/under marks on the screen, file drops; and in the window: cropping
// the project, sampling, and the faults new users met (rotate without a redraw, a radiance file left
// white on the first tab, a photo choice that showed nothing).

#include "app/programOptionsSettings.h"
#include "base/runContext.h"
#include "project/processingProject.h"
#include "support/testSupport.h"
#include "ui/generateHDR.h"
#include "ui/imageItem.h"
#include "ui/mainWindow.h"
#include "ui/mainWorkspace.h"
#include "ui/tonemappingGroup.h"
#include "ui/zoomWidget.h"
#include "uiInput.h"
#include "uiTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QUrl>
#include <QWheelEvent>
#include <cmath>
#include <gtest/gtest.h>

using namespace halvora::test;

namespace {

// A picture whose every pixel says where it is.
QImage codedPicture(int w, int h, int seed = 0) {
    QImage img(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixelColor(x, y, QColor((x * 5 + seed * 60) & 255, (y * 7) & 255, (x * y + seed) & 255));
    return img;
}

// A drag that enters the view and drops there, as a file manager sends it.
void dropOn(QWidget* w, const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &drop);
}

// The colour the view shows at picture pixel (px, py): its centre in the last drawn frame.
QColor onScreen(mainWorkspace& ws, double px, double py) {
    ws.area()->repaint();
    const QPointF v = ws.mapping().toView(QPointF(px + 0.5, py + 0.5));
    return ws.area()->frame().pixelColor(int(v.x()), int(v.y()));
}

struct shownWorkspace {
    shownWorkspace() {
        ws.attachZoom(&zoom);
        ws.resize(420, 320);
        ws.show();
        QApplication::processEvents();
    }
    mainWorkspace ws;
    zoomWidget zoom;
};

TEST(workspace, zoomEndsFitThenZoomAndTheWheelAboutThePointer) {
    shownWorkspace s;
    mainWorkspace& ws = s.ws;
    ws.showPicture(codedPicture(800, 600));
    ASSERT_TRUE(s.zoom.fitting());
    const double fit = ws.scale();
    EXPECT_DOUBLE_EQ(fit, halvora::fitScale(800, 600, ws.area()->width(), ws.area()->height()));
    EXPECT_LT(fit, 0.55);
    EXPECT_EQ(halvora::zoomIndexOf(fit), -1) << "the test needs a fitted scale between two entries";

    // Fit, then zoom in: the next larger entry of the list.
    int above = 0;
    for (int p : halvora::zoomPercents())
        if (p > fit * 100.0) {
            above = p;
            break;
        }
    s.zoom.incZoom();
    EXPECT_DOUBLE_EQ(ws.scale(), above / 100.0);
    EXPECT_FALSE(s.zoom.fitting());

    // The ends: 1 % stays 1 %, 400 % stays 400 %.
    for (int i = 0; i < 200; ++i)
        s.zoom.decZoom();
    EXPECT_DOUBLE_EQ(ws.scale(), 0.01);
    s.zoom.decZoom();
    EXPECT_DOUBLE_EQ(ws.scale(), 0.01);
    for (int i = 0; i < 200; ++i)
        s.zoom.incZoom();
    EXPECT_DOUBLE_EQ(ws.scale(), 4.0);
    s.zoom.incZoom();
    EXPECT_DOUBLE_EQ(ws.scale(), 4.0);

    // The wheel: one step per notch, the picture point under the pointer stays under it.
    s.zoom.set100();
    QApplication::processEvents();
    ASSERT_DOUBLE_EQ(ws.scale(), 1.0);
    ws.setScrollBars(150, 100);
    const QPointF pointer(137, 91);
    const QPointF under = ws.mapping().toPicture(pointer);
    QWheelEvent wheel(pointer, ws.area()->mapToGlobal(pointer), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(ws.area(), &wheel);
    EXPECT_DOUBLE_EQ(ws.scale(), 1.04);
    EXPECT_NEAR(ws.mapping().toPicture(pointer).x(), under.x(), 1.0);
    EXPECT_NEAR(ws.mapping().toPicture(pointer).y(), under.y(), 1.0);
    EXPECT_EQ(s.zoom.scale(), ws.scale()) << "the zoom widget shows the wheel's step";

    // Dragging moves the picture with the pointer.
    const int x0 = ws.mapping().offsetX, y0 = ws.mapping().offsetY;
    drag(ws.area(), QPointF(200, 200), QPointF(160, 170));
    EXPECT_EQ(ws.mapping().offsetX, x0 + 40);
    EXPECT_EQ(ws.mapping().offsetY, y0 + 30);

    // "Fit to workspace" again (the scroll bars go, and the fit follows the larger viewport).
    s.zoom.setFit();
    QApplication::processEvents();
    EXPECT_DOUBLE_EQ(ws.scale(), fit);
    EXPECT_EQ(ws.mapping().offsetX, 0);
}

TEST(workspace, overUnderMarksBackgroundAndDrops) {
    shownWorkspace s;
    mainWorkspace& ws = s.ws;
    QImage marks(4, 1, QImage::Format_RGB888);
    marks.setPixelColor(0, 0, QColor(253, 253, 253)); // m = 253
    marks.setPixelColor(1, 0, QColor(252, 253, 251)); // m = 252
    marks.setPixelColor(2, 0, QColor(1, 2, 3));       // m = 2
    marks.setPixelColor(3, 0, QColor(2, 3, 4));       // m = 3
    ws.showPicture(marks);
    s.zoom.set100();
    EXPECT_EQ(onScreen(ws, 0, 0), QColor(253, 253, 253));
    ws.setMarkOverUnder(true);
    EXPECT_EQ(onScreen(ws, 0, 0), QColor(255, 0, 0));
    EXPECT_EQ(onScreen(ws, 1, 0), QColor(252, 253, 251));
    EXPECT_EQ(onScreen(ws, 2, 0), QColor(0, 0, 255));
    EXPECT_EQ(onScreen(ws, 3, 0), QColor(2, 3, 4));

    // The background pair follows the toggle.
    ws.area()->repaint();
    const QColor corner = ws.area()->frame().pixelColor(0, 0);
    ws.toggleBackgroundColor();
    ws.area()->repaint();
    EXPECT_NE(ws.area()->frame().pixelColor(0, 0), corner);
    ws.toggleBackgroundColor();
    ws.area()->repaint();
    EXPECT_EQ(ws.area()->frame().pixelColor(0, 0), corner);

    // Local files dropped on the view are handed on in their order, anything else is refused.
    logCapture log;
    QList<QStringList> dropped;
    QObject::connect(&ws, &mainWorkspace::imagesDropped, [&dropped](QStringList f) { dropped << f; });
    dropOn(ws.area(), {QUrl::fromLocalFile("/photos/a b.jpg"), QUrl("https://example.com/c.jpg"),
                       QUrl::fromLocalFile("/photos/d.tif")});
    ASSERT_EQ(dropped.size(), 1);
    EXPECT_EQ(dropped[0], QStringList({"/photos/a b.jpg", "/photos/d.tif"}));
    EXPECT_TRUE(log.contains("Drag&drop: path_0=/photos/a b.jpg\nDrag&drop: path_1=/photos/d.tif\n"));
    dropOn(ws.area(), {QUrl("ftp://host/x.png")});
    EXPECT_EQ(dropped.size(), 1);
}

// ---- the window

struct windowFixture : ::testing::Test {
    void SetUp() override {
        abortRequested = false;
        programOptionsSettings::instance().newProjectShowFileOpen = false;
        programOptionsSettings::instance().newProjectAutoLDR = false;
        window = std::make_unique<mainWindow>(nullptr);
        ASSERT_FALSE(window->startupError());
        window->resize(1200, 800);
        window->show();
        dir = makeTempDir("workspace");
    }
    void TearDown() override {
        styledMessageBox::setUnattended(false);
        window->resultSaved = true;
        if (!window->shutdownDone()) window->close();
        window.reset();
        abortRequested = false;
    }
    QStringList makePhotos(int count, QSize size = QSize(240, 160)) {
        QStringList files;
        for (int i = 0; i < count; ++i) {
            files << dir + QString("/photo%1.png").arg(i, 2, 10, QChar('0'));
            codedPicture(size.width(), size.height(), i).save(files.back(), "PNG"); // lossless
        }
        return files;
    }
    bool load(const QStringList& files) {
        return window->addImages(files) && waitUntil([&] { return !window->loadingPhotos(); });
    }
    bool idle() {
        return waitUntil([&] { return window->menuBar()->isEnabled(); }, 120000);
    }
    QAction* action(const QString& text) { return menuAction(*window, text); }
    mainWorkspace* ws() { return window->workspace(); }
    QString label(const char* name) { return window->findChild<QLabel*>(name)->text(); }

    boxRecorder boxes; ///< photos without EXIF data are warned about; no box may wait for a user
    std::unique_ptr<mainWindow> window;
    QString dir;
};

TEST_F(windowFixture, choosingAPhotoShowsAndNamesItAndGenerateWaitsForPhotos) {
    // An empty project offers nothing to generate.
    EXPECT_FALSE(window->findChild<QPushButton*>("generateHdrButton")->isEnabled());
    EXPECT_FALSE(action("Generate HDR")->isEnabled());
    EXPECT_FALSE(action("Crop")->isEnabled());
    EXPECT_TRUE(window->findChild<QLabel*>("generateHint")->isVisible()) << "the page says what comes first";
    EXPECT_EQ(label("dimensionsLabel"), "none");

    // Dropped on the view, the photos load like chosen ones.
    const QStringList files = makePhotos(3);
    QList<QUrl> urls;
    for (const QString& f : files)
        urls << QUrl::fromLocalFile(f);
    dropOn(ws()->area(), urls);
    ASSERT_TRUE(waitUntil([&] { return !window->loadingPhotos() && window->project()->photos.size() == 3; }));
    EXPECT_TRUE(window->findChild<QPushButton*>("generateHdrButton")->isEnabled());
    EXPECT_FALSE(window->findChild<QLabel*>("generateHint")->isVisible());
    EXPECT_EQ(label("dimensionsLabel"), "240x160 [0.0 MPix]");
    EXPECT_EQ(window->shown(), mainWindow::shownPhoto);
    EXPECT_EQ(label("shownPictureLabel"), "Showing: photo00.png");

    auto* list = window->findChild<QListWidget*>("photoList");
    list->setCurrentRow(2);
    EXPECT_EQ(ws()->shownImage(), QImage(files[2]).convertToFormat(QImage::Format_RGB888));
    EXPECT_EQ(label("shownPictureLabel"), "Showing: photo02.png");

    // "Photo before processing" shows the chosen photo, not the first.
    ws()->clearPicture();
    action("Photo before processing")->trigger();
    EXPECT_EQ(ws()->shownImage(), QImage(files[2]).convertToFormat(QImage::Format_RGB888));
    EXPECT_EQ(window->shownPhotoId(), window->project()->photos[2]->id);

    // The read-out follows the pointer over the picture and resets beside it.
    auto* area = ws()->area();
    const QPointF on = ws()->mapping().toView(QPointF(10.5, 20.5));
    sendMouse(area, QEvent::MouseMove, on, Qt::NoButton);
    const QColor c = QImage(files[2]).pixelColor(10, 20);
    EXPECT_EQ(label("sampleReadout"),
              halvora::sampleReadout(
                  true, halvora::sampleOf(c.red() / 255.0, c.green() / 255.0, c.blue() / 255.0)));
    sendMouse(area, QEvent::MouseMove, QPointF(1, 1), Qt::NoButton);
    EXPECT_EQ(label("sampleReadout"), "[R:000%, G:000%, B:000%]");
}

TEST_F(windowFixture, cropAppliesToTheProjectAndEscLeavesItAlone) {
    const QStringList files = makePhotos(2);
    ASSERT_TRUE(load(files));
    QAction* crop = action("Crop");
    ASSERT_TRUE(crop->isEnabled());
    auto* area = ws()->area();

    // Esc leaves crop mode without changing anything.
    crop->trigger();
    ASSERT_EQ(area->currentMode(), mainImageArea::cropMode);
    drag(area, ws()->mapping().toView(QPointF(10, 10)), ws()->mapping().toView(QPointF(100, 100)));
    key(area, Qt::Key_Escape);
    EXPECT_EQ(area->currentMode(), mainImageArea::normalMode);
    EXPECT_FALSE(crop->isChecked());
    EXPECT_EQ(window->project()->width, 240);

    // Drag a rectangle, move it by dragging inside, confirm with Enter.
    crop->trigger();
    drag(area, ws()->mapping().toView(QPointF(10, 5)), ws()->mapping().toView(QPointF(190, 125)));
    drag(area, ws()->mapping().toView(QPointF(100, 60)), ws()->mapping().toView(QPointF(110, 65)));
    const halvora::cropRect r = area->crop();
    EXPECT_EQ(r.right - r.left, 180);
    EXPECT_EQ(r.bottom - r.top, 120);
    EXPECT_EQ(r.left, 20);
    EXPECT_EQ(r.top, 10);
    key(area, Qt::Key_Return);
    ASSERT_TRUE(idle());
    ASSERT_TRUE(waitUntil([&] { return window->project()->width == 180; }, 60000));

    processingProject* project = window->project();
    EXPECT_EQ(project->height, 120);
    EXPECT_TRUE(project->cropped);
    for (const auto& photo : project->photos)
        EXPECT_EQ(photo->tempFiles[0]->size(), 180 * 120 * 6);
    EXPECT_EQ(ws()->pictureWidth(), 180);
    EXPECT_EQ(label("dimensionsLabel"), "180x120 [0.0 MPix]");
    // The photo on show is the cropped one: its top left is the old (20, 10).
    const QImage shown = ws()->shownImage();
    ASSERT_EQ(shown.size(), QSize(180, 120));
    EXPECT_EQ(shown.pixelColor(0, 0), QImage(files[0]).pixelColor(20, 10));
    EXPECT_EQ(shown.pixelColor(179, 119), QImage(files[0]).pixelColor(199, 129));
    EXPECT_EQ(area->currentMode(), mainImageArea::normalMode);
}

TEST_F(windowFixture, samplingHandsTheShownColourToTheTools) {
    const QStringList files = makePhotos(2);
    ASSERT_TRUE(load(files));
    QList<std::tuple<int, int, rgbDouble_t>> samples;
    QObject::connect(window.get(), &mainWindow::sampleReady, [&samples](int mode, int src, rgbDouble_t v) {
        samples << std::make_tuple(mode, src, v);
    });
    auto* area = ws()->area();
    logCapture log;

    // Esc leaves sample mode without a sample.
    window->toggleSampleMode(2);
    key(area, Qt::Key_Escape);
    EXPECT_EQ(area->currentMode(), mainImageArea::normalMode);
    EXPECT_TRUE(samples.isEmpty());

    window->toggleSampleMode(3);
    ASSERT_EQ(area->currentMode(), mainImageArea::sampleMode);
    // A right click without an HDR picture has nothing to read: no sample, the mode stays.
    click(area, ws()->mapping().toView(QPointF(30.5, 40.5)), Qt::RightButton);
    EXPECT_TRUE(samples.isEmpty());
    click(area, ws()->mapping().toView(QPointF(30.5, 40.5)), Qt::LeftButton);
    ASSERT_EQ(samples.size(), 1);
    const auto [mode, src, v] = samples[0];
    const QColor c = QImage(files[0]).pixelColor(30, 40);
    EXPECT_EQ(mode, 3);
    EXPECT_EQ(src, 0);
    EXPECT_DOUBLE_EQ(v.r, c.red() / 255.0);
    EXPECT_DOUBLE_EQ(v.g, c.green() / 255.0);
    EXPECT_DOUBLE_EQ(v.b, c.blue() / 255.0);
    EXPECT_TRUE(log.contains("Sample taken, mode=3, src=0, value = "));
    EXPECT_EQ(area->currentMode(), mainImageArea::normalMode) << "one sample per eyedropper click";
}

TEST_F(windowFixture, rotateTurnsTheShownPhotoAndTheThumbnailsAtOnce) {
    const QStringList files = makePhotos(2);
    ASSERT_TRUE(load(files));
    const QImage original = QImage(files[0]).convertToFormat(QImage::Format_RGB888);
    ASSERT_EQ(ws()->shownImage(), original);
    const QSize thumbBefore = window->photoItemAt(0)->thumbnail().size();
    ASSERT_GT(thumbBefore.width(), thumbBefore.height());

    action("Rotate 90 (clockwise)")->trigger();
    ASSERT_TRUE(idle());
    ASSERT_TRUE(waitUntil([&] { return window->project()->width == 160; }));
    // Shown at once, turned: the old bottom-left corner is the new top-left one.
    const QImage shown = ws()->shownImage();
    ASSERT_EQ(shown.size(), QSize(160, 240));
    EXPECT_EQ(shown, original.transformed(QTransform().rotate(90)));
    EXPECT_EQ(shown.pixelColor(0, 0), original.pixelColor(0, 159));
    for (int row = 0; row < 2; ++row) {
        const QSize t = window->photoItemAt(row)->thumbnail().size();
        EXPECT_EQ(t, thumbBefore.transposed()) << row;
    }
    EXPECT_EQ(label("dimensionsLabel"), "160x240 [0.0 MPix]");
}

// An opened radiance file: tone-mapped and on the tone-mapping step without a click; a right click
// samples the radiance picture itself; a turn redraws the preview at once.
TEST_F(windowFixture, anOpenedRadianceFileIsToneMappedAndTurnedAtOnce) {
    HALVORA_REQUIRE_DATA();
    styledMessageBox::setUnattended(true); // the HDR load options dialog takes its stored choice
    ASSERT_TRUE(load({dataFile("radiance/polyhaven_hdri_1k/venice_sunset_1k.hdr")}));
    processingProject* project = window->project();
    ASSERT_TRUE(waitUntil([&] { return project->previewValid && window->menuBar()->isEnabled(); }, 120000));
    EXPECT_EQ(window->findChild<generateHDR*>(), nullptr) << "nothing to merge: no dialog to ask";
    EXPECT_TRUE(window->findChild<tonemappingGroup*>()->isEnabled());
    EXPECT_EQ(window->findChild<QTabWidget*>("rightTabs")->currentIndex(), 1);
    EXPECT_EQ(window->shown(), mainWindow::shownResult);
    EXPECT_EQ(label("shownPictureLabel"), "Showing: Result");
    const QImage result = ws()->shownImage();
    ASSERT_FALSE(result.isNull());
    int white = 0;
    for (int y = 0; y < result.height(); ++y)
        for (int x = 0; x < result.width(); ++x)
            white += qGray(result.pixel(x, y)) >= 250 ? 1 : 0;
    EXPECT_LT(white, result.width() * result.height() / 10) << "a tone-mapped picture, not a white sheet";
    EXPECT_LT(meanLevel(window->photoItemAt(0)->thumbnail()), 200.0)
        << "the thumbnail shows the tone-mapped look";
    EXPECT_GT(meanLevel(window->photoItemAt(0)->thumbnail()), 20.0);

    // At 100 % the result is rendered from the full-size level: the real pixels, not the preview
    // magnified; zoomed out again, the preview-sized level comes back.
    const int previewLevel = project->previewToneMapLevel();
    ASSERT_GT(previewLevel, 0);
    action("Original size")->trigger();
    ASSERT_TRUE(
        waitUntil([&] { return project->previewToneMapLevel() == 0 && ws()->shownImage().width() == 1024; }));
    EXPECT_EQ(ws()->shownImage().size(), QSize(1024, 512));
    EXPECT_DOUBLE_EQ(ws()->scale(), 1.0);
    action("Fit to workspace")->trigger();
    ASSERT_TRUE(waitUntil([&] { return project->previewToneMapLevel() == previewLevel; }));
    ASSERT_TRUE(waitUntil([&] { return ws()->shownImage().size() == result.size(); }));

    // Turned by 180°: the preview on show is the old one turned, without touching a slider.
    action("Rotate 180")->trigger();
    ASSERT_TRUE(waitUntil([&] { return window->menuBar()->isEnabled() && project->transformed; }, 120000));
    const QImage turned = ws()->shownImage();
    ASSERT_EQ(turned.size(), result.size());
    const QImage expected = result.transformed(QTransform().rotate(180));
    // The preview level is rebuilt from the turned picture; its 2 × 2 reduction is anchored at even
    // pixels, so the turned preview may sit one preview pixel off a perfect turn of the old one.
    auto difference = [&](const QImage& other, int dx, int dy) {
        double sum = 0, n = 0;
        for (int y = 2; y < turned.height() - 2; ++y)
            for (int x = 2; x < turned.width() - 2; ++x, ++n)
                sum += std::abs(qGray(turned.pixel(x, y)) - qGray(other.pixel(x + dx, y + dy)));
        return sum / n;
    };
    double best = 1e9;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            best = std::min(best, difference(expected, dx, dy));
    EXPECT_LT(best, 1.0) << "the turned preview";
    EXPECT_GT(difference(result, 0, 0), 10.0) << "not the picture before the turn";

    // A right click in sample mode reads the radiance picture at that pixel (of the turned picture;
    // last, because a black-point sample moves the black level).
    QList<rgbDouble_t> samples;
    QObject::connect(window.get(), &mainWindow::sampleReady, [&samples](int, int src, rgbDouble_t v) {
        if (src == 1) samples << v;
    });
    window->toggleSampleMode(1);
    click(ws()->area(), ws()->mapping().toView(QPointF(512.5, 300.5)), Qt::RightButton);
    ASSERT_EQ(samples.size(), 1);
    const float* px = project->rgbFloatBuffer() + (300 * 1024 + 512) * 3;
    EXPECT_DOUBLE_EQ(samples[0].r, px[0]);
    EXPECT_DOUBLE_EQ(samples[0].b, px[2]);
}

} // namespace
