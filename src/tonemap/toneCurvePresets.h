#pragma once
// The tone-curve editor's presets: three ranges ("Whole range", "Shadows", "Highlights"), each with
// four contrast steps ("++", "+", "-", "--"). Any thread.

#include "tonemap/toneMappingSettings.h"

#include <vector>

namespace halvora {

inline constexpr int kToneCurvePresetCount = 12;

/// Knee points of preset `p` = 4 × range + step (range 0 whole, 1 shadows, 2 highlights; step 0 "++",
/// 1 "+", 2 "-", 3 "--"); empty for any other `p`.
std::vector<curvePoint_t> toneCurvePreset(int p);

} // namespace halvora
