#include "align/findTransform.h"

#include "base/runContext.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace halvora {
namespace {

// Attempts at which the minimum pin distance is halved, and the bounds of the pin selection.
constexpr int kHalveAt[3] = {300, 1000, 2000};
constexpr int kMaxAttempts = 15000;
constexpr int kMaxDraws = 10000;

/// The usable matches, one array per coordinate: the corner and where the photo shows it.
struct matchArrays {
    std::vector<double> rx, ry, px, py;
    std::vector<float> fx, fy, fpx, fpy; ///< the same in single precision, for the search
};

matchArrays arraysOf(const std::vector<alignCorner>& corners, const std::vector<alignMatch>& matches) {
    matchArrays m;
    for (size_t k = 0; k < corners.size() && k < matches.size(); ++k)
        if (matches[k].usable) {
            m.rx.push_back(corners[k].x);
            m.ry.push_back(corners[k].y);
            m.px.push_back(matches[k].x);
            m.py.push_back(matches[k].y);
            m.fx.push_back(float(corners[k].x));
            m.fy.push_back(float(corners[k].y));
            m.fpx.push_back(float(matches[k].x));
            m.fpy.push_back(float(matches[k].y));
        }
    return m;
}

struct candidate {
    int inliers = -1; ///< −1: an empty slot
    double error = std::numeric_limits<double>::infinity();
    alignTransform transform;
};

void addLine(std::vector<std::string>& lines, const char* format, ...) __attribute__((format(printf, 2, 3)));
void addLine(std::vector<std::string>& lines, const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    lines.emplace_back(text);
}

/// Inliers of `t` among the matches (both coordinates within ±s) and the sum of their distances.
/// Stops early, returning −1, once even all remaining matches could not reach `atLeast`. The search
/// calls this 80 000 times per photo, so it runs in single precision, four matches at a time (a few
/// ten-thousandths of a pixel of rounding, far below any tolerance).
int countInliers(const alignTransform& t, const matchArrays& m, double s, int atLeast, double& errorSum) {
    const size_t n = m.fx.size();
    float a[8];
    for (int k = 0; k < 8; ++k)
        a[k] = float(t.a[k]);
    const float tolerance = float(s);
    int count = 0;
    float sum = 0;
    size_t i = 0;
#ifdef __SSE2__
    const __m128 a0 = _mm_set1_ps(a[0]), a1 = _mm_set1_ps(a[1]), a2 = _mm_set1_ps(a[2]);
    const __m128 a3 = _mm_set1_ps(a[3]), a4 = _mm_set1_ps(a[4]), a5 = _mm_set1_ps(a[5]);
    const __m128 a6 = _mm_set1_ps(a[6]), a7 = _mm_set1_ps(a[7]), one = _mm_set1_ps(1.0f);
    const __m128 tol = _mm_set1_ps(tolerance), signBit = _mm_set1_ps(-0.0f);
    __m128 acc = _mm_setzero_ps();
    for (; i + 4 <= n; i += 4) {
        if ((i & 124) == 0 && count + int(n - i) < atLeast) return -1;
        const __m128 x = _mm_loadu_ps(&m.fx[i]), y = _mm_loadu_ps(&m.fy[i]);
        const __m128 d = _mm_add_ps(_mm_add_ps(_mm_mul_ps(a6, x), _mm_mul_ps(a7, y)), one);
        const __m128 X = _mm_div_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(a0, x), _mm_mul_ps(a1, y)), a2), d);
        const __m128 Y = _mm_div_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(a3, x), _mm_mul_ps(a4, y)), a5), d);
        const __m128 ex = _mm_sub_ps(X, _mm_loadu_ps(&m.fpx[i])), ey = _mm_sub_ps(Y, _mm_loadu_ps(&m.fpy[i]));
        const __m128 in = _mm_and_ps(_mm_cmple_ps(_mm_andnot_ps(signBit, ex), tol),
                                     _mm_cmple_ps(_mm_andnot_ps(signBit, ey), tol));
        const int bits = _mm_movemask_ps(in);
        count += (bits & 1) + ((bits >> 1) & 1) + ((bits >> 2) & 1) + (bits >> 3);
        acc =
            _mm_add_ps(acc, _mm_and_ps(in, _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(ex, ex), _mm_mul_ps(ey, ey)))));
    }
    float lanes[4];
    _mm_storeu_ps(lanes, acc);
    sum = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
#endif
    for (; i < n; ++i) {
        const float x = m.fx[i], y = m.fy[i];
        const float d = a[6] * x + a[7] * y + 1;
        const float ex = (a[0] * x + a[1] * y + a[2]) / d - m.fpx[i];
        const float ey = (a[3] * x + a[4] * y + a[5]) / d - m.fpy[i];
        if (std::fabs(ex) <= tolerance && std::fabs(ey) <= tolerance) {
            ++count;
            sum += std::sqrt(ex * ex + ey * ey);
        }
    }
    if (count < atLeast) return -1;
    errorSum = sum;
    return count;
}

inline double distance(const alignPoint& a, const alignPoint& b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y));
}

/// The four pins in the order of their angle around `crossing` (top-left, top-right, bottom-right,
/// bottom-left for a pin in each quadrant); the diagonals are then pins 0–2 and 1–3.
void orderAround(const alignPoint& crossing, int index[4], const std::vector<alignCorner>& corners) {
    std::sort(index, index + 4, [&](int l, int r) {
        return std::atan2(corners[size_t(l)].y - crossing.y, corners[size_t(l)].x - crossing.x) <
               std::atan2(corners[size_t(r)].y - crossing.y, corners[size_t(r)].x - crossing.x);
    });
}

enum selection { selected, failedSpread, failedUsable };

/// Draws four corners with trusted matches that are spread over the picture and lie around the
/// crossing of their diagonals (step 2 of the estimation). Draws with an unusable tile count towards
/// 10 000, draws too close together towards 15 000 (halving the minimum distance at 300, 1000 and
/// 2000 of them).
selection selectPins(alignRandom& random, const std::vector<alignCorner>& corners,
                     const std::vector<alignMatch>& matches, int width, int height, int index[4]) {
    const uint32_t n = uint32_t(corners.size());
    double minDistance = std::min(width, height) / 2.0;
    int attempts = 0, draws = 0;
    for (;;) {
        alignPoint p[4];
        bool usable = true;
        for (int k = 0; k < 4; ++k) {
            index[k] = int(random.next() % n);
            p[k] = {double(corners[size_t(index[k])].x), double(corners[size_t(index[k])].y)};
            usable = usable && matches[size_t(index[k])].usable;
        }
        if (!usable) {
            if (++draws >= kMaxDraws) return failedUsable;
            continue;
        }
        bool spread = true;
        for (int k = 0; k < 4 && spread; ++k)
            for (int l = k + 1; l < 4 && spread; ++l)
                spread = distance(p[k], p[l]) >= minDistance;
        alignPoint crossing;
        if (spread) spread = pinsAroundCrossing(p, crossing);
        for (int k = 0; k < 4 && spread; ++k)
            spread = distance(p[k], crossing) >= minDistance;
        if (spread) {
            orderAround(crossing, index, corners);
            return selected;
        }
        ++attempts;
        for (const int h : kHalveAt)
            if (attempts == h) minDistance /= 2;
        if (attempts >= kMaxAttempts) return failedSpread;
    }
}

/// Puts a candidate into the list in place of its weakest entry (fewest inliers, then largest
/// error) when it has more inliers than that entry, or as many with a smaller error.
void offer(candidate (&best)[kBestCandidates], const candidate& c) {
    int weakest = 0;
    for (int k = 1; k < kBestCandidates; ++k)
        if (best[k].inliers < best[weakest].inliers ||
            (best[k].inliers == best[weakest].inliers && best[k].error > best[weakest].error))
            weakest = k;
    if (c.inliers > best[weakest].inliers ||
        (c.inliers == best[weakest].inliers && c.error < best[weakest].error))
        best[weakest] = c;
}

int weakestInliers(const candidate (&best)[kBestCandidates]) {
    int w = best[0].inliers;
    for (const candidate& c : best)
        w = std::min(w, c.inliers);
    return w;
}

/// The inliers of `t` (both coordinates within ±s) and their mean distance.
int inliersOf(const alignTransform& t, const matchArrays& m, double s, double& meanError,
              std::vector<alignPoint>* from = nullptr, std::vector<alignPoint>* to = nullptr) {
    int count = 0;
    double sum = 0;
    for (size_t i = 0; i < m.rx.size(); ++i) {
        const alignPoint q = t.map(m.rx[i], m.ry[i]);
        const double ex = q.x - m.px[i], ey = q.y - m.py[i];
        if (std::fabs(ex) <= s && std::fabs(ey) <= s) {
            ++count;
            sum += std::sqrt(ex * ex + ey * ey);
            if (from) {
                from->push_back({m.rx[i], m.ry[i]});
                to->push_back({m.px[i], m.py[i]});
            }
        }
    }
    meanError = count ? sum / count : 0;
    return count;
}

/// The averaged candidate is only as good as the jittered pins it came from; a fit through all the
/// matches that agree with it is better by the square root of their number. The fit weighs every
/// match within a few tolerances of the current map (Tukey's biweight, so matches far off count
/// little and those beyond the gate not at all) rather than only the inliers, which would tie it to
/// the matches whose noise happens to agree with the start. It is kept when it holds on to the
/// start's inliers.
alignTransform refined(const alignTransform& start, const matchArrays& m, double s) {
    double startError = 0;
    const int startCount = inliersOf(start, m, s, startError);
    const double gate = std::max(3 * s, 1.5);
    alignTransform t = start;
    for (int round = 0; round < 5; ++round) {
        std::vector<alignPoint> from, to;
        std::vector<double> weight;
        for (size_t i = 0; i < m.rx.size(); ++i) {
            const alignPoint q = t.map(m.rx[i], m.ry[i]);
            const double ex = q.x - m.px[i], ey = q.y - m.py[i];
            const double r = std::sqrt(ex * ex + ey * ey) / gate;
            if (!(r < 1)) continue;
            from.push_back({m.rx[i], m.ry[i]});
            to.push_back({m.px[i], m.py[i]});
            weight.push_back((1 - r * r) * (1 - r * r));
        }
        if (from.size() < 8 || !projectiveLeastSquares(from, to, t, &weight)) break;
    }
    double error = 0;
    const int count = inliersOf(t, m, s, error);
    return count * 10 >= startCount * 9 ? t : start;
}

} // namespace

alignTransform refineTransform(const alignTransform& start, const std::vector<alignCorner>& corners,
                               const std::vector<alignMatch>& matches, double inlierTolerance) {
    return refined(start, arraysOf(corners, matches), inlierTolerance);
}

alignRandom::alignRandom(uint64_t seed) {
    state_ = 0;
    next();
    state_ += seed;
    next();
}

uint32_t alignRandom::next() {
    const uint64_t old = state_;
    state_ = old * 6364136223846793005ULL + 1442695040888963407ULL;
    const uint32_t xorshifted = uint32_t(((old >> 18u) ^ old) >> 27u);
    const uint32_t rot = uint32_t(old >> 59u);
    return (xorshifted >> rot) | (xorshifted << ((32 - rot) & 31));
}

uint64_t alignSeedFor(int photoIndex) {
    // splitmix64 of the index: well-separated streams for neighbouring photos.
    uint64_t z = 0x5DEECE66DULL + uint64_t(photoIndex) * 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

bool findTransform(findTransform_threadParams_t& p) {
    const std::vector<alignCorner>& corners = *p.corners;
    const std::vector<alignMatch>& matches = *p.matches;
    p.ok = false;
    p.transform = alignTransform::identity();
    p.neededInliers = int(corners.size()) / 10;
    if (matches.size() != corners.size()) {
        p.reason = "the photo's matches do not belong to the reference corners";
        return false;
    }
    const double s = p.inlierTolerance;
    const int jitterRange = int(50 * s);
    const double jitterScale = 20.0 / s;

    const matchArrays m = arraysOf(corners, matches);

    alignRandom random(alignSeedFor(p.photoIndex));
    candidate best[kBestCandidates];
    candidate overall;
    int setsDone = 0;
    auto jitter = [&]() {
        return double(int(random.next() % uint32_t(jitterRange)) - jitterRange / 2) / jitterScale;
    };

    for (int set = 0; set < kPinSets && !corners.empty(); ++set) {
        if (cancelRequested()) {
            p.cancelled = true;
            return false;
        }
        int index[4];
        const selection chosen = selectPins(random, corners, matches, p.width, p.height, index);
        if (chosen == failedSpread) {
            addLine(p.logLines, "Error! Failed to align images (#1)\n");
            p.reason =
                "the corners of the reference photo are too close together to fix the photo's position";
            addProgress(uint64_t(kPinSets - setsDone));
            return false;
        }
        if (chosen == failedUsable) {
            const int maxc = std::max(0, overall.inliers);
            if (maxc >= p.neededInliers && maxc > 0) {
                addLine(p.logLines,
                        "Failed to find good set of pins, but we already got a good result: %d/%d\n", maxc,
                        p.neededInliers);
                break;
            }
            addLine(p.logLines, "Error! Failed to align images (#2): %d/%d\n", maxc, p.neededInliers);
            p.maxInliers = maxc;
            p.reason = QString("too few corners of the photo could be matched (%1 of %2 needed)")
                           .arg(maxc)
                           .arg(p.neededInliers);
            addProgress(uint64_t(kPinSets - setsDone));
            return false;
        }
        alignPinSet pins;
        for (int k = 0; k < 4; ++k) {
            const alignCorner& c = corners[size_t(index[k])];
            const alignMatch& t = matches[size_t(index[k])];
            pins.reference[k] = {double(c.x), double(c.y)};
            pins.photo[k] = {t.x, t.y};
        }
        for (int trial = 0; trial < kTrialsPerPinSet; ++trial) {
            alignPoint ref[4], photo[4];
            for (int k = 0; k < 4; ++k) {
                ref[k].x = pins.reference[k].x + jitter();
                ref[k].y = pins.reference[k].y + jitter();
                photo[k].x = pins.photo[k].x + jitter();
                photo[k].y = pins.photo[k].y + jitter();
            }
            candidate c;
            if (!projectiveFromPoints(ref, photo, c.transform)) continue;
            double errorSum = 0;
            c.inliers = countInliers(c.transform, m, s, std::max(1, weakestInliers(best)), errorSum);
            if (c.inliers < 0) continue; // cannot enter the list
            c.error = errorSum / c.inliers;
            offer(best, c);
            if (c.inliers > overall.inliers || (c.inliers == overall.inliers && c.error < overall.error)) {
                overall = c;
                p.pins = pins;
                p.pinsFound = true;
            }
        }
        ++setsDone;
        addProgress(1);
    }
    addProgress(uint64_t(kPinSets - setsDone));

    int maxc = 0;
    for (const candidate& c : best)
        maxc = std::max(maxc, c.inliers);
    p.maxInliers = maxc;
    if (maxc < p.neededInliers || maxc <= 0) {
        addLine(p.logLines, "Error! No matches are good enough (#3): %d/%d\n", maxc, p.neededInliers);
        p.reason = QString("no transform agrees with enough of the photo's matched corners (%1 of %2 needed)")
                       .arg(maxc)
                       .arg(p.neededInliers);
        return false;
    }
    alignTransform mean;
    std::fill(mean.a, mean.a + 8, 0.0);
    int averaged = 0;
    for (const candidate& c : best)
        if (c.inliers >= 0.95 * maxc) {
            for (int k = 0; k < 8; ++k)
                mean.a[k] += c.transform.a[k];
            ++averaged;
        }
    for (double& v : mean.a)
        v /= averaged;
    addLine(p.logLines, "maxc = %d / %d, n = %d\n", maxc, int(corners.size()), averaged);
    p.transform = refined(mean, m, s);
    p.ok = true;
    return true;
}

} // namespace halvora
