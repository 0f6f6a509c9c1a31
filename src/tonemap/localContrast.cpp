#include "tonemap/localContrast.h"

#include "base/parallelFor.h"
#include "base/rgbBuffers.h"
#include "base/runContext.h"
#include "tonemap/fastPow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>
#include <vector>

// The filter's inner loops (segment moves, partial sums) are short fixed-length loops that only the
// full vectoriser handles.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("O3")
#endif

namespace halvora {

namespace {

constexpr int kBins = kLocalHistogramTop + 1; // values 0 … 2048
constexpr int kSegShift = 6;                  // the fine bins are grouped in segments of 64 values
constexpr int kSegSize = 1 << kSegShift;
constexpr int kSegments = (kBins + kSegSize - 1) >> kSegShift; // 33; the last holds only 2048
constexpr int kPaddedBins = kSegments * kSegSize;
// The window's fine bins are brought up to date in halves of a segment: a query below t reads the
// half between t and the nearer segment boundary.
constexpr int kHalf = kSegSize / 2;
constexpr int kHalves = 2 * kSegments;
// Block columns swept together from one start window (see localContrast). Wider strips slide the
// start window less often per block but keep more move histograms; wide windows gain from wider
// strips (measured on 12 megapixels: 64 for the fine window, 256 for the medium and coarse ones).
constexpr int kStripBlocks = 64;
constexpr int kStripBlocksLarge = 256;
constexpr int kLargeWindow = 128;

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

// Fine bins with a per-segment summary: the count and the sum of value offsets within the segment
// (v mod 64) of each 64 values. The fine bins lie in half segments of 32 values, `halfStride` apart:
// a window keeps its halves side by side, the move histograms keep each half of all moves side by
// side so that bringing one half of the window up to date reads one contiguous run. Everything counts modulo
// the width of its unsigned type: a move histogram holds the difference of two columns, which may be
// negative, but whatever it is added to holds true counts that fit. Bin type B holds the largest count (or
// difference) of a bin, C the largest segment count or offset sum of a window.
template <class B, class C> struct segmentedHistogram {
    B* bins;           // kHalves halves of kHalf bins, `halfStride` apart
    size_t halfStride; // kHalf for a contiguous histogram
    C* count;          // kSegments
    C* offset;         // kSegments

    void add(const uint16_t* s, int n) const {
        for (int i = 0; i < n; ++i)
            add1(s[i]);
    }
    void remove(const uint16_t* s, int n) const {
        for (int i = 0; i < n; ++i)
            remove1(s[i]);
    }
    B& bin(unsigned v) const { return bins[size_t(v / kHalf) * halfStride + (v % kHalf)]; }
    void add1(unsigned v) const {
        bin(v) = B(bin(v) + 1u);
        count[v >> kSegShift] += 1u;
        offset[v >> kSegShift] += C(v & (kSegSize - 1));
    }
    void remove1(unsigned v) const {
        bin(v) = B(bin(v) - 1u);
        count[v >> kSegShift] -= 1u;
        offset[v >> kSegShift] -= C(v & (kSegSize - 1));
    }
};

// Adds `moves` consecutive move histograms of one half segment (kHalf bins each, side by side) to
// that half of the window's fine bins. The moves are first summed in their own narrow type, modulo
// its width: the caller passes no more moves than keep the true sum within its signed range, so the
// sum read as signed is exact; it is widened once.
template <class W, class B> inline void addMoves(W* __restrict win, const B* __restrict diff, int moves) {
    using signedB = std::make_signed_t<B>;
    B sum[kHalf] = {};
    for (int i = 0; i < moves; ++i)
        for (int q = 0; q < kHalf; ++q)
            sum[q] = B(sum[q] + diff[size_t(i) * kHalf + size_t(q)]);
    for (int q = 0; q < kHalf; ++q)
        win[q] = W(win[q] + W(signedB(sum[q])));
}

// ⌊num × 32640 / den⌋ (num ≤ den), stored as 32640 from 32639 on. `estimate` is the quotient in
// floating point (from reciprocals, so far from exact but within one of it); exact integer
// products correct it, which is much cheaper than a 64-bit division.
inline uint16_t scaledShare(uint64_t num, uint64_t den, double estimate) {
    const uint64_t a = num * uint64_t(kFullScale);
    uint64_t q = uint64_t(estimate);
    if (q * den > a)
        --q;
    else if ((q + 1) * den <= a)
        ++q;
    return q >= uint64_t(kFullScale - 1) ? uint16_t(kFullScale) : uint16_t(q);
}

// Ramp limits of every value: lo, hi and 32640 / (hi − lo).
struct rampLimits_t {
    int lo[kBins];
    int hi[kBins];
    double scale[kBins];
};

void rampLimits(bool constantWidth, rampLimits_t& r) {
    int widths[kBins];
    localContrastRampTable(constantWidth, widths);
    for (int v = 0; v < kBins; ++v) {
        r.lo[v] = std::max(v - widths[v], 0);
        r.hi[v] = std::min(v + widths[v] / 2, kLocalHistogramTop);
        r.scale[v] = double(kFullScale) / double(r.hi[v] - r.lo[v]);
    }
}

// Move histograms of type B (the column entering minus the column leaving, one per move of a strip),
// window bins of type W, window segment counts and offset sums of type C.
template <class B, class W, class C> struct stripFilter {
    const localContrast_threadParams_t& p;
    const int K;
    const int strip;      // block columns per strip
    const int chunkMoves; // moves summed in type B before they are added to the window
    rampLimits_t ramps;
    const int gw, gh;
    const bool panorama;

    // Start window (the strip's first block column) and the move histograms: move i takes the window
    // from block i to block i + 1. The move bins are laid out half segment by half segment: half u of
    // move i starts at (u × strip + i) × kHalf.
    std::vector<W> startBins;
    std::vector<C> startCount, startOffset;
    std::vector<B> moveBins;
    std::vector<C> moveCount, moveOffset;
    // The sweeping window: per-segment summary kept current, fine bins brought up to date lazily.
    std::vector<W> winBins;
    C winCount[kSegments], winOffset[kSegments];
    int halfAt[kHalves]; // block each half of winBins was last brought to (−1: not yet this row)
    uint64_t countBefore[kSegments + 1], sumBefore[kSegments + 1];

    stripFilter(const localContrast_threadParams_t& params, int k, int stripBlocks)
        : p(params), K(k), strip(stripBlocks),
          // A move's difference bin lies within ± the window's rows.
          chunkMoves(int(std::max<uint64_t>(
              1, uint64_t(std::numeric_limits<std::make_signed_t<B>>::max()) /
                     uint64_t(std::max(1, std::min(2 * k + 1, (params.height + 1) / 2)))))),
          gw((params.width + 1) / 2), gh((params.height + 1) / 2), panorama(params.panorama != 0),
          startBins(kPaddedBins), startCount(kSegments), startOffset(kSegments),
          moveBins(size_t(stripBlocks) * kPaddedBins), moveCount(size_t(stripBlocks) * kSegments),
          moveOffset(size_t(stripBlocks) * kSegments), winBins(kPaddedBins) {
        rampLimits(params.constantWidth != 0, ramps);
    }

    segmentedHistogram<W, C> start() {
        return {startBins.data(), kHalf, startCount.data(), startOffset.data()};
    }
    segmentedHistogram<B, C> move(int i) {
        return {moveBins.data() + size_t(i) * kHalf, size_t(strip) * kHalf,
                moveCount.data() + size_t(i) * kSegments, moveOffset.data() + size_t(i) * kSegments};
    }

    // Brings half segment u of the sweeping window to block j.
    void catchUp(int u, int j) {
        W* win = winBins.data() + size_t(u) * kHalf;
        int at = halfAt[u];
        if (at < 0) {
            std::memcpy(win, startBins.data() + size_t(u) * kHalf, sizeof(W) * kHalf);
            at = 0;
        }
        const B* diff = moveBins.data() + size_t(u) * size_t(strip) * kHalf;
        while (at < j) {
            const int moves = std::min(j - at, chunkMoves);
            addMoves(win, diff + size_t(at) * kHalf, moves);
            at += moves;
        }
        halfAt[u] = j;
    }
    // Count and value sum of the window's samples below t (0 ≤ t ≤ 2048) at block j: the segments
    // below t's segment, and the bins of t's half segment below t (for a lower half), or the next
    // segment boundary less the bins at and above t (for an upper half). The half is summed afresh
    // for each query, branch-free so that it vectorises; the masked products fit W as the window's
    // segment offset sums do.
    void below(int t, int j, uint64_t& count, uint64_t& sum) {
        const int seg = t >> kSegShift, off = t & (kSegSize - 1);
        if (off == 0) {
            count = countBefore[seg];
            sum = sumBefore[seg];
            return;
        }
        const int u = t / kHalf;
        if (halfAt[u] != j) catchUp(u, j);
        const W* win = winBins.data() + size_t(u) * kHalf;
        const int r = t % kHalf;
        W c = 0, wsum = 0;
        const uint64_t base = uint64_t(seg << kSegShift);
        if (off < kHalf) {
            for (int q = 0; q < kHalf; ++q) {
                const W m = W(0) - W(q < r);
                c += win[q] & m;
                wsum += W(win[q] * W(q)) & m;
            }
            count = countBefore[seg] + c;
            sum = sumBefore[seg] + c * base + wsum;
        } else {
            for (int q = 0; q < kHalf; ++q) {
                const W m = W(0) - W(q >= r);
                c += win[q] & m;
                wsum += W(win[q] * W(kHalf + q)) & m;
            }
            count = countBefore[seg + 1] - c;
            sum = sumBefore[seg + 1] - (c * base + wsum);
        }
    }

    // ⌊(below + ramp) / n × 32640⌋ with ramp = Σ count(j) × (hi − j) / (hi − lo) over lo ≤ j < hi, in
    // exact integer arithmetic so the result does not depend on how the window is split or summed;
    // 32639 and above are stored as 32640.
    uint16_t rank(int v, int j, uint64_t n, double inverseN) {
        const int lo = ramps.lo[v], hi = ramps.hi[v];
        uint64_t countLo, sumLo, countHi, sumHi;
        below(lo, j, countLo, sumLo);
        below(hi, j, countHi, sumHi);
        const uint64_t d = uint64_t(hi - lo);
        const uint64_t ramp = uint64_t(hi) * (countHi - countLo) - (sumHi - sumLo);
        const uint64_t num = countLo * d + ramp;
        return scaledShare(num, n * d, double(num) * ramps.scale[v] * inverseN);
    }

    bool run() {
        const int w = p.width, h = p.height;
        std::vector<columnRun> startRuns;
        std::vector<int> leaving(static_cast<size_t>(strip)), entering(static_cast<size_t>(strip));
        std::vector<int64_t> columnsAt(static_cast<size_t>(strip));
        for (int Xs = p.firstColumn / 2; 2 * Xs < p.endColumn; Xs += strip) {
            const int m = std::min(strip, (p.endColumn - 2 * Xs + 1) / 2);
            const int moves = m - 1;
            startRuns.clear();
            int64_t startColumns = 0;
            for (int64_t s = int64_t(Xs) - K; s <= int64_t(Xs) + K; ++s) {
                const int c = slotColumn(s, w, gw, panorama);
                appendColumn(startRuns, c);
                startColumns += c >= 0 ? 1 : 0;
            }
            // Move i: slot Xs + i − K leaves, Xs + i + 1 + K enters.
            columnsAt[0] = startColumns;
            for (int i = 0; i < moves; ++i) {
                leaving[size_t(i)] = slotColumn(int64_t(Xs) + i - K, w, gw, panorama);
                entering[size_t(i)] = slotColumn(int64_t(Xs) + i + 1 + K, w, gw, panorama);
                columnsAt[size_t(i) + 1] =
                    columnsAt[size_t(i)] - (leaving[size_t(i)] >= 0) + (entering[size_t(i)] >= 0);
            }
            std::fill(startBins.begin(), startBins.end(), W(0));
            std::fill(startCount.begin(), startCount.end(), C(0));
            std::fill(startOffset.begin(), startOffset.end(), C(0));
            std::fill(moveBins.begin(), moveBins.end(), B(0));
            std::fill(moveCount.begin(), moveCount.begin() + ptrdiff_t(moves) * kSegments, C(0));
            std::fill(moveOffset.begin(), moveOffset.begin() + ptrdiff_t(moves) * kSegments, C(0));

            auto addRow = [&](const uint16_t* row) {
                for (const columnRun& run : startRuns)
                    start().add(row + run.start, run.count);
                for (int i = 0; i < moves; ++i) {
                    if (entering[size_t(i)] >= 0) move(i).add1(row[entering[size_t(i)]]);
                    if (leaving[size_t(i)] >= 0) move(i).remove1(row[leaving[size_t(i)]]);
                }
            };
            auto removeRow = [&](const uint16_t* row) {
                for (const columnRun& run : startRuns)
                    start().remove(row + run.start, run.count);
                for (int i = 0; i < moves; ++i) {
                    if (entering[size_t(i)] >= 0) move(i).remove1(row[entering[size_t(i)]]);
                    if (leaving[size_t(i)] >= 0) move(i).add1(row[leaving[size_t(i)]]);
                }
            };

            for (int Y = 0; Y < gh; ++Y) {
                if (Y == 0) {
                    for (int r = 0; r <= std::min(K, gh - 1); ++r)
                        addRow(p.samples + size_t(r) * size_t(gw));
                } else {
                    if (Y - K - 1 >= 0) removeRow(p.samples + size_t(Y - K - 1) * size_t(gw));
                    if (Y + K < gh) addRow(p.samples + size_t(Y + K) * size_t(gw));
                }
                if ((Y & 15) == 15 && halvora::cancelRequested()) return false;

                const uint64_t rows = uint64_t(std::min(Y + K, gh - 1) - std::max(Y - K, 0) + 1);
                const int y = 2 * Y;
                const bool lower = y + 1 < h;
                for (int s = 0; s < kSegments; ++s) {
                    winCount[s] = startCount[size_t(s)];
                    winOffset[s] = startOffset[size_t(s)];
                }
                for (int u = 0; u < kHalves; ++u)
                    halfAt[u] = -1;
                countBefore[0] = sumBefore[0] = 0;
                for (int j = 0; j < m; ++j) {
                    if (j > 0) {
                        const C* dc = moveCount.data() + size_t(j - 1) * kSegments;
                        const C* dOff = moveOffset.data() + size_t(j - 1) * kSegments;
                        for (int s = 0; s < kSegments; ++s) {
                            winCount[s] = C(winCount[s] + dc[s]);
                            winOffset[s] = C(winOffset[s] + dOff[s]);
                        }
                    }
                    const int x = 2 * (Xs + j);
                    const bool right = x + 1 < w;
                    const size_t i0 = size_t(y) * size_t(w) + size_t(x);
                    const size_t i1 = i0 + size_t(w);
                    // The block's values (the top bin holds everything above it); the segment totals
                    // below are only summed as far as the highest ramp end needs.
                    const int v00 = std::min<int>(p.source[i0], kLocalHistogramTop);
                    const int v01 = right ? std::min<int>(p.source[i0 + 1], kLocalHistogramTop) : v00;
                    const int v10 = lower ? std::min<int>(p.source[i1], kLocalHistogramTop) : v00;
                    const int v11 =
                        lower && right ? std::min<int>(p.source[i1 + 1], kLocalHistogramTop) : v00;
                    const int top = std::max(std::max(ramps.hi[v00], ramps.hi[v01]),
                                             std::max(ramps.hi[v10], ramps.hi[v11]));
                    const int limit = std::min(kSegments, (top >> kSegShift) + 1);
                    uint64_t cb = 0, sb = 0;
                    for (int s = 0; s < limit; ++s) {
                        cb += winCount[s];
                        sb += uint64_t(winOffset[s]) + uint64_t(winCount[s]) * uint64_t(s << kSegShift);
                        countBefore[s + 1] = cb;
                        sumBefore[s + 1] = sb;
                    }
                    const uint64_t n = rows * uint64_t(columnsAt[size_t(j)]);
                    const double inverseN = 1.0 / double(n);
                    p.target[i0] = rank(v00, j, n, inverseN);
                    if (right) p.target[i0 + 1] = rank(v01, j, n, inverseN);
                    if (lower) {
                        p.target[i1] = rank(v10, j, n, inverseN);
                        if (right) p.target[i1 + 1] = rank(v11, j, n, inverseN);
                    }
                }
            }
            addProgress(uint64_t(2 * m));
            if (halvora::cancelRequested()) return false;
        }
        return true;
    }
};

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
    // Y^(1.2e) raised to 0.75e is one power, Y^(0.9e²), when the first step applies.
    const double exponent = 1.2 * e < 1.0 ? 0.9 * e * e : 0.75 * e;
    for (int64_t i = p.firstPixel; i < p.endPixel; ++i) {
        const float r = p.hdr[3 * i], g = p.hdr[3 * i + 1], b = p.hdr[3 * i + 2];
        const float X = 0.4124564f * r + 0.3575761f * g + 0.1804375f * b;
        const float Y = 0.2126729f * r + 0.7151522f * g + 0.072175f * b;
        const float Z = 0.0193339f * r + 0.119192f * g + 0.9503041f * b;
        double y = Y;
        // !(… > …) also catches NaN; negative luminance has no power.
        if (!(X + Y + Z > 1e-5f) || !(y > 0.0)) y = 0.0;
        // A hostile lcCorrection (NaN, huge) takes the library's pow, whose result is clamped to 1.
        const int v = y < HUGE_VAL ? fastPow::scaledPowFloor(y, exponent, kFullScale) : kFullScale;
        p.target[i] = uint16_t(v >> 4);
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

// The window of block column X covers the slots X − K … X + K (grid columns, wrapped or clipped) and
// the grid rows Y − K … Y + K. Block columns are taken in strips: the window of a strip's first block
// slides down the picture as one histogram, and for each move within the strip the difference of the
// column entering and the column leaving slides down with it. Along a row the window then moves right one
// column at a time: its 64-value segment summaries are kept current, its fine bins are brought up to date
// lazily, only for the half segments a query needs. A move costs a few dozen operations whatever K is.
// With GCC the whole filter is built twice, for AVX2 (picked at run time where the CPU has it) and for
// the base instruction set: the per-query sums of 32 bins take half the instructions with AVX2.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
__attribute__((target_clones("avx2", "default"), flatten))
#endif
bool localContrast(const localContrast_threadParams_t& p) {
    const int w = p.width, h = p.height;
    // Blocks start at even columns; an odd start would write into the neighbouring range.
    if (w <= 0 || h <= 0 || !p.source || !p.target || !p.samples || (p.firstColumn & 1) ||
        p.firstColumn < 0 || p.endColumn > w)
        return false;
    const int gw = (w + 1) / 2, gh = (h + 1) / 2;
    // Half-size in grid units. Real windows are a fraction of the picture; the cap keeps sample counts
    // and the rank arithmetic inside 64 bits for any caller.
    const int K = std::min(std::max(0, p.k) / 2, 1 << 18);
    const int strip = K >= kLargeWindow ? kStripBlocksLarge : kStripBlocks;
    // Counts per bin: a move's difference bin lies within ± the window's rows (read as signed), a
    // window bin holds at most all samples; a segment's offset sum and a half segment's weighted sum
    // reach 63 × the sample count.
    const uint64_t rowsMax = uint64_t(std::min(2 * K + 1, gh));
    const uint64_t columnsMax = p.panorama ? uint64_t(2 * K + 1) : uint64_t(std::min(2 * K + 1, gw));
    if (rowsMax <= 0x7FFF && rowsMax * columnsMax * kSegSize <= 0xFFFFFFFFu) {
        auto f = std::make_unique<stripFilter<uint16_t, uint32_t, uint32_t>>(p, K, strip);
        return f->run();
    }
    auto f = std::make_unique<stripFilter<uint32_t, uint64_t, uint64_t>>(p, K, strip);
    return f->run();
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
    return !halvora::cancelRequested();
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
    return !halvora::cancelRequested();
}

} // namespace halvora
