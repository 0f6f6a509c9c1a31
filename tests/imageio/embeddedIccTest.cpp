// Colour profiles embedded in JPEG and TIFF files: what the writers embed is what exiftool (an
// independent reader) and our reader get back, across the JPEG segment limit too; damaged or lying
// profile data in a file are refused with a reason, never read past the file's end.

#include "imageio/embeddedIcc.h"
#include "imageio/imageSaver.h"
#include "support/testSupport.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <vector>

using namespace halvora;

namespace {

QByteArray exiftoolIcc(const QString& file) {
    QProcess p;
    p.start("exiftool", {"-b", "-icc_profile", file});
    if (!p.waitForFinished(30000) || p.exitCode() != 0) return {};
    return p.readAllStandardOutput();
}

/// Bytes that look like nothing but a profile's payload, `n` long.
QByteArray fakeProfile(int n) {
    QByteArray b(n, 0);
    for (int i = 0; i < n; ++i)
        b[i] = char((unsigned(i) * 131u + (unsigned(i) >> 8)) & 0xFFu);
    return b;
}

/// SOI, one APP2 profile segment built by hand from `payload` with the given number and count, EOI.
QByteArray jpegWithSegment(const QByteArray& payload, int number, int count, int lengthDelta = 0) {
    QByteArray j("\xFF\xD8", 2);
    const int length = 2 + 14 + int(payload.size()) + lengthDelta;
    j += char(0xFF);
    j += char(0xE2);
    j += char((length >> 8) & 0xFF);
    j += char(length & 0xFF);
    j += QByteArray("ICC_PROFILE", 12);
    j += char(number);
    j += char(count);
    j += payload;
    j += QByteArray("\xFF\xD9", 2);
    return j;
}

} // namespace

TEST(embeddedIcc, writersEmbedWhatExiftoolAndOurReaderReadBack) {
    const QString dir = test::makeTempDir("icc");
    const int w = 40, h = 24;
    std::vector<uint16_t> picture(size_t(w) * h * 3);
    for (size_t i = 0; i < picture.size(); ++i)
        picture[i] = uint16_t((i * 977) % 32641);
    const bool exiftool = !QStandardPaths::findExecutable("exiftool").isEmpty();
    // A real profile size and one that needs three JPEG segments.
    for (int size : {3144, 150000}) {
        const QByteArray icc = fakeProfile(size);
        const QString jpeg = dir + QStringLiteral("/r%1.jpg").arg(size);
        const QString tiff = dir + QStringLiteral("/r%1.tif").arg(size);
        QString error;
        ASSERT_TRUE(imageSaver::saveResultJPEG(jpeg, picture.data(), w, h, 90, 300, {}, &error, icc))
            << error.toStdString();
        ASSERT_TRUE(imageSaver::saveResultTIFF(tiff, picture.data(), w, h, 2, 1, 300, {}, &error, icc))
            << error.toStdString();
        for (const QString& file : {jpeg, tiff}) {
            QByteArray back;
            EXPECT_TRUE(readEmbeddedIcc(file, file.endsWith(".tif"), back, &error)) << error.toStdString();
            EXPECT_EQ(back, icc) << file.toStdString();
            if (exiftool) {
                EXPECT_EQ(exiftoolIcc(file), icc) << file.toStdString();
            }
        }
        // The JFIF segment still follows the start of image directly, and the picture decodes.
        QFile f(jpeg);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray head = f.read(4);
        EXPECT_EQ(head, QByteArray("\xFF\xD8\xFF\xE0", 4));
        EXPECT_EQ(QImage(jpeg).size(), QSize(w, h));
    }
    // Without a profile nothing is embedded and the reader says so without failing.
    const QString none = dir + "/none.jpg";
    ASSERT_TRUE(imageSaver::saveResultJPEG(none, picture.data(), w, h, 90, 300, {}, nullptr));
    QByteArray back("x");
    EXPECT_TRUE(readEmbeddedIcc(none, false, back, nullptr));
    EXPECT_TRUE(back.isEmpty());
    // Larger than 255 JPEG segments can carry: refused, no file made.
    const QString huge = dir + "/huge.jpg";
    QString error;
    EXPECT_FALSE(imageSaver::saveResultJPEG(huge, picture.data(), w, h, 90, 300, {}, &error,
                                            fakeProfile(255 * 65519 + 1)));
    EXPECT_FALSE(QFile::exists(huge));
    EXPECT_TRUE(error.contains("huge.jpg"));
}

TEST(embeddedIcc, damagedProfileDataAreRefusedWithAReason) {
    const QString dir = test::makeTempDir("iccbad");
    const QByteArray payload = fakeProfile(300);
    struct jpegCase {
        const char* name;
        QByteArray bytes;
        const char* reason;
    };
    QByteArray twoOfOne = jpegWithSegment(payload, 1, 2); // the second of two segments never comes
    QByteArray twice = jpegWithSegment(payload, 1, 1);
    twice.insert(twice.size() - 2, jpegWithSegment(payload, 1, 1).mid(2, 2 + 2 + 14 + 300));
    const std::vector<jpegCase> jpegs = {
        {"past_end.jpg", jpegWithSegment(payload, 1, 1, 5000), "reaches past the end"},
        {"number_zero.jpg", jpegWithSegment(payload, 0, 1), "damaged colour profile segments"},
        {"number_above_count.jpg", jpegWithSegment(payload, 3, 2), "damaged colour profile segments"},
        {"missing_part.jpg", twoOfOne, "missing"},
        {"twice.jpg", twice, "twice"},
        {"not_jpeg.jpg", QByteArray("GIF89a........"), "not a JPEG"},
    };
    for (const jpegCase& c : jpegs) {
        const QString path = dir + "/" + c.name;
        ASSERT_TRUE(test::writeBytes(path, c.bytes));
        QByteArray icc;
        QString error;
        EXPECT_FALSE(readEmbeddedIcc(path, false, icc, &error)) << c.name;
        EXPECT_TRUE(error.contains(c.reason)) << c.name << ": " << error.toStdString();
        EXPECT_TRUE(error.contains(c.name)) << "the file is named";
        EXPECT_TRUE(icc.isEmpty());
    }

    // TIFF: a directory entry for the profile whose data lie beyond the file, then one whose count
    // is absurd, then a directory offset outside the file.
    auto tiff = [](uint32_t iccOffset, uint32_t iccCount, uint32_t dirOffset) {
        QByteArray t("II*\0", 4);
        for (int i = 0; i < 4; ++i)
            t += char((dirOffset >> (8 * i)) & 0xFF);
        t += QByteArray(1, 1) + QByteArray(1, 0); // one entry
        const uint16_t tag = 34675, type = 7;
        t += char(tag & 0xFF);
        t += char(tag >> 8);
        t += char(type);
        t += char(0);
        for (uint32_t v : {iccCount, iccOffset})
            for (int i = 0; i < 4; ++i)
                t += char((v >> (8 * i)) & 0xFF);
        t += QByteArray(4, 0);
        t += QByteArray(64, 'p');
        return t;
    };
    struct tiffCase {
        const char* name;
        QByteArray bytes;
        const char* reason;
    };
    const std::vector<tiffCase> tiffs = {
        {"icc_past_end.tif", tiff(30, 1000, 8), "past the end"},
        {"icc_huge.tif", tiff(30, 0xFFFFFFF0u, 8), "too large"},
        {"dir_outside.tif", tiff(30, 40, 0x7FFFFFF0u), "outside the file"},
        {"short.tif", QByteArray("II*\0", 4), "shorter than its header"},
    };
    for (const tiffCase& c : tiffs) {
        const QString path = dir + "/" + c.name;
        ASSERT_TRUE(test::writeBytes(path, c.bytes));
        QByteArray icc;
        QString error;
        EXPECT_FALSE(readEmbeddedIcc(path, true, icc, &error)) << c.name;
        EXPECT_TRUE(error.contains(c.reason)) << c.name << ": " << error.toStdString();
    }
    // The same layout with the profile inside the file reads it.
    const QString good = dir + "/good.tif";
    ASSERT_TRUE(test::writeBytes(good, tiff(30, 40, 8)));
    QByteArray icc;
    EXPECT_TRUE(readEmbeddedIcc(good, true, icc, nullptr));
    EXPECT_EQ(icc, QByteArray(40, 'p'));
}
