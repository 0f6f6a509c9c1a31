#pragma once
// One knee point of a selective-saturation curve.

/// x: position on the curve's axis (hue 0 … 360 degrees or brightness, as 0 … 1); y: strength
/// (0.5 neutral, higher gives more saturation); sigma: width of the point's influence (0.1 … 2.0).
struct selKneePoints_t {
    double x = 0;
    double y = 0.5;
    double sigma = 1.0;
};
