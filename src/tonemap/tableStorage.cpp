#include "tonemap/tableStorage.h"

#include "base/rgbBuffers.h"

#include <algorithm>
#include <cstdint>
#include <new>

bool toneMappingTables_t::allocate() {
    try {
        for (auto& t : curveTable)
            t.assign(halvora::kUnitTableSize, 0);
        for (auto& t : histogram)
            t.assign(kHistogramSize, 0);
        for (auto& t : cumHistogram)
            t.assign(kHistogramSize, 0.0);
        for (auto& t : outputLUT)
            t.assign(halvora::kUnitTableSize, 0.0);
        for (auto& t : selectiveTable)
            t.assign(halvora::kUnitTableSize, 0.0);
        // 16 MiB, read at scattered places by the per-pixel loop: the block is advised for 2 MiB
        // pages (they spare the TLB) and stays unwritten, costing nothing, until the table is built.
        tmTable.assignZero(size_t(kTmTableSide) * kTmTableSide);
        tmTableStrength = -1;
    } catch (const std::bad_alloc&) {
        release();
        return false;
    }
    return true;
}

void toneMappingTables_t::release() {
    for (auto& t : curveTable)
        std::vector<uint16_t>().swap(t);
    for (auto& t : histogram)
        std::vector<uint32_t>().swap(t);
    for (auto& t : cumHistogram)
        std::vector<double>().swap(t);
    for (auto& t : outputLUT)
        std::vector<double>().swap(t);
    for (auto& t : selectiveTable)
        std::vector<double>().swap(t);
    tmTable.release();
    tmTableStrength = -1;
}

void toneMappingTables_t::clearHistograms() {
    for (auto& t : histogram)
        std::fill(t.begin(), t.end(), 0u);
    for (auto& t : cumHistogram)
        std::fill(t.begin(), t.end(), 0.0);
}
