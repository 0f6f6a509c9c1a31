#pragma once
// Builds TIFF structures byte by byte for the EXIF, TIFF and hostile-input tests, in either byte order.
// Layout: 8-byte header, then the data blobs in the order added, then the directories, each
// followed by its out-of-line values. Everything is written independently of the readers.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace halvora::test {

class tiffBuilder {
public:
    enum {
        tByte = 1,
        tAscii = 2,
        tShort = 3,
        tLong = 4,
        tRational = 5,
        tSByte = 6,
        tUndefined = 7,
        tSShort = 8,
        tSLong = 9,
        tSRational = 10,
        tFloat = 11,
        tDouble = 12
    };

    explicit tiffBuilder(bool bigEndian) : be_(bigEndian) {}

    bool bigEndian() const { return be_; }

    /// A new directory; the first one added is linked from the header.
    int addIfd() {
        ifds_.push_back({});
        return int(ifds_.size()) - 1;
    }
    /// A raw data block placed before the directories; returns its offset.
    uint32_t addBlob(const std::vector<uint8_t>& bytes) {
        const uint32_t offset = uint32_t(8 + blobs_.size());
        blobs_.insert(blobs_.end(), bytes.begin(), bytes.end());
        return offset;
    }
    /// An entry with raw value bytes already in the target byte order.
    void raw(int ifd, uint16_t tag, uint16_t type, uint32_t count, const std::vector<uint8_t>& value) {
        ifds_[ifd].entries.push_back({tag, type, count, value, -1});
    }
    void shorts(int ifd, uint16_t tag, const std::vector<uint16_t>& v, uint16_t type = tShort) {
        std::vector<uint8_t> b;
        for (uint16_t x : v)
            put16(b, x);
        raw(ifd, tag, type, uint32_t(v.size()), b);
    }
    void longs(int ifd, uint16_t tag, const std::vector<uint32_t>& v, uint16_t type = tLong) {
        std::vector<uint8_t> b;
        for (uint32_t x : v)
            put32(b, x);
        raw(ifd, tag, type, uint32_t(v.size()), b);
    }
    void rational(int ifd, uint16_t tag, uint32_t num, uint32_t den, uint16_t type = tRational) {
        std::vector<uint8_t> b;
        put32(b, num);
        put32(b, den);
        raw(ifd, tag, type, 1, b);
    }
    void ascii(int ifd, uint16_t tag, const std::string& text) {
        std::vector<uint8_t> b(text.begin(), text.end());
        b.push_back(0);
        raw(ifd, tag, tAscii, uint32_t(b.size()), b);
    }
    /// An entry (LONG) holding the offset of directory `target`.
    void link(int ifd, uint16_t tag, int target) {
        ifds_[ifd].entries.push_back({tag, tLong, 1, {}, target});
    }
    /// The next-directory link of `ifd`.
    void setNext(int ifd, int target) { ifds_[ifd].next = target; }
    /// Overrides the next-directory link with a raw offset.
    void setNextRaw(int ifd, uint32_t offset) {
        ifds_[ifd].next = -2;
        ifds_[ifd].nextRaw = offset;
    }

    std::vector<uint8_t> build() const {
        // Directory offsets first, then the bytes.
        std::vector<uint32_t> where(ifds_.size());
        uint32_t pos = uint32_t(8 + blobs_.size());
        for (size_t i = 0; i < ifds_.size(); ++i) {
            where[i] = pos;
            pos += 2 + 12 * uint32_t(ifds_[i].entries.size()) + 4;
            for (const auto& e : ifds_[i].entries)
                if (e.value.size() > 4) pos += uint32_t(e.value.size() + (e.value.size() & 1));
        }
        std::vector<uint8_t> out;
        out.push_back(be_ ? 'M' : 'I');
        out.push_back(be_ ? 'M' : 'I');
        put16(out, 42);
        put32(out, ifds_.empty() ? 0 : where[0]);
        out.insert(out.end(), blobs_.begin(), blobs_.end());
        for (size_t i = 0; i < ifds_.size(); ++i) {
            const auto& d = ifds_[i];
            uint32_t data = where[i] + 2 + 12 * uint32_t(d.entries.size()) + 4;
            std::vector<uint8_t> extra;
            put16(out, uint16_t(d.entries.size()));
            for (const auto& e : d.entries) {
                put16(out, e.tag);
                put16(out, e.type);
                put32(out, e.count);
                if (e.target >= 0) {
                    put32(out, where[e.target]);
                } else if (e.value.size() > 4) {
                    put32(out, data + uint32_t(extra.size()));
                    extra.insert(extra.end(), e.value.begin(), e.value.end());
                    if (e.value.size() & 1) extra.push_back(0);
                } else {
                    std::vector<uint8_t> v = e.value;
                    v.resize(4, 0);
                    out.insert(out.end(), v.begin(), v.end());
                }
            }
            put32(out, d.next >= 0 ? where[d.next] : d.next == -2 ? d.nextRaw : 0);
            out.insert(out.end(), extra.begin(), extra.end());
        }
        return out;
    }

    void put16(std::vector<uint8_t>& b, uint16_t v) const {
        if (be_) {
            b.push_back(uint8_t(v >> 8));
            b.push_back(uint8_t(v));
        } else {
            b.push_back(uint8_t(v));
            b.push_back(uint8_t(v >> 8));
        }
    }
    void put32(std::vector<uint8_t>& b, uint32_t v) const {
        if (be_) {
            put16(b, uint16_t(v >> 16));
            put16(b, uint16_t(v));
        } else {
            put16(b, uint16_t(v));
            put16(b, uint16_t(v >> 16));
        }
    }

private:
    struct entry {
        uint16_t tag, type;
        uint32_t count;
        std::vector<uint8_t> value;
        int target;
    };
    struct ifd {
        std::vector<entry> entries;
        int next = -1;
        uint32_t nextRaw = 0;
    };
    bool be_;
    std::vector<uint8_t> blobs_;
    std::vector<ifd> ifds_;
};

/// A minimal JPEG stream: SOI, the given APP sections, SOS and EOI.
inline std::vector<uint8_t>
jpegWithSections(const std::vector<std::pair<uint8_t, std::vector<uint8_t>>>& sections) {
    std::vector<uint8_t> out = {0xFF, 0xD8};
    for (const auto& [marker, data] : sections) {
        const size_t len = data.size() + 2;
        out.insert(out.end(), {0xFF, marker, uint8_t(len >> 8), uint8_t(len)});
        out.insert(out.end(), data.begin(), data.end());
    }
    out.insert(out.end(), {0xFF, 0xDA, 0x00, 0x02, 0x11, 0x22, 0xFF, 0xD9});
    return out;
}

/// APP1 data ("Exif" 00 00 followed by the TIFF structure).
inline std::vector<uint8_t> exifApp1(const std::vector<uint8_t>& tiff) {
    std::vector<uint8_t> out = {'E', 'x', 'i', 'f', 0, 0};
    out.insert(out.end(), tiff.begin(), tiff.end());
    return out;
}

inline bool writeBytes(const QString& path, const std::vector<uint8_t>& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) == qint64(bytes.size());
}

} // namespace halvora::test
