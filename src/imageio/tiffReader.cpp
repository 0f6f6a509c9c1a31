#include "imageio/tiffReader.h"

#include "base/debugLog.h"
#include "base/failure.h"
#include "base/fileHandle.h"
#include "base/parallelFor.h"
#include "base/rgbBuffers.h"
#include "base/runContext.h"
#include "imageio/declaredSize.h"
#include "imageio/exifReader.h"
#include "imageio/imageLoader.h"
#include "imageio/lzwDecoder.h"
#include "imageio/packBitsDecoder.h"

#include <QFile>
#include <algorithm>
#include <atomic>
#include <bit>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

constexpr const char* kLoad = "imageLoader::loadTIFF";
constexpr const char* kInfo = "tiffQuickInfo";

enum tiffCompression {
    compressionNone = 1,
    compressionLzw = 5,
    compressionDeflate = 8,
    compressionDeflateOld = 32946,
    compressionPackBits = 32773
};

// Most bytes one byte of compressed strip data can stand for. PackBits repeats a byte at most 128
// times for a two-byte run. An LZW code has at least 9 bits and stands for at most 3839 bytes (the
// string of code 4095, which is at most one byte longer than the entry before it, from 258 on).
constexpr uint64_t kPackBitsMaxRatio = 64;
constexpr uint64_t kLzwMaxRatio = 3413;

uint16_t get16(const uint8_t* p, bool bigEndian) {
    return bigEndian ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
}
uint32_t get32(const uint8_t* p, bool bigEndian) {
    return bigEndian ? (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3])
                     : (uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
}

/// The fields of a picture's first directory that decide whether this reader can read it.
struct tiffFormat {
    int64_t width = 0;
    int64_t height = 0;
    int bits = 0;
    int compression = 0; ///< 0: the tag is absent (none)
    int samples = 0;     ///< 0: the tag is absent (one)
    int sampleFormat = 0;
    int photometric = -1;
    int planar = 0;
    bool tiled = false;

    int effectiveCompression() const { return compression == 0 ? compressionNone : compression; }
    int effectiveSamples() const { return samples == 0 ? 1 : samples; }
};

bool refuse(const char* caller, const QString& fileName, QString* error, const QString& what) {
    return halvora::fail(error, caller, fileName, "unsupported TIFF format (" + what + ")");
}

/// Refuses what this reader cannot turn into the right picture.
bool checkFormat(const tiffFormat& f, const char* caller, const QString& fileName, QString* error) {
    if (f.bits != 8 && f.bits != 16 && f.bits != 32)
        return refuse(caller, fileName, error, QStringLiteral("bits per sample = %1").arg(f.bits));
    const int compression = f.effectiveCompression();
    if (compression != compressionNone && compression != compressionLzw &&
        compression != compressionDeflate && compression != compressionDeflateOld &&
        compression != compressionPackBits)
        return refuse(caller, fileName, error, QStringLiteral("compression = %1").arg(compression));
    const int samples = f.effectiveSamples();
    if (samples != 1 && samples != 3 && samples != 4)
        return refuse(caller, fileName, error, QStringLiteral("samples per pixel = %1").arg(samples));
    // 32-bit samples are read as IEEE floats only when the file says they are; 8- and 16-bit ones as
    // unsigned integers.
    if (f.bits == 32 && f.sampleFormat != 3)
        return refuse(caller, fileName, error,
                      f.sampleFormat == 0
                          ? QStringLiteral("32-bit integer samples, sample format tag absent")
                          : QStringLiteral("32-bit samples of sample format %1, not floating point")
                                .arg(f.sampleFormat));
    if (f.bits != 32 && f.sampleFormat > 1)
        return refuse(caller, fileName, error,
                      QStringLiteral("%1-bit samples of sample format %2, not unsigned integers")
                          .arg(f.bits)
                          .arg(f.sampleFormat));
    if (f.photometric > 2 || f.photometric == 0)
        return refuse(caller, fileName, error,
                      QStringLiteral("photometric interpretation = %1").arg(f.photometric));
    if (f.planar == 2 && samples > 1)
        return refuse(caller, fileName, error, QStringLiteral("separate colour planes"));
    if (f.tiled) return refuse(caller, fileName, error, QStringLiteral("tiles instead of strips"));
    return true;
}

/// The fewest bytes the strips of the picture can take at the best ratio of its compression.
uint64_t leastStripBytes(const tiffFormat& f) {
    const uint64_t raw =
        uint64_t(f.width) * uint64_t(f.height) * uint64_t(f.effectiveSamples()) * uint64_t(f.bits / 8);
    switch (f.effectiveCompression()) {
    case compressionNone:
        return raw;
    case compressionPackBits:
        return raw / kPackBitsMaxRatio;
    case compressionLzw:
        return raw / kLzwMaxRatio;
    default:
        return raw / halvora::kDeflateMaxRatio;
    }
}

// First value of a SHORT or LONG entry `e` (inline, or at its value offset); false for other types
// or a value outside the file.
template <class ReadAt> bool firstValue(ReadAt& readAt, const uint8_t* e, bool be, uint32_t& value) {
    const int type = get16(e + 2, be);
    const uint32_t count = get32(e + 4, be);
    if (type != 3 && type != 4) return false;
    const bool inline_ = type == 3 ? count <= 2 : count <= 1;
    if (inline_) {
        value = type == 3 ? get16(e + 8, be) : get32(e + 8, be);
        return true;
    }
    uint8_t v[4];
    if (!readAt(get32(e + 8, be), type == 3 ? 2 : 4, v)) return false;
    value = type == 3 ? get16(v, be) : get32(v, be);
    return true;
}

// First-directory scan shared by the file and the memory variants. readAt(offset, count, out) reads
// exactly `count` bytes or fails.
template <class ReadAt>
bool readFirstDirectory(ReadAt&& readAt, tiffFormat& f, const char* caller, const QString& fileName,
                        QString* error) {
    uint8_t header[8];
    if (!readAt(0, 8, header))
        return halvora::fail(error, caller, fileName, "is not a TIFF file (shorter than its header)");
    bool be;
    if (header[0] == 'I' && header[1] == 'I')
        be = false;
    else if (header[0] == 'M' && header[1] == 'M')
        be = true;
    else
        return halvora::fail(error, caller, fileName, "is not a TIFF file (no byte-order mark)");
    const uint16_t magic = get16(header + 2, be);
    if (magic == 43)
        return halvora::fail(error, caller, fileName, "is a BigTIFF file, which is not supported");
    if (magic != 42)
        return halvora::fail(error, caller, fileName, "is not a TIFF file (no 42 after the byte-order mark)");
    const uint64_t dir = get32(header + 4, be);
    uint8_t countBytes[2];
    if (!readAt(dir, 2, countBytes))
        return halvora::fail(error, caller, fileName, "ends before its first directory");
    const int entries = get16(countBytes, be);
    bool haveBits = false;
    for (int i = 0; i < entries; ++i) {
        uint8_t e[12];
        if (!readAt(dir + 2 + 12ull * uint64_t(i), 12, e))
            return halvora::fail(error, caller, fileName, "ends inside its first directory");
        uint32_t v = 0;
        switch (get16(e, be)) {
        case 256:
            if (firstValue(readAt, e, be, v)) f.width = v;
            break;
        case 257:
            if (firstValue(readAt, e, be, v)) f.height = v;
            break;
        case 258:
            if (firstValue(readAt, e, be, v)) {
                f.bits = int(std::min<uint32_t>(v, INT_MAX));
                haveBits = true;
            }
            break;
        case 259:
            if (firstValue(readAt, e, be, v)) f.compression = int(std::min<uint32_t>(v, INT_MAX));
            break;
        case 262:
            if (firstValue(readAt, e, be, v)) f.photometric = int(std::min<uint32_t>(v, INT_MAX));
            break;
        case 277:
            if (firstValue(readAt, e, be, v)) f.samples = int(std::min<uint32_t>(v, INT_MAX));
            break;
        case 284:
            if (firstValue(readAt, e, be, v)) f.planar = int(std::min<uint32_t>(v, INT_MAX));
            break;
        case 322:
            f.tiled = true;
            break;
        case 339:
            if (firstValue(readAt, e, be, v)) f.sampleFormat = int(std::min<uint32_t>(v, INT_MAX));
            break;
        default:
            break;
        }
    }
    if (f.width <= 0 || f.height <= 0)
        return halvora::fail(error, caller, fileName, "has no picture size in its first directory");
    if (!haveBits)
        return halvora::fail(error, caller, fileName, "has no bits per sample in its first directory");
    return true;
}

/// The first directory read and judged: a picture this reader can read, which the file can hold.
template <class ReadAt>
bool quickInfo(ReadAt&& readAt, uint64_t fileLength, const char* caller, const QString& fileName, int& width,
               int& height, int& bitsPerSample, QString* error) {
    width = height = bitsPerSample = 0;
    tiffFormat f;
    if (!readFirstDirectory(readAt, f, caller, fileName, error) || !checkFormat(f, caller, fileName, error))
        return false;
    if (halvora::pictureElements(f.width, f.height, 3) == 0)
        return halvora::fail(error, caller, fileName,
                             QStringLiteral("impossible picture size %1x%2").arg(f.width).arg(f.height));
    if (!halvora::fileHoldsPicture(f.width, f.height, leastStripBytes(f), fileLength, caller, fileName,
                                   error))
        return false;
    width = int(f.width);
    height = int(f.height);
    bitsPerSample = f.bits;
    return true;
}

// Everything the strip loops need, settled before any pixel is written.
struct tiffLayout {
    const uint8_t* data = nullptr;
    size_t length = 0;
    int width = 0;
    int height = 0;
    int samples = 0;
    int bits = 0;
    int bytesPerSample = 0;
    int compression = 0;
    int predictor = 0;
    int rowsPerStrip = 0;
    int strips = 0;
    size_t rowBytes = 0;
    bool swapSamples = false; ///< the file's byte order differs from this machine's
    const uint32_t* offsets = nullptr;
    const uint32_t* byteCounts = nullptr; ///< null for uncompressed data without byte counts
    uint16_t* rgb16 = nullptr;
    float* rgbFloat = nullptr;

    int rowsInStrip(int k) const { return std::min(rowsPerStrip, height - k * rowsPerStrip); }
    bool predictorApplies() const {
        return compression != compressionNone && (predictor == 2 || predictor == 3);
    }
};

uint16_t load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
uint32_t load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
void store16(uint8_t* p, uint16_t v) {
    std::memcpy(p, &v, 2);
}
void store32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}

// Undoes the predictor of one row in place; afterwards 16- and 32-bit samples are in this machine's
// byte order.
void undoPredictor(const tiffLayout& L, uint8_t* row, uint8_t* scratch) {
    const size_t samples = size_t(L.width) * size_t(L.samples);
    const size_t spp = size_t(L.samples);
    if (L.predictor == 2) {
        switch (L.bits) {
        case 8:
            for (size_t i = spp; i < samples; ++i)
                row[i] = uint8_t(row[i] + row[i - spp]);
            break;
        case 16:
            // Differences are taken on sample values, so swap to this machine's order first.
            if (L.swapSamples)
                for (size_t i = 0; i < samples; ++i)
                    store16(row + 2 * i, __builtin_bswap16(load16(row + 2 * i)));
            for (size_t i = spp; i < samples; ++i)
                store16(row + 2 * i, uint16_t(load16(row + 2 * i) + load16(row + 2 * (i - spp))));
            break;
        case 32:
            if (L.swapSamples)
                for (size_t i = 0; i < samples; ++i)
                    store32(row + 4 * i, __builtin_bswap32(load32(row + 4 * i)));
            for (size_t i = spp; i < samples; ++i)
                store32(row + 4 * i, load32(row + 4 * i) + load32(row + 4 * (i - spp)));
            break;
        default:
            break;
        }
        return;
    }
    // Floating-point predictor: byte differences, then byte planes (most significant first) put back
    // together into samples.
    const size_t bytes = L.rowBytes;
    for (size_t i = spp; i < bytes; ++i)
        row[i] = uint8_t(row[i] + row[i - spp]);
    std::memcpy(scratch, row, bytes);
    const int bps = L.bytesPerSample;
    for (size_t i = 0; i < samples; ++i) {
        uint32_t v = 0;
        for (int b = 0; b < bps; ++b)
            v = v << 8 | scratch[size_t(b) * samples + i];
        if (bps == 1)
            row[i] = uint8_t(v);
        else if (bps == 2)
            store16(row + 2 * i, uint16_t(v));
        else
            store32(row + 4 * i, v);
    }
}

// Converts one row of file samples into the destination row `y`.
void convertRow(const tiffLayout& L, const uint8_t* row, int y, bool swap, float& minimum, float& maximum) {
    const int spp = L.samples;
    // One sample: R = G = B; a fourth (alpha) sample is skipped.
    const int c1 = spp >= 3 ? 1 : 0;
    const int c2 = spp >= 3 ? 2 : 0;
    const size_t w = size_t(L.width);
    if (L.bits == 8) {
        uint16_t* out = L.rgb16 + size_t(y) * w * 3;
        for (size_t x = 0; x < w; ++x) {
            const uint8_t* p = row + x * spp;
            out[3 * x] = uint16_t(p[0] * 128);
            out[3 * x + 1] = uint16_t(p[c1] * 128);
            out[3 * x + 2] = uint16_t(p[c2] * 128);
        }
    } else if (L.bits == 16) {
        uint16_t* out = L.rgb16 + size_t(y) * w * 3;
        auto sample = [&](const uint8_t* p) {
            uint16_t v = load16(p);
            if (swap) v = __builtin_bswap16(v);
            return uint16_t(std::min(v >> 1, halvora::kFullScale));
        };
        for (size_t x = 0; x < w; ++x) {
            const uint8_t* p = row + 2 * x * spp;
            out[3 * x] = sample(p);
            out[3 * x + 1] = sample(p + 2 * c1);
            out[3 * x + 2] = sample(p + 2 * c2);
        }
    } else {
        float* out = L.rgbFloat + size_t(y) * w * 3;
        float lo = minimum, hi = maximum;
        auto sample = [&](const uint8_t* p) {
            uint32_t bits = load32(p);
            if (swap) bits = __builtin_bswap32(bits);
            const float f = std::bit_cast<float>(bits);
            lo = std::min(lo, f);
            hi = std::max(hi, f);
            return f;
        };
        for (size_t x = 0; x < w; ++x) {
            const uint8_t* p = row + 4 * x * spp;
            out[3 * x] = sample(p);
            out[3 * x + 1] = sample(p + 4 * c1);
            out[3 * x + 2] = sample(p + 4 * c2);
        }
        minimum = lo;
        maximum = hi;
    }
}

// Rows [begin, end) of a decoded strip whose first row is image row `firstRow`. `writable` is the
// strip buffer when the data may be changed in place (then the predictor is undone), else null.
void processRows(const tiffLayout& L, const uint8_t* rows, uint8_t* writable, int firstRow, int begin,
                 int end, uint8_t* scratch, float& minimum, float& maximum) {
    const bool predict = writable && L.predictorApplies();
    for (int r = begin; r < end; ++r) {
        if (predict) undoPredictor(L, writable + size_t(r) * L.rowBytes, scratch);
        convertRow(L, rows + size_t(r) * L.rowBytes, firstRow + r, L.swapSamples && !predict, minimum,
                   maximum);
    }
}

// Inflates a Deflate (zlib) strip into exactly `need` bytes; false with the reason when its data are
// damaged or end too early. Data beyond the strip's rows are harmless and ignored.
bool inflateStrip(const uint8_t* input, size_t inputLength, uint8_t* out, size_t need, QString& reason) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        reason = QStringLiteral("not enough memory to decompress it");
        return false;
    }
    // zlib counts in 32 bits: a strip of several gigabytes goes through in pieces.
    size_t produced = 0, consumed = 0;
    int rc = Z_OK;
    while (produced < need) {
        if (z.avail_in == 0 && consumed < inputLength) {
            const size_t piece = std::min<size_t>(inputLength - consumed, UINT_MAX);
            z.next_in = const_cast<Bytef*>(input + consumed);
            z.avail_in = uInt(piece);
            consumed += piece;
        }
        z.next_out = out + produced;
        z.avail_out = uInt(std::min<size_t>(need - produced, UINT_MAX));
        const uInt room = z.avail_out;
        rc = inflate(&z, Z_NO_FLUSH);
        produced += room - z.avail_out;
        if (rc != Z_OK) break; // the end of the stream, damaged data, or no progress (the input is used up)
    }
    inflateEnd(&z);
    if (produced == need) return true;
    if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT)
        reason = QStringLiteral("damaged Deflate data");
    else if (rc == Z_MEM_ERROR)
        reason = QStringLiteral("not enough memory to decompress it");
    else
        reason = QStringLiteral("the Deflate data end %1 bytes short of %2").arg(need - produced).arg(need);
    return false;
}

// Decodes strip k into `buffer` (compressed data; uncompressed rows are used where they lie) and
// points `rows` at its rows; false with the reason when the data are damaged or run short.
bool decodeStrip(const tiffLayout& L, int k, uint8_t* buffer, lzwDecoder* lzw, const uint8_t*& rows,
                 QString& reason) {
    const size_t need = size_t(L.rowsInStrip(k)) * L.rowBytes;
    const uint8_t* input = L.data + L.offsets[k];
    if (L.compression == compressionNone) {
        rows = input;
        return true;
    }
    rows = buffer;
    const size_t inputLength = L.byteCounts[k];
    switch (L.compression) {
    case compressionLzw:
        lzw->preDecode(input, inputLength);
        if (!lzw->decode(buffer, need)) {
            reason = QString::fromStdString(lzw->problem());
            return false;
        }
        return true;
    case compressionDeflate:
    case compressionDeflateOld:
        return inflateStrip(input, inputLength, buffer, need, reason);
    case compressionPackBits: {
        const size_t produced = halvora::packBitsDecode(input, inputLength, buffer, need);
        if (produced == need) return true;
        reason = QStringLiteral("the PackBits data end %1 bytes short of %2").arg(need - produced).arg(need);
        return false;
    }
    default:
        reason = QStringLiteral("unknown compression %1").arg(L.compression);
        return false;
    }
}

/// The structure of the file read and checked against the first directory, into `L`.
bool readLayout(const uint8_t* data, size_t length, const QString& fileName, exifInfo_t& exif, tiffLayout& L,
                QString* error) {
    // The caller's buffer has the size the first directory announced.
    int infoWidth = 0, infoHeight = 0, infoBits = 0;
    auto readAt = [&](uint64_t offset, size_t count, uint8_t* out) {
        if (!data || offset > length || count > length - offset) return false;
        std::memcpy(out, data + offset, count);
        return true;
    };
    if (!quickInfo(readAt, length, kLoad, fileName, infoWidth, infoHeight, infoBits, error)) return false;

    // Structure fields come from this file alone; camera fields may be completed by its EXIF.
    exif.width = exif.height = exif.bitsPerSample = exif.compression = 0;
    exif.samplesPerPixel = exif.rowsPerStrip = exif.predictor = exif.stripCount = 0;
    exif.sampleFormat = exif.planarConfig = 0;
    exif.photometric = -1;
    exif.tiled = false;
    exif.stripOffsets.clear();
    exif.stripByteCounts.clear();
    exif.largestOffset = 0;
    if (!halvora::processExifStart(data, length, exif))
        return halvora::fail(error, kLoad, fileName, "invalid TIFF header");

    tiffFormat f;
    f.width = exif.width;
    f.height = exif.height;
    f.bits = exif.bitsPerSample;
    f.compression = exif.compression;
    f.samples = exif.samplesPerPixel;
    f.sampleFormat = exif.sampleFormat;
    f.photometric = exif.photometric;
    f.planar = exif.planarConfig;
    f.tiled = exif.tiled;
    if (!checkFormat(f, kLoad, fileName, error)) return false;
    if (f.width != infoWidth || f.height != infoHeight || f.bits != infoBits)
        return halvora::fail(
            error, kLoad, fileName,
            QStringLiteral("the directories disagree about the picture (%1x%2, %3 bits; first "
                           "directory %4x%5, %6 bits)")
                .arg(f.width)
                .arg(f.height)
                .arg(f.bits)
                .arg(infoWidth)
                .arg(infoHeight)
                .arg(infoBits));

    L.data = data;
    L.length = length;
    L.width = int(f.width);
    L.height = int(f.height);
    L.bits = f.bits;
    L.compression = f.effectiveCompression();
    L.samples = f.effectiveSamples();
    L.predictor = exif.predictor;
    L.bytesPerSample = L.bits / 8;
    L.rowBytes = size_t(L.width) * size_t(L.samples) * size_t(L.bytesPerSample);
    L.rowsPerStrip = exif.rowsPerStrip <= 0 ? L.height : std::min(exif.rowsPerStrip, L.height);
    L.strips = (L.height + L.rowsPerStrip - 1) / L.rowsPerStrip;
    L.swapSamples = exif.bigEndian != (std::endian::native == std::endian::big);
    return true;
}

/// Every strip's bytes lie inside the file.
bool locateStrips(const exifInfo_t& exif, tiffLayout& L, const QString& fileName, QString* error) {
    if (exif.stripCount < L.strips || exif.stripOffsets.size() < size_t(L.strips))
        return halvora::fail(
            error, kLoad, fileName,
            QStringLiteral("%1 strips cover only part of the %2 rows (%3 strips of %4 rows needed)")
                .arg(exif.stripCount)
                .arg(L.height)
                .arg(L.strips)
                .arg(L.rowsPerStrip));
    L.offsets = exif.stripOffsets.data();
    if (exif.stripByteCounts.size() >= size_t(L.strips))
        L.byteCounts = exif.stripByteCounts.data();
    else if (L.compression != compressionNone)
        return halvora::fail(error, kLoad, fileName,
                             QStringLiteral("%1 strip byte counts for %2 strips")
                                 .arg(exif.stripByteCounts.size())
                                 .arg(L.strips));
    for (int k = 0; k < L.strips; ++k) {
        const uint64_t offset = L.offsets[k];
        // Uncompressed rows are read in place; compressed strips are read as far as their byte count.
        const uint64_t bytes = L.compression == compressionNone ? uint64_t(L.rowsInStrip(k)) * L.rowBytes
                                                                : uint64_t(L.byteCounts[k]);
        if (offset > L.length || bytes > L.length - offset)
            return halvora::fail(
                error, kLoad, fileName,
                QStringLiteral("strip %1 (offset %2, %3 bytes) runs past the end of the file (%4 "
                               "bytes)")
                    .arg(k)
                    .arg(offset)
                    .arg(bytes)
                    .arg(L.length));
    }
    return true;
}

uint64_t physicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return UINT64_MAX;
    return uint64_t(pages) * uint64_t(pageSize);
}

/// Working memory of one part of the decode: a strip buffer and LZW state for compressed data, a
/// row for the floating-point predictor.
struct stripWorkspace {
    std::unique_ptr<uint8_t[]> buffer;
    std::unique_ptr<uint8_t[]> scratch;
    std::unique_ptr<lzwDecoder> lzw;
    bool complete = false;

    stripWorkspace(const tiffLayout& L, bool withBuffer) {
        const bool needScratch = L.predictorApplies() && L.predictor == 3;
        if (withBuffer && L.compression != compressionNone) {
            buffer = halvora::allocateBlock<uint8_t>(size_t(L.rowsPerStrip) * L.rowBytes);
            if (!buffer) return;
            if (L.compression == compressionLzw && !(lzw = lzwDecoder::setup())) return;
        }
        if (needScratch && !(scratch = halvora::allocateBlock<uint8_t>(L.rowBytes))) return;
        complete = true;
    }
};

/// Refuses strip buffers that cannot fit into this machine for `parts` parts.
bool workspaceFits(const tiffLayout& L, int parts, const QString& fileName, QString* error) {
    const bool compressed = L.compression != compressionNone;
    const uint64_t stripBytes = compressed ? uint64_t(L.rowsPerStrip) * L.rowBytes : 0;
    const uint64_t reserve = (stripBytes + uint64_t(L.rowBytes)) * uint64_t(std::max(1, parts));
    if (reserve <= physicalMemory() / 2) return true;
    return halvora::fail(
        error, kLoad, fileName,
        QStringLiteral("strip buffers of %1 bytes exceed the memory of this machine").arg(reserve));
}

struct decodeStrips_threadParams_t {
    const tiffLayout* layout = nullptr;
    int firstStrip = 0;
    int endStrip = 0;
    std::atomic<int>* firstFailure = nullptr; ///< lowest strip that failed so far, shared by the parts
    std::unique_ptr<stripWorkspace> workspace;
    float minimum = 1e9f;
    float maximum = 0;
    int failedStrip = -1;
    QString reason;
    bool aborted = false;
};

/// Records that strip k failed, keeping the lowest failed strip of all parts.
void stripFailed(decodeStrips_threadParams_t& p, int k) {
    p.failedStrip = k;
    int seen = p.firstFailure->load(std::memory_order_relaxed);
    while (k < seen && !p.firstFailure->compare_exchange_weak(seen, k, std::memory_order_relaxed)) {
    }
}

void decodeStrips(decodeStrips_threadParams_t& p) {
    const tiffLayout& L = *p.layout;
    if (!p.workspace->complete) {
        p.reason = QStringLiteral("not enough memory to decode it");
        stripFailed(p, p.firstStrip);
        return;
    }
    for (int k = p.firstStrip; k < p.endStrip; ++k) {
        // Strips after a failed one cannot change which failure is reported (the lowest).
        if (k > p.firstFailure->load(std::memory_order_relaxed)) return;
        if (halvora::cancelRequested()) {
            p.aborted = true;
            return;
        }
        const uint8_t* rows = nullptr;
        if (!decodeStrip(L, k, p.workspace->buffer.get(), p.workspace->lzw.get(), rows, p.reason)) {
            stripFailed(p, k);
            return;
        }
        uint8_t* writable = L.compression == compressionNone ? nullptr : p.workspace->buffer.get();
        processRows(L, rows, writable, k * L.rowsPerStrip, 0, L.rowsInStrip(k), p.workspace->scratch.get(),
                    p.minimum, p.maximum);
    }
}

struct convertRows_threadParams_t {
    const tiffLayout* layout = nullptr;
    const uint8_t* rows = nullptr;
    uint8_t* writable = nullptr;
    int begin = 0;
    int end = 0;
    std::unique_ptr<stripWorkspace> workspace; ///< the scratch row only
    float minimum = 1e9f;
    float maximum = 0;
};

void convertRows(convertRows_threadParams_t& p) {
    if (p.workspace->complete)
        processRows(*p.layout, p.rows, p.writable, 0, p.begin, p.end, p.workspace->scratch.get(), p.minimum,
                    p.maximum);
}

/// Several strips: whole strips per part.
bool decodeStripsInParallel(const tiffLayout& L, const QString& fileName, float& lo, float& hi,
                            QString* error) {
    if (!workspaceFits(L, halvora::parallelParts(L.strips), fileName, error)) return false;
    std::atomic<int> firstFailure{INT_MAX};
    const auto parts = halvora::parallelRecords<decodeStrips_threadParams_t>(
        L.strips,
        [&](int, int64_t begin, int64_t end) {
            decodeStrips_threadParams_t p;
            p.layout = &L;
            p.firstStrip = int(begin);
            p.endStrip = int(end);
            p.firstFailure = &firstFailure;
            p.workspace = std::make_unique<stripWorkspace>(L, true);
            return p;
        },
        decodeStrips);
    for (const auto& p : parts) {
        if (p.aborted) return halvora::fail(error, kLoad, fileName, "loading was interrupted");
        if (p.failedStrip >= 0 && p.failedStrip == firstFailure.load())
            return halvora::fail(
                error, kLoad, fileName,
                QStringLiteral("strip %1 of %2: %3").arg(p.failedStrip).arg(L.strips).arg(p.reason));
        lo = std::min(lo, p.minimum);
        hi = std::max(hi, p.maximum);
    }
    return true;
}

/// One strip: decoded once, its rows converted in parallel.
bool decodeSingleStrip(const tiffLayout& L, const QString& fileName, float& lo, float& hi, QString* error) {
    if (!workspaceFits(L, 1, fileName, error)) return false;
    stripWorkspace strip(L, true);
    if (!strip.complete)
        return halvora::fail(error, kLoad, fileName,
                             QStringLiteral("not enough memory for a strip of %1 bytes")
                                 .arg(uint64_t(L.rowsPerStrip) * L.rowBytes));
    const uint8_t* rows = nullptr;
    QString reason;
    if (!decodeStrip(L, 0, strip.buffer.get(), strip.lzw.get(), rows, reason))
        return halvora::fail(error, kLoad, fileName, QStringLiteral("strip 0 of 1: %1").arg(reason));
    uint8_t* writable = L.compression == compressionNone ? nullptr : strip.buffer.get();
    const auto parts = halvora::parallelRecords<convertRows_threadParams_t>(
        L.height,
        [&](int, int64_t begin, int64_t end) {
            convertRows_threadParams_t p;
            p.layout = &L;
            p.rows = rows;
            p.writable = writable;
            p.begin = int(begin);
            p.end = int(end);
            p.workspace = std::make_unique<stripWorkspace>(L, false);
            return p;
        },
        convertRows);
    for (const auto& p : parts) {
        if (!p.workspace->complete)
            return halvora::fail(error, kLoad, fileName, "not enough memory for a row of the picture");
        lo = std::min(lo, p.minimum);
        hi = std::max(hi, p.maximum);
    }
    return true;
}

} // namespace

namespace halvora {

bool tiffQuickInfo(const QString& fileName, int& width, int& height, int& bitsPerSample, QString* error) {
    int64_t fileLength = 0;
    halvora::fileHandle file = halvora::openInputFile(fileName, kInfo, error, &fileLength);
    if (!file) return false;
    auto readAt = [&](uint64_t offset, size_t count, uint8_t* out) {
        if (offset > uint64_t(LLONG_MAX) || fseeko(file.get(), off_t(offset), SEEK_SET) != 0) return false;
        return std::fread(out, 1, count, file.get()) == count;
    };
    return quickInfo(readAt, uint64_t(fileLength), kInfo, fileName, width, height, bitsPerSample, error);
}

bool tiffQuickInfoFromMemory(const uint8_t* data, size_t length, const QString& fileName, int& width,
                             int& height, int& bitsPerSample, QString* error) {
    auto readAt = [&](uint64_t offset, size_t count, uint8_t* out) {
        if (!data || offset > length || count > length - offset) return false;
        std::memcpy(out, data + offset, count);
        return true;
    };
    return quickInfo(readAt, length, kInfo, fileName, width, height, bitsPerSample, error);
}

bool tiffDecodeFromMemory(const uint8_t* data, size_t length, const QString& fileName, uint16_t* rgb16,
                          float* rgbFloat, float& minimum, float& maximum, exifInfo_t& exif, QString* error) {
    tiffLayout L;
    if (!readLayout(data, length, fileName, exif, L, error) || !locateStrips(exif, L, fileName, error))
        return false;
    if ((L.bits == 32 && !rgbFloat) || (L.bits != 32 && !rgb16))
        return halvora::fail(error, kLoad, fileName,
                             QStringLiteral("no destination buffer for %1-bit data").arg(L.bits));
    L.rgb16 = rgb16;
    L.rgbFloat = rgbFloat;
    float lo = 1e9f, hi = 0;
    const bool decoded = L.strips >= 2 ? decodeStripsInParallel(L, fileName, lo, hi, error)
                                       : decodeSingleStrip(L, fileName, lo, hi, error);
    if (!decoded) return false;
    if (L.bits == 32) {
        minimum = lo;
        maximum = hi;
    }
    return true;
}

} // namespace halvora

bool imageLoader::loadTIFF(const QString& fileName, uint16_t* rgb16, float* rgbFloat, float& minimum,
                           float& maximum, exifInfo_t& exif, QString* error) {
    QFile file;
    int64_t size = 0;
    if (!halvora::openInputFile(fileName, file, kLoad, error, &size)) return false;
    uchar* mapped = file.map(0, size);
    if (!mapped) return halvora::fail(error, kLoad, fileName, "mapping failed: " + file.errorString());
    const bool ok = halvora::tiffDecodeFromMemory(mapped, size_t(size), fileName, rgb16, rgbFloat, minimum,
                                                  maximum, exif, error);
    file.unmap(mapped);
    return ok;
}
