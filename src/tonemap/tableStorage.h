#pragma once
// Storage of the derived tables a tone-mapping settings record carries: allocated once with the
// processing project, zero-initialised, filled by the table builders (tableBuilders.h,
// colorAdjustment.h) as rebuildOnChange.h decides, and read by the per-pixel chain.

#include "tonemap/zeroedTable.h"

#include <cstdint>
#include <vector>

struct toneMappingTables_t {
    static constexpr int kTmTableSide = 2048;
    static constexpr int kHistogramSize = 4096;

    std::vector<uint16_t> curveTable[4]; ///< master, R, G, B: curve value × 32639 (32641 entries)
    std::vector<uint32_t> histogram[4];  ///< luminance, R, G, B pixel counts (4096)
    std::vector<double> cumHistogram[4]; ///< average, R, G, B cumulative percentages (4096)
    std::vector<double> outputLUT[3];    ///< R, G, B: curve then gamma, 0 … 1 (32641)
    /// Local tone-mapping response, 2048 × 2048; zero pages until the table is first built. Floats:
    /// the per-pixel chain reads it at random, and at 16 MiB it stays in the cache far better than
    /// in doubles, while its rounding (below 1e-7) moves no 8-bit output value.
    halvora::zeroedTable<float> tmTable;
    std::vector<double> selectiveTable[2]; ///< hue, brightness saturation offsets (32641)
    double wbGain[3] = {1, 1, 1};
    bool hueSelectiveActive = false;
    bool brightnessSelectiveActive = false;
    double tmTableStrength = -1; ///< Mask strength tmTable was last built for (−1: never built)

    /// Allocates every table zero-filled; false (and nothing held) when memory is short.
    bool allocate();
    void release();
    bool allocated() const { return !tmTable.empty(); }
    /// Zeroes the 4096-entry histogram tables.
    void clearHistograms();
};
