#include "imageio/embeddedIcc.h"

#include "base/failure.h"

#include <QFile>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace halvora {

namespace {

constexpr const char* kRead = "halvora::readEmbeddedIcc";
constexpr int kJpegChunk = 65535 - 2 - 14; // segment length field, "ICC_PROFILE\0", number, count
constexpr uint16_t kTiffIccTag = 34675;

/// Reads exactly `n` bytes at `offset`; false when the file ends before.
bool readAt(QFile& file, qint64 offset, char* to, qint64 n) {
    return offset >= 0 && offset + n <= file.size() && file.seek(offset) && file.read(to, n) == n;
}

bool readJpegIcc(QFile& file, const QString& fileName, QByteArray& icc, QString* error) {
    const qint64 size = file.size();
    unsigned char head[4];
    if (!readAt(file, 0, reinterpret_cast<char*>(head), 2) || head[0] != 0xFF || head[1] != 0xD8)
        return fail(error, kRead, fileName, "not a JPEG file (no start-of-image marker)");
    std::vector<QByteArray> chunks;
    int declaredCount = 0;
    qint64 pos = 2;
    // Segments up to the start of the picture data; the profile is always before it.
    while (pos + 4 <= size) {
        if (!readAt(file, pos, reinterpret_cast<char*>(head), 4)) break;
        if (head[0] != 0xFF)
            return fail(error, kRead, fileName, QStringLiteral("damaged marker at byte %1").arg(pos));
        const int marker = head[1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) break;                // end of image, start of scan
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) { // no length field
            pos += 2;
            continue;
        }
        const int length = (head[2] << 8) | head[3];
        if (length < 2 || pos + 2 + length > size)
            return fail(error, kRead, fileName,
                        QStringLiteral("a segment at byte %1 reaches past the end of the file").arg(pos));
        if (marker == 0xE2 && length >= 2 + 14) {
            char id[14];
            if (!readAt(file, pos + 4, id, 14)) break;
            if (std::memcmp(id, "ICC_PROFILE\0", 12) == 0) {
                const int number = uint8_t(id[12]), count = uint8_t(id[13]);
                if (number < 1 || count < 1 || number > count || (declaredCount && count != declaredCount))
                    return fail(error, kRead, fileName, "damaged colour profile segments");
                declaredCount = count;
                chunks.resize(size_t(count));
                QByteArray& chunk = chunks[size_t(number - 1)];
                if (!chunk.isEmpty())
                    return fail(error, kRead, fileName, "a colour profile segment appears twice");
                chunk.resize(length - 2 - 14);
                if (!readAt(file, pos + 4 + 14, chunk.data(), chunk.size()))
                    return fail(error, kRead, fileName, "truncated colour profile segment");
            }
        }
        pos += 2 + length;
    }
    icc.clear();
    if (chunks.empty()) return true;
    for (const QByteArray& chunk : chunks) {
        if (chunk.isEmpty()) return fail(error, kRead, fileName, "a colour profile segment is missing");
        icc += chunk;
    }
    return true;
}

bool readTiffIcc(QFile& file, const QString& fileName, QByteArray& icc, QString* error) {
    unsigned char h[8];
    if (!readAt(file, 0, reinterpret_cast<char*>(h), 8))
        return fail(error, kRead, fileName, "not a TIFF file (shorter than its header)");
    const bool little = h[0] == 'I' && h[1] == 'I';
    if (!(little || (h[0] == 'M' && h[1] == 'M')))
        return fail(error, kRead, fileName, "not a TIFF file (no byte-order mark)");
    auto u16 = [little](const unsigned char* p) {
        return little ? uint32_t(p[0] | p[1] << 8) : uint32_t(p[0] << 8 | p[1]);
    };
    auto u32 = [little](const unsigned char* p) {
        return little ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24
                      : uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
    };
    if (u16(h + 2) != 42) return fail(error, kRead, fileName, "not a classic TIFF file");
    const qint64 directory = u32(h + 4);
    unsigned char countBytes[2];
    if (!readAt(file, directory, reinterpret_cast<char*>(countBytes), 2))
        return fail(error, kRead, fileName, "the first directory lies outside the file");
    const uint32_t entries = u16(countBytes);
    std::vector<unsigned char> table(size_t(entries) * 12);
    if (!readAt(file, directory + 2, reinterpret_cast<char*>(table.data()), qint64(table.size())))
        return fail(error, kRead, fileName, "the first directory reaches past the end of the file");
    icc.clear();
    for (uint32_t i = 0; i < entries; ++i) {
        const unsigned char* e = table.data() + size_t(i) * 12;
        if (u16(e) != kTiffIccTag) continue;
        const uint32_t type = u16(e + 2), count = u32(e + 4);
        if (type != 7 && type != 1)
            return fail(error, kRead, fileName, "the colour profile tag has a wrong type");
        if (count > kMaxEmbeddedIccBytes)
            return fail(error, kRead, fileName,
                        QStringLiteral("a colour profile of %1 bytes is too large").arg(count));
        icc.resize(qsizetype(count));
        // Four bytes or fewer sit in the entry itself (no real profile is that small, but it is legal).
        if (count <= 4) {
            std::memcpy(icc.data(), e + 8, count);
            return true;
        }
        if (!readAt(file, u32(e + 8), icc.data(), qint64(count))) {
            icc.clear();
            return fail(error, kRead, fileName, "the colour profile reaches past the end of the file");
        }
        return true;
    }
    return true;
}

} // namespace

bool readEmbeddedIcc(const QString& fileName, bool tiff, QByteArray& icc, QString* error) {
    icc.clear();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) return fail(error, kRead, fileName, file.errorString());
    const bool ok = tiff ? readTiffIcc(file, fileName, icc, error) : readJpegIcc(file, fileName, icc, error);
    if (!ok) icc.clear(); // no half-read profile
    if (ok && icc.size() > kMaxEmbeddedIccBytes) {
        icc.clear();
        return fail(error, kRead, fileName, "the colour profile is too large");
    }
    return ok;
}

QByteArray jpegIccSegments(const QByteArray& icc) {
    const qsizetype count = (icc.size() + kJpegChunk - 1) / kJpegChunk;
    if (icc.isEmpty() || count > 255) return {};
    QByteArray out;
    out.reserve(icc.size() + count * 18);
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype begin = i * kJpegChunk;
        const qsizetype n = std::min<qsizetype>(kJpegChunk, icc.size() - begin);
        const int length = int(n) + 2 + 14;
        out += char(0xFF);
        out += char(0xE2);
        out += char(length >> 8);
        out += char(length & 0xFF);
        out += QByteArray("ICC_PROFILE", 12);
        out += char(i + 1);
        out += char(count);
        out += icc.mid(begin, n);
    }
    return out;
}

} // namespace halvora
