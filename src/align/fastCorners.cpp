#include "align/fastCorners.h"

#include "base/debugLog.h"
#include "base/failure.h"
#include "base/parallelFor.h"
#include "base/runContext.h"

#include <algorithm>

namespace halvora {
namespace {

/// The circle of radius 3, clockwise from the top.
constexpr int kCircle[16][2] = {{0, -3}, {1, -3}, {2, -2}, {3, -1}, {3, 0},  {3, 1},   {2, 2},   {1, 3},
                                {0, 3},  {-1, 3}, {-2, 2}, {-3, 1}, {-3, 0}, {-3, -1}, {-2, -2}, {-1, -3}};

struct circleOffsets {
    int o[16];
    explicit circleOffsets(int stride) {
        for (int i = 0; i < 16; ++i)
            o[i] = kCircle[i][1] * stride + kCircle[i][0];
    }
};

/// True when the 16-bit circular mask holds 9 contiguous set bits.
inline bool hasArcOf9(uint32_t mask) {
    const uint32_t m = mask | (mask << 16); // the circle twice, so wrapping arcs are straight runs
    uint32_t run = m & (m >> 1);            // runs of 2
    run &= run >> 2;                        // runs of 4
    run &= run >> 4;                        // runs of 8
    run &= m >> 8;                          // runs of 9
    return run != 0;
}

/// The segment test at threshold b for the pixel at p.
inline bool isCorner(const uint8_t* p, const circleOffsets& c, int b) {
    const int centre = p[0], hi = centre + b, lo = centre - b;
    // An arc of 9 covers at least two of the four compass pixels: a cheap first refusal.
    const int n = p[c.o[0]], e = p[c.o[4]], s = p[c.o[8]], w = p[c.o[12]];
    const int brighter = (n > hi) + (e > hi) + (s > hi) + (w > hi);
    const int darker = (n < lo) + (e < lo) + (s < lo) + (w < lo);
    if (brighter < 2 && darker < 2) return false;
    uint32_t bright = 0, dark = 0;
    for (int i = 0; i < 16; ++i) {
        const int v = p[c.o[i]];
        bright |= uint32_t(v > hi) << i;
        dark |= uint32_t(v < lo) << i;
    }
    return hasArcOf9(bright) || hasArcOf9(dark);
}

/// Largest threshold (≥ b, which is known to make a corner) at which the pixel stays a corner.
inline int cornerScore(const uint8_t* p, const circleOffsets& c, int b) {
    int yes = b, no = 255; // at 255 nothing can be brighter or darker
    while (no - yes > 1) {
        const int mid = (yes + no) / 2;
        if (isCorner(p, c, mid))
            yes = mid;
        else
            no = mid;
    }
    return yes;
}

/// Where corners may lie: [x0, x1) × [y0, y1) of the score map.
struct cornerRegion {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

/// Non-maximum suppression of the candidates (score-map indices in raster order) at threshold b.
/// Returns the number of survivors and appends them (region-relative when `relative`) to *out.
int suppress(const uint8_t* scores, int mapWidth, const cornerRegion& r,
             const std::vector<int32_t>& candidates, int b, std::vector<alignCorner>* out) {
    int survivors = 0;
    for (const int32_t index : candidates) {
        const int s = scores[index];
        if (s < b) continue;
        const int x = index % mapWidth, y = index / mapWidth;
        bool keep = true;
        for (int dy = -1; dy <= 1 && keep; ++dy)
            for (int dx = -1; dx <= 1 && keep; ++dx) {
                const int nx = x + dx, ny = y + dy;
                if ((dx == 0 && dy == 0) || nx < r.x0 || nx >= r.x1 || ny < r.y0 || ny >= r.y1) continue;
                const int ns = scores[size_t(ny) * mapWidth + nx];
                if (ns < b) continue;
                const bool earlier = dy < 0 || (dy == 0 && dx < 0);
                if (ns > s || (ns == s && earlier)) keep = false;
            }
        if (keep) {
            ++survivors;
            if (out) out->push_back({x, y});
        }
    }
    return survivors;
}

std::vector<int32_t> candidatesIn(const uint8_t* scores, int mapWidth, const cornerRegion& r) {
    std::vector<int32_t> list;
    for (int y = r.y0; y < r.y1; ++y)
        for (int x = r.x0; x < r.x1; ++x)
            if (scores[size_t(y) * mapWidth + x]) list.push_back(int32_t(y * mapWidth + x));
    return list;
}

struct chunkCorners_threadParams_t {
    const uint8_t* scores = nullptr;
    int mapWidth = 0;
    cornerRegion chunk; ///< the chunk in level coordinates
    int threshold = kCornerStartThreshold;
    std::vector<alignCorner> corners; ///< level coordinates
};

void chunkCorners(chunkCorners_threadParams_t& p) {
    // The chunk is searched as a picture of its own: corners keep 3 pixels from its edges.
    const cornerRegion inner{p.chunk.x0 + 3, p.chunk.y0 + 3, p.chunk.x1 - 3, p.chunk.y1 - 3};
    if (inner.x0 >= inner.x1 || inner.y0 >= inner.y1) {
        p.threshold = kCornerMinThreshold;
        return;
    }
    const std::vector<int32_t> candidates = candidatesIn(p.scores, p.mapWidth, inner);
    int b = kCornerStartThreshold;
    while (suppress(p.scores, p.mapWidth, inner, candidates, b, nullptr) <= kCornersPerChunk &&
           b >= kCornerMinThreshold + 1)
        b -= kCornerThresholdStep;
    p.threshold = b;
    suppress(p.scores, p.mapWidth, inner, candidates, b, &p.corners);
}

} // namespace

std::vector<uint8_t> fastScores(const uint8_t* plane, int width, int height, int stride, int minThreshold) {
    std::vector<uint8_t> scores(size_t(std::max(0, width)) * size_t(std::max(0, height)), 0);
    if (width < 7 || height < 7) return scores;
    const circleOffsets circle(stride);
    const int b = std::clamp(minThreshold, 0, 254);
    parallelFor(height - 6, [&](int, int64_t begin, int64_t end) {
        for (int64_t y = begin + 3; y < end + 3; ++y) {
            const uint8_t* row = plane + size_t(y) * size_t(stride);
            uint8_t* out = scores.data() + size_t(y) * size_t(width);
            for (int x = 3; x < width - 3; ++x)
                if (isCorner(row + x, circle, b)) out[x] = uint8_t(cornerScore(row + x, circle, b));
        }
    });
    return scores;
}

std::vector<alignCorner> fastCorners(const uint8_t* plane, int width, int height, int stride, int threshold) {
    const std::vector<uint8_t> scores = fastScores(plane, width, height, stride, threshold);
    const cornerRegion whole{3, 3, width - 3, height - 3};
    std::vector<alignCorner> corners;
    if (whole.x0 < whole.x1 && whole.y0 < whole.y1)
        suppress(scores.data(), width, whole, candidatesIn(scores.data(), width, whole), threshold, &corners);
    return corners;
}

bool detectReferenceCorners(const pyramid& grey, const alignSizes& sizes, std::vector<alignCorner>& corners,
                            QString* error) {
    corners.clear();
    const int level = std::clamp(sizes.detectionLevel, 0, grey.levelCount() - 1);
    const int w = grey.width(level), h = grey.height(level), scale = 1 << level;
    const int nx = w * scale / 1000 + 2, ny = h * scale / 1000 + 2;
    debugLog("%dx%d: Nx=%d, Ny=%d\n", w, h, nx, ny);
    // A pixel's score depends only on its 7 × 7 neighbourhood, so one map of the whole level serves
    // every chunk (chunk pixels 3 or more from the chunk's edges have that neighbourhood inside it).
    const std::vector<uint8_t> scores = fastScores(grey.data<uint8_t>(level), w, h, w, kCornerMinThreshold);
    const int chunkWidth = w / nx, chunkHeight = h / ny;
    std::vector<chunkCorners_threadParams_t> chunks(size_t(nx) * ny);
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            chunkCorners_threadParams_t& p = chunks[size_t(j) * nx + i];
            p.scores = scores.data();
            p.mapWidth = w;
            p.chunk = {i * chunkWidth, j * chunkHeight, i == nx - 1 ? w : (i + 1) * chunkWidth,
                       j == ny - 1 ? h : (j + 1) * chunkHeight};
        }
    parallelFor(int64_t(chunks.size()), [&](int, int64_t begin, int64_t end) {
        for (int64_t c = begin; c < end; ++c)
            chunkCorners(chunks[size_t(c)]);
    });
    if (cancelRequested()) return false;
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const chunkCorners_threadParams_t& p = chunks[size_t(j) * nx + i];
            debugLog("Chunk_%dx%d: n=%d, threshold=%d\n", i + 1, j + 1, int(p.corners.size()), p.threshold);
            for (const alignCorner& c : p.corners)
                corners.push_back({c.x * scale, c.y * scale});
        }
    if (int(corners.size()) < kMinCorners) {
        debugLog("  base corners < 12\n");
        return fail(error, "alignmentWorker::autoAlign", QString(),
                    QString("the reference photo shows too few corners to align on (%1 found, %2 needed)")
                        .arg(corners.size())
                        .arg(kMinCorners));
    }
    return true;
}

} // namespace halvora
