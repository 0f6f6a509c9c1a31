// Save options record, output names, the save worker and the messages shown after a save.

#include "imageio/saveResultOptions.h"
#include "imageio/saveResultWorker.h"
#include "support/testSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <atomic>
#include <gtest/gtest.h>
#include <vector>

namespace {

void touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

} // namespace

TEST(defaultOutputName, ExamplesOfCommonPrefixAndRemainders) {
    EXPECT_EQ(halvora::defaultOutputNameWithSuffix({"/p/IMG_0001.JPG", "/p/IMG_0002.JPG", "/p/IMG_0003.JPG"},
                                                   "HDR"),
              "IMG_0001_0002_0003_HDR");
    // A digit ends the prefix; the trailing "-" is dropped.
    EXPECT_EQ(halvora::defaultOutputNameWithSuffix({"DSC-100.jpg", "DSC-101.jpg"}, "S"), "DSC_100_101_S");
    // No common prefix: the names joined.
    EXPECT_EQ(halvora::defaultOutputNameWithSuffix({"b.tif", "a.tif"}, "S"), "a_b_S");
    // Inputs are sorted; only the last extension goes; folders do not count; "." ends the prefix.
    EXPECT_EQ(halvora::defaultOutputNameWithSuffix({"/x/y/shot.v2.c.jpg", "/z/shot.v2.b.jpg"}, "S"),
              "shot_.v2.b_.v2.c_S");
    // Letters and "_" continue the prefix.
    EXPECT_EQ(halvora::defaultOutputNameWithSuffix({"beach_dark.jpg", "beach_bright.jpg"}, "S"),
              "beach_bright_dark_S");
    // A name without a dot stays whole; equal names leave empty remainders, which are skipped.
    EXPECT_EQ(halvora::defaultOutputNameWithSuffix({"photo", "photo"}, "S"), "photo_S");
    EXPECT_EQ(halvora::defaultOutputNameWithSuffix({"/a/one_photo.jpeg"}, "S"), "one_photo_S");
    EXPECT_EQ(halvora::defaultOutputNameWithSuffix({"x_1.jpg", "x_2.jpg"}, ""), "x_1_2");
    EXPECT_EQ(halvora::defaultOutputNameWithSuffix(QStringList{}, "S"), "");
}

TEST(defaultOutputName, LongListsAreCutAtSixtyFourCharacters) {
    QStringList inputs;
    for (int i = 0; i < 20; ++i)
        inputs << QString("/photos/holiday_evening_long_exposure_%1.jpg").arg(i + 10);
    // "holiday_evening_long_exposure" (29) + "_10_11_12_…": cut after 64 characters.
    const QString joined = "holiday_evening_long_exposure_10_11_12_13_14_15_16_17_18_19_20_21_22";
    EXPECT_EQ(halvora::defaultOutputNameWithSuffix(inputs, "HDR"), joined.left(64) + "_and_more_HDR");
    EXPECT_EQ(joined.left(64), "holiday_evening_long_exposure_10_11_12_13_14_15_16_17_18_19_20_2");
    // One input is never cut.
    const QString longName(100, QChar('q'));
    EXPECT_EQ(halvora::defaultOutputNameWithSuffix({longName + ".jpg"}, "S"), longName + "_S");
}

TEST(saveResultOptions, UnattendedNamesNeverOverwriteUnlessAllowed) {
    const QString dir = halvora::test::makeTempDir("names");
    saveResultOptions_t jpeg;
    EXPECT_EQ(halvora::unattendedSaveRequest(dir, "name", jpeg, false).fileName, dir + "/name.jpg");
    touch(dir + "/name.jpg");
    EXPECT_EQ(halvora::unattendedSaveRequest(dir, "name", jpeg, false).fileName, dir + "/name_1.jpg");
    touch(dir + "/name_1.jpg");
    EXPECT_EQ(halvora::unattendedSaveRequest(dir, "name", jpeg, false).fileName, dir + "/name_2.jpg");
    EXPECT_EQ(halvora::unattendedSaveRequest(dir, "name", jpeg, true).fileName, dir + "/name.jpg");
    saveResultOptions_t tiff;
    tiff.format = saveResultOptions_t::formatTiff;
    EXPECT_EQ(halvora::unattendedSaveRequest(dir + "/", "name", tiff, false).fileName, dir + "/name.tif");
}

TEST(saveResultMessages, FailureAndSuccessTexts) {
    using msg = saveResultMessage_t;
    halvora::test::logCapture log;
    auto m = halvora::saveResultFinishedMessages(nullptr, false, metadataTransfer_t::notRequested);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].kind, msg::errorBox);
    EXPECT_EQ(m[0].text, "Saving failed.");
    EXPECT_TRUE(log.contains("Saving failed\n"));

    saveResultRequest r;
    r.fileName = "/out/x.jpg";
    r.error = "Cannot write into the folder '/out': denied";
    m = halvora::saveResultFinishedMessages(&r, false, metadataTransfer_t::done);
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].kind, msg::errorBox);
    EXPECT_EQ(m[1].text, r.error);
    EXPECT_EQ(m[1].color, "#b06060");
    EXPECT_TRUE(log.contains("Saving failed: /out/x.jpg\n"));

    m = halvora::saveResultFinishedMessages(&r, true, metadataTransfer_t::done);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].kind, msg::batchLog);
    EXPECT_EQ(m[0].text, "Saving failed.");
    EXPECT_EQ(m[0].color, "#b06060");

    r.success = true;
    m = halvora::saveResultFinishedMessages(&r, false, metadataTransfer_t::failed);
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].text, "Saved: /out/x.jpg");
    EXPECT_EQ(m[0].color, "#60a060");
    EXPECT_EQ(m[1].kind, msg::warningBox);
    EXPECT_EQ(m[1].text, "EXIF transfer failed.");
    EXPECT_EQ(m[1].color, "#b0b060");
    EXPECT_TRUE(log.contains("Saved: /out/x.jpg\n"));

    m = halvora::saveResultFinishedMessages(&r, true, metadataTransfer_t::failed);
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].kind, msg::batchLog);
    EXPECT_EQ(m[0].text, "Saved as /out/x.jpg");
    EXPECT_EQ(m[1].kind, msg::batchLog);
    EXPECT_EQ(m[1].text, "EXIF transfer failed.");

    // Without the metadata tool nothing claims that EXIF arrived.
    m = halvora::saveResultFinishedMessages(&r, false, metadataTransfer_t::unavailable);
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[1].color, "#b0b060");
    EXPECT_TRUE(m[1].text.contains("not transferred"));
    EXPECT_TRUE(log.contains("saveResultFinished: EXIF and colour profile were not transferred"));

    EXPECT_EQ(halvora::sourcePhotoList({"a.jpg", "b.jpg", "c.jpg"}), "[1] a.jpg, [2] b.jpg, [3] c.jpg");
}

TEST(saveResultWorker, WritesTheRequestedFormatAndReports) {
    const int w = 40, h = 30;
    std::vector<uint16_t> px(size_t(w) * h * 3, 32640);
    const QString dir = halvora::test::makeTempDir("worker");

    saveResultRequest r;
    r.fileName = dir + "/result.tif";
    r.options.format = saveResultOptions_t::formatTiff;
    r.options.tiffBitDepth = 2;
    r.options.convertToSrgb = true;
    saveResultWorker worker(r, px.data(), w, h);
    int finishedCount = 0;
    QObject::connect(&worker, &saveResultWorker::finished, [&] { ++finishedCount; });
    int toneMapped = 0;
    std::atomic<int> transformedRows{0};
    worker.toneMapEntirePhoto = [&] {
        ++toneMapped;
        return true;
    };
    worker.outputTransform = [&](uint16_t*, int pixels) {
        EXPECT_EQ(pixels, w);
        ++transformedRows; // called from pool threads
    };
    {
        halvora::test::logCapture log;
        worker.doSaveResult();
        EXPECT_TRUE(log.contains("Tone mapping entire photo...\n"));
        EXPECT_TRUE(log.contains("Saving result as: '" + r.fileName.toStdString() + "'...\n"));
        EXPECT_TRUE(log.contains("Converting to sRGB...\n"));
    }
    EXPECT_TRUE(worker.request.success);
    EXPECT_EQ(finishedCount, 1);
    EXPECT_EQ(toneMapped, 1);
    EXPECT_GT(transformedRows, 0);
    QFile f(r.fileName);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.read(4), QByteArray("II*\0", 4));

    // Already post-processed: no tone mapping; JPEG; no conversion asked.
    saveResultRequest j;
    j.fileName = dir + "/result.jpg";
    saveResultWorker jpegWorker(j, px.data(), w, h);
    {
        halvora::test::logCapture log;
        jpegWorker.doSaveResult();
        EXPECT_TRUE(log.contains("Photo was post processed, no need to tone map whole image.\n"));
        EXPECT_FALSE(log.contains("Converting to sRGB"));
    }
    EXPECT_TRUE(jpegWorker.request.success);
    EXPECT_EQ(QImage(j.fileName).size(), QSize(w, h));

    // A failed tone mapping fails the save and writes nothing.
    saveResultRequest bad;
    bad.fileName = dir + "/never.jpg";
    saveResultWorker failing(bad, px.data(), w, h);
    failing.toneMapEntirePhoto = [] { return false; };
    failing.doSaveResult();
    EXPECT_FALSE(failing.request.success);
    EXPECT_FALSE(failing.request.error.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(bad.fileName));
}

TEST(outputNameForFormat, TheSuffixFollowsTheChosenFormat) {
    const int jpeg = saveResultOptions_t::formatJpeg, tiff = saveResultOptions_t::formatTiff;
    EXPECT_EQ(halvora::outputNameForFormat("/p/a.jpg", jpeg), "/p/a.jpg");
    EXPECT_EQ(halvora::outputNameForFormat("/p/a.JPEG", jpeg), "/p/a.JPEG");
    EXPECT_EQ(halvora::outputNameForFormat("/p/a.TIFF", tiff), "/p/a.TIFF");
    EXPECT_EQ(halvora::outputNameForFormat("/p/a.jpg", tiff), "/p/a.tif");
    EXPECT_EQ(halvora::outputNameForFormat("/p/a.Tiff", jpeg), "/p/a.jpg");
    EXPECT_EQ(halvora::outputNameForFormat("/p/a", jpeg), "/p/a.jpg");
    EXPECT_EQ(halvora::outputNameForFormat("/p/shot.v2", tiff), "/p/shot.v2.tif")
        << "an unknown suffix is part of the name";
    EXPECT_EQ(halvora::outputNameForFormat("/p.jpg/a", tiff), "/p.jpg/a.tif")
        << "a dot in the folder is not a suffix";
}
