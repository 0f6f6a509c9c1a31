#pragma once
// The picture a view shows, kept at full size plus successively halved levels, so that a zoomed-out
// redraw reads a level about the size of what it draws instead of the whole picture. Every level is
// 8-bit RGB: sources of 16 bits (working scale) and 32-bit floats are converted once when the cache
// is filled, with the drawing's own rule (16-bit samples shifted right by 7, floats × 255 capped at
// 255), so a redraw never converts.
//
// Filled and read on one thread at a time (the main thread); filling splits its rows over the pool.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace halvora {

/// One level: width × height pixels of R, G, B bytes, rows packed.
struct displayLevel {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* row(int y) const { return rgb.data() + size_t(y) * size_t(width) * 3; }
};

class displayCache {
public:
    static constexpr int kMaxLevels = 16;

    /// Fills level 0 from 8-bit RGB rows `stride` bytes apart and builds the halved levels.
    void setRgb8(const uint8_t* rgb, int width, int height, int stride);
    /// The same from R, G, B samples of the working scale (0 … 32640).
    void setRgb16(const uint16_t* rgb, int width, int height);
    /// The same from R, G, B floats (0 … 1 shown as 0 … 255; larger values as 255, NaN as 0).
    void setFloat(const float* rgb, int width, int height);
    /// Forgets the picture.
    void clear() { levels_.clear(); }

    bool empty() const { return levels_.empty(); }
    int levelCount() const { return int(levels_.size()); }
    const displayLevel& level(int i) const { return levels_[size_t(i)]; }
    int width() const { return empty() ? 0 : levels_.front().width; }
    int height() const { return empty() ? 0 : levels_.front().height; }

private:
    /// Allocates level 0 (false, cache emptied, for an empty or absurd size).
    bool startLevel0(int width, int height);
    /// Level k + 1 is (width ÷ 2) × (height ÷ 2) of level k, each pixel the rounded mean of its 2 × 2
    /// block; halving stops before a side would reach 0, or at kMaxLevels.
    void buildLevels();

    std::vector<displayLevel> levels_;
};

} // namespace halvora
