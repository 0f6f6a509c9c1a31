#pragma once
// A sampled colour as the picture views hand it to the tools: red, green and blue on 0 … 1 (the
// radiance picture's own values when sampled from it), and a fourth value that only the black- and
// white-point samples use: the pixel's luminance 0.3086 R + 0.6094 G + 0.082 B. Plain value; any thread.

#include <QMetaType>

struct rgbDouble_t {
    double r = 0.0;
    double g = 0.0;
    double b = 0.0;
    double l = 0.0;
};

Q_DECLARE_METATYPE(rgbDouble_t)

namespace halvora {

/// The sample of (r, g, b) with its luminance filled in.
inline rgbDouble_t sampleOf(double r, double g, double b) {
    return rgbDouble_t{r, g, b, 0.3086 * r + 0.6094 * g + 0.082 * b};
}

} // namespace halvora
