// Tone mapping in the main window: preparation of the picture's planes, the preview, the
// tone-mapping tab with its controls, the settings files, and the picture view's "before"/"result".
#include "ui/mainWindow.h"

#include "app/commandLineOptions.h"
#include "app/programOptionsSettings.h"
#include "base/debugLog.h"
#include "project/processingProject.h"
#include "project/toneMappingPrepareRun.h"
#include "tonemap/rebuildOnChange.h"
#include "tonemap/toneMappingSettingsFile.h"
#include "ui/colorAdjustGroup.h"
#include "ui/histogramTool.h"
#include "ui/styledMessageBox.h"
#include "ui/toneCurveTool.h"
#include "ui/tonemappingGroup.h"
#include "ui/toolBox.h"
#include "ui/wheelGuard.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const char* const kDefaultSettings = ":/resources/built-in presets/default.hvsx";

QString settingsFilter() {
    return mainWindow::tr("Halvora settings") + " (*.hvsx)";
}

} // namespace

void mainWindow::toneMappingPrepare() {
    if (!project_ || anyWorkerRunning()) return;
    rightTabs_->setCurrentIndex(1);
    prepareRun_ = std::make_unique<toneMappingPrepareRun>(*project_, currentRunSettings());
    connect(prepareRun_.get(), &projectRun::finished, this, &mainWindow::toneMappingPrepareFinished,
            Qt::QueuedConnection);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    setControlsEnabled(false);
    observeRun(prepareRun_.get());
    prepareRun_->start();
}

void mainWindow::toneMappingPrepareFinished(bool ok, QString error) {
    if (!prepareRun_) return;
    prepareRun_.reset();
    QApplication::restoreOverrideCursor();
    setControlsEnabled(true);
    if (closing_) return;
    if (!ok) {
        appendLog(logError, error);
        return;
    }
    doToneMapping(true);
}

void mainWindow::doToneMapping() {
    // One timer: requests that arrive while a render runs or before the timer fires are one render.
    if (!toneMappingTimer_.isActive()) toneMappingTimer_.start();
}

void mainWindow::doToneMapping(bool preset) {
    Q_UNUSED(preset);
    toneMappingTimer_.stop(); // this render already uses the latest settings
    // A worker may be reading or rebuilding the planes (and writing their flags); its finished slot
    // renders afterwards.
    if (anyWorkerRunning()) return;
    if (!project_ || !project_->hdrPresent || !project_->lcPlanesValid) return;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    {
        // The preview renders on this thread with the options of now (threads, panorama).
        const runSettings settings = currentRunSettings();
        halvora::runContext preview(settings.threads, settings.panoramaMode);
        halvora::runContext::scope bind(preview);
        project_->toneMapPreview(project_->tmSettings, nullptr, false);
    }
    QApplication::restoreOverrideCursor();
    // The histogram, the clip shares and the levels of this preview.
    histogramTool_->setControlsFromSettings();
    curveTool_->setWBpoints(project_->tmSettings.blackLevel, project_->tmSettings.whiteLevel);
    resultSaved = false; // the result on show is not the one on disk any more
    if (project_->previewValid) showResultSlot();
    if (showResultAction_) showResultAction_->setEnabled(project_->previewValid);
}

void mainWindow::buildToneMappingTab() {
    QWidget* page = rightTabs_->widget(1);
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(page);
    scroll->setObjectName("toneMappingScroll");
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* column = new QWidget(scroll);
    auto* columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(2, 2, 2, 2);
    tmToolBox_ = new toolBox(tr("Tone mapping"), column);
    tmToolBox_->setObjectName("toneMappingToolBox");
    tmGroup_ = new tonemappingGroup(tmToolBox_);
    tmToolBox_->setContent(tmGroup_);
    columnLayout->addWidget(tmToolBox_);
    toneBoxes_ << tmToolBox_;
    buildEditorBoxes(column);
    columnLayout->addStretch(1);
    scroll->setWidget(column);
    pageLayout->addWidget(scroll);
    wheelGuard::install(scroll);
    // The splitter may not squeeze the tools below the width their rows need.
    scroll->setMinimumWidth(column->minimumSizeHint().width() +
                            scroll->verticalScrollBar()->sizeHint().width() + 2 * scroll->frameWidth());

    toneMappingTimer_.setSingleShot(true);
    toneMappingTimer_.setInterval(0);
    connect(&toneMappingTimer_, &QTimer::timeout, this, [this] { doToneMapping(false); });
    connect(tmGroup_, &tonemappingGroup::paramsChanged, this, qOverload<>(&mainWindow::doToneMapping));
    connect(tmToolBox_, &toolBox::toggled, this, qOverload<>(&mainWindow::doToneMapping));
    connect(this, &mainWindow::projectReplaced, this, &mainWindow::attachToneMappingControls);
    setToneMappingControlsEnabled();
}

void mainWindow::buildToneMappingMenus(QMenu* file, QAction* before) {
    file->insertSeparator(before);
    QAction* load = new QAction(tr("Load tone mapping settings"), file);
    connect(load, &QAction::triggered, this, qOverload<>(&mainWindow::loadSettingsSlot));
    QAction* save = new QAction(tr("Save tone mapping settings"), file);
    connect(save, &QAction::triggered, this, qOverload<>(&mainWindow::saveSettingsSlot));
    QAction* defaults = new QAction(tr("Default settings"), file);
    defaults->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    connect(defaults, &QAction::triggered, this, &mainWindow::defaultSettingsSlot);
    file->insertActions(before, {load, save, defaults});
    file->insertSeparator(before);

    QMenu* view = menuBar_->addMenu(tr("View"));
    viewMenu_ = view;
    showBeforeAction_ = view->addAction(tr("Photo before processing"));
    showBeforeAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Left));
    showBeforeAction_->setEnabled(false);
    connect(showBeforeAction_, &QAction::triggered, this, &mainWindow::showBeforeSlot);
    showResultAction_ = view->addAction(tr("Result"));
    showResultAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Right));
    showResultAction_->setEnabled(false);
    connect(showResultAction_, &QAction::triggered, this, &mainWindow::showResultSlot);
    view->addSeparator();
    QAction* copy = view->addAction(tr("Copy"));
    copy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    connect(copy, &QAction::triggered, this, [this] {
        // The picture as shown (the photo or the tone-mapped preview), at its own size.
        const QImage shown = workspace_->shownImage();
        if (!shown.isNull()) QGuiApplication::clipboard()->setImage(shown);
    });
}

void mainWindow::attachToneMappingControls() {
    if (!tmGroup_) return;
    if (project_)
        connect(project_.get(), &processingProject::disableAutoClipping, histogramTool_,
                &histogramTool::disableAutoClipping);
    applySettingsToControls();
    // A new project has nothing to show yet; the old picture must not stay on screen.
    if (!project_ || (project_->photos.empty() && !project_->hdrPresent)) {
        workspace_->clearPicture();
        shown_ = shownNothing;
        shownPhotoId_ = -1;
    }
    setToneMappingControlsEnabled();
    updateStatusArea();
}

void mainWindow::setToneMappingControlsEnabled() {
    const bool busy = anyWorkerRunning();
    // The flags are read only while no worker may be writing them.
    const bool prepared = !busy && project_ && project_->hdrPresent && project_->lcPlanesValid;
    if (tmGroup_) {
        const bool usable = prepared && !busy && tmGroup_->settings();
        const QString why =
            prepared || busy ? QString() : tr("Available once an HDR image has been generated and prepared.");
        for (toolBox* box : toneBoxes_) {
            box->content()->setEnabled(usable);
            box->content()->setToolTip(why);
        }
        if (!usable && sampleMode_ != 0) requestSampleMode(0); // an eyedropper cannot be used now
    }
    const bool havePhoto = project_ && !project_->photos.empty() && project_->photos.front()->preview.data;
    if (showBeforeAction_) showBeforeAction_->setEnabled(havePhoto);
    if (showResultAction_) showResultAction_->setEnabled(prepared && project_->previewValid);
}

void mainWindow::showBeforeSlot() {
    if (project_ && !project_->photos.empty()) showSelectedPhoto();
}

void mainWindow::showResultSlot() {
    if (!project_ || !project_->previewValid || project_->toneMappedWidth <= 0 ||
        project_->toneMappedHeight <= 0)
        return;
    const size_t bytes = size_t(project_->toneMappedWidth) * size_t(project_->toneMappedHeight) * 3;
    if (project_->toneMappedPreview.size() < bytes) return;
    const QImage shown(project_->toneMappedPreview.data(), project_->toneMappedWidth,
                       project_->toneMappedHeight, project_->toneMappedWidth * 3, QImage::Format_RGB888);
    // The preview stands for the whole picture: zoom 100 % is one screen pixel per picture pixel.
    workspace_->showPicture(shown, project_->width, project_->height);
    workspace_->setMarkOverUnder(markOverUnder_);
    shown_ = shownResult;
    shownPhotoId_ = -1;
    if (!project_->photos.empty() && project_->photos.front()->isRadiance)
        refreshThumbnails(); // the opened radiance picture's item shows its tone-mapped look
    updateStatusArea();
}

void mainWindow::addDroppedImages(const QStringList& files) {
    if (files.isEmpty()) return;
    // The photos must not change under a running worker; the drop is refused with a word why.
    if (projectBusy()) {
        appendLog(logWarning,
                  tr("Please wait until the current operation has finished, then drop the files again."));
        return;
    }
    addImages(files);
}

void mainWindow::loadSettingsSlot() {
    programOptionsSettings& options = programOptionsSettings::instance();
    const QString fileName = QFileDialog::getOpenFileName(
        this, tr("Load tone mapping settings"),
        programOptionsSettings::existingFolder(options.openSaveSettingsLastDir), settingsFilter());
    if (fileName.isEmpty()) return;
    options.openSaveSettingsLastDir = QFileInfo(fileName).absolutePath();
    loadSettingsSlot(fileName);
}

bool mainWindow::loadSettingsSlot(const QString& fileName) {
    if (!project_) return false;
    if (anyWorkerRunning()) {
        appendLog(logWarning, tr("Please wait until the current operation has finished."));
        return false;
    }
    // Read into a copy: only a file that was read completely replaces the current look.
    toneMappingParameters_t loaded = project_->tmSettings.parameters();
    const int result = halvora::loadSettingsFile(fileName, loaded, colorGroup_->whiteBalanceLocked());
    if (result != halvora::settingsLoadOk) {
        const QString shownName = QDir::toNativeSeparators(fileName);
        if (result == halvora::settingsWrongVersion) {
            appendLog(logError, tr("Error! Wrong version of the settings file.") + " " + shownName);
            styledMessageBox::show(this, styledMessageBox::error,
                                   tr("Error! Wrong version of the settings file."));
        } else {
            appendLog(logError, tr("Error while loading the settings file.") + " " + shownName);
            styledMessageBox::show(this, styledMessageBox::error,
                                   tr("Error while loading the settings file.") + "<br><br>" +
                                       shownName.toHtmlEscaped());
        }
        return false;
    }
    project_->tmSettings.parameters() = loaded;
    halvora::rebuildToneMappingTables(project_->tmSettings, halvora::toneMappingChange::everything);
    if (fileName != QLatin1String(kDefaultSettings))
        appendLog(logInfo, tr("Tone mapping settings loaded: %1").arg(QDir::toNativeSeparators(fileName)));
    applySettingsToControls(); // one paramsChanged: one preview
    return true;
}

void mainWindow::saveSettingsSlot() {
    programOptionsSettings& options = programOptionsSettings::instance();
    const QString fileName = QFileDialog::getSaveFileName(
        this, tr("Save tone mapping settings"),
        programOptionsSettings::existingFolder(options.openSaveSettingsLastDir), settingsFilter());
    if (fileName.isEmpty()) return;
    options.openSaveSettingsLastDir = QFileInfo(fileName).absolutePath();
    saveSettingsSlot(fileName);
}

bool mainWindow::saveSettingsSlot(const QString& fileName) {
    if (!project_ || fileName.isEmpty()) return false;
    QString target = fileName;
    if (QFileInfo(target).suffix().toLower() != "hvsx") target += ".hvsx";
    if (!halvora::saveSettingsFile(target, project_->tmSettings.parameters())) {
        const QString text = tr("Failed to save settings as: %1.").arg(QDir::toNativeSeparators(target));
        appendLog(logError, text);
        styledMessageBox::show(this, styledMessageBox::error, text.toHtmlEscaped());
        return false;
    }
    appendLog(logSuccess, tr("Tone mapping settings saved: %1").arg(QDir::toNativeSeparators(target)));
    return true;
}

void mainWindow::defaultSettingsSlot() {
    loadSettingsSlot(QString::fromLatin1(kDefaultSettings));
}
