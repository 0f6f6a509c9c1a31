// HDR generation from the main window: the HDR dialog, the automatic run's road into the generation
// stages, and the preparation of an opened radiance picture.
#include "app/storedOptions.h"
#include "ui/mainWindow.h"

#include "app/automaticRun.h"
#include "app/commandLineOptions.h"
#include "base/debugLog.h"
#include "project/processingProject.h"
#include "app/programOptionsSettings.h"
#include "project/exposureValues.h"
#include "hdr/genHDR_options.h"
#include "project/generationRun.h"
#include "ui/generateHDR.h"
#include "ui/styledMessageBox.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

void mainWindow::startAutomaticGeneration() {
    const commandLineOptions& cl = commandLineOptions::current();
    QStringList inputs;
    for (const auto& photo : project_->photos)
        inputs << photo->fileName;

    // The targets are checked before the long work: a run that cannot save must not merge first.
    QString error;
    const saveResultRequest request = halvora::automaticSaveRequest(
        cl, halvora::saveResultOptionsFromSettings(programOptionsSettings::instance()), inputs, error);
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
    autoSaveRequest_ = request;
    if (request.options.convertToSrgb) {
        // No output colour transform exists yet: say so rather than pretend the file was converted.
        const QString text =
            tr("Conversion to sRGB is not available in this version; the result is saved as it is.");
        appendLog(logWarning, text);
        debugLog("%s\n", text.toLocal8Bit().constData());
    }

    if (project_->photos.front()->isRadiance) {
        if (!autoHdrOutput_.isEmpty()) {
            appendLog(logWarning, tr("The input is a radiance picture already: --save_hdr writes nothing."));
            autoHdrOutput_.clear();
        }
        startGenerationRun(halvora::genHDRoptionsForAutomaticRun(cl, false), true);
        return;
    }
    const halvora::evChoice choice = halvora::chooseEVsAfterLoading(*project_);
    if (!choice.warning.isEmpty()) {
        appendLog(logWarning, choice.warning);
        debugLog("%s\n", choice.warning.toLocal8Bit().constData());
    }
    const bool ldrEnhancement = project_->photos.size() == 1;
    if (!ldrEnhancement) {
        bool switchedToAEB = false;
        for (const QString& w : halvora::evChecksBeforeGeneration(
                 *project_, choice.chosen == halvora::evChoice::fromExif, switchedToAEB)) {
            appendLog(logWarning, w);
            debugLog("%s\n", w.toLocal8Bit().constData());
        }
        for (const auto& photo : project_->photos)
            debugLog("EV: %s = %g\n", QFileInfo(photo->fileName).fileName().toLocal8Bit().constData(),
                     photo->ev);
    }
    if (ldrEnhancement && !autoHdrOutput_.isEmpty()) {
        appendLog(logWarning, tr("One photo is enhanced, not merged: --save_hdr writes nothing."));
        autoHdrOutput_.clear();
    }
    genHDR_options options = halvora::genHDRoptionsForAutomaticRun(cl, ldrEnhancement);
    options.saveHDR = !autoHdrOutput_.isEmpty();
    options.hdrFileName = autoHdrOutput_;
    startGenerationRun(options, false);
}

void mainWindow::startGenerationRun(const genHDR_options& options, bool radiance) {
    if (!project_ || generationRun_ || generateHDRworker_.occupied()) return;
    const bool hidden = commandLineOptions::current().autoProcess || styledMessageBox::unattended();
    generationRun_ = std::make_unique<generationRun>(project_.get(), options, radiance, hidden);
    generationRun* run = generationRun_.get();
    connect(run, &generationRun::startProgress, this, &mainWindow::startProgress);
    connect(run, &generationRun::finishProgress, this, &mainWindow::finishProgress);
    connect(run, &generationRun::logLine, this, &mainWindow::generationLogLine);
    connect(run, &generationRun::message, this, [this](int kind, const QString& text) {
        appendLog(logKind(std::clamp(kind, 0, 3)), text);
        styledMessageBox::show(this,
                               kind == generationRun::error     ? styledMessageBox::error
                               : kind == generationRun::warning ? styledMessageBox::warning
                                                                : styledMessageBox::information,
                               text);
    });
    // Queued: the run is released in the handler, never inside its own signal.
    connect(run, &generationRun::finished, this, &mainWindow::generationRunFinished, Qt::QueuedConnection);
    generateHDRworker_ = {nullptr, run};
    QApplication::setOverrideCursor(Qt::BusyCursor);
    setControlsEnabled(false);
    run->start();
}

void mainWindow::generationRunFinished(bool ok, QString error) {
    if (!generationRun_) return;
    generationRun_.reset();
    generateHDRworker_ = workerSlot{};
    QApplication::restoreOverrideCursor();
    setControlsEnabled(true);
    if (closing_) return;
    if (!ok) {
        if (commandLineOptions::current().autoProcess) {
            failUnattended(error);
            return;
        }
        appendLog(logError, error);
        debugLog("%s\n", error.toLocal8Bit().constData());
        showFirstPhoto();
        styledMessageBox::show(this, styledMessageBox::error, error);
        return;
    }
    toneMappingPrepare();
}

void mainWindow::generationLogLine(int kind, const QString& text) {
    appendLog(logKind(std::clamp(kind, 0, 3)), text);
}

void mainWindow::showGenerateHDR() {
    updateGenerateHDRenabled();
    if (!generateHdrAction_ || !generateHdrAction_->isEnabled()) return;
    if (project_->photos.front()->isRadiance) {
        // An opened radiance picture is not merged: it is prepared with its load options and tone-mapped.
        startGenerationRun(halvora::genHDRoptionsFromSettings(programOptionsSettings::instance(), false), true);
        return;
    }
    const bool hidden = commandLineOptions::current().autoProcess || styledMessageBox::unattended();
    auto warn = [this, hidden](const QString& text) {
        appendLog(logWarning, text);
        debugLog("%s\n", text.toLocal8Bit().constData());
        if (!hidden) styledMessageBox::show(this, styledMessageBox::warning, text);
    };
    if (project_->photos.size() > 1) {
        bool switchedToAEB = false;
        const QStringList warnings =
            halvora::evChecksBeforeGeneration(*project_, exifButton_ && exifButton_->isChecked(), switchedToAEB);
        if (switchedToAEB)
            EVsetFromExifAEBslot(); // the photo list and the EV buttons follow
        for (const QString& w : warnings)
            warn(w);
    }

    auto* dialog = new generateHDR(project_.get(), hidden, this);
    dialog->setWindowFlag(Qt::Dialog);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    hdrDialog_ = dialog;
    connect(dialog, &generateHDR::startProgress, this, &mainWindow::startProgress);
    connect(dialog, &generateHDR::finishProgress, this, &mainWindow::finishProgress);
    connect(dialog, &generateHDR::logLine, this, &mainWindow::generationLogLine);
    connect(dialog, &generateHDR::runActive, this, [this, dialog](bool active) {
        generateHDRworker_ = active ? workerSlot{nullptr, dialog->activeRun()} : workerSlot{};
        if (!active && project_ && !project_->hdrPresent)
            showFirstPhoto(); // the old picture is gone; never leave its preview on show
    });
    connect(dialog, &QDialog::finished, this, [this](int result) {
        hdrDialog_ = nullptr;
        if (closing_) return;
        setControlsEnabled(true);
        if (result == QDialog::Accepted) {
            appendLog(logSuccess, project_->photos.size() == 1 ? tr("LDR enhancement done.") : tr("HDR image generated."));
            toneMappingPrepare();
        }
    });
    // Modeless, with the window's controls off: the window's "Break" stays reachable during a run.
    setControlsEnabled(false);
    dialog->checkHdrPath();
    dialog->show();
}

void mainWindow::addGenerateHDRaction(QMenu* file) {
    generateHdrAction_ = file->addAction(tr("Generate HDR"));
    generateHdrAction_->setObjectName("generateHdrAction");
    generateHdrAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    generateHdrAction_->setEnabled(false);
    connect(generateHdrAction_, &QAction::triggered, this, &mainWindow::showGenerateHDR);
    connect(file, &QMenu::aboutToShow, this, &mainWindow::updateGenerateHDRenabled);
}

void mainWindow::buildGeneratePage(QWidget* page) {
    auto* layout = new QVBoxLayout(page);
    auto* text =
        new QLabel(tr("Merge the loaded photos into one HDR image: choose the method, noise filtering and "
                      "whether to save the HDR file, then generate. One photo is enhanced instead."),
                   page);
    text->setWordWrap(true);
    generateHdrButton_ = new QPushButton(tr("Generate HDR"), page);
    generateHdrButton_->setObjectName("generateHdrButton");
    generateHdrButton_->setEnabled(false);
    connect(generateHdrButton_, &QPushButton::clicked, this, &mainWindow::showGenerateHDR);
    layout->addWidget(text);
    layout->addWidget(generateHdrButton_);
    layout->addStretch(1);
    // Photos come and go through the list: its changes decide whether there is something to merge.
    if (photoList_) {
        connect(photoList_->model(), &QAbstractItemModel::rowsInserted, this,
                &mainWindow::updateGenerateHDRenabled);
        connect(photoList_->model(), &QAbstractItemModel::rowsRemoved, this,
                &mainWindow::updateGenerateHDRenabled);
    }
}

void mainWindow::updateGenerateHDRenabled() {
    const bool enabled = !closing_ && project_ && !project_->photos.empty() && !loadingPhotos() &&
                         !generateHDRworker_.occupied() && !hdrDialog_ && !toneMappingWorker_.occupied() &&
                         menuBar_ && menuBar_->isEnabled();
    if (generateHdrAction_) generateHdrAction_->setEnabled(enabled);
    if (generateHdrButton_) generateHdrButton_->setEnabled(enabled);
}

void mainWindow::endGenerationRun() {
    if (hdrDialog_) {
        hdrDialog_->blockSignals(true);
        hdrDialog_->stopRun(10000);
        delete hdrDialog_.data();
    }
    if (generationRun_) generationRun_->stopNow(10000);
    generationRun_.reset();
    generateHDRworker_ = workerSlot{};
}
