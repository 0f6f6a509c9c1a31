// The header a JPEG stream starts with, and moving a metadata tool's segments from a stand-in onto the
// complete picture: expected bytes are put together here from the files' own segments, and every
// file that is not what the splice expects is refused with the target left as it was.

#include "imageio/jpegSegments.h"
#include "imageio/jpegStreamWriter.h"
#include "support/testSupport.h"

#include <QFile>
#include <gtest/gtest.h>

#include <vector>

namespace {

using halvora::test::makeTempDir;

QByteArray jpegFileBytes(const QString& name) {
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void putJpegBytes(const QString& name, const QByteArray& bytes) {
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// A finished 200 × 120 gradient; `header` receives what the stream reported after its first row.
QByteArray writeGradientStream(const QString& name, int quality, const QByteArray& icc, QByteArray* header) {
    const int w = 200, h = 120;
    std::vector<uint16_t> rgb(size_t(w) * h * 3);
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = uint16_t((i * 97) % 32640);
    jpegStreamWriter writer;
    QString error;
    EXPECT_TRUE(writer.open(name, w, h, quality, 240, &error, icc)) << error.toStdString();
    EXPECT_TRUE(writer.headerBytes().isEmpty()) << "no header before the first row";
    EXPECT_TRUE(writer.writeRows(rgb.data(), 1, {}, &error));
    *header = writer.headerBytes();
    EXPECT_TRUE(writer.writeRows(rgb.data() + size_t(w) * 3, h - 1, {}, &error));
    EXPECT_TRUE(writer.finish(&error)) << error.toStdString();
    return jpegFileBytes(name);
}

QByteArray metadataSegment(unsigned marker, const QByteArray& payload) {
    QByteArray s("\xFF", 1);
    s += char(marker);
    const int length = int(payload.size()) + 2;
    s += char(length >> 8);
    s += char(length & 0xFF);
    return s + payload;
}

} // namespace

TEST(jpegSegments, theStreamHeaderIsTheStartOfTheFinishedFile) {
    const QString dir = makeTempDir("jpegHeader");
    for (const QByteArray& icc : {QByteArray(), QByteArray(3000, 'p')}) {
        SCOPED_TRACE(icc.size());
        QByteArray header;
        const QByteArray file = writeGradientStream(dir + "/a.jpg", 90, icc, &header);
        ASSERT_FALSE(header.isEmpty());
        EXPECT_TRUE(file.startsWith(header));
        EXPECT_EQ(halvora::jpegScanHeaderEnd(file), header.size());
        // The picture's own segments start after the JFIF (and profile) segments, with the tables.
        const qsizetype start = halvora::jpegPictureSegmentsStart(header);
        ASSERT_GT(start, 2);
        EXPECT_EQ(uchar(header[start + 1]), 0xDB);
        EXPECT_EQ(header.contains("ICC_PROFILE"), !icc.isEmpty());
    }
    // Damaged or cut data has no header.
    for (const QByteArray& bad :
         {QByteArray(), QByteArray("\xFF\xD8", 2), QByteArray("\xFF\xD8\xFF\xE0\x00\x01", 6),
          QByteArray("\xFF\xD8\xFF\xE0\xFF\xFF", 6), QByteArray(64, '\0')}) {
        EXPECT_EQ(halvora::jpegScanHeaderEnd(bad), 0);
        EXPECT_EQ(halvora::jpegPictureSegmentsStart(bad), 0);
    }
}

TEST(jpegSegments, theStandInsMetadataMovesOntoThePicture) {
    const QString dir = makeTempDir("jpegSplice");
    QByteArray header;
    const QByteArray picture = writeGradientStream(dir + "/result.jpg", 95, QByteArray(), &header);
    const qsizetype own = halvora::jpegPictureSegmentsStart(header);
    // What a tool leaves in the stand-in: its metadata in front of the unchanged picture segments.
    const QByteArray metadata = QByteArray("\xFF\xD8", 2) + metadataSegment(0xE0, header.mid(6, own - 6)) +
                                metadataSegment(0xE1, "Exif\0\0tags") + metadataSegment(0xFE, "a comment");
    const QByteArray tagged = metadata + header.mid(own) + QByteArray("\xFF\xD9", 2);
    putJpegBytes(dir + "/tagged.jpg", tagged);
    QString error;
    ASSERT_TRUE(halvora::spliceJpegMetadata(dir + "/result.jpg", header, dir + "/tagged.jpg", &error))
        << error.toStdString();
    EXPECT_EQ(jpegFileBytes(dir + "/result.jpg"), metadata + picture.mid(own));

    // Refused, the target untouched: another header, a tool that changed the tables or added a trailer,
    // damaged stand-ins.
    const QString target = dir + "/second.jpg";
    QByteArray otherHeader;
    const QByteArray second = writeGradientStream(target, 80, QByteArray(), &otherHeader);
    const QByteArray taggedSecond = metadata + otherHeader.mid(own) + QByteArray("\xFF\xD9", 2);
    QByteArray changedTables = taggedSecond;
    changedTables[metadata.size() + 10] = char(changedTables[metadata.size() + 10] ^ 1);
    const struct {
        const char* what;
        QByteArray header, tagged;
    } refusals[] = {
        {"another header", header, taggedSecond},
        {"changed tables", otherHeader, changedTables},
        {"trailer", otherHeader, taggedSecond + "trailer"},
        {"cut stand-in", otherHeader, taggedSecond.left(40)},
        {"not a JPEG", otherHeader, QByteArray(500, 'x')},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.what);
        putJpegBytes(dir + "/bad.jpg", r.tagged);
        error.clear();
        EXPECT_FALSE(halvora::spliceJpegMetadata(target, r.header, dir + "/bad.jpg", &error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(jpegFileBytes(target), second);
    }
    EXPECT_FALSE(halvora::spliceJpegMetadata(dir + "/missing.jpg", header, dir + "/tagged.jpg", &error));
    EXPECT_TRUE(error.contains("missing.jpg"));
    // The same stand-in unchanged does serve the second picture.
    putJpegBytes(dir + "/good.jpg", taggedSecond);
    EXPECT_TRUE(halvora::spliceJpegMetadata(target, otherHeader, dir + "/good.jpg", &error));
    EXPECT_EQ(jpegFileBytes(target), metadata + second.mid(own));
}
