#include "hdr/noiseFilter.h"

#include "base/debugLog.h"
#include "base/parallelFor.h"
#include "base/rgbBuffers.h"
#include "base/runContext.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#ifdef __SSE2__
#include <immintrin.h>
#endif

namespace halvora {
namespace {

// Samples above this are clamped before the square root, so squaring back can never overflow.
constexpr float kSampleCeiling = 1e30f;

struct toSqrtYCbCr_threadParams_t {
    float* rgb = nullptr;
    size_t begin = 0, end = 0;
    bool wantHistogram = false;
    uint64_t histogram[256] = {};
};

struct fromSqrtYCbCr_threadParams_t {
    float* rgb = nullptr;
    size_t begin = 0, end = 0;
};

/// Square roots of `count` samples in place, negative and NaN samples as 0, huge ones clamped.
/// Four at a time where SSE is there: the square root bounds this conversion.
void sanitizedSqrt(float* s, size_t count) {
    size_t i = 0;
#ifdef __SSE2__
    const __m128 zero = _mm_setzero_ps(), ceiling = _mm_set1_ps(kSampleCeiling);
    for (; i + 4 <= count; i += 4) {
        // maxps yields its second operand for NaN, so NaN becomes 0.
        const __m128 x = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(s + i), zero), ceiling);
        _mm_storeu_ps(s + i, _mm_sqrt_ps(x));
    }
#endif
    for (; i < count; ++i) {
        const float x = s[i] > 0.0f ? s[i] : 0.0f;
        s[i] = std::sqrt(x < kSampleCeiling ? x : kSampleCeiling);
    }
}

void toSqrtYCbCr(toSqrtYCbCr_threadParams_t& p) {
    constexpr size_t kBlock = 1024; // pixels per block, so the second loop reads from cache
    uint64_t* histogram = p.histogram;
    const bool wantHistogram = p.wantHistogram;
    for (size_t first = p.begin; first < p.end; first += kBlock) {
        const size_t last = std::min(p.end, first + kBlock);
        sanitizedSqrt(p.rgb + first * 3, (last - first) * 3);
        for (size_t i = first; i < last; ++i) {
            float* s = p.rgb + i * 3;
            const float r = s[0], g = s[1], b = s[2];
            const float y = 0.299f * r + 0.587f * g + 0.114f * b;
            s[0] = y;
            s[1] = 0.5f * b - 0.1687f * r - 0.3313f * g + 0.5f;
            s[2] = 0.5f * r - 0.4187f * g - 0.0813f * b + 0.5f;
            if (wantHistogram) {
                const float f = y * 255.0f;
                const int bin = f >= 255.0f ? 255 : (f > 0.0f ? int(f) : 0);
                ++histogram[bin];
            }
        }
    }
}

void fromSqrtYCbCr(const fromSqrtYCbCr_threadParams_t& p) {
    for (size_t i = p.begin; i < p.end; ++i) {
        float* s = p.rgb + i * 3;
        const float y = s[0], cb = s[1] - 0.5f, cr = s[2] - 0.5f;
        const float r = std::max(0.0f, y + 1.402f * cr);
        const float g = std::max(0.0f, y - 0.34414f * cb - 0.71414f * cr);
        const float b = std::max(0.0f, y + 1.772f * cb);
        s[0] = r * r;
        s[1] = g * g;
        s[2] = b * b;
    }
}

/// Index of sample i of an axis of n samples, mirrored at both ends (-k → k, n-1+k → n-1-k), as
/// often as needed for spacings wider than the axis.
inline int mirrorIndex(int i, int n) {
    if (i >= 0 && i < n) return i;
    if (n == 1) return 0;
    const int period = 2 * (n - 1);
    i %= period;
    if (i < 0) i += period;
    return i < n ? i : period - i;
}

/// (1, 2, 1) / 4 with taps d apart along one row.
void smoothRow(const float* src, float* dst, int w, int d) {
    const int lo = std::min(d, w);
    const int hi = std::max(lo, w - d);
    for (int x = 0; x < lo; ++x)
        dst[x] = (src[mirrorIndex(x - d, w)] + 2.0f * src[x] + src[mirrorIndex(x + d, w)]) * 0.25f;
    int x = lo;
#ifdef __SSE2__
    // Same operations in the same order as the scalar loop, so the results are the same bits.
    const __m128 two = _mm_set1_ps(2.0f), quarter = _mm_set1_ps(0.25f);
    for (; x + 4 <= hi; x += 4) {
        const __m128 sum =
            _mm_add_ps(_mm_add_ps(_mm_loadu_ps(src + x - d), _mm_mul_ps(two, _mm_loadu_ps(src + x))),
                       _mm_loadu_ps(src + x + d));
        _mm_storeu_ps(dst + x, _mm_mul_ps(sum, quarter));
    }
#endif
    for (; x < hi; ++x)
        dst[x] = (src[x - d] + 2.0f * src[x] + src[x + d]) * 0.25f;
    for (x = hi; x < w; ++x)
        dst[x] = (src[mirrorIndex(x - d, w)] + 2.0f * src[x] + src[mirrorIndex(x + d, w)]) * 0.25f;
}

/// Column smoothing and soft threshold of one row: low = (r0 + 2 r1 + r2) / 4, and detail = the
/// soft-thresholded high − low (shrunk towards 0 by t, 0 inside ±t).
void lowAndDetail(const float* r0, const float* r1, const float* r2, const float* high, float* low,
                  float* detail, int w, float t) {
    int x = 0;
#ifdef __SSE2__
    const __m128 two = _mm_set1_ps(2.0f), quarter = _mm_set1_ps(0.25f);
    const __m128 upper = _mm_set1_ps(t), lower = _mm_set1_ps(-t);
    for (; x + 4 <= w; x += 4) {
        const __m128 sum = _mm_add_ps(_mm_add_ps(_mm_loadu_ps(r0 + x), _mm_mul_ps(two, _mm_loadu_ps(r1 + x))),
                                      _mm_loadu_ps(r2 + x));
        const __m128 l = _mm_mul_ps(sum, quarter);
        const __m128 hv = _mm_sub_ps(_mm_loadu_ps(high + x), l);
        _mm_storeu_ps(low + x, l);
        _mm_storeu_ps(detail + x, _mm_sub_ps(hv, _mm_min_ps(_mm_max_ps(hv, lower), upper)));
    }
#endif
    for (; x < w; ++x) {
        const float l = (r0[x] + 2.0f * r1[x] + r2[x]) * 0.25f;
        const float hv = high[x] - l;
        // Written as maxps and minps compute it, so both paths give the same bits.
        const float above = hv > -t ? hv : -t;
        const float clamped = above < t ? above : t;
        low[x] = l;
        detail[x] = hv - clamped;
    }
}

/// A working plane of w × h floats, or null when memory is short.
std::unique_ptr<float[]> allocatePlane(size_t samples) {
    return allocateBlock<float>(samples); // huge-page backed, see allocateBlock
}

/// One thread of one level of the wavelet denoise: a band of rows [rowBegin, rowEnd).
/// The level's low-pass rows are made in a ring of row-smoothed rows (2d + 1 of them), smoothed down
/// the columns, written to `target`, and the thresholded detail goes into the picture's channel.
struct waveletDenoise_params_t {
    float* picture = nullptr; ///< interleaved w × h × 3 picture (the plane P is one channel)
    int channel = 0;
    const float* source = nullptr; ///< high-pass source H; null at level 0, where H is P itself
    float* target = nullptr;       ///< new low-pass plane L; null at the last level
    int width = 0, height = 0;
    int rowBegin = 0, rowEnd = 0;
    int spacing = 1; ///< d = 2^level
    float threshold = 0;
    bool lastLevel = false;
    // Level 0 only: copies of the neighbouring bands' rows this band reads, saved before any band
    // overwrites P: rows [haloTop, rowBegin) and [rowEnd, haloBottom).
    std::unique_ptr<float[]> halo;
    int haloTop = 0, haloBottom = 0;
    bool failed = false; ///< out of memory
    bool aborted = false;
};

void gatherChannelRow(const float* picture, int w, int channel, int y, float* dst) {
    const float* s = picture + size_t(y) * w * 3 + channel;
    for (int x = 0; x < w; ++x)
        dst[x] = s[size_t(x) * 3];
}

void saveHalo(waveletDenoise_params_t& p) {
    const int w = p.width;
    p.haloTop = std::max(0, p.rowBegin - p.spacing);
    p.haloBottom = std::min(p.height, p.rowEnd + p.spacing);
    const int rows = (p.rowBegin - p.haloTop) + (p.haloBottom - p.rowEnd);
    if (rows == 0) return;
    p.halo = allocateBlock<float>(size_t(rows) * w);
    if (!p.halo) {
        p.failed = true;
        return;
    }
    float* dst = p.halo.get();
    for (int y = p.haloTop; y < p.rowBegin; ++y, dst += w)
        gatherChannelRow(p.picture, w, p.channel, y, dst);
    for (int y = p.rowEnd; y < p.haloBottom; ++y, dst += w)
        gatherChannelRow(p.picture, w, p.channel, y, dst);
}

const float* haloRow(const waveletDenoise_params_t& p, int y) {
    const size_t w = size_t(p.width);
    if (y < p.rowBegin) return p.halo.get() + size_t(y - p.haloTop) * w;
    return p.halo.get() + size_t((p.rowBegin - p.haloTop) + (y - p.rowEnd)) * w;
}

void waveletDenoise(waveletDenoise_params_t& p) {
    const int w = p.width, h = p.height, d = p.spacing, c = p.channel;
    const int ringRows = std::min(2 * d + 1, h);
    auto ring = allocateBlock<float>(size_t(ringRows) * w);
    auto gathered = allocateBlock<float>(size_t(w));     // one channel row of the picture
    auto detail = allocateBlock<float>(size_t(w));       // thresholded detail of the current row
    auto lastLow = allocateBlock<float>(size_t(w));      // the final low-pass row (last level)
    auto ringTag = allocateBlock<int>(size_t(ringRows)); // which row each slot holds
    if (!ring || !gathered || !detail || !lastLow || !ringTag) {
        p.failed = true;
        return;
    }
    std::fill(ringTag.get(), ringTag.get() + ringRows, -1);

    // Row-smoothed row y of H. Every row asked for while making output row r lies in
    // [r - d, r + d] (mirroring included), so the ring never drops a row that is still needed,
    // and a row of this band is smoothed before its P samples are overwritten.
    auto smoothedRow = [&](int y) -> const float* {
        const int slot = y % ringRows;
        float* dst = ring.get() + size_t(slot) * w;
        if (ringTag[slot] != y) {
            const float* src;
            if (p.source) {
                src = p.source + size_t(y) * w;
            } else if (y >= p.rowBegin && y < p.rowEnd) {
                gatherChannelRow(p.picture, w, c, y, gathered.get());
                src = gathered.get();
            } else {
                src = haloRow(p, y);
            }
            smoothRow(src, dst, w, d);
            ringTag[slot] = y;
        }
        return dst;
    };

    const float t = p.threshold;
    for (int y = p.rowBegin; y < p.rowEnd; ++y) {
        if (halvora::cancelRequested()) {
            p.aborted = true;
            return;
        }
        const float* r1 = smoothedRow(y);
        const float* r0 = smoothedRow(mirrorIndex(y - d, h));
        const float* r2 = smoothedRow(mirrorIndex(y + d, h));
        float* pic = p.picture + size_t(y) * w * 3 + c;
        float* dt = detail.get();
        if (!p.source) {
            // Level 0: P is H (this row is not written yet) and becomes its own thresholded detail.
            gatherChannelRow(p.picture, w, c, y, gathered.get());
            lowAndDetail(r0, r1, r2, gathered.get(), p.target + size_t(y) * w, dt, w, t);
            for (int x = 0; x < w; ++x)
                pic[size_t(x) * 3] = dt[x];
        } else if (!p.lastLevel) {
            lowAndDetail(r0, r1, r2, p.source + size_t(y) * w, p.target + size_t(y) * w, dt, w, t);
            for (int x = 0; x < w; ++x)
                pic[size_t(x) * 3] += dt[x];
        } else {
            // Last level: add the detail, then the final low-pass plane.
            const float* low = lastLow.get();
            lowAndDetail(r0, r1, r2, p.source + size_t(y) * w, lastLow.get(), dt, w, t);
            for (int x = 0; x < w; ++x) {
                float& v = pic[size_t(x) * 3];
                v = (v + dt[x]) + low[x];
            }
        }
        addProgress(2); // the row pass and the thresholding pass of this row
    }
}

/// One level of the transform over row bands; false when a band ran short of memory or was aborted.
bool denoiseLevel(float* picture, int w, int h, int channel, int level, float threshold, const float* source,
                  float* target) {
    bool haloMissing = false;
    const auto bands = parallelRecords<waveletDenoise_params_t>(
        h,
        [&](int, int64_t begin, int64_t end) {
            waveletDenoise_params_t p;
            p.picture = picture;
            p.channel = channel;
            p.width = w;
            p.height = h;
            p.rowBegin = int(begin);
            p.rowEnd = int(end);
            p.spacing = 1 << level;
            p.threshold = threshold;
            p.source = source;
            p.target = target;
            p.lastLevel = level == kDenoiseLevels - 1;
            // Level 0 filters P in place: the rows a band reads from its neighbours are copied here,
            // on the calling thread, before any band runs and overwrites them.
            if (!source) saveHalo(p);
            haloMissing = haloMissing || p.failed;
            return p;
        },
        [&haloMissing](waveletDenoise_params_t& p) {
            if (!haloMissing) waveletDenoise(p);
        });
    if (haloMissing) return false;
    for (const auto& p : bands)
        if (p.failed || p.aborted) return false;
    return true;
}

bool denoisePlane(float* picture, int w, int h, int channel, double sigma, double softness, float* planeA,
                  float* planeB) {
    float* planes[2] = {planeA, planeB};
    for (int level = 0; level < kDenoiseLevels; ++level) {
        const float threshold = float(noiseLevelThreshold(sigma, softness, level));
        const float* source = level == 0 ? nullptr : planes[(level - 1) & 1];
        float* target = level == kDenoiseLevels - 1 ? nullptr : planes[level & 1];
        if (!denoiseLevel(picture, w, h, channel, level, threshold, source, target)) return false;
        addProgress(uint64_t(w)); // the column pass of this level
    }
    return true;
}

bool validPicture(const float* rgb, int width, int height) {
    return rgb && pictureElements(width, height, 3) != 0;
}

} // namespace

double noiseSoftnessValue(int index) {
    static constexpr double kSoftness[10] = {10.0, 3.0, 2.0, 1.0, 0.85, 0.7, 0.6, 0.52, 0.44, 0.36};
    return kSoftness[std::clamp(index, 1, 10) - 1];
}

double noiseMeanIso(const std::vector<double>& photoIso) {
    if (photoIso.empty()) return 100.0;
    double sum = 0;
    for (double iso : photoIso)
        sum += (std::isfinite(iso) && iso > 0) ? iso : 100.0;
    return sum / double(photoIso.size());
}

int noiseMedianBin(const uint64_t histogram[256], uint64_t pixelCount) {
    uint64_t running = 0;
    int m = 255;
    for (int i = 0; i < 256; ++i) {
        running += histogram[i];
        if (running * 2 > pixelCount) {
            m = i;
            break;
        }
    }
    return std::max(m, 16);
}

double noiseSigma(int width, int height, int medianBin, const noiseFilterOptions_t& options) {
    const double side = std::max(std::min(width, height), 600);
    double sigma = side / 3000.0 * std::max(options.strength, 0) * 0.0006 * std::max(medianBin, 16) / 128.0;
    if (!options.calibrated) {
        const double meanIso = noiseMeanIso(options.photoIso);
        if (meanIso >= 1600)
            sigma *= 1.8;
        else if (meanIso >= 800)
            sigma *= 1.6;
        else if (meanIso >= 400)
            sigma *= 1.4;
        if (options.rawNotDenoised) sigma *= 1.4;
        if (options.photoIso.size() > 1) sigma /= 1.2;
    }
    return sigma;
}

double noiseLevelThreshold(double sigma, double softness, int level) {
    return sigma * 0.8002 * std::exp(-2.6 * softness * softness * (std::sqrt(double(level) + 1.0) - 1.0));
}

void convertToSqrtYCbCr(float* rgb, size_t pixels, uint64_t histogram[256]) {
    if (!rgb || pixels == 0) return;
    const auto parts = parallelRecords<toSqrtYCbCr_threadParams_t>(
        int64_t(pixels),
        [&](int, int64_t begin, int64_t end) {
            toSqrtYCbCr_threadParams_t p;
            p.rgb = rgb;
            p.begin = size_t(begin);
            p.end = size_t(end);
            p.wantHistogram = histogram != nullptr;
            return p;
        },
        [](toSqrtYCbCr_threadParams_t& p) { toSqrtYCbCr(p); });
    if (histogram) {
        std::fill(histogram, histogram + 256, uint64_t(0));
        for (const auto& p : parts)
            for (int i = 0; i < 256; ++i)
                histogram[i] += p.histogram[i];
    }
}

void convertFromSqrtYCbCr(float* rgb, size_t pixels) {
    if (!rgb || pixels == 0) return;
    parallelRecords<fromSqrtYCbCr_threadParams_t>(
        int64_t(pixels),
        [rgb](int, int64_t begin, int64_t end) {
            return fromSqrtYCbCr_threadParams_t{rgb, size_t(begin), size_t(end)};
        },
        [](const fromSqrtYCbCr_threadParams_t& p) { fromSqrtYCbCr(p); });
}

bool waveletDenoisePlane(float* picture, int width, int height, int channel, double sigma, double softness) {
    if (!validPicture(picture, width, height) || channel < 0 || channel > 2) {
        debugLog("%s: invalid picture (%dx%d, channel %d)\n", "halvora::waveletDenoisePlane", width, height,
                 channel);
        return false;
    }
    const size_t planeSize = size_t(width) * size_t(height);
    auto planeA = allocatePlane(planeSize);
    auto planeB = allocatePlane(planeSize);
    if (!planeA || !planeB) {
        debugLog("%s: not enough memory for %dx%d\n", "halvora::waveletDenoisePlane", width, height);
        return false;
    }
    if (!std::isfinite(sigma) || sigma < 0) sigma = 0;
    if (!std::isfinite(softness)) softness = 1.0;
    return denoisePlane(picture, width, height, channel, sigma, softness, planeA.get(), planeB.get());
}

bool noiseFilter(float* rgb, int width, int height, const noiseFilterOptions_t& options) {
    debugLog("Noise filtering...\n");
    if (!validPicture(rgb, width, height)) {
        debugLog("%s: invalid picture (%dx%d)\n", "halvora::noiseFilter", width, height);
        return false;
    }
    if (options.strength <= 0) {
        debugLog("* strength=0, nothing to filter\n");
        return true;
    }
    const size_t pixels = size_t(width) * size_t(height);
    auto planeA = allocatePlane(pixels);
    auto planeB = allocatePlane(pixels);
    if (!planeA || !planeB) {
        debugLog("%s: not enough memory for %dx%d\n", "halvora::noiseFilter", width, height);
        return false;
    }

    uint64_t histogram[256];
    convertToSqrtYCbCr(rgb, pixels, histogram);
    const int m = noiseMedianBin(histogram, pixels);
    const double sigma = noiseSigma(width, height, m, options);
    const double softness = noiseSoftnessValue(options.softness);
    debugLog("* strength=%f, softness=%f, meanISO=%f, rawNotDenoised=%d\n", sigma, softness,
             noiseMeanIso(options.photoIso), int(options.rawNotDenoised));

    for (int channel = 0; channel < 3; ++channel) {
        if (!denoisePlane(rgb, width, height, channel, sigma, softness, planeA.get(), planeB.get())) {
            if (halvora::cancelRequested())
                debugLog("%s: aborted\n", "halvora::noiseFilter");
            else
                debugLog("%s: wavelet denoise of plane %d failed\n", "halvora::noiseFilter", channel);
            return false;
        }
    }
    convertFromSqrtYCbCr(rgb, pixels);
    return true;
}

} // namespace halvora
