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
// Window slots outside the picture (no panorama) carry this value: its bin and coarse bin lie above
// everything a rank reads, so they need no branch in the update loops.
constexpr uint16_t kNoSample = uint16_t(kCoarseBins << kCoarseShift);
constexpr int kStoredBins = kNoSample + 1;
constexpr int kStoredCoarse = kCoarseBins + 1;
// Block columns filtered together: they share one histogram of their common columns. Wide windows
// gain from wider strips (measured: 16 for the fine and medium windows, 32 for the coarse one).
constexpr int kStripWidthSmall = 16;
constexpr int kStripWidthLarge = 32;
constexpr int kLargeWindow = 256;

int growWindow(int v) {
    for (int i = 0; i < 14; ++i)
        v = v / 12 + v;
    return v;
}

// Grid column read for window slot s (grid units, may lie outside the picture), or -1 for none.
// Without panorama the window is clipped to the picture; with panorama a slot is read at its wrapped
// position, so the lattice of sampled columns continues across the seam with the picture's period.
int slotColumn(int64_t s, int width, int gridWidth, bool panorama) {
    if (!panorama) return s >= 0 && s < gridWidth ? int(s) : -1;
    int64_t m = (2 * s) % width;
    if (m < 0) m += width;
    return int(m / 2);
}

// Runs of consecutive grid columns that make up part of a window row.
struct columnRun {
    int start;
    int count;
};

void appendColumn(std::vector<columnRun>& runs, int column) {
    if (column < 0) return;
    if (!runs.empty() && runs.back().start + runs.back().count == column)
        ++runs.back().count;
    else
        runs.push_back({column, 1});
}

// Histogram of a set of samples with a coarse summary (count and value sum per 64 values).
struct localHistogram {
    uint32_t bins[kStoredBins];
    uint32_t coarseCount[kStoredCoarse];
    uint64_t coarseSum[kStoredCoarse];

    void clear() {
        std::memset(bins, 0, sizeof(bins));
        std::memset(coarseCount, 0, sizeof(coarseCount));
        std::memset(coarseSum, 0, sizeof(coarseSum));
    }
    void add(const uint16_t* s, int count) {
        for (int i = 0; i < count; ++i) {
            const unsigned v = s[i];
            ++bins[v];
            ++coarseCount[v >> kCoarseShift];
            coarseSum[v >> kCoarseShift] += v;
        }
    }
    void remove(const uint16_t* s, int count) {
        for (int i = 0; i < count; ++i) {
            const unsigned v = s[i];
            --bins[v];
            --coarseCount[v >> kCoarseShift];
            coarseSum[v >> kCoarseShift] -= v;
        }
    }
    // Removes `out` and adds `in` (same length). Neighbouring samples often share a bin; working on
    // four independent streams keeps those read-modify-write chains from serialising the loop.
    void replace(const uint16_t* out, const uint16_t* in, int count) {
        const int half = count / 2;
        const uint16_t *out2 = out + half, *in2 = in + half;
        for (int i = 0; i < half; ++i) {
            const unsigned a = out[i], b = out2[i], c = in[i], d = in2[i];
            --bins[a];
            --bins[b];
            ++bins[c];
            ++bins[d];
            --coarseCount[a >> kCoarseShift];
            --coarseCount[b >> kCoarseShift];
            ++coarseCount[c >> kCoarseShift];
            ++coarseCount[d >> kCoarseShift];
            coarseSum[a >> kCoarseShift] -= a;
            coarseSum[b >> kCoarseShift] -= b;
            coarseSum[c >> kCoarseShift] += c;
            coarseSum[d >> kCoarseShift] += d;
        }
        if (count & 1) {
            remove(out + count - 1, 1);
            add(in + count - 1, 1);
        }
    }
    void slide(const uint16_t* out, const uint16_t* in, int count) {
        if (out && in)
            replace(out, in, count);
        else if (out)
            remove(out, count);
        else if (in)
            add(in, count);
    }
};

// A histogram queried through its coarse summary: count and value sum below a threshold cost at
// most 32 fine steps after the coarse prefix sums are built (prepareQueries, once per position).
struct summaryHistogram : localHistogram {
    uint64_t countBefore[kCoarseBins + 1];
    uint64_t sumBefore[kCoarseBins + 1];

    void prepareQueries() {
        countBefore[0] = sumBefore[0] = 0;
        for (int s = 0; s < kCoarseBins; ++s) {
            countBefore[s + 1] = countBefore[s] + coarseCount[s];
            sumBefore[s + 1] = sumBefore[s] + coarseSum[s];
        }
    }
    // Count and value sum of the samples below t (0 ≤ t ≤ 2048), from the nearer end of t's coarse bin.
    void below(int t, uint64_t& count, uint64_t& sum) const {
        const int seg = t >> kCoarseShift, base = seg << kCoarseShift;
        uint64_t c, s;
        if (t - base <= 32 || seg == kCoarseBins - 1) {
            c = countBefore[seg];
            s = sumBefore[seg];
            for (int j = base; j < t; ++j) {
                c += bins[j];
                s += uint64_t(bins[j]) * uint64_t(j);
            }
        } else {
            c = countBefore[seg + 1];
            s = sumBefore[seg + 1];
            for (int j = t; j < base + 64; ++j) {
                c -= bins[j];
                s -= uint64_t(bins[j]) * uint64_t(j);
            }
        }
        count = c;
        sum = s;
    }
};

// A histogram queried through prefix tables, for the many queries of one window position: the
// coarse prefix sums are built per position, the fine prefix sums of a 64-value bin only when a
// query first needs them there (stamped with the position).
struct prefixHistogram : localHistogram {
    uint64_t coarseCountBefore[kCoarseBins + 1];
    uint64_t coarseSumBefore[kCoarseBins + 1];
    uint64_t countBefore[kBins + 1];
    uint64_t sumBefore[kBins + 1];
    uint32_t builtAt[kCoarseBins] = {};
    uint32_t position = 0;

    void prepareQueries() {
        if (++position == 0) { // wrapped: forget every stamp
            std::memset(builtAt, 0, sizeof(builtAt));
            position = 1;
        }
        coarseCountBefore[0] = coarseSumBefore[0] = 0;
        for (int s = 0; s < kCoarseBins; ++s) {
            coarseCountBefore[s + 1] = coarseCountBefore[s] + coarseCount[s];
            coarseSumBefore[s + 1] = coarseSumBefore[s] + coarseSum[s];
        }
    }
    // Count and value sum of the samples below t (0 ≤ t ≤ 2048).
    void below(int t, uint64_t& count, uint64_t& sum) {
        const int seg = t >> kCoarseShift;
        if (builtAt[seg] != position) {
            builtAt[seg] = position;
            uint64_t c = coarseCountBefore[seg], s = coarseSumBefore[seg];
            const int end = std::min((seg + 1) << kCoarseShift, kBins);
            for (int j = seg << kCoarseShift; j < end; ++j) {
                countBefore[j] = c;
                sumBefore[j] = s;
                c += bins[j];
                s += uint64_t(bins[j]) * uint64_t(j);
            }
        }
        count = countBefore[t];
        sum = sumBefore[t];
    }
};

// Local rank of value v over the union of the two histograms (n samples):
// ⌊(below + ramp) / n × 32640⌋ with ramp = Σ count(j) × (hi − j) / (hi − lo) over lo ≤ j < hi, in
// exact integer arithmetic so the result does not depend on how the window is split or summed;
// 32639 and above are stored as 32640.
inline uint16_t rankOf(prefixHistogram& core, const summaryHistogram& rest, int v, const int* widths,
                       uint64_t n) {
    v = std::min(v, kLocalHistogramTop);
    const int w = widths[v];
    const int lo = std::max(v - w, 0), hi = std::min(v + w / 2, kLocalHistogramTop);
    uint64_t countLo, sumLo, countHi, sumHi;
    uint64_t coreCountLo, coreSumLo, coreCountHi, coreSumHi;
    rest.below(lo, countLo, sumLo);
    rest.below(hi, countHi, sumHi);
    core.below(lo, coreCountLo, coreSumLo);
    core.below(hi, coreCountHi, coreSumHi);
    countLo += coreCountLo;
    sumLo += coreSumLo;
    countHi += coreCountHi;
    sumHi += coreSumHi;
    const uint64_t d = uint64_t(hi - lo);
    const uint64_t ramp = uint64_t(hi) * (countHi - countLo) - (sumHi - sumLo);
    const uint64_t num = countLo * d + ramp;
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
        if (v > 1638) w = w * (2048 - v) / 409;
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
        if (!(X + Y + Z > 1e-5f) || !(y > 0.0)) y = 0.0;
        double v = 1.0;
        if (y < HUGE_VAL) {
            if (lift) y = std::pow(y, 1.2 * e);
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

// The window of block column X covers the slots X − K … X + K. A strip of m neighbouring block
// columns Xs … Xs + m − 1 shares the slots Xs + m − 1 − K … Xs + K (the core, one histogram with
// prefix tables); what each block has beyond the core lies in the "extra" slots: the m − 1 slots left
// of the core followed by the m − 1 slots right of it. Block j's extras are exactly extra[j … j+m−2],
// so each block keeps a small histogram of those columns. Per row step the core moves once for all m
// blocks instead of once per block.
bool localContrast(const localContrast_threadParams_t& p) {
    const int w = p.width, h = p.height;
    if (w <= 0 || h <= 0 || !p.source || !p.target || !p.samples) return false;
    const int gw = (w + 1) / 2, gh = (h + 1) / 2;
    // Half-size in grid units. Real windows are a fraction of the picture; the cap keeps sample counts
    // and the rank arithmetic inside 64 bits for any caller.
    const int K = std::min(std::max(0, p.k) / 2, 1 << 18);
    const bool panorama = p.panorama != 0;
    const int stripWidth = std::min(K >= kLargeWindow ? kStripWidthLarge : kStripWidthSmall, 2 * K + 1);
    int widths[kBins];
    localContrastRampTable(p.constantWidth != 0, widths);

    auto core = std::make_unique<prefixHistogram>();
    std::vector<std::unique_ptr<summaryHistogram>> blocks;
    for (int j = 0; j < stripWidth; ++j)
        blocks.push_back(std::make_unique<summaryHistogram>());
    std::vector<columnRun> coreRuns;
    std::vector<int> extraColumns;
    std::vector<uint16_t> extraOut, extraIn;
    std::vector<uint64_t> blockColumns(size_t(stripWidth), 0);

    for (int Xs = p.firstColumn / 2; 2 * Xs < p.endColumn; Xs += stripWidth) {
        const int m = std::min(stripWidth, (p.endColumn - 2 * Xs + 1) / 2);
        const int extras = 2 * (m - 1);
        const int64_t firstSlot = int64_t(Xs) - K;

        coreRuns.clear();
        uint64_t coreColumns = 0;
        for (int64_t q = m - 1; q <= 2 * K; ++q) {
            const int c = slotColumn(firstSlot + q, w, gw, panorama);
            appendColumn(coreRuns, c);
            coreColumns += c >= 0 ? 1 : 0;
        }
        extraColumns.resize(size_t(extras));
        for (int q = 0; q < m - 1; ++q) {
            extraColumns[size_t(q)] = slotColumn(firstSlot + q, w, gw, panorama);
            extraColumns[size_t(m - 1 + q)] = slotColumn(firstSlot + 2 * K + 1 + q, w, gw, panorama);
        }
        for (int j = 0; j < m; ++j) {
            uint64_t n = coreColumns;
            for (int q = j; q < j + m - 1; ++q)
                n += extraColumns[size_t(q)] >= 0 ? 1 : 0;
            blockColumns[size_t(j)] = n;
        }
        extraOut.assign(size_t(extras), kNoSample);
        extraIn.assign(size_t(extras), kNoSample);
        auto gatherExtras = [&](const uint16_t* row, std::vector<uint16_t>& into) {
            for (int q = 0; q < extras; ++q) {
                const int c = extraColumns[size_t(q)];
                into[size_t(q)] = c >= 0 ? row[c] : kNoSample;
            }
        };

        core->clear();
        for (int j = 0; j < m; ++j)
            blocks[size_t(j)]->clear();
        for (int Y = 0; Y < gh; ++Y) {
            const uint16_t* out = Y - K - 1 >= 0 ? p.samples + size_t(Y - K - 1) * size_t(gw) : nullptr;
            const uint16_t* in = Y + K < gh ? p.samples + size_t(Y + K) * size_t(gw) : nullptr;
            if (Y == 0) {
                for (int r = 0; r <= std::min(K, gh - 1); ++r) {
                    const uint16_t* row = p.samples + size_t(r) * size_t(gw);
                    for (const columnRun& run : coreRuns)
                        core->add(row + run.start, run.count);
                    gatherExtras(row, extraIn);
                    for (int j = 0; j < m; ++j)
                        blocks[size_t(j)]->add(extraIn.data() + j, m - 1);
                }
            } else {
                for (const columnRun& run : coreRuns)
                    core->slide(out ? out + run.start : nullptr, in ? in + run.start : nullptr, run.count);
                if (out) gatherExtras(out, extraOut);
                if (in) gatherExtras(in, extraIn);
                for (int j = 0; j < m; ++j)
                    blocks[size_t(j)]->slide(out ? extraOut.data() + j : nullptr,
                                             in ? extraIn.data() + j : nullptr, m - 1);
            }
            core->prepareQueries();
            if ((Y & 15) == 15 && abortRequested.load(std::memory_order_relaxed)) return false;

            const uint64_t rows = uint64_t(std::min(Y + K, gh - 1) - std::max(Y - K, 0) + 1);
            const int y = 2 * Y;
            const bool lower = y + 1 < h;
            for (int j = 0; j < m; ++j) {
                summaryHistogram& rest = *blocks[size_t(j)];
                rest.prepareQueries();
                const uint64_t n = rows * blockColumns[size_t(j)];
                const int x = 2 * (Xs + j);
                const bool right = x + 1 < w;
                const size_t i0 = size_t(y) * size_t(w) + size_t(x);
                p.target[i0] = rankOf(*core, rest, p.source[i0], widths, n);
                if (right) p.target[i0 + 1] = rankOf(*core, rest, p.source[i0 + 1], widths, n);
                if (lower) {
                    const size_t i1 = i0 + size_t(w);
                    p.target[i1] = rankOf(*core, rest, p.source[i1], widths, n);
                    if (right) p.target[i1 + 1] = rankOf(*core, rest, p.source[i1 + 1], widths, n);
                }
            }
        }
        addProgress(uint64_t(2 * m));
        if (abortRequested.load(std::memory_order_relaxed)) return false;
    }
    return true;
}

bool runLocalContrastPrepare(const float* hdr, int width, int height, double lcCorrection,
                             uint16_t* prepared) {
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

bool runLocalContrast(const uint16_t* prepared, int width, int height, int k, bool panorama,
                      bool constantWidth, uint16_t* samples, uint16_t* target) {
    if (width <= 0 || height <= 0) return false;
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
