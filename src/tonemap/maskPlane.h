#pragma once
// The mask plane of the local tone-mapping operator: luminance^(2/3) on the 0 … 32640 scale,
// smoothed by an edge-preserving (bilateral) filter, one pass along rows and one along columns.
//
// Runs on the preparation worker's thread; the passes are split over the thread pool
// (halvora::parallelFor). Results do not depend on the number of threads.

#include <cstdint>
#include <vector>

namespace halvora {

struct powHdrLum_threadParams_t {
    int64_t firstPixel = 0;
    int64_t endPixel = 0;
    double exponent = 2.0 / 3.0;
    const float* hdr = nullptr; ///< interleaved R, G, B radiance
    uint16_t* target = nullptr; ///< 0 … 32640
};
/// ⌊min(1, (0.3086R + 0.6094G + 0.082B)^exponent) × 32640⌋ per pixel; NaN and negative luminance
/// give 0, +Inf gives 32640.
void powHdrLum(const powHdrLum_threadParams_t& p);

/// Weights of the bilateral filter: spatial σ = 10 pixels (normalised, cut where a weight drops
/// below 0.005) and range σ = 0.2 of full scale, indexed by ⌊d² / 32640⌋.
struct bilateralTables_t {
    std::vector<double> spatial; ///< 64 entries
    int radius = 64;
    std::vector<double> range; ///< 32641 entries
    /// range[⌊d² / 32640⌋] indexed by |d| = 0 … 32640 directly (the passes' inner loops use this).
    std::vector<double> rangeByDifference;
};
/// Fills the tables; the same values on every call.
void bilateralMaskTables(bilateralTables_t& t);

struct bilateralPass_threadParams_t {
    int direction = 0; ///< 0 along rows, 1 along columns
    const uint16_t* source = nullptr;
    uint16_t* target = nullptr;
    int width = 0;
    int height = 0;
    int first = 0; ///< first row (direction 0) or column (direction 1)
    int end = 0;   ///< exclusive
    double blend = 1.0;
    const double* spatial = nullptr;
    int radius = 0;
    const double* range = nullptr;
    const double* rangeByDifference = nullptr; ///< same weights indexed by |d|
};
/// One bilateral pass over its rows or columns (source and target must differ). Adds 1 to the
/// progress counter per finished row or column; false when the run was cancelled.
bool bilateralPass(const bilateralPass_threadParams_t& p);

/// Whole mask plane: powHdrLum into `mask`, rows into `scratch`, columns back into `mask`.
/// `scratch` holds width × height values. False when cancelled.
bool computeMaskPlane(const float* hdr, int width, int height, uint16_t* mask, uint16_t* scratch);

} // namespace halvora
