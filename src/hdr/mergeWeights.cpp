#include "hdr/mergeWeights.h"

#include "base/rgbBuffers.h"

#include <algorithm>
#include <cmath>

namespace halvora {

namespace {
constexpr int kHalf = 16320;
}

bool buildSelectivityTable(int shape, double p, double q, double* table) {
    if (shape < selectivityNone || shape > selectivityBestExposed) return false;
    const int n = kSampleTableSize;
    if (shape == selectivityNone) {
        std::fill_n(table, n, 1.0);
        return true;
    }
    for (int x = 0; x < n; ++x) {
        double w;
        if (shape == selectivityCutOff)
            w = x < kHalf ? std::min(1.0, x * 16.0 / 32640.0) : std::min(1.0, (32640 - x) * 8.0 / 32640.0);
        else
            w = x < kHalf ? 2.0 * x / 32640.0 : 2.0 * (32640 - x) / 32640.0;
        if (shape == selectivityBestExposed) {
            if (x < kHalf)
                w = w < p ? 0.0 : w - p;
            else
                w = w < q ? 0.01 : w - q;
        } else {
            if (x < kHalf)
                w = w < p ? 0.0 : (w - p) / (1.0 - p);
            else
                w = w < q ? 0.01 : (w - q) / (1.0 - q);
        }
        table[x] = std::min(1.0, w);
    }
    if (shape == selectivityBestExposed) {
        // Walking upwards, each entry is divided by the value at 16319 as it is at that moment:
        // entries up to 16319 by its original value (which makes it 1), later ones by 1.
        for (int x = 0; x < n; ++x)
            table[x] /= table[kHalf - 1];
        for (int x = 0; x < n; ++x)
            table[x] = std::min(1.0, table[x] / (x < kHalf ? 0.9 : 0.1));
    }
    return true;
}

int smartMergeCentre(double ev, double evLow, double evHigh) {
    const float mid = float((evHigh + evLow) / 2.0);
    const float span = float(evHigh - evLow) + 0.0001f;
    if (span == 0.0f) return kHalf;
    const double c = std::floor(16320.0 - double((float(ev) - mid) / (span / 2.0f)) * 32640.0 * 0.5);
    return int(std::clamp(c, 0.0, 32639.0));
}

void buildSmartMergeTable(double ev, double evLow, double evHigh, double* table) {
    const int c = smartMergeCentre(ev, evLow, evHigh);
    for (int x = 0; x < kSampleTableSize; ++x) {
        const float w = x < c ? float(x) / float(c) : float(32640 - x) / float(32640 - c);
        table[x] = std::min(1.0, double(w));
    }
}

void weightLimits(const double* table, uint16_t& lowLimit, uint16_t& highLimit) {
    lowLimit = 0;
    highLimit = kSampleTableSize - 1;
    int first = -1, last = -1;
    for (int x = 0; x < kSampleTableSize; ++x)
        if (table[x] > 0) {
            if (first < 0) first = x;
            last = x;
        }
    if (first >= 0) {
        lowLimit = uint16_t(first);
        highLimit = uint16_t(last);
    }
}

void buildClosenessTables(double* bright, double* dark) {
    for (int x = 0; x < kSampleTableSize; ++x) {
        const double t = x / 32640.0;
        bright[x] = t > 0.99 ? 1.0 : std::exp(-std::pow((1.0 - t) - 0.01, 2) / 0.003);
        dark[x] = t < 0.01 ? 1.0 : std::exp(-std::pow(t - 0.01, 2) / 0.003);
    }
}

} // namespace halvora
