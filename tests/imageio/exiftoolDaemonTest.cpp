// The stay-open metadata tool: the real exiftool reading and writing real files, and stand-in tools
// that stay silent, answer late or are missing, to drive the start-up check, time-outs and the lock.

#include "imageio/exiftoolDaemon.h"
#include "imageio/imageFormat.h"
#include "support/testSupport.h"

#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <atomic>
#include <gtest/gtest.h>
#include <map>
#include <thread>
#include <vector>

using halvora::test::dataFile;
using halvora::test::logCapture;
using halvora::test::makeTempDir;

namespace {

// Echoes each command's arguments as "arg: <argument>" before its "{readyN}"; "-slow" answers after
// 0.6 s. "-stay_open False" ends it.
const char* kEchoTool = R"(#!/bin/bash
args=()
while IFS= read -r line; do
  case "$line" in
    -execute*)
      for a in "${args[@]}"; do
        [ "$a" = False ] && exit 0
        [ "$a" = -slow ] && sleep 0.6
      done
      for a in "${args[@]}"; do echo "arg: $a"; done
      echo "{ready${line#-execute}}"
      args=() ;;
    *) args+=("$line") ;;
  esac
done
)";

// Reads its commands and never answers.
const char* kSilentTool = R"(#!/bin/bash
while IFS= read -r line; do [ "$line" = False ] && exit 0; done
)";

QString writeTool(const QString& dir, const char* script) {
    const QString path = QDir(dir).filePath("exiftool");
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(script);
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

exiftoolDaemon::settings_t quick(const QString& tool) {
    exiftoolDaemon::settings_t s;
    s.toolPath = tool;
    s.scratchDirectory = makeTempDir("scratch") + "/";
    s.startCheckIntervalMs = 100;
    return s;
}

// Tag → value as the real tool lists them ("-S": "Tag: value").
std::map<QString, QString> readBack(const QString& file, const QStringList& tags) {
    QProcess p;
    QStringList args{"-S"};
    for (const QString& t : tags)
        args << "-" + t;
    p.start("exiftool", args << file);
    p.waitForFinished(30000);
    std::map<QString, QString> values;
    for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)) {
        const qsizetype colon = line.indexOf(": ");
        if (colon > 0) values[line.left(colon)] = line.mid(colon + 2).trimmed();
    }
    return values;
}

#define REQUIRE_EXIFTOOL()                                                                                   \
    do {                                                                                                     \
        if (QStandardPaths::findExecutable("exiftool").isEmpty())                                            \
            GTEST_SKIP() << "exiftool is not installed (Debian package libimage-exiftool-perl)";             \
    } while (0)

} // namespace

TEST(exiftoolDaemon, realToolQueriesAndWritesResults) {
    HALVORA_REQUIRE_DATA();
    REQUIRE_EXIFTOOL();
    exiftoolDaemon daemon(quick(QString()));
    ASSERT_TRUE(daemon.waitForStartupCheck(30000));

    exiftoolTags tags;
    QString error;
    ASSERT_TRUE(
        daemon.getExifExiftool(dataFile("formats/raw/canon_eos_6d_lossy.dng"), formatRaw, tags, &error))
        << error.toStdString();
    EXPECT_EQ(tags.iso, 1000);
    EXPECT_DOUBLE_EQ(tags.exposureTime, 1.0 / 60);
    EXPECT_EQ(tags.timeStamp, QDateTime(QDate(2019, 6, 6), QTime(7, 29, 51), Qt::UTC).toSecsSinceEpoch());
    EXPECT_FALSE(daemon.getExifExiftool("/no/such/photo.jpg", formatJpeg, tags, &error));
    EXPECT_TRUE(error.contains("File not found")) << error.toStdString();
    EXPECT_FALSE(daemon.getExifExiftool("/no/such/photo.png", formatPng, tags, &error));

    // A saved result receives the first photo's camera data with this program's changes.
    const QString source = dataFile("brackets/desk_canon_s45_13exp/img01.jpg");
    const QString dir = makeTempDir("transfer");
    const QString result = QDir(dir).filePath("result é.jpg");
    ASSERT_TRUE(QImage(64, 48, QImage::Format_RGB888).save(result, "JPEG"));
    const std::map<QString, QString> original =
        readBack(source, {"Model", "DateTimeOriginal", "ThumbnailImage", "EXIF:ExposureTime"});
    ASSERT_FALSE(original.at("Model").isEmpty());
    // So that their removal means something.
    ASSERT_TRUE(original.count("ThumbnailImage"));
    ASSERT_TRUE(original.count("ExposureTime"));
    // The profile goes in with the same write.
    const QString profile = QDir(dir).filePath("srgb.icc");
    const QByteArray icc = QColorSpace(QColorSpace::SRgb).iccProfile();
    {
        QFile f(profile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(icc);
    }
    ASSERT_TRUE(daemon.transferExif(source, result,
                                    halvora::exiftoolUsedPhotoList({"img01.jpg", "img02.jpg"}),
                                    exifResultKind::hdrToneMapped, 300, profile, &error))
        << error.toStdString();
    const std::map<QString, QString> written =
        readBack(result, {"Model", "DateTimeOriginal", "Software", "Comment", "Orientation",
                          "EXIF:ExposureTime", "EXIF:ShutterSpeedValue", "XResolution", "ThumbnailImage"});
    EXPECT_EQ(written.at("Model"), original.at("Model"));
    EXPECT_EQ(written.at("DateTimeOriginal"), original.at("DateTimeOriginal"));
    EXPECT_EQ(written.at("Software"), "Halvora 3.0.1  (Linux)");
    EXPECT_EQ(written.at("Comment"),
              "HDR created and tone mapped with Halvora 3.0.1 : [1] img01.jpg, [2] img02.jpg");
    EXPECT_EQ(written.at("Orientation"), "Horizontal (normal)");
    EXPECT_EQ(written.at("XResolution"), "300");
    // The EXIF exposure of one photo does not describe a merge (a maker note's copy cannot be deleted).
    EXPECT_EQ(written.count("ExposureTime"), 0u);
    EXPECT_EQ(written.count("ShutterSpeedValue"), 0u);
    EXPECT_EQ(written.count("ThumbnailImage"), 0u);

    // The profile is there byte for byte; embedded on its own into another file, too.
    const QString extracted = QDir(dir).filePath("back.icc");
    ASSERT_TRUE(daemon.extractIcc(result, extracted, &error)) << error.toStdString();
    EXPECT_EQ(halvora::test::readBytes(extracted), icc);
    const QString plain = QDir(dir).filePath("plain.jpg");
    ASSERT_TRUE(QImage(16, 16, QImage::Format_RGB888).save(plain, "JPEG"));
    ASSERT_TRUE(daemon.embedIcc(plain, profile, &error)) << error.toStdString();
    ASSERT_TRUE(QFile::remove(extracted));
    ASSERT_TRUE(daemon.extractIcc(plain, extracted, &error)) << error.toStdString();
    EXPECT_EQ(halvora::test::readBytes(extracted), icc);
    ASSERT_TRUE(QFile::remove(plain));
    // A photo without one: failure, and no file is left behind.
    EXPECT_FALSE(daemon.extractIcc(source, extracted, &error));
    EXPECT_FALSE(QFile::exists(extracted));
    EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 2) << "only the result and the profile";
}

TEST(exiftoolDaemon, fileNamesWithLineBreaksNeverReachTheTool) {
    HALVORA_REQUIRE_DATA();
    REQUIRE_EXIFTOOL();
    exiftoolDaemon daemon(quick(QString()));
    ASSERT_TRUE(daemon.waitForStartupCheck(30000));
    const QString dir = makeTempDir("inject");
    // Read one argument a line, this name would add "-delete_original!" and name a second file.
    const QString evil = QDir(dir).filePath("x.jpg\n-delete_original!\nx.jpg");
    const QString plain = QDir(dir).filePath("x.jpg");
    ASSERT_TRUE(QImage(8, 8, QImage::Format_RGB888).save(plain, "JPEG"));
    ASSERT_TRUE(QFile::copy(plain, evil));
    const QByteArray before = halvora::test::readBytes(plain);
    logCapture log;
    QString error;
    EXPECT_FALSE(daemon.transferExif(dataFile("brackets/desk_canon_s45_13exp/img01.jpg"), evil, QString(),
                                     exifResultKind::singlePhotoEnhanced, 0, QString(), &error));
    EXPECT_TRUE(error.contains("line break")) << error.toStdString();
    EXPECT_TRUE(log.contains("line break"));
    EXPECT_EQ(halvora::test::readBytes(plain), before);
    EXPECT_TRUE(QFile::exists(evil));
    // The tool is still there for the next, harmless command.
    exiftoolTags tags;
    EXPECT_TRUE(daemon.getExifExiftool(plain, formatJpeg, tags, &error)) << error.toStdString();
}

TEST(exiftoolDaemon, missingToolIsReportedOnceAndEveryCommandFailsAtOnce) {
    std::atomic<int> reports{0};
    logCapture log;
    exiftoolDaemon daemon(quick("/no/such/folder/exiftool"));
    QObject::connect(
        &daemon, &exiftoolDaemon::showError, &daemon, [&] { ++reports; }, Qt::DirectConnection);
    EXPECT_FALSE(daemon.waitForStartupCheck(10000));
    QString error;
    exiftoolTags tags;
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(daemon.getExifExiftool("/tmp/a.jpg", formatJpeg, tags, &error));
        EXPECT_EQ(error, "exiftool is not running");
        EXPECT_FALSE(daemon.extractIcc("/tmp/a.jpg", "/tmp/a.icc", &error));
    }
    EXPECT_EQ(reports.load(), 1);
    EXPECT_TRUE(log.contains("Error! Failed to start exiftool."));
    EXPECT_TRUE(log.contains("Exiftool is not running!"));
}

TEST(exiftoolDaemon, toolBesideTheProgramComesBeforePath) {
    const QString dir = makeTempDir("appdir");
    EXPECT_EQ(exiftoolDaemon::findExiftool(dir), QStandardPaths::findExecutable("exiftool"));
    const QString own = writeTool(dir, kEchoTool);
    EXPECT_EQ(exiftoolDaemon::findExiftool(dir), own);
}

TEST(exiftoolDaemon, silentToolFailsTheStartUpCheck) {
    std::atomic<int> reports{0};
    logCapture log;
    exiftoolDaemon::settings_t s = quick(writeTool(makeTempDir("silent"), kSilentTool));
    s.startCheckTicks = 3;
    exiftoolDaemon daemon(s);
    QObject::connect(
        &daemon, &exiftoolDaemon::showError, &daemon, [&] { ++reports; }, Qt::DirectConnection);
    EXPECT_FALSE(daemon.waitForStartupCheck(10000));
    EXPECT_TRUE(log.contains("Exiftool version: [couldn't get it in time...]"));
    QString error;
    EXPECT_FALSE(daemon.execDefault({"-ver"}, nullptr, &error));
    EXPECT_EQ(error, "exiftool is not running");
    EXPECT_EQ(reports.load(), 1);
}

TEST(exiftoolDaemon, lateAnswerTimesOutReleasesTheLockAndIsNotTakenForTheNext) {
    logCapture log;
    exiftoolDaemon daemon(quick(writeTool(makeTempDir("echo"), kEchoTool)));
    ASSERT_TRUE(daemon.waitForStartupCheck(10000));
    EXPECT_TRUE(log.contains("Exiftool version: arg: -ver"));
    QStringList output;
    QString error;
    EXPECT_FALSE(daemon.exec({"-slow", "-first"}, &output, false, 2, true, &error));
    EXPECT_TRUE(error.contains("did not answer")) << error.toStdString();
    EXPECT_TRUE(log.contains("Exiftool timeout!"));
    // The first command's answer arrives while the second one waits: only the second's lines count.
    ASSERT_TRUE(daemon.execDefault({"-second"}, &output, &error)) << error.toStdString();
    EXPECT_EQ(output, QStringList{"arg: -second"});
}

TEST(exiftoolDaemon, commandsFromManyThreadsAreServedOneAtATime) {
    exiftoolDaemon daemon(quick(writeTool(makeTempDir("threads"), kEchoTool)));
    ASSERT_TRUE(daemon.waitForStartupCheck(10000));
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 8; ++i) {
                const QString tag = QString("-t%1-%2").arg(t).arg(i);
                QStringList output;
                if (!daemon.execDefault({tag, "x"}, &output) ||
                    output != QStringList{"arg: " + tag, "arg: x"})
                    ++wrong;
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
    daemon.terminate();
    QString error;
    EXPECT_FALSE(daemon.execDefault({"-after"}, nullptr, &error));
}
