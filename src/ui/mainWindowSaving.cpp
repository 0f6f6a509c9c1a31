// Saving the result from the main window.
#include "app/storedOptions.h"
#include "ui/mainWindow.h"

#include "app/programOptionsSettings.h"
#include "base/debugLog.h"
#include "project/processingProject.h"
#include "project/saveAlignedRun.h"
#include "project/saveRun.h"
#include "ui/programOptions.h"
#include "ui/saveAligned.h"
#include "ui/saveResult.h"
#include "ui/styledMessageBox.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QTimer>

bool mainWindow::resultAvailable() const {
    return project_ && project_->hdrPresent && project_->lcPlanesValid && !anyWorkerRunning();
}

QStringList mainWindow::includedPhotoNames() const {
    QStringList names;
    if (project_)
        for (const auto& photo : project_->photos)
            if (photo->included || project_->photos.size() == 1) names << photo->fileName;
    return names;
}

void mainWindow::saveResultSlot() {
    if (!resultAvailable()) return;
    // "Save" repeats the last save of this result; the first one needs a name and options.
    if (lastSaveRequest_.fileName.isEmpty()) {
        saveResultAsSlot();
        return;
    }
    saveResultRequest request = lastSaveRequest_;
    request.success = false;
    request.error.clear();
    request.openInExternalEditor = false;
    saveResultSlot(request);
}

void mainWindow::saveResultAsSlot() {
    if (!resultAvailable()) return;
    programOptionsSettings& options = programOptionsSettings::instance();
    const QStringList inputs = includedPhotoNames();
    const saveResultOptions_t stored = halvora::saveResultOptionsFromSettings(options);
    QString dir = options.savePhotoLastDir;
    if (options.saveToSourceDirByDefault || dir.isEmpty() || !QFileInfo(dir).isDir())
        dir = inputs.isEmpty() ? QDir::homePath() : QFileInfo(inputs.front()).absolutePath();
    const QString start = lastSaveRequest_.fileName.isEmpty()
                              ? dir + "/" + halvora::defaultOutputName(inputs, false) + stored.extension()
                              : lastSaveRequest_.fileName;
    const QString jpegFilter = QStringLiteral("JPEG (*.jpg *.jpeg)");
    const QString tiffFilter = QStringLiteral("TIFF 8/16-bit (*.tif *.tiff)");
    QString selected = stored.format == saveResultOptions_t::formatTiff ? tiffFilter : jpegFilter;
    const QString chosen =
        QFileDialog::getSaveFileName(this, tr("Save as"), start, jpegFilter + ";;" + tiffFilter, &selected);
    if (chosen.isEmpty()) return;
    options.savePhotoLastDir = QFileInfo(chosen).absolutePath();

    saveResultRequest request;
    request.fileName = chosen;
    if (!saveResult::ask(this, options, request)) return;
    // The options dialog decides the format; the name follows it.
    const QString fixed = halvora::outputNameForFormat(chosen, request.options.format);
    if (fixed != chosen && QFileInfo::exists(fixed) &&
        !styledMessageBox::question(this, tr("%1 already exists.<br>Do you want to replace it?")
                                              .arg(QFileInfo(fixed).fileName().toHtmlEscaped())))
        return;
    request.fileName = fixed;
    if (request.openInExternalEditor && !externalEditorReady()) {
        appendLog(logWarning, tr("No external editor is set up; the result is saved without opening it."));
        request.openInExternalEditor = false;
    }
    saveResultSlot(request);
}

bool mainWindow::externalEditorReady() {
    const programOptionsSettings& options = programOptionsSettings::instance();
    auto ready = [&] {
        return options.externalEditorEnabled && QFileInfo(options.externalEditorPath).isExecutable();
    };
    if (!ready()) showProgramOptions(programOptions::pageExternalEditor); // the place to set one up
    return ready();
}

void mainWindow::saveResultSlot(const saveResultRequest& request) {
    if (!project_ || anyWorkerRunning()) return;
    appendLog(logInfo, tr("Saving result..."));
    saveRun_ = std::make_unique<saveRun>(*project_, currentRunSettings());
    connect(saveRun_.get(), &projectRun::finished, this, &mainWindow::saveResultFinished,
            Qt::QueuedConnection);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    setControlsEnabled(false);
    observeRun(saveRun_.get());
    saveRun_->start(request);
}

void mainWindow::saveResultFinished(bool ok, QString error) {
    Q_UNUSED(ok);
    Q_UNUSED(error); // the request carries both
    if (!saveRun_) return;
    const saveResultRequest request = saveRun_->request();
    const metadataTransfer_t transfer = saveRun_->exifTransfer();
    const QString transferError = saveRun_->exifTransferError();
    saveRun_.reset();
    QApplication::restoreOverrideCursor();
    setControlsEnabled(true);
    const bool boxes = !closing_ && !styledMessageBox::unattended();
    if (!transferError.isEmpty()) appendLog(logWarning, transferError);
    for (const saveResultMessage_t& m : halvora::saveResultFinishedMessages(&request, false, transfer)) {
        const logKind kind = m.color == "#60a060"   ? logSuccess
                             : m.color == "#b06060" ? logError
                             : m.color == "#b0b060" ? logWarning
                                                    : logInfo;
        QString text = m.text;
        if (m.kind == saveResultMessage_t::errorBox && !request.error.isEmpty())
            text += " " + request.error; // the reason belongs next to the failure
        appendLog(kind, text);
        if (boxes && m.kind == saveResultMessage_t::errorBox)
            styledMessageBox::show(this, styledMessageBox::error, text);
        else if (boxes && m.kind == saveResultMessage_t::warningBox)
            styledMessageBox::show(this, styledMessageBox::warning, text);
    }
    if (closing_ || !request.success) return;
    // The export for the external editor is a working copy in the session folder: the result is not
    // saved for the user by it, and "Save" must not write there.
    const bool exported = request.openInExternalEditor && request.fileName == externalEditorExportName();
    if (!exported) {
        resultSaved = true;
        lastSavedPath = request.fileName;
        lastSaveRequest_ = request;
    }
    if (request.openInExternalEditor)
        halvora::startExternalEditor(programOptionsSettings::instance().externalEditorPath, request.fileName);
}

void mainWindow::saveAlignedSlot() {
    if (projectBusy() || !project_ || !project_->aligned || project_->photos.empty()) return;
    const QString start =
        programOptionsSettings::existingFolder(QFileInfo(project_->photos.front()->fileName).absolutePath());
    saveAlignedOptions_t options;
    if (!saveAligned::ask(this, programOptionsSettings::instance(), start, options)) return;
    saveAlignedRun_ = std::make_unique<saveAlignedRun>(*project_, currentRunSettings());
    connect(saveAlignedRun_.get(), &projectRun::finished, this, &mainWindow::saveAlignedFinished,
            Qt::QueuedConnection);
    observeRun(saveAlignedRun_.get());
    setControlsEnabled(false);
    if (!saveAlignedRun_->start(options)) {
        saveAlignedRun_.reset();
        setControlsEnabled(true);
    }
}

void mainWindow::saveAlignedFinished(bool ok, QString error) {
    if (!saveAlignedRun_) return;
    const std::unique_ptr<saveAlignedRun> run = std::move(saveAlignedRun_);
    setControlsEnabled(true);
    const bool boxes = !styledMessageBox::unattended();
    for (const QString& file : run->savedFiles())
        if (!file.isEmpty()) appendLog(logSuccess, tr("Saved as") + " " + QDir::toNativeSeparators(file));
    if (!ok) {
        appendLog(logError, error);
        if (boxes) styledMessageBox::show(this, styledMessageBox::error, error);
        return;
    }
    if (run->exifTransfer() == metadataTransfer_t::failed) {
        const QString text = tr("EXIF transfer failed.");
        appendLog(logWarning, text);
        if (boxes) styledMessageBox::show(this, styledMessageBox::warning, text);
    }
}
