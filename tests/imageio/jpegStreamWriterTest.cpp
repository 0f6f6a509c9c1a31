// The streaming JPEG writer: the same file as Qt's encoder for a real photo, bands in any sizes giving
// one file, and misuse (too many rows, finishing early, no open stream) refused without a file.

#include "imageio/jpegStreamWriter.h"
#include "support/testSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <gtest/gtest.h>
#include <vector>

namespace {

TEST(jpegStreamWriter, writesWhatQtsEncoderWritesForARealPhotoInAnyBands) {
    HALVORA_REQUIRE_DATA();
    QImageReader reader(halvora::test::dataFile("brackets/iphone_xr_night_9exp/IMG_3872.jpeg"));
    reader.setAutoTransform(false);
    reader.setScaledSize(reader.size() / 4);
    const QImage photo = reader.read().convertToFormat(QImage::Format_RGB888);
    ASSERT_FALSE(photo.isNull());
    const int w = photo.width(), h = photo.height();
    // Working scale: 8-bit v as v × 128 plus a remainder the writer must drop (>> 7).
    std::vector<uint16_t> px(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < w * 3; ++i)
            px[size_t(y) * w * 3 + i] = uint16_t(photo.constScanLine(y)[i] * 128 + (i % 128));
    const QString dir = halvora::test::makeTempDir("jpegstream");

    QImage qtCopy(photo);
    qtCopy.setDotsPerMeterX(int(300 * 39.37));
    qtCopy.setDotsPerMeterY(int(300 * 39.37));
    QImageWriter qt(dir + "/qt.jpg", "jpg");
    qt.setQuality(95);
    ASSERT_TRUE(qt.write(qtCopy));

    for (const int band : {h, 1, 17, 100}) {
        const QString name = dir + QString("/band%1.jpg").arg(band);
        jpegStreamWriter writer;
        ASSERT_TRUE(writer.open(name, w, h, 95, 300, nullptr));
        for (int y = 0; y < h; y += band)
            ASSERT_TRUE(writer.writeRows(px.data() + size_t(y) * w * 3, std::min(band, h - y), {}, nullptr));
        EXPECT_FALSE(QFileInfo::exists(name)) << "named before it is complete";
        ASSERT_TRUE(writer.finish(nullptr));
        EXPECT_EQ(halvora::test::readBytes(name), halvora::test::readBytes(dir + "/qt.jpg"))
            << "bands of " << band;
    }
}

TEST(jpegStreamWriter, refusesMisuseAndLeavesNoFile) {
    const int w = 40, h = 30;
    std::vector<uint16_t> px(size_t(w) * h * 3, 16000);
    const QString dir = halvora::test::makeTempDir("jpegmisuse");
    QString error;

    {
        jpegStreamWriter writer;
        EXPECT_FALSE(writer.writeRows(px.data(), 1, {}, &error));
        EXPECT_FALSE(writer.finish(&error));
    }
    {
        jpegStreamWriter writer;
        ASSERT_TRUE(writer.open(dir + "/rows.jpg", w, h, 90, 72, nullptr));
        EXPECT_FALSE(writer.writeRows(px.data(), h + 1, {}, &error));
        EXPECT_TRUE(error.contains("31 rows do not fit")) << error.toStdString();
        ASSERT_TRUE(writer.writeRows(px.data(), h - 1, {}, nullptr));
        EXPECT_FALSE(writer.finish(&error));
        EXPECT_EQ(error, dir + "/rows.jpg: only 29 of 30 rows were written");
        EXPECT_FALSE(writer.writeRows(px.data(), 2, {}, &error));
    }
    EXPECT_FALSE(QFileInfo::exists(dir + "/rows.jpg"));
    {
        jpegStreamWriter writer;
        EXPECT_FALSE(writer.open(dir + "/huge.jpg", 70000, 2, 90, 72, &error));
        EXPECT_TRUE(error.contains("too large for JPEG")) << error.toStdString();
        EXPECT_FALSE(writer.open(dir + "/none.jpg", 0, 5, 90, 72, &error));
        EXPECT_FALSE(writer.open(dir + "/missing/x.jpg", w, h, 90, 72, &error));
        EXPECT_TRUE(error.startsWith(dir + "/missing/x.jpg: ")) << error.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(dir + "/huge.jpg"));
}

} // namespace
