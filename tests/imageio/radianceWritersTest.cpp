// Radiance RGBE and OpenEXR writers: exact RGBE bytes, round trips through the readers, the
// OpenEXR header, and the guarantee that a failed write leaves an existing file alone.

#include "base/parallelFor.h"
#include "base/runContext.h"
#include "imageio/imageLoader.h"
#include "imageio/imageSaver.h"
#include "support/radianceFiles.h"
#include "support/testSupport.h"

#include <QDir>
#include <QFile>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

#include <ImfCRgbaFile.h>

using namespace halvora::test;

namespace {

const QByteArray kRgbeHeader1x4 =
    "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nSOFTWARE=Halvora 3.0.1 \n\n-Y 1 +X 4\n";

// A picture spanning twelve decades, with zero, equal and very unequal channels.
std::vector<float> widePicture(int w, int h) {
    std::vector<float> p(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float* q = &p[(size_t(y) * w + x) * 3];
            const double base = std::pow(10.0, -6.0 + 12.0 * (x + y * w) / double(w * h));
            q[0] = float(base);
            q[1] = float(base * (0.1 + 0.9 * ((x * 7) % 11) / 10.0));
            q[2] = (x + y) % 5 == 0 ? 0.0f : float(base * 0.003);
        }
    return p;
}

QStringList filesIn(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

TEST(radianceWriters, rgbeBytesOfKnownPixels) {
    const QString path = makeTempDir("writers") + "/known.hdr";
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float pixels[12] = {1.0f,   0.5f, 0.25f,  // 1 = 0.5 × 2^1 → 128, 64, 32, 129
                              3.0f,   1.0f, 0.0f,   // 3 = 0.75 × 2^2 → 192, 64, 0, 130
                              -1.0f,  nan,  2e-38f, // below 3e-38 (or no light) → all zero
                              1e-30f, inf,  0.0f};  // infinity is kept at the largest value
    ASSERT_TRUE(imageSaver::saveRadianceRGBE(path, 4, 1, pixels, nullptr));
    const QByteArray expected = kRgbeHeader1x4 + QByteArray("\x80\x40\x20\x81"
                                                            "\xc0\x40\x00\x82"
                                                            "\x00\x00\x00\x00"
                                                            "\x00\xff\x00\xff",
                                                            16);
    EXPECT_EQ(readBytes(path), expected);
}

TEST(radianceWriters, rgbeRoundTripKeepsEightBitsOfMantissa) {
    const int w = 37, h = 23;
    const std::vector<float> picture = widePicture(w, h);
    const QString path = makeTempDir("writers") + "/round.hdr";
    logCapture log;
    ASSERT_TRUE(imageSaver::saveRadianceRGBE(path, w, h, picture.data(), nullptr));
    EXPECT_TRUE(log.contains("Save Radiance RGBE format...\n"));
    const radianceFile back = loadRadianceFile(path);
    ASSERT_TRUE(back.loadOk) << back.error.toStdString();
    EXPECT_EQ(back.width, w);
    EXPECT_EQ(back.height, h);
    EXPECT_FALSE(back.hasPrimaries);
    for (size_t i = 0; i < picture.size(); i += 3) {
        const double v = std::max({picture[i], picture[i + 1], picture[i + 2]});
        for (int c = 0; c < 3; ++c) {
            // The reader gives 256 × the written value; truncation loses less than v / 128.
            const double read = back.pixels[i + c] / 256.0;
            ASSERT_LE(read, picture[i + c] * (1 + 1e-6)) << i;
            ASSERT_GT(read, picture[i + c] - v / 128.0) << i;
        }
    }
}

TEST(radianceWriters, openExrRoundTripWithinHalfPrecision) {
    const int w = 41, h = 19;
    std::vector<float> picture = widePicture(w, h);
    picture[0] = 1e6f; // beyond the half range
    picture[1] = -2.0f;
    picture[2] = std::numeric_limits<float>::quiet_NaN();
    const QString path = makeTempDir("writers") + "/round.exr";
    logCapture log;
    ASSERT_TRUE(imageSaver::saveOpenEXR(path, w, h, picture.data(), nullptr));
    EXPECT_TRUE(log.contains("Saving OpenEXR image format...\n"));

    const radianceFile read = loadRadianceFile(path);
    ASSERT_TRUE(read.loadOk) << read.error.toStdString();
    ASSERT_EQ(read.width, w);
    ASSERT_EQ(read.height, h);
    const std::vector<float>& back = read.pixels;
    EXPECT_EQ(back[0], 65504.0f);
    EXPECT_EQ(back[1], 0.0f);
    EXPECT_EQ(back[2], 0.0f);
    for (size_t i = 3; i < picture.size(); ++i) {
        const float v = picture[i];
        if (v > 65504.0f)
            ASSERT_EQ(back[i], 65504.0f) << i;
        else if (v >= 6.2e-5f) // normal halves: 11 significant bits
            ASSERT_NEAR(back[i], v, v * (1.0 / 2048)) << i;
        else // subnormal halves: absolute steps of 2^-24
            ASSERT_NEAR(back[i], v, 6e-8) << i;
    }

    // The file itself: windows, PIZ, increasing Y, opaque alpha.
    ImfInputFile* in = ImfOpenInputFile(QFile::encodeName(path).constData());
    ASSERT_NE(in, nullptr);
    const ImfHeader* header = ImfInputHeader(in);
    int x0, y0, x1, y1;
    ImfHeaderDataWindow(header, &x0, &y0, &x1, &y1);
    EXPECT_EQ(x0, 0);
    EXPECT_EQ(y0, 0);
    EXPECT_EQ(x1, w - 1);
    EXPECT_EQ(y1, h - 1);
    ImfHeaderDisplayWindow(header, &x0, &y0, &x1, &y1);
    EXPECT_EQ(x1, w - 1);
    EXPECT_EQ(y1, h - 1);
    EXPECT_EQ(ImfHeaderCompression(header), IMF_PIZ_COMPRESSION);
    EXPECT_EQ(ImfHeaderLineOrder(header), IMF_INCREASING_Y);
    EXPECT_EQ(ImfInputChannels(in), IMF_WRITE_RGBA);
    std::vector<ImfRgba> row(static_cast<size_t>(w));
    ASSERT_TRUE(ImfInputSetFrameBuffer(in, row.data(), 1, 0));
    ASSERT_TRUE(ImfInputReadPixels(in, 0, 0));
    for (const ImfRgba& p : row)
        ASSERT_EQ(ImfHalfToFloat(p.a), 1.0f);
    ImfCloseInputFile(in);
}

TEST(radianceWriters, failedWritesLeaveTheExistingFileAndNoLeftovers) {
    const QString dir = makeTempDir("writers");
    const std::vector<float> picture = widePicture(16, 8);
    for (const char* name : {"/picture.hdr", "/picture.exr"}) {
        SCOPED_TRACE(name);
        const QString path = dir + name;
        const QByteArray original = "the user's earlier file";
        ASSERT_TRUE(writeBytes(path, original));
        const bool rgbe = QString(name).endsWith(".hdr");
        QString error;
        auto save = [&] {
            return rgbe ? imageSaver::saveRadianceRGBE(path, 16, 8, picture.data(), &error)
                        : imageSaver::saveOpenEXR(path, 16, 8, picture.data(), &error);
        };

        // Interrupted half-way: the earlier file stays as it was, no temporary file remains.
        abortRequested = true;
        EXPECT_FALSE(save());
        abortRequested = false;
        EXPECT_EQ(error, path + ": saving was interrupted");
        EXPECT_EQ(readBytes(path), original);
        EXPECT_EQ(filesIn(dir), QStringList{QString(name).mid(1)});

        // Succeeding replaces it.
        ASSERT_TRUE(save());
        EXPECT_NE(readBytes(path), original);
        EXPECT_EQ(filesIn(dir), QStringList{QString(name).mid(1)});
        QFile::remove(path);
    }

    QString error;
    EXPECT_FALSE(imageSaver::saveRadianceRGBE(dir + "/missing/x.hdr", 16, 8, picture.data(), &error));
    EXPECT_EQ(error, dir + "/missing/x.hdr: no such file or directory");
    EXPECT_FALSE(imageSaver::saveOpenEXR(dir + "/missing/x.exr", 16, 8, picture.data(), &error));
    EXPECT_EQ(error, dir + "/missing/x.exr: no such file or directory");
    EXPECT_FALSE(imageSaver::saveRadianceRGBE(dir + "/empty.hdr", 0, 8, picture.data(), nullptr));
    EXPECT_FALSE(imageSaver::saveOpenEXR(dir + "/null.exr", 16, 8, nullptr, nullptr));
    EXPECT_TRUE(filesIn(dir).isEmpty());
}

TEST(radianceWriters, progressAndThreadCountIndependence) {
    const int w = 700, h = 40; // several bands
    const std::vector<float> picture = widePicture(w, h);
    const QString dir = makeTempDir("writers");
    halvora::runContext run;
    halvora::runContext::scope bind(run);
    run.startProgress(2 * h);
    halvora::setThreadCountOverride(1);
    ASSERT_TRUE(imageSaver::saveRadianceRGBE(dir + "/one.hdr", w, h, picture.data(), nullptr));
    halvora::setThreadCountOverride(3);
    ASSERT_TRUE(imageSaver::saveRadianceRGBE(dir + "/three.hdr", w, h, picture.data(), nullptr));
    halvora::setThreadCountOverride(0);
    EXPECT_EQ(readBytes(dir + "/one.hdr"), readBytes(dir + "/three.hdr"));
    EXPECT_EQ(run.progressDone(), uint64_t(2 * h));
    run.startProgress(h);
    ASSERT_TRUE(imageSaver::saveOpenEXR(dir + "/p.exr", w, h, picture.data(), nullptr));
    EXPECT_EQ(run.progressDone(), uint64_t(h));
}
