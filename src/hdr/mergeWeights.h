#pragma once
// Per-sample tables of the merge: the four "Selectivity" weight shapes of True HDR, the Smart Merge
// tents, the closeness-to-clipping tables and the limits derived from a weight table. Each table has
// 32640 float64 entries indexed by a working sample 0…32639. Pure functions; any thread.

#include <cstdint>
#include <vector>

namespace halvora {

enum selectivityShape : int {
    selectivityNone = 0,
    selectivityCutOff = 1,
    selectivityBalanced = 2,
    selectivityBestExposed = 3,
};

/// Fills `table` (32640 entries) with selectivity shape 0…3 and cut parameters p (lower half) and
/// q (upper half). False (table untouched) for another shape.
bool buildSelectivityTable(int shape, double p, double q, double* table);

/// Smart Merge tent of a photo with EV `ev` among included EVs from `evLow` to `evHigh`.
void buildSmartMergeTable(double ev, double evLow, double evHigh, double* table);
/// Centre of that tent (the sample value with weight 1).
int smartMergeCentre(double ev, double evLow, double evHigh);

/// First and last index with weight above 0 (0 and 32639 when none).
void weightLimits(const double* table, uint16_t& lowLimit, uint16_t& highLimit);

/// Fills the closeness-to-clipping tables: `bright` rises towards white (1 above 0.99), `dark`
/// towards black (1 below 0.01), 32640 entries each.
void buildClosenessTables(double* bright, double* dark);

} // namespace halvora
