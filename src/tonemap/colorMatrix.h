#pragma once
// The colour matrix of the per-pixel chain: global saturation and hue rotation in one 4 × 4 matrix,
// built once per pass. Pure; any thread.

namespace halvora {

/// Row-vector colour matrix: (R, G, B, 1) × m.
struct colorMatrix_t {
    float m[4][4];
};

/// Global saturation s (Haeberli, luminance weights 0.3086, 0.6094, 0.0820), then the
/// luminance-preserving hue rotation by `degrees`.
colorMatrix_t buildColorMatrix(double saturation, double degrees);

} // namespace halvora
