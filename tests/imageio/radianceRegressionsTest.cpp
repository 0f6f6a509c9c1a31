// Every hostile input kept in tests/imageio/regressions goes through the information and load calls
// of the reader its suffix names and must be refused with a debug-log line, never crash.

#include "imageio/exifInfo.h"
#include "imageio/imageLoader.h"
#include "imageio/imageSaver.h"
#include "imageio/radianceTestFiles.h"
#include "support/testSupport.h"

#include <QDir>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

using namespace halvora::test;

namespace {

// True when the file was accepted all the way through its load.
bool readsThrough(const QString& path) {
    if (path.endsWith(".hdr")) {
        int w = 0, h = 0;
        double prim[8];
        bool hasPrim = false;
        if (!getRGBEinfo(path, w, h, prim, hasPrim))
            return false;
        std::vector<float> pixels(size_t(w) * h * 3);
        float mx = 0, mn = 0;
        return imageLoader::loadRadianceRGBE(path, w, h, pixels.data(), mx, mn);
    }
    if (path.endsWith(".fits")) {
        int w = 0, h = 0, ch = 0, bits = 0;
        qint64 pos = 0;
        exifInfo_t exif;
        if (!imageLoader::getFITSinfo(path, w, h, ch, bits, pos, &exif))
            return false;
        std::vector<uint16_t> pixels(size_t(w) * h * 3);
        return imageLoader::loadFITS(path, w, h, pixels.data());
    }
    if (path.endsWith(".exr")) {
        int w = 0, h = 0;
        if (!getEXRinfo(path, w, h))
            return false;
        std::vector<float> pixels(size_t(w) * h * 3);
        float mn = 0, mx = 0;
        return loadEXR(path, w, h, pixels.data(), mn, mx);
    }
    ADD_FAILURE() << "no reader for " << path.toStdString();
    return true;
}

} // namespace

TEST(radianceRegressions, everyKeptHostileInputIsRefused) {
    const QDir dir(QStringLiteral(HALVORA_SOURCE_DIR) + "/tests/imageio/regressions");
    const QStringList files = dir.entryList({"*.hdr", "*.fits", "*.exr"}, QDir::Files, QDir::Name);
    ASSERT_GE(files.size(), 15);
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        logCapture log;
        EXPECT_FALSE(readsThrough(dir.filePath(name)));
        EXPECT_FALSE(log.text().empty());
    }
}

TEST(radianceRegressions, openExrDataWindowBeyondTheSizeLimitIsRefused) {
    // A valid file whose data window is then patched to absurd sizes.
    const QString dir = makeTempDir("exr");
    std::vector<float> pixels(4 * 4 * 3, 1.0f);
    ASSERT_TRUE(imageSaver::saveOpenEXR(dir + "/small.exr", 4, 4, pixels.data()));
    const QByteArray good = readBytes(dir + "/small.exr");
    const qsizetype at = good.indexOf(QByteArray("dataWindow\0box2i\0", 17));
    ASSERT_GT(at, 0);
    const qsizetype box = at + 17 + 4; // after the attribute's size field: xMin, yMin, xMax, yMax
    const int32_t patches[][4] = {{0, 0, 3000000, 3}, {0, 0, 3, 2000000000}, {5, 0, 3, 3}, {-2147483647, 0, 2147483647, 3}};
    for (const auto& p : patches) {
        QByteArray bad = good;
        std::memcpy(bad.data() + box, p, 16); // OpenEXR is little-endian, like this machine
        ASSERT_TRUE(writeBytes(dir + "/patched.exr", bad));
        logCapture log;
        EXPECT_FALSE(readsThrough(dir + "/patched.exr")) << p[2] << " " << p[3];
        EXPECT_FALSE(log.text().empty());
    }
}
