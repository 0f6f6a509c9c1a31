// The last stages of generateHDRworker: from the merged (or enhanced, or opened) radiance picture to
// a picture ready for tone-mapping preparation. Each slot runs on the worker's own thread and ends
// with finished(ok); the main thread does not touch the project until then.

#include "project/generateHDRworker.h"

#include "base/debugLog.h"
#include "base/runContext.h"
#include "hdr/hdrPreprocess.h"
#include "hdr/noiseFilter.h"
#include "imageio/imageSaver.h"
#include "project/processingProject.h"

#include <QFileInfo>

halvora::noiseFilterOptions_t generateHDRworker::noiseOptions(bool calibrated) const {
    halvora::noiseFilterOptions_t o;
    o.strength = noiseFilterStrength;
    o.softness = noiseFilterSoftness;
    o.calibrated = calibrated;
    if (project_)
        for (const auto& photo : project_->photos) {
            o.photoIso.push_back(double(photo->exif.iso));
            if (photo->isRaw && !photo->rawNoiseFilter) o.rawNotDenoised = true;
        }
    return o;
}

void generateHDRworker::pictureReady() {
    processingProject& pr = *project_;
    pr.hdrImage.buildLevels();
    pr.hdrPresent = true;
    pr.maskPlaneValid = false;
    pr.lcPlanesValid = false;
    pr.invalidateToneMapCaches();
}

namespace {

// The noise filter leaves a half-filtered picture behind when it stops early; that picture is
// never handed on.
bool filterNoise(generateHDRworker& worker, processingProject& pr, bool calibrated, const char* caller) {
    if (!worker.noiseFilterEnabled) return true;
    if (halvora::noiseFilter(pr.rgbFloatBuffer(), pr.hdrImage.width(), pr.hdrImage.height(),
                             worker.noiseOptions(calibrated)))
        return true;
    worker.lastError =
        halvora::cancelRequested() ? QStringLiteral("Aborted.") : QStringLiteral("Not enough memory!");
    debugLog("%s: noise filtering failed: %s\n", caller, worker.lastError.toLocal8Bit().constData());
    return false;
}

} // namespace

void generateHDRworker::generateHDR_function() {
    const char* const caller = "generateHDRworker::generateHDR_function";
    bool ok = generateHDR_core();
    processingProject* pr = project_;
    if (ok && saveHDR && !hdrOutputFileName.isEmpty()) {
        // The merged radiance, before the preprocess scales it.
        const bool rgbe = QFileInfo(hdrOutputFileName).suffix().compare("hdr", Qt::CaseInsensitive) == 0;
        debugLog("Saving HDR image: '%s'...\n", hdrOutputFileName.toLocal8Bit().constData());
        const int w = pr->hdrImage.width(), h = pr->hdrImage.height();
        QString reason;
        ok = rgbe ? imageSaver::saveRadianceRGBE(hdrOutputFileName, w, h, pr->rgbFloatBuffer(), &reason)
                  : imageSaver::saveOpenEXR(hdrOutputFileName, w, h, pr->rgbFloatBuffer(), &reason);
        if (!ok) fail(caller, reason);
    }
    ok = ok && hdrPreprocess() && filterNoise(*this, *pr, false, caller);
    if (ok && halvora::cancelRequested()) ok = fail(caller, "Aborted.");
    if (ok) pictureReady();
    emit finished(ok);
}

void generateHDRworker::generateLDR_function() {
    const char* const caller = "generateHDRworker::generateLDR_function";
    bool ok = ldrPreprocess() && filterNoise(*this, *project_, false, caller);
    if (ok && halvora::cancelRequested()) ok = fail(caller, "Aborted.");
    if (ok) pictureReady();
    emit finished(ok);
}

void generateHDRworker::prepareRadiance_function() {
    const char* const caller = "generateHDRworker::prepareRadiance_function";
    lastError.clear();
    bool ok = true;
    if (!project_ || !project_->rgbFloatBuffer() || project_->hdrImage.width() <= 0) {
        ok = fail(caller, "The radiance picture is not allocated.");
    } else {
        processingProject& pr = *project_;
        const size_t pixels = size_t(pr.hdrImage.width()) * size_t(pr.hdrImage.height());
        double lo = 0, hi = 0;
        halvora::radianceRange(pr.rgbFloatBuffer(), pixels, lo, hi);
        debugLog("HDR preprocess of the opened picture (range %g ... %g)...\n", lo, hi);
        const halvora::hdrStatistics s = halvora::applyGammaHDR(pr.rgbFloatBuffer(), pixels, trueHDR, lo, hi);
        pr.lcCorrection = s.lcCorrection;
        pr.hdrMean = s.hdrMean;
        ok = filterNoise(*this, pr, true, caller);
        if (ok && halvora::cancelRequested()) ok = fail(caller, "Aborted.");
    }
    if (ok) pictureReady();
    emit finished(ok);
}
