#pragma once
// Test-side TIFF writers: strip encoders (LZW in both code styles, Deflate, PackBits), the forward
// predictors, and a whole-file maker on top of tiffBuilder. Written from the TIFF format rules,
// independently of the reader under test.

#include "support/tiffTestBuilder.h"

#include <map>
#include <zlib.h>

namespace halvora::test {

/// TIFF LZW encoder. New style: codes most significant bit first, width grows one code early.
/// Old style: least significant bit first, width grows when the table is full.
inline std::vector<uint8_t> lzwEncode(const std::vector<uint8_t>& in, bool oldStyle) {
    std::vector<uint8_t> out;
    uint64_t acc = 0;
    int held = 0;
    int width = 9;
    auto putCode = [&](int code) {
        if (oldStyle) {
            acc |= uint64_t(code) << held;
            held += width;
            while (held >= 8) {
                out.push_back(uint8_t(acc & 0xFF));
                acc >>= 8;
                held -= 8;
            }
        } else {
            acc = acc << width | uint64_t(code);
            held += width;
            while (held >= 8) {
                out.push_back(uint8_t(acc >> (held - 8)));
                held -= 8;
            }
        }
    };
    std::map<std::pair<int, int>, int> dict;
    int next = 258;
    putCode(256);
    int w = -1;
    for (uint8_t c : in) {
        if (w < 0) {
            w = c;
            continue;
        }
        const auto it = dict.find({w, c});
        if (it != dict.end()) {
            w = it->second;
            continue;
        }
        putCode(w);
        dict[{w, c}] = next++;
        if (oldStyle ? next > (1 << width) : next >= (1 << width)) width = std::min(width + 1, 12);
        if (next >= 4094) {
            putCode(256);
            dict.clear();
            next = 258;
            width = 9;
        }
        w = c;
    }
    if (w >= 0) {
        putCode(w);
        // The decoder adds an entry for this code too; keep the width in step.
        ++next;
        if (oldStyle ? next > (1 << width) : next >= (1 << width)) width = std::min(width + 1, 12);
    }
    putCode(257);
    if (held > 0) {
        if (oldStyle)
            out.push_back(uint8_t(acc & 0xFF));
        else
            out.push_back(uint8_t(acc << (8 - held)));
    }
    return out;
}

inline std::vector<uint8_t> deflateEncode(const std::vector<uint8_t>& in) {
    uLongf size = compressBound(uLong(in.size()));
    std::vector<uint8_t> out(size);
    compress2(out.data(), &size, in.data(), uLong(in.size()), 6);
    out.resize(size);
    return out;
}

/// PackBits: runs of 3 or more equal bytes become repeats, the rest literals of up to 128 bytes.
inline std::vector<uint8_t> packBitsEncode(const std::vector<uint8_t>& in) {
    std::vector<uint8_t> out;
    size_t i = 0;
    while (i < in.size()) {
        size_t run = 1;
        while (i + run < in.size() && run < 128 && in[i + run] == in[i])
            ++run;
        if (run >= 3) {
            out.push_back(uint8_t(257 - run));
            out.push_back(in[i]);
            i += run;
            continue;
        }
        size_t start = i, n = 0;
        while (i < in.size() && n < 128) {
            if (i + 2 < in.size() && in[i] == in[i + 1] && in[i] == in[i + 2]) break;
            ++i;
            ++n;
        }
        out.push_back(uint8_t(n - 1));
        out.insert(out.end(), in.begin() + long(start), in.begin() + long(start + n));
    }
    return out;
}

enum class testCodec { none, lzw, lzwOld, deflate, deflateOld, packBits };

struct testTiff {
    int width = 1, height = 1, spp = 3, bits = 8;
    testCodec codec = testCodec::none;
    int predictor = 1;
    int rowsPerStrip = 0; ///< 0: tag omitted (one strip)
    bool bigEndian = false;
    bool floatFormat = false;
};

/// Sample values (bit patterns for floats), row by row, spp per pixel → a whole TIFF file.
inline std::vector<uint8_t> makeTiff(const testTiff& t, const std::vector<uint32_t>& samples) {
    tiffBuilder b(t.bigEndian);
    const int bps = t.bits / 8;
    const size_t rowSamples = size_t(t.width) * t.spp;
    auto rowBytes = [&](int y) {
        std::vector<uint32_t> v(samples.begin() + long(y * rowSamples),
                                samples.begin() + long((y + 1) * rowSamples));
        std::vector<uint8_t> bytes;
        if (t.predictor == 3) {
            // Byte planes, most significant first, then byte differences one pixel apart.
            bytes.resize(rowSamples * bps);
            for (size_t i = 0; i < rowSamples; ++i)
                for (int k = 0; k < bps; ++k)
                    bytes[k * rowSamples + i] = uint8_t(v[i] >> (8 * (bps - 1 - k)));
            for (size_t i = bytes.size(); i-- > size_t(t.spp);)
                bytes[i] = uint8_t(bytes[i] - bytes[i - t.spp]);
            return bytes;
        }
        if (t.predictor == 2) {
            const uint64_t mod = t.bits == 32 ? (uint64_t(1) << 32) : (uint64_t(1) << t.bits);
            for (size_t i = rowSamples; i-- > size_t(t.spp);)
                v[i] = uint32_t((uint64_t(v[i]) + mod - v[i - t.spp]) % mod);
        }
        for (uint32_t x : v) {
            if (bps == 1)
                bytes.push_back(uint8_t(x));
            else if (bps == 2)
                b.put16(bytes, uint16_t(x));
            else
                b.put32(bytes, x);
        }
        return bytes;
    };
    const int rps = t.rowsPerStrip > 0 ? std::min(t.rowsPerStrip, t.height) : t.height;
    std::vector<uint32_t> offsets, counts;
    for (int y0 = 0; y0 < t.height; y0 += rps) {
        std::vector<uint8_t> raw;
        for (int y = y0; y < std::min(y0 + rps, t.height); ++y) {
            const auto r = rowBytes(y);
            raw.insert(raw.end(), r.begin(), r.end());
        }
        std::vector<uint8_t> coded;
        switch (t.codec) {
        case testCodec::none:
            coded = raw;
            break;
        case testCodec::lzw:
            coded = lzwEncode(raw, false);
            break;
        case testCodec::lzwOld:
            coded = lzwEncode(raw, true);
            break;
        case testCodec::deflate:
        case testCodec::deflateOld:
            coded = deflateEncode(raw);
            break;
        case testCodec::packBits:
            coded = packBitsEncode(raw);
            break;
        }
        offsets.push_back(b.addBlob(coded));
        counts.push_back(uint32_t(coded.size()));
        if (coded.size() & 1) b.addBlob({0});
    }
    const int d = b.addIfd();
    const int compression[] = {1, 5, 5, 8, 32946, 32773};
    b.longs(d, 256, {uint32_t(t.width)});
    b.longs(d, 257, {uint32_t(t.height)});
    b.shorts(d, 258, std::vector<uint16_t>(size_t(t.spp), uint16_t(t.bits)));
    b.shorts(d, 259, {uint16_t(compression[int(t.codec)])});
    b.shorts(d, 262, {uint16_t(t.spp == 1 ? 1 : 2)});
    b.longs(d, 273, offsets);
    b.shorts(d, 277, {uint16_t(t.spp)});
    if (t.rowsPerStrip > 0) b.longs(d, 278, {uint32_t(t.rowsPerStrip)});
    b.longs(d, 279, counts);
    b.shorts(d, 284, {1});
    if (t.predictor != 1) b.shorts(d, 317, {uint16_t(t.predictor)});
    if (t.spp == 4) b.shorts(d, 338, {2});
    b.shorts(d, 339, std::vector<uint16_t>(size_t(t.spp), uint16_t(t.floatFormat ? 3 : 1)));
    return b.build();
}

} // namespace halvora::test
