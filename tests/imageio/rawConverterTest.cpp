// The RAW converter on real camera files: information and exposure data, the embedded preview, the
// decode checked against that preview, and files that are cut off, damaged, metadata-only or not
// files at all.

#include "imageio/rawConverter.h"
#include "base/parallelFor.h"
#include "imageio/rawDataExtent.h"
#include "imageio/rawLoadOptions.h"
#include "support/testSupport.h"
#include "support/tiffTestBuilder.h"

#include <QDir>
#include <QFile>
#include <cmath>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <vector>

using halvora::test::dataFile;
using halvora::test::logCapture;
using halvora::test::makeTempDir;

namespace {

QString dngFile() {
    return dataFile("formats/raw/canon_eos_6d_lossy.dng");
}
QString kdcFile() {
    return dataFile("formats/raw/RAW_KODAK_DC50_é.KDC");
}

QString writeFile(const QString& name, const QByteArray& bytes) {
    const QString path = QDir(makeTempDir("raw")).filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
    return path;
}

struct decoded {
    bool ok = false;
    QString error;
    rawInfo_t info;
    std::vector<uint16_t> rgb16;
};

decoded decodeRaw(const QString& fileName, const rawLoadOptions& options = {}) {
    decoded d;
    exifInfo_t exif;
    if (!halvora::getRAWinfo_DCRAW(fileName, options.halfSize, d.info, exif, &d.error)) return d;
    const int w = options.halfSize ? d.info.halfWidth : d.info.width;
    const int h = options.halfSize ? d.info.halfHeight : d.info.height;
    d.rgb16.assign(size_t(w) * h * 3, 0);
    d.ok = halvora::loadRAW_DCRAW(fileName, halvora::buildDcrawArgs(options, false), w, h, d.rgb16.data(),
                                  nullptr, &d.error);
    return d;
}

// Pearson correlation of the grey levels of two pictures brought to the same small size.
double correlation(const QImage& a, const QImage& b) {
    const QSize size(96, 64);
    const QImage x = a.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                         .convertToFormat(QImage::Format_Grayscale8);
    const QImage y = b.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                         .convertToFormat(QImage::Format_Grayscale8);
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    const int n = size.width() * size.height();
    for (int r = 0; r < size.height(); ++r)
        for (int c = 0; c < size.width(); ++c) {
            const double u = x.constScanLine(r)[c], v = y.constScanLine(r)[c];
            sx += u, sy += v, sxx += u * u, syy += v * v, sxy += u * v;
        }
    const double cov = sxy - sx * sy / n, vx = sxx - sx * sx / n, vy = syy - sy * sy / n;
    return cov / std::sqrt(vx * vy);
}

QImage toImage(const std::vector<uint16_t>& rgb16, int w, int h) {
    QImage image(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * 3; ++x)
            image.scanLine(y)[x] = uint8_t(rgb16[size_t(y) * w * 3 + x] >> 7);
    return image;
}

} // namespace

TEST(rawConverter, realFilesGiveSizesAndExposureData) {
    HALVORA_REQUIRE_DATA();
    // Values from the files' EXIF as exiftool lists it (SOURCE.txt of the data folder).
    rawInfo_t info;
    exifInfo_t exif;
    QString error;
    ASSERT_TRUE(halvora::getRAWinfo_DCRAW(dngFile(), true, info, exif, &error)) << error.toStdString();
    EXPECT_EQ(info.width, 1224);
    EXPECT_EQ(info.height, 816);
    // A demosaiced (linear) DNG has no mosaic to halve.
    EXPECT_FALSE(info.filterPattern);
    EXPECT_EQ(info.halfWidth, 1224);
    EXPECT_STREQ(exif.cameraMake, "Canon");
    EXPECT_STREQ(exif.cameraModel, "EOS 6D");
    EXPECT_STREQ(exif.dateTime, "2019:06:06 07:29:51");
    EXPECT_EQ(exif.iso, 1000);
    EXPECT_FLOAT_EQ(exif.fNumber, 5.6f);
    EXPECT_EQ(exif.exposureTimeNum, 1u);
    EXPECT_EQ(exif.exposureTimeDen, 60u);
    EXPECT_NEAR(exif.exposureTime, 1.0 / 60, 1e-7);

    // The non-ASCII file name is opened by its real bytes.
    info = {};
    exif = {};
    ASSERT_TRUE(halvora::getRAWinfo_DCRAW(kdcFile(), true, info, exif, &error)) << error.toStdString();
    EXPECT_EQ(info.width, 768);
    EXPECT_EQ(info.height, 512);
    EXPECT_TRUE(info.filterPattern);
    EXPECT_EQ(info.halfWidth, 384);
    EXPECT_EQ(info.halfHeight, 256);
    EXPECT_FLOAT_EQ(exif.fNumber, 6.2f);
    // 1/229.9 s: a fraction with the denominator cut to a whole number.
    EXPECT_EQ(exif.exposureTimeDen, 229u);
    EXPECT_NEAR(exif.exposureTime, 1 / 229.9, 1e-5);
}

TEST(rawConverter, decodeMatchesTheEmbeddedPreviewAndStaysOnTheWorkingScale) {
    HALVORA_REQUIRE_DATA();
    const decoded d = decodeRaw(dngFile());
    ASSERT_TRUE(d.ok) << d.error.toStdString();
    uint16_t maximum = 0;
    size_t saturated = 0;
    for (uint16_t v : d.rgb16) {
        maximum = std::max(maximum, v);
        saturated += v == 32640;
    }
    // Clipped highlights reach full scale exactly: not 32767 above it.
    EXPECT_EQ(maximum, 32640);
    EXPECT_GT(saturated, 0u);

    QImage preview;
    QString error;
    ASSERT_TRUE(halvora::getThumbFromRAW_DCRAW(dngFile(), preview, &error)) << error.toStdString();
    EXPECT_EQ(preview.width(), 1024);
    EXPECT_EQ(preview.height(), 683);
    // The camera maker's rendition and ours differ in tone, not in what is where.
    EXPECT_GT(correlation(toImage(d.rgb16, d.info.width, d.info.height), preview), 0.9);

    const decoded k = decodeRaw(kdcFile());
    ASSERT_TRUE(k.ok) << k.error.toStdString();
    double sum = 0;
    for (uint16_t v : k.rgb16)
        sum += v;
    const double mean = sum / double(k.rgb16.size());
    EXPECT_GT(mean, 2000);
    EXPECT_LT(mean, 30000);
}

TEST(rawConverter, halfSizeAnd8BitDecodesHaveTheReportedSize) {
    HALVORA_REQUIRE_DATA();
    rawLoadOptions half;
    half.halfSize = true;
    const decoded d = decodeRaw(kdcFile(), half);
    ASSERT_TRUE(d.ok) << d.error.toStdString();

    // The preview form: 8 bits into a byte buffer.
    std::vector<uint8_t> rgb8(size_t(d.info.halfWidth) * d.info.halfHeight * 3, 0);
    QString error;
    ASSERT_TRUE(halvora::loadRAW_DCRAW(kdcFile(), halvora::buildDcrawArgs({}, true), d.info.halfWidth,
                                       d.info.halfHeight, nullptr, rgb8.data(), &error))
        << error.toStdString();
    EXPECT_GT(*std::max_element(rgb8.begin(), rgb8.end()), 100);

    // A size other than the one the converter gives is refused, never written past.
    logCapture log;
    std::vector<uint16_t> small(size_t(100) * 100 * 3);
    EXPECT_FALSE(halvora::loadRAW_DCRAW(kdcFile(), halvora::buildDcrawArgs({}, false), 100, 100, small.data(),
                                        nullptr, &error));
    EXPECT_TRUE(log.contains("DCRAW - cannot load data"));
    EXPECT_TRUE(error.contains("768 × 512")) << error.toStdString();
}

TEST(rawConverter, outputDoesNotDependOnTheThreadCount) {
    HALVORA_REQUIRE_DATA();
    halvora::setThreadCountOverride(1);
    const decoded one = decodeRaw(kdcFile());
    halvora::setThreadCountOverride(5);
    const decoded five = decodeRaw(kdcFile());
    halvora::setThreadCountOverride(0);
    ASSERT_TRUE(one.ok && five.ok);
    EXPECT_TRUE(one.rgb16 == five.rgb16);
}

TEST(rawConverter, cutOffAndDamagedFilesAreRefusedWithAReason) {
    HALVORA_REQUIRE_DATA();
    for (const QString& source : {dngFile(), kdcFile()}) {
        const QByteArray whole = halvora::test::readBytes(source);
        ASSERT_FALSE(whole.isEmpty());
        for (int percent : {1, 10, 30, 50, 70, 90, 95, 99}) {
            const QString path = writeFile(QString("cut%1.%2").arg(percent).arg(QFileInfo(source).suffix()),
                                           whole.left(whole.size() * percent / 100));
            const decoded d = decodeRaw(path);
            EXPECT_FALSE(d.ok) << path.toStdString();
            EXPECT_TRUE(d.error.startsWith(QDir::toNativeSeparators(path) + ": ")) << d.error.toStdString();
        }
        // The header zeroed: no longer a file the converter knows.
        QByteArray blank = whole;
        std::fill(blank.begin(), blank.begin() + 2048, '\0');
        const decoded d = decodeRaw(writeFile("blank." + QFileInfo(source).suffix(), blank));
        EXPECT_FALSE(d.ok);
        EXPECT_TRUE(d.error.contains("failed to run the RAW converter")) << d.error.toStdString();
    }
    // Flipped bytes all through the picture data: whatever comes out stays on the working scale.
    QByteArray damaged = halvora::test::readBytes(kdcFile());
    for (qsizetype i = 20000; i < damaged.size(); i += 997)
        damaged[i] = char(damaged[i] ^ 0x5A);
    const decoded d = decodeRaw(writeFile("damaged.kdc", damaged));
    if (d.ok) {
        for (uint16_t v : d.rgb16)
            ASSERT_LE(v, 32640);
    }
}

TEST(rawConverter, metadataOnlyFilesAreRefusedBeforeDecoding) {
    HALVORA_REQUIRE_DATA();
    // Files from the metadata tool's test suite: real headers that declare millions of pixels, with
    // none behind them. Not one may come out as a black or random picture.
    const QDir stubs(dataFile("formats/raw/exiftool_stubs"));
    const QStringList names = stubs.entryList(QDir::Files);
    ASSERT_GE(names.size(), 9);
    for (const QString& name : names) {
        rawInfo_t info;
        exifInfo_t exif;
        QString error;
        EXPECT_FALSE(halvora::getRAWinfo_DCRAW(stubs.filePath(name), false, info, exif, &error))
            << name.toStdString();
        EXPECT_TRUE(error.contains(name)) << error.toStdString();
    }
}

TEST(rawConverter, thingsThatAreNoRegularFileAreRefusedAtOnce) {
    const QString dir = makeTempDir("notfiles");
    const QString fifo = QDir(dir).filePath("photo.nef");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString empty = writeFile("empty.cr2", QByteArray());
    const QString text = writeFile("notes.dng", QByteArray("no picture here, just some text\n").repeated(50));
    struct refusal {
        QString file;
        const char* reason;
    };
    for (const refusal& r :
         {refusal{fifo, "not a regular file"}, refusal{dir, "not a regular file"},
          refusal{empty, "the file is empty"}, refusal{dir + "/missing.arw", "does not exist"},
          refusal{text, "not RAW file"}}) {
        rawInfo_t info;
        exifInfo_t exif;
        QString error;
        EXPECT_FALSE(halvora::getRAWinfo_DCRAW(r.file, false, info, exif, &error)) << r.file.toStdString();
        EXPECT_TRUE(error.contains(r.reason)) << error.toStdString();
        QImage thumb;
        EXPECT_FALSE(halvora::getThumbFromRAW_DCRAW(r.file, thumb, &error));
        uint16_t pixel[3];
        EXPECT_FALSE(
            halvora::loadRAW_DCRAW(r.file, halvora::buildDcrawArgs({}, false), 1, 1, pixel, nullptr, &error));
    }
}

TEST(rawConverter, headersThatCrashTheRawLibraryAreRefused) {
    // Found by fuzz_raw in LibRaw 0.20's identification: a Hasselblad model name that overflows a fixed
    // buffer (the process aborts), and TIFF directories that make the parser read a wild address (the
    // last one only when the file is opened from memory). The files must be refused, and this test
    // program live on.
    for (const char* name : {"fuzz_raw_hasselblad_model_overflows_libraw.3fr",
                             "fuzz_raw_hasselblad_model_overflows_libraw_again.3fr",
                             "fuzz_raw_tiff_directory_makes_libraw_read_wild.dng",
                             "fuzz_raw_tiff_directory_makes_libraw_jump_to_null.dng",
                             "fuzz_raw_subifd_list_makes_libraw_read_wild_from_memory.dng"}) {
        const QString file = QString(HALVORA_SOURCE_DIR) + "/tests/imageio/regressions/" + name;
        ASSERT_TRUE(QFile::exists(file)) << name;
        rawInfo_t info;
        exifInfo_t exif;
        QString error;
        // A LibRaw that has the fault mended may read or refuse it; it must never take the program down.
        if (!halvora::getRAWinfo_DCRAW(file, true, info, exif, &error)) {
            EXPECT_TRUE(error.startsWith(QDir::toNativeSeparators(file) + ": ")) << error.toStdString();
        }
        QImage thumbnail;
        halvora::getThumbFromRAW_DCRAW(file, thumbnail, &error);
        uint16_t pixel[3];
        EXPECT_FALSE(
            halvora::loadRAW_DCRAW(file, halvora::buildDcrawArgs({}, false), 1, 1, pixel, nullptr, &error))
            << name;
    }
}

TEST(rawPictureDataInsideFile, stripsAndTilesOfEveryDirectoryMustFit) {
    using halvora::test::tiffBuilder;
    for (bool bigEndian : {false, true}) {
        // IFD0 → SubIFD (the raw picture, in tiles) → IFD1 linked as the next directory (a preview strip).
        tiffBuilder b(bigEndian);
        const uint32_t tile = b.addBlob(std::vector<uint8_t>(64, 7));
        const int ifd0 = b.addIfd(), raw = b.addIfd(), preview = b.addIfd();
        b.link(ifd0, 330, raw);
        b.setNext(ifd0, preview);
        b.longs(raw, 324, {tile, tile + 32});
        b.longs(raw, 325, {32, 32});
        b.longs(preview, 273, {tile});
        b.shorts(preview, 279, {16});
        const std::vector<uint8_t> whole = b.build();
        QString reason;
        EXPECT_TRUE(halvora::rawPictureDataInsideFile(whole.data(), whole.size(), reason))
            << reason.toStdString();

        // The last tile ends one byte past the file (the builder's size does not depend on the count).
        tiffBuilder d(bigEndian);
        const uint32_t t2 = d.addBlob(std::vector<uint8_t>(64, 7));
        const int d0 = d.addIfd(), dRaw = d.addIfd();
        d.link(d0, 330, dRaw);
        d.longs(dRaw, 324, {t2});
        d.longs(dRaw, 325, {0});
        const size_t size = d.build().size();
        tiffBuilder f(bigEndian);
        const uint32_t t3 = f.addBlob(std::vector<uint8_t>(64, 7));
        const int f0 = f.addIfd(), fRaw = f.addIfd();
        f.link(f0, 330, fRaw);
        f.longs(fRaw, 324, {t3});
        f.longs(fRaw, 325, {uint32_t(size) - t3 + 1});
        const std::vector<uint8_t> cut = f.build();
        ASSERT_EQ(cut.size(), size);
        EXPECT_FALSE(halvora::rawPictureDataInsideFile(cut.data(), cut.size(), reason));
        EXPECT_TRUE(reason.contains(QString("reach byte %1").arg(cut.size() + 1))) << reason.toStdString();

        // Directories that link to themselves and counts larger than the file end the walk, not the program.
        tiffBuilder e(bigEndian);
        const int e0 = e.addIfd();
        e.setNext(e0, e0);
        e.link(e0, 330, e0);
        e.raw(e0, 273, tiffBuilder::tLong, 0x40000000u, {0, 0, 0, 1});
        const std::vector<uint8_t> loop = e.build();
        EXPECT_TRUE(halvora::rawPictureDataInsideFile(loop.data(), loop.size(), reason));
    }
    // Not a TIFF structure: left to LibRaw.
    const uint8_t other[16] = {'F', 'U', 'J', 'I'};
    QString reason;
    EXPECT_TRUE(halvora::rawPictureDataInsideFile(other, sizeof other, reason));
}
