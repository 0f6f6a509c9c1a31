// HDR generation from the main window: the HDR dialog, the automatic run's road into the generation
// stages, and the preparation of an opened radiance picture.
#include "ui/mainWindow.h"

#include "app/automaticRun.h"
#include "app/commandLineOptions.h"
#include "app/programOptionsSettings.h"
#include "app/storedOptions.h"
#include "base/debugLog.h"
#include "hdr/genHDR_options.h"
#include "project/exposureValues.h"
#include "project/generationRun.h"
#include "project/processingProject.h"
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
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

void mainWindow::startAutomaticRun() {
    if (!project_ || automaticRun_) return;
    const commandLineOptions& cl = commandLineOptions::current();
    automaticRun_ = std::make_unique<automaticRun>(*project_, cl, programOptionsSettings::instance());
    automaticRun_->setVerbose(cl.verbose);
    automaticRun* run = automaticRun_.get();
    connect(run, &automaticRun::runStarted, this, [this](projectRun* started) {
        observeRun(started);
        if (qobject_cast<generationRun*>(started) == nullptr && !loadingPhotos())
            rightTabs_->setCurrentIndex(1);
    });
    connect(run, &automaticRun::logLine, this,
            [this](int kind, const QString& text) { appendLog(logKind(std::clamp(kind, 0, 3)), text); });
    connect(run, &automaticRun::settingsLoaded, this, &mainWindow::attachToneMappingControls);
    connect(run, &automaticRun::photoLoaded, this, &mainWindow::photoLoaded);
    connect(run, &automaticRun::previewReady, this, &mainWindow::showResultSlot);
    connect(run, &automaticRun::finished, this, &mainWindow::automaticRunFinished, Qt::QueuedConnection);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    setControlsEnabled(false);
    run->start();
}

void mainWindow::automaticRunFinished(int exitCode, QString error) {
    Q_UNUSED(error); // the run has logged it and written it to standard error
    if (!automaticRun_) return;
    lastSavedPath = automaticRun_->savedFile();
    QApplication::restoreOverrideCursor();
    if (closing_) return;
    setControlsEnabled(true);
    failureExitCode_ = exitCode;
    resultSaved = true; // nothing to ask about: the run has ended either way
    QTimer::singleShot(0, this, [this] { close(); });
}

void mainWindow::startGenerationRun(const genHDR_options& options, bool radiance) {
    if (!project_ || generationRun_ || anyWorkerRunning()) return;
    const bool hidden = styledMessageBox::unattended();
    generationRun_ =
        std::make_unique<generationRun>(project_.get(), options, radiance, hidden, currentRunSettings());
    generationRun* run = generationRun_.get();
    observeRun(run);
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
    QApplication::setOverrideCursor(Qt::BusyCursor);
    setControlsEnabled(false);
    run->start();
}

void mainWindow::generationRunFinished(bool ok, QString error) {
    if (!generationRun_) return;
    generationRun_.reset();
    QApplication::restoreOverrideCursor();
    setControlsEnabled(true);
    if (closing_) return;
    if (!ok) {
        appendLog(logError, error);
        debugLog("%s\n", error.toLocal8Bit().constData());
        showSelectedPhoto();
        styledMessageBox::show(this, styledMessageBox::error, error);
        return;
    }
    toneMappingPrepare();
}

void mainWindow::startRadianceRun() {
    if (!project_ || closing_ || projectBusy() || project_->photos.size() != 1 ||
        !project_->photos.front()->isRadiance || project_->hdrPresent)
        return;
    startGenerationRun(halvora::genHDRoptionsFromSettings(programOptionsSettings::instance(), false), true);
}

void mainWindow::generationLogLine(int kind, const QString& text) {
    appendLog(logKind(std::clamp(kind, 0, 3)), text);
}

void mainWindow::showGenerateHDR() {
    updateGenerateHDRenabled();
    if (!generateHdrAction_ || !generateHdrAction_->isEnabled()) return;
    if (project_->photos.front()->isRadiance) {
        // An opened radiance picture is not merged: it is prepared with its load options and tone-mapped.
        startGenerationRun(halvora::genHDRoptionsFromSettings(programOptionsSettings::instance(), false),
                           true);
        return;
    }
    const bool hidden = styledMessageBox::unattended();
    auto warn = [this, hidden](const QString& text) {
        appendLog(logWarning, text);
        debugLog("%s\n", text.toLocal8Bit().constData());
        if (!hidden) styledMessageBox::show(this, styledMessageBox::warning, text);
    };
    if (project_->photos.size() > 1) {
        bool switchedToAEB = false;
        const QStringList warnings = halvora::evChecksBeforeGeneration(
            *project_, exifButton_ && exifButton_->isChecked(), switchedToAEB);
        if (switchedToAEB) EVsetFromExifAEBslot(); // the photo list and the EV buttons follow
        for (const QString& w : warnings)
            warn(w);
    }

    auto* dialog = new generateHDR(project_.get(), hidden, currentRunSettings(), this);
    dialog->setWindowFlag(Qt::Dialog);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    hdrDialog_ = dialog;
    connect(dialog, &generateHDR::logLine, this, &mainWindow::generationLogLine);
    // Alignment replaced the photos (and maybe the size): new thumbnails, the shown photo anew.
    connect(dialog, &generateHDR::photosChanged, this, [this] {
        refreshThumbnails();
        if (project_ && !project_->hdrPresent) showSelectedPhoto();
    });
    connect(dialog, &generateHDR::runActive, this, [this, dialog](bool active) {
        if (active) observeRun(dialog->activeRun(), false); // the dialog passes its run's lines on itself
        if (!active && project_ && !project_->hdrPresent)
            showSelectedPhoto(); // the old picture is gone; never leave its preview on show
    });
    connect(dialog, &QDialog::finished, this, [this](int result) {
        hdrDialog_ = nullptr;
        if (closing_) return;
        setControlsEnabled(true);
        if (result == QDialog::Accepted) {
            appendLog(logSuccess, project_->photos.size() == 1 ? tr("LDR enhancement done.")
                                                               : tr("HDR image generated."));
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
    // Without photos the button is off, and this line says what comes first.
    generateHint_ =
        new QLabel(tr("Add photos first: File \u203a Add (Ctrl+A), or drop them on the picture area."), page);
    generateHint_->setObjectName("generateHint");
    generateHint_->setWordWrap(true);
    generateHdrButton_->setToolTip(tr("Needs photos: add them first."));
    layout->addWidget(text);
    layout->addWidget(generateHint_);
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
    const bool enabled = !closing_ && project_ && !project_->photos.empty() && !anyWorkerRunning() &&
                         !hdrDialog_ && menuBar_ && menuBar_->isEnabled();
    if (generateHdrAction_) generateHdrAction_->setEnabled(enabled);
    if (generateHdrButton_) generateHdrButton_->setEnabled(enabled);
    if (generateHint_) generateHint_->setVisible(!project_ || project_->photos.empty());
}

void mainWindow::endGenerationRun() {
    if (hdrDialog_) {
        hdrDialog_->blockSignals(true);
        hdrDialog_->stopRun();
        delete hdrDialog_.data();
    }
    if (generationRun_) generationRun_->stopNow();
    generationRun_.reset();
}
