#pragma once
// Table builders of the tone mapping: tone curves, the per-channel output tables (curve then gamma)
// and the local tone-mapping ("Mask") table. Each builder that is split over threads waits for them;
// call them from the thread that owns the settings record while no tone mapping reads it.

#include "tonemap/toneMappingSettings.h"

#include <vector>

namespace halvora {

/// Fills out[0 … n−1] with the curve through `points` at x_j = j / (n − 1): a natural cubic spline
/// (type 0) or straight segments (type 1), clamped to 0 … 1; any other type leaves `out` as it is.
/// Points are taken as ordered by x; at most curveSettings_t::kMaxKneePoints are used.
void evaluateCurve(double* out, int n, const std::vector<curvePoint_t>& points, int type);

/// Rebuilds curveTable[index] (0 master, 1 … 3 R, G, B) from the settings' curve:
/// entry j = ⌊curve(j / 32639) × 32639 + 0.5⌋ for j = 0 … 32639.
void generateCurveTable(toneMappingSettings_t& settings, int index);

/// Rebuilds the output table of `channel` (0 R, 1 G, 2 B): master curve, channel curve, then the
/// exponent 1 / Gamma, 32641 entries. Channel −1 fills every channel's table with the plain gamma.
void generateLUT(toneMappingSettings_t& settings, int channel);

/// Rebuilds the 2048 × 2048 local tone-mapping table for the settings' Mask strength.
void generateTMtable(toneMappingSettings_t& settings);

} // namespace halvora
