#include "imageio/imageTransform.h"

#include "base/parallelFor.h"
#include "base/rgbBuffers.h"

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

// Copies destination tiles [t0, t1) (rows of 64 × 64 tiles) from the source; a source pixel is
// `SrcStep` elements apart, its first element at p.src, and C elements are copied per pixel.
template <class T, int C, int SrcStep, int Mode>
void transformTiles(const transform_threadParams_t& p, int64_t t0, int64_t t1) {
    const T* src = static_cast<const T*>(p.src);
    T* dst = static_cast<T*>(p.dst);
    const size_t W = p.dstWidth, H = p.dstHeight;
    for (int64_t ty = t0; ty < t1; ++ty) {
        const size_t y0 = size_t(ty) * kTile, y1 = std::min(H, y0 + kTile);
        for (size_t x0 = 0; x0 < W; x0 += kTile) {
            const size_t x1 = std::min(W, x0 + kTile);
            for (size_t y = y0; y < y1; ++y) {
                T* out = dst + (y * W + x0) * C;
                // Along a destination row the source index moves by a fixed step.
                const ptrdiff_t step = (ptrdiff_t(sourceIndex<Mode>(x0 + 1, y, W, H, p)) -
                                        ptrdiff_t(sourceIndex<Mode>(x0, y, W, H, p))) *
                                       SrcStep;
                const T* in = src + sourceIndex<Mode>(x0, y, W, H, p) * SrcStep;
                for (size_t x = x0; x < x1; ++x, out += C, in += step)
                    for (int c = 0; c < C; ++c)
                        out[c] = in[c];
            }
        }
    }
}

template <class T, int C, int SrcStep, int Mode> void runTransform(const transform_threadParams_t& p) {
    parallelFor((p.dstHeight + kTile - 1) / kTile,
                [&](int, int64_t t0, int64_t t1) { transformTiles<T, C, SrcStep, Mode>(p, t0, t1); });
}

// Out-of-place transform into p.dst (the turns and the float channel extraction need one).
template <class T, int C, int SrcStep = C> void transformInto(const transform_threadParams_t& p, int mode) {
    switch (mode) {
    case turnCounterClockwise:
        runTransform<T, C, SrcStep, turnCounterClockwise>(p);
        break;
    case turn180:
        runTransform<T, C, SrcStep, turn180>(p);
        break;
    case turnClockwise:
        runTransform<T, C, SrcStep, turnClockwise>(p);
        break;
    case mirrorLeftRight:
        runTransform<T, C, SrcStep, mirrorLeftRight>(p);
        break;
    case mirrorTopBottom:
        runTransform<T, C, SrcStep, mirrorTopBottom>(p);
        break;
    default:
        runTransform<T, C, SrcStep, cropToRect>(p);
        break;
    }
}

template <class T, int C> inline void swapPixels(T* a, T* b) {
    for (int c = 0; c < C; ++c)
        std::swap(a[c], b[c]);
}

// Modes that keep every pixel's partner fixed are done by swapping in place: one pass, no scratch.
template <class T, int C> void transformBySwapping(T* pixels, int w, int h, int mode) {
    const size_t W = size_t(w), H = size_t(h);
    if (mode == turn180) {
        const size_t n = W * H;
        parallelFor(int64_t(n / 2), [&](int, int64_t i0, int64_t i1) {
            for (int64_t i = i0; i < i1; ++i)
                swapPixels<T, C>(pixels + size_t(i) * C, pixels + (n - 1 - size_t(i)) * C);
        });
    } else if (mode == mirrorLeftRight) {
        parallelFor(h, [&](int, int64_t y0, int64_t y1) {
            for (int64_t y = y0; y < y1; ++y) {
                T* row = pixels + size_t(y) * W * C;
                for (size_t x = 0; x < W / 2; ++x)
                    swapPixels<T, C>(row + x * C, row + (W - 1 - x) * C);
            }
        });
    } else { // mirrorTopBottom
        parallelFor(h / 2, [&](int, int64_t y0, int64_t y1) {
            for (int64_t y = y0; y < y1; ++y)
                std::swap_ranges(pixels + size_t(y) * W * C, pixels + size_t(y + 1) * W * C,
                                 pixels + (H - 1 - size_t(y)) * W * C);
        });
    }
}

// A crop moves every row towards the start: row by row in order, each row's source lies at or after
// its destination, so the moves never overwrite data still to be read.
template <class T, int C> void cropInPlace(T* pixels, int w, const cropRect& r) {
    const size_t W = size_t(r.right - r.left);
    for (int y = 0; y < r.bottom - r.top; ++y)
        std::memmove(pixels + size_t(y) * W * C,
                     pixels + (size_t(y + r.top) * size_t(w) + size_t(r.left)) * C, W * C * sizeof(T));
}

template <class T, int C>
bool transformInPlace(T* pixels, int w, int h, int mode, const cropRect& crop, T* scratch) {
    int W = 0, H = 0;
    if (!pixels || !transformedSize(mode, w, h, crop, W, H)) return false;
    if (mode == cropToRect) {
        cropInPlace<T, C>(pixels, w, crop);
        return true;
    }
    if (mode == turn180 || mode == mirrorLeftRight || mode == mirrorTopBottom) {
        transformBySwapping<T, C>(pixels, w, h, mode);
        return true;
    }
    const size_t count = size_t(W) * size_t(H) * C;
    std::unique_ptr<T[]> owned;
    if (!scratch) {
        owned = allocateBlock<T>(count);
        if (!owned) return false;
        scratch = owned.get();
    }
    transformInto<T, C>({pixels, scratch, w, W, H, crop.left, crop.top}, mode);
    parallelFor(int64_t(count), [&](int, int64_t i0, int64_t i1) {
        std::memcpy(pixels + i0, scratch + i0, size_t(i1 - i0) * sizeof(T));
    });
    return true;
}

} // namespace

bool transformedSize(int mode, int w, int h, const cropRect& crop, int& outWidth, int& outHeight) {
    if (w <= 0 || h <= 0) return false;
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
    if (!rgb || channel < 0 || channel > 2 || !transformedSize(mode, w, h, crop, W, H)) return false;
    const size_t dstCount = size_t(W) * size_t(H);
    // The channel is gathered straight from the interleaved picture into the transformed plane.
    auto turned = allocateBlock<float>(dstCount);
    if (!turned) return false;
    transformInto<float, 1, 3>({rgb + channel, turned.get(), w, W, H, crop.left, crop.top}, mode);
    parallelFor(int64_t(dstCount), [&](int, int64_t i0, int64_t i1) {
        for (int64_t i = i0; i < i1; ++i)
            rgb[size_t(i) * 3 + channel] = turned[i];
    });
    return true;
}

void downscaleRgb16(const uint16_t* src, int w, int h, int k, uint16_t* dst) {
    if (!src || !dst || w <= 0 || h <= 0 || k <= 0) return;
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
    if (!src || !dst || w <= 0 || h <= 0 || k <= 0) return;
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
                    out[ox * 3 + c] =
                        v >= kFullScale ? uint16_t(kFullScale) : (v > 0 ? uint16_t(v) : uint16_t(0));
                }
            }
        }
    });
}

QImage buildThumbnail(const uint16_t* preview, int pw, int ph, double& meanBrightness) {
    meanBrightness = 0;
    const int tw = pw / 4, th = ph / 4;
    if (!preview || tw <= 0 || th <= 0) return QImage();
    QImage thumb(tw, th, QImage::Format_RGB888);
    if (thumb.isNull()) return QImage();
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
