#include "project/generationRun.h"

#include "base/debugLog.h"
#include "project/alignmentWorker.h"
#include "project/generateHDRworker.h"
#include "project/processingProject.h"

#include <QDir>

generationRun::generationRun(processingProject* project, const genHDR_options& options, bool radiance,
                             bool hidden, const runSettings& settings, QObject* parent)
    : projectRun(settings, parent), project_(project), options_(options), radiance_(radiance),
      hidden_(hidden) {
    options_.normalize();
    connect(&thread(), &halvora::workerThread::finished, this, &generationRun::generateHDRfinished);
}

generationRun::~generationRun() {
    stopNow();
}

uint64_t generationRun::generationProgressTotal(int width, int height, int photos, const genHDR_options& o) {
    const uint64_t w = uint64_t(std::max(width, 0)), h = uint64_t(std::max(height, 0));
    const uint64_t n = uint64_t(std::max(photos, 0));
    const uint64_t noise = o.noiseFilter ? (w + 2 * h) * 15 : 0;
    if (o.ldrEnhancement) return noise + 1;
    uint64_t total = 10 * h + noise;
    if (o.method == 1) total += n * (h + w);
    if (o.ghostRemoval) total += n * h * 3;
    if (o.saveHDR && !o.hdrFileName.isEmpty()) total += h;
    return total;
}

void generationRun::start() {
    if (!project_ || !markStarted()) return;
    stage_ = 0;
    generateHDRslot();
}

void generationRun::report(int kind, const QString& text) {
    debugLog("%s\n", text.toLocal8Bit().constData());
    if (hidden_)
        emit logLine(kind, text);
    else
        emit message(kind, text);
}

void generationRun::generateHDRslot() {
    if (!running()) return;
    if (stage_ == 0) stage_ = radiance_ ? 4 : options_.ldrEnhancement ? 3 : 1;
    if (stage_ > 1 && context().cancelled()) {
        fail(QStringLiteral("Aborted."));
        return;
    }
    // Photos aligned before (by hand or by an earlier run) are not aligned again.
    if (stage_ == 1 && (!options_.autoAlign || project_->aligned || project_->photos.size() < 2)) stage_ = 2;
    startStage(stage_);
}

void generationRun::startStage(int stage) {
    worker_ = std::make_unique<generateHDRworker>(project_);
    genHDR_options run = options_;
    run.autoAlign = false;
    run.ghostRemoval = false; // ghost removal is not built yet
    uint64_t total = 1;
    void (generateHDRworker::*entry)() = nullptr;
    if (stage == 4) {
        worker_->noiseFilterEnabled = project_->hdrOptions.noiseFilter;
        worker_->noiseFilterStrength = project_->hdrOptions.noiseFilterStrength;
        worker_->noiseFilterSoftness = project_->hdrOptions.noiseFilterSoftness;
        entry = &generateHDRworker::prepareRadiance_function;
        if (hidden_) emit logLine(info, tr("Preparing the HDR image..."));
        total = worker_->noiseFilterEnabled
                    ? (uint64_t(project_->width) + 2 * uint64_t(project_->height)) * 15
                    : 1;
        project_->discardPicture(); // the worker overwrites the picture in place
    } else {
        worker_->setOptions(run);
        if (stage == 1) {
            entry = &generateHDRworker::generateHDR_preAutoAlign;
            if (hidden_) emit logLine(info, tr("Auto alignment..."));
            total = alignmentWorker(project_).autoAlignProgressUnits();
            project_->discardPicture(); // made from the photos as they were
        } else if (stage == 2) {
            entry = &generateHDRworker::generateHDR_prepare;
            debugLog("Preparing to HDR generation (stage 2)\n");
        } else {
            if (options_.ldrEnhancement) {
                entry = &generateHDRworker::generateLDR_function;
                debugLog("LDR enhancement...\n");
                if (hidden_) emit logLine(info, tr("LDR enhancement..."));
            } else {
                entry = &generateHDRworker::generateHDR_function;
                debugLog("HDR generation...\n");
                if (hidden_) {
                    if (options_.ghostRemoval)
                        emit logLine(warning, tr("Automatic ghost removal is not available in this version; "
                                                 "merging without it."));
                    emit logLine(info, tr("HDR generation..."));
                }
            }
            int photos = 0;
            for (const auto& photo : project_->photos)
                photos += photo->included ? 1 : 0;
            total = generationProgressTotal(project_->width, project_->height, photos, run);
            project_->discardPicture(); // the worker overwrites the picture in place
        }
    }
    // The worker reports on its own thread; the flag is read once the thread has ended.
    stageOk_ = false;
    connect(
        worker_.get(), &generateHDRworker::finished, this, [this](bool ok) { stageOk_ = ok; },
        Qt::DirectConnection);
    beginProgress(total);
    generateHDRworker* worker = worker_.get();
    thread().start(context(), [worker, entry] { (worker->*entry)(); });
}

void generationRun::fail(const QString& error) {
    const int stage = stage_;
    const QString what = stage == 2                ? tr("Preparing the HDR generation failed.")
                         : stage == 4              ? tr("Preparing the HDR image failed.")
                         : options_.ldrEnhancement ? tr("LDR enhancement failed.")
                                                   : tr("HDR generation failed.");
    const QString text = error.isEmpty() ? what : what + " " + error;
    debugLog("generationRun: %s\n", text.toLocal8Bit().constData());
    finish(false, text);
}

void generationRun::generateHDRfinished() {
    if (!worker_ || !running()) return;
    bool ok = stageOk_;
    const QString error = worker_->lastError;
    const bool savedHdr = ok && worker_->saveHDR && !worker_->hdrOutputFileName.isEmpty();
    const QString hdrName = worker_->hdrOutputFileName;
    worker_.reset();
    const bool cancelled = context().cancelled();
    if (stage_ == 1 && !cancelled) {
        // A failed alignment leaves the photos as they were; the merge goes on without it.
        if (ok) {
            debugLog("Alignment done\n");
            emit photosChanged();
        } else {
            debugLog("Alignment failed!\n");
            report(warning, tr("Most probably the alignment failed because too little matching features were "
                               "found. Please try other auto alignment methods, or use the manual tool."));
        }
        emit finishProgress();
        stage_ = 2;
        generateHDRslot();
        return;
    }
    if (ok && cancelled && stage_ != 3 && stage_ != 4)
        ok = false; // a "Break" during preparation ends the run before the long stage
    if (!ok) {
        fail(error.isEmpty() && cancelled ? QStringLiteral("Aborted.") : error);
        return;
    }
    if (stage_ == 2) {
        emit finishProgress();
        stage_ = 3;
        generateHDRslot();
        return;
    }
    if (savedHdr) {
        const QString text = tr("Saved as") + " " + QDir::toNativeSeparators(hdrName);
        debugLog("%s\n", text.toLocal8Bit().constData());
        emit logLine(success, text);
    }
    finish(true, QString());
}

void generationRun::stopNow() {
    projectRun::stopNow();
    worker_.reset();
}
