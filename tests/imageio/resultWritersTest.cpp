// Result writers: JPEG and TIFF files checked by reading them back (QImage, a small independent TIFF
// decoder here, libtiff's tiffinfo/tiffcmp when installed), the replace-only-on-success rule and
// refused sizes.

#include "base/parallelFor.h"
#include "base/rgbBuffers.h"
#include "base/runContext.h"
#include "imageio/imageSaver.h"
#include "plainTiff.h"
#include "support/testSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using halvora::test::decodePlainTiff;
using halvora::test::plainTiff;

namespace {

/// A deterministic working-scale picture: ramps, a checker band and both ends of the scale.
std::vector<uint16_t> testPicture(int w, int h) {
    std::vector<uint16_t> px(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint16_t* p = &px[(size_t(y) * w + x) * 3];
            p[0] = uint16_t((x * 32640) / std::max(1, w - 1));
            p[1] = uint16_t((y * 32640) / std::max(1, h - 1));
            p[2] = uint16_t(((x / 4 + y / 4) & 1) ? 32640 : (x * 37 + y * 101) % 32641);
        }
    return px;
}

/// Runs a tool and returns its exit code (-1 when it could not run); output in `out`.
int runTool(const QString& tool, const QStringList& args, QString* out = nullptr) {
    QProcess p;
    p.start(tool, args);
    if (!p.waitForFinished(60000)) return -1;
    if (out) *out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

class resultWriters : public ::testing::Test {
protected:
    void TearDown() override {
        halvora::setThreadCountOverride(0);
        abortRequested = false;
    }
};

} // namespace

TEST_F(resultWriters, JpegRoundTripKeepsSizeValuesAndResolution) {
    const int w = 203, h = 117;
    // Smooth in every channel: JPEG's error on hard colour edges says nothing about the writer.
    std::vector<uint16_t> px(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint16_t* p = &px[(size_t(y) * w + x) * 3];
            p[0] = uint16_t(x * 32640 / (w - 1));
            p[1] = uint16_t(y * 32640 / (h - 1));
            p[2] = uint16_t((x + y) * 32640 / (w + h - 2));
        }
    const QString dir = halvora::test::makeTempDir("jpeg");
    const QString file = dir + "/out.jpg";
    halvora::runContext run;
    halvora::runContext::scope bind(run);
    run.startProgress(uint64_t(w) * h * 2);
    ASSERT_TRUE(imageSaver::saveResultJPEG(file, px.data(), w, h, 100, 300, {}, nullptr));
    EXPECT_EQ(run.progressPercent(), 100);

    QImage back(file);
    ASSERT_FALSE(back.isNull());
    EXPECT_EQ(back.width(), w);
    EXPECT_EQ(back.height(), h);
    // dpi × 39.37, truncated; the JFIF header stores 300 dpi, which reads back as the same dots per metre.
    EXPECT_EQ(back.dotsPerMeterX(), 11811);
    EXPECT_EQ(back.dotsPerMeterY(), 11811);

    // Quality 100 stays within a few levels of sample >> 7.
    double sumErr = 0;
    int maxErr = 0, count = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const QRgb c = back.pixel(x, y);
            const uint16_t* p = &px[(size_t(y) * w + x) * 3];
            const int e = std::max({std::abs(qRed(c) - (p[0] >> 7)), std::abs(qGreen(c) - (p[1] >> 7)),
                                    std::abs(qBlue(c) - (p[2] >> 7))});
            maxErr = std::max(maxErr, e);
            sumErr += e;
            ++count;
        }
    EXPECT_LT(sumErr / count, 1.5);
    EXPECT_LE(maxErr, 6);

    QString out;
    if (!QStandardPaths::findExecutable("exiftool").isEmpty()) {
        ASSERT_EQ(runTool("exiftool", {"-n", "-s3", "-XResolution", "-ResolutionUnit", file}, &out), 0);
        EXPECT_EQ(out.split('\n', Qt::SkipEmptyParts), QStringList({"300", "1"}));
    }
}

TEST_F(resultWriters, FullScaleIsWhiteAndAboveFullScaleIsClamped) {
    const int w = 16, h = 16;
    std::vector<uint16_t> px(size_t(w) * h * 3, 32640);
    for (size_t i = 0; i < px.size() / 2; ++i)
        px[i] = 65535; // out-of-range samples must not wrap around
    const QString dir = halvora::test::makeTempDir("white");
    ASSERT_TRUE(imageSaver::saveResultJPEG(dir + "/w.jpg", px.data(), w, h, 100, 72, {}, nullptr));
    ASSERT_TRUE(imageSaver::saveResultTIFF(dir + "/w8.tif", px.data(), w, h, 1, 0, 72, {}, nullptr));
    ASSERT_TRUE(imageSaver::saveResultTIFF(dir + "/w16.tif", px.data(), w, h, 2, 1, 72, {}, nullptr));
    const QImage jpeg(dir + "/w.jpg");
    ASSERT_FALSE(jpeg.isNull());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(jpeg.pixel(x, y) & 0xFFFFFF, 0xFFFFFFu);
    const plainTiff t8 = decodePlainTiff(halvora::test::readBytes(dir + "/w8.tif"));
    const plainTiff t16 = decodePlainTiff(halvora::test::readBytes(dir + "/w16.tif"));
    ASSERT_TRUE(t8.ok) << t8.why;
    ASSERT_TRUE(t16.ok) << t16.why;
    for (uint32_t v : t8.samples)
        ASSERT_EQ(v, 255);
    for (uint32_t v : t16.samples)
        ASSERT_EQ(v, 65535);
}

TEST_F(resultWriters, TiffDepthsAndCompressionsDecodeToExpectedSamples) {
    // Tall enough for several strips at 16 bit.
    const int w = 301, h = 257;
    auto px = testPicture(w, h);
    px[0] = 16320; // half scale: 32767.5 rounds up
    px[1] = 1;
    px[2] = 0;
    const QString dir = halvora::test::makeTempDir("tiff");
    for (int depth : {1, 2})
        for (int compression : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "depth " << depth << " compression " << compression);
            const QString file = dir + QString("/r_%1_%2.tif").arg(depth).arg(compression);
            ASSERT_TRUE(
                imageSaver::saveResultTIFF(file, px.data(), w, h, depth, compression, 240, {}, nullptr));
            const plainTiff t = decodePlainTiff(halvora::test::readBytes(file));
            ASSERT_TRUE(t.ok) << t.why;
            EXPECT_EQ(t.width, w);
            EXPECT_EQ(t.height, h);
            EXPECT_EQ(t.bits, depth == 2 ? 16 : 8);
            EXPECT_EQ(t.spp, 3);
            EXPECT_EQ(t.compression, compression ? 8 : 1);
            EXPECT_EQ(t.xres, 240.0);
            EXPECT_EQ(t.yres, 240.0);
            EXPECT_EQ(t.resolutionUnit, 2);
            ASSERT_EQ(t.samples.size(), px.size());
            for (size_t i = 0; i < px.size(); ++i) {
                // 8 bit: the sample's top byte; 16 bit: nearest value of 0 … 65535 for 0 … 32640.
                const long expected = depth == 2 ? std::lround(px[i] * 65535.0 / 32640.0) : px[i] / 128;
                ASSERT_EQ(long(t.samples[i]), expected) << "sample " << i;
            }
            if (depth == 2) {
                EXPECT_EQ(t.samples[0], 32768);
                EXPECT_EQ(t.samples[1], 2);
                EXPECT_EQ(t.samples[2], 0);
            }
        }
    // Deflate really compresses this picture.
    EXPECT_LT(QFileInfo(dir + "/r_2_1.tif").size(), QFileInfo(dir + "/r_2_0.tif").size());
}

TEST_F(resultWriters, LibtiffAcceptsTheFiles) {
    for (const char* tool : {"tiffinfo", "tiffcmp", "tiffcp"})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            GTEST_SKIP() << "libtiff tool " << tool << " is not installed";
    const int w = 640, h = 480;
    const auto px = testPicture(w, h);
    const QString dir = halvora::test::makeTempDir("libtiff");
    for (int depth : {1, 2}) {
        const QString plain = dir + QString("/p%1.tif").arg(depth);
        const QString zip = dir + QString("/z%1.tif").arg(depth);
        ASSERT_TRUE(imageSaver::saveResultTIFF(plain, px.data(), w, h, depth, 0, 300, {}, nullptr));
        ASSERT_TRUE(imageSaver::saveResultTIFF(zip, px.data(), w, h, depth, 1, 300, {}, nullptr));
        QString info;
        // -D decodes every strip, so a broken Deflate stream or strip table is reported.
        ASSERT_EQ(runTool("tiffinfo", {"-D", zip}, &info), 0) << info.toStdString();
        EXPECT_FALSE(info.contains("Error", Qt::CaseInsensitive)) << info.toStdString();
        EXPECT_FALSE(info.contains("Warning", Qt::CaseInsensitive)) << info.toStdString();
        EXPECT_TRUE(info.contains("Image Width: 640 Image Length: 480")) << info.toStdString();
        EXPECT_TRUE(info.contains(QString("Bits/Sample: %1").arg(depth * 8))) << info.toStdString();
        EXPECT_TRUE(info.contains("Deflate", Qt::CaseInsensitive)) << info.toStdString();
        EXPECT_TRUE(info.contains("Resolution: 300, 300 pixels/inch")) << info.toStdString();
        EXPECT_TRUE(info.contains("Samples/Pixel: 3")) << info.toStdString();
        // Same pixels whatever the compression: libtiff inflates the Deflate file (tiffcmp stops at the
        // first differing tag, so both files must be uncompressed to compare pixels).
        const QString inflated = dir + QString("/i%1.tif").arg(depth);
        ASSERT_EQ(runTool("tiffcp", {"-c", "none", zip, inflated}), 0);
        QString cmp;
        EXPECT_EQ(runTool("tiffcmp", {plain, inflated}, &cmp), 0) << cmp.toStdString();
        EXPECT_TRUE(cmp.trimmed().isEmpty()) << cmp.toStdString();
    }
    // A changed pixel is seen by tiffcmp, so the comparison above is meaningful.
    auto changed = px;
    changed[3 * (100 * w + 100)] ^= 0x4000;
    ASSERT_TRUE(imageSaver::saveResultTIFF(dir + "/c.tif", changed.data(), w, h, 1, 0, 300, {}, nullptr));
    QString cmp;
    EXPECT_EQ(runTool("tiffcmp", {dir + "/p1.tif", dir + "/c.tif"}, &cmp), 1);
    EXPECT_TRUE(cmp.contains("Scanline 100")) << cmp.toStdString();
}

TEST_F(resultWriters, OutputIsIdenticalForOneAndSeveralThreads) {
    const int w = 517, h = 389;
    const auto px = testPicture(w, h);
    const QString dir = halvora::test::makeTempDir("threads");
    auto invert = [](uint16_t* rgb, int pixels) {
        for (int i = 0; i < pixels * 3; ++i)
            rgb[i] = uint16_t(65535 - rgb[i]);
    };
    for (int threads : {1, 3}) {
        halvora::setThreadCountOverride(threads);
        const QString t = QString::number(threads);
        ASSERT_TRUE(
            imageSaver::saveResultJPEG(dir + "/j" + t + ".jpg", px.data(), w, h, 90, 300, invert, nullptr));
        ASSERT_TRUE(
            imageSaver::saveResultTIFF(dir + "/a" + t + ".tif", px.data(), w, h, 2, 1, 300, invert, nullptr));
        ASSERT_TRUE(
            imageSaver::saveResultTIFF(dir + "/b" + t + ".tif", px.data(), w, h, 1, 0, 300, {}, nullptr));
    }
    for (const char* name : {"j%1.jpg", "a%1.tif", "b%1.tif"}) {
        const QByteArray one = halvora::test::readBytes(dir + "/" + QString(name).arg(1));
        ASSERT_FALSE(one.isEmpty());
        EXPECT_EQ(one, halvora::test::readBytes(dir + "/" + QString(name).arg(3))) << name;
    }
}

TEST_F(resultWriters, RowTransformWorksOnCopiesAndKeepsWhite) {
    const int w = 64, h = 40;
    const auto px = testPicture(w, h);
    const auto original = px;
    const QString dir = halvora::test::makeTempDir("transform");
    auto identity = [](uint16_t*, int) {};
    auto invert = [](uint16_t* rgb, int pixels) {
        for (int i = 0; i < pixels * 3; ++i)
            rgb[i] = uint16_t(65535 - rgb[i]);
    };
    ASSERT_TRUE(imageSaver::saveResultTIFF(dir + "/id8.tif", px.data(), w, h, 1, 0, 300, identity, nullptr));
    ASSERT_TRUE(imageSaver::saveResultTIFF(dir + "/id16.tif", px.data(), w, h, 2, 0, 300, identity, nullptr));
    ASSERT_TRUE(imageSaver::saveResultTIFF(dir + "/inv16.tif", px.data(), w, h, 2, 0, 300, invert, nullptr));
    ASSERT_TRUE(imageSaver::saveResultTIFF(dir + "/inv8.tif", px.data(), w, h, 1, 0, 300, invert, nullptr));
    EXPECT_EQ(px, original) << "the result buffer must not be converted in place";

    const plainTiff id8 = decodePlainTiff(halvora::test::readBytes(dir + "/id8.tif"));
    const plainTiff id16 = decodePlainTiff(halvora::test::readBytes(dir + "/id16.tif"));
    const plainTiff inv16 = decodePlainTiff(halvora::test::readBytes(dir + "/inv16.tif"));
    const plainTiff inv8 = decodePlainTiff(halvora::test::readBytes(dir + "/inv8.tif"));
    ASSERT_TRUE(id8.ok && id16.ok && inv16.ok && inv8.ok);
    for (size_t i = 0; i < px.size(); ++i) {
        const long full = std::lround(px[i] * 65535.0 / 32640.0);
        // An identity conversion changes nothing, in particular white stays 255.
        ASSERT_EQ(id8.samples[i], px[i] >> 7) << i;
        ASSERT_EQ(long(id16.samples[i]), full) << i;
        ASSERT_EQ(long(inv16.samples[i]), 65535 - full) << i;
        const long back = std::lround((65535 - full) * 32640.0 / 65535.0);
        ASSERT_EQ(long(inv8.samples[i]), back >> 7) << i;
    }
}

TEST_F(resultWriters, ExistingFileIsReplacedOnlyBySuccessfulWrite) {
    const int w = 32, h = 24;
    const auto px = testPicture(w, h);
    const QString dir = halvora::test::makeTempDir("replace");
    const QString jpg = dir + "/keep.jpg", tif = dir + "/keep.tif";
    for (const QString& f : {jpg, tif}) {
        QFile out(f);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("old contents");
    }
    auto onlyOld = [&]() {
        EXPECT_EQ(halvora::test::readBytes(jpg), QByteArray("old contents"));
        EXPECT_EQ(halvora::test::readBytes(tif), QByteArray("old contents"));
        EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 2)
            << "no temporary file may remain";
    };

    // Refused sizes.
    EXPECT_FALSE(imageSaver::saveResultJPEG(jpg, px.data(), 0, h, 90, 300, {}, nullptr));
    EXPECT_FALSE(imageSaver::saveResultTIFF(tif, px.data(), w, -1, 1, 0, 300, {}, nullptr));
    EXPECT_FALSE(imageSaver::saveResultTIFF(tif, nullptr, w, h, 1, 0, 300, {}, nullptr));
    EXPECT_FALSE(imageSaver::saveResultTIFF(tif, px.data(), w, h, 3, 0, 300, {}, nullptr));
    onlyOld();

    // An interrupted save (abort during writing) keeps the old file.
    abortRequested = true;
    QString error;
    EXPECT_FALSE(imageSaver::saveResultJPEG(jpg, px.data(), w, h, 90, 300, {}, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(imageSaver::saveResultTIFF(tif, px.data(), w, h, 2, 1, 300, {}, nullptr));
    abortRequested = false;
    onlyOld();

    // A successful write replaces it.
    ASSERT_TRUE(imageSaver::saveResultJPEG(jpg, px.data(), w, h, 90, 300, {}, nullptr));
    ASSERT_TRUE(imageSaver::saveResultTIFF(tif, px.data(), w, h, 1, 0, 300, {}, nullptr));
    EXPECT_FALSE(QImage(jpg).isNull());
    EXPECT_TRUE(decodePlainTiff(halvora::test::readBytes(tif)).ok);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(resultWriters, UnwritableFolderGivesClearErrorAndLeavesNothing) {
    const int w = 8, h = 8;
    const auto px = testPicture(w, h);
    const QString dir = halvora::test::makeTempDir("unwritable");
    // A file standing where the folder should be: no process, not even root, can create files below it.
    QFile blocker(dir + "/notAFolder");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    halvora::test::logCapture log;
    struct target {
        QString name;
        const char* reason;
    };
    for (const target& t : {target{dir + "/notAFolder/out", "not a directory"},
                            target{dir + "/missing/out", "no such file or directory"}}) {
        QString error;
        EXPECT_FALSE(imageSaver::saveResultJPEG(t.name + ".jpg", px.data(), w, h, 90, 300, {}, &error));
        EXPECT_EQ(error, t.name + ".jpg: " + t.reason);
        EXPECT_FALSE(imageSaver::saveResultTIFF(t.name + ".tif", px.data(), w, h, 2, 1, 300, {}, &error));
        EXPECT_EQ(error, t.name + ".tif: " + t.reason);
    }
    // The writer that found the fault logged it with its name.
    EXPECT_TRUE(log.contains("imageSaver::saveResultJPEG: " + (dir + "/missing/out.jpg: ").toStdString()));
    EXPECT_TRUE(log.contains("imageSaver::saveResultTIFF: " + (dir + "/missing/out.tif: ").toStdString()));
    EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"notAFolder"});
}

TEST_F(resultWriters, ImpossibleSizesAreRefusedBeforeReadingPixels) {
    const QString dir = halvora::test::makeTempDir("huge");
    // One row is enough memory for these cases: the writers must refuse before touching pixel data.
    std::vector<uint16_t> row(size_t(70000) * 3, 1000);
    QString error;
    EXPECT_FALSE(imageSaver::saveResultJPEG(dir + "/wide.jpg", row.data(), 70000, 1, 90, 300, {}, &error));
    EXPECT_TRUE(error.contains("too large for JPEG")) << error.toStdString();
    // The same row is fine as TIFF.
    EXPECT_TRUE(imageSaver::saveResultTIFF(dir + "/wide.tif", row.data(), 70000, 1, 1, 1, 300, {}, nullptr));
    // Over 4 GB of 16-bit samples cannot be addressed by a TIFF file.
    error.clear();
    EXPECT_FALSE(
        imageSaver::saveResultTIFF(dir + "/big.tif", row.data(), 1 << 20, 1 << 20, 2, 0, 300, {}, &error));
    EXPECT_TRUE(error.contains("too large for a TIFF")) << error.toStdString();
    EXPECT_FALSE(
        imageSaver::saveResultTIFF(dir + "/big.tif", row.data(), (1 << 20) + 1, 1, 1, 0, 300, {}, nullptr));
    EXPECT_FALSE(imageSaver::saveResultJPEG(dir + "/neg.jpg", row.data(), -5, -5, 90, 300, {}, nullptr));
    EXPECT_FALSE(QFileInfo::exists(dir + "/big.tif"));
    EXPECT_FALSE(QFileInfo::exists(dir + "/wide.jpg"));
}
