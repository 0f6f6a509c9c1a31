#include "imageio/imageTransform.h"

#include "app/parallelFor.h"
#include "imageio/rgbBuffers.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace halvora {
namespace {

// Tiles keep the turned modes cache-friendly: a 64 × 64 destination tile reads 64 short source runs.
constexpr int kTile = 64;

struct transform_threadParams_t {
    const void* src;
    void* dst;
    int srcWidth;
    int dstWidth, dstHeight;
    int left, top;
};

// Source pixel index of destination pixel (x, y) for each mode (W, H: destination size).
template <int Mode>
inline size_t sourceIndex(size_t x, size_t y, size_t W, size_t H, const transform_threadParams_t& p) {
    if constexpr (Mode == turnCounterClockwise)
        return (x + 1) * H - y - 1;
    else if constexpr (Mode == turn180)
        return (H - y) * W - x - 1;
    else if constexpr (Mode == turnClockwise)
        return (W - x - 1) * H + y;
    else if constexpr (Mode == mirrorLeftRight)
        return (y + 1) * W - x - 1;
    else if constexpr (Mode == mirrorTopBottom)
        return (H - y - 1) * W + x;
    else
        return (y + size_t(p.top)) * size_t(p.srcWidth) + x + size_t(p.left);
}

template <class T, int C, int Mode> void transformTiles(const transform_threadParams_t& p, int64_t t0, int64_t t1) {
    const T* src = static_cast<const T*>(p.src);
    T* dst = static_cast<T*>(p.dst);
    const size_t W = p.dstWidth, H = p.dstHeight;
    for (int64_t ty = t0; ty < t1; ++ty) {
        const size_t y0 = size_t(ty) * kTile, y1 = std::min(H, y0 + kTile);
        for (size_t x0 = 0; x0 < W; x0 += kTile) {
            const size_t x1 = std::min(W, x0 + kTile);
            for (size_t y = y0; y < y1; ++y) {
                T* out = dst + (y * W + x0) * C;
                for (size_t x = x0; x < x1; ++x, out += C) {
                    const T* in = src + sourceIndex<Mode>(x, y, W, H, p) * C;
                    for (int c = 0; c < C; ++c)
                        out[c] = in[c];
                }
            }
        }
    }
}

template <class T, int C, int Mode> void runTransform(const transform_threadParams_t& p) {
    parallelFor((p.dstHeight + kTile - 1) / kTile,
                [&](int, int64_t t0, int64_t t1) { transformTiles<T, C, Mode>(p, t0, t1); });
}

template <class T, int C> void transformInto(const transform_threadParams_t& p, int mode) {
    switch (mode) {
    case turnCounterClockwise: runTransform<T, C, turnCounterClockwise>(p); break;
    case turn180: runTransform<T, C, turn180>(p); break;
    case turnClockwise: runTransform<T, C, turnClockwise>(p); break;
    case mirrorLeftRight: runTransform<T, C, mirrorLeftRight>(p); break;
    case mirrorTopBottom: runTransform<T, C, mirrorTopBottom>(p); break;
    default: runTransform<T, C, cropToRect>(p); break;
    }
}

template <class T, int C>
bool transformInPlace(T* pixels, int w, int h, int mode, const cropRect& crop, T* scratch) {
    int W = 0, H = 0;
    if (!pixels || !transformedSize(mode, w, h, crop, W, H))
        return false;
    const size_t count = size_t(W) * size_t(H) * C;
    std::unique_ptr<T[]> owned;
    if (!scratch) {
        owned = allocateBlock<T>(count);
        if (!owned)
            return false;
        scratch = owned.get();
    }
    transformInto<T, C>({pixels, scratch, w, W, H, crop.left, crop.top}, mode);
    std::memcpy(pixels, scratch, count * sizeof(T));
    return true;
}

} // namespace

bool transformedSize(int mode, int w, int h, const cropRect& crop, int& outWidth, int& outHeight) {
    if (w <= 0 || h <= 0)
        return false;
    switch (mode) {
    case turnCounterClockwise:
    case turnClockwise:
        outWidth = h;
        outHeight = w;
        return true;
    case turn180:
    case mirrorLeftRight:
    case mirrorTopBottom:
        outWidth = w;
        outHeight = h;
        return true;
    case cropToRect:
        if (crop.left < 0 || crop.top < 0 || crop.right > w || crop.bottom > h || crop.right <= crop.left ||
            crop.bottom <= crop.top)
            return false;
        outWidth = crop.right - crop.left;
        outHeight = crop.bottom - crop.top;
        return true;
    default:
        return false;
    }
}

bool transformRgb16(uint16_t* pixels, int w, int h, int mode, const cropRect& crop, uint16_t* scratch) {
    return transformInPlace<uint16_t, 3>(pixels, w, h, mode, crop, scratch);
}

bool transformPlane16(uint16_t* plane, int w, int h, int mode, const cropRect& crop, uint16_t* scratch) {
    return transformInPlace<uint16_t, 1>(plane, w, h, mode, crop, scratch);
}

bool transformPlane8(uint8_t* plane, int w, int h, int mode, const cropRect& crop, uint8_t* scratch) {
    return transformInPlace<uint8_t, 1>(plane, w, h, mode, crop, scratch);
}

bool transformFloatChannel(float* rgb, int w, int h, int channel, int mode, const cropRect& crop) {
    int W = 0, H = 0;
    if (!rgb || channel < 0 || channel > 2 || !transformedSize(mode, w, h, crop, W, H))
        return false;
    const size_t srcCount = size_t(w) * size_t(h), dstCount = size_t(W) * size_t(H);
    auto plane = allocateBlock<float>(srcCount);
    auto turned = allocateBlock<float>(dstCount);
    if (!plane || !turned)
        return false;
    parallelFor(int64_t(srcCount), [&](int, int64_t i0, int64_t i1) {
        for (int64_t i = i0; i < i1; ++i)
            plane[i] = rgb[size_t(i) * 3 + channel];
    });
    transformInto<float, 1>({plane.get(), turned.get(), w, W, H, crop.left, crop.top}, mode);
    parallelFor(int64_t(dstCount), [&](int, int64_t i0, int64_t i1) {
        for (int64_t i = i0; i < i1; ++i)
            rgb[size_t(i) * 3 + channel] = turned[i];
    });
    return true;
}

void downscaleRgb16(const uint16_t* src, int w, int h, int k, uint16_t* dst) {
    if (!src || !dst || w <= 0 || h <= 0 || k <= 0)
        return;
    const int ow = downscaledSide(w, k), oh = downscaledSide(h, k);
    parallelFor(oh, [&](int, int64_t oy0, int64_t oy1) {
        std::vector<uint32_t> column(size_t(w) * 3); // vertical sums of one block row
        for (int64_t oy = oy0; oy < oy1; ++oy) {
            const int y0 = int(oy) * k, y1 = std::min(h, y0 + k);
            std::fill(column.begin(), column.end(), 0u);
            for (int y = y0; y < y1; ++y) {
                const uint16_t* row = src + size_t(y) * w * 3;
                for (size_t i = 0; i < size_t(w) * 3; ++i)
                    column[i] += row[i];
            }
            uint16_t* out = dst + size_t(oy) * ow * 3;
            for (int ox = 0; ox < ow; ++ox) {
                const int x0 = ox * k, x1 = std::min(w, x0 + k);
                const uint64_t count = uint64_t(x1 - x0) * uint64_t(y1 - y0);
                uint64_t sum[3] = {0, 0, 0};
                for (int x = x0; x < x1; ++x)
                    for (int c = 0; c < 3; ++c)
                        sum[c] += column[size_t(x) * 3 + c];
                for (int c = 0; c < 3; ++c)
                    out[ox * 3 + c] = uint16_t(std::min<uint64_t>(sum[c] / count, kFullScale));
            }
        }
    });
}

void downscaleFloat(const float* src, int w, int h, int k, double scale, uint16_t* dst) {
    if (!src || !dst || w <= 0 || h <= 0 || k <= 0)
        return;
    const int ow = downscaledSide(w, k), oh = downscaledSide(h, k);
    parallelFor(oh, [&](int, int64_t oy0, int64_t oy1) {
        std::vector<double> column(size_t(w) * 3);
        for (int64_t oy = oy0; oy < oy1; ++oy) {
            const int y0 = int(oy) * k, y1 = std::min(h, y0 + k);
            std::fill(column.begin(), column.end(), 0.0);
            for (int y = y0; y < y1; ++y) {
                const float* row = src + size_t(y) * w * 3;
                for (size_t i = 0; i < size_t(w) * 3; ++i)
                    column[i] += double(row[i]) * scale;
            }
            uint16_t* out = dst + size_t(oy) * ow * 3;
            for (int ox = 0; ox < ow; ++ox) {
                const int x0 = ox * k, x1 = std::min(w, x0 + k);
                const double count = double(x1 - x0) * double(y1 - y0);
                for (int c = 0; c < 3; ++c) {
                    double sum = 0;
                    for (int x = x0; x < x1; ++x)
                        sum += column[size_t(x) * 3 + c];
                    const double v = sum / count * kFullScale;
                    // NaN fails both comparisons and ends as 0.
                    out[ox * 3 + c] = v >= kFullScale ? uint16_t(kFullScale) : (v > 0 ? uint16_t(v) : uint16_t(0));
                }
            }
        }
    });
}

QImage buildThumbnail(const uint16_t* preview, int pw, int ph, double& meanBrightness) {
    meanBrightness = 0;
    const int tw = pw / 4, th = ph / 4;
    if (!preview || tw <= 0 || th <= 0)
        return QImage();
    QImage thumb(tw, th, QImage::Format_RGB888);
    if (thumb.isNull())
        return QImage();
    std::vector<double> rowBrightness(th, 0.0);
    parallelFor(th, [&](int, int64_t y0, int64_t y1) {
        for (int64_t y = y0; y < y1; ++y) {
            uchar* line = thumb.scanLine(int(y));
            double brightness = 0;
            for (int x = 0; x < tw; ++x) {
                uint32_t sum[3] = {0, 0, 0};
                for (int dy = 0; dy < 4; ++dy) {
                    const uint16_t* p = preview + (size_t(4 * y + dy) * pw + size_t(4 * x)) * 3;
                    for (int dx = 0; dx < 4; ++dx)
                        for (int c = 0; c < 3; ++c)
                            sum[c] += p[dx * 3 + c];
                }
                const uint32_t r = sum[0] / 16, g = sum[1] / 16, b = sum[2] / 16;
                line[x * 3 + 0] = uchar(std::min<uint32_t>(r >> 7, 255));
                line[x * 3 + 1] = uchar(std::min<uint32_t>(g >> 7, 255));
                line[x * 3 + 2] = uchar(std::min<uint32_t>(b >> 7, 255));
                brightness += double(r + g + b) / 3.0;
            }
            rowBrightness[size_t(y)] = brightness;
        }
    });
    double total = 0;
    for (double b : rowBrightness) // summed in row order so the result does not depend on threads
        total += b;
    meanBrightness = total / tw / th;
    return thumb;
}

} // namespace halvora
