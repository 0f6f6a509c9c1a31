// The tags of a JPEG result written beside its tone mapping (into a stand-in, then spliced) give the
// very bytes the metadata tool writes into the complete file; whatever does not fit falls back to
// that transfer. Real tool, real camera photo.

#include "project/resultExifAside.h"
#include "imageio/exiftoolDaemon.h"
#include "imageio/jpegStreamWriter.h"
#include "support/testSupport.h"

#include <QFile>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <vector>

namespace {

using halvora::test::makeTempDir;

QByteArray savedBytes(const QString& name) {
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

saveResultRequest savedGradient(const QString& name, int quality) {
    const int w = 320, h = 200;
    std::vector<uint16_t> rgb(size_t(w) * h * 3);
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = uint16_t((i * 131) % 32640);
    saveResultRequest r;
    r.fileName = name;
    r.options.format = saveResultOptions_t::formatJpeg;
    r.options.jpegQuality = quality;
    r.options.dpi = 300;
    r.options.transferExif = true;
    r.success = true;
    jpegStreamWriter writer;
    QString error;
    EXPECT_TRUE(writer.open(name, w, h, quality, r.options.dpi, &error));
    EXPECT_TRUE(writer.writeRows(rgb.data(), h, {}, &error));
    EXPECT_TRUE(writer.finish(&error)) << error.toStdString();
    return r;
}

} // namespace

TEST(resultExifAside, givesTheBytesOfTheTransferIntoTheCompleteFileOrFallsBackToIt) {
    HALVORA_REQUIRE_DATA();
    if (QStandardPaths::findExecutable("exiftool").isEmpty()) GTEST_SKIP() << "exiftool is not installed";
    exiftoolDaemon::settings_t s;
    s.scratchDirectory = makeTempDir("asideScratch") + "/";
    exiftoolDaemon tool(s);
    ASSERT_TRUE(tool.waitForStartupCheck(30000));
    const QString dir = makeTempDir("aside") + "/";
    const QString photos = halvora::test::dataFile("brackets/iphone_xr_night_9exp/");
    resultMetadataSource_t source;
    source.referencePhoto = photos + "IMG_3872.jpeg";
    source.usedPhotos = "[1] " + photos + "IMG_3869.jpeg, [2] " + photos + "IMG_3872.jpeg";

    // The transfer into the complete file, as every save made it before.
    const saveResultRequest direct = savedGradient(dir + "direct.jpg", 100);
    QString error;
    ASSERT_EQ(halvora::transferResultExif(&tool, source, direct, &error), metadataTransfer_t::done)
        << error.toStdString();
    const QByteArray expected = savedBytes(direct.fileName);
    ASSERT_TRUE(expected.contains("Halvora")) << "the tool wrote the tags";

    // The stand-in made for `announced`, the file saved as `saved`; the log line says which way the
    // tags went.
    auto transferAside = [&](const saveResultRequest& announced, const saveResultRequest& saved,
                             const char* logLine) {
        halvora::test::logCapture log;
        resultExifAside aside(&tool, source, dir);
        ASSERT_TRUE(aside.start(announced, 320, 200));
        EXPECT_EQ(aside.finish(saved, &error), metadataTransfer_t::done) << error.toStdString();
        EXPECT_TRUE(log.contains(logLine));
    };
    const saveResultRequest saved = savedGradient(dir + "aside.jpg", 100);
    transferAside(saved, saved, "tags written beside the tone mapping");
    EXPECT_TRUE(savedBytes(saved.fileName) == expected);
    EXPECT_FALSE(QFile::exists(dir + "result-tags.jpg")) << "the stand-in is removed";

    // A stand-in made for another header (here another quality) is not used: the tags are copied
    // into the complete file instead, with the same result as there.
    const saveResultRequest other = savedGradient(dir + "other.jpg", 100);
    saveResultRequest announced = other;
    announced.options.jpegQuality = 90;
    transferAside(announced, other, "does not start with the expected JPEG header; the tags are copied");
    EXPECT_TRUE(savedBytes(other.fileName) == expected);

    // Not for TIFF, not without a transfer asked for, not without a folder for the stand-in.
    saveResultRequest tiff = saved;
    tiff.options.format = saveResultOptions_t::formatTiff;
    saveResultRequest noTransfer = saved;
    noTransfer.options.transferExif = false;
    EXPECT_FALSE(resultExifAside(&tool, source, dir).start(tiff, 320, 200));
    EXPECT_FALSE(resultExifAside(&tool, source, dir).start(noTransfer, 320, 200));
    EXPECT_FALSE(resultExifAside(&tool, source, QString()).start(saved, 320, 200));
    EXPECT_FALSE(resultExifAside(nullptr, source, dir).start(saved, 320, 200));
}
