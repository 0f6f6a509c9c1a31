// Radiance RGBE reader: pixel decoding against hand-computed values, the three scanline encodings,
// real files, and hostile files.

#include "base/parallelFor.h"
#include "imageio/imageLoader.h"
#include "support/radianceFiles.h"
#include "support/testSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QSize>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using namespace halvora::test;

namespace {

struct rgbePixel {
    uint8_t r, g, b, e;
};

QByteArray rgbeHeader(int width, int height, const char* extra = "") {
    return QByteArray("#?RADIANCE\n") + extra + "FORMAT=32-bit_rle_rgbe\n\n-Y " + QByteArray::number(height) +
           " +X " + QByteArray::number(width) + "\n";
}

QByteArray flatRows(const std::vector<rgbePixel>& pixels) {
    QByteArray out;
    for (const rgbePixel& p : pixels) {
        out.append(char(p.r));
        out.append(char(p.g));
        out.append(char(p.b));
        out.append(char(p.e));
    }
    return out;
}

// New-style run-length encoding of one row, written here independently of the reader: runs of three
// or more equal bytes become (128 + n, byte), the rest literal blocks of at most 128 bytes.
QByteArray rleRow(const rgbePixel* row, int width) {
    QByteArray out;
    out.append(char(2));
    out.append(char(2));
    out.append(char(width >> 8));
    out.append(char(width & 0xff));
    for (int c = 0; c < 4; ++c) {
        std::vector<uint8_t> comp(width);
        for (int x = 0; x < width; ++x)
            comp[x] = c == 0 ? row[x].r : c == 1 ? row[x].g : c == 2 ? row[x].b : row[x].e;
        int x = 0;
        while (x < width) {
            int run = 1;
            while (x + run < width && run < 127 && comp[x + run] == comp[x])
                ++run;
            if (run >= 3) {
                out.append(char(128 + run));
                out.append(char(comp[x]));
                x += run;
                continue;
            }
            int lit = 0;
            while (x + lit < width && lit < 128) {
                if (x + lit + 2 < width && comp[x + lit] == comp[x + lit + 1] &&
                    comp[x + lit] == comp[x + lit + 2])
                    break;
                ++lit;
            }
            out.append(char(lit));
            for (int i = 0; i < lit; ++i)
                out.append(char(comp[x + i]));
            x += lit;
        }
    }
    return out;
}

// Deterministic picture with runs, gradients and zero pixels.
std::vector<rgbePixel> testPattern(int width, int height) {
    std::vector<rgbePixel> p(size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            rgbePixel& q = p[size_t(y) * width + x];
            if (x < width / 3)
                q = {200, 100, 50, uint8_t(120 + y)};
            else if ((x + y) % 7 == 0)
                q = {0, 0, 0, 0};
            else
                q = {uint8_t(128 + (x * 5) % 128), uint8_t((x * 3 + y) % 256), uint8_t(x % 17),
                     uint8_t(110 + x % 30)};
        }
    return p;
}

} // namespace

TEST(radianceRgbe, pixelsDecodeToByteTimesTwoToTheExponentMinus128) {
    const QString path = makeTempDir("rgbe") + "/pixels.hdr";
    // Width 5 (< 8) is always stored flat; (1, 1, 1, 0) starts the second row, where it cannot be an
    // old-style run marker.
    const std::vector<rgbePixel> px = {{128, 64, 32, 128}, {255, 0, 7, 140}, {0, 0, 0, 0}, {3, 2, 1, 1},
                                       {0, 0, 0, 0},       {1, 1, 1, 0},     {0, 0, 0, 0}, {0, 0, 0, 0},
                                       {0, 0, 0, 0},       {0, 0, 0, 0}};
    ASSERT_TRUE(writeBytes(path, rgbeHeader(5, 2) + flatRows(px)));
    radianceFile l = loadRadianceFile(path);
    ASSERT_TRUE(l.infoOk);
    ASSERT_TRUE(l.loadOk);
    ASSERT_EQ(l.width, 5);
    ASSERT_EQ(l.height, 2);
    const float expected[18] = {128, 64, 32, 1044480, 0, 28672, 0, 0, 0,
                                // 3 × 2^-127, 2 × 2^-127, 2^-127
                                1.76324152623343126e-38f, 1.17549435082228751e-38f, 5.87747175411143754e-39f,
                                0, 0, 0, 2.93873587705571877e-39f, 2.93873587705571877e-39f,
                                2.93873587705571877e-39f};
    for (int i = 0; i < 18; ++i)
        EXPECT_EQ(l.pixels[i], expected[i]) << "sample " << i;
    EXPECT_EQ(l.maximum, 1044480.0f);
    EXPECT_EQ(l.minimum, 0.0f);
}

TEST(radianceRgbe, flatOldStyleAndRunLengthRowsDecodeIdentically) {
    const int w = 40, h = 6;
    const std::vector<rgbePixel> px = testPattern(w, h);
    const QString dir = makeTempDir("rgbe");
    QByteArray rle = rgbeHeader(w, h);
    for (int y = 0; y < h; ++y)
        rle += rleRow(px.data() + size_t(y) * w, w);
    ASSERT_TRUE(writeBytes(dir + "/flat.hdr", rgbeHeader(w, h) + flatRows(px)));
    ASSERT_TRUE(writeBytes(dir + "/rle.hdr", rle));

    // Old style: the first third of every row is one repeated pixel, written as the pixel followed
    // by (1, 1, 1, n) markers (n = 12 repeats, one marker).
    QByteArray old = rgbeHeader(w, h);
    for (int y = 0; y < h; ++y) {
        const rgbePixel* row = px.data() + size_t(y) * w;
        old += flatRows({row[0], {1, 1, 1, uint8_t(w / 3 - 1)}});
        old += flatRows(std::vector<rgbePixel>(row + w / 3, row + w));
    }
    ASSERT_TRUE(writeBytes(dir + "/old.hdr", old));

    const radianceFile flat = loadRadianceFile(dir + "/flat.hdr");
    const radianceFile enc = loadRadianceFile(dir + "/rle.hdr");
    const radianceFile oldStyle = loadRadianceFile(dir + "/old.hdr");
    ASSERT_TRUE(flat.loadOk);
    ASSERT_TRUE(enc.loadOk);
    ASSERT_TRUE(oldStyle.loadOk);
    EXPECT_LT(rle.size(), flatRows(px).size()); // the encoder really produced runs
    EXPECT_EQ(flat.pixels, enc.pixels);
    EXPECT_EQ(flat.pixels, oldStyle.pixels);
    // Spot check against the definition: pixel (0, 2) is (200, 100, 50, 122) → × 2^-6.
    EXPECT_EQ(flat.pixels[size_t(2) * w * 3 + 0], 3.125f);
    EXPECT_EQ(flat.pixels[size_t(2) * w * 3 + 1], 1.5625f);
    EXPECT_EQ(flat.pixels[size_t(2) * w * 3 + 2], 0.78125f);
}

TEST(radianceRgbe, oldStyleRunMarkersShiftByEightBitsWhenRepeated) {
    // 1 pixel + 3 + (2 << 8) = 516 pixels in one row from three markers.
    const int w = 516;
    QByteArray file = rgbeHeader(w, 1) + flatRows({{10, 20, 30, 129}, {1, 1, 1, 3}, {1, 1, 1, 2}});
    const QString path = makeTempDir("rgbe") + "/old.hdr";
    ASSERT_TRUE(writeBytes(path, file));
    const radianceFile l = loadRadianceFile(path);
    ASSERT_TRUE(l.loadOk);
    for (int x = 0; x < w; ++x) {
        ASSERT_EQ(l.pixels[size_t(x) * 3], 20.0f) << x;
        ASSERT_EQ(l.pixels[size_t(x) * 3 + 2], 60.0f) << x;
    }
}

TEST(radianceRgbe, headerVariantsAndPixelOrder) {
    const QString dir = makeTempDir("rgbe");
    const std::vector<rgbePixel> px = {{128, 0, 0, 129}, {64, 0, 0, 129}, {32, 0, 0, 129}, {16, 0, 0, 129}};
    // CR LF line ends, a line before the magic, padded resolution line and primaries.
    QByteArray crlf = "VIEW= -vtv\r\n#?RADIANCE\r\nPRIMARIES= 0.64 0.33 0.30 0.60 0.15 0.06 0.3127 0.3290\r\n"
                      "FORMAT=32-bit_rle_rgbe\r\n\r\n-Y    2   +X   2\r\n";
    ASSERT_TRUE(writeBytes(dir + "/crlf.hdr", crlf + flatRows(px)));
    radianceFile l = loadRadianceFile(dir + "/crlf.hdr");
    ASSERT_TRUE(l.loadOk);
    EXPECT_EQ(QSize(l.width, l.height), QSize(2, 2));
    EXPECT_TRUE(l.hasPrimaries);
    EXPECT_DOUBLE_EQ(l.primaries[0], 0.64);
    EXPECT_DOUBLE_EQ(l.primaries[7], 0.329);
    EXPECT_EQ(l.pixels[0], 256.0f);
    EXPECT_EQ(l.pixels[9], 32.0f);

    // "+Y" stores the bottom row first, "-X" the rightmost pixel first.
    QByteArray flipped = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n+Y 2 -X 2\n";
    ASSERT_TRUE(writeBytes(dir + "/flipped.hdr", flipped + flatRows(px)));
    l = loadRadianceFile(dir + "/flipped.hdr");
    ASSERT_TRUE(l.loadOk);
    EXPECT_EQ(l.pixels[0], 16.0f * 2); // top left = last pixel of the file
    EXPECT_EQ(l.pixels[3], 32.0f * 2);
    EXPECT_EQ(l.pixels[6], 64.0f * 2);
    EXPECT_EQ(l.pixels[9], 128.0f * 2);

    // Degenerate primaries (all zero, as some tools write) count as absent.
    QByteArray zeros = "#?RADIANCE\nPRIMARIES=0 0 0 0 0 0 0 0\nFORMAT=32-bit_rle_rgbe\n\n-Y 2 +X 2\n";
    ASSERT_TRUE(writeBytes(dir + "/zeros.hdr", zeros + flatRows(px)));
    EXPECT_FALSE(loadRadianceFile(dir + "/zeros.hdr").hasPrimaries);
}

TEST(radianceRgbe, hostileFilesAreRefusedWithALogLine) {
    const QString dir = makeTempDir("rgbe");
    const int w = 16, h = 4;
    const std::vector<rgbePixel> px = testPattern(w, h);
    QByteArray good = rgbeHeader(w, h);
    for (int y = 0; y < h; ++y)
        good += rleRow(px.data() + size_t(y) * w, w);
    ASSERT_TRUE(writeBytes(dir + "/good.hdr", good));
    ASSERT_TRUE(loadRadianceFile(dir + "/good.hdr").loadOk);

    struct hostile {
        const char* name;
        QByteArray bytes;
        bool infoRefuses; // false: the information call passes, the load must refuse
        const char* log;
    };
    // Files kept as reader regressions are checked with them.
    const std::vector<hostile> cases = {
        {"header only", rgbeHeader(w, h), true, "declares 16 × 4 pixels but holds only 0 bytes"},
        {"zero height", rgbeHeader(4, 0) + QByteArray(100, '\0'), true, "has the impossible picture size"},
        {"negative width", "#?RADIANCE\n\n-Y 2 +X -4\n" + QByteArray(100, '\0'), true,
         "has the impossible picture size"},
        {"xyze format", "#?RADIANCE\nFORMAT=32-bit_rle_xyze\n\n-Y 1 +X 1\nabcd", true,
         "has the unsupported pixel format \"32-bit_rle_xyze\""},
        {"no empty line", "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n-Y 1 +X 1\nabcd", true,
         "no end of its header"},
        {"endless header", "#?RADIANCE\n" + QByteArray(100000, 'a'), true, "no end of its header"},
        {"bad resolution line", "#?RADIANCE\n\n-Y one +X 1\nabcd", true, "has a bad resolution line"},
        {"transposed storage", "#?RADIANCE\n\n+X 1 -Y 1\nabcd", true,
         "stores its pixels in the unsupported order \"+X -Y\""},
        {"no resolution line", "#?RADIANCE\n\n", true, "has no resolution line"},
        {"empty file", QByteArray(), true, "is empty (0 bytes)"},
    };
    for (const hostile& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir + "/hostile.hdr";
        ASSERT_TRUE(writeBytes(path, c.bytes));
        const radianceFile f = loadRadianceFile(path);
        EXPECT_EQ(f.infoOk, !c.infoRefuses);
        EXPECT_FALSE(f.loadOk);
        const QString& error = f.error;
        EXPECT_TRUE(error.startsWith(path + ": ")) << error.toStdString();
        EXPECT_TRUE(error.contains(QString::fromUtf8(c.log))) << error.toStdString();
    }

    // A size other than the one reported is refused by the load.
    std::vector<float> buffer(size_t(w) * h * 3);
    float mx = 0, mn = 0;
    QString error;
    EXPECT_FALSE(imageLoader::loadRadianceRGBE(dir + "/good.hdr", w, h + 1, buffer.data(), mx, mn, &error));
    EXPECT_EQ(error, QString("%1/good.hdr: now holds a %2 × %3 picture instead of %2 × %4")
                         .arg(dir)
                         .arg(w)
                         .arg(h)
                         .arg(h + 1));
    EXPECT_FALSE(imageLoader::loadRadianceRGBE(dir + "/missing.hdr", w, h, buffer.data(), mx, mn, &error));
    EXPECT_EQ(error, dir + "/missing.hdr: no such file or directory");
}

TEST(radianceRgbe, sameResultWithOneOrSeveralThreads) {
    const int w = 300, h = 70;
    const std::vector<rgbePixel> px = testPattern(w, h);
    QByteArray file = rgbeHeader(w, h);
    for (int y = 0; y < h; ++y)
        file += rleRow(px.data() + size_t(y) * w, w);
    const QString path = makeTempDir("rgbe") + "/threads.hdr";
    ASSERT_TRUE(writeBytes(path, file));
    halvora::setThreadCountOverride(1);
    const radianceFile one = loadRadianceFile(path);
    halvora::setThreadCountOverride(3);
    const radianceFile three = loadRadianceFile(path);
    halvora::setThreadCountOverride(0);
    ASSERT_TRUE(one.loadOk);
    ASSERT_TRUE(three.loadOk);
    EXPECT_EQ(one.pixels, three.pixels);
    EXPECT_EQ(one.maximum, three.maximum);
    EXPECT_EQ(one.minimum, three.minimum);
}

TEST(radianceRgbe, realFilesLoadWithTheirRecordedStatistics) {
    HALVORA_REQUIRE_DATA();
    // Largest Rec. 709 luminance in true radiance units (our values ÷ 256) and the fraction of black
    // pixels, as recorded for each file by an independent decoder (0: not recorded).
    struct realFile {
        const char* path;
        int width, height;
        double maxLuminance, zeroPercent;
    };
    const std::vector<realFile> files = {
        {"formats/rgbe/libvips_sample.hdr", 141, 980, 7142, 0.0},
        {"formats/rgbe/imagers_image1.hdr", 128, 85, 1.562, 0.1},
        {"formats/rgbe/imagers_old-rle.hdr", 551, 276, 0.2676, 0.0},
        {"formats/rgbe/imagers_scale.hdr", 256, 8, 0, 0},
        {"formats/rgbe/imagers_rgbr4x4.hdr", 4, 4, 2.846, 0.0},
        {"formats/rgbe/imagers_overexposed_gradient.hdr", 20, 12, 2.622, 0.0},
        {"formats/rgbe/cwz_sample_640_426.hdr", 640, 426, 0.9989, 0.0},
        {"formats/rgbe/memorial_view_line_first.hdr", 512, 768, 0, 0},
        {"radiance/polyhaven_hdri_1k/adams_place_bridge_1k.hdr", 1024, 512, 0, 0},
        {"radiance/polyhaven_hdri_1k/dikhololo_night_1k.hdr", 1024, 512, 0, 0},
        {"radiance/polyhaven_hdri_1k/forest_slope_1k.hdr", 1024, 512, 0, 0},
        {"radiance/polyhaven_hdri_1k/kiara_1_dawn_1k.hdr", 1024, 512, 0, 0},
        {"radiance/polyhaven_hdri_1k/potsdamer_platz_1k.hdr", 1024, 512, 0, 0},
        {"radiance/polyhaven_hdri_1k/venice_sunset_1k.hdr", 1024, 512, 0, 0},
    };
    for (const realFile& f : files) {
        SCOPED_TRACE(f.path);
        logCapture log;
        const radianceFile l = loadRadianceFile(dataFile(f.path));
        ASSERT_TRUE(l.infoOk && l.loadOk) << log.text();
        EXPECT_EQ(l.width, f.width);
        EXPECT_EQ(l.height, f.height);
        EXPECT_GT(l.maximum, l.minimum);
        double maxLum = 0;
        size_t zeros = 0;
        const size_t n = size_t(l.width) * l.height;
        for (size_t i = 0; i < n; ++i) {
            const float* p = &l.pixels[i * 3];
            ASSERT_TRUE(std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]) && p[0] >= 0 &&
                        p[1] >= 0 && p[2] >= 0);
            maxLum = std::max(maxLum, (0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2]) / 256.0);
            zeros += (p[0] == 0 && p[1] == 0 && p[2] == 0);
        }
        if (f.maxLuminance == 0) continue;
        EXPECT_NEAR(maxLum, f.maxLuminance, f.maxLuminance * 0.001);
        EXPECT_NEAR(100.0 * double(zeros) / double(n), f.zeroPercent, 0.05);
    }
}

TEST(radianceRgbe, extremeExponentsStayFinite) {
    HALVORA_REQUIRE_DATA();
    // The 256 × 8 ramp spans 1e-39 … 6e37; 256 times the largest value exceeds the float range and
    // is kept at the largest float instead of becoming infinity.
    const radianceFile l = loadRadianceFile(dataFile("formats/rgbe/imagers_scale.hdr"));
    ASSERT_TRUE(l.loadOk);
    EXPECT_EQ(l.maximum, std::numeric_limits<float>::max());
    EXPECT_GT(l.minimum, -1.0f);
    float smallestPositive = std::numeric_limits<float>::max();
    for (float v : l.pixels)
        if (v > 0) smallestPositive = std::min(smallestPositive, v);
    EXPECT_LT(smallestPositive / 256.0, 1.2e-39);
}

TEST(radianceRgbe, damagedAndStubFilesAreRefused) {
    HALVORA_REQUIRE_DATA();
    // Every LF byte of the damaged copy became CR LF, which shifts its runs out of their rows; the
    // stub's only pixel is black.
    struct refused {
        const char* path;
        const char* log;
    };
    for (const refused& r : {refused{"formats/rgbe/memorial_DAMAGED_crlf.hdr", ": corrupt pixel data: "},
                             refused{"formats/rgbe/exiftool_Radiance_stub.hdr", ": every pixel is black"}}) {
        SCOPED_TRACE(r.path);
        const radianceFile l = loadRadianceFile(dataFile(r.path));
        EXPECT_TRUE(l.infoOk);
        EXPECT_FALSE(l.loadOk);
        EXPECT_TRUE(l.error.startsWith(dataFile(r.path) + r.log)) << l.error.toStdString();
    }
}
