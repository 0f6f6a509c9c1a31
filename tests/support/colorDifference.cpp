#include "support/colorDifference.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace halvora::test {

namespace {

constexpr double degrees = 180.0 / std::numbers::pi;

double linearFromSrgb(uint8_t v) {
    const double c = v / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// The cube root with the linear segment near black that keeps L* finite in slope.
double labCurve(double t) {
    constexpr double e = 6.0 / 29.0;
    return t > e * e * e ? std::cbrt(t) : t / (3 * e * e) + 4.0 / 29.0;
}

double hueAngle(double b, double a) {
    if (a == 0 && b == 0) return 0;
    const double h = std::atan2(b, a) * degrees;
    return h < 0 ? h + 360 : h;
}

} // namespace

labColor labFromSrgb8(uint8_t r8, uint8_t g8, uint8_t b8) {
    const double r = linearFromSrgb(r8), g = linearFromSrgb(g8), b = linearFromSrgb(b8);
    // sRGB primaries to XYZ (IEC 61966-2-1), each row divided by the D65 white's value.
    const double x = (0.4124564 * r + 0.3575761 * g + 0.1804375 * b) / 0.95047;
    const double y = 0.2126729 * r + 0.7151522 * g + 0.0721750 * b;
    const double z = (0.0193339 * r + 0.1191920 * g + 0.9503041 * b) / 1.08883;
    const double fx = labCurve(x), fy = labCurve(y), fz = labCurve(z);
    return {116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)};
}

double deltaE2000(const labColor& x, const labColor& y) {
    const double pow25to7 = std::pow(25.0, 7);
    const double cMean = (std::hypot(x.a, x.b) + std::hypot(y.a, y.b)) / 2;
    const double g = 0.5 * (1 - std::sqrt(std::pow(cMean, 7) / (std::pow(cMean, 7) + pow25to7)));
    const double a1 = (1 + g) * x.a, a2 = (1 + g) * y.a;
    const double c1 = std::hypot(a1, x.b), c2 = std::hypot(a2, y.b);
    const double h1 = hueAngle(x.b, a1), h2 = hueAngle(y.b, a2);

    double dh = 0;
    if (c1 * c2 != 0) {
        dh = h2 - h1;
        if (dh > 180)
            dh -= 360;
        else if (dh < -180)
            dh += 360;
    }
    const double dL = y.L - x.L, dC = c2 - c1;
    const double dH = 2 * std::sqrt(c1 * c2) * std::sin(dh / 2 / degrees);

    const double lMean = (x.L + y.L) / 2, cMean2 = (c1 + c2) / 2;
    double hMean = h1 + h2;
    if (c1 * c2 != 0) {
        if (std::abs(h1 - h2) <= 180)
            hMean = (h1 + h2) / 2;
        else
            hMean = (h1 + h2 < 360 ? h1 + h2 + 360 : h1 + h2 - 360) / 2;
    }
    const double t = 1 - 0.17 * std::cos((hMean - 30) / degrees) + 0.24 * std::cos(2 * hMean / degrees) +
                     0.32 * std::cos((3 * hMean + 6) / degrees) - 0.20 * std::cos((4 * hMean - 63) / degrees);
    const double dTheta = 30 * std::exp(-std::pow((hMean - 275) / 25, 2));
    const double rC = 2 * std::sqrt(std::pow(cMean2, 7) / (std::pow(cMean2, 7) + pow25to7));
    const double sL = 1 + 0.015 * (lMean - 50) * (lMean - 50) / std::sqrt(20 + (lMean - 50) * (lMean - 50));
    const double sC = 1 + 0.045 * cMean2;
    const double sH = 1 + 0.015 * cMean2 * t;
    const double rT = -std::sin(2 * dTheta / degrees) * rC;
    const double l = dL / sL, c = dC / sC, h = dH / sH;
    return std::sqrt(l * l + c * c + h * h + rT * c * h);
}

differenceSummary compareSrgb8(const std::vector<uint8_t>& x, const std::vector<uint8_t>& y) {
    differenceSummary s;
    const size_t n = std::min(x.size(), y.size()) / 3;
    if (n == 0 || x.size() != y.size()) return {1e9, 1e9, 1e9};
    std::vector<double> d(n);
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* p = &x[3 * i];
        const uint8_t* q = &y[3 * i];
        d[i] = deltaE2000(labFromSrgb8(p[0], p[1], p[2]), labFromSrgb8(q[0], q[1], q[2]));
        sum += d[i];
    }
    std::sort(d.begin(), d.end());
    s.mean = sum / double(n);
    s.p99 = d[std::min(n - 1, size_t(std::ceil(0.99 * double(n))) - 1)];
    s.maximum = d.back();
    return s;
}

} // namespace halvora::test
