#pragma once
// Inline log2 / exp2 / pow / exp for the per-pixel tone mapping. The library's pow took a quarter of
// a tone-mapping pass. These cover only what the tone mapping needs (positive arguments, results in
// the normal double range), use 256-entry tables so that short polynomials suffice, and evaluate the
// polynomials in a split form so that the multiplications overlap. They stay within a few units in
// the last place of the library's results, far below anything that can move an output code.
// Any thread may call them.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace halvora::fastPow {

constexpr int kTableBits = 8;
constexpr int kTableSize = 1 << kTableBits;

/// 2^(i / 256), and for the log2 intervals [1 + i / 256, 1 + (i + 1) / 256): 1 / c of their left
/// end c (rounded) and log2 of that rounded reciprocal, negated.
struct tables_t {
    double exp2[kTableSize];
    double invC[kTableSize];
    double log2C[kTableSize];
};
extern const tables_t kTables;

/// log2(x) for x > 0 (absolute error below 3e-16); −inf for x ≤ 0, NaN for NaN.
inline double log2(double x) {
    if (!(x > 0.0)) return x == x ? -__builtin_inf() : x;
    uint64_t bits = std::bit_cast<uint64_t>(x);
    int64_t k = 0;
    if (bits < (uint64_t(1) << 52)) { // subnormal: bring into the normal range
        bits = std::bit_cast<uint64_t>(x * 4503599627370496.0);
        k = -52;
    }
    k += int64_t(bits >> 52) - 1023;
    const int i = int((bits >> (52 - kTableBits)) & (kTableSize - 1));
    const double m = std::bit_cast<double>((bits & 0x000fffffffffffffull) | 0x3ff0000000000000ull);
    const double r = m * kTables.invC[i] - 1.0; // 0 ≤ r < 1/256
    // ln(1 + r) to degree 6 (the first omitted term is below 3e-18), in two halves joined by r^4.
    const double r2 = r * r;
    const double low = r + r2 * (-0.5 + r * (1.0 / 3));
    const double high = (-0.25 + r * 0.2) + r2 * (-1.0 / 6);
    const double ln1p = low + (r2 * r2) * high;
    return double(k) + (kTables.log2C[i] + ln1p * 1.4426950408889634);
}

/// 2^t (relative error below 3e-16); 0 for t ≤ −1022 and for NaN, +inf for t ≥ 1024.
inline double exp2(double t) {
    if (!(t > -1022.0)) return 0.0;
    if (t >= 1024.0) return __builtin_inf();
    constexpr double shift = 6755399441055744.0; // 1.5 × 2^52: adding it rounds to an integer
    const double kd = t * kTableSize + shift;
    const int64_t n = int64_t(std::bit_cast<uint64_t>(kd) - std::bit_cast<uint64_t>(shift));
    const double u = (t * kTableSize - (kd - shift)) * (0.6931471805599453 / kTableSize); // |u| < 0.00136
    // e^u to degree 4 (the first omitted term is below 4e-17).
    const double u2 = u * u;
    const double e = (1.0 + u) + u2 * ((0.5 + u * (1.0 / 6)) + u2 * (1.0 / 24));
    const int64_t k = n >> kTableBits; // floor division: n ≥ −1022 × 256, so k ≥ −1022
    const double scale = std::bit_cast<double>(uint64_t(k + 1023) << 52);
    return kTables.exp2[n & (kTableSize - 1)] * e * scale;
}

/// x^y for x ≥ 0 and y > 0: 0 for x ≤ 0 or NaN, exactly 1 for x = 1.
inline double pow(double x, double y) {
    if (!(x > 0.0)) return 0.0;
    return exp2(y * log2(x));
}

/// int(min(1, x^y) × scale) exactly as with the library's pow, for finite x > 0, 0 < y < 64 and
/// scale ≥ 1 (other arguments go to the library's pow). The fast pow decides wherever its product
/// lies further than its error bound (far below 1e-12 relative) from an integer; next to one, which
/// happens for few pixels in a million, the library's pow does.
inline int scaledPowFloor(double x, double y, double scale) {
    if (x > 0.0 && x < __builtin_inf() && y > 0.0 && y < 64.0 && scale >= 1.0) {
        const double s = std::min(1.0, pow(x, y)) * scale;
        const double fraction = s - std::floor(s);
        const double margin = s * 1e-12;
        if (fraction > margin && 1.0 - fraction > margin) return int(s);
    }
    return int(std::min(1.0, std::pow(x, y)) * scale);
}

/// e^x; 0 for x = −inf and for NaN.
inline double exp(double x) {
    return exp2(x * 1.4426950408889634);
}

} // namespace halvora::fastPow
