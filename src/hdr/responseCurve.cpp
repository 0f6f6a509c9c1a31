#include "hdr/responseCurve.h"

#include "base/debugLog.h"
#include "base/parallelFor.h"
#include "base/rgbBuffers.h"
#include "hdr/mergeWeights.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace halvora {

double responsePolynomial::value(double t) const {
    double v = 0;
    for (int j = std::min(n, 20) - 1; j >= 0; --j)
        v = v * t + c[j];
    return v;
}

std::vector<double> standardCurveTable() {
    const responsePolynomial p = standardResponsePolynomial();
    std::vector<double> table(kSampleTableSize);
    for (int x = 0; x < kSampleTableSize; ++x)
        table[size_t(x)] = p.value(x / 32640.0);
    return table;
}

responsePolynomial standardResponsePolynomial() {
    responsePolynomial p;
    p.n = 6;
    p.c[0] = 0.011572206254299083;
    p.c[1] = 0.2524769884516882;
    p.c[2] = 0.8850015088202797;
    p.c[3] = 0.07465203573338197;
    p.c[4] = -0.19796856978236432;
    p.c[5] = 1.084440338878309;
    return p;
}

sampleRandom::sampleRandom(uint64_t seed) {
    next();
    state_ += seed;
    next();
}

uint32_t sampleRandom::next() {
    const uint64_t old = state_;
    state_ = old * 6364136223846793005ULL + 1442695040888963407ULL;
    const uint32_t xorshifted = uint32_t(((old >> 18u) ^ old) >> 27u);
    const uint32_t rot = uint32_t(old >> 59u);
    return (xorshifted >> rot) | (xorshifted << ((32u - rot) & 31u));
}

double pixelInconsistency(const inconsistencyPhoto* photos, int count, const double* const curves[3],
                          const double* weight) {
    std::array<std::array<double, 3>, 32> a;
    std::array<std::array<double, 3>, 32> w;
    count = std::min(count, 32);
    for (int i = 0; i < count; ++i)
        for (int ch = 0; ch < 3; ++ch) {
            const int v = std::min<int>(photos[i].rgb[ch], kSampleTableSize - 1);
            a[i][ch] = std::sqrt(curves[ch][v] / photos[i].exposure);
            w[i][ch] = weight[v];
        }
    double result = 0;
    for (int i = 0; i < count; ++i)
        for (int j = 0; j < count; ++j) {
            if (i == j || photos[j].lnExposure < photos[i].lnExposure) continue;
            const double invD = 1.0 / std::max(0.5, photos[j].lnExposure - photos[i].lnExposure);
            for (int ch = 0; ch < 3; ++ch) {
                const double sum = a[i][ch] + a[j][ch];
                if (!(sum > 0)) continue;
                const double r = std::fabs(a[i][ch] - a[j][ch]) / sum * 0.5 * invD * (w[i][ch] + w[j][ch]);
                result = std::max(result, r);
            }
        }
    return result;
}

bool selectCurveSamples(const std::vector<curvePhoto>& photos, const std::vector<double>& exposures,
                        const curveSampleTables& tables, sampleRandom& random, curveSampleSet& out) {
    const char* const caller = "selectCurveSamples";
    out = curveSampleSet{};
    const int count = int(photos.size());
    if (count < 1 || count > kMaxCurvePhotos || exposures.size() != photos.size() || !tables.standardCurve ||
        !tables.weightTable || !photos[0].preview)
        return false;
    const int W = photos[0].preview->width;
    const int H = photos[0].preview->height;
    std::vector<const uint16_t*> pix(size_t(count), nullptr);
    std::vector<double> lnExposures(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const curvePhoto& photo = photos[size_t(i)];
        lnExposures[size_t(i)] = photo.lnExposure;
        if (!photo.preview || photo.preview->empty() || photo.preview->width != W ||
            photo.preview->height != H) {
            debugLog("%s: photo %d has no preview of %d x %d\n", caller, photo.index, W, H);
            return false;
        }
        pix[size_t(i)] = photo.preview->pixels();
    }
    if (W < 1 || H < 1) return false;

    const double* curves[3] = {tables.standardCurve, tables.standardCurve, tables.standardCurve};
    // The mask applies only while it has the previews' size.
    const uint8_t* ghostMask =
        tables.ghostMaskWidth == W && tables.ghostMaskHeight == H ? tables.ghostMask : nullptr;
    const size_t area = size_t(W) * size_t(H);

    std::vector<uint8_t> taken(area, 0);
    std::array<int, 256> binCount{};
    std::array<inconsistencyPhoto, 32> probe;
    std::array<uint8_t, 32> lum;
    out.photoCount = count;
    out.luminance.reserve(size_t(curveSampleSet::kPositions) * size_t(count));
    const double maxDistance = (W + H) / 3.5;
    int rejections = 0;

    while (int(out.x.size()) < curveSampleSet::kPositions) {
        const int x = int(random.next() % uint32_t(W));
        const int y = int(random.next() % uint32_t(H));
        const size_t idx = size_t(y) * size_t(W) + size_t(x);
        int64_t sumHL = 0, sumH = 0;
        for (int i = 0; i < count; ++i) {
            const uint16_t* p = pix[size_t(i)] + idx * 3;
            const int L = std::min(255, int((0.3086 * p[0] + 0.6094 * p[1] + 0.082 * p[2]) / 128.0));
            const int h = L < 128 ? L : 255 - L;
            lum[size_t(i)] = uint8_t(L);
            sumHL += int64_t(h) * L;
            sumH += h;
            probe[size_t(i)] = {p, exposures[size_t(i)], lnExposures[size_t(i)]};
        }
        const int bin = int(std::min<int64_t>(255, sumHL / (1 + sumH)));

        bool take = out.forced;
        if (!take) {
            const double dx = x - W / 2, dy = y - H / 2;
            take = binCount[size_t(bin)] < 4 && !taken[idx] && std::sqrt(dx * dx + dy * dy) < maxDistance &&
                   x > 5 && x < W - 5 && y > 5 && y < H - 5 && (!ghostMask || ghostMask[idx] == 0) &&
                   !(pixelInconsistency(probe.data(), count, curves, tables.weightTable) / 0.23 > 0.4);
        }
        if (take) {
            out.luminance.insert(out.luminance.end(), lum.begin(), lum.begin() + count);
            out.x.push_back(x);
            out.y.push_back(y);
            taken[idx] = 1;
            ++binCount[size_t(bin)];
            rejections = 0;
        } else if (++rejections > 1000) {
            out.forced = true;
            out.forcedFrom = int(out.x.size());
        }
    }
    return true;
}

bool monotoneOnGrid(const responsePolynomial& poly) {
    double previous = -std::numeric_limits<double>::infinity();
    for (int k = 0; k < 256; ++k) {
        const double v = poly.value(k / 256.0);
        if (!(v >= 0) || v < previous) return false;
        previous = v;
    }
    return true;
}

namespace {

struct curveSearch_threadParams_t {
    int64_t firstCandidate = 0, endCandidate = 0;
    const curveSampleSet* samples = nullptr;
    const responsePolynomial* start = nullptr;
    const std::vector<bool>* used = nullptr;
    const double* invSqrtB = nullptr;
    const double* w1 = nullptr;
    const double* w2 = nullptr;
    // out: the best of this part (first in grid order on ties)
    double bestError = 0;
    int bestCandidate = -1;
};

constexpr int kCandidates = 10000;
constexpr int kBlackLevel = 2;   ///< 8-bit levels at or below count as clipped black
constexpr int kWhiteLevel = 250; ///< and at or above as clipped white

responsePolynomial candidateFor(const responsePolynomial& start, int index, int offsets[4]) {
    // Grid order: o1 outermost, each offset −5…4.
    offsets[0] = index / 1000 - 5;
    offsets[1] = index / 100 % 10 - 5;
    offsets[2] = index / 10 % 10 - 5;
    offsets[3] = index % 10 - 5;
    const double scale = 1.0;
    responsePolynomial p = start;
    p.c[1] = start.c[1] + offsets[0] * start.c[1] / (10.0 / scale);
    p.c[2] = start.c[2] + offsets[1] * start.c[2] / (5.0 / scale);
    p.c[3] = start.c[3] + offsets[2] * start.c[3] / (5.0 / scale);
    p.c[4] = start.c[4] + offsets[3] * start.c[4] / (7.0 / scale);
    return p;
}

void curveSearch(curveSearch_threadParams_t& p) {
    const int photos = p.samples->photoCount;
    const uint8_t* lum = p.samples->luminance.data();
    std::vector<double> err(static_cast<size_t>(photos)), wsum(static_cast<size_t>(photos)),
        e(static_cast<size_t>(photos));
    std::array<double, 256> sqrtG;
    p.bestError = std::numeric_limits<double>::infinity();
    p.bestCandidate = -1;
    for (int64_t candidate = p.firstCandidate; candidate < p.endCandidate; ++candidate) {
        int offsets[4];
        const responsePolynomial poly = candidateFor(*p.start, int(candidate), offsets);
        bool ok = true;
        double previous = 0;
        for (int k = 0; k < 256 && ok; ++k) {
            const double v = poly.value(k / 256.0);
            ok = v >= 0 && (k == 0 || v >= previous);
            previous = v;
            sqrtG[size_t(k)] = std::sqrt(std::max(0.0, v));
        }
        if (!ok) continue;
        std::fill(err.begin(), err.end(), 0.0);
        std::fill(wsum.begin(), wsum.end(), 0.0);
        for (int pos = curveSampleSet::kPositions - 1; pos >= 0; --pos) {
            const uint8_t* s = lum + size_t(pos) * size_t(photos);
            double num = 0, den = 0;
            for (int i = 0; i < photos; ++i) {
                e[size_t(i)] = sqrtG[s[i]] * p.invSqrtB[i];
                num += p.w2[s[i]] * e[size_t(i)];
                den += p.w2[s[i]];
            }
            const double m = num / den;
            if (!(m > 0)) continue;
            const double invM = 1.0 / m;
            for (int i = 0; i < photos; ++i) {
                err[size_t(i)] += p.w1[s[i]] * std::fabs(e[size_t(i)] - m) * invM;
                wsum[size_t(i)] += p.w1[s[i]];
            }
        }
        for (int i = 0; i < photos; ++i) {
            if (!(*p.used)[size_t(i)]) continue;
            const double a = err[size_t(i)] / wsum[size_t(i)];
            if (std::isfinite(a) && a < p.bestError) {
                p.bestError = a;
                p.bestCandidate = int(candidate);
            }
        }
    }
}

} // namespace

responsePolynomial searchResponsePolynomial(const curveSampleSet& samples, const responsePolynomial& start,
                                            const std::vector<bool>& used, const std::vector<double>& b,
                                            int offsets[4]) {
    offsets[0] = offsets[1] = offsets[2] = offsets[3] = 0;
    const int photos = samples.photoCount;
    if (photos < 1 || used.size() != size_t(photos) || b.size() != size_t(photos) ||
        samples.luminance.size() != size_t(curveSampleSet::kPositions) * size_t(photos))
        return start;
    std::array<double, 256> w1, w2;
    for (int k = 0; k < 256; ++k) {
        w2[size_t(k)] = k < 128 ? k + 1 : 256 - k;
        const double u = k <= 128 ? (255 - k) / 255.0 : k / 255.0;
        w1[size_t(k)] = std::max(0.0, 0.99 - std::pow(u, 10));
    }
    std::vector<double> invSqrtB(static_cast<size_t>(photos));
    for (int i = 0; i < photos; ++i)
        invSqrtB[size_t(i)] = 1.0 / std::sqrt(b[size_t(i)]);

    const auto params = parallelRecords<curveSearch_threadParams_t>(
        kCandidates,
        [&](int, int64_t first, int64_t last) {
            curveSearch_threadParams_t p;
            p.firstCandidate = first;
            p.endCandidate = last;
            p.samples = &samples;
            p.start = &start;
            p.used = &used;
            p.invSqrtB = invSqrtB.data();
            p.w1 = w1.data();
            p.w2 = w2.data();
            return p;
        },
        [](curveSearch_threadParams_t& p) { curveSearch(p); });

    // Parts cover the grid in order; a later part wins only with a strictly smaller error.
    double bestError = std::numeric_limits<double>::infinity();
    int best = -1;
    for (const auto& p : params)
        if (p.bestCandidate >= 0 && p.bestError < bestError) {
            bestError = p.bestError;
            best = p.bestCandidate;
        }
    if (best < 0) return start;
    return candidateFor(start, best, offsets);
}

namespace {

struct exposureHistogram_threadParams_t {
    int64_t firstPixel, endPixel;
    const uint16_t* pixels;
    const double* v256; ///< bin of each 8-bit level, precomputed per photo
    std::array<uint32_t, 256> histogram;
    std::array<uint32_t, 256> levels; ///< the 8-bit levels themselves
};

void exposureHistogram(exposureHistogram_threadParams_t& p) {
    p.histogram.fill(0);
    p.levels.fill(0);
    for (int64_t i = p.firstPixel; i < p.endPixel; ++i) {
        const uint16_t* px = p.pixels + i * 3;
        const int s = std::min(255, (int(px[0]) + px[1] + px[2]) / 3 / 128);
        ++p.histogram[size_t(p.v256[s])];
        ++p.levels[size_t(s)];
    }
}

// First bins where the cumulative count reaches 0.95, 1.00 and 1.05 × half.
std::array<int, 3> aroundMedian(const std::array<uint64_t, 256>& histogram, double half) {
    const double targets[3] = {0.95 * half, half, 1.05 * half};
    std::array<int, 3> found{255, 255, 255};
    for (int t = 0; t < 3; ++t) {
        uint64_t cumulative = 0;
        for (int k = 0; k < 256; ++k) {
            cumulative += histogram[size_t(k)];
            if (double(cumulative) >= targets[t]) {
                found[size_t(t)] = k;
                break;
            }
        }
    }
    return found;
}

} // namespace

// Per photo: f = (mean of the bins around the median of √(relative radiance)) / 128. `reliable` is
// false when the pixels around the median are clipped (white or black): their level says nothing
// about the exposure, and a mostly clipped photo would otherwise be shifted by up to a stop.
double exposureFactor(const rgb16Buffer& preview, const std::array<double, 256>& g256, double relative,
                      bool& reliable) {
    std::array<double, 256> bins;
    const double top = g256[255];
    for (int s = 0; s < 256; ++s) {
        const double v = std::floor(256.0 * std::sqrt(g256[size_t(s)] / top / relative));
        bins[size_t(s)] = std::isfinite(v) ? std::clamp(v, 0.0, 255.0) : 0.0;
    }
    const int64_t pixels = int64_t(preview.pixelCount());
    const auto params = parallelRecords<exposureHistogram_threadParams_t>(
        pixels,
        [&](int, int64_t first, int64_t last) {
            return exposureHistogram_threadParams_t{first, last, preview.pixels(), bins.data(), {}, {}};
        },
        [](exposureHistogram_threadParams_t& p) { exposureHistogram(p); });
    std::array<uint64_t, 256> histogram{}, levels{};
    for (const auto& p : params)
        for (int k = 0; k < 256; ++k) {
            histogram[size_t(k)] += p.histogram[size_t(k)];
            levels[size_t(k)] += p.levels[size_t(k)];
        }

    const double half = double(pixels / 2);
    const std::array<int, 3> level = aroundMedian(levels, half);
    reliable = level[0] > kBlackLevel && level[2] < kWhiteLevel;
    const std::array<int, 3> found = aroundMedian(histogram, half);
    const int v = std::max((found[0] + found[1] + found[2]) / 3, 48);
    return v / 128.0;
}

} // namespace halvora
