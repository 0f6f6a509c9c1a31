#pragma once
// Colour adjustment: white-balance gains from Temperature and Tint, the Temperature and Tint that
// make a sampled colour neutral, and the hue- and brightness-selective saturation tables.
//
// Pure functions of their arguments, callable from any thread: the colour panels call them on the
// main thread, the preset-thumbnail renderer on its worker. Each table function fills only the
// record it is given.

#include "tonemap/selKneePoints.h"
#include "tonemap/tableStorage.h"

#include <array>
#include <vector>

namespace halvora {

/// Linear RGB of the illuminant of colour temperature `kelvin`, scaled so that its largest
/// component (red counted only when positive) is 1.
std::array<double, 3> illuminantColor(double kelvin);

/// Kelvin of a Temperature value (0 … 2, 1 = 6500 K; 0 → 3500 K, 2 → 15500 K), rounded down.
int temperatureKelvin(double temperature);

/// White-balance gains (R, G, B with B = 1) for Temperature and Tint (both 0 … 2, neutral 1;
/// values outside are clamped, NaN counts as 1).
std::array<double, 3> whiteBalanceGains(double temperature, double tint);

/// Recomputes tables.wbGain from Temperature and Tint.
void updateWbGain(toneMappingTables_t& tables, double temperature, double tint);

/// Colour of the white-balance swatch: (1/gR, 1/gG, 1/gB) divided by the largest (at least 0.01),
/// before any display colour transform.
std::array<double, 3> wbSwatchColor(const double wbGain[3]);

/// Temperature and Tint found for a sampled neutral colour.
struct whiteBalanceSetting_t {
    double temperature = 1.0;
    double tint = 1.0;
};

/// Temperature (by bisection on the blue/red ratio) and Tint (by a 0.01-step search) that turn the
/// sample (R, G, B) grey; (1, 1) when a component is zero, negative or not finite.
whiteBalanceSetting_t whiteBalanceFromSample(double red, double green, double blue);

/// Fills `table` (resized to 32641 entries) with selective-saturation offsets in −1 … 1 from the
/// knee points: cyclic for the hue table, with Gaussian tails to both ends otherwise. Points are
/// taken in order of x; x and y are clamped to 0 … 1 and sigma to 0.1 … 2.0, points with a
/// non-finite x are ignored. The last entry (value 1.0 exactly) repeats entry 0 for the cyclic
/// table and entry 32639 otherwise.
void generateSelectiveTable(std::vector<double>& table, const std::vector<selKneePoints_t>& points,
                            bool cyclic);

/// Regenerates the hue table (selectiveTable[0]) and sets hueSelectiveActive.
void updateHueSelectiveTable(toneMappingTables_t& tables, const std::vector<selKneePoints_t>& points);

/// Regenerates the brightness table (selectiveTable[1]) and sets brightnessSelectiveActive.
void updateBrightnessSelectiveTable(toneMappingTables_t& tables, const std::vector<selKneePoints_t>& points);

} // namespace halvora
