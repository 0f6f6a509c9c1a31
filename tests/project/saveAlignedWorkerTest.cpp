// Aligned photos: one file per photo with prefix, suffix and a counter instead of overwriting; a photo
// whose temporary data is missing is skipped without stopping the others.

#include "project/saveAlignedWorker.h"
#include "project/processingProject.h"
#include "support/testSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <gtest/gtest.h>
#include <vector>

TEST(saveAlignedWorker, WritesEveryPhotoWithUniqueNames) {
    const QString base = halvora::test::makeTempDir("alignedProject");
    processingProject project(nullptr, base);
    ASSERT_FALSE(project.createFailed);
    const int w = 24, h = 16;
    ASSERT_TRUE(project.setImageSize(w, h));
    const char* names[3] = {"/photos/IMG_1.JPG", "/photos/IMG_2.JPG", "/photos/IMG_3.JPG"};
    for (int i = 0; i < 3; ++i) {
        auto photo = std::make_unique<photoEntry>();
        photo->id = project.photoIdCounter++;
        photo->fileName = names[i];
        std::vector<uint16_t> px(size_t(w) * h * 3, uint16_t(128 * (40 + 80 * i))); // grey 40, 120, 200
        if (i != 1) { // the second photo has lost its aligned pixels
            ASSERT_TRUE(project.writeToTempFile(*photo, photoEntry::slotCurrent, px.data(), px.size() * 2));
        }
        project.photos.push_back(std::move(photo));
    }
    const QString out = halvora::test::makeTempDir("alignedOut");
    {
        QFile existing(out + "/al_IMG_1_x.jpg");
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write("keep");
    }
    saveAlignedOptions_t o;
    o.prefix = "al_";
    o.suffix = "_x";
    o.folder = out;
    saveAlignedWorker worker(&project, o);
    int finished = 0;
    QObject::connect(&worker, &saveAlignedWorker::finished, [&] { ++finished; });
    halvora::test::logCapture log;
    worker.doSaveAligned();
    EXPECT_EQ(finished, 1);
    EXPECT_FALSE(worker.success);
    ASSERT_EQ(worker.savedFiles.size(), 3u);
    EXPECT_EQ(worker.savedFiles[0], out + "/al_IMG_1_x_1.jpg");
    EXPECT_TRUE(worker.savedFiles[1].isEmpty());
    EXPECT_EQ(worker.savedFiles[2], out + "/al_IMG_3_x.jpg");
    EXPECT_TRUE(log.contains("Saving aligned photos...\n"));
    EXPECT_TRUE(log.contains("processingProject::readFromTempFile: file not open\n"));
    QFile kept(out + "/al_IMG_1_x.jpg");
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("keep"));
    const QImage first(worker.savedFiles[0]), third(worker.savedFiles[2]);
    ASSERT_EQ(first.size(), QSize(w, h));
    EXPECT_NEAR(qGray(first.pixel(5, 5)), 40, 1);
    EXPECT_NEAR(qGray(third.pixel(5, 5)), 200, 1);
    EXPECT_FALSE(QFileInfo::exists(out + "/al_IMG_2_x.jpg"));

    // TIFF with all photos readable.
    project.photos.erase(project.photos.begin() + 1);
    o.format = 1;
    o.tiffBitDepth = 2;
    saveAlignedWorker tiffWorker(&project, o);
    tiffWorker.doSaveAligned();
    EXPECT_TRUE(tiffWorker.success);
    EXPECT_EQ(tiffWorker.savedFiles,
              (std::vector<QString>{out + "/al_IMG_1_x.tif", out + "/al_IMG_3_x.tif"}));
}
