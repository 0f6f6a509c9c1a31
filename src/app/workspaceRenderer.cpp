#include "app/workspaceRenderer.h"

#include "base/parallelFor.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace halvora {

namespace {

constexpr int kCheckerSquare = 16;

/// The columns of the viewport that show the picture, and where each reads the cache level.
struct columnMap {
    int begin = 0;            ///< first viewport column on the picture
    int end = 0;              ///< one past the last
    std::vector<int32_t> x0;  ///< byte offset of the (left) level pixel, per column of the span
    std::vector<int32_t> x1;  ///< bilinear: byte offset of the right neighbour
    std::vector<uint16_t> wx; ///< bilinear: weight of the right neighbour, 0 … 256
};

/// One band of viewport rows.
struct drawBand_threadParams_t {
    int firstRow = 0;
    int endRow = 0;
    const workspaceDrawing* drawing = nullptr;
    const displayLevel* level = nullptr; ///< null: nothing to show, flat grey
    const columnMap* columns = nullptr;
    int rowsBegin = 0; ///< viewport rows on the picture
    int rowsEnd = 0;
    double rowStep = 1.0;  ///< level rows per viewport row
    double rowStart = 0.0; ///< level row of the centre of viewport row rowsBegin
    bool bilinear = false;
    const std::vector<uint8_t>* checker[2] = {nullptr, nullptr}; ///< background rows, both phases
    uint8_t* target = nullptr;
    qsizetype bytesPerLine = 0;
};

std::vector<uint8_t> checkerRow(int width, const backgroundPair& pair, int phase) {
    std::vector<uint8_t> row(size_t(std::max(0, width)) * 3);
    for (int x = 0; x < width; ++x) {
        const viewColor& c = ((x / kCheckerSquare + phase) & 1) ? pair.second : pair.first;
        row[3 * size_t(x)] = c.r;
        row[3 * size_t(x) + 1] = c.g;
        row[3 * size_t(x) + 2] = c.b;
    }
    return row;
}

void drawNearestRow(const uint8_t* src, const columnMap& cols, uint8_t* out) {
    const int n = cols.end - cols.begin;
    const int32_t* x0 = cols.x0.data();
    for (int i = 0; i < n; ++i) {
        const uint8_t* s = src + x0[i];
        out[3 * i] = s[0];
        out[3 * i + 1] = s[1];
        out[3 * i + 2] = s[2];
    }
}

// Bilinear: the two level rows are blended vertically once per level column the span reads (with
// weights out of 256, so a blend fits 16 bits), then each screen pixel blends two of those. The sum
// is the same integer as blending the four neighbours at once; magnified views read each level
// column for many screen pixels, so the vertical work is done once for all of them.
void drawBilinearRow(const uint8_t* top, const uint8_t* bottom, int wy, const columnMap& cols,
                     std::vector<uint16_t>& blended, uint8_t* out) {
    const int n = cols.end - cols.begin;
    if (n <= 0) return;
    const int first = cols.x0.front(), last = cols.x1.back() + 3;
    blended.resize(size_t(last - first));
    const int vy = 256 - wy;
    for (int i = first; i < last; ++i)
        blended[size_t(i - first)] = uint16_t(top[i] * vy + bottom[i] * wy);
    const uint16_t* b = blended.data() - first;
    for (int i = 0; i < n; ++i) {
        const int a = cols.x0[size_t(i)], c = cols.x1[size_t(i)];
        const int wx = cols.wx[size_t(i)], vx = 256 - wx;
        out[3 * i] = uint8_t((b[a] * vx + b[c] * wx + 32768) >> 16);
        out[3 * i + 1] = uint8_t((b[a + 1] * vx + b[c + 1] * wx + 32768) >> 16);
        out[3 * i + 2] = uint8_t((b[a + 2] * vx + b[c + 2] * wx + 32768) >> 16);
    }
}

void markRow(uint8_t* span, const uint8_t* marks, int n) {
    for (int i = 0; i < n; ++i) {
        if (marks[i] == markedOver) {
            span[3 * i] = 255;
            span[3 * i + 1] = 0;
            span[3 * i + 2] = 0;
        } else if (marks[i] == markedUnder) {
            span[3 * i] = 0;
            span[3 * i + 1] = 0;
            span[3 * i + 2] = 255;
        }
    }
}

void drawBand(const drawBand_threadParams_t& p) {
    const workspaceDrawing& d = *p.drawing;
    const int viewWidth = d.view.viewWidth;
    const columnMap& cols = *p.columns;
    const int span = cols.end - cols.begin;
    const viewColor flat = flatBackground();
    std::vector<uint8_t> marks(size_t(std::max(0, span)));
    std::vector<uint16_t> blended;
    for (int y = p.firstRow; y < p.endRow; ++y) {
        uint8_t* out = p.target + y * p.bytesPerLine;
        const std::vector<uint8_t>& checker = *p.checker[(y / kCheckerSquare) & 1];
        if (y < p.rowsBegin || y >= p.rowsEnd || span <= 0) {
            std::memcpy(out, checker.data(), size_t(viewWidth) * 3);
            continue;
        }
        std::memcpy(out, checker.data(), size_t(cols.begin) * 3);
        std::memcpy(out + size_t(cols.end) * 3, checker.data() + size_t(cols.end) * 3,
                    size_t(viewWidth - cols.end) * 3);
        uint8_t* spanOut = out + size_t(cols.begin) * 3;
        if (!p.level) {
            for (int i = 0; i < span; ++i) {
                spanOut[3 * i] = flat.r;
                spanOut[3 * i + 1] = flat.g;
                spanOut[3 * i + 2] = flat.b;
            }
            continue; // nothing shown: no transform, no marks
        }
        const displayLevel& level = *p.level;
        const double ly = p.rowStart + (y - p.rowsBegin) * p.rowStep;
        if (p.bilinear) {
            const double fy = ly - 0.5;
            const int y0 = std::clamp(int(std::floor(fy)), 0, level.height - 1);
            const int y1 = std::min(y0 + 1, level.height - 1);
            const int wy = std::clamp(int(std::lround((fy - std::floor(fy)) * 256.0)), 0, 256);
            drawBilinearRow(level.row(y0), level.row(fy < 0 ? y0 : y1), fy < 0 ? 0 : wy, cols, blended,
                            spanOut);
        } else {
            const int sy = std::clamp(int(ly), 0, level.height - 1);
            drawNearestRow(level.row(sy), cols, spanOut);
        }
        if (d.markOverUnder)
            for (int i = 0; i < span; ++i)
                marks[size_t(i)] =
                    uint8_t(overUnderOf(spanOut[3 * i], spanOut[3 * i + 1], spanOut[3 * i + 2]));
        if (d.displayTransform) d.displayTransform(spanOut, span);
        if (d.markOverUnder)
            markRow(spanOut, marks.data(), span); // marks stay pure red and blue on any monitor
    }
}

} // namespace

backgroundPair backgroundPairOf(int index) {
    if (index == 1) return backgroundPair{viewColor{0xb4, 0xb4, 0xb4}, viewColor{0xd2, 0xd2, 0xd2}};
    return backgroundPair{viewColor{0x26, 0x26, 0x26}, viewColor{0x33, 0x33, 0x33}};
}

viewColor flatBackground() {
    return viewColor{0x80, 0x80, 0x80};
}

drawingStats drawWorkspace(const workspaceDrawing& drawing, QImage& target) {
    drawingStats stats;
    viewMapping v = drawing.view;
    v.clampOffsets(); // offsets out of range would leave the picture's columns unmapped
    const QSize size(std::max(0, v.viewWidth), std::max(0, v.viewHeight));
    if (target.size() != size || target.format() != QImage::Format_RGB888)
        target = QImage(size, QImage::Format_RGB888);
    if (size.isEmpty() || target.isNull()) return stats;

    // Which viewport columns and rows show the picture.
    const int dw = v.pictureWidth > 0 ? v.displayedWidth() : 0;
    const int dh = v.pictureHeight > 0 ? v.displayedHeight() : 0;
    columnMap cols;
    cols.begin = std::clamp(v.marginX() - v.offsetX, 0, v.viewWidth);
    cols.end = std::clamp(v.marginX() - v.offsetX + dw, cols.begin, v.viewWidth);
    const int rowsBegin = std::clamp(v.marginY() - v.offsetY, 0, v.viewHeight);
    const int rowsEnd = std::clamp(v.marginY() - v.offsetY + dh, rowsBegin, v.viewHeight);

    drawBand_threadParams_t base;
    base.drawing = &drawing;
    base.columns = &cols;
    base.rowsBegin = rowsBegin;
    base.rowsEnd = rowsEnd;
    const bool havePicture = drawing.cache && !drawing.cache->empty() && dw > 0 && dh > 0;
    if (havePicture) {
        const displayCache& cache = *drawing.cache;
        // Displayed pixels per cached full-size pixel (the cache may hold a reduced copy).
        const double sourcePerPictureX = double(cache.width()) / v.pictureWidth;
        const double sourcePerPictureY = double(cache.height()) / v.pictureHeight;
        const double effective = v.scale / sourcePerPictureX;
        stats.level = cacheLevelFor(effective, cache.levelCount());
        const displayLevel& level = cache.level(stats.level);
        stats.levelWidth = level.width;
        stats.levelHeight = level.height;
        // At exactly one level pixel per screen pixel every sample falls on a pixel centre: bilinear
        // weights would all be 0, so the nearest pixel is the same picture, drawn faster.
        const bool oneToOne = std::abs(effective - 1.0) < 1e-9;
        stats.bilinear = drawing.smooth && !oneToOne && !(effective < 1.0 && cache.levelCount() > 1);
        const double levelFactor = std::ldexp(1.0, -stats.level);
        const double colStep = sourcePerPictureX * levelFactor / v.scale;
        const double rowStep = sourcePerPictureY * levelFactor / v.scale;
        const int firstDx = cols.begin - v.marginX() + v.offsetX;
        const int firstDy = rowsBegin - v.marginY() + v.offsetY;
        const int n = cols.end - cols.begin;
        cols.x0.resize(size_t(n));
        if (stats.bilinear) {
            cols.x1.resize(size_t(n));
            cols.wx.resize(size_t(n));
        }
        for (int i = 0; i < n; ++i) {
            const double lx = (firstDx + i + 0.5) * colStep;
            if (stats.bilinear) {
                const double fx = lx - 0.5;
                const int x0 = std::clamp(int(std::floor(fx)), 0, level.width - 1);
                const int x1 = fx < 0 ? x0 : std::min(x0 + 1, level.width - 1);
                cols.x0[size_t(i)] = 3 * x0;
                cols.x1[size_t(i)] = 3 * x1;
                cols.wx[size_t(i)] = uint16_t(
                    fx < 0 ? 0 : std::clamp(int(std::lround((fx - std::floor(fx)) * 256.0)), 0, 256));
            } else {
                cols.x0[size_t(i)] = 3 * std::clamp(int(lx), 0, level.width - 1);
            }
        }
        base.level = &level;
        base.bilinear = stats.bilinear;
        base.rowStep = rowStep;
        base.rowStart = (firstDy + 0.5) * rowStep;
    }

    const std::vector<uint8_t> checker0 = checkerRow(v.viewWidth, drawing.background, 0);
    const std::vector<uint8_t> checker1 = checkerRow(v.viewWidth, drawing.background, 1);
    base.checker[0] = &checker0;
    base.checker[1] = &checker1;
    base.target = target.bits(); // detached here, on the calling thread, before the bands write
    base.bytesPerLine = target.bytesPerLine();

    parallelFor(v.viewHeight, [&base](int, int64_t begin, int64_t end) {
        drawBand_threadParams_t p = base;
        p.firstRow = int(begin);
        p.endRow = int(end);
        drawBand(p);
    });
    return stats;
}

bool shownColorAt(const displayCache& cache, int pictureWidth, int pictureHeight, QPointF p,
                  rgbDouble_t& value) {
    if (cache.empty() || pictureWidth <= 0 || pictureHeight <= 0 || p.x() < 0 || p.y() < 0 ||
        p.x() >= pictureWidth || p.y() >= pictureHeight)
        return false;
    const displayLevel& l0 = cache.level(0);
    const int x = std::clamp(int(p.x() * l0.width / pictureWidth), 0, l0.width - 1);
    const int y = std::clamp(int(p.y() * l0.height / pictureHeight), 0, l0.height - 1);
    const uint8_t* s = l0.row(y) + 3 * size_t(x);
    value = sampleOf(s[0] / 255.0, s[1] / 255.0, s[2] / 255.0);
    return true;
}

} // namespace halvora
