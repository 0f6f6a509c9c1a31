#include "tonemap/tableBuilders.h"

#include "base/parallelFor.h"
#include "base/rgbBuffers.h"

#include <algorithm>
#include <cmath>

namespace halvora {
namespace {

double clampToUnit(double v) {
    return v > 0 ? (v < 1 ? v : 1) : 0;
}

// Narrow intervals and pivots are widened to this, so coincident knee points cannot divide by zero.
constexpr double kMinWidth = 0.01;

double guarded(double v) {
    return std::fabs(v) < kMinWidth ? kMinWidth : v;
}

struct splineCoefficients {
    double b[curveSettings_t::kMaxKneePoints];
    double c[curveSettings_t::kMaxKneePoints];
    double d[curveSettings_t::kMaxKneePoints];
};

// Natural cubic spline: second derivatives 0 at both ends; c holds half the second derivative.
void solveSpline(const curvePoint_t* p, int k, splineCoefficients& s) {
    double h[curveSettings_t::kMaxKneePoints], mu[curveSettings_t::kMaxKneePoints] = {},
                                               z[curveSettings_t::kMaxKneePoints] = {};
    for (int i = 0; i + 1 < k; ++i)
        h[i] = guarded(p[i + 1].x - p[i].x);
    for (int i = 1; i + 1 < k; ++i) {
        const double alpha = 3.0 / h[i] * (p[i + 1].y - p[i].y) - 3.0 / h[i - 1] * (p[i].y - p[i - 1].y);
        const double pivot = guarded(2.0 * (h[i - 1] + h[i]) - h[i - 1] * mu[i - 1]);
        mu[i] = h[i] / pivot;
        z[i] = (alpha - h[i - 1] * z[i - 1]) / pivot;
    }
    s.c[k - 1] = 0;
    for (int j = k - 2; j >= 0; --j) {
        s.c[j] = (j == 0) ? 0.0 : z[j] - mu[j] * s.c[j + 1];
        s.d[j] = (s.c[j + 1] - s.c[j]) / (3.0 * h[j]);
        s.b[j] = (p[j + 1].y - p[j].y) / h[j] - s.c[j] * h[j] - s.d[j] * h[j] * h[j];
    }
}

} // namespace

void evaluateCurve(double* out, int n, const std::vector<curvePoint_t>& points, int type) {
    const int k = std::min<int>(int(points.size()), curveSettings_t::kMaxKneePoints);
    if (n <= 0 || k < 1 || (type != curveSettings_t::kSpline && type != curveSettings_t::kLinear)) return;
    const curvePoint_t* p = points.data();
    splineCoefficients s{};
    if (type == curveSettings_t::kSpline && k >= 2) solveSpline(p, k, s);

    int segment = 0;
    for (int j = 0; j < n; ++j) {
        const double x = n > 1 ? double(j) / double(n - 1) : 0.0;
        if (k == 1 || x < p[0].x) {
            out[j] = clampToUnit(p[0].y);
            continue;
        }
        if (x > p[k - 1].x) {
            out[j] = clampToUnit(p[k - 1].y);
            continue;
        }
        // x grows with j, so the segment only moves right.
        while (segment < k - 2 && x >= p[segment + 1].x)
            ++segment;
        const curvePoint_t& a = p[segment];
        const curvePoint_t& b = p[segment + 1];
        double v;
        if (type == curveSettings_t::kLinear) {
            const double dx = b.x - a.x;
            const double slope = (b.y - a.y) / (dx < kMinWidth ? kMinWidth : dx);
            v = slope * x + (a.y - slope * a.x);
        } else {
            const double t = x - a.x;
            v = a.y + s.b[segment] * t + s.c[segment] * t * t + s.d[segment] * t * t * t;
        }
        out[j] = clampToUnit(v);
    }
}

void generateCurveTable(toneMappingSettings_t& settings, int index) {
    if (index < 0 || index > 3 || !settings.tables.allocated()) return;
    const curveSettings_t& curve = settings.curves[index];
    std::vector<double> values(kSampleTableSize);
    // Fill with the identity first: an unknown curve type leaves the evaluation unwritten.
    for (int j = 0; j < kSampleTableSize; ++j)
        values[size_t(j)] = double(j) / double(kSampleTableSize - 1);
    if (!curve.identity) evaluateCurve(values.data(), kSampleTableSize, curve.kneePoints, curve.type);
    uint16_t* table = settings.tables.curveTable[index].data();
    for (int j = 0; j < kSampleTableSize; ++j)
        table[j] = uint16_t(std::floor(values[size_t(j)] * 32639.0 + 0.5));
}

void generateLUT(toneMappingSettings_t& settings, int channel) {
    if (channel < -1 || channel > 2 || !settings.tables.allocated()) return;
    toneMappingTables_t& t = settings.tables;
    const double exponent = 1.0 / settings.gamma;
    const int n = kUnitTableSize;
    const uint16_t* master = t.curveTable[0].data();
    const uint16_t* own = channel >= 0 ? t.curveTable[channel + 1].data() : nullptr;
    double* out = t.outputLUT[channel >= 0 ? channel : 0].data();
    parallelFor(n, [&](int, int64_t begin, int64_t end) {
        for (int64_t j = begin; j < end; ++j) {
            const double position = double(j) / double(n);
            double v;
            if (own) {
                const double u = master[int(position * 32640.0)] * kInvFullScale;
                v = own[int(u * 32640.0)] * kInvFullScale;
            } else {
                v = position;
            }
            out[j] = std::pow(v, exponent);
        }
    });
    if (channel < 0) {
        t.outputLUT[1] = t.outputLUT[0];
        t.outputLUT[2] = t.outputLUT[0];
    }
}

void generateTMtable(toneMappingSettings_t& settings) {
    toneMappingTables_t& t = settings.tables;
    if (!t.allocated()) return;
    constexpr int n = toneMappingTables_t::kTmTableSide;
    const double strength = settings.maskStrength * 0.6;
    // ln(j / n) and ln(1 − j / n); ln 0 = −inf gives exp(−inf) = 0, the right end value.
    std::vector<double> lnUp(n), lnDown(n);
    for (int j = 0; j < n; ++j) {
        lnUp[size_t(j)] = std::log(double(j) / n);
        lnDown[size_t(j)] = std::log(1.0 - double(j) / n);
    }
    float* table = t.tmTable.data();
    parallelFor(n, [&](int, int64_t begin, int64_t end) {
        for (int64_t r = begin; r < end; ++r) {
            const double x = double(r) / n;
            const double kappa = std::pow(10.0, std::fabs(2.0 * x - 1.0) * strength);
            float* row = table + r * n;
            if (x >= 0.5)
                for (int j = 0; j < n; ++j)
                    row[j] = float(std::exp(lnUp[size_t(j)] * kappa));
            else
                for (int j = 0; j < n; ++j)
                    row[j] = float(1.0 - std::exp(lnDown[size_t(j)] * kappa));
        }
    });
    t.tmTableStrength = settings.maskStrength;
}

} // namespace halvora
