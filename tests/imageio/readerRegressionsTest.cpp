// Every stored hostile input goes through the TIFF and EXIF readers, from memory and from a file, and
// through the information and load calls of the radiance reader its suffix names.

#include "imageio/exifInfo.h"
#include "imageio/exifReader.h"
#include "imageio/imageLoader.h"
#include "imageio/imageSaver.h"
#include "imageio/tiffReader.h"
#include "support/testSupport.h"

#include <QDir>
#include <QFile>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

using namespace halvora::test;

namespace {

QString regressionDir() {
    return QString(HALVORA_SOURCE_DIR) + "/tests/imageio/regressions";
}

// True when the file was accepted all the way through its load.
bool readsThrough(const QString& path, QString& error) {
    if (path.endsWith(".hdr")) {
        int w = 0, h = 0;
        double prim[8];
        bool hasPrim = false;
        if (!halvora::getRGBEinfo(path, w, h, prim, hasPrim, &error)) return false;
        std::vector<float> pixels(size_t(w) * h * 3);
        float mx = 0, mn = 0;
        return imageLoader::loadRadianceRGBE(path, w, h, pixels.data(), mx, mn, &error);
    }
    if (path.endsWith(".fits")) {
        int w = 0, h = 0, ch = 0, bits = 0;
        qint64 pos = 0;
        exifInfo_t exif;
        if (!imageLoader::getFITSinfo(path, w, h, ch, bits, pos, &exif, &error)) return false;
        std::vector<uint16_t> pixels(size_t(w) * h * 3);
        return imageLoader::loadFITS(path, w, h, pixels.data(), &error);
    }
    if (path.endsWith(".exr")) {
        int w = 0, h = 0;
        if (!halvora::getEXRinfo(path, w, h, &error)) return false;
        std::vector<float> pixels(size_t(w) * h * 3);
        float mn = 0, mx = 0;
        return halvora::loadEXR(path, w, h, pixels.data(), mn, mx, &error);
    }
    ADD_FAILURE() << "no reader for " << path.toStdString();
    return true;
}

} // namespace

TEST(readerRegressions, everyStoredInputIsHandled) {
    const QFileInfoList files = QDir(regressionDir()).entryInfoList(QDir::Files, QDir::Name);
    ASSERT_GE(files.size(), 18);
    for (const QFileInfo& info : files) {
        if (info.suffix() == "md") continue;
        const std::string name = info.fileName().toStdString();
        SCOPED_TRACE(name);
        const QByteArray file = readBytes(info.filePath());
        const std::vector<uint8_t> bytes(file.begin(), file.end());

        // Both readers see every file, whatever its name says.
        logCapture log;
        exifInfo_t exif;
        const bool jpegWalk = halvora::readJpegExifFromMemory(bytes.data(), bytes.size(), exif, nullptr);
        exifInfo_t structure;
        halvora::processExifStart(bytes.data(), bytes.size(), structure);

        int w = 0, h = 0, bits = 0;
        bool loaded = false;
        QString quickError, fileError, error;
        const bool quick =
            halvora::tiffQuickInfoFromMemory(bytes.data(), bytes.size(), QString(), w, h, bits, &quickError);
        EXPECT_EQ(quick, halvora::tiffQuickInfo(info.filePath(), w, h, bits, &fileError));
        // The file variant says the same, with the file's name in front.
        EXPECT_EQ(fileError, quick ? QString() : info.filePath() + ": " + quickError);
        if (quick) {
            const size_t samples = size_t(w) * size_t(h) * 3;
            const bool fits = samples > 0 && samples <= (size_t(1) << 24);
            // Files too large to hold here get a three-sample buffer: they must be refused unwritten.
            std::vector<uint16_t> rgb16(fits ? samples : 3);
            std::vector<float> rgbFloat(fits ? samples : 3);
            float mn = 0, mx = 0;
            exifInfo_t tiffExif;
            if (fits)
                loaded = imageLoader::loadTIFF(info.filePath(), rgb16.data(), rgbFloat.data(), mn, mx,
                                               tiffExif, &error);
            else
                loaded =
                    halvora::tiffDecodeFromMemory(bytes.data(), bytes.size(), info.filePath(), rgb16.data(),
                                                  rgbFloat.data(), mn, mx, tiffExif, &error);
        } else {
            error = fileError;
        }

        if (info.fileName().startsWith("tiff_refused_")) {
            EXPECT_FALSE(loaded);
            EXPECT_TRUE(error.startsWith(info.filePath() + ": ")) << error.toStdString();
        } else if (info.fileName().startsWith("tiff_damaged_")) {
            // Damaged strip data: refused with the strip that could not be decoded.
            EXPECT_FALSE(loaded);
            EXPECT_TRUE(error.startsWith(info.filePath() + ": strip ")) << error.toStdString();
        } else if (info.fileName().startsWith("exif_")) {
            EXPECT_TRUE(log.contains("EXIF: ") || log.contains("Maximum Exif directory nesting"))
                << log.text();
            if (info.fileName().contains("truncated")) {
                EXPECT_FALSE(jpegWalk);
            }
        }
    }
}

TEST(radianceRegressions, everyKeptHostileInputIsRefused) {
    const QDir dir(regressionDir());
    const QStringList files = dir.entryList({"*.hdr", "*.fits", "*.exr"}, QDir::Files, QDir::Name);
    ASSERT_GE(files.size(), 15);
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        QString error;
        EXPECT_FALSE(readsThrough(dir.filePath(name), error));
        // The reason names the file and says what is wrong with it.
        EXPECT_TRUE(error.startsWith(dir.filePath(name) + ": ")) << error.toStdString();
        EXPECT_GT(error.size(), dir.filePath(name).size() + 10) << error.toStdString();
    }
}

TEST(radianceRegressions, openExrDataWindowBeyondTheSizeLimitIsRefused) {
    // A valid file whose data window is then patched to absurd sizes.
    const QString dir = makeTempDir("exr");
    std::vector<float> pixels(4 * 4 * 3, 1.0f);
    ASSERT_TRUE(imageSaver::saveOpenEXR(dir + "/small.exr", 4, 4, pixels.data(), nullptr));
    const QByteArray good = readBytes(dir + "/small.exr");
    const qsizetype at = good.indexOf(QByteArray("dataWindow\0box2i\0", 17));
    ASSERT_GT(at, 0);
    const qsizetype box = at + 17 + 4; // after the attribute's size field: xMin, yMin, xMax, yMax
    const int32_t patches[][4] = {
        {0, 0, 3000000, 3}, {0, 0, 3, 2000000000}, {5, 0, 3, 3}, {-2147483647, 0, 2147483647, 3}};
    for (const auto& p : patches) {
        QByteArray bad = good;
        std::memcpy(bad.data() + box, p, 16); // OpenEXR is little-endian, like this machine
        ASSERT_TRUE(writeBytes(dir + "/patched.exr", bad));
        QString error;
        EXPECT_FALSE(readsThrough(dir + "/patched.exr", error)) << p[2] << " " << p[3];
        EXPECT_TRUE(error.startsWith(dir + "/patched.exr: ")) << error.toStdString();
    }
}
