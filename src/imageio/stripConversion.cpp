#include "imageio/stripConversion.h"

#include "base/parallelFor.h"
#include "imageio/imageTransform.h"

#include <algorithm>
#include <array>

namespace halvora {
namespace {

// Turned modes work in square tiles so that both the strip rows read and the output rows written
// stay in the cache.
constexpr int kTile = 64;

struct convertStrip_threadParams_t {
    const QImage* strip;
    int firstRow;
    int sourceWidth, sourceHeight;
    int mode;
    uint16_t* dst;
    const std::array<uint16_t, 256 * 3>* lut; // 8-bit pixels: the sample triple of each byte
};

// Writes the working-scale triple of strip pixel x of `line` to `out`.
struct read32 {
    static void put(const uchar* line, int x, uint16_t* out, const convertStrip_threadParams_t&) {
        const uint32_t v = reinterpret_cast<const uint32_t*>(line)[x];
        out[0] = uint16_t((v >> 9) & 0x7F80u); // red byte × 128
        out[1] = uint16_t((v >> 1) & 0x7F80u); // green byte × 128
        out[2] = uint16_t((v << 7) & 0x7F80u); // blue byte × 128
    }
};
struct read8 {
    static void put(const uchar* line, int x, uint16_t* out, const convertStrip_threadParams_t& p) {
        const uint16_t* t = p.lut->data() + size_t(line[x]) * 3;
        out[0] = t[0];
        out[1] = t[1];
        out[2] = t[2];
    }
};

// Strip rows [r0, r1): unturned or turned by 180°, one output row per strip row.
template <class Reader> void convertRows(const convertStrip_threadParams_t& p, int64_t r0, int64_t r1) {
    const int w = p.sourceWidth;
    for (int64_t r = r0; r < r1; ++r) {
        const uchar* line = p.strip->constScanLine(int(r));
        const int sy = p.firstRow + int(r);
        if (p.mode == turn180) {
            uint16_t* out = p.dst + (size_t(p.sourceHeight - 1 - sy) * w + size_t(w - 1)) * 3;
            for (int x = 0; x < w; ++x, out -= 3)
                Reader::put(line, x, out, p);
        } else {
            uint16_t* out = p.dst + size_t(sy) * w * 3;
            for (int x = 0; x < w; ++x, out += 3)
                Reader::put(line, x, out, p);
        }
    }
}

// Strip row tiles [t0, t1) of a photo turned by 90°: the output is sourceHeight pixels wide and
// source column sx becomes output row sx (clockwise) or sourceWidth − 1 − sx (counter-clockwise).
template <class Reader>
void convertTurnedTiles(const convertStrip_threadParams_t& p, int64_t t0, int64_t t1) {
    const int stripRows = p.strip->height();
    const size_t outWidth = size_t(p.sourceHeight);
    const uchar* lines[kTile];
    for (int64_t t = t0; t < t1; ++t) {
        const int r0 = int(t) * kTile, r1 = std::min(stripRows, r0 + kTile);
        for (int r = r0; r < r1; ++r)
            lines[r - r0] = p.strip->constScanLine(r);
        for (int x0 = 0; x0 < p.sourceWidth; x0 += kTile) {
            const int x1 = std::min(p.sourceWidth, x0 + kTile);
            for (int sx = x0; sx < x1; ++sx) {
                if (p.mode == turnClockwise) {
                    // Output column sourceHeight − 1 − sy: walk the rows upwards to write forwards.
                    uint16_t* out =
                        p.dst + (size_t(sx) * outWidth + outWidth - 1 - size_t(p.firstRow + r1 - 1)) * 3;
                    for (int r = r1 - 1; r >= r0; --r, out += 3)
                        Reader::put(lines[r - r0], sx, out, p);
                } else {
                    uint16_t* out =
                        p.dst + (size_t(p.sourceWidth - 1 - sx) * outWidth + size_t(p.firstRow + r0)) * 3;
                    for (int r = r0; r < r1; ++r, out += 3)
                        Reader::put(lines[r - r0], sx, out, p);
                }
            }
        }
    }
}

struct convertRows_threadParams_t {
    const QImage* photo;
    int mode;
    int firstOutputRow, rows;
    uint16_t* out;
    const std::array<uint16_t, 256 * 3>* lut;
};

// Unturned or 180°: output rows [r0, r1) of the piece, one source row each.
template <class Reader> void pieceRows(const convertRows_threadParams_t& p, int64_t r0, int64_t r1) {
    const int w = p.photo->width(), h = p.photo->height();
    const convertStrip_threadParams_t lutOnly{nullptr, 0, w, h, p.mode, nullptr, p.lut};
    for (int64_t r = r0; r < r1; ++r) {
        const int outRow = p.firstOutputRow + int(r);
        uint16_t* out = p.out + size_t(r) * w * 3;
        if (p.mode == turn180) {
            const uchar* line = p.photo->constScanLine(h - 1 - outRow);
            out += size_t(w - 1) * 3;
            for (int x = 0; x < w; ++x, out -= 3)
                Reader::put(line, x, out, lutOnly);
        } else {
            const uchar* line = p.photo->constScanLine(outRow);
            for (int x = 0; x < w; ++x, out += 3)
                Reader::put(line, x, out, lutOnly);
        }
    }
}

// 90° turns: source row blocks [b0, b1) of kTile rows. The piece's rows are a run of adjacent source
// columns; each output row takes one source column, kTile source rows at a time, so the writes run
// along the output row and the few source lines read stay in the cache for the neighbouring rows.
template <class Reader> void pieceTurned(const convertRows_threadParams_t& p, int64_t b0, int64_t b1) {
    const int w = p.photo->width(), h = p.photo->height();
    const convertStrip_threadParams_t lutOnly{nullptr, 0, w, h, p.mode, nullptr, p.lut};
    const size_t outWidth = size_t(h);
    const uchar* lines[kTile];
    for (int64_t b = b0; b < b1; ++b) {
        const int y0 = int(b) * kTile, y1 = std::min(h, y0 + kTile);
        for (int y = y0; y < y1; ++y)
            lines[y - y0] = p.photo->constScanLine(y);
        for (int r = 0; r < p.rows; ++r) {
            const int outRow = p.firstOutputRow + r;
            uint16_t* row = p.out + size_t(r) * outWidth * 3;
            if (p.mode == turnClockwise) {
                // Output column h − 1 − y: walk the source rows upwards to write forwards.
                const int sx = outRow;
                uint16_t* out = row + (outWidth - size_t(y1)) * 3;
                for (int y = y1 - 1; y >= y0; --y, out += 3)
                    Reader::put(lines[y - y0], sx, out, lutOnly);
            } else {
                const int sx = w - 1 - outRow;
                uint16_t* out = row + size_t(y0) * 3;
                for (int y = y0; y < y1; ++y, out += 3)
                    Reader::put(lines[y - y0], sx, out, lutOnly);
            }
        }
    }
}

template <class Reader> void convertPiece(const convertRows_threadParams_t& p) {
    if (p.mode == turnClockwise || p.mode == turnCounterClockwise)
        parallelFor((p.photo->height() + kTile - 1) / kTile,
                    [&p](int, int64_t b0, int64_t b1) { pieceTurned<Reader>(p, b0, b1); });
    else
        parallelFor(p.rows, [&p](int, int64_t r0, int64_t r1) { pieceRows<Reader>(p, r0, r1); });
}

// The sample triple of each byte of an 8-bit picture: its colour-table entry, or a grey level.
void fillLut(const QImage& img, std::array<uint16_t, 256 * 3>& lut) {
    const QList<QRgb> table = img.format() == QImage::Format_Indexed8 ? img.colorTable() : QList<QRgb>();
    for (int v = 0; v < 256; ++v) {
        // Bytes beyond a short colour table are taken as grey levels.
        const QRgb c = v < table.size() ? table[v] : qRgb(v, v, v);
        lut[size_t(v) * 3 + 0] = uint16_t(qRed(c) << 7);
        lut[size_t(v) * 3 + 1] = uint16_t(qGreen(c) << 7);
        lut[size_t(v) * 3 + 2] = uint16_t(qBlue(c) << 7);
    }
}

bool isEightBit(QImage::Format f) {
    return f == QImage::Format_Grayscale8 || f == QImage::Format_Indexed8;
}
bool isThirtyTwoBit(QImage::Format f) {
    return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32;
}

template <class Reader> void convertWith(const convertStrip_threadParams_t& p) {
    const int rows = p.strip->height();
    if (p.mode == turnClockwise || p.mode == turnCounterClockwise)
        parallelFor((rows + kTile - 1) / kTile,
                    [&p](int, int64_t t0, int64_t t1) { convertTurnedTiles<Reader>(p, t0, t1); });
    else
        parallelFor(rows, [&p](int, int64_t r0, int64_t r1) { convertRows<Reader>(p, r0, r1); });
}

} // namespace

bool convertStripToRgb16(const QImage& strip, int firstRow, int sourceWidth, int sourceHeight, int mode,
                         uint16_t* dst) {
    if (!dst || strip.isNull() || strip.width() != sourceWidth || firstRow < 0 ||
        firstRow + strip.height() > sourceHeight)
        return false;
    if (mode != -1 && mode != turnCounterClockwise && mode != turn180 && mode != turnClockwise) return false;

    std::array<uint16_t, 256 * 3> lut;
    convertStrip_threadParams_t params{&strip, firstRow, sourceWidth, sourceHeight, mode, dst, &lut};
    if (isThirtyTwoBit(strip.format())) {
        convertWith<read32>(params);
        return true;
    }
    if (isEightBit(strip.format())) {
        fillLut(strip, lut);
        convertWith<read8>(params);
        return true;
    }
    // Rare layouts (16-bit PNG, premultiplied alpha, 1-bit BMP …) go through 32-bit pixels.
    const QImage converted = strip.convertToFormat(QImage::Format_RGB32);
    if (converted.isNull()) return false;
    params.strip = &converted;
    convertWith<read32>(params);
    return true;
}

bool convertRowsToRgb16(const QImage& photo, int mode, int firstOutputRow, int rows, uint16_t* out) {
    if (!out || photo.isNull() || rows <= 0 || firstOutputRow < 0) return false;
    const bool turned = mode == turnClockwise || mode == turnCounterClockwise;
    if (!turned && mode != -1 && mode != turn180) return false;
    if (firstOutputRow + rows > (turned ? photo.width() : photo.height())) return false;
    std::array<uint16_t, 256 * 3> lut;
    convertRows_threadParams_t params{&photo, mode, firstOutputRow, rows, out, &lut};
    if (isThirtyTwoBit(photo.format())) {
        convertPiece<read32>(params);
        return true;
    }
    if (isEightBit(photo.format())) {
        fillLut(photo, lut);
        convertPiece<read8>(params);
        return true;
    }
    // Callers convert rare layouts once for the whole photo; a piece-wise conversion would repeat it.
    const QImage converted = photo.convertToFormat(QImage::Format_RGB32);
    if (converted.isNull()) return false;
    params.photo = &converted;
    convertPiece<read32>(params);
    return true;
}

} // namespace halvora
