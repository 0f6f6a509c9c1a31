#include "project/processingProject.h"
#include "base/runContext.h"
#include "project/sessionCleaner.h"
#include "support/testSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <numeric>

namespace {

std::unique_ptr<processingProject> newProject(QString* base = nullptr) {
    const QString dir = halvora::test::makeTempDir("project");
    if (base) *base = dir;
    auto p = std::make_unique<processingProject>(nullptr, dir);
    EXPECT_FALSE(p->createFailed);
    return p;
}

// A photo with a distinct, position-encoding picture in slot 0.
photoEntry& addPhoto(processingProject& project, int seed) {
    auto photo = std::make_unique<photoEntry>();
    photo->id = project.photoIdCounter++;
    photo->included = true;
    photo->preview.allocate(project.previewWidth, project.previewHeight);
    photo->previewPlane =
        halvora::allocateBlock<uint8_t>(size_t(project.previewWidth) * project.previewHeight);
    std::vector<uint16_t> pixels(size_t(project.width) * project.height * 3);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint16_t((i * 7 + seed * 131) % 32641);
    EXPECT_TRUE(project.writeToTempFile(*photo, 0, pixels.data(), pixels.size() * 2));
    project.photos.push_back(std::move(photo));
    return *project.photos.back();
}

TEST(processingProject, sessionDirectoryLifecycle) {
    QString base;
    QString session;
    {
        auto p = newProject(&base);
        session = p->sessionDir;
        EXPECT_TRUE(QFileInfo(p->sessionName).fileName().startsWith("~halvoratmp"));
        EXPECT_EQ(session, base + "/" + p->sessionName + "/");
        EXPECT_TRUE(QDir(session).exists());
    }
    EXPECT_FALSE(QDir(session).exists()) << "destruction removes the session directory";
}

TEST(processingProject, missingTemporaryDirectoryFailsCleanly) {
    halvora::test::logCapture log;
    processingProject p(nullptr, halvora::test::scratchRoot() + "/does/not/exist");
    EXPECT_TRUE(p.createFailed);
    EXPECT_TRUE(log.contains("processingProject::processingProject: Failed to create session dir: '"));
}

TEST(processingProject, sizingRules) {
    EXPECT_EQ(processingProject::previewDivisorFor(4000, 3000), 5);
    EXPECT_EQ(processingProject::previewDivisorFor(999, 500), 1);
    EXPECT_EQ(processingProject::previewDivisorFor(1000, 10), 2);
    EXPECT_EQ(processingProject::pyramidLevelsFor(4000, 10), 4);
    EXPECT_EQ(processingProject::pyramidLevelsFor(600, 600), 1);
    EXPECT_EQ(processingProject::pyramidLevelsFor(602, 1), 2);
    EXPECT_EQ(processingProject::pyramidLevelsFor(1 << 20, 1), 12);
    EXPECT_EQ(processingProject::previewZoomLevelsFor(800, 600), 4); // 600 → 300 → 150 → 75 → 37
    EXPECT_EQ(processingProject::previewZoomLevelsFor(64, 500), 0);

    auto p = newProject();
    halvora::test::logCapture log;
    ASSERT_TRUE(p->setImageSize(4000, 3000));
    EXPECT_EQ(p->previewDivisor, 5);
    EXPECT_EQ(p->previewWidth, 800);
    EXPECT_EQ(p->previewHeight, 600);
    EXPECT_TRUE(log.contains("levelCnt=4\n"));
    EXPECT_EQ(p->hdrImage.levelCount(), 4);
    EXPECT_EQ(p->hdrImage.width(3), 500);
    EXPECT_EQ(p->maskPlane.channels(), 1);
    EXPECT_EQ(p->resultImage.bytesPerSample(), 2);
    for (auto& block : p->workBlocks)
        EXPECT_NE(block, nullptr);

    ASSERT_TRUE(p->setImageSize(1001, 7));
    EXPECT_EQ(p->previewWidth, 501); // ceil(1001 / 2)
    EXPECT_EQ(p->previewHeight, 4);
    EXPECT_FALSE(p->setImageSize(0, 10));
    EXPECT_FALSE(p->setImageSize(-5, 10));
}

TEST(processingProject, temporaryFileRecords) {
    auto p = newProject();
    ASSERT_TRUE(p->setImageSize(37, 21));
    photoEntry& photo = addPhoto(*p, 1);
    ASSERT_TRUE(photo.tempFiles[0]);
    EXPECT_EQ(photo.tempFiles[0]->size(), qint64(37 * 21 * 6)) << "exactly width × height × 6 bytes";
    EXPECT_TRUE(photo.tempFiles[0]->fileName().startsWith(p->sessionDir));

    std::vector<uint16_t> back(37 * 21 * 3);
    ASSERT_TRUE(p->readFromTempFile(photo, 0, back.data(), back.size() * 2));
    for (size_t i = 0; i < back.size(); ++i)
        ASSERT_EQ(back[i], uint16_t((i * 7 + 131) % 32641));

    halvora::test::logCapture log;
    EXPECT_FALSE(p->writeToTempFile(photo, 0, back.data(), back.size() * 2));
    EXPECT_TRUE(log.contains("processingProject::writeToTempFile: temp file already used (sel=0)\n"));
    EXPECT_FALSE(p->readFromTempFile(photo, 2, back.data(), back.size() * 2));
    EXPECT_TRUE(log.contains("processingProject::readFromTempFile: file not open\n"));
    // A read longer than the record is a short read, not a success.
    std::vector<uint16_t> tooBig(back.size() + 3);
    EXPECT_FALSE(p->readFromTempFile(photo, 0, tooBig.data(), tooBig.size() * 2));
    EXPECT_TRUE(log.contains("read() failed (size="));
    EXPECT_FALSE(p->writeToTempFile(photo, 4, back.data(), 10)) << "unknown slot";

    const QString file = photo.tempFiles[0]->fileName();
    photo.tempFiles[0].reset();
    EXPECT_FALSE(QFile::exists(file)) << "a released record deletes its file";
}

TEST(processingProject, removeAndLookUpPhotos) {
    auto p = newProject();
    ASSERT_TRUE(p->setImageSize(8, 6));
    addPhoto(*p, 1);
    photoEntry& second = addPhoto(*p, 2);
    const QString file = second.tempFiles[0]->fileName();
    EXPECT_EQ(p->getImageInfoIdx(1), 1);

    halvora::test::logCapture log;
    EXPECT_EQ(p->getImageInfoIdx(77), -1);
    EXPECT_TRUE(log.contains("processingProject::getImageInfoIdx: Id = 77 not found\n"));
    EXPECT_FALSE(p->removePhoto(77));
    EXPECT_TRUE(log.contains("processingProject::removePhoto: Id = 77 not found\n"));
    EXPECT_EQ(p->photos.size(), 2u);

    EXPECT_TRUE(p->removePhoto(1));
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_EQ(p->photos.size(), 1u);
    EXPECT_EQ(p->photoIdCounter, 2) << "ids are never reused";
    EXPECT_EQ(p->width, 8) << "sizes are not changed by a removal";
}

TEST(processingProject, cleanupEmptiesTheSessionButKeepsIt) {
    auto p = newProject();
    ASSERT_TRUE(p->setImageSize(8, 6));
    addPhoto(*p, 1);
    QFile stray(p->sessionDir + "~profile0.icc");
    ASSERT_TRUE(stray.open(QIODevice::WriteOnly));
    stray.close();
    p->cleanup();
    EXPECT_TRUE(p->photos.empty());
    EXPECT_EQ(p->width, 0);
    EXPECT_FALSE(p->hdrImage.allocated());
    EXPECT_TRUE(QDir(p->sessionDir).exists());
    EXPECT_EQ(QDir(p->sessionDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{halvora::kSessionOwnerFile})
        << "only the record of the session's owner stays";
}

// The transform rewrites every photo's record with the turned picture and swaps the size.
TEST(processingProject, transformTurnsEveryPhotoAndItsRecord) {
    auto p = newProject();
    const int w = 33, h = 20;
    ASSERT_TRUE(p->setImageSize(w, h));
    photoEntry& photo = addPhoto(*p, 3);
    std::vector<uint16_t> before(size_t(w) * h * 3);
    ASSERT_TRUE(p->readFromTempFile(photo, 0, before.data(), before.size() * 2));
    ASSERT_TRUE(p->writeToTempFile(photo, 2, before.data(), before.size() * 2)); // an alignment undo

    ASSERT_TRUE(p->transformImage(halvora::turnClockwise, {}));
    EXPECT_EQ(p->width, h);
    EXPECT_EQ(p->height, w);
    EXPECT_TRUE(p->transformed);
    EXPECT_FALSE(p->cropped);
    EXPECT_FALSE(photo.tempFiles[2]) << "a transform ends the alignment undo";
    ASSERT_TRUE(photo.tempFiles[0]);
    EXPECT_EQ(photo.tempFiles[0]->size(), qint64(w * h * 6));
    std::vector<uint16_t> after(before.size());
    ASSERT_TRUE(p->readFromTempFile(photo, 0, after.data(), after.size() * 2));
    // Clockwise (every mode's geometry: imageTransform tests): the new top-left is the old bottom-left.
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(after[size_t(c)], before[size_t(h - 1) * w * 3 + size_t(c)]);
    EXPECT_EQ(photo.preview.width, p->previewWidth);
    EXPECT_FALSE(photo.thumbnail.isNull());

    ASSERT_TRUE(p->transformImage(halvora::cropToRect, {2, 3, 12, 30}));
    EXPECT_EQ(p->width, 10);
    EXPECT_EQ(p->height, 27);
    EXPECT_TRUE(p->cropped);
    EXPECT_EQ(photo.tempFiles[0]->size(), qint64(10 * 27 * 6));
}

TEST(processingProject, transformRefusesRectanglesOutsideThePicture) {
    auto p = newProject();
    ASSERT_TRUE(p->setImageSize(30, 20));
    addPhoto(*p, 1);
    halvora::test::logCapture log;
    EXPECT_FALSE(p->transformImage(halvora::cropToRect, {10, 5, 31, 20}));
    EXPECT_FALSE(p->transformImage(halvora::cropToRect, {-1, 0, 10, 10}));
    EXPECT_FALSE(p->transformImage(halvora::cropToRect, {5, 5, 5, 10}));
    EXPECT_FALSE(p->transformImage(9, {}));
    EXPECT_EQ(p->width, 30);
    EXPECT_FALSE(p->transformed);
    EXPECT_TRUE(log.contains("processingProject::transformImage: invalid transform"));
}

TEST(processingProject, transformOfTheRadiancePicture) {
    auto p = newProject();
    const int w = 9, h = 5;
    ASSERT_TRUE(p->setImageSize(w, h));
    p->hdrPresent = true;
    float* hdr = p->rgbFloatBuffer();
    for (int i = 0; i < w * h * 3; ++i)
        hdr[i] = float(i);
    uint16_t* plane = p->maskPlane.data<uint16_t>();
    for (int i = 0; i < w * h; ++i)
        plane[i] = uint16_t(i);
    ASSERT_TRUE(p->transformImage(halvora::turn180, {}));
    for (int i = 0; i < w * h; ++i) {
        const int src = w * h - 1 - i;
        for (int c = 0; c < 3; ++c)
            ASSERT_EQ(p->rgbFloatBuffer()[i * 3 + c], float(src * 3 + c));
        ASSERT_EQ(p->maskPlane.data<uint16_t>()[i], src);
    }
}

} // namespace
