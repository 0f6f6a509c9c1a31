#include "align/greyPicture.h"

#include "align/alignSizes.h"
#include "base/debugLog.h"
#include "base/failure.h"
#include "base/parallelFor.h"
#include "base/runContext.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace halvora {
namespace {

struct getCalibratedImage_threadParams_t {
    const uint16_t* rgb = nullptr;
    uint8_t* grey = nullptr;
    const uint8_t* table = nullptr;
    int width = 0;
    int64_t rowBegin = 0, rowEnd = 0;
    uint64_t histogram[256] = {};
    bool cancelled = false;
};

void getCalibratedRows(getCalibratedImage_threadParams_t& p) {
    const size_t w = size_t(p.width);
    for (int64_t y = p.rowBegin; y < p.rowEnd; ++y) {
        if ((y & 63) == 0 && cancelRequested()) {
            p.cancelled = true;
            return;
        }
        const uint16_t* s = p.rgb + size_t(y) * w * 3;
        uint8_t* d = p.grey + size_t(y) * w;
        for (size_t x = 0; x < w; ++x) {
            const uint32_t m = (uint32_t(s[3 * x]) + s[3 * x + 1] + s[3 * x + 2]) / 3;
            const uint8_t v = p.table[m < uint32_t(kSampleTableSize) ? m : kSampleTableSize - 1];
            d[x] = v;
            ++p.histogram[v];
        }
        addProgress(1);
    }
}

struct brighten_threadParams_t {
    uint8_t* grey = nullptr;
    const uint8_t* map = nullptr;
};

struct reduceLevel_threadParams_t {
    const uint8_t* src = nullptr;
    uint8_t* dst = nullptr;
    int srcWidth = 0, dstWidth = 0;
};

} // namespace

std::vector<uint8_t> greyLevelTable(const greyCalibration_t& c) {
    if (!c.standardCurve || !c.closenessBright || !c.closenessDark) return {};
    const double top = c.standardCurve[kSampleTableSize - 1];
    if (!(top > 0) || !std::isfinite(top)) return {};
    const double e = std::exp(c.lnExposure - c.lnExposureReference);
    std::vector<uint8_t> table(kSampleTableSize);
    for (int k = 0; k < kSampleTableSize; ++k) {
        // Near black a darker photo is pulled towards what the brightest photo records there, near
        // white a brighter photo towards the darkest one: both ends carry little exposure information.
        const double f = k < kSampleTableSize / 2
                             ? std::exp(0.5 * std::pow(c.closenessDark[k], 20) * (c.lnEvMax - c.lnExposure))
                             : std::exp((c.lnEvMin - c.lnExposure) * c.closenessBright[k]);
        const double v = 255.0 * std::sqrt(c.standardCurve[k] / top / e / f);
        // Truncated to a byte; 0 (and anything not a number) becomes 1.
        table[size_t(k)] = v >= 255.0 ? 255 : (v >= 1.0 ? uint8_t(v) : 1);
    }
    return table;
}

greyMiddle greyMiddleOf(const uint64_t histogram[256], uint64_t pixels) {
    const double half = double(pixels) / 2;
    const double limits[3] = {0.95 * half, 1.0 * half, 1.05 * half};
    int found[3] = {255, 255, 255};
    uint64_t running = 0;
    int next = 0;
    for (int v = 0; v < 256 && next < 3; ++v) {
        running += histogram[v];
        while (next < 3 && double(running) > limits[next])
            found[next++] = v;
    }
    return {found[0], found[1], found[2]};
}

bool getCalibratedImage(const rgb16Buffer& photo, const greyCalibration_t& calibration, pyramid& grey,
                        QString* error) {
    if (photo.empty() || photo.width <= 0 || photo.height <= 0)
        return fail(error, "alignmentWorker::getCalibratedImage", QString(), "the photo holds no pixels");
    const std::vector<uint8_t> table = greyLevelTable(calibration);
    if (table.empty())
        return fail(error, "alignmentWorker::getCalibratedImage", QString(),
                    "the camera curve or the closeness tables are missing");
    const int w = photo.width, h = photo.height;
    if (!grey.init(w, h, alignSizesFor(w, h).levels, 1, 1, true))
        return fail(error, "alignmentWorker::autoAlign", QString(), "memory alloc failed");

    uint8_t* level0 = grey.data<uint8_t>(0);
    auto parts = parallelRecords<getCalibratedImage_threadParams_t>(
        h,
        [&](int, int64_t begin, int64_t end) {
            getCalibratedImage_threadParams_t p;
            p.rgb = photo.pixels();
            p.grey = level0;
            p.table = table.data();
            p.width = w;
            p.rowBegin = begin;
            p.rowEnd = end;
            return p;
        },
        [](getCalibratedImage_threadParams_t& p) { getCalibratedRows(p); });
    uint64_t histogram[256] = {};
    for (const auto& p : parts) {
        if (p.cancelled) return false;
        for (int v = 0; v < 256; ++v)
            histogram[v] += p.histogram[v];
    }

    const greyMiddle middle = greyMiddleOf(histogram, uint64_t(w) * uint64_t(h));
    debugLog("middle[%d]=%d,%d,%d\n", calibration.photoIndex, middle.a, middle.b, middle.c);
    const int mid = std::max(1, middle.mid());
    if (mid < 128) {
        // A dark picture is stretched so its middle grey reaches 128; corners and matching costs then
        // see the same contrast in every photo.
        uint8_t map[256];
        for (int v = 0; v < 256; ++v)
            map[v] = uint8_t(std::min(255, v * 128 / mid));
        const size_t count = size_t(w) * size_t(h);
        parallelFor(int64_t(count), [&](int, int64_t begin, int64_t end) {
            brighten_threadParams_t p{level0, map};
            for (int64_t i = begin; i < end; ++i)
                p.grey[i] = p.map[p.grey[i]];
        });
    }
    buildGreyLevels(grey);
    return !cancelRequested();
}

void buildGreyLevels(pyramid& grey) {
    for (int k = 1; k < grey.levelCount(); ++k) {
        const int dw = grey.width(k), dh = grey.height(k);
        if (dw <= 0 || dh <= 0) continue;
        const reduceLevel_threadParams_t p{grey.data<uint8_t>(k - 1), grey.data<uint8_t>(k),
                                           grey.width(k - 1), dw};
        parallelFor(dh, [&p](int, int64_t begin, int64_t end) {
            for (int64_t y = begin; y < end; ++y) {
                const uint8_t* r0 = p.src + size_t(2 * y) * size_t(p.srcWidth);
                const uint8_t* r1 = r0 + p.srcWidth;
                uint8_t* d = p.dst + size_t(y) * size_t(p.dstWidth);
                for (int x = 0; x < p.dstWidth; ++x)
                    d[x] = uint8_t((r0[2 * x] + r0[2 * x + 1] + r1[2 * x] + r1[2 * x + 1] + 2) >> 2);
            }
        });
    }
}

} // namespace halvora
