// Tone mapping in the main window: preparation of the picture's planes and the preview.
#include "ui/mainWindow.h"

#include "app/automaticRun.h"
#include "app/commandLineOptions.h"
#include "app/processingProject.h"
#include "app/programOptionsSettings.h"
#include "tonemap/toneMappingPreprocessWorker.h"

#include <QApplication>
#include <QLabel>
#include <QTabWidget>
#include <QThread>
#include <QTimer>

void mainWindow::toneMappingPrepare() {
    if (!project_ || toneMappingWorker_.occupied())
        return;
    const commandLineOptions& cl = commandLineOptions::current();
    if (cl.autoProcess)
        appendLog(logInfo, tr("Tone mapping..."));
    rightTabs_->setCurrentIndex(1);
    toneMappingPrepareOptions_t options;
    options.panoramaMode = programOptionsSettings::instance().panoramaMode || (cl.autoProcess && cl.panoramaMode);
    auto* worker = new toneMappingPreprocessWorker(project_.get(), options);
    const uint64_t total = toneMappingPreprocessWorker::progressTotal(*project_);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    setControlsEnabled(false);
    auto* thread = new QThread(this);
    worker->moveToThread(thread);
    connect(thread, &QThread::started, worker, &toneMappingPreprocessWorker::doIt);
    connect(worker, &toneMappingPreprocessWorker::finished, this, &mainWindow::toneMappingPrepareFinished,
            Qt::QueuedConnection);
    toneMappingWorker_ = {thread, worker};
    startProgress(total);
    thread->start();
}

void mainWindow::toneMappingPrepareFinished() {
    auto* worker = static_cast<toneMappingPreprocessWorker*>(toneMappingWorker_.worker);
    if (!worker)
        return;
    const bool ok = worker->succeeded();
    releaseWorker(toneMappingWorker_);
    finishProgress();
    QApplication::restoreOverrideCursor();
    setControlsEnabled(true);
    if (closing_)
        return;
    const bool automatic = commandLineOptions::current().autoProcess;
    if (!ok) {
        if (automatic)
            failUnattended(tr("Preparing the picture for tone mapping failed."));
        else
            appendLog(logError, tr("Preparing the picture for tone mapping failed."));
        return;
    }
    doToneMapping(true);
    if (!automatic)
        return;
    QString error;
    QStringList inputs;
    for (const auto& photo : project_->photos)
        inputs << photo->fileName;
    saveResultRequest request = halvora::automaticSaveRequest(
        commandLineOptions::current(), saveResultOptions_t::fromSettings(programOptionsSettings::instance()), inputs,
        error);
    if (request.fileName.isEmpty()) {
        failUnattended(error);
        return;
    }
    // The name checked at the start stays the target even if a file of that name appeared meanwhile.
    if (!lastSavedPath.isEmpty())
        request.fileName = lastSavedPath;
    lastSavedPath = request.fileName;
    saveResultSlot(request);
}

void mainWindow::doToneMapping(bool preset) {
    Q_UNUSED(preset);
    if (!project_ || !project_->hdrPresent || !project_->lcPlanesValid)
        return;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    project_->toneMapPreview(project_->tmSettings, nullptr, false);
    if (project_->previewValid && !project_->toneMappedPreview.empty()) {
        QImage shown(project_->toneMappedPreview.data(), project_->toneMappedWidth, project_->toneMappedHeight,
                     project_->toneMappedWidth * 3, QImage::Format_RGB888);
        pictureView_->setPixmap(QPixmap::fromImage(shown.copy()));
    }
    QApplication::restoreOverrideCursor();
}
