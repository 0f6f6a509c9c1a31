#include "tonemap/picturePasses.h"

#include "base/debugLog.h"
#include "base/parallelFor.h"
#include "base/rgbBuffers.h"
#include "base/runContext.h"
#include "tonemap/pixelChain.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace halvora {
namespace {

constexpr int kBins = toneMappingTables_t::kHistogramSize;
// Previews up to this size keep the histogram pass's colours for the render pass (at most 96 MiB).
constexpr int64_t kMaxKeptPixels = int64_t(1) << 22;

// A level set as lo / 4095 must find bin lo again, whatever the rounding of the division.
int levelIndex(double level) {
    return std::clamp(int(level * 4095.0 + 1e-7), 0, kBins - 1);
}

void resultingPercentages(toneMappingSettings_t& s) {
    const std::vector<double>& average = s.tables.cumHistogram[0];
    s.blackClipResult = average[size_t(levelIndex(s.blackLevel))];
    s.whiteClipResult = 100.0 - average[size_t(levelIndex(s.whiteLevel))];
}

// The fields every pass takes from its source, the same for the whole picture.
toneMapping_threadParams_t sourceParams(const toneMapSource_t& source,
                                        const toneMappingSettings_t& settings) {
    toneMapping_threadParams_t p;
    p.pixelCount = int32_t(int64_t(source.width) * source.height);
    p.width = source.width;
    p.height = source.height;
    p.hdrMean = source.hdrMean;
    p.lcCorrection = source.lcCorrection;
    p.hdr = source.hdr;
    p.lcPlaneMedium = source.lcPlaneMedium;
    p.lcPlaneCoarse = source.lcPlaneCoarse;
    p.lcPlaneFine = source.lcPlaneFine;
    p.maskPlane = source.maskPlane;
    p.settings = &settings;
    return p;
}

} // namespace

bool runToneMapping(toneMappingSettings_t& settings, const toneMapSource_t& source, uint16_t* out16,
                    uint8_t* out8, bool histograms, double* keptColor) {
    const int64_t count = int64_t(source.width) * source.height;
    if (!source.hdr || source.width <= 0 || source.height <= 0 || count > INT32_MAX ||
        !settings.tables.allocated())
        return false;
    toneMapping_threadParams_t base = sourceParams(source, settings);
    base.out16 = out16;
    base.out8 = out16 ? nullptr : out8;
    base.detailPlane = histograms ? nullptr : source.detailPlane;
    base.detailScale = histograms ? 1.0 : source.detailScale;
    base.keptColor = histograms ? keptColor : nullptr;

    // Each part counts into its own histograms; they are summed after the wait.
    struct part_t {
        toneMapping_threadParams_t params;
        std::unique_ptr<uint32_t[]> histograms; // 4 × kBins, moves with the record
    };
    const auto parts = parallelRecords<part_t>(
        count,
        [&](int, int64_t begin, int64_t end) {
            part_t part{base, nullptr};
            part.params.firstPixel = int32_t(begin);
            part.params.endPixel = int32_t(end);
            if (histograms) {
                part.histograms = std::make_unique<uint32_t[]>(size_t(4) * kBins);
                for (int h = 0; h < 4; ++h)
                    part.params.histogram[h] = part.histograms.get() + size_t(h) * kBins;
            }
            return part;
        },
        [](const part_t& part) { toneMapping(part.params); });
    // A cancelled pass left pixels and histograms unfinished: it is a failure, never a result.
    if (halvora::cancelRequested()) return false;

    if (histograms) {
        toneMappingTables_t& tables = settings.tables;
        tables.clearHistograms();
        for (const part_t& part : parts)
            for (int h = 0; h < 4; ++h) {
                const uint32_t* src = part.params.histogram[h];
                uint32_t* dst = tables.histogram[h].data();
                for (int j = 0; j < kBins; ++j)
                    dst[j] += src[j];
            }
    }
    return true;
}

namespace {

// Rows [firstRow, endRow) into out16, whose first samples belong to pixel outFirstPixel.
bool toneMapRows(const toneMappingSettings_t& settings, const toneMapSource_t& source, int firstRow,
                 int endRow, uint16_t* out16, int64_t outFirstPixel) {
    const int64_t count = int64_t(source.width) * source.height;
    if (!source.hdr || !out16 || source.width <= 0 || source.height <= 0 || count > INT32_MAX ||
        !settings.tables.allocated() || firstRow < 0 || endRow > source.height || firstRow >= endRow)
        return false;
    toneMapping_threadParams_t base = sourceParams(source, settings);
    base.out16 = out16;
    base.outFirstPixel = int32_t(outFirstPixel);
    base.detailPlane = source.detailPlane;
    base.detailScale = source.detailScale;
    const int64_t first = int64_t(firstRow) * source.width;
    parallelFor(int64_t(endRow - firstRow) * source.width, [&](int, int64_t begin, int64_t end) {
        toneMapping_threadParams_t p = base;
        p.firstPixel = int32_t(first + begin);
        p.endPixel = int32_t(first + end);
        toneMapping(p);
    });
    return !halvora::cancelRequested();
}

} // namespace

bool runToneMappingRows(const toneMappingSettings_t& settings, const toneMapSource_t& source, int firstRow,
                        int endRow, uint16_t* out16) {
    return toneMapRows(settings, source, firstRow, endRow, out16, 0);
}

bool runToneMappingBand(const toneMappingSettings_t& settings, const toneMapSource_t& source, int firstRow,
                        int endRow, uint16_t* band) {
    return toneMapRows(settings, source, firstRow, endRow, band, int64_t(firstRow) * source.width);
}

bool finishToneMapping(const toneMappingSettings_t& settings, const toneMapSource_t& source,
                       const double* keptColor, uint16_t* out16, uint8_t* out8) {
    const int64_t count = int64_t(source.width) * source.height;
    if (!keptColor || source.width <= 0 || source.height <= 0 || count > INT32_MAX) return false;
    toneMapping_threadParams_t base = sourceParams(source, settings);
    base.out16 = out16;
    base.out8 = out16 ? nullptr : out8;
    base.detailPlane = source.detailPlane;
    base.detailScale = source.detailScale;
    // Only read by toneMappingFinish.
    base.keptColor = const_cast<double*>(keptColor);
    parallelFor(count, [&](int, int64_t begin, int64_t end) {
        toneMapping_threadParams_t p = base;
        p.firstPixel = int32_t(begin);
        p.endPixel = int32_t(end);
        toneMappingFinish(p);
    });
    return !halvora::cancelRequested();
}

clipOutcome_t updateClipLevels(toneMappingSettings_t& s, int64_t pixelCount) {
    clipOutcome_t outcome;
    toneMappingTables_t& t = s.tables;
    if (!t.allocated() || pixelCount <= 0) return outcome;
    // Cumulative percentages of R, G, B and their average.
    for (int c = 1; c <= 3; ++c) {
        uint64_t running = 0;
        for (int j = 0; j < kBins; ++j) {
            running += t.histogram[c][size_t(j)];
            t.cumHistogram[c][size_t(j)] = double(running) / double(pixelCount) * 100.0;
        }
    }
    for (int j = 0; j < kBins; ++j)
        t.cumHistogram[0][size_t(j)] =
            (t.cumHistogram[1][size_t(j)] + t.cumHistogram[2][size_t(j)] + t.cumHistogram[3][size_t(j)]) /
            3.0;

    if (s.autoClipping) {
        const std::vector<double>& average = t.cumHistogram[0];
        int lo = 0, hi = 0;
        for (int j = 0; j < kBins; ++j)
            if (average[size_t(j)] >= s.blackClip) {
                lo = j;
                break;
            }
        for (int j = kBins - 1; j >= 0; --j)
            if (100.0 - s.whiteClip >= average[size_t(j)]) {
                hi = j;
                break;
            }
        // Keep white above black, and both inside the histogram.
        if (lo >= hi) {
            if (hi > 0) {
                lo = hi - 1;
            } else {
                lo = 0;
                hi = 1;
            }
        }
        if (s.blackClip >= 0.0001) {
            s.blackLevel = lo / 4095.0;
        } else {
            debugLog("disableAutoClipping\n");
            outcome.disableBlack = true;
        }
        if (s.whiteClip >= 0.0001) {
            s.whiteLevel = hi / 4095.0;
        } else {
            debugLog("disableAutoClipping\n");
            outcome.disableWhite = true;
        }
    }
    resultingPercentages(s);
    return outcome;
}

void stretchLevels(uint8_t* pixels, int64_t sampleCount, double blackLevel, double whiteLevel) {
    const double offset = blackLevel * 255.0;
    const double scale = 1.0 / std::max(whiteLevel - blackLevel, 1.0 / 4095.0);
    uint8_t table[256];
    for (int b = 0; b < 256; ++b)
        table[b] = uint8_t(std::clamp(std::floor((b - offset) * scale), 0.0, 255.0));
    parallelFor(sampleCount, [&](int, int64_t begin, int64_t end) {
        for (int64_t i = begin; i < end; ++i)
            pixels[i] = table[pixels[i]];
    });
}

previewOutcome_t toneMapPreviewPasses(toneMappingSettings_t& s, const toneMapSource_t& source,
                                      uint8_t* callerTarget, uint8_t* display, bool skipHistogram) {
    previewOutcome_t outcome;
    const int64_t count = int64_t(source.width) * source.height;
    // The render pass differs from the histogram pass only from the sharpening on: the histogram
    // pass keeps its colours there, and the render pass finishes them instead of running the whole
    // chain again. Without the memory (24 bytes a pixel) both passes run in full.
    std::unique_ptr<double[]> kept;
    if (!skipHistogram && !callerTarget && display && count > 0 && count <= kMaxKeptPixels)
        kept = allocateBlock<double>(size_t(count) * 3);
    if (!skipHistogram) {
        if (!runToneMapping(s, source, nullptr, callerTarget, true, kept.get())) return outcome;
        const clipOutcome_t clip = updateClipLevels(s, count);
        outcome.disableAutoClipping = clip.disableBlack || clip.disableWhite;
        if (callerTarget) {
            stretchLevels(callerTarget, count * 3, s.blackLevel, s.whiteLevel);
            return outcome;
        }
    } else if (s.tables.allocated()) {
        resultingPercentages(s);
    }
    uint8_t* target = callerTarget ? callerTarget : display;
    // A cancelled histogram pass left the kept colours incomplete.
    if (kept && halvora::cancelRequested()) return outcome;
    const bool rendered = kept ? finishToneMapping(s, source, kept.get(), nullptr, target)
                               : target && runToneMapping(s, source, nullptr, target, false);
    if (rendered) outcome.renderedDisplay = target == display;
    return outcome;
}

} // namespace halvora
