#pragma once
// Colour difference of 8-bit sRGB pictures as a viewer sees it: CIE L*a*b* under the D65 white of
// sRGB and the CIEDE2000 difference. Pure functions; any thread.

#include <cstdint>
#include <vector>

namespace halvora::test {

struct labColor {
    double L = 0, a = 0, b = 0;
};

/// CIE L*a*b* (white D65, Y of white = 100) of an 8-bit sRGB colour.
labColor labFromSrgb8(uint8_t r, uint8_t g, uint8_t b);

/// CIEDE2000 difference of two colours with the reference conditions kL = kC = kH = 1.
double deltaE2000(const labColor& x, const labColor& y);

struct differenceSummary {
    double mean = 0, p99 = 0, maximum = 0;
};

/// Mean, 99th percentile and maximum of the per-pixel CIEDE2000 differences of two interleaved 8-bit
/// sRGB pictures of the same size (R, G, B per pixel).
differenceSummary compareSrgb8(const std::vector<uint8_t>& x, const std::vector<uint8_t>& y);

} // namespace halvora::test
