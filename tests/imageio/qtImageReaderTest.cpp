// JPEG, PNG and BMP through the toolkit: the size a file can back, damaged data reported by the
// JPEG decoder, and the capture of the decoder's messages per thread.

#include "imageio/qtImageReader.h"
#include "imageio/decoderMessages.h"
#include "support/testSupport.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QLoggingCategory>
#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace halvora;
using namespace halvora::test;

namespace {

/// A frame header (SOFn) and nothing else behind the start-of-image marker.
QByteArray jpegFrame(uint8_t marker, int width, int height, const std::vector<int>& sampling) {
    QByteArray b("\xff\xd8\xff", 3);
    b.append(char(marker));
    const int length = 8 + 3 * int(sampling.size());
    b.append(char(length >> 8)).append(char(length & 255)).append(char(8));
    b.append(char(height >> 8)).append(char(height & 255)).append(char(width >> 8)).append(char(width & 255));
    b.append(char(sampling.size()));
    for (size_t i = 0; i < sampling.size(); ++i)
        b.append(char(i + 1)).append(char(sampling[i])).append(char(0));
    return b;
}

declaredPicture declaredOf(const QByteArray& header, imageFormat format) {
    FILE* f = fmemopen(const_cast<char*>(header.constData()), size_t(header.size()), "rb");
    const declaredPicture d = declaredQtPicture(f, format);
    std::fclose(f);
    return d;
}

QImage uniform(int w, int h, QImage::Format format) {
    QImage img(w, h, format);
    img.fill(Qt::black);
    return img;
}

} // namespace

TEST(qtImageReader, JpegFloorsCountEveryBlockOfEveryComponent) {
    struct row {
        const char* what;
        uint8_t marker;
        int width, height;
        std::vector<int> sampling; ///< horizontal << 4 | vertical, per component
        uint64_t leastBytes;
    };
    // Worked out by hand: blocks per component = ⌈⌈W·h/hmax⌉/8⌉ × ⌈⌈H·v/vmax⌉/8⌉.
    const std::vector<row> rows = {
        // 4:2:0 8000 × 6000: Y 1000·750, Cb and Cr 500·375 each = 1,125,000 blocks, 2 bits each.
        {"baseline 4:2:0", 0xC0, 8000, 6000, {0x22, 0x11, 0x11}, 281250},
        // The same frame progressive: one bit per block for the first DC scan.
        {"progressive 4:2:0", 0xC2, 8000, 6000, {0x22, 0x11, 0x11}, 140625},
        // Grey 17 × 9: 3 × 2 blocks, 12 bits → 2 bytes.
        {"grey with partial blocks", 0xC0, 17, 9, {0x11}, 2},
        // 4:2:0 17 × 9: Y 3·2 = 6; chroma 9 × 5 samples → 2·1 = 2 each; 10 blocks, 20 bits → 3 bytes.
        {"odd size 4:2:0", 0xC1, 17, 9, {0x22, 0x11, 0x11}, 3},
        // Arithmetic coding can code a flat block in a fraction of a bit: no floor.
        {"arithmetic", 0xC9, 8000, 6000, {0x22, 0x11, 0x11}, 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        const declaredPicture d = declaredOf(jpegFrame(r.marker, r.width, r.height, r.sampling), formatJpeg);
        ASSERT_TRUE(d.known);
        EXPECT_EQ(d.width, r.width);
        EXPECT_EQ(d.height, r.height);
        EXPECT_EQ(d.leastBytes, r.leastBytes);
    }
    // Sampling factors of 0 or above 4 are no frame this bound can judge.
    EXPECT_FALSE(declaredOf(jpegFrame(0xC0, 64, 64, {0x05}), formatJpeg).known);
}

TEST(qtImageReader, TheMostCompressibleRealFilesAreNeverRefused) {
    // Flat black pictures compress as far as their format allows; each must still be accepted, so
    // the floors are known not to refuse a real file.
    const QString dir = makeTempDir("flat");
    struct sample {
        QString name;
        const char* format;
        QImage image;
        bool progressive;
        int quality;
    };
    const std::vector<sample> samples = {
        {"black.jpg", "jpeg", uniform(4000, 3000, QImage::Format_RGB32), false, 0},
        {"black_progressive.jpg", "jpeg", uniform(4000, 3000, QImage::Format_RGB32), true, 0},
        {"grey.jpg", "jpeg", uniform(4000, 3000, QImage::Format_Grayscale8), false, 0},
        {"black.png", "png", uniform(3000, 3000, QImage::Format_RGB32), false, 0},
        {"black_mono.png", "png", uniform(4000, 4000, QImage::Format_Mono), false, 0},
        {"black.bmp", "bmp", uniform(301, 7, QImage::Format_RGB888), false, -1},
    };
    for (const sample& s : samples) {
        SCOPED_TRACE(s.name.toStdString());
        QImageWriter writer(dir + "/" + s.name, s.format);
        writer.setQuality(s.quality);
        writer.setProgressiveScanWrite(s.progressive);
        ASSERT_TRUE(writer.write(s.image));
        const imageFormat format = imageFormatOf(s.name);
        int w = 0, h = 0;
        QString error;
        EXPECT_TRUE(qtImageInfo(dir + "/" + s.name, format, w, h, &error)) << error.toStdString();
        EXPECT_EQ(QSize(w, h), s.image.size());
    }
}

TEST(qtImageReader, AFileShortOfItsDeclaredSizeIsRefusedBeforeDecoding) {
    const QString dir = makeTempDir("short");
    // A stored BMP one row short (its last row needs no padding, so the cut is a real shortage).
    QImage img(33, 20, QImage::Format_RGB888);
    img.fill(Qt::red);
    ASSERT_TRUE(img.save(dir + "/full.bmp"));
    const QByteArray full = test::readBytes(dir + "/full.bmp");
    const int stride = (33 * 3 + 3) / 4 * 4;
    const QByteArray cut = full.left(full.size() - stride);
    ASSERT_TRUE(writeBytes(dir + "/cut.bmp", cut));
    int w = 0, h = 0;
    QString error;
    EXPECT_TRUE(qtImageInfo(dir + "/full.bmp", formatBmp, w, h, &error)) << error.toStdString();
    // The last row without its padding bytes is still whole.
    ASSERT_TRUE(writeBytes(dir + "/unpadded.bmp", full.left(full.size() - (stride - 33 * 3))));
    EXPECT_TRUE(qtImageInfo(dir + "/unpadded.bmp", formatBmp, w, h, &error)) << error.toStdString();
    EXPECT_FALSE(qtImageInfo(dir + "/cut.bmp", formatBmp, w, h, &error));
    EXPECT_EQ(
        error,
        QString("%1/cut.bmp: declares 33 × 20 pixels but holds only %2 bytes").arg(dir).arg(cut.size()));

    // Something that is no picture of its kind at all.
    ASSERT_TRUE(writeBytes(dir + "/text.png", "plain text, not a picture"));
    EXPECT_FALSE(qtImageInfo(dir + "/text.png", formatPng, w, h, &error));
    EXPECT_TRUE(error.startsWith(dir + "/text.png: is not a PNG picture")) << error.toStdString();
}

TEST(qtImageReader, DamagedJpegDataFailTheReadWholeOrInStrips) {
    HALVORA_REQUIRE_DATA();
    const QString dir = makeTempDir("damaged");
    const QByteArray photo = test::readBytes(dataFile("brackets/desk_canon_s45_13exp/img13.jpg"));
    // Cut in the middle of the scan and closed with an end-of-image marker: libjpeg fills the rest
    // with grey and reports it only as a warning.
    const qsizetype scan = photo.indexOf(QByteArray("\xff\xda", 2));
    ASSERT_GT(scan, 0);
    const QByteArray damaged = photo.left(scan + (photo.size() - scan) / 2) + QByteArray("\xff\xd9", 2);
    const QString path = dir + "/damaged.jpg";
    ASSERT_TRUE(writeBytes(path, damaged));
    const QSize size(1024, 768);

    QImage image;
    QString error;
    EXPECT_FALSE(qtImageRead(path, formatJpeg, size, QRect(), image, &error));
    EXPECT_EQ(error, path + ": damaged picture data: Corrupt JPEG data: premature end of data segment");
    // The bottom strip lies past the damage.
    EXPECT_FALSE(qtImageRead(path, formatJpeg, size, QRect(0, 700, 1024, 68), image, &error));
    EXPECT_TRUE(error.startsWith(path + ": damaged picture data: ")) << error.toStdString();

    // The intact photo reads, whole and in strips, and equals the toolkit's own decode.
    const QString good = dataFile("brackets/desk_canon_s45_13exp/img13.jpg");
    ASSERT_TRUE(qtImageRead(good, formatJpeg, size, QRect(), image, &error)) << error.toStdString();
    EXPECT_EQ(image.convertToFormat(QImage::Format_RGB32),
              QImage(good).convertToFormat(QImage::Format_RGB32));
    ASSERT_TRUE(qtImageRead(good, formatJpeg, size, QRect(0, 400, 1024, 100), image, &error));
    EXPECT_EQ(image.size(), QSize(1024, 100));

    // A file that changed its size since it was measured is not read into the old size.
    EXPECT_FALSE(qtImageRead(good, formatJpeg, QSize(1000, 768), QRect(), image, &error));
    EXPECT_EQ(error, good + ": now holds a 1024 × 768 picture instead of 1000 × 768");
}

TEST(qtImageReader, EachThreadCapturesOnlyTheMessagesOfItsOwnDecodes) {
    HALVORA_REQUIRE_DATA();
    const QString dir = makeTempDir("threads");
    const QString good = dataFile("brackets/desk_canon_s45_13exp/img13.jpg");
    const QByteArray photo = test::readBytes(good);
    const qsizetype scan = photo.indexOf(QByteArray("\xff\xda", 2));
    const QString damaged = dir + "/damaged.jpg";
    ASSERT_TRUE(
        writeBytes(damaged, photo.left(scan + (photo.size() - scan) / 3) + QByteArray("\xff\xd9", 2)));

    // A damaged and a good photo decoded at the same time, over and over: if a warning of one
    // thread reached the other's capture, the good photo would fail.
    std::atomic<int> goodFailures{0}, damagedPasses{0};
    auto decodeMany = [&](const QString& file, bool expectGood) {
        for (int i = 0; i < 25; ++i) {
            QImage image;
            QString error;
            const bool ok = qtImageRead(file, formatJpeg, QSize(1024, 768), QRect(), image, &error);
            if (expectGood && !ok) ++goodFailures;
            if (!expectGood && ok) ++damagedPasses;
        }
    };
    std::thread a(decodeMany, damaged, false), b(decodeMany, good, true);
    a.join();
    b.join();
    EXPECT_EQ(goodFailures.load(), 0);
    EXPECT_EQ(damagedPasses.load(), 0);
}

namespace {

Q_LOGGING_CATEGORY(jpegCategory, "qt.gui.imageio.jpeg")

std::mutex recordedMutex;
QStringList recorded;
void applicationHandler(QtMsgType, const QMessageLogContext&, const QString& text) {
    std::lock_guard lock(recordedMutex);
    recorded << text;
}
QtMessageHandler chainedTo = nullptr;
void chainingHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    applicationHandler(type, context, "chained: " + text);
    if (chainedTo) chainedTo(type, context, text);
}

} // namespace

TEST(decoderMessages, ImageMessagesAreCapturedAndEverythingElseReachesTheApplication) {
    const QtMessageHandler original = qInstallMessageHandler(applicationHandler);
    recorded.clear();
    {
        decoderMessages capture;
        qWarning("not about a picture");
        qCWarning(jpegCategory, "Corrupt JPEG data: 3 extraneous bytes before marker 0xd9");
        qCWarning(jpegCategory, "Corrupt JPEG data: bad Huffman code");
        EXPECT_EQ(capture.damage(), "Corrupt JPEG data: bad Huffman code");
        EXPECT_EQ(capture.first(), "Corrupt JPEG data: 3 extraneous bytes before marker 0xd9");
    }
    // Outside a capture the image plugins' messages go where they always went.
    qCWarning(jpegCategory, "Premature end of JPEG file");
    EXPECT_EQ(recorded, QStringList({"not about a picture", "Premature end of JPEG file"}));

    // An application handler installed later that passes messages on to the one before it (ours):
    // the next capture puts ours on top again, and no message goes round in a circle.
    recorded.clear();
    chainedTo = qInstallMessageHandler(chainingHandler);
    {
        decoderMessages capture;
        qWarning("once");
        qCWarning(jpegCategory, "Premature end of JPEG file");
        EXPECT_EQ(capture.damage(), "Premature end of JPEG file");
    }
    qWarning("twice");
    EXPECT_EQ(recorded, QStringList({"chained: once", "once", "chained: twice", "twice"}));
    qInstallMessageHandler(original);
    chainedTo = nullptr;
}
