#include "hdr/smartMergeMask.h"

#include "base/debugLog.h"
#include "base/parallelFor.h"
#include "base/runContext.h"

#include <algorithm>
#include <cmath>

namespace halvora {

smartMergeKernel makeSmartMergeKernel(int w, int h) {
    smartMergeKernel k;
    // A picture below 400 pixels gets a tiny σ; keep it positive so the kernel stays defined.
    k.sigma = std::max(std::min(w, h) / 400.0, 0.01);
    double s[64], sum = 0;
    for (int i = 0; i < 64; ++i) {
        s[i] = std::exp(-double(i * i) / (2.0 * k.sigma * k.sigma));
        sum += s[i];
    }
    k.size = 64;
    for (int i = 0; i < 64; ++i) {
        k.spatial[size_t(i)] = float(s[i] / sum);
        if (k.size == 64 && s[i] / sum < 0.03) k.size = i;
    }
    k.size = std::min(k.size, 63);
    k.range.resize(32641);
    for (int j = 0; j <= 32640; ++j)
        k.range[size_t(j)] = float(std::exp(-(j / 32640.0) / 0.02));
    debugLog("sigma=%lf, sigma_l=%lf\n", k.sigma, 0.1);
    debugLog("p.tabSize=%d\n", k.size);
    return k;
}

namespace {

struct smartMergeFilter_threadParams_t {
    const uint16_t* src;
    uint16_t* dst;
    int width, height;
    const smartMergeKernel* kernel;
};

// One output line segment: `count` outputs at src/dst (stride 1 between outputs), neighbours at
// ±o × `step`; `lowOk`/`highOk` give how many neighbours exist on each side of output 0 and how they
// shrink along the segment (only rows shrink: for columns every output of a segment has the same).
void accumulateLine(const uint16_t* src, uint16_t* dst, int count, int step, int before, int after,
                    const smartMergeKernel& k, float* sw, float* sv) {
    const float* s = k.spatial.data();
    const float* r = k.range.data();
    for (int x = 0; x < count; ++x) {
        sw[x] = 0;
        sv[x] = 0;
    }
    for (int o = -before; o <= after; ++o) {
        const float so = s[std::abs(o)];
        const uint16_t* n = src + ptrdiff_t(o) * step;
        for (int x = 0; x < count; ++x) {
            const int d = int(n[x]) - int(src[x]);
            const float wgt = so * r[uint32_t(d * d) / 32640u];
            sw[x] += wgt;
            sv[x] += wgt * float(n[x]);
        }
    }
    for (int x = 0; x < count; ++x) {
        const float v = std::clamp(sv[x] / sw[x], 0.0f, 32640.0f);
        dst[x] = uint16_t(v + 0.5f);
    }
}

void filterRows(const smartMergeFilter_threadParams_t& p, int64_t y0, int64_t y1) {
    const smartMergeKernel& k = *p.kernel;
    const int w = p.width, size = k.size;
    std::vector<float> sw(static_cast<size_t>(w)), sv(static_cast<size_t>(w));
    for (int64_t y = y0; y < y1 && !halvora::cancelRequested(); ++y) {
        const uint16_t* src = p.src + y * w;
        uint16_t* dst = p.dst + y * w;
        // Borders one pixel at a time (fewer neighbours), the middle as one run.
        const int inner0 = std::min(size, w), inner1 = std::max(inner0, w - size);
        for (int x = 0; x < inner0; ++x)
            accumulateLine(src + x, dst + x, 1, 1, std::min(size, x), std::min(size, w - 1 - x), k, sw.data(),
                           sv.data());
        if (inner1 > inner0)
            accumulateLine(src + inner0, dst + inner0, inner1 - inner0, 1, size, size, k, sw.data(),
                           sv.data());
        for (int x = inner1; x < w; ++x)
            accumulateLine(src + x, dst + x, 1, 1, std::min(size, x), std::min(size, w - 1 - x), k, sw.data(),
                           sv.data());
    }
}

void filterColumns(const smartMergeFilter_threadParams_t& p, int64_t x0, int64_t x1) {
    const smartMergeKernel& k = *p.kernel;
    const int w = p.width, h = p.height, size = k.size;
    const int count = int(x1 - x0);
    std::vector<float> sw(static_cast<size_t>(count)), sv(static_cast<size_t>(count));
    for (int y = 0; y < h && !halvora::cancelRequested(); ++y)
        accumulateLine(p.src + size_t(y) * w + x0, p.dst + size_t(y) * w + x0, count, w, std::min(size, y),
                       std::min(size, h - 1 - y), k, sw.data(), sv.data());
}

} // namespace

void smartMergeFilter(uint16_t* mask, uint16_t* scratch, int w, int h, const smartMergeKernel& kernel) {
    smartMergeFilter_threadParams_t rows{mask, scratch, w, h, &kernel};
    parallelFor(h, [&rows](int, int64_t y0, int64_t y1) { filterRows(rows, y0, y1); });
    addProgress(uint64_t(h));
    smartMergeFilter_threadParams_t columns{scratch, mask, w, h, &kernel};
    parallelFor(w, [&columns](int, int64_t x0, int64_t x1) { filterColumns(columns, x0, x1); });
    addProgress(uint64_t(w));
}

} // namespace halvora
