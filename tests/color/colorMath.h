#pragma once
// Reference colour science for the colour tests, written from the textbook definitions and kept
// apart from the code under test: chromaticities → XYZ matrices, the Bradford adaptation, CIELAB
// and ΔE, and the published transfer curves.

#include <array>
#include <cmath>

namespace colorMath {

using vec3 = std::array<double, 3>;
using mat3 = std::array<vec3, 3>; // rows

inline vec3 mul(const mat3& m, const vec3& v) {
    return {m[0][0] * v[0] + m[0][1] * v[1] + m[0][2] * v[2],
            m[1][0] * v[0] + m[1][1] * v[1] + m[1][2] * v[2],
            m[2][0] * v[0] + m[2][1] * v[1] + m[2][2] * v[2]};
}

inline mat3 mul(const mat3& a, const mat3& b) {
    mat3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
    return r;
}

/// Inverse through the adjugate.
inline mat3 inverse(const mat3& m) {
    const double a = m[0][0], b = m[0][1], c = m[0][2], d = m[1][0], e = m[1][1], f = m[1][2], g = m[2][0],
                 h = m[2][1], i = m[2][2];
    const double det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    return {vec3{(e * i - f * h) / det, (c * h - b * i) / det, (b * f - c * e) / det},
            vec3{(f * g - d * i) / det, (a * i - c * g) / det, (c * d - a * f) / det},
            vec3{(d * h - e * g) / det, (b * g - a * h) / det, (a * e - b * d) / det}};
}

/// XYZ of a chromaticity with luminance Y.
inline vec3 xyToXYZ(double x, double y, double Y = 1.0) {
    return {x / y * Y, Y, (1.0 - x - y) / y * Y};
}

inline void XYZtoXy(const vec3& XYZ, double& x, double& y) {
    const double s = XYZ[0] + XYZ[1] + XYZ[2];
    x = XYZ[0] / s;
    y = XYZ[1] / s;
}

/// The ICC connection-space white, D50 as ICC.1 gives it.
inline const vec3 kD50 = {0.9642, 1.0, 0.8249};

/// Linear RGB → XYZ for the primaries (x, y) and white (x, y): columns scaled so that RGB (1, 1, 1)
/// is the white with Y = 1.
inline mat3 rgbToXYZ(const double r[2], const double g[2], const double b[2], const double w[2]) {
    const vec3 R = xyToXYZ(r[0], r[1]), G = xyToXYZ(g[0], g[1]), B = xyToXYZ(b[0], b[1]);
    const mat3 P = {vec3{R[0], G[0], B[0]}, vec3{R[1], G[1], B[1]}, vec3{R[2], G[2], B[2]}};
    const vec3 S = mul(inverse(P), xyToXYZ(w[0], w[1]));
    mat3 M = P;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            M[i][j] *= S[j];
    return M;
}

/// Bradford chromatic adaptation from one white to another (XYZ with Y = 1).
inline mat3 bradford(const vec3& from, const vec3& to) {
    const mat3 B = {vec3{0.8951, 0.2664, -0.1614}, vec3{-0.7502, 1.7135, 0.0367},
                    vec3{0.0389, -0.0685, 1.0296}};
    const vec3 s = mul(B, from), d = mul(B, to);
    const mat3 D = {vec3{d[0] / s[0], 0, 0}, vec3{0, d[1] / s[1], 0}, vec3{0, 0, d[2] / s[2]}};
    return mul(inverse(B), mul(D, B));
}

/// CIELAB relative to `white`.
inline vec3 lab(const vec3& XYZ, const vec3& white = kD50) {
    auto f = [](double t) {
        return t > 216.0 / 24389.0 ? std::cbrt(t) : (24389.0 / 27.0 * t + 16.0) / 116.0;
    };
    const double fx = f(XYZ[0] / white[0]), fy = f(XYZ[1] / white[1]), fz = f(XYZ[2] / white[2]);
    return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

/// CIE 1976 colour difference.
inline double deltaE(const vec3& a, const vec3& b) {
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                     (a[2] - b[2]) * (a[2] - b[2]));
}

// Published transfer curves, encoded value → linear value, and back.
inline double srgbDecode(double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
inline double srgbEncode(double l) {
    return l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1.0 / 2.4) - 0.055;
}
inline double adobeDecode(double v) {
    return std::pow(v, 563.0 / 256.0);
}
inline double rommDecode(double v) {
    return v < 1.0 / 32.0 ? v / 16.0 : std::pow(v, 1.8);
}

} // namespace colorMath
