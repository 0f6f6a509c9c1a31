#include "imageio/exrHeader.h"

#include <algorithm>
#include <cstring>

namespace halvora {
namespace {

constexpr size_t kLongestName = 255;

int32_t le32(const uint8_t* p) {
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

/// A name ended by a zero byte; false when the file ends first or the name is too long.
bool readName(std::FILE* file, char (&name)[kLongestName + 1], uint64_t& at) {
    for (size_t i = 0; i <= kLongestName; ++i) {
        const int c = std::fgetc(file);
        if (c == EOF) return false;
        ++at;
        name[i] = char(c);
        if (c == 0) return true;
    }
    return false;
}

// Bytes the library reads for a value of a fixed-size type, whatever size the file gives it (the next
// attribute starts where that read ends); 0 for the other types.
uint64_t fixedValueBytes(const char* type) {
    static const struct {
        const char* name;
        uint64_t bytes;
    } types[] = {{"box2i", 16},      {"box2f", 16},   {"v2i", 8},       {"v2f", 8},
                 {"v2d", 16},        {"v3i", 12},     {"v3f", 12},      {"v3d", 24},
                 {"m33f", 36},       {"m33d", 72},    {"m44f", 64},     {"m44d", 128},
                 {"float", 4},       {"double", 8},   {"int", 4},       {"rational", 8},
                 {"compression", 1}, {"envmap", 1},   {"lineOrder", 1}, {"deepImageState", 1},
                 {"tiledesc", 9},    {"timecode", 8}, {"keycode", 28},  {"chromaticities", 32}};
    for (const auto& t : types)
        if (std::strcmp(type, t.name) == 0) return t.bytes;
    return 0;
}

} // namespace

bool readExrHeader(std::FILE* file, uint64_t fileBytes, exrHeader& header, QString& reason) {
    uint8_t start[8];
    if (std::fread(start, 1, 8, file) != 8 || std::memcmp(start, "\x76\x2f\x31\x01", 4) != 0) {
        reason = QStringLiteral("is not an OpenEXR file");
        return false;
    }
    header = exrHeader();
    header.flags = uint32_t(le32(start + 4)) >> 8 << 8;
    const bool multiPart = (header.flags & 0x1000) != 0;
    uint64_t at = 8;
    char name[kLongestName + 1];
    char type[kLongestName + 1];
    auto tooLarge = [&](const char* attribute, int64_t bytes) {
        reason = QStringLiteral("has a header attribute \"%1\" of %2 bytes but holds only %3 bytes")
                     .arg(QString::fromLatin1(attribute))
                     .arg(bytes)
                     .arg(fileBytes);
        return false;
    };
    auto skip = [&](std::FILE* f, uint64_t bytes, uint64_t& position) {
        if (fseeko(f, off_t(bytes), SEEK_CUR) != 0) return false;
        position += bytes;
        return true;
    };
    auto cut = [&] {
        reason =
            QStringLiteral("has a damaged header (it ends at byte %1 or holds a name longer than %2 bytes)")
                .arg(at)
                .arg(kLongestName);
        return false;
    };
    for (int part = 0;; ++part) {
        bool emptyHeader = true;
        for (;;) {
            if (!readName(file, name, at)) return cut();
            if (name[0] == 0) break; // the end of this part's header
            emptyHeader = false;
            uint8_t sizeBytes[4];
            if (!readName(file, type, at) || std::fread(sizeBytes, 1, 4, file) != 4) return cut();
            at += 4;
            const int32_t size = le32(sizeBytes);
            if (size < 0 || uint64_t(size) > fileBytes - at) return tooLarge(name, size);
            const bool first = part == 0;
            const uint64_t fixed = fixedValueBytes(type);
            if (fixed > fileBytes - at) return cut();
            if (first && std::strcmp(name, "dataWindow") == 0 && std::strcmp(type, "box2i") == 0) {
                uint8_t box[16];
                if (std::fread(box, 1, 16, file) != 16) return cut();
                header.xMin = le32(box);
                header.yMin = le32(box + 4);
                header.xMax = le32(box + 8);
                header.yMax = le32(box + 12);
                header.hasDataWindow = true;
                at += 16;
            } else if (first && std::strcmp(name, "compression") == 0 &&
                       std::strcmp(type, "compression") == 0) {
                header.compression = std::fgetc(file);
                at += 1;
            } else if (first && std::strcmp(type, "tiledesc") == 0) {
                uint8_t tiles[9];
                if (std::fread(tiles, 1, 9, file) != 9) return cut();
                header.tileWidth = uint32_t(le32(tiles));
                header.tileHeight = uint32_t(le32(tiles + 4));
                at += 9;
            } else if (std::strcmp(name, "chunkCount") == 0 && std::strcmp(type, "int") == 0) {
                // Each part's offset table is reserved by this count before it is read.
                uint8_t count[4];
                if (std::fread(count, 1, 4, file) != 4) return cut();
                at += 4;
                if (le32(count) < 0 || uint64_t(le32(count)) > fileBytes / 8)
                    return tooLarge(name, int64_t(le32(count)) * 8);
            } else if (fixed > 0) {
                if (!skip(file, fixed, at)) return cut();
            } else if (std::strcmp(type, "chlist") == 0) {
                // Channels up to an empty name, each with 16 bytes of description, whatever the size.
                for (;;) {
                    if (!readName(file, name, at)) return cut();
                    if (name[0] == 0) break;
                    uint8_t channel[16];
                    if (16 > fileBytes - at || std::fread(channel, 1, 16, file) != 16) return cut();
                    at += 16;
                    // The library sizes its tile and line buffers by these bytes per pixel.
                    if (first) header.pixelBytes += le32(channel) == 1 ? 2 : 4;
                }
            } else if (std::strcmp(type, "preview") == 0) {
                // The library reserves width × height × 4 bytes before reading them.
                uint8_t dims[8];
                if (8 > fileBytes - at || std::fread(dims, 1, 8, file) != 8) return cut();
                at += 8;
                const uint64_t width = uint32_t(le32(dims)), height = uint32_t(le32(dims + 4));
                if (width > 0 && height > (fileBytes - at) / 4 / width)
                    return tooLarge(name, int64_t(std::min<uint64_t>(width * height, uint64_t(1) << 60)) * 4);
                const uint64_t bytes = width * height * 4;
                if (!skip(file, bytes, at)) return cut();
            } else if (std::strcmp(type, "stringvector") == 0) {
                // Strings, each with its length, read while fewer than `size` bytes have been.
                for (int64_t done = 0; done < size;) {
                    uint8_t lengthBytes[4];
                    if (4 > fileBytes - at || std::fread(lengthBytes, 1, 4, file) != 4) return cut();
                    at += 4;
                    const int32_t length = le32(lengthBytes);
                    if (length < 0 || uint64_t(length) > fileBytes - at) return tooLarge(name, length);
                    if (!skip(file, uint64_t(length), at)) return cut();
                    done += 4 + int64_t(length);
                }
            } else if (!skip(file, uint64_t(size), at)) {
                return cut();
            }
        }
        // A single-part file has one header; the headers of a multi-part file end with an empty one.
        if (!multiPart || emptyHeader) return true;
    }
}

} // namespace halvora
