#pragma once
// A deliberately small TIFF decoder for cross-checking the program's TIFF reader and writer: the first
// directory of a file with contiguous strips, uncompressed or Deflate, in either byte order. Written
// from the format rules, independently of the code under test.

#include <QByteArray>
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>
#include <zlib.h>

namespace halvora::test {

struct plainTiff {
    bool ok = false;
    std::string why; ///< what did not fit, when not ok
    bool bigEndian = false;
    int width = 0, height = 0, spp = 1, bits = 0, compression = 1, resolutionUnit = 0;
    double xres = 0, yres = 0;
    std::vector<uint32_t> samples; ///< as stored: integers, or the bit patterns of floats
};

inline plainTiff decodePlainTiff(const QByteArray& file) {
    plainTiff t;
    const auto* d = reinterpret_cast<const uint8_t*>(file.constData());
    const uint64_t n = uint64_t(file.size());
    t.bigEndian = n >= 2 && d[0] == 'M';
    auto u16 = [&](uint64_t o) -> uint64_t {
        if (o > n || n - o < 2) return ~0ull;
        return t.bigEndian ? uint64_t(d[o]) << 8 | d[o + 1] : uint64_t(d[o + 1]) << 8 | d[o];
    };
    auto u32 = [&](uint64_t o) -> uint64_t {
        if (o > n || n - o < 4) return ~0ull;
        return t.bigEndian ? u16(o) << 16 | u16(o + 2) : u16(o + 2) << 16 | u16(o);
    };
    auto failed = [&](const char* why) {
        t.why = why;
        return t;
    };
    if (n < 8 || d[0] != d[1] || (d[0] != 'I' && d[0] != 'M') || u16(2) != 42) return failed("header");
    const uint64_t ifd = u32(4), entries = u16(ifd);
    if (entries == ~0ull || ifd + 2 + entries * 12 + 4 > n) return failed("directory");
    std::map<int, std::vector<uint64_t>> tags;
    for (uint64_t i = 0; i < entries; ++i) {
        const uint64_t e = ifd + 2 + i * 12, type = u16(e + 2), count = u32(e + 4);
        const uint64_t size = type == 3 ? 2 : type == 4 ? 4 : type == 5 ? 8 : 1;
        const uint64_t at = count * size <= 4 ? e + 8 : u32(e + 8);
        if (at > n || count * size > n - at) return failed("tag value out of file");
        std::vector<uint64_t>& v = tags[int(u16(e))];
        for (uint64_t c = 0; c < count && size > 1; ++c)
            if (type == 5)
                v.insert(v.end(), {u32(at + c * 8), u32(at + c * 8 + 4)});
            else
                v.push_back(size == 2 ? u16(at + c * 2) : u32(at + c * 4));
    }
    auto one = [&](int tag, uint64_t fallback) { return tags[tag].empty() ? fallback : tags[tag][0]; };
    t.width = int(one(256, 0));
    t.height = int(one(257, 0));
    t.bits = int(one(258, 1));
    t.compression = int(one(259, 1));
    t.spp = int(one(277, 1));
    t.resolutionUnit = int(one(296, 0));
    if (tags[282].size() == 2 && tags[282][1]) t.xres = double(tags[282][0]) / double(tags[282][1]);
    if (tags[283].size() == 2 && tags[283][1]) t.yres = double(tags[283][0]) / double(tags[283][1]);
    if (one(284, 1) != 1 || (t.bits != 8 && t.bits != 16 && t.bits != 32)) return failed("layout");
    const uint64_t rps = std::min<uint64_t>(one(278, uint64_t(t.height)), uint64_t(t.height));
    const std::vector<uint64_t>&offsets = tags[273], &counts = tags[279];
    const uint64_t rowBytes = uint64_t(t.width) * t.spp * t.bits / 8;
    if (rps == 0 || offsets.size() != counts.size() || offsets.size() != (t.height + rps - 1) / rps)
        return failed("strip tables");
    std::vector<uint8_t> raw;
    for (size_t s = 0; s < offsets.size(); ++s) {
        if (offsets[s] > n || counts[s] > n - offsets[s]) return failed("strip out of file");
        const uint64_t bytes = std::min<uint64_t>(rps, t.height - s * rps) * rowBytes;
        const uint8_t* strip = d + offsets[s];
        if (t.compression == 1) {
            if (counts[s] != bytes) return failed("strip size");
            raw.insert(raw.end(), strip, strip + bytes);
        } else if (t.compression == 8) {
            std::vector<uint8_t> out(bytes);
            uLongf length = uLongf(bytes);
            if (uncompress(out.data(), &length, strip, uLong(counts[s])) != Z_OK || length != bytes)
                return failed("inflate");
            raw.insert(raw.end(), out.begin(), out.end());
        } else {
            return failed("compression");
        }
    }
    const int unit = t.bits / 8;
    for (size_t o = 0; o + size_t(unit) <= raw.size(); o += size_t(unit)) {
        uint32_t v = 0;
        for (int k = 0; k < unit; ++k)
            v |= uint32_t(raw[o + size_t(t.bigEndian ? unit - 1 - k : k)]) << (8 * k);
        t.samples.push_back(v);
    }
    t.ok = true;
    return t;
}

} // namespace halvora::test
