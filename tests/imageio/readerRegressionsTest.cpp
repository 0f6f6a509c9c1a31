// Every stored hostile input goes through the TIFF and EXIF readers, from memory and from a file.

#include "imageio/exifReader.h"
#include "imageio/imageLoader.h"
#include "imageio/tiffReader.h"
#include "support/testSupport.h"

using halvora::test::logCapture;

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <vector>

namespace {

QFileInfoList regressionFiles() {
    return QDir(QString(HALVORA_SOURCE_DIR) + "/tests/imageio/regressions")
        .entryInfoList(QDir::Files, QDir::Name);
}

std::vector<uint8_t> bytesOf(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray a = f.readAll();
    return std::vector<uint8_t>(a.begin(), a.end());
}

} // namespace

TEST(readerRegressions, everyStoredInputIsHandled) {
    const QFileInfoList files = regressionFiles();
    ASSERT_GE(files.size(), 18);
    for (const QFileInfo& info : files) {
        if (info.suffix() == "md") continue;
        const std::string name = info.fileName().toStdString();
        SCOPED_TRACE(name);
        const std::vector<uint8_t> bytes = bytesOf(info.filePath());

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
