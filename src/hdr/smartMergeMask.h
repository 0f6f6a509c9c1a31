#pragma once
// The Smart Merge brightness map of one photo: its luminance smoothed by a separable edge-preserving
// filter (a Gaussian in space times an exponential in the brightness difference), so that each photo's
// weight follows regions instead of single pixels. Runs on the HDR worker's thread; both passes are
// split with halvora::parallelFor (rows, then columns) and do not depend on the thread count.

#include <array>
#include <cstdint>
#include <vector>

namespace halvora {

/// Spatial and range weights of the filter for a w × h picture.
struct smartMergeKernel {
    double sigma = 0;
    int size = 0;                  ///< taps on each side
    std::array<float, 64> spatial; ///< normalised s(i), i = 0…63
    std::vector<float> range;      ///< r(j), j = 0…32640
};

/// σ = min(w, h) / 400 and the tables (logged as "sigma=…" and "p.tabSize=…").
smartMergeKernel makeSmartMergeKernel(int w, int h);

/// Mask luminance of one working pixel: (54 R + 183 G + 19 B) >> 8, at most 32639.
inline uint16_t smartMergeLuminance(const uint16_t* rgb) {
    const uint32_t l = (54u * rgb[0] + 183u * rgb[1] + 19u * rgb[2]) >> 8;
    return uint16_t(l >= 32640u ? 32639u : l);
}

/// Filters the w × h plane `mask` in place: along rows into `scratch` (same size), then along columns
/// back into `mask`.
void smartMergeFilter(uint16_t* mask, uint16_t* scratch, int w, int h, const smartMergeKernel& kernel);

} // namespace halvora
