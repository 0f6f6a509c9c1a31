#include "tonemap/toneCurvePresets.h"

namespace halvora {

std::vector<curvePoint_t> toneCurvePreset(int p) {
    // Knee points between the fixed ends (0, 0) and (1, 1).
    static const std::vector<curvePoint_t> inner[kToneCurvePresetCount] = {
        // Whole range
        {{0.201, 0.103}, {0.853, 0.946}},
        {{0.152, 0.109}, {0.886, 0.929}},
        {{0.098, 0.158}, {0.94, 0.902}},
        {{0.098, 0.125}, {0.929, 0.908}},
        // Shadows
        {{0.141, 0.043}, {0.293, 0.174}, {0.505, 0.457}},
        {{0.141, 0.082}, {0.288, 0.228}, {0.511, 0.495}},
        {{0.071, 0.125}, {0.239, 0.31}, {0.478, 0.505}},
        {{0.071, 0.141}, {0.25, 0.348}, {0.505, 0.543}},
        // Highlights
        {{0.505, 0.56}, {0.679, 0.81}, {0.815, 0.94}},
        {{0.467, 0.484}, {0.755, 0.821}, {0.88, 0.935}},
        {{0.478, 0.446}, {0.783, 0.707}, {0.94, 0.902}},
        {{0.538, 0.495}, {0.848, 0.728}, {0.951, 0.88}},
    };
    if (p < 0 || p >= kToneCurvePresetCount) return {};
    std::vector<curvePoint_t> points{{0, 0}};
    points.insert(points.end(), inner[p].begin(), inner[p].end());
    points.push_back({1, 1});
    return points;
}

} // namespace halvora
