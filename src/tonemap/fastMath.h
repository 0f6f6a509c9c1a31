#pragma once
// Fast power function for the pixel loops, accurate to far below one step of the 16-bit output
// (relative error about 1e-13 on 0 … 1; tests/tonemap check the bound). Thread-safe, no tables.

#include <cstdint>
#include <cstring>

namespace halvora {

/// log2(x) for a finite x > 0 (normal numbers).
inline double fastLog2(double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    int exponent = int((bits >> 52) & 0x7ff) - 1023;
    bits = (bits & 0x000fffffffffffffull) | 0x3ff0000000000000ull;
    double m;
    std::memcpy(&m, &bits, sizeof m);
    if (m > 1.4142135623730951) {
        m *= 0.5;
        ++exponent;
    }
    // ln m = 2 artanh t with t = (m − 1) / (m + 1), |t| ≤ 0.1716.
    const double t = (m - 1.0) / (m + 1.0);
    const double t2 = t * t;
    const double series =
        1.0 +
        t2 * (1.0 / 3 + t2 * (1.0 / 5 + t2 * (1.0 / 7 + t2 * (1.0 / 9 + t2 * (1.0 / 11 + t2 * (1.0 / 13))))));
    return double(exponent) + 2.0 * t * series * 1.4426950408889634;
}

/// 2^y; 0 below −1020 and the largest power of two handled above 1020.
inline double fastExp2(double y) {
    if (!(y > -1020.0))
        return 0.0;
    if (y > 1020.0)
        y = 1020.0;
    const double k = double(int64_t(y + 1024.5) - 1024); // nearest integer
    const double z = (y - k) * 0.6931471805599453;       // |z| ≤ 0.347
    double p = 1.0 / 39916800.0;
    p = p * z + 1.0 / 3628800.0;
    p = p * z + 1.0 / 362880.0;
    p = p * z + 1.0 / 40320.0;
    p = p * z + 1.0 / 5040.0;
    p = p * z + 1.0 / 720.0;
    p = p * z + 1.0 / 120.0;
    p = p * z + 1.0 / 24.0;
    p = p * z + 1.0 / 6.0;
    p = p * z + 0.5;
    p = p * z + 1.0;
    p = p * z + 1.0;
    const uint64_t scaleBits = uint64_t(int64_t(k) + 1023) << 52;
    double scale;
    std::memcpy(&scale, &scaleBits, sizeof scale);
    return p * scale;
}

/// x^e for x ≥ 0 and a finite e > 0 (x = 0 and tiny x give 0; NaN gives 0).
inline double fastPow(double x, double e) {
    if (!(x > 1e-300))
        return 0.0;
    return fastExp2(e * fastLog2(x));
}

inline float fastPow(float x, float e) { return float(fastPow(double(x), double(e))); }

} // namespace halvora
