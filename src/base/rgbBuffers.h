#pragma once
// Pixel buffers shared by every part of the program.
//
// rgb16Buffer: width × height × 3 uint16, interleaved R, G, B, rows top to bottom, no padding.
// Full scale is 32640 (255 × 128): an 8-bit sample v is stored as v × 128, 16-bit samples are
// halved and clamped to 32640, and 8-bit output is the sample shifted right by 7.
// rgbFloatBuffer: width × height × 3 float32, linear radiance (0 … 1 after the HDR preprocess).

#include "base/hugePageBlock.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>

namespace halvora {

inline constexpr int kFullScale = 32640;
/// Dividing by 32640 is written as a multiplication by this constant.
inline constexpr double kInvFullScale = 3.0637254902e-5;
/// Entries of a table indexed by a working-scale sample (0 … 32639).
inline constexpr int kSampleTableSize = 32640;
/// Entries of a table indexed by a 0 … 1 value.
inline constexpr int kUnitTableSize = 32641;

/// Uninitialised heap block of `count` elements, or null when the memory cannot be had.
template <class T> std::unique_ptr<T[]> allocateBlock(size_t count) {
    if (count == 0 || count > std::numeric_limits<size_t>::max() / sizeof(T) / 2) return nullptr;
    std::unique_ptr<T[]> block(new (std::nothrow) T[count]);
    // Picture-sized blocks are first written by the pixel loops: backed by 2 MiB pages they cost a
    // few hundred page faults instead of hundreds of thousands (expensive on a virtual machine).
    if (block) adviseHugePages(block.get(), count * sizeof(T));
    return block;
}

/// Element count of a w × h × channels picture, or 0 when the size is impossible.
inline size_t pictureElements(int64_t w, int64_t h, int64_t channels) {
    if (w <= 0 || h <= 0 || channels <= 0 || w > (1 << 20) || h > (1 << 20)) return 0;
    return static_cast<size_t>(w * h * channels);
}

/// An owned interleaved RGB picture.
template <class T> struct rgbBuffer {
    int width = 0;
    int height = 0;
    std::unique_ptr<T[]> data;

    /// Reserves an uninitialised w × h picture; false (and empty) when impossible or out of memory.
    bool allocate(int w, int h) {
        release();
        data = allocateBlock<T>(pictureElements(w, h, 3));
        if (!data) return false;
        width = w;
        height = h;
        return true;
    }
    void release() {
        data.reset();
        width = height = 0;
    }
    bool empty() const { return !data; }
    size_t pixelCount() const { return size_t(width) * size_t(height); }
    size_t sampleCount() const { return pixelCount() * 3; }
    size_t byteSize() const { return sampleCount() * sizeof(T); }
    T* pixels() { return data.get(); }
    const T* pixels() const { return data.get(); }
};

using rgb16Buffer = rgbBuffer<uint16_t>;
using rgbFloatBuffer = rgbBuffer<float>;

} // namespace halvora
