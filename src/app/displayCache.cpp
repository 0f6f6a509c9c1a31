#include "app/displayCache.h"

#include "base/parallelFor.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace halvora {

namespace {

uint8_t floatToByte(float v) {
    if (!(v > 0.0f)) // also NaN
        return 0;
    return uint8_t(std::min(255.0f, v * 255.0f));
}

} // namespace

bool displayCache::startLevel0(int width, int height) {
    levels_.clear();
    if (width <= 0 || height <= 0) return false;
    displayLevel first;
    first.width = width;
    first.height = height;
    try {
        first.rgb.resize(size_t(width) * size_t(height) * 3);
    } catch (const std::bad_alloc&) {
        return false;
    }
    levels_.push_back(std::move(first));
    return true;
}

void displayCache::setRgb8(const uint8_t* rgb, int width, int height, int stride) {
    if (!rgb || stride < width * 3 || !startLevel0(width, height)) return;
    displayLevel& l0 = levels_.front();
    const size_t rowBytes = size_t(width) * 3;
    parallelFor(height, [&](int, int64_t begin, int64_t end) {
        for (int64_t y = begin; y < end; ++y)
            std::memcpy(l0.rgb.data() + size_t(y) * rowBytes, rgb + size_t(y) * size_t(stride), rowBytes);
    });
    buildLevels();
}

void displayCache::setRgb16(const uint16_t* rgb, int width, int height) {
    if (!rgb || !startLevel0(width, height)) return;
    displayLevel& l0 = levels_.front();
    const size_t rowSamples = size_t(width) * 3;
    parallelFor(height, [&](int, int64_t begin, int64_t end) {
        for (int64_t y = begin; y < end; ++y) {
            const uint16_t* in = rgb + size_t(y) * rowSamples;
            uint8_t* out = l0.rgb.data() + size_t(y) * rowSamples;
            for (size_t i = 0; i < rowSamples; ++i)
                out[i] = uint8_t(std::min<int>(in[i] >> 7, 255));
        }
    });
    buildLevels();
}

void displayCache::setFloat(const float* rgb, int width, int height) {
    if (!rgb || !startLevel0(width, height)) return;
    displayLevel& l0 = levels_.front();
    const size_t rowSamples = size_t(width) * 3;
    parallelFor(height, [&](int, int64_t begin, int64_t end) {
        for (int64_t y = begin; y < end; ++y) {
            const float* in = rgb + size_t(y) * rowSamples;
            uint8_t* out = l0.rgb.data() + size_t(y) * rowSamples;
            for (size_t i = 0; i < rowSamples; ++i)
                out[i] = floatToByte(in[i]);
        }
    });
    buildLevels();
}

void displayCache::buildLevels() {
    while (int(levels_.size()) < kMaxLevels) {
        const displayLevel& above = levels_.back();
        const int w = above.width / 2, h = above.height / 2;
        if (w <= 0 || h <= 0) break;
        displayLevel next;
        next.width = w;
        next.height = h;
        try {
            next.rgb.resize(size_t(w) * size_t(h) * 3);
        } catch (const std::bad_alloc&) {
            break; // the coarser levels are a speed-up only; drawing falls back to the finer ones
        }
        parallelFor(h, [&](int, int64_t begin, int64_t end) {
            for (int64_t y = begin; y < end; ++y) {
                const uint8_t* r0 = above.row(int(2 * y));
                const uint8_t* r1 = above.row(int(2 * y + 1));
                uint8_t* out = next.rgb.data() + size_t(y) * size_t(w) * 3;
                for (int x = 0; x < w; ++x)
                    for (int c = 0; c < 3; ++c) {
                        const int i = 6 * x + c;
                        out[3 * x + c] = uint8_t((r0[i] + r0[i + 3] + r1[i] + r1[i + 3] + 2) >> 2);
                    }
            }
        });
        levels_.push_back(std::move(next));
    }
}

} // namespace halvora
