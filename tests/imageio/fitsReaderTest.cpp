// FITS reader: header cards, data position, the tone-compression curve with hand-computed values,
// plane and row order, camera fields, real astronomical files and hostile headers.

#include "base/parallelFor.h"
#include "imageio/exifInfo.h"
#include "imageio/imageLoader.h"
#include "support/testSupport.h"

#include <QtEndian>
#include <bit>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

using namespace halvora::test;

namespace {

QByteArray card(const std::string& text) {
    std::string c = text.substr(0, 80);
    c.resize(80, ' ');
    return QByteArray(c.data(), 80);
}

QByteArray keyValue(const char* key, const std::string& value) {
    char buf[81];
    std::snprintf(buf, sizeof buf, "%-8s= %20s", key, value.c_str());
    return card(buf);
}

// Header cards + END, blank-padded to 2880, then the data padded to 2880.
QByteArray fitsFile(const std::vector<QByteArray>& cards, const QByteArray& data, bool padData = true) {
    QByteArray out = card("SIMPLE  =                    T");
    for (const QByteArray& c : cards)
        out += c;
    out += card("END");
    out += QByteArray((2880 - out.size() % 2880) % 2880, ' ');
    out += data;
    if (padData) out += QByteArray((2880 - data.size() % 2880) % 2880, '\0');
    return out;
}

// Samples as a FITS file stores them: big-endian 16- or 32-bit integers or 32-bit floats.
template <class T, class Bits = std::conditional_t<sizeof(T) == 2, uint16_t, uint32_t>>
QByteArray bigEndianData(const std::vector<T>& values) {
    QByteArray out;
    for (T v : values) {
        const Bits be = qToBigEndian(std::bit_cast<Bits>(v));
        out.append(reinterpret_cast<const char*>(&be), sizeof be);
    }
    return out;
}
QByteArray int16Data(const std::vector<int16_t>& values) {
    return bigEndianData(values);
}
QByteArray int32Data(const std::vector<int32_t>& values) {
    return bigEndianData(values);
}
QByteArray floatData(const std::vector<float>& values) {
    return bigEndianData(values);
}

std::vector<QByteArray> imageCards(int bitpix, int width, int height, int channels = 0) {
    std::vector<QByteArray> c = {
        keyValue("BITPIX", std::to_string(bitpix)), keyValue("NAXIS", channels ? "3" : "2"),
        keyValue("NAXIS1", std::to_string(width)), keyValue("NAXIS2", std::to_string(height))};
    if (channels) c.push_back(keyValue("NAXIS3", std::to_string(channels)));
    return c;
}

struct loadedFits {
    bool infoOk = false, loadOk = false;
    QString path;
    QString error; ///< the reason of a refusal, "<file>: <reason>"
    int width = 0, height = 0, channels = 0, bitpix = 0;
    qint64 dataPosition = 0;
    exifInfo_t exif;
    std::vector<uint16_t> pixels;
};

loadedFits loadFits(const QString& path) {
    loadedFits l;
    l.path = path;
    l.infoOk = imageLoader::getFITSinfo(path, l.width, l.height, l.channels, l.bitpix, l.dataPosition,
                                        &l.exif, &l.error);
    if (!l.infoOk) return l;
    l.pixels.assign(size_t(l.width) * l.height * 3, 0xffff);
    l.loadOk = imageLoader::loadFITS(path, l.width, l.height, l.pixels.data(), &l.error);
    return l;
}

loadedFits loadFitsBytes(const QByteArray& bytes) {
    const QString path = makeTempDir("fits") + "/picture.fits";
    EXPECT_TRUE(writeBytes(path, bytes));
    return loadFits(path);
}

} // namespace

TEST(fitsReader, toneCurveMapsMinimumToBlackAndMaximumToFullScale) {
    // Values 0 … 1000: t = v / 1000. Expected samples worked out by hand from
    // y = 1.5385 t^0.6 − 0.5385 t^1.3, truncate(y × 32640):
    //   t = 0.01 → 0.0957201 → 3124;  t = 0.1 → 0.3594648 → 11732;  t = 0.25 → 0.5808516 → 18958;
    //   t = 0.5 → 0.7963325 → 25992;  t = 1 → 1 → 32640.
    const loadedFits l =
        loadFitsBytes(fitsFile(imageCards(16, 6, 1), int16Data({0, 10, 100, 250, 500, 1000})));
    ASSERT_TRUE(l.loadOk);
    const uint16_t expected[6] = {0, 3124, 11732, 18958, 25992, 32640};
    for (int x = 0; x < 6; ++x) {
        EXPECT_EQ(l.pixels[x * 3], expected[x]) << x;
        EXPECT_EQ(l.pixels[x * 3 + 1], expected[x]) << x; // one channel → grey
        EXPECT_EQ(l.pixels[x * 3 + 2], expected[x]) << x;
    }
    // Negative minimum: the same curve over -1000 … 0.
    const loadedFits n = loadFitsBytes(fitsFile(imageCards(16, 3, 1), int16Data({-1000, -500, 0})));
    ASSERT_TRUE(n.loadOk);
    EXPECT_EQ(n.pixels[0], 0);
    EXPECT_EQ(n.pixels[3], 25992);
    EXPECT_EQ(n.pixels[6], 32640);
}

TEST(fitsReader, rowsBottomUpAndPlanesPerChannel) {
    // 2 × 2 × 3, int32. File order: plane R rows (bottom, top), then G, then B.
    // Values 0 and 1000 only, so samples are 0 or 32640.
    const std::vector<int32_t> values = {0,    0,    1000, 1000, // R: bottom row 0, top row 1000
                                         1000, 0,    1000, 0,    // G: left column 1000
                                         0,    1000, 0,    0};   // B: bottom right only
    const loadedFits l = loadFitsBytes(fitsFile(imageCards(32, 2, 2, 3), int32Data(values)));
    ASSERT_TRUE(l.loadOk);
    EXPECT_EQ(l.channels, 3);
    const uint16_t F = 32640;
    const uint16_t expected[12] = {F, F, 0, F, 0, 0,  // top row
                                   0, F, 0, 0, 0, F}; // bottom row
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(l.pixels[i], expected[i]) << i;
}

TEST(fitsReader, floatDataWithNanAndInfinity) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const loadedFits l =
        loadFitsBytes(fitsFile(imageCards(-32, 6, 1), floatData({-2.0f, 0.0f, 2.0f, nan, inf, -inf})));
    ASSERT_TRUE(l.loadOk);
    // Min and max come from the finite values only (-2 … 2); t = 0.5 at 0.
    EXPECT_EQ(l.pixels[0], 0);
    EXPECT_EQ(l.pixels[3], 25992);
    EXPECT_EQ(l.pixels[6], 32640);
    EXPECT_EQ(l.pixels[9], 0);
    EXPECT_EQ(l.pixels[12], 32640);
    EXPECT_EQ(l.pixels[15], 0);
}

TEST(fitsReader, constantPictureLoadsBlack) {
    logCapture log;
    const loadedFits l = loadFitsBytes(fitsFile(imageCards(16, 3, 2), int16Data({7, 7, 7, 7, 7, 7})));
    ASSERT_TRUE(l.loadOk);
    for (uint16_t s : l.pixels)
        EXPECT_EQ(s, 0);
    EXPECT_TRUE(log.contains("FITS: min=7.000000, max=7.000000\n")) << log.text();
}

TEST(fitsReader, dataStartAtTheBlockBoundaryEvenWhenItLooksBlank) {
    // 35 cards: SIMPLE + 33 + END = 2800 bytes … use 34 more cards so that END ends exactly at 2880.
    std::vector<QByteArray> cards = imageCards(16, 2, 1);
    while (cards.size() < 34)
        cards.push_back(card("COMMENT   padding"));
    // 0x2020 (two blanks) = 8224 is a real value and must not be skipped.
    QByteArray bytes = fitsFile(cards, int16Data({0x2020, 0}));
    ASSERT_EQ(bytes.indexOf("END     "), 2880 - 80);
    const loadedFits l = loadFitsBytes(bytes);
    ASSERT_TRUE(l.loadOk);
    EXPECT_EQ(l.dataPosition, 2880);
    EXPECT_EQ(l.pixels[0], 32640);
    EXPECT_EQ(l.pixels[3], 0);
}

TEST(fitsReader, cameraFieldsFromTheHeader) {
    std::vector<QByteArray> cards = imageCards(16, 2, 1);
    cards.push_back(keyValue("EXPTIME", "6.5D+01"));
    cards.push_back(keyValue("SNAPSHOT", "5"));
    cards.push_back(keyValue("FOCALLEN", "1000"));
    cards.push_back(keyValue("APTDIA", "250"));
    cards.push_back(card("TELESCOP= 'UK Schmidt - Doubl'  / telescope"));
    cards.push_back(card("INSTRUME= 'Photographic Plate'"));
    cards.push_back(card("DATE-OBS= '1990-12-22T13:49:00'"));
    cards.push_back(card("TIME-OBS= '13:49:00'"));
    cards.push_back(card("COMMENT BITPIX  = 8 in a comment does not count"));
    logCapture log;
    const loadedFits l = loadFitsBytes(fitsFile(cards, int16Data({1, 2})));
    ASSERT_TRUE(l.loadOk);
    EXPECT_FLOAT_EQ(l.exif.exposureTime, 13.0f);
    EXPECT_EQ(l.exif.iso, 100);
    EXPECT_FLOAT_EQ(l.exif.fNumber, 4.0f);
    EXPECT_FLOAT_EQ(l.exif.focalLength, 1000.0f);
    EXPECT_STREQ(l.exif.cameraMake, "UK Schmidt - Doubl");
    EXPECT_STREQ(l.exif.cameraModel, "Photographic Plate");
    EXPECT_STREQ(l.exif.dateTime, "13:49:00 1990-12-22T13:4"); // first 15 characters of each
    EXPECT_TRUE(log.contains("FITS: naxis=2, channels=1, bitpix=16, dataPtr=2880\n")) << log.text();
    EXPECT_TRUE(log.contains("FITS: dataPtr=0xb40\n")) << log.text();

    // Defaults: exposure 1 s, F-number and focal length 1.
    const loadedFits d = loadFitsBytes(fitsFile(imageCards(16, 2, 1), int16Data({1, 2})));
    ASSERT_TRUE(d.infoOk);
    EXPECT_FLOAT_EQ(d.exif.exposureTime, 1.0f);
    EXPECT_FLOAT_EQ(d.exif.fNumber, 1.0f);
    EXPECT_STREQ(d.exif.cameraMake, "");
}

TEST(fitsReader, hostileHeadersAreRefusedWithTheirMessages) {
    struct hostile {
        const char* name;
        QByteArray bytes;
        const char* log;
    };
    // Files kept as reader regressions (other formats, sizes, channels) are checked with them.
    const std::vector<hostile> cases = {
        {"bitpix absent", fitsFile({keyValue("NAXIS", "2")}, QByteArray(32, 'a')),
         "wrong data format (BITPIX 0)"},
        {"one axis",
         fitsFile({keyValue("BITPIX", "16"), keyValue("NAXIS", "1"), keyValue("NAXIS1", "5")},
                  QByteArray(10, 'a')),
         "wrong number of axes (1)"},
        {"cut in the header", fitsFile(imageCards(16, 2, 2), {}).left(200), "header seems to be incorrect"},
        {"empty", QByteArray(), "is empty (0 bytes)"},
        {"zero width", fitsFile(imageCards(16, 0, 2), QByteArray(8, 'a')), "wrong image size (0 x 2)"},
    };
    for (const hostile& c : cases) {
        SCOPED_TRACE(c.name);
        const loadedFits l = loadFitsBytes(c.bytes);
        EXPECT_FALSE(l.infoOk);
        EXPECT_TRUE(l.error.startsWith(l.path + ": ")) << l.error.toStdString();
        EXPECT_TRUE(l.error.contains(QString::fromUtf8(c.log))) << l.error.toStdString();
    }

    // A load asked for another size than the file has is refused.
    const QString path = makeTempDir("fits") + "/small.fits";
    ASSERT_TRUE(writeBytes(path, fitsFile(imageCards(16, 2, 1), int16Data({1, 2}))));
    std::vector<uint16_t> buffer(3 * 2 * 3);
    EXPECT_FALSE(imageLoader::loadFITS(path, 3, 2, buffer.data(), nullptr));
    EXPECT_FALSE(imageLoader::loadFITS(path + ".missing", 2, 1, buffer.data(), nullptr));
}

TEST(fitsReader, sameResultWithOneOrSeveralThreads) {
    HALVORA_REQUIRE_DATA();
    const QString path = dataFile("formats/fits/M13_blue_0001.fits");
    halvora::setThreadCountOverride(1);
    const loadedFits one = loadFits(path);
    halvora::setThreadCountOverride(3);
    const loadedFits three = loadFits(path);
    halvora::setThreadCountOverride(0);
    ASSERT_TRUE(one.loadOk);
    ASSERT_TRUE(three.loadOk);
    EXPECT_TRUE(one.pixels == three.pixels);
}

TEST(fitsReader, realFilesLoadOrAreRefusedWithTheirMessages) {
    HALVORA_REQUIRE_DATA();
    struct realFile {
        const char* name;
        int width, height, bitpix;
    };
    const std::vector<realFile> loadable = {
        {"HorseHead.fits", 891, 893, 16},       {"M13_blue_0001.fits", 1392, 1040, 16},
        {"M13_blue_0002.fits", 1392, 1040, 16}, {"M13_blue_0003.fits", 1392, 1040, 16},
        {"gc_2mass_k.fits", 721, 720, 16},      {"trace_1998-05-19T22-21-43_171_1024.fits", 1024, 1024, 16},
    };
    for (const realFile& f : loadable) {
        SCOPED_TRACE(f.name);
        logCapture log;
        const loadedFits l = loadFits(dataFile(QString("formats/fits/") + f.name));
        ASSERT_TRUE(l.infoOk) << log.text();
        ASSERT_TRUE(l.loadOk) << log.text();
        EXPECT_EQ(l.width, f.width);
        EXPECT_EQ(l.height, f.height);
        EXPECT_EQ(l.bitpix, f.bitpix);
        EXPECT_EQ(l.channels, 1);
        EXPECT_EQ(l.dataPosition % 2880, 0);
        uint16_t lo = 0xffff, hi = 0;
        for (uint16_t s : l.pixels) {
            lo = std::min(lo, s);
            hi = std::max(hi, s);
        }
        EXPECT_EQ(lo, 0);
        EXPECT_EQ(hi, 32640);
    }

    const loadedFits horse = loadFits(dataFile("formats/fits/HorseHead.fits"));
    EXPECT_STREQ(horse.exif.cameraMake, "UK Schmidt - Doubl");
    EXPECT_STREQ(horse.exif.cameraModel, "Photographic Plate");
    EXPECT_FLOAT_EQ(horse.exif.exposureTime, 1.0f); // it states EXPOSURE (in minutes), not EXPTIME
    const loadedFits m13 = loadFits(dataFile("formats/fits/M13_blue_0001.fits"));
    EXPECT_FLOAT_EQ(m13.exif.exposureTime, 5.0f);
    EXPECT_STREQ(m13.exif.cameraModel, "Orion SSDSI");

    struct refused {
        const char* name;
        const char* log;
    };
    // The Hubble file has four chips (NAXIS3 = 4) behind a header of 263 cards, beyond the 256 read.
    for (const refused& r : {refused{"WFPC2u5780205r_c0fx.fits", "header seems to be incorrect"},
                             refused{"exiftool_FITS_stub.fits", "wrong data format (BITPIX 8)"}}) {
        SCOPED_TRACE(r.name);
        const loadedFits l = loadFits(dataFile(QString("formats/fits/") + r.name));
        EXPECT_FALSE(l.infoOk);
        EXPECT_TRUE(l.error.contains(r.log)) << l.error.toStdString();
    }
}
