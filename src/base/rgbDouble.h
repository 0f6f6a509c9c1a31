#pragma once
// A colour sampled from the picture view, handed from the view to the window and the editors.

/// Channel values on the 0 … 1 scale: of the shown, tone-mapped result (its 8-bit value / 255) or
/// of the radiance picture (normalised radiance). `a` is a fourth value the black- and white-point
/// samples may carry; the other samples leave it 0.
struct rgbDouble_t {
    double r = 0;
    double g = 0;
    double b = 0;
    double a = 0;
};
