#include "project/toneMappingPreprocessWorker.h"

#include "base/debugLog.h"
#include "base/parallelFor.h"
#include "base/runContext.h"
#include "project/processingProject.h"
#include "tonemap/localContrast.h"
#include "tonemap/maskPlane.h"
#include "tonemap/pixelChain.h"
#include "tonemap/toneMappingSettings.h"

#include <algorithm>
#include <cmath>

using namespace halvora;

namespace {

// Samples of the result buffer the local-contrast passes use: the prepared plane and the grid of its
// even-row, even-column samples.
size_t localContrastScratchSamples(int w, int h) {
    return size_t(w) * size_t(h) + size_t((w + 1) / 2) * size_t((h + 1) / 2);
}

bool maskPassNeeded(const processingProject& p, const toneMappingPrepareOptions_t& o) {
    return o.maskPlane && !p.maskPlaneValid;
}

// Planes left out by an earlier run with a fixed look count as missing when these options want them.
bool localContrastPassNeeded(const processingProject& p, const toneMappingPrepareOptions_t& o) {
    if (!o.localContrast) return false;
    return !p.lcPlanesValid || (o.lcMedium && p.lcMediumSkipped) || (o.lcCoarse && p.lcCoarseSkipped);
}

} // namespace

void toneMappingPrepareOptions_t::onlyPlanesReadBy(const toneMappingSettings_t& look) {
    maskPlane = look.maskEnabled;
    localContrast = look.localContrastEnabled;
    const localContrastPlanesRead_t reads = localContrastPlanesRead(look.range);
    lcMedium = reads.medium;
    lcCoarse = reads.coarse;
}

toneMappingPreprocessWorker::toneMappingPreprocessWorker(processingProject* project,
                                                         const toneMappingPrepareOptions_t& options,
                                                         QObject* parent)
    : QObject(parent), project_(project), options_(options) {}

uint64_t toneMappingPreprocessWorker::progressTotal(const processingProject& project,
                                                    const toneMappingPrepareOptions_t& options) {
    const uint64_t w = uint64_t(std::max(0, project.width)), h = uint64_t(std::max(0, project.height));
    uint64_t total = 0;
    if (maskPassNeeded(project, options)) total += w + h;
    if (localContrastPassNeeded(project, options))
        total += (1 + uint64_t(options.lcMedium) + uint64_t(options.lcCoarse)) * w;
    return total;
}

void toneMappingPreprocessWorker::doIt() {
    ok_ = run();
    emit finished();
}

bool toneMappingPreprocessWorker::run() {
    const char* const caller = "toneMappingPreprocessWorker::doIt";
    processingProject* p = project_;
    if (!p || p->width <= 0 || p->height <= 0 || !p->rgbFloatBuffer() || !p->resultBuffer()) {
        debugLog("%s: no picture to prepare\n", caller);
        return false;
    }
    // Every plane (and the result buffer used as scratch) must hold exactly the picture.
    for (const pyramid* plane : {&p->hdrImage, &p->resultImage, &p->lcPlaneFine, &p->lcPlaneMedium,
                                 &p->lcPlaneCoarse, &p->maskPlane}) {
        if (!plane->allocated() || plane->width() != p->width || plane->height() != p->height) {
            debugLog("%s: planes do not match the picture size %dx%d\n", caller, p->width, p->height);
            return false;
        }
    }
    // The mask plane and the local-contrast planes read only the radiance picture and write planes
    // (and scratch thirds of the result buffer) of their own: with two threads they run side by side,
    // each splitting its loops over the pool, so that either fills the other's serial stretches.
    const bool mask = maskPassNeeded(*p, options_), lc = localContrastPassNeeded(*p, options_);
    bool maskDone = !mask, lcDone = !lc;
    if (mask && lc && halvora::usableThreadCount() > 1) {
        halvora::parallelForParts(2, 2, [&](int part, int64_t, int64_t) {
            if (part == 0)
                maskDone = prepareMaskPlane();
            else
                lcDone = prepareLocalContrast();
        });
    } else {
        if (mask) maskDone = prepareMaskPlane();
        if (lc && maskDone) lcDone = prepareLocalContrast();
    }
    // A plane is marked only when its own pass ended: a cancelled or failed one is redone next time.
    if (mask && maskDone) p->maskPlaneValid = true;
    if (lc && lcDone) {
        p->lcPlanesValid = true;
        p->lcMediumSkipped = !options_.lcMedium;
        p->lcCoarseSkipped = !options_.lcCoarse;
    }
    return maskDone && lcDone;
}

bool toneMappingPreprocessWorker::prepareMaskPlane() {
    processingProject* p = project_;
    debugLog("Mask...\n");
    // The result buffer is free until the full-resolution tone mapping: it serves as scratch, right
    // after what the local-contrast passes (which may run meanwhile) use of it, so that as little as
    // possible of its last third (untouched by the banded tone mapping) becomes resident.
    if (!computeMaskPlane(p->rgbFloatBuffer(), p->width, p->height, p->maskPlane.data<uint16_t>(),
                          p->resultBuffer() + localContrastScratchSamples(p->width, p->height)))
        return false;
    p->maskPlane.buildLevels();
    return !halvora::cancelRequested();
}

bool toneMappingPreprocessWorker::prepareLocalContrast() {
    processingProject* p = project_;
    const int w = p->width, h = p->height;
    const bool panorama = options_.panoramaMode;
    debugLog("Local Contrast (panorama mode = %d)...\n", int(panorama));

    double e = p->lcCorrection;
    if (!std::isfinite(e) || e <= 0.0) {
        debugLog("%s: lcCorrection %g is out of range, using 1\n", "toneMappingPreprocessWorker::doIt", e);
        e = 1.0;
    }
    // The prepared plane is the first third of the 3-channel result buffer; the window samples
    // (a quarter of the picture) follow it.
    uint16_t* prepared = p->resultBuffer();
    uint16_t* samples = prepared + size_t(w) * size_t(h);

    debugLog("* preparing...\n");
    if (!runLocalContrastPrepare(p->rgbFloatBuffer(), w, h, e, prepared)) return false;

    const localContrastWindows_t k = localContrastWindowSizes(w, h);
    // Step n: the plane of window half-size `size`, with its pyramid.
    auto step = [&](int n, int size, bool constantWidth, pyramid& plane) {
        debugLog("* step %d (k=%d)...\n", n, size);
        if (!runLocalContrast(prepared, w, h, size, panorama, constantWidth, samples, plane.data<uint16_t>()))
            return false;
        plane.buildLevels();
        return true;
    };
    if (options_.lcMedium && !step(1, k.medium, false, p->lcPlaneMedium)) return false;
    if (!step(2, k.fine, true, p->lcPlaneFine)) return false;
    if (options_.lcCoarse && !step(3, k.coarse, false, p->lcPlaneCoarse)) return false;
    return !halvora::cancelRequested();
}
