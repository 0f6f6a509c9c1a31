// HDR generation stages started from the main window, and the automatic run's road into them.
#include "ui/mainWindow.h"

#include "app/automaticRun.h"
#include "app/commandLineOptions.h"
#include "app/debugLog.h"
#include "app/processingProject.h"
#include "app/programOptionsSettings.h"
#include "hdr/exposureValues.h"
#include "hdr/genHDR_options.h"
#include "hdr/generateHDRworker.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>

void mainWindow::startAutomaticGeneration() {
    const commandLineOptions& cl = commandLineOptions::current();
    QStringList inputs;
    for (const auto& photo : project_->photos)
        inputs << photo->fileName;

    // The targets are checked before the long work: a run that cannot save must not merge first.
    QString error;
    const saveResultRequest request = halvora::automaticSaveRequest(
        cl, saveResultOptions_t::fromSettings(programOptionsSettings::instance()), inputs, error);
    if (request.fileName.isEmpty()) {
        failUnattended(error);
        return;
    }
    autoHdrOutput_ = halvora::automaticHdrOutputPath(cl, error);
    if (!error.isEmpty()) {
        failUnattended(error);
        return;
    }
    lastSavedPath = request.fileName;
    if (request.options.convertToSrgb) {
        // No output colour transform exists yet: say so rather than pretend the file was converted.
        const QString text = tr("Conversion to sRGB is not available in this version; the result is saved as it is.");
        appendLog(logWarning, text);
        debugLog("%s\n", text.toLocal8Bit().constData());
    }

    if (project_->photos.front()->isRadiance) {
        if (!autoHdrOutput_.isEmpty()) {
            appendLog(logWarning, tr("The input is a radiance picture already: --save_hdr writes nothing."));
            autoHdrOutput_.clear();
        }
        startGenerationStage(4);
        return;
    }
    const halvora::evChoice choice = halvora::chooseEVsAfterLoading(*project_);
    if (!choice.warning.isEmpty()) {
        appendLog(logWarning, choice.warning);
        debugLog("%s\n", choice.warning.toLocal8Bit().constData());
    }
    ldrEnhancement_ = project_->photos.size() == 1;
    if (!ldrEnhancement_) {
        bool switchedToAEB = false;
        for (const QString& w : halvora::evChecksBeforeGeneration(*project_, choice.chosen == halvora::evChoice::fromExif,
                                                                  switchedToAEB)) {
            appendLog(logWarning, w);
            debugLog("%s\n", w.toLocal8Bit().constData());
        }
        for (const auto& photo : project_->photos)
            debugLog("EV: %s = %g\n", QFileInfo(photo->fileName).fileName().toLocal8Bit().constData(), photo->ev);
    }
    // Never ignored in silence: the user asked for these and gets a plain note that they did not happen.
    if (cl.autoAlign) {
        const QString text = tr("Automatic alignment is not available in this version; the photos are merged as they are.");
        appendLog(logWarning, text);
        debugLog("%s\n", text.toLocal8Bit().constData());
    }
    if (cl.autoDeghost) {
        const QString text = tr("Automatic ghost removal is not available in this version; merging without it.");
        appendLog(logWarning, text);
        debugLog("%s\n", text.toLocal8Bit().constData());
    }
    if (ldrEnhancement_ && !autoHdrOutput_.isEmpty()) {
        appendLog(logWarning, tr("One photo is enhanced, not merged: --save_hdr writes nothing."));
        autoHdrOutput_.clear();
    }
    startGenerationStage(ldrEnhancement_ ? 3 : 2);
}

void mainWindow::startGenerationStage(int stage) {
    const commandLineOptions& cl = commandLineOptions::current();
    generationStage_ = stage;
    auto* worker = new generateHDRworker(project_.get());
    const uint64_t w = uint64_t(project_->width), h = uint64_t(project_->height);
    uint64_t total = 1;
    void (generateHDRworker::*entry)() = nullptr;
    if (stage == 4) {
        worker->noiseFilterEnabled = project_->hdrOptions.noiseFilter;
        worker->noiseFilterStrength = project_->hdrOptions.noiseFilterStrength;
        worker->noiseFilterSoftness = project_->hdrOptions.noiseFilterSoftness;
        entry = &generateHDRworker::prepareRadiance_function;
        appendLog(logInfo, tr("Preparing the HDR image..."));
        total = worker->noiseFilterEnabled ? (w + 2 * h) * 15 : 1;
    } else {
        genHDR_options options = genHDR_options::forAutomaticRun(cl, ldrEnhancement_);
        // Alignment and ghost removal are not part of the program yet; the run said so when it started.
        options.autoAlign = false;
        options.ghostRemoval = false;
        options.saveHDR = !autoHdrOutput_.isEmpty();
        options.hdrFileName = autoHdrOutput_;
        options.applyTo(*worker);
        const uint64_t noise = worker->noiseFilterEnabled ? (w + 2 * h) * 15 : 0;
        if (stage == 2) {
            entry = &generateHDRworker::generateHDR_prepare;
            debugLog("Preparing to HDR generation (stage 2)\n");
        } else if (ldrEnhancement_) {
            entry = &generateHDRworker::generateLDR_function;
            appendLog(logInfo, tr("LDR enhancement..."));
            total = noise + 1;
        } else {
            entry = &generateHDRworker::generateHDR_function;
            appendLog(logInfo, tr("HDR generation..."));
            total = 10 * h + noise + (worker->saveHDR ? h : 0);
        }
    }
    QApplication::setOverrideCursor(Qt::BusyCursor);
    setControlsEnabled(false);
    auto* thread = new QThread(this);
    worker->moveToThread(thread);
    connect(thread, &QThread::started, worker, entry);
    connect(worker, &generateHDRworker::finished, this, &mainWindow::generateHDRfinished, Qt::QueuedConnection);
    generateHDRworker_ = {thread, worker};
    startProgress(total);
    thread->start();
}

void mainWindow::generateHDRfinished(bool ok) {
    auto* worker = static_cast<generateHDRworker*>(generateHDRworker_.worker);
    if (!worker)
        return;
    const QString error = worker->lastError;
    const bool savedHdr = worker->saveHDR && ok;
    const QString hdrName = worker->hdrOutputFileName;
    releaseWorker(generateHDRworker_);
    finishProgress();
    QApplication::restoreOverrideCursor();
    setControlsEnabled(true);
    if (closing_)
        return;
    const int stage = generationStage_;
    if (!ok) {
        const QString what = stage == 2   ? tr("Preparing the HDR generation failed.")
                             : stage == 4 ? tr("Preparing the HDR image failed.")
                             : ldrEnhancement_ ? tr("LDR enhancement failed.")
                                               : tr("HDR generation failed.");
        failUnattended(error.isEmpty() ? what : what + " " + error);
        return;
    }
    if (stage == 2) {
        startGenerationStage(3);
        return;
    }
    if (savedHdr) {
        const QString text = tr("Saved as") + " " + QDir::toNativeSeparators(hdrName);
        appendLog(logSuccess, text);
        debugLog("%s\n", text.toLocal8Bit().constData());
    }
    toneMappingPrepare();
}
