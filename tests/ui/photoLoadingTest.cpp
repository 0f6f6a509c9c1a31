// The main window's add-images flow: preparation failures shown to the user, waves of load workers,
// the photo list, the progress total and the end of unattended runs.

#include "app/commandLineOptions.h"
#include "base/parallelFor.h"
#include "base/runContext.h"
#include "project/processingProject.h"
#include "support/testSupport.h"
#include "ui/imageItem.h"
#include "ui/mainWindow.h"
#include "ui/styledMessageBox.h"
#include "uiTestSupport.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace halvora::test;

namespace {

QImage pattern(int w, int h, int seed) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb((x + seed * 40) & 255, (y * 3) & 255, (x ^ y) & 255));
    return img;
}

QStringList makePhotos(const QString& dir, int count, QSize size = QSize(200, 150)) {
    QStringList files;
    for (int i = 0; i < count; ++i) {
        files << dir + QString("/photo%1.jpg").arg(i, 2, 10, QChar('0'));
        pattern(size.width(), size.height(), i).save(files.back(), "JPEG", 90);
    }
    return files;
}

// Lets queued worker reports arrive until the load ends; the bound only keeps a broken load from
// hanging the test program.
bool waitForLoad(mainWindow& window) {
    return halvora::test::waitUntil([&] { return !window.loadingPhotos(); }, 120000);
}

struct photoLoadingWindow : ::testing::Test {
    void SetUp() override {
        abortRequested = false;
        window = std::make_unique<mainWindow>(nullptr);
        ASSERT_FALSE(window->startupError());
        window->resultSaved = true;
        dir = makeTempDir("photos");
    }
    void TearDown() override {
        halvora::setThreadCountOverride(0);
        if (window && !window->shutdownDone()) window->close();
        window.reset();
        abortRequested = false;
    }
    QListWidget* photoList() const { return window->findChild<QListWidget*>("photoList"); }
    std::unique_ptr<mainWindow> window;
    QString dir;
};

} // namespace

TEST_F(photoLoadingWindow, PhotosLoadInWavesIntoTheListInTheirOrder) {
    halvora::setThreadCountOverride(3);
    const QStringList files = makePhotos(dir, 7);
    boxRecorder boxes;
    logCapture log;
    ASSERT_TRUE(window->addImages(files));
    // Each worker adds 2 × (w + h) twice: the total is (w + h) × files × 4.
    ASSERT_NE(window->progressRun(), nullptr);
    EXPECT_EQ(window->progressRun()->context().progressTotal(), uint64_t(200 + 150) * 7 * 4);
    EXPECT_FALSE(window->menuBar()->isEnabled()) << "no second action while loading";
    EXPECT_FALSE(window->addImages(files)) << "a second add while loading is refused";
    ASSERT_TRUE(waitForLoad(*window));

    // Three threads: waves of 3 and 4 (the last photo joins the second wave rather than load alone).
    const std::string text = log.text();
    size_t waves3 = 0;
    for (size_t at = text.find("Starting image load threads (n=3)\n"); at != std::string::npos;
         at = text.find("Starting image load threads (n=3)\n", at + 1))
        ++waves3;
    EXPECT_EQ(waves3, 1u);
    EXPECT_TRUE(log.contains("Starting image load threads (n=4)\n"));
    EXPECT_FALSE(log.contains("Starting image load threads (n=1)\n"));
    EXPECT_TRUE(log.contains("To display: " + QDir::toNativeSeparators(files[0]).toStdString() + "\n"));

    processingProject* project = window->project();
    ASSERT_EQ(project->photos.size(), 7u);
    ASSERT_EQ(photoList()->count(), 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(project->photos[size_t(i)]->fileName, QFileInfo(files[i]).absoluteFilePath());
        EXPECT_EQ(project->photos[size_t(i)]->id, i);
        const imageItem* item = window->photoItemAt(i);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->fileName(), QFileInfo(files[i]).absoluteFilePath());
        EXPECT_EQ(item->id(), i);
        EXPECT_TRUE(project->photos[size_t(i)]->tempFiles[0]);
    }
    // Photos without exposure data get even steps, and the user is told once.
    QCoreApplication::processEvents();
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_EQ(boxes.kinds[0], styledMessageBox::warning);
    EXPECT_TRUE(boxes.texts[0].startsWith("No complete EXIF data found in input photos."));
    EXPECT_TRUE(window->menuBar()->isEnabled());
    EXPECT_TRUE(window->logPanelHtml().contains("Loaded 7 of 7 photos."));
    EXPECT_EQ(window->findChild<QProgressBar*>("progressBar")->value(), 0)
        << "the bar is reset when the load ends";

    // A later action adds to the sequence; positions continue after the loaded photos.
    const QStringList more = makePhotos(makeTempDir("more"), 2);
    ASSERT_TRUE(window->addImages(more));
    ASSERT_TRUE(waitForLoad(*window));
    EXPECT_EQ(project->photos.size(), 9u);
    EXPECT_EQ(window->photoItemAt(8)->fileName(), QFileInfo(more[1]).absoluteFilePath());
}

TEST_F(photoLoadingWindow, AFailedPreparationLoadsNothingAndTellsTheUser) {
    QStringList files = makePhotos(dir, 2);
    const QString odd = dir + "/odd.jpg";
    pattern(120, 150, 9).save(odd, "JPEG");
    files.insert(1, odd);
    boxRecorder boxes;
    EXPECT_FALSE(window->addImages(files));
    EXPECT_FALSE(window->loadingPhotos());
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_EQ(boxes.kinds[0], styledMessageBox::error);
    // The file first, then what is wrong with it and by how much, then what became of the rest.
    EXPECT_TRUE(boxes.texts[0].startsWith(QDir::toNativeSeparators(odd) +
                                          ": Wrong image dimensions. All photos must be the same size. "
                                          "(this one is 120 × 150, the sequence "))
        << boxes.texts[0].toStdString();
    EXPECT_TRUE(boxes.texts[0].endsWith(
        "\n\nNo photo was added. Remove or replace this file and add the photos again."))
        << boxes.texts[0].toStdString();
    EXPECT_TRUE(window->logPanelHtml().contains(QDir::toNativeSeparators(odd).toHtmlEscaped()));
    EXPECT_TRUE(window->project()->photos.empty());
    EXPECT_EQ(photoList()->count(), 0);
    EXPECT_FALSE(window->findChild<QPushButton*>("generateHdrButton")->isEnabled());
}

TEST_F(photoLoadingWindow, AFileThatFailsToLoadIsReportedAndTheOthersStay) {
    QStringList files = makePhotos(dir, 3);
    QFile in(files[1]);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    in.close();
    QFile out(files[1]);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(bytes.left(bytes.size() / 2)); // header intact, pixels cut off
    out.close();

    boxRecorder boxes;
    ASSERT_TRUE(window->addImages(files));
    ASSERT_TRUE(waitForLoad(*window));
    processingProject* project = window->project();
    ASSERT_EQ(project->photos.size(), 2u);
    EXPECT_EQ(project->photos[0]->fileName, QFileInfo(files[0]).absoluteFilePath());
    EXPECT_EQ(project->photos[1]->fileName, QFileInfo(files[2]).absoluteFilePath());
    EXPECT_EQ(photoList()->count(), 2);
    const QString line =
        QDir::toNativeSeparators(QFileInfo(files[1]).absoluteFilePath()) + ": damaged picture data";
    EXPECT_TRUE(window->logPanelHtml().contains(line));
    QCoreApplication::processEvents();
    ASSERT_GE(boxes.texts.size(), 1);
    EXPECT_EQ(boxes.kinds[0], styledMessageBox::error);
    EXPECT_TRUE(boxes.texts[0].contains(line));
    EXPECT_TRUE(window->logPanelHtml().contains("Loaded 2 of 3 photos."));
}

// The road of an automatic run: the window loads the command line's photos by itself.
int runUnattended(const QStringList& photos, QString* log = nullptr) {
    commandLineOptions& options = commandLineOptions::current();
    const commandLineOptions saved = options;
    options.autoProcess = true;
    options.inputPhotos = photos;
    abortRequested = false;
    auto window = std::make_unique<mainWindow>(nullptr);
    EXPECT_TRUE(waitUntil([&] { return window->shutdownDone(); }, 120000))
        << "an unattended run must end by itself";
    if (log) *log = window->logPanelHtml();
    options = saved;
    const int code = window->failureExitCode();
    window.reset();
    abortRequested = false;
    return code;
}

TEST(photoLoadingUnattended, FailuresEndTheRunWithAnErrorAndNeverHang) {
    const QString dir = makeTempDir("auto");
    QStringList files = makePhotos(dir, 2);
    QFile good(files[0]);
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    const QByteArray bytes = good.readAll();

    // A file that cannot even be prepared.
    const QString unreadable = dir + "/unreadable.jpg";
    {
        QFile f(unreadable);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("\xff\xd8\xff", 3));
    }
    boxRecorder boxes;
    QString log;
    EXPECT_EQ(runUnattended({files[0], unreadable}, &log), 1);
    // The reader's own reason, once, after the file's name.
    EXPECT_TRUE(log.contains(QDir::toNativeSeparators(unreadable) + ": has no readable picture size"))
        << log.toStdString();
    EXPECT_EQ(log.count(QDir::toNativeSeparators(unreadable)), 1) << log.toStdString();
    EXPECT_TRUE(boxes.texts.isEmpty()) << "an unattended run shows no box";

    // A file whose header reads but whose data is cut off fails while loading.
    const QString cut = dir + "/cut.jpg";
    {
        QFile f(cut);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes.left(bytes.size() / 2));
    }
    EXPECT_EQ(runUnattended({files[0], cut}, &log), 1);
    EXPECT_TRUE(log.contains("Failed to load 1 of 2 photos.")) << log.toStdString();
    EXPECT_TRUE(boxes.texts.isEmpty());
}
