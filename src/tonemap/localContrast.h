#pragma once
// Local-contrast planes: the prepared 11-bit luminance plane and the local-rank filter that turns it
// into the fine, medium and coarse planes (soft share of darker neighbours, 0 … 32640).
//
// Everything here runs on the preparation worker's thread; the drivers split the work over the
// thread pool (halvora::parallelFor) and wait. Results do not depend on the number of threads.

#include <cstdint>

namespace halvora {

/// Largest value of the prepared plane (32640 >> 4) and the histogram's top bin.
inline constexpr int kPreparedMax = 2040;
inline constexpr int kLocalHistogramTop = 2048;

/// Window half-sizes of the three local-contrast planes for a picture of this size.
struct localContrastWindows_t {
    int fine = 0;
    int medium = 0;
    int coarse = 0;
};
/// k_fine, k_medium and k_coarse from min(width, height); all even, at least 8 / 10 / 10.
localContrastWindows_t localContrastWindowSizes(int width, int height);

/// Ramp widths for the values 0 … 2048 (constant-width variant for the fine plane).
void localContrastRampTable(bool constantWidth, int* table /* 2049 entries */);

struct localContrastPrepare_threadParams_t {
    int64_t firstPixel = 0;
    int64_t endPixel = 0;
    const float* hdr = nullptr; ///< interleaved R, G, B radiance
    uint16_t* target = nullptr; ///< prepared plane, 0 … 2040
    double lcCorrection = 1.0;
};
/// Prepared (compressed, 11-bit) luminance of one pixel range. Non-finite or negative luminance
/// reads as 0, +Inf as full scale.
void localContrastPrepare(const localContrastPrepare_threadParams_t& p);

struct localContrast_threadParams_t {
    int width = 0;
    int height = 0;
    int firstColumn = 0;              ///< even
    int endColumn = 0;                ///< exclusive
    const uint16_t* source = nullptr; ///< prepared plane
    uint16_t* target = nullptr;       ///< local-rank plane
    int k = 0;                        ///< window half-size (even)
    uint8_t panorama = 0;
    uint8_t constantWidth = 0;
    /// The prepared plane's even-row, even-column samples (⌈width/2⌉ × ⌈height/2⌉, values ≤ 2048),
    /// built once per pass by localContrastSampleGrid.
    const uint16_t* samples = nullptr;
};
/// The local-rank filter over the column range [firstColumn, endColumn), all rows. Adds 2 to the
/// progress counter per column pair; returns false when the run was cancelled.
bool localContrast(const localContrast_threadParams_t& p);

/// Samples of the filter window: the even-row, even-column values of `plane`, clamped to 2048.
void localContrastSampleGrid(const uint16_t* plane, int width, int height, uint16_t* grid);

/// Whole-picture drivers (threads split by pixels, resp. by column pairs). False when cancelled.
bool runLocalContrastPrepare(const float* hdr, int width, int height, double lcCorrection,
                             uint16_t* prepared);
/// `samples` is scratch of ⌈width/2⌉ × ⌈height/2⌉ values, filled here from `prepared`.
bool runLocalContrast(const uint16_t* prepared, int width, int height, int k, bool panorama,
                      bool constantWidth, uint16_t* samples, uint16_t* target);

} // namespace halvora
