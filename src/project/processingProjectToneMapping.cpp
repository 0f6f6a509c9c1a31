// The processing project's tone-mapping drivers: they pick the picture level and the project's
// buffers and run the passes of tonemap/picturePasses.

#include "base/debugLog.h"
#include "base/parallelFor.h"
#include "base/runContext.h"
#include "project/processingProject.h"
#include "tonemap/detailPlane.h"
#include "tonemap/picturePasses.h"

#include <algorithm>
#include <vector>

namespace {

// Only planes the preparation has finished for this picture are read; without them the chain runs
// without local contrast or Mask rather than on stale data.
void setPlanes(processingProject& p, halvora::toneMapSource_t& source, int level) {
    const bool lc = p.lcPlanesValid && p.lcPlaneFine.allocated() && p.lcPlaneMedium.allocated() &&
                    p.lcPlaneCoarse.allocated();
    source.lcPlaneFine = lc ? p.lcPlaneFine.data<uint16_t>(level) : nullptr;
    source.lcPlaneMedium = lc && !p.lcMediumSkipped ? p.lcPlaneMedium.data<uint16_t>(level) : nullptr;
    source.lcPlaneCoarse = lc && !p.lcCoarseSkipped ? p.lcPlaneCoarse.data<uint16_t>(level) : nullptr;
    source.maskPlane =
        p.maskPlaneValid && p.maskPlane.allocated() ? p.maskPlane.data<uint16_t>(level) : nullptr;
}

} // namespace

int processingProject::previewToneMapLevel() const {
    const int levels = hdrImage.levelCount();
    if (levels <= 0) return -1;
    if (toneMapLevel >= 0 && toneMapLevel < levels) return toneMapLevel;
    int level = 0;
    while (level + 1 < levels && hdrImage.width(level + 1) >= previewWidth)
        ++level;
    return level;
}

void processingProject::releasePreviewLevels() {
    for (pyramid* p : {&hdrImage, &lcPlaneFine, &lcPlaneMedium, &lcPlaneCoarse, &maskPlane})
        p->dropSmallerLevels();
    toneMapLevel = -1;
    invalidateToneMapCaches();
}

void processingProject::releaseLevelsBesidesPreview() {
    const int level = previewToneMapLevel();
    if (level < 0) return;
    hdrImage.releaseSmallerLevelsExcept(level);
}

void processingProject::invalidateToneMapCaches() {
    std::vector<int16_t>().swap(previewDetailPlane_);
    previewDetailLevel_ = -1;
    previewValid = false;
}

void processingProject::toneMapPreview(toneMappingSettings_t& settings, uint8_t* target, bool skipHistogram) {
    const char* const caller = "processingProject::toneMapPreview";
    const int level = previewToneMapLevel();
    if (level < 0 || !hdrImage.allocated()) {
        debugLog("%s: no picture to tone map\n", caller);
        return;
    }
    const int w = hdrImage.width(level), h = hdrImage.height(level);
    const size_t pixels = size_t(w) * size_t(h);
    const bool panorama = halvora::runContext::current().panoramaMode();

    if (previewDetailLevel_ != level || previewDetailPlane_.size() != pixels) {
        std::vector<uint16_t> scratch;
        try {
            previewDetailPlane_.assign(pixels, 0);
            scratch.assign(pixels, 0);
        } catch (const std::bad_alloc&) {
            debugLog("%s: Not enough memory!\n", caller);
            invalidateToneMapCaches();
            return;
        }
        halvora::computeDetailPlane(width, height, hdrImage.data<float>(level), previewDetailPlane_.data(),
                                    scratch.data(), w, h, panorama, previewDetailScale_, double(w) / width);
        previewDetailLevel_ = level;
    }

    halvora::toneMapSource_t source;
    source.width = w;
    source.height = h;
    source.hdr = hdrImage.data<float>(level);
    setPlanes(*this, source, level);
    source.detailPlane = previewDetailPlane_.data();
    source.detailScale = previewDetailScale_;
    source.hdrMean = hdrMean;
    source.lcCorrection = lcCorrection;

    uint8_t* display = nullptr;
    if (!target) {
        if (toneMappedPreview.size() != pixels * 3) toneMappedPreview.assign(pixels * 3, 0);
        toneMappedWidth = w;
        toneMappedHeight = h;
        display = toneMappedPreview.data();
    }
    const halvora::previewOutcome_t outcome =
        halvora::toneMapPreviewPasses(settings, source, target, display, skipHistogram);
    if (outcome.disableAutoClipping) emit disableAutoClipping();
    if (outcome.renderedDisplay) {
        previewValid = true;
        emit toneMappingFinished();
    }
}

bool processingProject::toneMapFullImage(
    const std::function<bool(int firstRow, int endRow, const uint16_t* rows)>& rowsReady) {
    const char* const caller = "processingProject::toneMapFullImage";
    debugLog("Tone mapping entire photo...\n");
    if (!hdrImage.allocated() || !resultImage.allocated() || width <= 0 || height <= 0) {
        debugLog("%s: no picture to tone map\n", caller);
        return false;
    }
    const size_t pixels = size_t(width) * size_t(height);
    halvora::toneMapSource_t source;
    source.width = width;
    source.height = height;
    source.hdr = rgbFloatBuffer();
    setPlanes(*this, source, 0);
    source.hdrMean = hdrMean;
    source.lcCorrection = lcCorrection;

    // The result buffer holds three samples per pixel. Without bands it receives the picture, and the
    // detail plane (made only with sharpening, which it serves) needs a block of its own; with bands
    // the picture never lies there whole, so its first third holds the detail plane, the second the
    // plane's unsmoothed scratch and then the two bands in flight: fresh memory is spared.
    const bool sharpen = tmSettings.sharpness > 0;
    uint16_t* const result = resultBuffer();
    std::unique_ptr<int16_t[]> ownDetail;
    int16_t* detail = nullptr;
    if (sharpen && !rowsReady) {
        ownDetail = halvora::allocateBlock<int16_t>(pixels);
        if (!ownDetail) {
            debugLog("%s: Not enough memory!\n", caller);
            return false;
        }
        detail = ownDetail.get();
    } else if (sharpen) {
        detail = reinterpret_cast<int16_t*>(result);
    }
    if (detail) {
        uint16_t* scratch = detail == ownDetail.get() ? result : result + pixels;
        halvora::computeDetailPlane(width, height, source.hdr, detail, scratch, width, height,
                                    halvora::runContext::current().panoramaMode(), source.detailScale, 1.0);
        source.detailPlane = detail;
    }
    if (!rowsReady) return halvora::runToneMapping(tmSettings, source, result, nullptr, false);

    // Band b is tone-mapped while band b − 1 is handed on; a band is a sixteenth of the picture, so the
    // hand-over of the last one is all that is left when the tone mapping ends.
    const int bandRows = std::max(16, (height + 15) / 16);
    const int bands = (height + bandRows - 1) / bandRows;
    const size_t bandSamples = size_t(std::min(bandRows, height)) * size_t(width) * 3;
    const size_t ringStart = detail ? pixels : 0;
    std::unique_ptr<uint16_t[]> ownRing;
    uint16_t* ring = result + ringStart;
    if (ringStart + 2 * bandSamples > 3 * pixels) { // a picture only a few bands high
        ownRing = halvora::allocateBlock<uint16_t>(2 * bandSamples);
        if (!ownRing) {
            debugLog("%s: Not enough memory!\n", caller);
            return false;
        }
        ring = ownRing.get();
    }
    const bool overlap = halvora::usableThreadCount() > 1;
    bool toneMapped = true, handedOn = true;
    for (int b = 0; b <= bands && toneMapped && handedOn; ++b) {
        const int first = b * bandRows, end = std::min(height, first + bandRows);
        auto toneMapBand = [&] {
            if (b < bands)
                toneMapped = halvora::runToneMappingBand(tmSettings, source, first, end,
                                                         ring + size_t(b % 2) * bandSamples);
        };
        auto handOn = [&] {
            if (b > 0)
                handedOn = rowsReady(first - bandRows, std::min(height, first),
                                     ring + size_t((b - 1) % 2) * bandSamples);
        };
        if (overlap) {
            halvora::parallelForParts(
                2, 2, [&](int part, int64_t, int64_t) { part == 0 ? toneMapBand() : handOn(); });
        } else {
            toneMapBand();
            handOn();
        }
    }
    if (!toneMapped) debugLog("%s: tone mapping stopped\n", caller);
    return toneMapped && handedOn;
}
