#include "tonemap/detailPlane.h"

#include "base/parallelFor.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

inline uint32_t step(uint32_t y, uint32_t x, uint32_t c) {
    return (y * c + x * (65535u - c)) >> 16;
}

inline int wrapColumn(int64_t x, int width) {
    const int64_t m = x % width;
    return int(m < 0 ? m + width : m);
}

void smoothRows(const recursiveSmooth_threadParams_t& p) {
    const uint32_t c = uint32_t(p.coefficient);
    const int w = p.width;
    for (int row = p.first; row < p.end; ++row) {
        uint16_t* line = p.plane + size_t(row) * size_t(w);
        if (!p.panorama) {
            uint32_t y = line[0];
            for (int x = 1; x < w; ++x) {
                y = step(y, line[x], c);
                if (x <= w - 2) line[x] = uint16_t(y);
            }
            y = line[w - 1];
            for (int x = w - 2; x >= 0; --x) {
                y = step(y, line[x], c);
                if (x >= 1) line[x] = uint16_t(y);
            }
        } else {
            // Both runs start outside the row and read around the seam, so the two ends join smoothly.
            const int64_t n = p.wrap;
            uint32_t y = line[wrapColumn(-n, w)];
            for (int64_t x = -n + 1; x < w; ++x) {
                y = step(y, line[wrapColumn(x, w)], c);
                if (x >= 1 && x <= w - 2) line[x] = uint16_t(y);
            }
            y = line[wrapColumn(w - 1 + n, w)];
            for (int64_t x = w - 2 + n; x >= 0; --x) {
                y = step(y, line[wrapColumn(x, w)], c);
                if (x >= 1 && x <= w - 2) line[x] = uint16_t(y);
            }
        }
    }
}

// Columns first … end−1, walked row by row so that memory is read in order.
void smoothColumns(const recursiveSmooth_threadParams_t& p) {
    const uint32_t c = uint32_t(p.coefficient);
    const int w = p.width, h = p.height;
    const int count = p.end - p.first;
    std::vector<uint32_t> y(static_cast<size_t>(count));
    auto line = [&](int row) { return p.plane + size_t(row) * size_t(w) + p.first; };

    const uint16_t* top = line(0);
    for (int k = 0; k < count; ++k)
        y[size_t(k)] = top[k];
    for (int row = 1; row < h; ++row) {
        uint16_t* l = line(row);
        const bool write = row <= h - 2;
        for (int k = 0; k < count; ++k) {
            y[size_t(k)] = step(y[size_t(k)], l[k], c);
            if (write) l[k] = uint16_t(y[size_t(k)]);
        }
    }
    const uint16_t* bottom = line(h - 1);
    for (int k = 0; k < count; ++k)
        y[size_t(k)] = bottom[k];
    for (int row = h - 2; row >= 0; --row) {
        uint16_t* l = line(row);
        const bool write = row >= 1;
        for (int k = 0; k < count; ++k) {
            y[size_t(k)] = step(y[size_t(k)], l[k], c);
            if (write) l[k] = uint16_t(y[size_t(k)]);
        }
    }
}

inline float brightness(const float* px) {
    const float v = (px[0] + px[1] + px[2]) * (1.0f / 3.0f);
    const float clamped = v > 0 ? (v < 1 ? v : 1) : 0; // NaN-safe
    return std::pow(clamped, float(1.0 / 2.2));
}

void detailPassA(const computeDetailPlane_threadParams_t& p) {
    for (int64_t i = p.firstPixel; i < p.endPixel; ++i) {
        const uint16_t v = uint16_t(brightness(p.hdr + i * 3) * 32640.0f);
        p.plane[i] = v;
        if (p.scratch) p.scratch[i] = v;
    }
}

void detailPassB(const computeDetailPlane_threadParams_t& p) {
    int16_t* detail = reinterpret_cast<int16_t*>(p.plane);
    for (int64_t i = p.firstPixel; i < p.endPixel; ++i) {
        const int original = p.scratch ? p.scratch[i] : int(uint16_t(brightness(p.hdr + i * 3) * 32640.0f));
        const int smoothed = p.plane[i];
        // Difference × 2.5, floored; strong edges are kept inside the signed 16-bit range.
        const int d = (original - smoothed) * 5;
        const int v = d >= 0 ? d / 2 : -((-d + 1) / 2);
        detail[i] = int16_t(std::clamp(v, -32768, 32767));
    }
}

} // namespace

namespace halvora {

void recursiveSmooth(uint16_t* plane, int width, int height, bool panorama, double sigma) {
    if (!plane || width < 1 || height < 1 || !(sigma > 0)) return;
    const double a = std::pow(0.5, std::sqrt(2.0) / sigma);
    if (!(a > 0 && a < 1)) return;
    const int c = int(a * a * 65536.0);
    if (c <= 0) return;
    recursiveSmooth_threadParams_t base;
    base.plane = plane;
    base.width = width;
    base.height = height;
    base.panorama = panorama;
    base.coefficient = c;
    base.wrap = int(std::min(2.5 * sigma, 1e6));
    if (width >= 3)
        parallelFor(height, [&](int, int64_t begin, int64_t end) {
            recursiveSmooth_threadParams_t p = base;
            p.first = int(begin);
            p.end = int(end);
            smoothRows(p);
        });
    if (height >= 3)
        parallelFor(width, [&](int, int64_t begin, int64_t end) {
            recursiveSmooth_threadParams_t p = base;
            p.first = int(begin);
            p.end = int(end);
            smoothColumns(p);
        });
    if (width >= 3)
        for (int row = 0; row < height; ++row) {
            uint16_t* line = plane + size_t(row) * size_t(width);
            line[0] = line[1];
            line[width - 1] = line[width - 2];
        }
}

bool computeDetailPlane(int fullWidth, int fullHeight, const float* hdr, int16_t* target, uint16_t* scratch,
                        int width, int height, bool panorama, double& detailScale, double scaleFactor) {
    if (!hdr || !target || width < 1 || height < 1 || fullWidth < 1 || fullHeight < 1 || !(scaleFactor > 0))
        return false;
    double sigma = std::sqrt(std::min(fullWidth, fullHeight) / 600.0 * scaleFactor);
    if (sigma < 1) {
        detailScale = sigma;
        sigma = 1;
    } else {
        detailScale = 1;
    }
    // The detail plane is worked on as unsigned brightness first and then overwritten by the signed
    // detail (the two types may alias).
    uint16_t* plane = reinterpret_cast<uint16_t*>(target);
    const int64_t count = int64_t(width) * height;
    parallelFor(count, [&](int, int64_t begin, int64_t end) {
        computeDetailPlane_threadParams_t p{begin, end, hdr, plane, scratch};
        detailPassA(p);
    });
    recursiveSmooth(plane, width, height, panorama, sigma);
    parallelFor(count, [&](int, int64_t begin, int64_t end) {
        computeDetailPlane_threadParams_t p{begin, end, hdr, plane, scratch};
        detailPassB(p);
    });
    return true;
}

} // namespace halvora
