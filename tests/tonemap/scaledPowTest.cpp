// The quantised power the mask and local-contrast planes start from must give exactly the library's
// codes: checked right at every code boundary, where a fast pow's last-place error would show, and
// over the whole input range.

#include "tonemap/fastPow.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

int libraryCode(double x, double y, double scale) {
    return int(std::min(1.0, std::pow(x, y)) * scale);
}

} // namespace

TEST(scaledPowFloor, equalsTheLibraryAtEveryCodeBoundary) {
    constexpr double scale = 32640.0;
    // The mask's 2/3, the local-contrast exponents of lcCorrection 0.6 … 1.3, and the extremes allowed.
    for (double y : {2.0 / 3.0, 0.9 * 0.6 * 0.6, 0.75 * 0.85, 0.75 * 1.3, 3.0, 0.01, 63.0}) {
        SCOPED_TRACE(y);
        int mismatches = 0;
        for (int q = 1; q <= 32640; ++q) {
            // The input whose power is q / scale, and its neighbours a few units in the last place away.
            double x = std::pow(q / scale, 1.0 / y);
            for (int step = 0; step < 3; ++step)
                x = std::nextafter(x, 0.0);
            for (int step = 0; step < 7; ++step, x = std::nextafter(x, 2.0))
                if (x > 0.0 && halvora::fastPow::scaledPowFloor(x, y, scale) != libraryCode(x, y, scale))
                    ++mismatches;
        }
        EXPECT_EQ(mismatches, 0);
    }
}

TEST(scaledPowFloor, equalsTheLibraryOverTheInputRange) {
    std::mt19937_64 random(12345);
    std::uniform_real_distribution<double> exponent(-60.0, 2.0), power(0.01, 5.0);
    int mismatches = 0;
    for (int i = 0; i < 200000; ++i) {
        const double x = std::exp2(exponent(random)), y = power(random);
        for (double scale : {32640.0, 2040.0})
            if (halvora::fastPow::scaledPowFloor(x, y, scale) != libraryCode(x, y, scale)) ++mismatches;
    }
    EXPECT_EQ(mismatches, 0);
    // Subnormal and huge inputs, and exponents outside the fast range, keep the library's answer.
    const double odd[][2] = {{4.9e-324, 0.5}, {1e-310, 2.0 / 3.0}, {1e300, 0.75},  {0.5, 1e300},
                             {0.5, 0.0},      {0.5, -1.0},         {0.0, 0.75},    {0.0, NAN},
                             {0.5, NAN},      {1.0, 64.5},         {INFINITY, 0.5}};
    for (const auto& c : odd) {
        SCOPED_TRACE(c[0]);
        EXPECT_EQ(halvora::fastPow::scaledPowFloor(c[0], c[1], 32640.0), libraryCode(c[0], c[1], 32640.0));
    }
}
