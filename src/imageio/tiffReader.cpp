#include "imageio/tiffReader.h"

#include "base/debugLog.h"
#include "base/parallelFor.h"
#include "base/runContext.h"
#include "imageio/exifReader.h"
#include "imageio/imageLoader.h"
#include "imageio/lzwDecoder.h"
#include "imageio/packBitsDecoder.h"
#include "base/rgbBuffers.h"

#include <QFile>
#include <algorithm>
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

enum tiffCompression {
    compressionNone = 1,
    compressionLzw = 5,
    compressionDeflate = 8,
    compressionDeflateOld = 32946,
    compressionPackBits = 32773
};

uint16_t get16(const uint8_t* p, bool bigEndian) {
    return bigEndian ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
}
uint32_t get32(const uint8_t* p, bool bigEndian) {
    return bigEndian ? (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3])
                     : (uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
}

// First-directory scan shared by the file and the memory variants. readAt(offset, count, out) reads
// exactly `count` bytes or fails.
template <class ReadAt> bool quickInfo(ReadAt&& readAt, int& width, int& height, int& bitsPerSample) {
    width = height = bitsPerSample = 0;
    uint8_t header[8];
    if (!readAt(0, 8, header))
        return false;
    bool be;
    if (header[0] == 'I' && header[1] == 'I')
        be = false;
    else if (header[0] == 'M' && header[1] == 'M')
        be = true;
    else
        return false;
    if (get16(header + 2, be) != 42)
        return false;
    const uint64_t dir = get32(header + 4, be);
    uint8_t countBytes[2];
    if (!readAt(dir, 2, countBytes))
        return false;
    const int entries = get16(countBytes, be);
    auto clampInt = [](uint32_t v) { return int(std::min<uint32_t>(v, INT_MAX)); };
    for (int i = 0; i < entries; ++i) {
        uint8_t e[12];
        if (!readAt(dir + 2 + 12ull * uint64_t(i), 12, e))
            return false;
        const int tag = get16(e, be);
        const int type = get16(e + 2, be);
        const uint32_t count = get32(e + 4, be);
        if (tag == 256 || tag == 257) {
            int v;
            if (type == 3)
                v = get16(e + 8, be);
            else if (type == 4)
                v = clampInt(get32(e + 8, be));
            else
                continue;
            (tag == 256 ? width : height) = v;
        } else if (tag == 258) {
            // Values of at most 4 bytes lie in the entry itself.
            if (type == 3 && count <= 2) {
                bitsPerSample = get16(e + 8, be);
            } else if (type == 4 && count <= 1) {
                bitsPerSample = clampInt(get32(e + 8, be));
            } else if (type == 3 || type == 4) {
                uint8_t v[4];
                if (!readAt(get32(e + 8, be), type == 3 ? 2 : 4, v))
                    return false;
                bitsPerSample = type == 3 ? get16(v, be) : clampInt(get32(v, be));
            }
            return width > 0 && height > 0;
        }
    }
    return false;
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
void store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
void store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

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
            if (swap)
                v = __builtin_bswap16(v);
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
            if (swap)
                bits = __builtin_bswap32(bits);
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
void processRows(const tiffLayout& L, const uint8_t* rows, uint8_t* writable, int firstRow, int begin, int end,
                 uint8_t* scratch, float& minimum, float& maximum) {
    const bool predict = writable && L.predictorApplies();
    for (int r = begin; r < end; ++r) {
        if (predict)
            undoPredictor(L, writable + size_t(r) * L.rowBytes, scratch);
        convertRow(L, rows + size_t(r) * L.rowBytes, firstRow + r, L.swapSamples && !predict, minimum, maximum);
    }
}

// Decodes strip k; returns its rows (in place in the mapping for uncompressed data).
const uint8_t* decodeStrip(const tiffLayout& L, int k, uint8_t* buffer, lzwDecoder* lzw) {
    const size_t need = size_t(L.rowsInStrip(k)) * L.rowBytes;
    const uint8_t* input = L.data + L.offsets[k];
    if (L.compression == compressionNone)
        return input;
    const size_t inputLength = L.byteCounts[k];
    std::memset(buffer, 0, need);
    switch (L.compression) {
    case compressionLzw:
        lzw->preDecode(input, inputLength);
        lzw->decode(buffer, need);
        break;
    case compressionDeflate:
    case compressionDeflateOld: {
        uLongf produced = uLongf(need);
        const int rc = uncompress(buffer, &produced, input, uLong(inputLength));
        if (rc != Z_OK && !(rc == Z_BUF_ERROR && produced == need))
            debugLog("%s: Deflate error %d in strip %d (%llu of %llu bytes)\n", kLoad, rc, k,
                     static_cast<unsigned long long>(produced), static_cast<unsigned long long>(need));
        break;
    }
    case compressionPackBits: {
        const size_t produced = packBitsDecode(input, inputLength, buffer, need);
        if (produced < need)
            debugLog("PackBitsDecode: Not enough data in strip %d (short %llu bytes)\n", k,
                     static_cast<unsigned long long>(need - produced));
        break;
    }
    default:
        break;
    }
    return buffer;
}

struct decodeStrips_threadParams_t {
    const tiffLayout* layout = nullptr;
    int firstStrip = 0;
    int endStrip = 0;
    uint8_t* buffer = nullptr;  ///< this thread's strip buffer (compressed data)
    uint8_t* scratch = nullptr; ///< one row for the floating-point predictor
    lzwDecoder* lzw = nullptr;
    float minimum = 1e9f;
    float maximum = 0;
    bool aborted = false;
};

void decodeStrips(decodeStrips_threadParams_t& p) {
    const tiffLayout& L = *p.layout;
    for (int k = p.firstStrip; k < p.endStrip; ++k) {
        if (halvora::cancelRequested()) {
            p.aborted = true;
            return;
        }
        const uint8_t* rows = decodeStrip(L, k, p.buffer, p.lzw);
        uint8_t* writable = L.compression == compressionNone ? nullptr : p.buffer;
        processRows(L, rows, writable, k * L.rowsPerStrip, 0, L.rowsInStrip(k), p.scratch, p.minimum, p.maximum);
    }
}

struct convertRows_threadParams_t {
    const tiffLayout* layout = nullptr;
    const uint8_t* rows = nullptr;
    uint8_t* writable = nullptr;
    int begin = 0;
    int end = 0;
    uint8_t* scratch = nullptr;
    float minimum = 1e9f;
    float maximum = 0;
};

void convertRows(convertRows_threadParams_t& p) {
    processRows(*p.layout, p.rows, p.writable, 0, p.begin, p.end, p.scratch, p.minimum, p.maximum);
}

uint64_t physicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return UINT64_MAX;
    return uint64_t(pages) * uint64_t(pageSize);
}

} // namespace

bool tiffQuickInfo(const QString& fileName, int& width, int& height, int& bitsPerSample) {
    struct fileCloser {
        void operator()(FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<FILE, fileCloser> file(std::fopen(QFile::encodeName(fileName).constData(), "rb"));
    if (!file)
        return false;
    auto readAt = [&](uint64_t offset, size_t count, uint8_t* out) {
        if (offset > uint64_t(LLONG_MAX) || fseeko(file.get(), off_t(offset), SEEK_SET) != 0)
            return false;
        return std::fread(out, 1, count, file.get()) == count;
    };
    return quickInfo(readAt, width, height, bitsPerSample);
}

bool tiffQuickInfoFromMemory(const uint8_t* data, size_t length, int& width, int& height, int& bitsPerSample) {
    auto readAt = [&](uint64_t offset, size_t count, uint8_t* out) {
        if (!data || offset > length || count > length - offset)
            return false;
        std::memcpy(out, data + offset, count);
        return true;
    };
    return quickInfo(readAt, width, height, bitsPerSample);
}

bool tiffDecodeFromMemory(const uint8_t* data, size_t length, uint16_t* rgb16, float* rgbFloat, float& minimum,
                          float& maximum, exifInfo_t& exif) {
    // The caller's buffer has the size the first directory announced.
    int infoWidth = 0, infoHeight = 0, infoBits = 0;
    if (!tiffQuickInfoFromMemory(data, length, infoWidth, infoHeight, infoBits)) {
        debugLog("%s: not a TIFF file or no picture size in its first directory\n", kLoad);
        return false;
    }

    // Structure fields come from this file alone; camera fields may be completed by its EXIF.
    exif.width = exif.height = exif.bitsPerSample = exif.compression = 0;
    exif.samplesPerPixel = exif.rowsPerStrip = exif.predictor = exif.stripCount = 0;
    exif.stripOffsets.clear();
    exif.stripByteCounts.clear();
    exif.largestOffset = 0;
    if (!processExifStart(data, length, exif)) {
        debugLog("%s: invalid TIFF header\n", kLoad);
        return false;
    }

    tiffLayout L;
    L.data = data;
    L.length = length;
    L.width = exif.width;
    L.height = exif.height;
    L.bits = exif.bitsPerSample;
    // Absent Compression and SamplesPerPixel tags mean their TIFF defaults (none, one sample).
    L.compression = exif.compression == 0 ? compressionNone : exif.compression;
    L.samples = exif.samplesPerPixel == 0 ? 1 : exif.samplesPerPixel;
    L.predictor = exif.predictor;

    if (L.bits != 8 && L.bits != 16 && L.bits != 32) {
        debugLog("%s: unsupported TIFF format (bits per sample = %d)\n", kLoad, L.bits);
        return false;
    }
    if (L.compression != compressionNone && L.compression != compressionLzw && L.compression != compressionDeflate &&
        L.compression != compressionDeflateOld && L.compression != compressionPackBits) {
        debugLog("%s: unsupported TIFF format (compression = %d)\n", kLoad, L.compression);
        return false;
    }
    if (L.samples != 1 && L.samples != 3 && L.samples != 4) {
        debugLog("%s: unsupported TIFF format (samples per pixel = %d)\n", kLoad, L.samples);
        return false;
    }
    if (L.width != infoWidth || L.height != infoHeight || L.bits != infoBits) {
        debugLog("%s: the directories disagree about the picture (%dx%d, %d bits; first directory %dx%d, %d bits)\n",
                 kLoad, L.width, L.height, L.bits, infoWidth, infoHeight, infoBits);
        return false;
    }
    if (halvora::pictureElements(L.width, L.height, 3) == 0) {
        debugLog("%s: impossible picture size %dx%d\n", kLoad, L.width, L.height);
        return false;
    }
    L.rgb16 = rgb16;
    L.rgbFloat = rgbFloat;
    L.bytesPerSample = L.bits / 8;
    L.rowBytes = size_t(L.width) * size_t(L.samples) * size_t(L.bytesPerSample);
    L.rowsPerStrip = exif.rowsPerStrip <= 0 ? L.height : std::min(exif.rowsPerStrip, L.height);
    L.strips = (L.height + L.rowsPerStrip - 1) / L.rowsPerStrip;
    L.swapSamples = exif.bigEndian != (std::endian::native == std::endian::big);

    if (exif.stripCount < L.strips || exif.stripOffsets.size() < size_t(L.strips)) {
        debugLog("%s: %d strips cover only part of the %d rows (%d strips of %d rows needed)\n", kLoad,
                 exif.stripCount, L.height, L.strips, L.rowsPerStrip);
        return false;
    }
    L.offsets = exif.stripOffsets.data();
    if (exif.stripByteCounts.size() >= size_t(L.strips)) {
        L.byteCounts = exif.stripByteCounts.data();
    } else if (L.compression != compressionNone) {
        debugLog("%s: %d strip byte counts for %d strips\n", kLoad, int(exif.stripByteCounts.size()), L.strips);
        return false;
    }
    for (int k = 0; k < L.strips; ++k) {
        const uint64_t offset = L.offsets[k];
        // Uncompressed rows are read in place; compressed strips are read as far as their byte count.
        const uint64_t bytes = L.compression == compressionNone ? uint64_t(L.rowsInStrip(k)) * L.rowBytes
                                                                : uint64_t(L.byteCounts[k]);
        if (offset > length || bytes > length - offset) {
            debugLog("%s: strip %d (offset %llu, %llu bytes) runs past the end of the file (%llu bytes)\n", kLoad, k,
                     static_cast<unsigned long long>(offset), static_cast<unsigned long long>(bytes),
                     static_cast<unsigned long long>(length));
            return false;
        }
    }

    // Buffers: one strip buffer (and LZW state) per thread for compressed data, one scratch row per
    // thread for the floating-point predictor. Refused before anything is reserved when impossible.
    const int stripParts = halvora::parallelParts(L.strips);
    const int rowParts = halvora::parallelParts(L.height);
    const int bufferCount = L.compression == compressionNone ? 0 : (L.strips >= 2 ? stripParts : 1);
    const bool needScratch = L.predictorApplies() && L.predictor == 3;
    const int scratchCount = needScratch ? std::max(stripParts, rowParts) : 0;
    const uint64_t stripBytes = uint64_t(L.rowsPerStrip) * L.rowBytes;
    const uint64_t reserve = stripBytes * uint64_t(bufferCount) + uint64_t(L.rowBytes) * uint64_t(scratchCount);
    if (reserve > physicalMemory() / 2) {
        debugLog("%s: strip buffers of %llu bytes exceed the memory of this machine\n", kLoad,
                 static_cast<unsigned long long>(reserve));
        return false;
    }
    if ((L.bits == 32 && !rgbFloat) || (L.bits != 32 && !rgb16)) {
        debugLog("%s: no destination buffer for %d-bit data\n", kLoad, L.bits);
        return false;
    }
    std::vector<std::unique_ptr<uint8_t[]>> buffers, scratch;
    std::vector<std::unique_ptr<lzwDecoder>> decoders;
    for (int i = 0; i < bufferCount; ++i) {
        buffers.push_back(halvora::allocateBlock<uint8_t>(size_t(stripBytes)));
        if (!buffers.back()) {
            debugLog("%s: not enough memory for a strip of %llu bytes\n", kLoad,
                     static_cast<unsigned long long>(stripBytes));
            return false;
        }
        if (L.compression == compressionLzw) {
            decoders.push_back(lzwDecoder::setup());
            if (!decoders.back())
                return false;
        }
    }
    for (int i = 0; i < scratchCount; ++i) {
        scratch.push_back(halvora::allocateBlock<uint8_t>(L.rowBytes));
        if (!scratch.back()) {
            debugLog("%s: not enough memory for a row of %llu bytes\n", kLoad,
                     static_cast<unsigned long long>(L.rowBytes));
            return false;
        }
    }
    auto bufferOf = [&](int i) { return buffers.empty() ? nullptr : buffers[size_t(i)].get(); };
    auto decoderOf = [&](int i) { return decoders.empty() ? nullptr : decoders[size_t(i)].get(); };
    auto scratchOf = [&](int i) { return scratch.empty() ? nullptr : scratch[size_t(i)].get(); };

    float lo = 1e9f, hi = 0;
    if (L.strips >= 2) {
        std::vector<decodeStrips_threadParams_t> params(static_cast<size_t>(stripParts));
        halvora::parallelFor(
            L.strips,
            [&](int part, int64_t begin, int64_t end) {
                decodeStrips_threadParams_t& p = params[size_t(part)];
                p.layout = &L;
                p.firstStrip = int(begin);
                p.endStrip = int(end);
                p.buffer = bufferOf(part);
                p.scratch = scratchOf(part);
                p.lzw = decoderOf(part);
                decodeStrips(p);
            }, stripParts);
        for (const auto& p : params) {
            if (p.aborted) {
                debugLog("%s: aborted\n", kLoad);
                return false;
            }
            lo = std::min(lo, p.minimum);
            hi = std::max(hi, p.maximum);
        }
    } else {
        const uint8_t* rows = decodeStrip(L, 0, bufferOf(0), decoderOf(0));
        uint8_t* writable = L.compression == compressionNone ? nullptr : bufferOf(0);
        std::vector<convertRows_threadParams_t> params(static_cast<size_t>(rowParts));
        halvora::parallelFor(L.height, [&](int part, int64_t begin, int64_t end) {
            convertRows_threadParams_t& p = params[size_t(part)];
            p.layout = &L;
            p.rows = rows;
            p.writable = writable;
            p.begin = int(begin);
            p.end = int(end);
            p.scratch = scratchOf(part);
            convertRows(p);
        }, rowParts);
        for (const auto& p : params) {
            lo = std::min(lo, p.minimum);
            hi = std::max(hi, p.maximum);
        }
    }
    if (L.bits == 32) {
        minimum = lo;
        maximum = hi;
    }
    return true;
}

bool imageLoader::loadTIFF(const QString& fileName, uint16_t* rgb16, float* rgbFloat, float& minimum, float& maximum,
                           exifInfo_t& exif) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        debugLog("%s: cannot open '%s'\n", kLoad, qPrintable(fileName));
        return false;
    }
    const qint64 size = file.size();
    uchar* mapped = size > 0 ? file.map(0, size) : nullptr;
    if (!mapped) {
        debugLog("%s: mapping failed\n", kLoad);
        return false;
    }
    const bool ok = tiffDecodeFromMemory(mapped, size_t(size), rgb16, rgbFloat, minimum, maximum, exif);
    file.unmap(mapped);
    return ok;
}
