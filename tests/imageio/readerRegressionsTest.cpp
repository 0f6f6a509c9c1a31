// Every stored hostile input goes through the TIFF and EXIF readers, from memory and from a file, and
// through the information and load calls of the reader its name says; each is refused with the reason
// written beside it here.

#include "imageio/exifInfo.h"
#include "imageio/exifReader.h"
#include "imageio/imageLoader.h"
#include "imageio/imageSaver.h"
#include "imageio/tiffReader.h"
#include "support/radianceFiles.h"
#include "support/testSupport.h"

#include <QDir>
#include <QFile>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <vector>

using namespace halvora::test;

namespace {

QString regressionDir() {
    return QString(HALVORA_SOURCE_DIR) + "/tests/imageio/regressions";
}

// The start of each file's refusal, after "<file>: ". The exif_ files are damaged only in their EXIF
// (their walk logs why) and the fuzz_raw_ ones are the RAW converter's cases.
const std::map<QString, QString> kReasons = {
    {"tiff_damaged_deflate_corrupt_stream.tif", "strip 0 of 1: damaged Deflate data"},
    {"tiff_damaged_lzw_code_before_clear.tif", "strip 0 of 1: damaged LZW data: no clear code before"},
    {"tiff_damaged_lzw_oldstyle_junk.tif", "strip 0 of 1: damaged LZW data: code 256 follows a clear code"},
    {"tiff_damaged_lzw_string_after_clear.tif", "strip 0 of 1: damaged LZW data: code 300 follows a clear"},
    {"tiff_damaged_lzw_undefined_code.tif", "strip 0 of 1: damaged LZW data: code 500 is not in the code"},
    {"tiff_damaged_packbits_short_literal.tif", "strip 0 of 1: the PackBits data end 47 bytes short of 48"},
    {"tiff_refused_absurd_1048576x1048576_rgba_float_one_strip.tif",
     "unsupported TIFF format (32-bit integer samples, sample format tag absent)"},
    {"tiff_refused_second_directory_changes_height.tif",
     "the directories disagree about the picture (4x60000, 8 bits; first directory 4x4, 8 bits)"},
    {"tiff_refused_strip_bytecount_beyond_end.tif",
     "strip 0 (offset 8, 4000 bytes) runs past the end of the file (164 bytes)"},
    {"tiff_refused_strip_offset_beyond_end.tif",
     "strip 0 (offset 2147483632, 48 bytes) runs past the end of the file"},
    {"tiff_refused_too_few_strips_for_rows.tif",
     "2 strips cover only part of the 4 rows (4 strips of 1 rows"},
    {"tiff_refused_width_beyond_limit.tif", "impossible picture size 1048577x1"},
    {"fits_1M_x_1M_in_6_kB.fits", "declares 1000000 × 1000000 pixels but holds only 5760 bytes"},
    {"fits_bitpix_64.fits", "wrong data format (BITPIX 64)"},
    {"fits_bitpix_8.fits", "wrong data format (BITPIX 8)"},
    {"fits_data_shorter_than_declared.fits", "declares 100 × 100 pixels but holds only 3880 bytes"},
    {"fits_four_channels.fits", "wrong number of channels (4)"},
    {"fits_header_without_end.fits", "header seems to be incorrect (no END card in its first 256 cards)"},
    {"fits_naxis_overflowing_int.fits", "wrong number of axes (2147483647)"},
    {"fits_negative_height.fits", "wrong image size (2 x -2)"},
    // The library read the channel list up to its empty name whatever size the file gave it, and took
    // the bytes after the list as an attribute of 1.8 GB, which it reserved.
    {"fuzz_exr_channel_list_longer_than_its_size_made_openexr_reserve_1_8GB.exr",
     "has a header attribute \"der\" of 1879048192 bytes but holds only 465 bytes"},
    // Tiles 31 M rows high and no data window (its name is misspelt): the library assumed a 64-row
    // picture and reserved a 1.5 GB tile buffer on opening, a 4 GB row of tiles on loading.
    {"fuzz_exr_tiles_31M_rows_high_made_openexr_reserve_4GB.exr", "has no data window"},
    {"fuzz_exr_window_16M_x_16M_made_openexr_reserve_2GB.exr",
     "has the impossible data window (0, 0)-(16711425, 1)"},
    {"rgbe_50_byte_file_claims_1M_x_1M.hdr", "declares 1000000 × 1000000 pixels but holds only 16 bytes"},
    {"rgbe_all_black_1x1.hdr", "every pixel is black"},
    {"rgbe_header_without_end.hdr", "is not a Radiance file (no end of its header)"},
    {"rgbe_old_run_overflows_row.hdr", "corrupt pixel data: an old-style run of 200 pixels overflows row 0"},
    {"rgbe_old_run_shift_overflow.hdr", "corrupt pixel data: an old-style run of 65280 pixels overflows row"},
    {"rgbe_rle_length_differs_from_width.hdr",
     "corrupt pixel data: scanline 0 has the length 17 instead of the width 16"},
    {"rgbe_rle_literal_overflows_row.hdr", "corrupt pixel data: a run of 100 bytes overflows row 0 at x = 0"},
    {"rgbe_rle_run_overflows_row.hdr", "corrupt pixel data: a run of 127 bytes overflows row 0 at x = 0"},
    {"rgbe_rle_zero_length_run.hdr", "corrupt pixel data: empty run in row 0 at x = 0"},
    {"rgbe_size_beyond_limit.hdr", "has the impossible picture size 3000000 x 1"},
    {"rgbe_truncated_scanline.hdr", "corrupt pixel data: the pixel data end in row 3"},
};

// True when the file was accepted all the way through its load.
bool readsThrough(const QString& path, QString& error) {
    if (path.endsWith(".fits")) {
        int w = 0, h = 0, ch = 0, bits = 0;
        qint64 pos = 0;
        exifInfo_t exif;
        if (!imageLoader::getFITSinfo(path, w, h, ch, bits, pos, &exif, &error)) return false;
        std::vector<uint16_t> pixels(size_t(w) * h * 3);
        return imageLoader::loadFITS(path, w, h, pixels.data(), &error);
    }
    if (path.endsWith(".exr") || path.endsWith(".hdr")) {
        const radianceFile f = loadRadianceFile(path);
        error = f.error;
        return f.loadOk;
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

        if (info.fileName().startsWith("tiff_")) {
            EXPECT_FALSE(loaded);
            EXPECT_TRUE(error.startsWith(info.filePath() + ": " + kReasons.at(info.fileName())))
                << error.toStdString();
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
        EXPECT_TRUE(error.startsWith(dir.filePath(name) + ": " + kReasons.at(name))) << error.toStdString();
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
