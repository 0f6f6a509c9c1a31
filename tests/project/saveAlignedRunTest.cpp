// "Save aligned photos" end to end without the window: every photo written, then each source photo's
// EXIF copied into its aligned file by the real metadata tool and read back with exiftool itself; a
// source the tool cannot read fails the transfer but never the files.

#include "project/saveAlignedRun.h"
#include "imageio/exiftoolDaemon.h"
#include "project/hdrTestSupport.h"
#include "project/processingProject.h"
#include "support/testSupport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

using namespace halvora::test;

namespace {

// Camera, exposure and the comment of `file` as exiftool itself prints them ("-" for a missing tag).
QStringList tagsOf(const QString& file) {
    QProcess tool;
    tool.start("exiftool", {"-s3", "-f", "-Model", "-ExposureTime", "-FNumber", "-ISO", "-Comment",
                            "-XResolution", file});
    if (!tool.waitForFinished(30000)) return {};
    return QString::fromUtf8(tool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// A project of w × h photos named `sources`, each photo a flat grey of its own.
std::unique_ptr<processingProject> projectOf(const QStringList& sources, int w, int h) {
    auto project = std::make_unique<processingProject>(nullptr, makeTempDir("alignedExifProject"));
    EXPECT_TRUE(project->setImageSize(w, h));
    for (int i = 0; i < sources.size(); ++i) {
        auto photo = std::make_unique<photoEntry>();
        photo->id = project->photoIdCounter++;
        photo->fileName = sources[i];
        std::vector<uint16_t> px(size_t(w) * size_t(h) * 3, uint16_t(128 * (60 + 70 * i)));
        EXPECT_TRUE(project->writeToTempFile(*photo, photoEntry::slotCurrent, px.data(), px.size() * 2));
        project->photos.push_back(std::move(photo));
    }
    project->aligned = true;
    return project;
}

} // namespace

TEST(saveAlignedRun, everyAlignedFileCarriesItsOwnSourcePhotosExif) {
    HALVORA_REQUIRE_DATA();
    if (QStandardPaths::findExecutable("exiftool").isEmpty()) GTEST_SKIP() << "exiftool is not installed";
    const QString dir = dataFile("brackets/mysore_palace_fuji_xt1_7exp");
    const QStringList sources = {dir + "/AJAZ0816.jpg", dir + "/AJAZ0821.jpg"};
    auto project = projectOf(sources, 48, 32);
    exiftoolDaemon::settings_t s;
    s.scratchDirectory = makeTempDir("alignedExifScratch");
    exiftoolDaemon tool(s);
    ASSERT_TRUE(tool.waitForStartupCheck(30000));
    project->metadataTool = &tool;

    const QString out = makeTempDir("alignedExifOut");
    saveAlignedOptions_t o;
    o.suffix = "_aligned";
    o.folder = out;
    o.dpi = 240;
    saveAlignedRun run(*project, runSettings());
    bool ended = false, ok = false;
    QObject::connect(&run, &projectRun::finished, [&](bool r, const QString&) {
        ended = true;
        ok = r;
    });
    ASSERT_TRUE(run.start(o));
    ASSERT_TRUE(hdrtest::waitForRun(run));
    ASSERT_TRUE(ended);
    EXPECT_TRUE(ok);
    ASSERT_EQ(run.savedFiles(),
              (std::vector<QString>{out + "/AJAZ0816_aligned.jpg", out + "/AJAZ0821_aligned.jpg"}));
    EXPECT_EQ(run.exifTransfer(), metadataTransfer_t::done) << run.exifTransferError().toStdString();

    for (int i = 0; i < 2; ++i) {
        const QStringList source = tagsOf(sources[i]), aligned = tagsOf(run.savedFiles()[size_t(i)]);
        ASSERT_EQ(source.size(), 6) << source.join("|").toStdString();
        ASSERT_EQ(aligned.size(), 6) << aligned.join("|").toStdString();
        // Camera and exposure are the source photo's own (the two differ in exposure time).
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(aligned[k], source[k]) << "photo " << i << " tag " << k;
        EXPECT_TRUE(aligned[4].startsWith("Image aligned with Halvora")) << aligned[4].toStdString();
        EXPECT_EQ(aligned[5], "240"); // the pixels written: saveAlignedWorker.WritesEveryPhotoWithUniqueNames
    }
    EXPECT_NE(tagsOf(run.savedFiles()[0])[1], tagsOf(run.savedFiles()[1])[1]);
}

TEST(saveAlignedRun, aSourceTheToolCannotReadFailsTheTransferButKeepsEveryFile) {
    HALVORA_REQUIRE_DATA();
    if (QStandardPaths::findExecutable("exiftool").isEmpty()) GTEST_SKIP() << "exiftool is not installed";
    const QString dir = dataFile("brackets/mysore_palace_fuji_xt1_7exp");
    const QString gone = makeTempDir("alignedExifGone") + "/vanished.jpg"; // moved away since loading
    auto project = projectOf({dir + "/AJAZ0816.jpg", gone}, 40, 30);
    exiftoolDaemon::settings_t s;
    s.scratchDirectory = makeTempDir("alignedExifScratch2");
    exiftoolDaemon tool(s);
    ASSERT_TRUE(tool.waitForStartupCheck(30000));
    project->metadataTool = &tool;
    saveAlignedOptions_t o;
    o.prefix = "a_";
    o.folder = makeTempDir("alignedExifOut2");
    o.format = 1;
    saveAlignedRun run(*project, runSettings());
    ASSERT_TRUE(run.start(o));
    ASSERT_TRUE(hdrtest::waitForRun(run));
    ASSERT_EQ(run.savedFiles().size(), 2u);
    EXPECT_TRUE(QFileInfo(run.savedFiles()[0]).isFile());
    EXPECT_TRUE(QFileInfo(run.savedFiles()[1]).isFile());
    EXPECT_TRUE(run.savedFiles()[1].endsWith("/a_vanished.tif"));
    EXPECT_EQ(run.exifTransfer(), metadataTransfer_t::failed);
    EXPECT_FALSE(run.exifTransferError().isEmpty());
    // The readable source's EXIF still went into its file.
    EXPECT_NE(tagsOf(run.savedFiles()[0]).value(0), "-");

    // Without a metadata tool nothing is transferred, and that is not a failure of the files.
    project->metadataTool = nullptr;
    saveAlignedRun second(*project, runSettings());
    ASSERT_TRUE(second.start(o));
    ASSERT_TRUE(hdrtest::waitForRun(second));
    EXPECT_EQ(second.exifTransfer(), metadataTransfer_t::unavailable);
    EXPECT_TRUE(second.savedFiles()[0].endsWith("/a_AJAZ0816_1.tif"));
}
