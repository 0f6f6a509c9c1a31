#include "tonemap/localContrast.h"

#include "app/parallelFor.h"
#include "app/processState.h"
#include "imageio/rgbBuffers.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace halvora {

namespace {

constexpr int kBins = kLocalHistogramTop + 1; // values 0 … 2048
constexpr int kCoarseShift = 6;               // coarse summary: bins of 64 values
constexpr int kCoarseBins = (kBins + 63) >> kCoarseShift;

int growWindow(int v) {
    for (int i = 0; i < 14; ++i)
        v = v / 12 + v;
    return v;
}

// Runs of consecutive grid columns that make up one window row, in window order.
struct columnRun {
    int start;
    int count;
};

// Grid columns of the window around grid column X (pixel column 2X). Without panorama the window is
// clipped to the picture; with panorama every window column is read from its wrapped position, so
// the lattice of sampled columns continues across the left/right seam with the picture's period.
void windowColumns(int X, int K, int width, int gridWidth, bool panorama, std::vector<columnRun>& runs) {
    runs.clear();
    if (!panorama) {
        const int first = std::max(0, X - K), last = std::min(gridWidth - 1, X + K);
        runs.push_back({first, last - first + 1});
        return;
    }
    for (int64_t c = int64_t(X - K) * 2; c <= int64_t(X + K) * 2; c += 2) {
        int64_t m = c % width;
        if (m < 0)
            m += width;
        const int idx = int(m / 2);
        if (!runs.empty() && runs.back().start + runs.back().count == idx)
            ++runs.back().count;
        else
            runs.push_back({idx, 1});
    }
}

// Sliding histogram of one window: 2049 bins plus a coarse summary of 64-value bins.
struct localHistogram {
    uint32_t bins[kBins + 15];
    uint32_t coarse[kCoarseBins + 1];

    void clear() {
        std::memset(bins, 0, sizeof(bins));
        std::memset(coarse, 0, sizeof(coarse));
    }
    void add(const uint16_t* row, const std::vector<columnRun>& runs) {
        for (const columnRun& r : runs) {
            const uint16_t* s = row + r.start;
            for (int i = 0; i < r.count; ++i) {
                const unsigned v = s[i];
                ++bins[v];
                ++coarse[v >> kCoarseShift];
            }
        }
    }
    void remove(const uint16_t* row, const std::vector<columnRun>& runs) {
        for (const columnRun& r : runs) {
            const uint16_t* s = row + r.start;
            for (int i = 0; i < r.count; ++i) {
                const unsigned v = s[i];
                --bins[v];
                --coarse[v >> kCoarseShift];
            }
        }
    }
    // Samples with a value below t.
    uint64_t below(int t) const {
        const int seg = t >> kCoarseShift;
        uint64_t sum = 0;
        for (int s = 0; s < seg; ++s)
            sum += coarse[s];
        for (int j = seg << kCoarseShift; j < t; ++j)
            sum += bins[j];
        return sum;
    }
    // Σ count(j) × (hi − j) over lo ≤ j < hi: the ramp share scaled by (hi − lo).
    uint64_t ramp(int lo, int hi) const {
        uint64_t sum = 0;
        for (int j = lo; j < hi; ++j)
            sum += uint64_t(bins[j]) * uint64_t(hi - j);
        return sum;
    }
};

// Local rank of value v: ⌊(below + ramp) / n × 32640⌋, in exact integer arithmetic so the result
// does not depend on summation order; 32639 and above are stored as 32640.
inline uint16_t rankOf(const localHistogram& h, int v, const int* widths, uint64_t n) {
    v = std::min(v, kLocalHistogramTop);
    const int w = widths[v];
    const int lo = std::max(v - w, 0), hi = std::min(v + w / 2, kLocalHistogramTop);
    const uint64_t d = uint64_t(hi - lo);
    const uint64_t num = h.below(lo) * d + h.ramp(lo, hi);
    const uint64_t r = num * uint64_t(kFullScale) / (n * d);
    return r >= uint64_t(kFullScale - 1) ? uint16_t(kFullScale) : uint16_t(r);
}

} // namespace

localContrastWindows_t localContrastWindowSizes(int width, int height) {
    const int m = std::max(0, std::min(width, height));
    localContrastWindows_t k;
    k.medium = std::max(growWindow(m / 25), 10) & ~1;
    const int f = m / 50;
    k.fine = f < 8 ? 8 : (f & ~1);
    k.coarse = std::max(growWindow(m / 10), 10) & ~1;
    return k;
}

void localContrastRampTable(bool constantWidth, int* table) {
    for (int v = 0; v < kBins; ++v) {
        int w = constantWidth ? 40 : 2 * (v / 10);
        w = std::min(std::max(w, 80), 320);
        if (v > 1638)
            w = w * (2048 - v) / 409;
        table[v] = std::max(w, 40);
    }
}

void localContrastPrepare(const localContrastPrepare_threadParams_t& p) {
    const double e = p.lcCorrection;
    const bool lift = 1.2 * e < 1.0;
    for (int64_t i = p.firstPixel; i < p.endPixel; ++i) {
        const float r = p.hdr[3 * i], g = p.hdr[3 * i + 1], b = p.hdr[3 * i + 2];
        const float X = 0.4124564f * r + 0.3575761f * g + 0.1804375f * b;
        const float Y = 0.2126729f * r + 0.7151522f * g + 0.072175f * b;
        const float Z = 0.0193339f * r + 0.119192f * g + 0.9503041f * b;
        double y = Y;
        // !(… > …) also catches NaN; negative luminance has no power.
        if (!(X + Y + Z > 1e-5f) || !(y > 0.0))
            y = 0.0;
        double v = 1.0;
        if (y < HUGE_VAL) {
            if (lift)
                y = std::pow(y, 1.2 * e);
            v = std::min(1.0, std::pow(y, 0.75 * e));
        }
        if (!(v >= 0.0)) // a hostile lcCorrection (NaN) must not leave the plane's range
            v = 0.0;
        p.target[i] = uint16_t(int(v * kFullScale) >> 4);
    }
}

void localContrastSampleGrid(const uint16_t* plane, int width, int height, uint16_t* grid) {
    const int gw = (width + 1) / 2, gh = (height + 1) / 2;
    parallelFor(gh, [&](int, int64_t y0, int64_t y1) {
        for (int64_t Y = y0; Y < y1; ++Y) {
            const uint16_t* src = plane + size_t(2 * Y) * size_t(width);
            uint16_t* dst = grid + size_t(Y) * size_t(gw);
            for (int X = 0; X < gw; ++X)
                dst[X] = std::min<uint16_t>(src[2 * X], kLocalHistogramTop);
        }
    });
}

bool localContrast(const localContrast_threadParams_t& p) {
    const int w = p.width, h = p.height;
    const int gw = (w + 1) / 2, gh = (h + 1) / 2;
    const int K = std::max(0, p.k) / 2;
    int widths[kBins];
    localContrastRampTable(p.constantWidth != 0, widths);
    auto hist = std::make_unique<localHistogram>();
    std::vector<columnRun> runs;

    for (int x = p.firstColumn; x < p.endColumn; x += 2) {
        const int X = x / 2;
        windowColumns(X, K, w, gw, p.panorama != 0, runs);
        uint64_t columns = 0;
        for (const columnRun& r : runs)
            columns += uint64_t(r.count);
        hist->clear();
        const bool right = x + 1 < w;
        for (int Y = 0; Y < gh; ++Y) {
            if (Y == 0) {
                for (int r = 0; r <= std::min(K, gh - 1); ++r)
                    hist->add(p.samples + size_t(r) * size_t(gw), runs);
            } else {
                if (Y - K - 1 >= 0)
                    hist->remove(p.samples + size_t(Y - K - 1) * size_t(gw), runs);
                if (Y + K < gh)
                    hist->add(p.samples + size_t(Y + K) * size_t(gw), runs);
            }
            const uint64_t rows = uint64_t(std::min(Y + K, gh - 1) - std::max(Y - K, 0) + 1);
            const uint64_t n = rows * columns;
            const int y = 2 * Y;
            const size_t i0 = size_t(y) * size_t(w) + size_t(x);
            p.target[i0] = rankOf(*hist, p.source[i0], widths, n);
            if (right)
                p.target[i0 + 1] = rankOf(*hist, p.source[i0 + 1], widths, n);
            if (y + 1 < h) {
                const size_t i1 = i0 + size_t(w);
                p.target[i1] = rankOf(*hist, p.source[i1], widths, n);
                if (right)
                    p.target[i1 + 1] = rankOf(*hist, p.source[i1 + 1], widths, n);
            }
        }
        addProgress(2);
        if (abortRequested.load(std::memory_order_relaxed))
            return false;
    }
    return true;
}

bool runLocalContrastPrepare(const float* hdr, int width, int height, double lcCorrection, uint16_t* prepared) {
    const int64_t pixels = int64_t(width) * int64_t(height);
    parallelFor(pixels, [&](int, int64_t begin, int64_t end) {
        localContrastPrepare_threadParams_t p;
        p.firstPixel = begin;
        p.endPixel = end;
        p.hdr = hdr;
        p.target = prepared;
        p.lcCorrection = lcCorrection;
        localContrastPrepare(p);
    });
    return !abortRequested.load();
}

bool runLocalContrast(const uint16_t* prepared, int width, int height, int k, bool panorama, bool constantWidth,
                      uint16_t* samples, uint16_t* target) {
    if (width <= 0 || height <= 0)
        return false;
    localContrastSampleGrid(prepared, width, height, samples);
    const int gw = (width + 1) / 2;
    // Threads get whole column pairs, so every 2 × 2 block sees the same window whatever the split.
    parallelFor(gw, [&](int, int64_t X0, int64_t X1) {
        localContrast_threadParams_t p;
        p.width = width;
        p.height = height;
        p.firstColumn = int(2 * X0);
        p.endColumn = int(std::min<int64_t>(2 * X1, width));
        p.source = prepared;
        p.target = target;
        p.k = k;
        p.panorama = panorama ? 1 : 0;
        p.constantWidth = constantWidth ? 1 : 0;
        p.samples = samples;
        localContrast(p);
    });
    return !abortRequested.load();
}

} // namespace halvora
