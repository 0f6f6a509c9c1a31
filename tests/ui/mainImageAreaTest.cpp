// The picture view: fitting with the aspect ratio kept, drawing on the dark background, and file drops.

#include "ui/mainImageArea.h"
#include "base/runContext.h"
#include "project/processingProject.h"
#include "support/testSupport.h"
#include "ui/mainWindow.h"
#include "ui/styledMainWindow.h"

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QMenuBar>
#include <QMimeData>
#include <QThread>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

QImage flat(int w, int h, QColor c) {
    QImage img(w, h, QImage::Format_RGB888);
    img.fill(c);
    return img;
}

TEST(mainImageArea, fitsThePictureKeepingItsAspectRatio) {
    mainImageArea area;
    area.setMinimumSize(0, 0);
    area.resize(400, 300);
    EXPECT_TRUE(area.imageRect().isNull()) << "nothing shown yet";

    area.setImage(flat(200, 50, Qt::red)); // 4 : 1, wider than the view
    EXPECT_EQ(area.imageRect(), QRect(0, 100, 400, 100));
    QImage shot = area.grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(200, 150)), QColor(Qt::red));
    EXPECT_EQ(QColor(shot.pixel(200, 20)), mainImageArea::backgroundColor());
    EXPECT_EQ(QColor(shot.pixel(200, 250)), mainImageArea::backgroundColor());

    area.setImage(flat(60, 120, Qt::green)); // 1 : 2, taller than the view
    EXPECT_EQ(area.imageRect(), QRect(125, 0, 150, 300));
    area.resize(100, 500);
    EXPECT_EQ(area.imageRect(), QRect(0, 150, 100, 200));
    shot = area.grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(50, 250)), QColor(Qt::green));
    EXPECT_EQ(QColor(shot.pixel(50, 100)), mainImageArea::backgroundColor());

    // A sharp edge stays where the fitted geometry puts it (smooth scaling blurs it by a pixel at most).
    QImage halves = flat(100, 100, Qt::black);
    for (int y = 0; y < 100; ++y)
        for (int x = 50; x < 100; ++x)
            halves.setPixelColor(x, y, Qt::white);
    area.resize(300, 200);
    area.setImage(halves);
    EXPECT_EQ(area.imageRect(), QRect(50, 0, 200, 200));
    shot = area.grab().toImage();
    EXPECT_LT(qGray(shot.pixel(140, 100)), 20);
    EXPECT_GT(qGray(shot.pixel(160, 100)), 235);

    area.setImage(QImage());
    EXPECT_TRUE(area.imageRect().isNull());
}

struct dropResult {
    bool accepted = false;
    QList<QStringList> emitted;
};

dropResult drop(mainImageArea& area, const QList<QUrl>& urls) {
    dropResult r;
    QMetaObject::Connection c =
        QObject::connect(&area, &mainImageArea::imagesDropped, [&r](QStringList f) { r.emitted << f; });
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&area, &enter);
    QDropEvent event(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&area, &event);
    r.accepted = enter.isAccepted() && event.isAccepted();
    QObject::disconnect(c);
    return r;
}

TEST(mainImageArea, dropsHandOnLocalFilesOnly) {
    mainImageArea area;
    area.resize(200, 200);
    halvora::test::logCapture log;

    const dropResult files =
        drop(area, {QUrl::fromLocalFile("/photos/a b.jpg"), QUrl("https://example.com/c.jpg"),
                    QUrl::fromLocalFile("/photos/d.tif")});
    EXPECT_TRUE(files.accepted);
    ASSERT_EQ(files.emitted.size(), 1);
    EXPECT_EQ(files.emitted[0], QStringList({"/photos/a b.jpg", "/photos/d.tif"}));
    EXPECT_TRUE(log.contains("Drag&drop: path_0=/photos/a b.jpg\nDrag&drop: path_1=/photos/d.tif\n"));

    const dropResult web = drop(area, {QUrl("https://example.com/c.jpg"), QUrl("ftp://host/x.png")});
    EXPECT_FALSE(web.accepted);
    EXPECT_TRUE(web.emitted.isEmpty());

    const dropResult none = drop(area, {});
    EXPECT_FALSE(none.accepted);
    EXPECT_TRUE(none.emitted.isEmpty());
}

// A drop on the window's view loads the photos; "Photo before processing" then shows the first one.
TEST(mainImageArea, windowLoadsDroppedPhotosAndShowsTheFirstBeforeProcessing) {
    abortRequested = false;
    styledMainWindow frame;
    auto* w = new mainWindow(&frame);
    frame.setMainWindow(w);
    auto* view = w->findChild<mainImageArea*>("pictureView");
    ASSERT_NE(view, nullptr);

    QImage photo(120, 80, QImage::Format_RGB32);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 120; ++x)
            photo.setPixel(x, y, qRgb(x * 2, y * 3, 200 - x));
    const QString file = halvora::test::makeTempDir("dropped") + "/one.png";
    ASSERT_TRUE(photo.save(file, "PNG")); // lossless: the shown samples are known exactly
    ASSERT_TRUE(drop(*view, {QUrl::fromLocalFile(file)}).accepted);

    QElapsedTimer guard;
    guard.start();
    while ((w->loadingPhotos() || w->project()->photos.empty()) && guard.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    ASSERT_EQ(w->project()->photos.size(), 1u);
    ASSERT_FALSE(w->loadingPhotos());

    QAction* before = nullptr;
    for (QAction* a : w->menuBar()->findChildren<QAction*>())
        if (a->text() == "Photo before processing") before = a;
    ASSERT_NE(before, nullptr);
    EXPECT_TRUE(before->isEnabled());
    view->setImage(QImage());
    before->trigger();
    const QImage shown = view->image().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), photo.size());
    for (const QPoint p : {QPoint(0, 0), QPoint(57, 33), QPoint(119, 79)})
        EXPECT_EQ(shown.pixel(p), photo.pixel(p)) << p.x() << "," << p.y();

    w->resultSaved = true;
    frame.close();
}

} // namespace
