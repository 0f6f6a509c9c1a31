// OpenEXR reader: data-window origin, clamping of the half range, real sample files (scanline,
// tiled, luminance/chroma, multi-part), damaged files and concurrent loads.

#include "imageio/imageLoader.h"
#include "support/radianceFiles.h"
#include "support/testSupport.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <ImfCRgbaFile.h>

using namespace halvora::test;

namespace {

struct rgb {
    float r, g, b;
};

// Writes a half RGBA file with the given data window through the library, independently of our writer.
bool writeTestExr(const QString& path, int xMin, int yMin, int xMax, int yMax,
                  const std::function<rgb(int, int)>& f, int compression = IMF_ZIP_COMPRESSION,
                  const char* comment = nullptr) {
    ImfHeader* header = ImfNewHeader();
    ImfHeaderSetDataWindow(header, xMin, yMin, xMax, yMax);
    ImfHeaderSetDisplayWindow(header, 0, 0, 9, 9);
    ImfHeaderSetCompression(header, compression);
    if (comment) ImfHeaderSetStringAttribute(header, "comments", comment);
    ImfOutputFile* out = ImfOpenOutputFile(QFile::encodeName(path).constData(), header, IMF_WRITE_RGBA);
    ImfDeleteHeader(header);
    if (!out) return false;
    const int width = xMax - xMin + 1;
    std::vector<ImfRgba> line(static_cast<size_t>(width));
    bool ok = true;
    for (int y = yMin; y <= yMax && ok; ++y) {
        for (int x = 0; x < width; ++x) {
            const rgb v = f(xMin + x, y);
            ImfFloatToHalf(v.r, &line[x].r);
            ImfFloatToHalf(v.g, &line[x].g);
            ImfFloatToHalf(v.b, &line[x].b);
            ImfFloatToHalf(1.0f, &line[x].a);
        }
        auto* base = reinterpret_cast<ImfRgba*>(reinterpret_cast<uintptr_t>(line.data()) -
                                                uintptr_t(intptr_t(xMin) * intptr_t(sizeof(ImfRgba))));
        ok = ImfOutputSetFrameBuffer(out, base, 1, 0) && ImfOutputWritePixels(out, 1);
    }
    return ImfCloseOutputFile(out) && ok;
}

} // namespace

TEST(openExr, dataWindowOriginLandsAtThePictureOrigin) {
    const QString dir = makeTempDir("exr");
    ASSERT_TRUE(writeTestExr(dir + "/window.exr", 10, 20, 109, 219, [](int x, int y) {
        return rgb{float(x), float(y), 0.5f};
    }));
    logCapture log;
    const radianceFile l = loadRadianceFile(dir + "/window.exr");
    ASSERT_TRUE(l.infoOk);
    ASSERT_TRUE(l.loadOk);
    EXPECT_EQ(l.width, 100);
    EXPECT_EQ(l.height, 200);
    EXPECT_TRUE(log.contains("OpenEXR image size: 100 x 200\n"));
    for (int y = 0; y < 200; y += 7)
        for (int x = 0; x < 100; x += 3) {
            const float* p = &l.pixels[(size_t(y) * 100 + x) * 3];
            ASSERT_EQ(p[0], float(10 + x));
            ASSERT_EQ(p[1], float(20 + y));
            ASSERT_EQ(p[2], 0.5f);
        }
    EXPECT_EQ(l.minimum, 0.5f);
    EXPECT_EQ(l.maximum, 219.0f);

    // A negative origin as well.
    ASSERT_TRUE(writeTestExr(dir + "/negative.exr", -5, -7, 4, 2, [](int x, int y) {
        return rgb{float(x + 10), float(y + 10), 1.0f};
    }));
    const radianceFile n = loadRadianceFile(dir + "/negative.exr");
    ASSERT_TRUE(n.loadOk);
    ASSERT_EQ(n.width, 10);
    ASSERT_EQ(n.height, 10);
    EXPECT_EQ(n.pixels[0], 5.0f);
    EXPECT_EQ(n.pixels[1], 3.0f);
    EXPECT_EQ(n.pixels[(size_t(9) * 10 + 9) * 3], 14.0f);
}

TEST(openExr, valuesOutsideTheRadianceRangeAreClamped) {
    const QString path = makeTempDir("exr") + "/clamp.exr";
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const rgb values[6] = {
        {65504.0f, inf, -inf}, {nan, -3.0f, 0.001f}, {1.0f, 2.0f, 4.0f}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    ASSERT_TRUE(writeTestExr(path, 0, 0, 2, 1, [&](int x, int y) { return values[y * 3 + x]; }));
    const radianceFile l = loadRadianceFile(path);
    ASSERT_TRUE(l.loadOk);
    // 65504 and +inf stay at the largest half; -inf, NaN and negative values carry no light.
    EXPECT_EQ(l.pixels[0], 65504.0f);
    EXPECT_EQ(l.pixels[1], 65504.0f);
    EXPECT_EQ(l.pixels[2], 0.0f);
    EXPECT_EQ(l.pixels[3], 0.0f);
    EXPECT_EQ(l.pixels[4], 0.0f);
    EXPECT_EQ(l.pixels[5], 0.0010004043579101562f); // nearest half of 0.001
    EXPECT_EQ(l.pixels[6], 1.0f);
    EXPECT_EQ(l.maximum, 65504.0f);
    EXPECT_EQ(l.minimum, 0.0f);
}

TEST(openExr, damagedAndForeignFilesAreRefused) {
    const QString dir = makeTempDir("exr");
    ASSERT_TRUE(writeTestExr(dir + "/good.exr", 0, 0, 63, 63, [](int x, int y) {
        return rgb{float(x * y % 17), float(x), float(y)};
    }));
    const QByteArray good = readBytes(dir + "/good.exr");
    ASSERT_GT(good.size(), 400);

    struct damaged {
        const char* name;
        QByteArray bytes;
    };
    // Cuts are the truncation sweep's; here damage inside a whole file and a foreign file.
    QByteArray scrambled = good;
    for (int i = good.size() / 2; i < good.size(); i += 3)
        scrambled[i] = char(scrambled[i] ^ 0x5a);
    const std::vector<damaged> cases = {
        {"text", QByteArray("this is not an OpenEXR file\n")},
        {"pixels scrambled", scrambled},
    };
    for (const damaged& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir + "/damaged.exr";
        ASSERT_TRUE(writeBytes(path, c.bytes));
        logCapture log;
        const radianceFile l = loadRadianceFile(path);
        EXPECT_FALSE(l.infoOk && l.loadOk);
        EXPECT_FALSE(log.text().empty());
    }

    // A load asked for another size than the file has is refused.
    std::vector<float> buffer(64 * 65 * 3);
    float mn = 0, mx = 0;
    EXPECT_FALSE(halvora::loadEXR(dir + "/good.exr", 64, 65, buffer.data(), mn, mx, nullptr));
    EXPECT_FALSE(halvora::loadEXR(dir + "/missing.exr", 64, 64, buffer.data(), mn, mx, nullptr));
}

TEST(openExr, realSampleFilesLoad) {
    HALVORA_REQUIRE_DATA();
    struct sample {
        const char* path;
        int width, height;
    };
    const std::vector<sample> files = {
        {"ScanLines/Desk.exr", 644, 874},
        {"ScanLines/Cannon.exr", 780, 566},       // B44
        {"ScanLines/Carrots.exr", 600, 400},      // ZIP
        {"ScanLines/CandleGlass.exr", 1000, 810}, // A = 0 with light
        {"Tiles/GoldenGate.exr", 1262, 860},      // tiled
        {"MultiResolution/Bonita.exr", 550, 832}, // tiled mip-map
        {"MultiResolution/ColorCodedLevels.exr", 512, 512},
        {"LuminanceChroma/MtTamNorth.exr", 1198, 796},
        {"LuminanceChroma/Garden.exr", 874, 493},   // luminance only, tiled
        {"TestImages/AllHalfValues.exr", 256, 256}, // every half, NaN and infinities too
        {"TestImages/BrightRingsNanInf.exr", 800, 800},
        {"TestImages/GrayRampsHorizontal.exr", 800, 800},
        {"TestImages/WideFloatRange.exr", 500, 500}, // a single float G channel
        {"Beachball/singlepart.0001.exr", 911, 876}, // many extra channels
        {"Beachball/multipart.0001.exr", 877, 876},  // multi-part: the first part, window 654 245 …
    };
    for (const sample& s : files) {
        SCOPED_TRACE(s.path);
        logCapture log;
        const radianceFile l = loadRadianceFile(dataFile(QString("radiance/openexr_images/") + s.path));
        ASSERT_TRUE(l.infoOk) << log.text();
        ASSERT_TRUE(l.loadOk) << log.text();
        EXPECT_EQ(l.width, s.width);
        EXPECT_EQ(l.height, s.height);
        for (float v : l.pixels)
            ASSERT_TRUE(v >= 0.0f && v <= 65504.0f) << v;
        EXPECT_GT(l.maximum, 0.0f);
    }
}

TEST(openExr, displayWindowFilesHoldTheSamePixelsWhateverTheirWindows) {
    HALVORA_REQUIRE_DATA();
    // t01 … t16 store the same 400 × 300 pixels with different data and display windows
    // (t08's data window starts at 30, 40).
    const radianceFile reference =
        loadRadianceFile(dataFile("radiance/openexr_images/DisplayWindow/t01.exr"));
    ASSERT_TRUE(reference.loadOk);
    ASSERT_EQ(reference.width, 400);
    ASSERT_EQ(reference.height, 300);
    for (int i = 2; i <= 16; ++i) {
        const QString name =
            QString("radiance/openexr_images/DisplayWindow/t%1.exr").arg(i, 2, 10, QChar('0'));
        SCOPED_TRACE(name.toStdString());
        const radianceFile l = loadRadianceFile(dataFile(name));
        ASSERT_TRUE(l.loadOk);
        EXPECT_EQ(l.width, 400);
        EXPECT_EQ(l.height, 300);
        EXPECT_TRUE(l.pixels == reference.pixels);
    }
}

TEST(openExr, concurrentLoadsOfDifferentFilesMatchSequentialOnes) {
    const QString dir = makeTempDir("exr");
    ASSERT_TRUE(writeTestExr(dir + "/a.exr", 100, 50, 399, 249, [](int x, int y) {
        return rgb{float(x % 200), float(y % 100), 3.0f};
    }));
    ASSERT_TRUE(writeTestExr(dir + "/b.exr", -20, -30, 279, 169, [](int x, int y) {
        return rgb{float((x + 20) % 50), 7.0f, float((y + 30) % 64)};
    }));
    const radianceFile a = loadRadianceFile(dir + "/a.exr");
    const radianceFile b = loadRadianceFile(dir + "/b.exr");
    ASSERT_TRUE(a.loadOk);
    ASSERT_TRUE(b.loadOk);
    // Each thread takes its own information and load calls; no origin is shared between them.
    for (int round = 0; round < 5; ++round) {
        radianceFile ca, cb;
        std::thread ta([&] { ca = loadRadianceFile(dir + "/a.exr"); });
        std::thread tb([&] { cb = loadRadianceFile(dir + "/b.exr"); });
        ta.join();
        tb.join();
        ASSERT_TRUE(ca.pixels == a.pixels);
        ASSERT_TRUE(cb.pixels == b.pixels);
    }
}

TEST(openExr, everyCompressionLoadsEveryRowAcrossItsBlocks) {
    // 300 rows from an origin off any block boundary: bands of rows cross the 16-, 32- and 256-row
    // blocks of the compressions at different places. Small integers are exact in every lossless
    // compression; the lossy ones get a margin.
    const QString dir = makeTempDir("exr");
    const auto value = [](int x, int y) {
        return rgb{float((x * 3 + y) % 64), float(y % 97), float(x % 31)};
    };
    struct kind {
        int compression;
        float tolerance;
    };
    for (const kind k :
         {kind{IMF_NO_COMPRESSION, 0}, kind{IMF_RLE_COMPRESSION, 0}, kind{IMF_ZIPS_COMPRESSION, 0},
          kind{IMF_ZIP_COMPRESSION, 0}, kind{IMF_PIZ_COMPRESSION, 0}, kind{IMF_PXR24_COMPRESSION, 0},
          kind{IMF_B44_COMPRESSION, 0.25f}, kind{IMF_DWAA_COMPRESSION, 0.25f},
          kind{IMF_DWAB_COMPRESSION, 0.25f}}) {
        SCOPED_TRACE(k.compression);
        const QString path = dir + QString("/c%1.exr").arg(k.compression);
        ASSERT_TRUE(writeTestExr(path, 3, 7, 3 + 40 - 1, 7 + 300 - 1, value, k.compression));
        const radianceFile l = loadRadianceFile(path);
        ASSERT_TRUE(l.loadOk);
        ASSERT_EQ(l.height, 300);
        for (int y = 0; y < 300; ++y)
            for (int x = 0; x < 40; ++x) {
                const rgb v = value(3 + x, 7 + y);
                const float* p = &l.pixels[(size_t(y) * 40 + x) * 3];
                const float expected[3] = {v.r, v.g, v.b};
                for (int c = 0; c < 3; ++c)
                    ASSERT_NEAR(p[c], expected[c], k.tolerance * (expected[c] + 8.0f))
                        << "row " << y << " column " << x;
            }
    }
}

TEST(openExr, headerSizesTheFileCannotHoldAreRefusedBeforeTheLibraryReservesThem) {
    const QString dir = makeTempDir("exr");
    ASSERT_TRUE(writeTestExr(dir + "/good.exr", 0, 0, 15, 15, [](int x, int y) {
        return rgb{float(x + 1), float(y), 1.0f};
    }));
    const QByteArray good = readBytes(dir + "/good.exr");
    ASSERT_GT(good.size(), 8);
    // An extra attribute right after the version field, of the declared size and carrying `held` bytes.
    auto withAttribute = [&](int32_t declared, int held) {
        QByteArray attribute("junk\0blob\0", 10);
        for (int i = 0; i < 4; ++i)
            attribute.append(char(uint32_t(declared) >> (8 * i)));
        attribute.append(QByteArray(held, 'x'));
        return good.left(8) + attribute + good.mid(8);
    };
    struct lying {
        const char* name;
        QByteArray bytes;
        QString reason;
    };
    const std::vector<lying> cases = {
        {"2 GB attribute", withAttribute(0x7ffffff0, 4),
         "has a header attribute \"junk\" of 2147483632 bytes"},
        {"negative size", withAttribute(-16, 0), "has a header attribute \"junk\" of -16 bytes"},
        {"attribute past the end", withAttribute(good.size(), 0), "has a header attribute \"junk\" of"},
        {"name without end", good.left(8) + QByteArray(300, 'n'), "has a damaged header"},
        {"header without end", good.left(good.indexOf("dataWindow") + 20), "has a damaged header"},
    };
    for (const lying& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir + "/lying.exr";
        ASSERT_TRUE(writeBytes(path, c.bytes));
        int width = 0, height = 0;
        QString error;
        EXPECT_FALSE(halvora::getEXRinfo(path, width, height, &error));
        EXPECT_TRUE(error.startsWith(path + ": " + c.reason)) << error.toStdString();
    }
    // The tiles of a file found by fuzz_exr (kept with the reader regressions) are 31 M rows high.
    const QString tall =
        QString(HALVORA_SOURCE_DIR) +
        "/tests/imageio/regressions/fuzz_exr_tiles_31M_rows_high_made_openexr_reserve_4GB.exr";
    int width = 0, height = 0;
    QString error;
    // With its window's name mended it declares a 4112 × 8 picture, and the tiles are refused.
    QByteArray withWindow = readBytes(tall).replace("daAtaWindow", "dataWindow");
    ASSERT_TRUE(writeBytes(dir + "/tall.exr", withWindow));
    error.clear();
    EXPECT_FALSE(halvora::getEXRinfo(dir + "/tall.exr", width, height, &error));
    EXPECT_TRUE(error.startsWith(dir + "/tall.exr: declares 514 tiles of 8 × 31736064 pixels for a 4112 × 8"))
        << error.toStdString();
    // Tiles of 4096 × 4096 fit that window, but 60 more float channels make each tile 3.9 GB.
    const int tileDesc = withWindow.indexOf("tiledesc") + 9 + 4;
    withWindow.replace(tileDesc, 8, QByteArray("\x00\x10\x00\x00\x00\x10\x00\x00", 8));
    QByteArray channels;
    for (int i = 0; i < 60; ++i)
        channels += QByteArray("c") + QByteArray::number(i) +
                    QByteArray("\0\x02\0\0\0\0\0\0\0\x01\0\0\0\x01\0\0\0", 17);
    withWindow.insert(withWindow.indexOf("mpression") - 1, channels);
    ASSERT_TRUE(writeBytes(dir + "/wide.exr", withWindow));
    error.clear();
    EXPECT_FALSE(halvora::getEXRinfo(dir + "/wide.exr", width, height, &error));
    EXPECT_EQ(error.toStdString(),
              (dir + "/wide.exr: declares tiles of 4096 × 4096 pixels of 246 bytes each (3936 MB per tile)")
                  .toStdString());

    // Attributes the file does hold are skipped, however long.
    const std::string comment(5000, 'c');
    ASSERT_TRUE(writeTestExr(
        dir + "/extra.exr", 0, 0, 15, 15,
        [](int x, int y) {
            return rgb{float(x + 1), float(y), 1.0f};
        },
        IMF_ZIP_COMPRESSION, comment.c_str()));
    const radianceFile extra = loadRadianceFile(dir + "/extra.exr");
    EXPECT_TRUE(extra.loadOk);
    EXPECT_EQ(extra.pixels[3], 2.0f);
}
