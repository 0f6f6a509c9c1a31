#pragma once
// The colour controls' values in the units a photographer reads: kelvin for Temperature, the factor
// Tint puts on the green channel, degrees for Hue. Any thread.

#include <QString>

namespace halvora {

/// Factor by which Tint `tint` (0 … 2, neutral 1) multiplies the green channel: the illuminant's
/// green is scaled by (tint + 0.4) / 1.4, so its gain by the inverse (0 → 3.5, 1 → 1, 2 → 0.58).
double tintGreenFactor(double tint);

/// Hue rotation of Hue `hue` (0 … 2) in degrees: (hue − 1) × 180.
double hueDegrees(double hue);

/// "6500 K", "green ×1.00", "+36°": the texts the colour controls show beside their sliders.
QString temperatureText(double temperature);
QString tintText(double tint);
QString hueText(double hue);

} // namespace halvora

namespace halvora {

/// Position of a colour on a selective-saturation curve's axis, 0 … 1: its hue / 360 (as the
/// per-pixel step measures hue; grey gives 0) or its brightness max(R, G, B).
double selectiveAxisPosition(double r, double g, double b, bool hueAxis);

} // namespace halvora
