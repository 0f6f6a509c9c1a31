// Every prefix of small valid files through each reader, as a download cut short or a full disk leaves
// them. A reader must either refuse the prefix with a logged reason or deliver exactly the picture of the
// whole file; it must never write past the buffer its information call sized. The files put their
// pixel data last where they can (TIFF directories before the strips, like most camera files), so the
// cuts fall inside the pixel data and not only inside headers. In the sanitizer run a read past the
// cut bytes ends the test as well.

#include "imageio/exifInfo.h"
#include "imageio/imageLoader.h"
#include "imageio/imageSaver.h"
#include "imageio/tiffReader.h"
#include "support/radianceFiles.h"
#include "support/testSupport.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

using halvora::test::logCapture;

namespace {

constexpr size_t guard = 64;

// An output buffer of `n` samples followed by a guard band that no reader may touch.
template <typename T> struct guardedBuffer {
    std::vector<T> v;
    T sentinel;
    guardedBuffer(size_t n, T s) : v(n + guard, s), sentinel(s) {}
    T* data() { return v.data(); }
    bool guardIntact() const {
        return std::all_of(v.end() - guard, v.end(),
                           [&](T x) { return std::memcmp(&x, &sentinel, sizeof x) == 0; });
    }
    std::vector<T> samples() const { return std::vector<T>(v.begin(), v.end() - guard); }
};

// One decode of a file or prefix: whether the information and load calls succeeded, and the picture.
struct decodeResult {
    bool infoOk = false, ok = false;
    int width = 0, height = 0;
    std::vector<float> pixels; ///< every sample as float, whatever the reader's type
    bool guardIntact = true;
    std::string log;
    QString error; ///< the reason of a refusal, from the reader
};

template <typename T> std::vector<float> asFloat(const std::vector<T>& v) {
    return {v.begin(), v.end()};
}

QFileInfoList seeds(const char* folder, const char* pattern) {
    return QDir(QString(HALVORA_SOURCE_DIR) + "/fuzz/corpus/" + folder)
        .entryInfoList({pattern}, QDir::Files, QDir::Name);
}

// Prefix lengths to try: all of them for small files, an even spread plus the last bytes otherwise.
std::vector<size_t> prefixLengths(size_t size) {
    std::vector<size_t> n;
    const size_t step = std::max<size_t>(1, size / 500);
    for (size_t k = 0; k < size; k += step)
        n.push_back(k);
    for (size_t k = size > 16 ? size - 16 : 0; k < size; ++k)
        n.push_back(k);
    std::sort(n.begin(), n.end());
    n.erase(std::unique(n.begin(), n.end()), n.end());
    return n;
}

// Runs `decode` on the whole file and on its prefixes, checking the rule above.
void sweep(const std::string& name, const QByteArray& whole,
           const std::function<decodeResult(const QByteArray&)>& decode, bool quietProbe = false) {
    SCOPED_TRACE(name);
    const decodeResult full = decode(whole);
    ASSERT_TRUE(full.ok) << "the whole file must load: " << full.error.toStdString() << full.log;
    ASSERT_FALSE(full.pixels.empty());
    int refused = 0;
    for (size_t n : prefixLengths(size_t(whole.size()))) {
        const decodeResult cut = decode(whole.left(qsizetype(n)));
        EXPECT_TRUE(cut.guardIntact) << "wrote past its buffer at prefix " << n;
        if (!cut.ok) {
            ++refused;
            // The load call explains its refusal; a bare information probe may decline silently.
            EXPECT_TRUE(!cut.error.isEmpty() || (!cut.infoOk && quietProbe))
                << "refused without a reason at " << n;
            continue;
        }
        // Accepted: only bytes the picture does not need can have been cut.
        EXPECT_EQ(cut.width, full.width) << n;
        EXPECT_EQ(cut.height, full.height) << n;
        EXPECT_TRUE(cut.pixels == full.pixels)
            << "a cut file gave another picture at prefix " << n << " of " << whole.size();
    }
    EXPECT_GT(refused, 0);
}

decodeResult decodeTiff(const QByteArray& bytes) {
    decodeResult r;
    logCapture log;
    // An exact copy: the sanitizer sees any read beyond the cut.
    const std::vector<uint8_t> data(bytes.begin(), bytes.end());
    int bits = 0;
    r.infoOk = halvora::tiffQuickInfoFromMemory(data.data(), data.size(), "cut.tif", r.width, r.height, bits,
                                                &r.error);
    if (r.infoOk && r.width > 0 && r.height > 0 && int64_t(r.width) * r.height <= (1 << 20)) {
        const size_t n = size_t(r.width) * size_t(r.height) * 3;
        guardedBuffer<uint16_t> rgb16(n, 0xBEEF);
        guardedBuffer<float> rgbFloat(n, -7.0f);
        float mn = 0, mx = 0;
        exifInfo_t exif;
        r.ok = halvora::tiffDecodeFromMemory(data.data(), data.size(), "cut.tif", rgb16.data(),
                                             rgbFloat.data(), mn, mx, exif, &r.error);
        r.guardIntact = rgb16.guardIntact() && rgbFloat.guardIntact();
        r.pixels = asFloat(rgb16.samples());
        const std::vector<float> f = rgbFloat.samples();
        r.pixels.insert(r.pixels.end(), f.begin(), f.end());
    }
    r.log = log.text();
    return r;
}

// The same TIFF with its first directory (and everything after it) moved in front of the strips, as
// cameras write them, so that cuts fall inside the strips; offsets are moved along. Empty for files
// this does not handle (several directories, offsets other than strips).
QByteArray directoryFirst(const QByteArray& in) {
    if (in.size() < 16) return {};
    const bool be = in[0] == 'M';
    auto at = [&](qsizetype p, int n) {
        uint32_t v = 0;
        for (int k = 0; k < n; ++k)
            v |= uint32_t(uint8_t(in[p + (be ? n - 1 - k : k)])) << (8 * k);
        return v;
    };
    auto put32 = [&](QByteArray& out, qsizetype p, uint32_t v) {
        for (int k = 0; k < 4; ++k)
            out[p + (be ? 3 - k : k)] = char(uint8_t(v >> (8 * k)));
    };
    const uint32_t ifd = at(4, 4);
    const qsizetype size = in.size();
    if (ifd < 8 || ifd + 2 > size) return {};
    const uint32_t n = at(ifd, 2);
    if (ifd + 2 + 12 * n + 4 > size || at(ifd + 2 + 12 * n, 4) != 0) return {};
    // Old offset → new offset: the directory part moves to 8, the part before it to the end.
    auto moved = [&](uint32_t o) { return o >= ifd ? o - ifd + 8 : o + uint32_t(size - ifd); };
    QByteArray out = in.left(8) + in.mid(ifd) + in.mid(8, ifd - 8);
    put32(out, 4, 8);
    for (uint32_t i = 0; i < n; ++i) {
        const qsizetype e = ifd + 2 + 12 * i;
        const uint32_t tag = at(e, 2), type = at(e + 2, 2), count = at(e + 4, 4);
        if (tag == 324 || tag == 330 || tag == 34665 || tag == 34853 || tag == 40965) return {};
        const int unit = type == 3 || type == 8                  ? 2
                         : type == 4 || type == 9 || type == 11  ? 4
                         : type == 5 || type == 10 || type == 12 ? 8
                                                                 : 1;
        const qsizetype eNew = e - ifd + 8;
        qsizetype values = e + 8; // where the values are in the old file
        if (uint64_t(count) * unit > 4) {
            values = at(e + 8, 4);
            if (values + qsizetype(count) * unit > size) return {};
            put32(out, eNew + 8, moved(uint32_t(values)));
        }
        if (tag == 273) {
            if (type != 4) return {};
            const qsizetype valuesNew = uint64_t(count) * unit > 4 ? moved(uint32_t(values)) : eNew + 8;
            for (uint32_t k = 0; k < count; ++k)
                put32(out, valuesNew + 4 * k, moved(at(values + 4 * k, 4)));
        }
    }
    return out;
}

// File readers see the prefix as a file of that length.
QString prefixFile(const QByteArray& bytes, const char* suffix) {
    static const QString dir = halvora::test::makeTempDir("truncated");
    const QString path = dir + "/cut." + suffix;
    EXPECT_TRUE(halvora::test::writeBytes(path, bytes));
    return path;
}

// The radiance readers (.hdr, .exr) through their information and load calls.
decodeResult decodeRadiance(const QByteArray& bytes, const char* suffix) {
    decodeResult r;
    logCapture log;
    halvora::test::radianceFile f =
        halvora::test::loadRadianceFile(prefixFile(bytes, suffix), guard, 1 << 20);
    r.infoOk = f.infoOk;
    r.ok = f.loadOk;
    r.width = f.width;
    r.height = f.height;
    r.error = f.error;
    if (!f.pixels.empty()) {
        r.guardIntact =
            std::all_of(f.pixels.end() - guard, f.pixels.end(), [](float v) { return v == -7.0f; });
        r.pixels.assign(f.pixels.begin(), f.pixels.end() - guard);
    }
    r.log = log.text();
    return r;
}

decodeResult decodeFits(const QByteArray& bytes) {
    decodeResult r;
    logCapture log;
    const QString path = prefixFile(bytes, "fits");
    int channels = 0, bitpix = 0;
    qint64 dataPosition = 0;
    r.infoOk =
        imageLoader::getFITSinfo(path, r.width, r.height, channels, bitpix, dataPosition, nullptr, &r.error);
    if (r.infoOk && int64_t(r.width) * r.height <= (1 << 20)) {
        guardedBuffer<uint16_t> rgb(size_t(r.width) * size_t(r.height) * 3, 0xBEEF);
        r.ok = imageLoader::loadFITS(path, r.width, r.height, rgb.data(), &r.error);
        r.guardIntact = rgb.guardIntact();
        r.pixels = asFloat(rgb.samples());
    }
    r.log = log.text();
    return r;
}

} // namespace

TEST(truncationSweep, tiffFiles) {
    const QFileInfoList files = seeds("tiff", "*.tif");
    ASSERT_GE(files.size(), 10);
    int rearranged = 0;
    for (const QFileInfo& f : files) {
        const QByteArray bytes = halvora::test::readBytes(f.filePath());
        sweep(f.fileName().toStdString(), bytes, decodeTiff, true);
        const QByteArray stripsLast = directoryFirst(bytes);
        if (stripsLast.isEmpty()) continue;
        ++rearranged;
        // The rearranged file is the same picture.
        ASSERT_TRUE(decodeTiff(stripsLast).pixels == decodeTiff(bytes).pixels) << f.fileName().toStdString();
        sweep(f.fileName().toStdString() + " with its directory first", stripsLast, decodeTiff, true);
    }
    EXPECT_GE(rearranged, 10) << "too few files whose cuts reach the strips";
}

TEST(truncationSweep, radianceRgbeFiles) {
    const QFileInfoList files = seeds("rgbe", "*.hdr");
    ASSERT_GE(files.size(), 5);
    for (const QFileInfo& f : files)
        sweep(f.fileName().toStdString(), halvora::test::readBytes(f.filePath()),
              [](const QByteArray& b) { return decodeRadiance(b, "hdr"); });
}

TEST(truncationSweep, fitsFiles) {
    // The 8-bit file is a format the reader refuses whole; the others load.
    for (const char* name : {"int16_8x6.fits", "int32_4x3x3.fits", "float_8x4.fits", "const_2x2.fits"})
        sweep(name, halvora::test::readBytes(QString(HALVORA_SOURCE_DIR) + "/fuzz/corpus/fits/" + name),
              decodeFits);
}

TEST(truncationSweep, openExrFiles) {
    // Written by the program's own writer (PIZ, scanlines): a gradient with some detail.
    const int w = 24, h = 16;
    std::vector<float> rgb(size_t(w) * h * 3);
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = float(std::pow(2.0, double(i % 97) / 8.0 - 4.0));
    const QString path = halvora::test::makeTempDir("exr") + "/whole.exr";
    QString error;
    ASSERT_TRUE(imageSaver::saveOpenEXR(path, w, h, rgb.data(), &error)) << error.toStdString();
    sweep("whole.exr", halvora::test::readBytes(path),
          [](const QByteArray& b) { return decodeRadiance(b, "exr"); });
}
