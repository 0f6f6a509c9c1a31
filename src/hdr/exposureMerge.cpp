#include "hdr/exposureMerge.h"

#include "base/rgbBuffers.h"
#include "base/runContext.h"
#include "hdr/responseCurve.h"

#include <algorithm>
#include <cfloat>
#include <sys/mman.h>
#include <unistd.h>

namespace halvora {
namespace {

constexpr int kMaxSample = kSampleTableSize - 1;

inline float finiteSample(double v) {
    return float(std::min(v, double(FLT_MAX)));
}

// Row bookkeeping shared by the three loops: progress every `width` pixels, abort at a row start.
struct rowCounter {
    int left = 0;
    bool step(int width) {
        if (left == 0) {
            addProgress(10);
            left = width;
            if (cancelRequested()) return false;
        }
        --left;
        return true;
    }
};

inline void store(float* out, const double c[3], double& lo, double& hi) {
    for (int ch = 0; ch < 3; ++ch) {
        const float v = finiteSample(c[ch]);
        out[ch] = v;
        lo = std::min(lo, double(v));
        hi = std::max(hi, double(v));
    }
}

// Blend with the anti-ghosting weights mᵢ: photos chosen for a ghost region replace the normal mean.
// Returns false (sum untouched) when no photo has a mask byte here; otherwise sum is to be divided by 255.
bool ghostBlend(const HDRgeneration_threadParams_t& p, const exposureMergeInputs_t& c, int k,
                const int (*rgb)[3], double sum[3], double sumW) {
    int S = 0;
    int m[kMaxMergePhotos];
    for (int i = 0; i < c.photoCount; ++i) {
        m[i] = p.antiGhostMask[i] ? p.antiGhostMask[i][k] : 0;
        S += m[i];
    }
    if (S == 0) return false;
    double f = 1.0;
    if (S > 255) {
        f = 255.0 / S;
        S = 255;
    }
    double mean[3], acc[3];
    for (int ch = 0; ch < 3; ++ch) {
        mean[ch] = sum[ch] / sumW;
        acc[ch] = (255 - S) * mean[ch];
    }
    double d[kMaxMergePhotos];
    bool nearClipping = false;
    for (int i = 0; i < c.photoCount; ++i) {
        const int M = std::max({rgb[i][0], rgb[i][1], rgb[i][2]});
        d[i] = c.closenessBright[M] + c.closenessDark[M];
        nearClipping = nearClipping || d[i] > 0.05;
    }
    double g = 0;
    if (nearClipping && c.repair) {
        inconsistencyPhoto photos[kMaxMergePhotos];
        uint16_t samples[kMaxMergePhotos][3];
        for (int i = 0; i < c.photoCount; ++i) {
            for (int ch = 0; ch < 3; ++ch)
                samples[i][ch] = uint16_t(rgb[i][ch]);
            photos[i] = {samples[i], c.ghostExposure[i], c.lnExposure[i]};
        }
        g = pixelInconsistency(photos, c.photoCount, c.responseCurve, c.inconsistencyWeight) / 0.1;
    }
    for (int i = 0; i < c.photoCount; ++i) {
        const double mf = m[i] * f;
        for (int ch = 0; ch < 3; ++ch) {
            const double lin = c.responseCurve[ch][rgb[i][ch]] * mf * c.invExposure[i];
            if (!c.repair || d[i] <= 0.05) {
                acc[ch] += lin;
            } else {
                const double t = std::clamp(2.0 * g - d[i], 0.0, 1.0);
                acc[ch] += (lin * (1.0 - d[i]) + mean[ch] * mf * d[i]) * (1.0 - t) + t * lin;
            }
        }
    }
    for (int ch = 0; ch < 3; ++ch)
        sum[ch] = acc[ch];
    return true;
}

void trueHDRchunk(HDRgeneration_threadParams_t& p) {
    const exposureMergeInputs_t& c = *p.inputs;
    double lo = 9000000000.0, hi = 0;
    rowCounter rows;
    bool ghosts = false;
    for (int i = 0; i < c.photoCount; ++i)
        ghosts = ghosts || (c.ghostRemoval && p.antiGhostMask[i]);
    int rgb[kMaxMergePhotos][3];
    // Clamped samples of every photo at pixel k, for the rare paths that need them all.
    const auto gather = [&](int k) {
        for (int i = 0; i < c.photoCount; ++i)
            for (int ch = 0; ch < 3; ++ch)
                rgb[i][ch] = std::min<int>(p.pixels[i][size_t(k) * 3 + ch], kMaxSample);
    };
    for (int k = 0; k < p.pixelCount && rows.step(p.width); ++k) {
        double sum[3] = {0, 0, 0}, sumW = 0;
        for (int i = 0; i < c.photoCount; ++i) {
            const uint16_t* px = p.pixels[i] + size_t(k) * 3;
            const int r = std::min<int>(px[0], kMaxSample), g = std::min<int>(px[1], kMaxSample),
                      b = std::min<int>(px[2], kMaxSample);
            const double w = c.weightTable[i][(r + g + b) / 3];
            const double f = w * c.invExposure[i];
            sum[0] += c.responseCurve[0][r] * f;
            sum[1] += c.responseCurve[1][g] * f;
            sum[2] += c.responseCurve[2][b] * f;
            sumW += w;
        }
        bool gathered = false;
        if (sumW == 0) {
            // No photo has weight here: the brightest under-exposed one, else the darkest over-exposed.
            gather(k);
            gathered = true;
            int over = -1, under = -1;
            for (int i = 0; i < c.photoCount; ++i) {
                const int* v = rgb[i];
                if (v[0] > c.highLimit[i] || v[1] > c.highLimit[i] || v[2] > c.highLimit[i]) {
                    if (over < 0 || c.lnExposure[i] < c.lnExposure[over]) over = i;
                } else if (!(v[0] >= c.lowLimit[i] && v[1] >= c.lowLimit[i] && v[2] >= c.lowLimit[i])) {
                    if (under < 0 || c.lnExposure[i] > c.lnExposure[under]) under = i;
                }
            }
            const int chosen = under >= 0 ? under : over;
            for (int ch = 0; ch < 3; ++ch)
                sum[ch] = chosen >= 0 ? c.responseCurve[ch][rgb[chosen][ch]] * c.invExposure[chosen] : 0.0;
            sumW = 1;
        }
        if (ghosts) {
            bool any = false;
            for (int i = 0; i < c.photoCount; ++i)
                any = any || (p.antiGhostMask[i] && p.antiGhostMask[i][k]);
            if (any) {
                if (!gathered) gather(k);
                if (ghostBlend(p, c, k, rgb, sum, sumW)) sumW = 255;
            }
        }
        const double out[3] = {sum[0] / sumW, sum[1] / sumW, sum[2] / sumW};
        store(p.output + size_t(k) * 3, out, lo, hi);
    }
    p.minValue = lo;
    p.maxValue = hi;
}

void smartMergeChunk(HDRgeneration_threadParams_t& p) {
    const exposureMergeInputs_t& c = *p.inputs;
    double lo = 9000000000.0, hi = 0;
    rowCounter rows;
    for (int k = 0; k < p.pixelCount && rows.step(p.width); ++k) {
        double sum[3] = {0, 0, 0}, plain[3] = {0, 0, 0}, sumW = 0;
        for (int i = 0; i < c.photoCount; ++i) {
            const uint16_t* px = p.pixels[i] + size_t(k) * 3;
            const int maskValue = std::min<int>(p.smartMergeMask[i][k], kMaxSample);
            const double w = std::clamp(c.weightTable[i][maskValue] + c.smartMergeOffset, 0.0, 1.0);
            for (int ch = 0; ch < 3; ++ch) {
                const int v = std::min<int>(px[ch], kMaxSample);
                sum[ch] += v * w;
                plain[ch] += v;
            }
            sumW += w;
        }
        double out[3];
        for (int ch = 0; ch < 3; ++ch) // every weight 0 (strength 5 at a tent's end): the plain mean
            out[ch] = sumW > 0 ? sum[ch] / sumW : plain[ch] / c.photoCount;
        store(p.output + size_t(k) * 3, out, lo, hi);
    }
    p.minValue = lo;
    p.maxValue = hi;
}

void stackChunk(HDRgeneration_threadParams_t& p) {
    const exposureMergeInputs_t& c = *p.inputs;
    double lo = 9000000000.0, hi = 0;
    rowCounter rows;
    for (int k = 0; k < p.pixelCount && rows.step(p.width); ++k) {
        double sum[3] = {0, 0, 0};
        for (int i = 0; i < c.photoCount; ++i) {
            const uint16_t* px = p.pixels[i] + size_t(k) * 3;
            for (int ch = 0; ch < 3; ++ch)
                sum[ch] += std::min<int>(px[ch], kMaxSample);
        }
        const double out[3] = {sum[0] / c.photoCount, sum[1] / c.photoCount, sum[2] / c.photoCount};
        store(p.output + size_t(k) * 3, out, lo, hi);
    }
    p.minValue = lo;
    p.maxValue = hi;
}

// Fills the page tables of a mapped window in one call: page faults one by one cost more than the
// merge itself in a virtual machine. Only a hint; failure (older kernels) changes nothing.
void prefault(const void* address, size_t bytes) {
    static const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t start = reinterpret_cast<uintptr_t>(address) & ~(page - 1);
    const uintptr_t end = reinterpret_cast<uintptr_t>(address) + bytes;
#ifdef MADV_POPULATE_READ
    madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_READ);
#else
    madvise(reinterpret_cast<void*>(start), end - start, MADV_WILLNEED);
#endif
}

} // namespace

void HDRgeneration(HDRgeneration_threadParams_t& p) {
    if (p.mapped)
        for (int i = 0; i < p.inputs->photoCount; ++i) {
            prefault(p.pixels[i], size_t(p.pixelCount) * 6);
            if (p.antiGhostMask[i]) prefault(p.antiGhostMask[i], size_t(p.pixelCount));
        }
    const int32_t method = p.inputs->method;
    if (method == mergeTrueHDR)
        trueHDRchunk(p);
    else if (method == mergeSmartMerge)
        smartMergeChunk(p);
    else
        stackChunk(p);
}

} // namespace halvora
