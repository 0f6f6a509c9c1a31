#pragma once
// The chromaticities of an RGB colour space: x and y of its red, green and blue primaries and of its
// white point. Radiance files declare them in their header (eight numbers in this order); the shipped
// profiles are generated from the published ones. Plain values, any thread.

#include <QString>

namespace halvora {

struct chromaticities_t {
    double redX = 0, redY = 0;
    double greenX = 0, greenY = 0;
    double blueX = 0, blueY = 0;
    double whiteX = 0, whiteY = 0;

    /// From eight values in the order red x, red y, green x, green y, blue x, blue y, white x, white y.
    static chromaticities_t fromArray(const double values[8]);
};

/// Why an RGB profile cannot be built from `c` ("the white point lies outside the triangle of the
/// primaries", …), or an empty string when it can: every point inside the chromaticity diagram's
/// unit triangle (x, y > 0, x + y ≤ 1), primaries spanning a real triangle and the white point strictly
/// inside it (so that every primary has a positive luminance).
QString chromaticitiesProblem(const chromaticities_t& c);

} // namespace halvora
