// Saving the result from the main window.
#include "ui/mainWindow.h"

#include "app/commandLineOptions.h"
#include "app/debugLog.h"
#include "app/processingProject.h"
#include "imageio/saveResultWorker.h"

#include <QApplication>
#include <QDir>
#include <QThread>
#include <QTimer>

void mainWindow::saveResultSlot(const saveResultRequest& request) {
    if (!project_ || savePhotoWorker_.occupied())
        return;
    appendLog(logInfo, tr("Saving result..."));
    auto* worker = new saveResultWorker(request, project_->resultBuffer(), project_->width, project_->height);
    processingProject* pr = project_.get();
    worker->toneMapEntirePhoto = [pr] { return pr->toneMapFullImage(); };
    QApplication::setOverrideCursor(Qt::BusyCursor);
    setControlsEnabled(false);
    auto* thread = new QThread(this);
    worker->moveToThread(thread);
    connect(thread, &QThread::started, worker, &saveResultWorker::doSaveResult);
    connect(worker, &saveResultWorker::finished, this, &mainWindow::saveResultFinished, Qt::QueuedConnection);
    savePhotoWorker_ = {thread, worker};
    startProgress(uint64_t(project_->width) * uint64_t(project_->height) * 3);
    thread->start();
}

void mainWindow::saveResultFinished() {
    auto* worker = static_cast<saveResultWorker*>(savePhotoWorker_.worker);
    if (!worker)
        return;
    const saveResultRequest request = worker->request;
    releaseWorker(savePhotoWorker_);
    finishProgress();
    QApplication::restoreOverrideCursor();
    setControlsEnabled(true);
    const bool automatic = commandLineOptions::current().autoProcess;
    for (const saveResultMessage_t& m : saveResultFinishedMessages(&request, automatic, metadataTransfer_t::notRequested))
        appendLog(m.color == "#60a060"   ? logSuccess
                  : m.color == "#b06060" ? logError
                  : m.color == "#b0b060" ? logWarning
                                         : logInfo,
                  m.text);
    if (closing_)
        return;
    if (!request.success) {
        if (automatic)
            failUnattended(tr("Saving the result failed: %1").arg(request.error));
        return;
    }
    resultSaved = true;
    lastSavedPath = request.fileName;
    if (automatic) {
        debugLog("Automatic run finished: '%s'\n", QDir::toNativeSeparators(lastSavedPath).toLocal8Bit().constData());
        QTimer::singleShot(0, this, [this] { close(); });
    }
}
