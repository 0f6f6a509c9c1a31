// OpenEXR reader through the library's C interface (RGBA view of scanline, tiled and
// luminance/chroma files). The data window is read again by the load call, so no state is kept
// between the information and the load call and several files may load at once.

#include "imageio/imageLoader.h"

#include "base/debugLog.h"
#include "base/failure.h"
#include "base/fileHandle.h"
#include "base/rgbBuffers.h"
#include "base/runContext.h"
#include "imageio/declaredSize.h"
#include "imageio/exrHeader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

#include <ImfCRgbaFile.h>

namespace {

constexpr float kHalfMax = 65504.0f;

struct inputCloser {
    void operator()(ImfInputFile* f) const { ImfCloseInputFile(f); }
};
using inputPtr = std::unique_ptr<ImfInputFile, inputCloser>;

struct dataWindow {
    int xMin = 0, yMin = 0, xMax = 0, yMax = 0;
    int width = 0, height = 0;
};

// Fewest bytes of stored pixel data per byte of half-float samples, by compression: RLE repeats a
// byte at most 128 times for two bytes; the Deflate-based ones (ZIP, ZIPS, PXR24) and PIZ compress at
// most 1032:1; B44A stores a flat 4 × 4 block of halves in 3 bytes; DWA codes an 8 × 8 block by its
// DC value before Deflate. Unknown compressions get no bound beyond their line offsets.
uint64_t bestRatio(int compression) {
    switch (compression) {
    case IMF_NO_COMPRESSION:
        return 1;
    case IMF_RLE_COMPRESSION:
        return 64;
    case IMF_ZIPS_COMPRESSION:
    case IMF_ZIP_COMPRESSION:
    case IMF_PIZ_COMPRESSION:
    case IMF_PXR24_COMPRESSION:
        return halvora::kDeflateMaxRatio;
    case IMF_B44_COMPRESSION:
    case IMF_B44A_COMPRESSION:
        return 11;
    case IMF_DWAA_COMPRESSION:
    case IMF_DWAB_COMPRESSION:
        return 64 * halvora::kDeflateMaxRatio;
    default:
        return 0;
    }
}

// Scanlines in one stored block of a scanline file, by compression.
int linesPerBlock(int compression) {
    switch (compression) {
    case IMF_ZIP_COMPRESSION:
    case IMF_PXR24_COMPRESSION:
        return 16;
    case IMF_PIZ_COMPRESSION:
    case IMF_B44_COMPRESSION:
    case IMF_B44A_COMPRESSION:
    case IMF_DWAA_COMPRESSION:
        return 32;
    case IMF_DWAB_COMPRESSION:
        return 256;
    default:
        return 1;
    }
}

// Rows read by one call of the load: a multiple of every compression's block height (tiles, often
// 32 or 64 rows high, are touched at most twice), and no more than 256 rows of any width.
int bandRows(int compression) {
    return std::max(64, linesPerBlock(compression));
}

/// The fewest bytes a file can hold a width × height data window in: each of `channels` samples at
/// least a half at the compression's best ratio, and for single-part scanline files the offset and
/// header of each block.
uint64_t leastExrBytes(int compression, int channels, bool scanlines, int64_t width, int64_t height) {
    uint64_t least = 0;
    if (const uint64_t ratio = bestRatio(compression))
        least = uint64_t(width) * uint64_t(height) * uint64_t(std::max(1, channels)) * 2 / ratio;
    if (scanlines)
        least += uint64_t((height + linesPerBlock(compression) - 1) / linesPerBlock(compression)) * 16;
    return least;
}

bool impossibleWindow(int64_t width, int64_t height) {
    return width <= 0 || height <= 0 || halvora::pictureElements(width, height, 3) == 0;
}

QString windowText(const dataWindow& w) {
    return QStringLiteral("has the impossible data window (%1, %2)-(%3, %4)")
        .arg(w.xMin)
        .arg(w.yMin)
        .arg(w.xMax)
        .arg(w.yMax);
}

/// Whether the tiles of a tiled file fit its data window: the library reserves an 8-byte offset for
/// every tile of the first level when it opens the file, and a buffer of a whole row of tiles (tile
/// height × picture width) when a load starts, whatever the picture's height.
bool tilesFit(const halvora::exrHeader& header, int64_t width, int64_t height, uint64_t fileSize,
              const char* caller, const QString& fileName, QString* error) {
    if (header.tileWidth == 0 || header.tileHeight == 0) return true;
    const uint64_t tiles = uint64_t((width + header.tileWidth - 1) / header.tileWidth) *
                           uint64_t((height + header.tileHeight - 1) / header.tileHeight);
    const bool tooLarge = header.tileWidth > uint64_t(std::max<int64_t>(width, 4096)) ||
                          header.tileHeight > uint64_t(std::max<int64_t>(height, 4096));
    // Opening the file also reserves the buffer of one whole tile over all its channels.
    constexpr uint64_t kLargestTileBytes = uint64_t(1) << 30;
    const uint64_t tilePixels = uint64_t(header.tileWidth) * header.tileHeight;
    if (!tooLarge && header.pixelBytes > kLargestTileBytes / tilePixels)
        return halvora::fail(
            error, caller, fileName,
            QStringLiteral("declares tiles of %1 × %2 pixels of %3 bytes each (%4 MB per tile)")
                .arg(header.tileWidth)
                .arg(header.tileHeight)
                .arg(header.pixelBytes)
                .arg(tilePixels * header.pixelBytes >> 20));
    if (!tooLarge && tiles <= fileSize / 8) return true;
    return halvora::fail(
        error, caller, fileName,
        QStringLiteral("declares %1 tiles of %2 × %3 pixels for a %4 × %5 picture in %6 bytes")
            .arg(tiles)
            .arg(header.tileWidth)
            .arg(header.tileHeight)
            .arg(width)
            .arg(height)
            .arg(fileSize));
}

/// Opens the file and checks its data window and channels; false with the reason of a refusal.
inputPtr openExr(const QString& fileName, dataWindow& w, const char* caller, QString* error) {
    int64_t fileSize = 0;
    halvora::exrHeader header;
    {
        // The library reserves memory by the sizes the header declares: they are checked against the
        // file first, and the data window against the least any file of that size can hold.
        const halvora::fileHandle file = halvora::openInputFile(fileName, caller, error, &fileSize);
        if (!file) return nullptr;
        QString reason;
        if (!halvora::readExrHeader(file.get(), uint64_t(fileSize), header, reason)) {
            halvora::fail(error, caller, fileName, reason);
            return nullptr;
        }
        // Without one the library assumes a window of its own and sizes its buffers by the tiles.
        if (!header.hasDataWindow) {
            halvora::fail(error, caller, fileName, "has no data window");
            return nullptr;
        }
        {
            const dataWindow declared{header.xMin, header.yMin, header.xMax, header.yMax};
            const int64_t width = int64_t(header.xMax) - header.xMin + 1;
            const int64_t height = int64_t(header.yMax) - header.yMin + 1;
            if (impossibleWindow(width, height)) {
                halvora::fail(error, caller, fileName, windowText(declared));
                return nullptr;
            }
            if (!halvora::fileHoldsPicture(
                    width, height,
                    leastExrBytes(header.compression, 1, header.singlePartScanlines(), width, height),
                    uint64_t(fileSize), caller, fileName, error))
                return nullptr;
            if (!tilesFit(header, width, height, uint64_t(fileSize), caller, fileName, error)) return nullptr;
        }
    }
    inputPtr in(ImfOpenInputFile(halvora::localFileName(fileName).constData()));
    if (!in) {
        halvora::fail(error, caller, fileName,
                      QStringLiteral("is not a readable OpenEXR file (%1)").arg(ImfErrorMessage()));
        return nullptr;
    }
    ImfHeaderDataWindow(ImfInputHeader(in.get()), &w.xMin, &w.yMin, &w.xMax, &w.yMax);
    const int64_t width = int64_t(w.xMax) - w.xMin + 1;
    const int64_t height = int64_t(w.yMax) - w.yMin + 1;
    if (impossibleWindow(width, height)) {
        halvora::fail(error, caller, fileName, windowText(w));
        return nullptr;
    }
    if (!tilesFit(header, width, height, uint64_t(fileSize), caller, fileName, error)) return nullptr;
    const int channelFlags = ImfInputChannels(in.get());
    if (!(channelFlags & (IMF_WRITE_RGB | IMF_WRITE_Y))) {
        halvora::fail(error, caller, fileName, "has no colour or luminance channels");
        return nullptr;
    }
    int channels = 0;
    for (int flag : {IMF_WRITE_R, IMF_WRITE_G, IMF_WRITE_B, IMF_WRITE_A, IMF_WRITE_Y})
        channels += (channelFlags & flag) ? 1 : 0;
    const int compression = ImfHeaderCompression(ImfInputHeader(in.get()));
    if (!halvora::fileHoldsPicture(
            width, height, leastExrBytes(compression, channels, header.singlePartScanlines(), width, height),
            uint64_t(fileSize), caller, fileName, error))
        return nullptr;
    w.width = int(width);
    w.height = int(height);
    return in;
}

// Infinity and anything above the half range become the largest half. Radiance is never negative
// and NaN carries no light: both become 0, so later stages always see 0 … 65504.
inline float clampHalfValue(float v) {
    if (!(v > 0.0f)) return 0.0f;
    return std::min(v, kHalfMax);
}

} // namespace

namespace halvora {

bool getEXRinfo(const QString& fileName, int& width, int& height, QString* error) {
    dataWindow w;
    inputPtr in = openExr(fileName, w, "getEXRinfo", error);
    if (!in) return false;
    debugLog("OpenEXR image size: %d x %d\n", w.width, w.height);
    width = w.width;
    height = w.height;
    return true;
}

bool loadEXR(const QString& fileName, int width, int height, float* rgbFloat, float& minimum, float& maximum,
             QString* error) {
    static const char* const caller = "loadEXR";
    dataWindow w;
    inputPtr in = openExr(fileName, w, caller, error);
    if (!in) return false;
    if (!rgbFloat) return halvora::fail(error, caller, fileName, "no picture to load into");
    if (w.width != width || w.height != height)
        return halvora::fail(error, caller, fileName,
                             QStringLiteral("now holds a %1 × %2 picture instead of %3 × %4")
                                 .arg(w.width)
                                 .arg(w.height)
                                 .arg(width)
                                 .arg(height));

    // Rows are read in bands of whole stored blocks, one library call per band: B44 files read about
    // 2.6 times faster than row by row, the other compressions about as fast.
    const int band = std::min(bandRows(ImfHeaderCompression(ImfInputHeader(in.get()))), height);
    std::vector<ImfRgba> lines(size_t(width) * size_t(band));
    std::vector<ImfHalf> halves(size_t(width) * 3);
    std::vector<float> values(size_t(width) * 3);
    float lo = std::numeric_limits<float>::max();
    float hi = 0.0f;
    for (int first = 0; first < height; first += band) {
        if (halvora::cancelRequested())
            return halvora::fail(error, caller, fileName, "loading was interrupted");
        const int last = std::min(first + band, height) - 1;
        const int yFirst = w.yMin + first, yLast = w.yMin + last;
        // The library addresses pixel (x, y) at base + x + y * width, so base is shifted back by the
        // band's first row and xMin pixels; the address is formed as an integer to keep our pointer
        // arithmetic in bounds.
        const intptr_t shift =
            (intptr_t(yFirst) * intptr_t(width) + intptr_t(w.xMin)) * intptr_t(sizeof(ImfRgba));
        auto* base = reinterpret_cast<ImfRgba*>(reinterpret_cast<uintptr_t>(lines.data()) - uintptr_t(shift));
        if (!ImfInputSetFrameBuffer(in.get(), base, 1, width) || !ImfInputReadPixels(in.get(), yFirst, yLast))
            return halvora::fail(error, caller, fileName,
                                 QStringLiteral("rows %1 to %2 cannot be read (%3)")
                                     .arg(yFirst)
                                     .arg(yLast)
                                     .arg(ImfErrorMessage()));
        for (int r = first; r <= last; ++r) {
            const ImfRgba* line = lines.data() + size_t(r - first) * size_t(width);
            for (int x = 0; x < width; ++x) {
                halves[x] = line[x].r;
                halves[size_t(width) + x] = line[x].g;
                halves[size_t(width) * 2 + x] = line[x].b;
            }
            ImfHalfToFloatArray(width * 3, halves.data(), values.data());
            float* out = rgbFloat + size_t(r) * size_t(width) * 3;
            for (int x = 0; x < width; ++x) {
                for (int c = 0; c < 3; ++c) {
                    const float v = clampHalfValue(values[size_t(c) * width + x]);
                    out[size_t(x) * 3 + c] = v;
                    lo = std::min(lo, v);
                    hi = std::max(hi, v);
                }
            }
        }
    }
    // Nothing to normalise or tone-map (the picture would divide by a zero maximum later).
    if (!(hi > 0.0f)) return halvora::fail(error, caller, fileName, "every pixel is black");
    minimum = lo;
    maximum = hi;
    return true;
}

} // namespace halvora
