#pragma once
// Manual white balance of a RAW photo from a grey area picked on its converted preview: the
// multipliers act on the camera's channels before its colour matrix and the output curve, so the
// picked colour is taken back through both before the multipliers are corrected. A sensor of four
// colours cannot be solved that way (three output values for four channels); its picked area is
// measured on the sensor instead and the multipliers follow from those values directly. Pure
// functions; any thread.

#include <QStringList>
#include <cstdint>

namespace halvora {

/// The converter's output curve: a power with a linear toe, continuous in value and slope
/// (BT.709's 0.45 and 4.5 unless "-g" names others).
struct rawOutputCurve_t {
    double power = 0.45; ///< exponent of the power segment
    double slope = 4.5;  ///< slope of the linear toe; 0 for a pure power
};

/// The curve a converter argument list (buildDcrawArgs) encodes with.
rawOutputCurve_t outputCurveOf(const QStringList& args);

/// An encoded value 0 … 1 of `curve` back to linear light 0 … 1.
double rawCurveToLinear(double encoded, const rawOutputCurve_t& curve);

/// Mean linear R, G, B of the (2 × radius + 1)² square around (x, y) of an 8-bit R, G, B picture
/// (rows `stride` bytes apart), clipped to the picture. False when the square holds no pixel or a
/// channel is black or clipped at 255 somewhere (such an area says nothing about the light).
bool meanLinearColor(const uint8_t* rgb, int width, int height, int stride, int x, int y, int radius,
                     const rawOutputCurve_t& curve, double mean[3]);

/// Multipliers R, G, B, G2 that turn an area whose mean linear output colour is `mean` under the
/// multipliers `current` grey; green and G2 keep their values. False (result untouched) when the
/// matrix cannot be inverted or the area has no positive camera colour.
bool greyMultipliers(const double mean[3], const double current[4], const double cameraToRgb[3][3],
                     double result[4]);

/// Multipliers that make an area grey whose mean sensor values (black subtracted, before the
/// multipliers) are `means`, measured on the sensor itself (rawAreaChannelMeans): every one of the
/// `colors` channels (3 or 4) is brought to the level of the second, which keeps its multiplier
/// `current[1]`; equal sensor channels are grey through any of the camera's matrices. With 3 colours
/// the fourth (G2) keeps `current[3]`. False (result untouched) when a mean or `current[1]` is not
/// positive.
bool sensorGreyMultipliers(const double means[4], int colors, const double current[4], double result[4]);

} // namespace halvora
