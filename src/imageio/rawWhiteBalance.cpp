#include "imageio/rawWhiteBalance.h"

#include <algorithm>
#include <cmath>

namespace halvora {

namespace {

/// Threshold t and offset a of y = s·x below t, y = (1 + a)·x^p − a above, where the two pieces meet
/// with equal value and slope: a = s·t·(1/p − 1) and 1 + a = s·t^(1−p)/p, solved for t by bisection.
void curvePieces(const rawOutputCurve_t& curve, double& t, double& a) {
    const double p = curve.power, s = curve.slope;
    t = 0;
    a = 0;
    if (s <= 0 || p <= 0 || p >= 1) return;
    double lo = 0, hi = 1;
    for (int i = 0; i < 100; ++i) {
        const double mid = 0.5 * (lo + hi);
        // Positive while the toe is too short for the slope condition.
        const double g = s * std::pow(mid, 1 - p) / p - 1 - s * mid * (1 / p - 1);
        (g < 0 ? lo : hi) = mid;
    }
    t = 0.5 * (lo + hi);
    a = s * t * (1 / p - 1);
}

} // namespace

rawOutputCurve_t outputCurveOf(const QStringList& args) {
    rawOutputCurve_t curve;
    const qsizetype at = args.indexOf("-g");
    if (at < 0 || at + 2 >= args.size()) return curve;
    bool okPower = false, okSlope = false;
    const double power = args[at + 1].toDouble(&okPower), slope = args[at + 2].toDouble(&okSlope);
    if (okPower && okSlope && power > 0 && slope >= 0) {
        curve.power = 1.0 / power;
        curve.slope = slope;
    }
    return curve;
}

double rawCurveToLinear(double encoded, const rawOutputCurve_t& curve) {
    encoded = std::clamp(encoded, 0.0, 1.0);
    if (curve.power <= 0) return encoded;
    double t, a;
    curvePieces(curve, t, a);
    if (curve.slope > 0 && encoded < curve.slope * t) return encoded / curve.slope;
    return std::pow((encoded + a) / (1 + a), 1 / curve.power);
}

bool meanLinearColor(const uint8_t* rgb, int width, int height, int stride, int x, int y, int radius,
                     const rawOutputCurve_t& curve, double mean[3]) {
    if (!rgb || width <= 0 || height <= 0 || radius < 0) return false;
    double table[256];
    for (int v = 0; v < 256; ++v)
        table[v] = rawCurveToLinear(v / 255.0, curve);
    double sum[3] = {0, 0, 0};
    int64_t count = 0;
    for (int64_t yy = int64_t(y) - radius; yy <= int64_t(y) + radius; ++yy) {
        if (yy < 0 || yy >= height) continue;
        const uint8_t* row = rgb + size_t(yy) * size_t(stride);
        for (int64_t xx = int64_t(x) - radius; xx <= int64_t(x) + radius; ++xx) {
            if (xx < 0 || xx >= width) continue;
            for (int c = 0; c < 3; ++c) {
                const uint8_t v = row[size_t(xx) * 3 + size_t(c)];
                if (v == 0 || v == 255) return false;
                sum[c] += table[v];
            }
            ++count;
        }
    }
    if (count == 0) return false;
    for (int c = 0; c < 3; ++c)
        mean[c] = sum[c] / double(count);
    return true;
}

bool greyMultipliers(const double mean[3], const double current[4], const double cameraToRgb[3][3],
                     double result[4]) {
    const auto& m = cameraToRgb;
    // The inverse of the matrix by cofactors.
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (!std::isfinite(det) || std::abs(det) < 1e-12) return false;
    double inv[3][3];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
            inv[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
        }
    // The picked colour and grey, both as camera channels after the current multipliers.
    const double grey[3] = {1, 1, 1};
    double picked[3], target[3];
    for (int r = 0; r < 3; ++r) {
        picked[r] = inv[r][0] * mean[0] + inv[r][1] * mean[1] + inv[r][2] * mean[2];
        target[r] = inv[r][0] * grey[0] + inv[r][1] * grey[1] + inv[r][2] * grey[2];
    }
    for (int c = 0; c < 3; ++c)
        if (!(picked[c] > 0) || !(target[c] > 0) || !(current[c] > 0)) return false;
    const double green = target[1] / picked[1];
    result[0] = current[0] * target[0] / picked[0] / green;
    result[1] = current[1];
    result[2] = current[2] * target[2] / picked[2] / green;
    result[3] = current[3];
    return std::isfinite(result[0]) && std::isfinite(result[2]);
}

bool sensorGreyMultipliers(const double means[4], int colors, const double current[4], double result[4]) {
    if (colors < 3 || colors > 4 || !(current[1] > 0) || !std::isfinite(current[1])) return false;
    for (int c = 0; c < colors; ++c)
        if (!(means[c] > 0) || !std::isfinite(means[c])) return false;
    double out[4];
    for (int c = 0; c < colors; ++c)
        out[c] = current[1] * means[1] / means[c];
    if (colors == 3) out[3] = current[3];
    for (int c = 0; c < 4; ++c)
        if (!std::isfinite(out[c])) return false;
    std::copy(out, out + 4, result);
    return true;
}

} // namespace halvora
