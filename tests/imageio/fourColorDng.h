#pragma once
// A DNG from a four-colour sensor, written byte by byte for the RAW tests: cyan and magenta over
// yellow and green in every 2 × 2 block, 16-bit samples of a 12-bit range above a black level of 256,
// three patches side by side with known sensor values, an "as shot" neutral and a TIFF orientation.

#include "support/tiffTestBuilder.h"

#include <cmath>
#include <string>
#include <vector>

namespace halvora::test {

struct fourColorDng {
    static constexpr int width = 96, height = 64; ///< full size; the half-size picture is 48 × 32
    static constexpr int black = 256;
    static constexpr int range = 3000; ///< a sensor value of 1.0 lies this far above black
    static constexpr int white = 4095;
    /// Sensor values (0 … 1) of the filters in block order: top left (cyan), top right (magenta),
    /// bottom left (yellow), bottom right (green). Left third: the area to make grey; middle: another
    /// colour; right third: magenta clipped at the white level.
    static constexpr double grey[4] = {0.30, 0.45, 0.20, 0.35};
    static constexpr double other[4] = {0.50, 0.15, 0.40, 0.25};
    static constexpr double clipped[4] = {0.40, 2.00, 0.30, 0.30};
    /// The camera's "as shot" neutral, in the same order.
    static constexpr double neutral[4] = {0.8, 1.0, 0.6, 0.9};

    /// The file's bytes with TIFF orientation `orientation` (1 … 8).
    static std::vector<uint8_t> bytes(int orientation) {
        tiffBuilder b(false);
        std::vector<uint8_t> samples;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const double* patch = x < width / 3 ? grey : x < 2 * width / 3 ? other : clipped;
                const double v = patch[(y & 1) * 2 + (x & 1)];
                b.put16(samples, uint16_t(std::min<long>(black + std::lround(v * range), white)));
            }
        const uint32_t offset = b.addBlob(samples);
        const int d = b.addIfd();
        b.longs(d, 254, {0});
        b.longs(d, 256, {uint32_t(width)});
        b.longs(d, 257, {uint32_t(height)});
        b.shorts(d, 258, {16});
        b.shorts(d, 259, {1});
        b.shorts(d, 262, {32803}); // colour filter array
        b.ascii(d, 271, "Halvora");
        b.ascii(d, 272, "Four-colour test sensor");
        b.longs(d, 273, {offset});
        b.shorts(d, 274, {uint16_t(orientation)});
        b.shorts(d, 277, {1});
        b.longs(d, 278, {uint32_t(height)});
        b.longs(d, 279, {uint32_t(samples.size())});
        b.shorts(d, 284, {1});
        b.shorts(d, 33421, {2, 2});
        b.raw(d, 33422, tiffBuilder::tByte, 4, {3, 4, 5, 1}); // cyan magenta / yellow green
        b.raw(d, 50706, tiffBuilder::tByte, 4, {1, 4, 0, 0});
        b.ascii(d, 50708, "Halvora four-colour test sensor");
        b.raw(d, 50710, tiffBuilder::tByte, 4, {3, 4, 5, 1});
        b.shorts(d, 50714, {uint16_t(black)});
        b.longs(d, 50717, {uint32_t(white)});
        std::vector<uint8_t> shot;
        for (double v : neutral) {
            b.put32(shot, uint32_t(std::lround(v * 10000)));
            b.put32(shot, 10000);
        }
        b.raw(d, 50728, tiffBuilder::tRational, 4, shot);
        return b.build();
    }

    /// Where the stored half-size pixel (sx, sy) is shown after turning by `orientation`, as TIFF
    /// defines the tag: 3 turns by 180°, 6 by 90° clockwise, 8 by 90° anticlockwise.
    static void shownAt(int orientation, int sx, int sy, int& x, int& y) {
        const int w = width / 2, h = height / 2;
        switch (orientation) {
        case 3:
            x = w - 1 - sx;
            y = h - 1 - sy;
            break;
        case 6:
            x = h - 1 - sy;
            y = sx;
            break;
        case 8:
            x = sy;
            y = w - 1 - sx;
            break;
        default:
            x = sx;
            y = sy;
        }
    }
};

} // namespace halvora::test
