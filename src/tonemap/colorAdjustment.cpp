#include "tonemap/colorAdjustment.h"

#include "base/debugLog.h"
#include "base/rgbBuffers.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace halvora {
namespace {

double sanitizeControl(double v) {
    if (!std::isfinite(v)) return 1.0;
    return std::clamp(v, 0.0, 2.0);
}

bool usableSample(double v) {
    return std::isfinite(v) && v > 0.0;
}

struct knee_t {
    double x = 0;     ///< position 0 … 1 (the wrapped copy of the first hue point has x + 1)
    double sigma = 1; ///< slider sigma 0.1 … 2.0
    double a = 0;     ///< amplitude −1 … 1
    double s = 1;     ///< Gaussian width in entries
    double c = 0;     ///< position in entries (as double so the wrapped copy can lie past the end)
};

/// Entries c_k … c_{k+1} − 1 between two neighbouring points.
void fillBetween(std::vector<double>& table, const knee_t& p, const knee_t& q) {
    const int n = kSampleTableSize;
    const double dx = q.x - p.x;
    const bool close = (p.sigma + q.sigma) * 0.5 / 10.0 > dx;
    const int64_t first = int64_t(p.c), last = int64_t(q.c);
    for (int64_t j = first; j < last; ++j) {
        const double t = dx <= 0.001 ? 1.0 : std::min(1.0, (q.x - double(j) / n) / dx);
        double value;
        if (close) {
            value = t * p.a + (1.0 - t) * q.a;
        } else {
            const double dp = double(j) - p.c, dq = double(j) - q.c;
            const double g1 = p.a * std::exp(-dp * dp / (2.0 * p.s * p.s));
            const double g2 = q.a * std::exp(-dq * dq / (2.0 * q.s * q.s));
            value = t * g1 + (1.0 - t) * g2;
        }
        table[size_t(j % n)] = value;
    }
}

void generateInto(std::vector<double>& table, const std::vector<selKneePoints_t>& points, bool cyclic) {
    const int n = kSampleTableSize;
    std::fill(table.begin(), table.end(), 0.0);

    std::vector<knee_t> knees;
    knees.reserve(points.size());
    for (const selKneePoints_t& point : points) {
        if (!std::isfinite(point.x)) continue;
        knee_t k;
        k.x = std::clamp(point.x, 0.0, 1.0);
        const double y = std::isfinite(point.y) ? std::clamp(point.y, 0.0, 1.0) : 0.5;
        k.sigma = std::isfinite(point.sigma) ? std::clamp(point.sigma, 0.1, 2.0) : 1.0;
        k.a = (y - 0.5) * 2.0;
        k.s = (k.sigma + 0.2) * n / 100.0 * 4.0;
        k.c = std::floor(k.x * (n - 1));
        knees.push_back(k);
    }
    if (knees.empty()) return;
    std::stable_sort(knees.begin(), knees.end(), [](const knee_t& l, const knee_t& r) { return l.x < r.x; });

    for (size_t k = 0; k + 1 < knees.size(); ++k)
        fillBetween(table, knees[k], knees[k + 1]);
    if (cyclic) {
        // The last point pairs with the first one a full turn further on.
        knee_t wrapped = knees.front();
        wrapped.x += 1.0;
        wrapped.c += n;
        fillBetween(table, knees.back(), wrapped);
    } else {
        const knee_t& head = knees.front();
        for (int j = 0; j < int(head.c); ++j) {
            const double d = head.c - j;
            table[j] = head.a * std::exp(-d * d / (2.0 * head.s * head.s));
        }
        const knee_t& tail = knees.back();
        for (int j = int(tail.c); j < n; ++j) {
            const double d = j - tail.c;
            table[j] = tail.a * std::exp(-d * d / (2.0 * tail.s * tail.s));
        }
    }
    for (int j = 0; j < n; ++j) {
        double& v = table[j];
        v = std::fabs(v) < 0.01 ? 0.0 : std::clamp(v, -1.0, 1.0);
    }
    // The table is indexed by value × 32640, so a value of exactly 1 (full brightness, hue 360°)
    // reads this entry: it continues the curve rather than switching the effect off.
    table[n] = cyclic ? table[0] : table[n - 1];
}

bool sizeTable(std::vector<double>& table, const char* caller) {
    try {
        table.resize(kUnitTableSize);
    } catch (const std::bad_alloc&) {
        debugLog("%s: out of memory for the selective-saturation table\n", caller);
        return false;
    }
    return true;
}

} // namespace

std::array<double, 3> illuminantColor(double kelvin) {
    if (!std::isfinite(kelvin) || kelvin < 1000.0) kelvin = std::isfinite(kelvin) ? 1000.0 : 6500.0;
    const double k = kelvin, k2 = k * k, k3 = k2 * k;
    double x;
    if (k <= 4000)
        x = 2.7475e8 / k3 - 985980.0 / k2 + 1174.44 / k + 0.145986;
    else if (k <= 7000)
        x = 2.9678e6 / k2 - 4.607e9 / k3 + 99.11 / k + 0.244063;
    else
        x = 1.9018e6 / k2 - 2.0064e9 / k3 + 247.48 / k + 0.23704;
    const double y = 2.87 * x - 3.0 * x * x - 0.275;
    const double X = x / y, Z = (1.0 - x - y) / y;
    std::array<double, 3> rgb = {3.24071 * X - 1.53726 - 0.498571 * Z, 1.87599 - 0.969258 * X + 0.0415557 * Z,
                                 0.0556352 * X - 0.203996 + 1.05707 * Z};
    const double m = std::max({std::max(rgb[0], 0.0), rgb[1], rgb[2]});
    if (!(m > 0.0) || !std::isfinite(m)) return {1.0, 1.0, 1.0};
    for (double& v : rgb)
        v /= m;
    return rgb;
}

int temperatureKelvin(double temperature) {
    const double t = sanitizeControl(temperature);
    return int(std::floor(t < 1.0 ? (t - 1.0) * 3000.0 + 6500.0 : (t - 1.0) * 9000.0 + 6500.0));
}

std::array<double, 3> whiteBalanceGains(double temperature, double tint) {
    const double u = sanitizeControl(tint);
    std::array<double, 3> c = illuminantColor(temperatureKelvin(temperature));
    c[1] = c[1] * (u + 0.4) / 1.4;
    // The illuminant's components are positive over 3500 … 15500 K; guard anyway.
    for (double& v : c)
        if (!(v > 1e-6)) v = 1e-6;
    return {(1.0 / c[0]) / (1.0 / c[2]), (1.0 / c[1]) / (1.0 / c[2]), 1.0};
}

void updateWbGain(toneMappingTables_t& tables, double temperature, double tint) {
    const std::array<double, 3> g = whiteBalanceGains(temperature, tint);
    for (int i = 0; i < 3; ++i)
        tables.wbGain[i] = g[i];
}

std::array<double, 3> wbSwatchColor(const double wbGain[3]) {
    std::array<double, 3> c;
    for (int i = 0; i < 3; ++i)
        c[i] = (std::isfinite(wbGain[i]) && wbGain[i] > 0.0) ? 1.0 / wbGain[i] : 1.0;
    const double m = std::max({c[0], c[1], c[2], 0.01});
    for (double& v : c)
        v /= m;
    return c;
}

whiteBalanceSetting_t whiteBalanceFromSample(double red, double green, double blue) {
    whiteBalanceSetting_t result;
    if (!usableSample(red) || !usableSample(green) || !usableSample(blue)) return result;

    const double targetRatio = blue / red;
    double hi = 15500.0, lo = 3500.0, kelvin = 9500.0;
    do {
        const std::array<double, 3> c = illuminantColor(kelvin);
        if (c[2] / c[0] > targetRatio)
            hi = kelvin;
        else
            lo = kelvin;
        kelvin = (hi + lo) / 2.0;
    } while (hi - lo > 0.1);
    result.temperature =
        kelvin > 6500.0 ? 1.0 + (kelvin - 6500.0) / 9000.0 : 1.0 + (kelvin - 6500.0) / 3000.0;

    double bestError = 1000.0;
    for (int step = 0; step <= 200; ++step) {
        const double u = step / 100.0;
        const std::array<double, 3> g = whiteBalanceGains(result.temperature, u);
        const double error =
            std::fabs(g[0] / g[1] * (red / green) - 1.0) + std::fabs(g[2] / g[1] * (blue / green) - 1.0);
        if (error < bestError) {
            bestError = error;
            result.tint = u;
        }
    }
    return result;
}

void generateSelectiveTable(std::vector<double>& table, const std::vector<selKneePoints_t>& points,
                            bool cyclic) {
    if (!sizeTable(table, "halvora::generateSelectiveTable")) return;
    generateInto(table, points, cyclic);
}

void updateHueSelectiveTable(toneMappingTables_t& tables, const std::vector<selKneePoints_t>& points) {
    std::vector<double>& table = tables.selectiveTable[0];
    if (!sizeTable(table, "halvora::updateHueSelectiveTable")) {
        tables.hueSelectiveActive = false;
        return;
    }
    generateInto(table, points, true);
    tables.hueSelectiveActive = true;
}

void updateBrightnessSelectiveTable(toneMappingTables_t& tables, const std::vector<selKneePoints_t>& points) {
    std::vector<double>& table = tables.selectiveTable[1];
    if (!sizeTable(table, "halvora::updateBrightnessSelectiveTable")) {
        tables.brightnessSelectiveActive = false;
        return;
    }
    generateInto(table, points, false);
    tables.brightnessSelectiveActive = true;
}

} // namespace halvora
