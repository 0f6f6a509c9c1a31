// Where an automatic run saves and with which options, decided before any long work.

#include "app/automaticRun.h"
#include "app/commandLineOptions.h"
#include "support/testSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

saveResultOptions_t persisted() {
    saveResultOptions_t o;
    o.jpegQuality = 85;
    o.tiffBitDepth = 2;
    o.dpi = 150;
    return o;
}

TEST(automaticSaveRequest, formatFollowsTheNameAndFlagsSetTheRest) {
    const QString dir = halvora::test::makeTempDir("autoreq");
    QString error;
    commandLineOptions cl;

    cl.outputFn = dir + "/a.JPG";
    saveResultRequest r = halvora::automaticSaveRequest(cl, persisted(), {}, error);
    EXPECT_TRUE(error.isEmpty());
    EXPECT_EQ(r.fileName, dir + "/a.JPG");
    EXPECT_EQ(r.options.format, saveResultOptions_t::formatJpeg);
    EXPECT_EQ(r.options.jpegQuality, 85) << "unset choices keep the stored options";
    EXPECT_EQ(r.options.dpi, 150);
    EXPECT_FALSE(r.options.convertToSrgb);

    // "TIFF" in capitals is still a TIFF; without --tiff8/--tiff16 the stored depth is kept.
    cl.outputFn = dir + "/a.TIFF";
    r = halvora::automaticSaveRequest(cl, persisted(), {}, error);
    EXPECT_EQ(r.options.format, saveResultOptions_t::formatTiff);
    EXPECT_EQ(r.options.tiffBitDepth, 2);

    cl.outputFormat = 1;
    cl.tiffBitDepth = 1; // --tiff8
    cl.outputToSrgb = true;
    r = halvora::automaticSaveRequest(cl, persisted(), {}, error);
    EXPECT_EQ(r.options.tiffBitDepth, 1);
    EXPECT_TRUE(r.options.convertToSrgb);

    // --tiff16 with a .jpg name: the name decides the format.
    cl.outputFn = dir + "/b.jpg";
    cl.tiffBitDepth = 2;
    r = halvora::automaticSaveRequest(cl, persisted(), {}, error);
    EXPECT_EQ(r.options.format, saveResultOptions_t::formatJpeg);
    EXPECT_TRUE(r.fileName.endsWith("/b.jpg"));
}

TEST(automaticSaveRequest, bareNamesGoIntoTheOutputFolder) {
    const QString dir = halvora::test::makeTempDir("autoreq");
    QString error;
    commandLineOptions cl;
    cl.outputFn = "result.jpg";
    cl.outputDir = dir;
    saveResultRequest r = halvora::automaticSaveRequest(cl, persisted(), {}, error);
    EXPECT_EQ(r.fileName, dir + "/result.jpg");

    // A name with its own folder keeps it.
    QDir().mkpath(dir + "/sub");
    cl.outputFn = dir + "/sub/result.jpg";
    cl.outputDir = dir;
    r = halvora::automaticSaveRequest(cl, persisted(), {}, error);
    EXPECT_EQ(r.fileName, dir + "/sub/result.jpg");

    // No name at all: one made from the inputs, next to the first one, never over an existing file.
    cl.outputFn.clear();
    cl.outputDir.clear();
    cl.outputFormat = 0;
    const QStringList inputs = {dir + "/IMG_1.jpg", dir + "/IMG_2.jpg"};
    r = halvora::automaticSaveRequest(cl, persisted(), inputs, error);
    ASSERT_TRUE(error.isEmpty());
    EXPECT_TRUE(r.fileName.startsWith(dir + "/IMG_")) << r.fileName.toStdString();
    EXPECT_TRUE(r.fileName.endsWith(".jpg"));
    QFile taken(r.fileName);
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
    taken.close();
    const saveResultRequest again = halvora::automaticSaveRequest(cl, persisted(), inputs, error);
    EXPECT_NE(again.fileName, r.fileName);
}

TEST(automaticSaveRequest, impossibleFoldersAreRefused) {
    const QString dir = halvora::test::makeTempDir("autoreq");
    QFile file(dir + "/plain");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    QString error;
    commandLineOptions cl;
    for (const QString& target : {dir + "/missing/out.jpg", dir + "/plain/out.jpg"}) {
        cl.outputFn = target;
        const saveResultRequest r = halvora::automaticSaveRequest(cl, persisted(), {}, error);
        EXPECT_TRUE(r.fileName.isEmpty()) << target.toStdString();
        EXPECT_FALSE(error.isEmpty());
    }

    // A suffix the writers do not produce is refused instead of filled with JPEG bytes.
    cl.outputFn = dir + "/result.png";
    EXPECT_TRUE(halvora::automaticSaveRequest(cl, persisted(), {}, error).fileName.isEmpty());
    EXPECT_EQ(error,
              QDir::toNativeSeparators(dir + "/result.png") +
                  ": cannot save .png; the result is saved as JPEG (.jpg, .jpeg) or TIFF (.tif, .tiff)");
    cl.outputFn = dir + "/result";
    const saveResultRequest bare = halvora::automaticSaveRequest(cl, persisted(), {}, error);
    EXPECT_EQ(bare.fileName, dir + "/result") << "no suffix: no claim, JPEG";
    EXPECT_EQ(bare.options.format, saveResultOptions_t::formatJpeg);

    cl.saveHdr.clear();
    EXPECT_TRUE(halvora::automaticHdrOutputPath(cl, error).isEmpty());
    EXPECT_TRUE(error.isEmpty()) << "no --save_hdr is no error";
    cl.saveHdr = dir + "/missing/m.hdr";
    EXPECT_TRUE(halvora::automaticHdrOutputPath(cl, error).isEmpty());
    EXPECT_EQ(error, QDir::toNativeSeparators(dir + "/missing") +
                         ": the folder for --save_hdr does not exist or cannot be written");
    cl.saveHdr = dir + "/m.exr";
    EXPECT_EQ(halvora::automaticHdrOutputPath(cl, error), dir + "/m.exr");
    EXPECT_TRUE(error.isEmpty());
}

} // namespace
