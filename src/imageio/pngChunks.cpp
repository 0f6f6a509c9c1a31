#include "imageio/pngChunks.h"

#include "imageio/byteFields.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include <zlib.h>

namespace halvora {
namespace {

constexpr uint32_t kLargestLength = 0x7FFFFFFFu;
// libpng refuses a chunk other than IDAT above its default chunk allocation limit, and the
// toolkit sets no other.
constexpr uint64_t kLargestOtherChunk = 8000000;
// libpng refuses pictures wider or taller than its default user limit.
constexpr uint64_t kLargestSide = 1000000;

QString chunkName(const uint8_t* type) {
    return QString::fromLatin1(reinterpret_cast<const char*>(type), 4);
}

bool isLetter(uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

/// The rows zlib must deliver: `count` rows of `bytes` bytes (filter type byte included) per pass.
struct rowRun {
    uint64_t bytes;
    uint64_t count;
};

struct header {
    uint64_t width = 0, height = 0;
    int depth = 0, colourType = 0, interlace = 0;
    int channels = 0;
};

/// Why the IHDR chunk's fields are refused by libpng; empty when they are sound.
QString headerFault(const uint8_t* d, header& h) {
    h.width = be32(d);
    h.height = be32(d + 4);
    h.depth = d[8];
    h.colourType = d[9];
    h.interlace = d[12];
    if (h.width == 0 || h.height == 0 || h.width > kLargestSide || h.height > kLargestSide)
        return QStringLiteral("has an impossible picture size %1 × %2 in its header")
            .arg(h.width)
            .arg(h.height);
    bool depthOk = false;
    switch (h.colourType) {
    case 0:
        h.channels = 1;
        depthOk = h.depth == 1 || h.depth == 2 || h.depth == 4 || h.depth == 8 || h.depth == 16;
        break;
    case 3:
        h.channels = 1;
        depthOk = h.depth == 1 || h.depth == 2 || h.depth == 4 || h.depth == 8;
        break;
    case 2:
    case 4:
    case 6:
        h.channels = h.colourType == 2 ? 3 : h.colourType == 4 ? 2 : 4;
        depthOk = h.depth == 8 || h.depth == 16;
        break;
    default:
        return QStringLiteral("has the unknown colour type %1").arg(h.colourType);
    }
    if (!depthOk)
        return QStringLiteral("has the impossible bit depth %1 for colour type %2")
            .arg(h.depth)
            .arg(h.colourType);
    if (d[10] != 0 || d[11] != 0 || h.interlace > 1)
        return QStringLiteral("has an unknown compression, filter or interlace method in its header");
    return {};
}

std::vector<rowRun> rowRuns(const header& h) {
    const uint64_t bitsPerPixel = uint64_t(h.channels) * uint64_t(h.depth);
    auto rowBytes = [&](uint64_t pixels) { return 1 + (pixels * bitsPerPixel + 7) / 8; };
    if (h.interlace == 0) return {{rowBytes(h.width), h.height}};
    // Adam7: start column, start row, column step, row step of each pass.
    static const int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                     {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    std::vector<rowRun> runs;
    for (const auto& p : passes) {
        const uint64_t columns = h.width > uint64_t(p[0]) ? (h.width - p[0] + p[2] - 1) / p[2] : 0;
        const uint64_t rows = h.height > uint64_t(p[1]) ? (h.height - p[1] + p[3] - 1) / p[3] : 0;
        if (columns > 0 && rows > 0) runs.push_back({rowBytes(columns), rows});
    }
    return runs;
}

/// Inflates the image data as it comes and checks that every row starts with a filter type
/// libpng knows (0 … 4).
class rowChecker {
public:
    explicit rowChecker(const header& h) : runs_(rowRuns(h)), scratch_(1 << 16) {
        stream_.zalloc = Z_NULL;
        stream_.zfree = Z_NULL;
        stream_.opaque = Z_NULL;
        ok_ = inflateInit(&stream_) == Z_OK;
        if (!ok_) fault_ = QStringLiteral("cannot be checked (out of memory)");
    }
    ~rowChecker() {
        if (ok_) inflateEnd(&stream_);
    }
    rowChecker(const rowChecker&) = delete;
    rowChecker& operator=(const rowChecker&) = delete;

    /// Feeds compressed bytes; false once the data is known to be damaged (fault() says why).
    bool feed(const uint8_t* data, size_t bytes) {
        if (!fault_.isEmpty()) return false;
        if (streamEnded_ || brokenAfterRows_) return true; // libpng ignores what follows
        stream_.next_in = const_cast<Bytef*>(data);
        stream_.avail_in = uInt(bytes);
        // Until this chunk's bytes are used up and zlib holds no output back (a full buffer may
        // leave more to deliver), or the stream ends.
        for (;;) {
            stream_.next_out = scratch_.data();
            stream_.avail_out = uInt(scratch_.size());
            const int result = inflate(&stream_, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
                // Once every row is there, libpng only warns about the rest of the stream.
                if (complete()) {
                    brokenAfterRows_ = true;
                    return true;
                }
                fault_ =
                    QStringLiteral("has damaged picture data (%1)")
                        .arg(stream_.msg ? QString::fromLatin1(stream_.msg) : QStringLiteral("zlib error"));
                return false;
            }
            if (!rows(scratch_.data(), scratch_.size() - stream_.avail_out)) return false;
            if (result == Z_STREAM_END) {
                streamEnded_ = true;
                return true;
            }
            if (result == Z_BUF_ERROR || (stream_.avail_in == 0 && stream_.avail_out != 0)) return true;
        }
    }
    /// Whether the picture data may end here: libpng stops with an error when it runs out of IDAT
    /// chunks before the compressed stream's end, even after the last row.
    bool finished() const { return complete() && (streamEnded_ || brokenAfterRows_); }
    bool complete() const { return run_ >= runs_.size(); }
    uint64_t delivered() const { return delivered_; }
    uint64_t expected() const {
        uint64_t total = 0;
        for (const rowRun& r : runs_)
            total += r.bytes * r.count;
        return total;
    }
    const QString& fault() const { return fault_; }

private:
    bool rows(const uint8_t* p, size_t n) {
        while (n > 0 && !complete()) {
            const rowRun& r = runs_[run_];
            if (inRow_ == 0 && *p > 4) {
                fault_ = QStringLiteral("has damaged picture data (unknown row filter %1)").arg(*p);
                return false;
            }
            const size_t take = size_t(std::min<uint64_t>(n, r.bytes - inRow_));
            p += take;
            n -= take;
            delivered_ += take;
            inRow_ += take;
            if (inRow_ == r.bytes) {
                inRow_ = 0;
                if (++row_ == r.count) {
                    row_ = 0;
                    ++run_;
                }
            }
        }
        return true;
    }

    std::vector<rowRun> runs_;
    std::vector<uint8_t> scratch_;
    z_stream stream_{};
    bool ok_ = false;
    bool streamEnded_ = false;
    bool brokenAfterRows_ = false;
    QString fault_;
    size_t run_ = 0;
    uint64_t row_ = 0, inRow_ = 0, delivered_ = 0;
};

/// Largest IDAT chunk libpng accepts for this picture (its estimate of the compressed rows).
uint64_t largestIdat(const header& h) {
    uint64_t rowFactor = h.width * uint64_t(h.channels) * (h.depth > 8 ? 2 : 1) + 1 + (h.interlace ? 6 : 0);
    uint64_t limit = h.height > 0xFFFFFFFFull / rowFactor ? kLargestLength : h.height * rowFactor;
    rowFactor = std::min<uint64_t>(rowFactor, 32566);
    limit += 6 + 5 * (limit / rowFactor + 1);
    return std::max<uint64_t>(std::min<uint64_t>(limit, kLargestLength), kLargestOtherChunk);
}

} // namespace

QString pngDamage(std::FILE* file, uint64_t fileBytes, pngCheck depth) {
    const bool data = depth == pngCheck::data;
    uint8_t b[8];
    if (!readExactly(file, b, 8) || std::memcmp(b, "\x89PNG\r\n\x1a\n", 8) != 0)
        return QStringLiteral("is not a PNG picture");
    uint64_t at = 8;
    header h;
    std::unique_ptr<rowChecker> rows;
    bool seenHeader = false, seenPalette = false, inData = false, dataDone = false;
    std::vector<uint8_t> buffer;
    for (;;) {
        if (at + 12 > fileBytes || !readExactly(file, b, 8))
            return QStringLiteral("is truncated: it ends at byte %1 before its IEND chunk").arg(fileBytes);
        const uint32_t length = be32(b);
        const uint8_t* type = b + 4;
        const QString name = chunkName(type);
        if (!std::all_of(type, type + 4, isLetter))
            return QStringLiteral("has a damaged chunk header at byte %1").arg(at);
        if (length > kLargestLength || at + 12 + uint64_t(length) > fileBytes)
            return QStringLiteral(
                       "is truncated: its %1 chunk at byte %2 needs %3 bytes, the file ends at byte %4")
                .arg(name)
                .arg(at)
                .arg(uint64_t(length) + 12)
                .arg(fileBytes);
        const bool isHeader = name == QLatin1String("IHDR"), isData = name == QLatin1String("IDAT");
        const bool isEnd = name == QLatin1String("IEND"), isPalette = name == QLatin1String("PLTE");
        const bool critical = type[0] >= 'A' && type[0] <= 'Z';
        if (!seenHeader && !isHeader) return QStringLiteral("does not start with its IHDR chunk");
        if (seenHeader && isHeader) return QStringLiteral("has a second IHDR chunk at byte %1").arg(at);
        if (critical && !isHeader && !isData && !isEnd && !isPalette)
            return QStringLiteral("has the unknown critical chunk %1 at byte %2").arg(name).arg(at);
        if (isHeader && length != 13) return QStringLiteral("has an IHDR chunk of %1 bytes").arg(length);
        if (!isData && length > kLargestOtherChunk)
            return QStringLiteral("has a %1 chunk of %2 bytes, too large to be read").arg(name).arg(length);
        if (isData && length > largestIdat(h))
            return QStringLiteral("has an IDAT chunk of %1 bytes, more than its picture can need")
                .arg(length);
        if (isPalette && seenPalette) return QStringLiteral("has a second palette at byte %1").arg(at);
        if (isPalette && h.colourType == 3 && (length == 0 || length > 768 || length % 3 != 0))
            return QStringLiteral("has a palette of %1 bytes").arg(length);
        if (isData && h.colourType == 3 && !seenPalette)
            return QStringLiteral("has no palette before its picture data");
        if (inData && !isData) {
            inData = false;
            dataDone = true;
            if (rows && !rows->complete())
                return QStringLiteral("has damaged picture data (it ends after %1 of %2 bytes)")
                    .arg(rows->delivered())
                    .arg(rows->expected());
            if (rows && !rows->finished())
                return QStringLiteral("has damaged picture data (its compressed stream is cut short)");
        }
        if (isEnd && !dataDone && !inData) return QStringLiteral("holds no picture data (no IDAT chunk)");

        // What must be read: the header always, the rest for the CRC and the rows. A damaged chunk
        // is reported by its CRC first, as libpng would, whatever its bytes do to the rows.
        if (isHeader || (data && critical)) {
            uLong crc = crc32(0L, type, 4);
            uint32_t left = length;
            QString fault;
            buffer.resize(std::min<size_t>(length, 1 << 16));
            while (left > 0) {
                const size_t n = std::min<size_t>(left, buffer.size());
                if (!readExactly(file, buffer.data(), n))
                    return QStringLiteral("cannot be read at byte %1").arg(at + 8 + (length - left));
                crc = crc32(crc, buffer.data(), uInt(n));
                if (isHeader) {
                    fault = headerFault(buffer.data(), h);
                    if (data && fault.isEmpty()) rows = std::make_unique<rowChecker>(h);
                } else if (isData && rows && fault.isEmpty() && !rows->feed(buffer.data(), n)) {
                    fault = rows->fault();
                }
                left -= uint32_t(n);
            }
            uint8_t stored[4];
            if (!readExactly(file, stored, 4))
                return QStringLiteral("cannot be read at byte %1").arg(at + 8 + length);
            if ((data || isHeader) && be32(stored) != uint32_t(crc))
                return QStringLiteral("has a damaged %1 chunk at byte %2 (its CRC does not match)")
                    .arg(name)
                    .arg(at);
            if (!fault.isEmpty()) return fault;
        } else if (fseeko(file, off_t(length) + 4, SEEK_CUR) != 0) {
            return QStringLiteral("cannot be read at byte %1").arg(at);
        }
        seenHeader = seenHeader || isHeader;
        seenPalette = seenPalette || isPalette;
        if (isData && !dataDone) inData = true;
        if (isEnd) return {};
        at += 12 + uint64_t(length);
    }
}

} // namespace halvora
