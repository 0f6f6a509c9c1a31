#include "align/transformedImage.h"

#include "base/debugLog.h"
#include "base/failure.h"
#include "base/parallelFor.h"
#include "base/runContext.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace halvora {
namespace {

/// The crop keeps this far (in source pixels) inside a photo's edge, so rounding in the resampling
/// can never put a pixel of the rectangle outside.
constexpr double kEdgeGuard = 1e-6;

/// Columns [lo, hi] of a row where α x + β ≥ 0 (or > 0 when `strict`) holds, intersected into lo, hi.
void limitColumns(double alpha, double beta, bool strict, double& lo, double& hi) {
    if (alpha == 0) {
        if (!(strict ? beta > 0 : beta >= 0)) hi = -std::numeric_limits<double>::infinity();
        return;
    }
    const double v = -beta / alpha;
    if (alpha > 0)
        lo = std::max(lo, strict ? std::floor(v) + 1 : std::ceil(v));
    else
        hi = std::min(hi, strict ? std::ceil(v) - 1 : std::floor(v));
}

struct getTransformedImage_threadParams_t {
    const uint16_t* src = nullptr;
    int srcWidth = 0, srcHeight = 0;
    uint16_t* dst = nullptr;
    alignCropRect crop;
    alignTransform t;
    bool identity = false, affine = false;
    int64_t rowBegin = 0, rowEnd = 0;
    bool cancelled = false;
};

/// Positions are fixed point with 32 fractional bits: exact enough over a whole row of increments
/// (below 10⁻⁶ pixel) and cheap to split into a sample index and a weight.
constexpr double kFixedOne = 4294967296.0;
constexpr int64_t kHalfWeightStep = int64_t(1) << 23; // rounds a position to the nearest 1/256

/// One output pixel from the fixed-point source position (X, Y), already known to lie inside the
/// photo: the bilinear blend with weights in 1/256 steps, the last row and column repeated at the
/// edge. The four weights sum to 65536, so a sum of samples up to 65535 stays below 2^32.
inline void blendPixel(const getTransformedImage_threadParams_t& p, int64_t X, int64_t Y, uint16_t* out) {
    const int w = p.srcWidth, h = p.srcHeight;
    X += kHalfWeightStep;
    Y += kHalfWeightStep;
    const int fx = int(X >> 32), fy = int(Y >> 32); // floor
    const uint32_t tx = uint32_t(X >> 24) & 255, ty = uint32_t(Y >> 24) & 255;
    const int x0 = fx < 0 ? 0 : fx, y0 = fy < 0 ? 0 : fy;
    const int x1 = fx + 1 < w ? fx + 1 : w - 1, y1 = fy + 1 < h ? fy + 1 : h - 1;
    const uint16_t* r0 = p.src + size_t(y0) * size_t(w) * 3;
    const uint16_t* r1 = p.src + size_t(y1) * size_t(w) * 3;
    const uint32_t w00 = (256 - tx) * (256 - ty), w10 = tx * (256 - ty), w01 = (256 - tx) * ty, w11 = tx * ty;
    for (int k = 0; k < 3; ++k)
        out[k] = uint16_t((r0[3 * x0 + k] * w00 + r0[3 * x1 + k] * w10 + r1[3 * x0 + k] * w01 +
                           r1[3 * x1 + k] * w11 + 32768) >>
                          16);
}

/// The photo covers −½ … w − ½; NaN (beyond the horizon) is outside too.
inline bool inside(double sx, double sy, int w, int h) {
    return sx >= -0.5 && sx < w - 0.5 && sy >= -0.5 && sy < h - 0.5;
}

/// Pixels of a row are handled in spans of this many: the source positions inside a span lie on the
/// straight line between its ends (a projective map keeps lines straight), evenly spaced to within
/// kSpanPrecision for any perspective a camera produces; the ends are mapped exactly.
constexpr int kSpan = 16;
constexpr double kSpanPrecision = 1.0 / 512;

/// The source position of output pixel i of a row, exactly; NaN beyond the map's horizon.
struct rowMap {
    const double* a;
    double y;
    int left;
    bool affine;
    alignPoint at(int i) const {
        const double x = left + i;
        const double nx = a[0] * x + a[1] * y + a[2], ny = a[3] * x + a[4] * y + a[5];
        if (affine) return {nx, ny};
        const double d = a[6] * x + a[7] * y + 1;
        if (!(d > 0))
            return {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN()};
        return {nx / d, ny / d};
    }
};

/// The position has both right and lower neighbours inside the photo, even after rounding to 1/256.
inline bool interior(const alignPoint& s, int w, int h) {
    return s.x >= 0 && s.x <= w - 1.01 && s.y >= 0 && s.y <= h - 1.01;
}

/// Output pixels [i0, i1) of a span whose positions, from `first` to `last`, all have both
/// neighbours: fixed-point steps, no tests.
void blendSpan(const getTransformedImage_threadParams_t& p, alignPoint first, alignPoint last, int i0, int i1,
               uint16_t* out) {
    const int n = i1 - i0;
    const int64_t dx = n > 1 ? int64_t((last.x - first.x) / (n - 1) * kFixedOne) : 0;
    const int64_t dy = n > 1 ? int64_t((last.y - first.y) / (n - 1) * kFixedOne) : 0;
    int64_t X = int64_t(first.x * kFixedOne) + kHalfWeightStep,
            Y = int64_t(first.y * kFixedOne) + kHalfWeightStep;
    const size_t stride = size_t(p.srcWidth) * 3;
    for (int i = i0; i < i1; ++i, X += dx, Y += dy) {
        const uint32_t tx = uint32_t(X >> 24) & 255, ty = uint32_t(Y >> 24) & 255;
        const uint16_t* a = p.src + size_t(Y >> 32) * stride + size_t(X >> 32) * 3;
        const uint16_t* c = a + stride;
        const uint32_t w00 = (256 - tx) * (256 - ty), w10 = tx * (256 - ty), w01 = (256 - tx) * ty,
                       w11 = tx * ty;
        uint16_t* px = out + size_t(i) * 3;
        for (int k = 0; k < 3; ++k)
            px[k] = uint16_t((a[k] * w00 + a[3 + k] * w10 + c[k] * w01 + c[3 + k] * w11 + 32768) >> 16);
    }
}

void getTransformedRows(getTransformedImage_threadParams_t& p) {
    const int outWidth = p.crop.width();
    for (int64_t row = p.rowBegin; row < p.rowEnd; ++row) {
        if ((row & 31) == 0 && cancelRequested()) {
            p.cancelled = true;
            return;
        }
        uint16_t* out = p.dst + size_t(row) * size_t(outWidth) * 3;
        if (p.identity) {
            std::memcpy(out,
                        p.src + (size_t(p.crop.top + row) * size_t(p.srcWidth) + size_t(p.crop.left)) * 3,
                        size_t(outWidth) * 6);
            addProgress(1);
            continue;
        }
        const rowMap map{p.t.a, double(p.crop.top + row), p.crop.left, p.affine};
        for (int i0 = 0; i0 < outWidth; i0 += kSpan) {
            const int i1 = std::min(outWidth, i0 + kSpan);
            const alignPoint first = map.at(i0), last = map.at(i1 - 1);
            bool even = p.affine;
            if (!even && interior(first, p.srcWidth, p.srcHeight) &&
                interior(last, p.srcWidth, p.srcHeight)) {
                const alignPoint middle = map.at((i0 + i1 - 1) / 2);
                const double f = double((i0 + i1 - 1) / 2 - i0) / std::max(1, i1 - 1 - i0);
                even = std::fabs(first.x + f * (last.x - first.x) - middle.x) < kSpanPrecision &&
                       std::fabs(first.y + f * (last.y - first.y) - middle.y) < kSpanPrecision;
            }
            if (even && interior(first, p.srcWidth, p.srcHeight) && interior(last, p.srcWidth, p.srcHeight)) {
                blendSpan(p, first, last, i0, i1, out);
                continue;
            }
            // Near the photo's edges, or a span the map bends: every pixel on its own.
            for (int i = i0; i < i1; ++i) {
                const alignPoint s = map.at(i);
                uint16_t* px = out + size_t(i) * 3;
                if (inside(s.x, s.y, p.srcWidth, p.srcHeight))
                    blendPixel(p, int64_t(s.x * kFixedOne), int64_t(s.y * kFixedOne), px);
                else
                    px[0] = px[1] = px[2] = 0;
            }
        }
        addProgress(1);
    }
}

} // namespace

bool autoCropRect(int width, int height, const std::vector<alignTransform>& transforms, int model,
                  alignCropRect& rect, QString* error) {
    if (width <= 0 || height <= 0)
        return fail(error, "alignmentWorker::autoCrop", QString(), "the picture has no pixels");
    std::vector<int> left(size_t(height), 0), right(size_t(height), width - 1);
    for (const alignTransform& original : transforms) {
        const alignTransform t = original.forModel(model);
        if (!t.isFinite())
            return fail(error, "alignmentWorker::autoCrop", QString(),
                        "an alignment transform is not finite");
        const double* a = t.a;
        for (int y = 0; y < height; ++y) {
            double lo = left[size_t(y)], hi = right[size_t(y)];
            // With d = a6 x + a7 y + 1 > 0, the source X = nx / d lies in [−½ + g, W − ½ − g] when
            // nx − (−½ + g) d ≥ 0 and (W − ½ − g) d − nx ≥ 0; the same for Y. Each is linear in x.
            const double dA = a[6], dB = a[7] * y + 1;
            const double xA = a[0], xB = a[1] * y + a[2], yA = a[3], yB = a[4] * y + a[5];
            const double lowX = -0.5 + kEdgeGuard, highX = width - 0.5 - kEdgeGuard;
            const double lowY = -0.5 + kEdgeGuard, highY = height - 0.5 - kEdgeGuard;
            limitColumns(dA, dB, true, lo, hi);
            limitColumns(xA - lowX * dA, xB - lowX * dB, false, lo, hi);
            limitColumns(highX * dA - xA, highX * dB - xB, false, lo, hi);
            limitColumns(yA - lowY * dA, yB - lowY * dB, false, lo, hi);
            limitColumns(highY * dA - yA, highY * dB - yB, false, lo, hi);
            left[size_t(y)] = lo > width ? width : int(lo);
            right[size_t(y)] = hi < -1 ? -1 : int(hi);
        }
    }
    // Largest rectangle over the rows' intervals. The covered area is convex, so the interval of a
    // band of rows only narrows as the band grows.
    int64_t bestArea = 0;
    alignCropRect best;
    for (int y0 = 0; y0 < height; ++y0) {
        int lo = left[size_t(y0)], hi = right[size_t(y0)];
        for (int y1 = y0; y1 < height; ++y1) {
            lo = std::max(lo, left[size_t(y1)]);
            hi = std::min(hi, right[size_t(y1)]);
            if (hi < lo || int64_t(hi - lo + 1) * (height - y0) <= bestArea) break;
            const int64_t area = int64_t(hi - lo + 1) * (y1 - y0 + 1);
            if (area > bestArea) {
                bestArea = area;
                best = {lo, y0, hi + 1, y1 + 1};
            }
        }
    }
    if (bestArea == 0)
        return fail(error, "alignmentWorker::autoCrop", QString(),
                    "the aligned photos have no area in common, so there is nothing left to crop to");
    rect = best;
    debugLog("Size after align: sx=%d, sy=%d  (%d, %d); (%d, %d)\n", rect.width(), rect.height(), rect.left,
             rect.top, rect.right, rect.bottom);
    return true;
}

bool getTransformedImage(const rgb16Buffer& photo, const alignTransform& transform, int model,
                         const alignCropRect& crop, rgb16Buffer& out, QString* error) {
    if (photo.empty())
        return fail(error, "alignmentWorker::getTransformedImage", QString(), "the photo holds no pixels");
    if (crop.left < 0 || crop.top < 0 || crop.right > photo.width || crop.bottom > photo.height ||
        crop.width() <= 0 || crop.height() <= 0)
        return fail(error, "alignmentWorker::getTransformedImage", QString(),
                    QString("the crop rectangle (%1, %2) – (%3, %4) does not lie inside the %5 × %6 picture")
                        .arg(crop.left)
                        .arg(crop.top)
                        .arg(crop.right)
                        .arg(crop.bottom)
                        .arg(photo.width)
                        .arg(photo.height));
    const alignTransform t = transform.forModel(model);
    if (!t.isFinite())
        return fail(error, "alignmentWorker::getTransformedImage", QString(),
                    "the alignment transform is not finite");
    // A buffer of the right size (the previous photo's) is used again: no new pages to fault in.
    if ((out.empty() || out.width != crop.width() || out.height != crop.height()) &&
        !out.allocate(crop.width(), crop.height()))
        return fail(error, "alignmentWorker::getTransformedImage", QString(), "memory alloc failed");
    const auto parts = parallelRecords<getTransformedImage_threadParams_t>(
        crop.height(),
        [&](int, int64_t begin, int64_t end) {
            getTransformedImage_threadParams_t p;
            p.src = photo.pixels();
            p.srcWidth = photo.width;
            p.srcHeight = photo.height;
            p.dst = out.pixels();
            p.crop = crop;
            p.t = t;
            p.identity = t.isIdentity();
            p.affine = t.a[6] == 0 && t.a[7] == 0;
            p.rowBegin = begin;
            p.rowEnd = end;
            return p;
        },
        [](getTransformedImage_threadParams_t& p) { getTransformedRows(p); });
    for (const auto& p : parts)
        if (p.cancelled) {
            out.release();
            return false;
        }
    return true;
}

} // namespace halvora
