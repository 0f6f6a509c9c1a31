#include "ui/mainWindow.h"

#include "app/automaticRun.h"
#include "app/commandLineOptions.h"
#include "app/pluginCallback.h"
#include "app/programOptionsSettings.h"
#include "app/startupLog.h"
#include "app/storedOptions.h"
#include "app/updateCheck.h"
#include "base/debugLog.h"
#include "imageio/exiftoolDaemon.h"
#include "project/generationRun.h"
#include "project/loadRun.h"
#include "project/processingProject.h"
#include "project/projectColor.h"
#include "project/saveAlignedRun.h"
#include "project/saveRun.h"
#include "project/toneMappingPrepareRun.h"
#include "project/transformRun.h"
#include "tonemap/rebuildOnChange.h"
#include "tonemap/toneMappingSettingsFile.h"
#include "ui/checkUpdatesDialog.h"
#include "ui/colorSettingsMenu.h"
#include "ui/generateHDR.h"
#include "ui/hdrLoadOptionsDialog.h"
#include "ui/programOptions.h"
#include "ui/rawLoadOptionsDialog.h"
#include "ui/styledMainWindow.h"
#include "ui/styledMessageBox.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QThread>
#include <QVBoxLayout>

namespace {

const char* const kLogColours[] = {"#c8c8c8", "#b0b060", "#b06060", "#60a060"};
const char* const kStageNames[] = {QT_TRANSLATE_NOOP("mainWindow", "Generate HDR"),
                                   QT_TRANSLATE_NOOP("mainWindow", "Tone mapping"),
                                   QT_TRANSLATE_NOOP("mainWindow", "Postprocessing")};

} // namespace

mainWindow::mainWindow(styledMainWindow* frame) : QWidget(nullptr), frame_(frame) {
    setObjectName("mainWindow");
    halvora::logStartupInfo();
    buildUi();

    // The metadata tool starts now and answers while the window comes up; commands wait for it.
    exiftoolDaemon::settings_t toolSettings;
    toolSettings.scratchDirectory = programOptionsSettings::instance().tempDirInEffect;
    exiftool_ = std::make_unique<exiftoolDaemon>(toolSettings);
    connect(exiftool_.get(), &exiftoolDaemon::showError, this, &mainWindow::notifyAboutExiftoolError,
            Qt::QueuedConnection);

    if (!createProject()) startupError_ = true;
    attachToneMappingControls();

    progressTimer_.setInterval(250);
    connect(&progressTimer_, &QTimer::timeout, this, &mainWindow::updateProgress);

    connect(this, &mainWindow::loadOnStartup, this, &mainWindow::loadOnStartupSlot, Qt::QueuedConnection);
    const commandLineOptions& options = commandLineOptions::current();
    // An automatic run always starts: without photos it ends with its reason.
    if (!options.inputPhotos.isEmpty() || (options.autoProcess && !startupError_)) emit loadOnStartup();
}

runSettings mainWindow::currentRunSettings() const {
    const programOptionsSettings& options = programOptionsSettings::instance();
    const commandLineOptions& cl = commandLineOptions::current();
    runSettings settings;
    settings.threads = options.coreCount;
    settings.panoramaMode = options.panoramaMode || (cl.autoProcess && cl.panoramaMode);
    return settings;
}

projectColorSettings_t mainWindow::projectColorSettings() {
    projectColorSettings_t color;
    color.options = halvora::colorManagementOptionsFromSettings(programOptionsSettings::instance());
    color.profileDir = halvora::shippedProfileFolder();
    color.report = [this](const halvora::colorSetupResult_t& result) { colorSetupReported(result); };
    return color;
}

bool mainWindow::createProject() {
    const programOptionsSettings& options = programOptionsSettings::instance();
    project_ = std::make_unique<processingProject>(this, options.tempDirInEffect);
    project_->unattendedHdrOptions =
        halvora::hdrLoadOptionsForUnattendedRun(commandLineOptions::current(), options);
    project_->unattendedRawOptions = halvora::rawLoadOptionsFromSettings(options);
    project_->metadataTool = exiftool_.get();
    halvora::installColorManagement(*project_, projectColorSettings());
    // The old project's transforms are gone with it; this one has none until its first photo.
    colorNotice_.clear();
    if (workspace_) workspace_->area()->setDisplayTransform({});
    if (project_->createFailed) {
        debugLog("Failed to create project!\n");
        return false;
    }
    // The built-in default look; a missing or broken one leaves the record's own defaults.
    if (halvora::loadSettingsFile(QStringLiteral(":/resources/built-in presets/default.hvsx"),
                                  project_->tmSettings) != halvora::settingsLoadOk)
        debugLog("%s: Failed to load default tone mapping settings\n", "mainWindow::createProject");
    halvora::rebuildToneMappingTables(project_->tmSettings, halvora::toneMappingChange::everything);
    project_->hdrLoadOptionsHook = [this](hdrLoadOptions& options) {
        // Unattended runs keep the options preparation started from.
        if (commandLineOptions::current().autoProcess || styledMessageBox::unattended()) return true;
        return hdrLoadOptionsDialog::ask(this, programOptionsSettings::instance(), options);
    };
    project_->rawLoadOptionsHook = [this](const QString& fileName, const rawInfo_t& info,
                                          rawLoadOptions& options) {
        if (commandLineOptions::current().autoProcess || styledMessageBox::unattended()) return true;
        return rawLoadOptionsDialog::ask(this, programOptionsSettings::instance(), fileName, info, options);
    };
    return true;
}

void mainWindow::notifyAboutExiftoolError() {
    if (exiftoolErrorShown_) return;
    exiftoolErrorShown_ = true;
    const QString text =
        tr("Exiftool failed to initialize. EXIF transfer and color space extraction are disabled!");
    debugLog("%s\n", text.toLocal8Bit().constData());
    appendLog(logWarning, text);
}

bool mainWindow::anyWorkerRunning() const {
    for (const projectRun* run :
         std::initializer_list<const projectRun*>{loadRun_.get(), generationRun_.get(), prepareRun_.get(),
                                                  saveRun_.get(), transformRun_.get(), saveAlignedRun_.get()})
        if (run && run->running()) return true;
    return (automaticRun_ && automaticRun_->running()) || (hdrDialog_ && hdrDialog_->activeRun());
}

bool mainWindow::projectBusy() const {
    return anyWorkerRunning() || !hdrDialog_.isNull();
}

void mainWindow::stopRuns() {
    endGenerationRun();
    if (automaticRun_) automaticRun_->stopNow();
    for (projectRun* run : std::initializer_list<projectRun*>{
             loadRun_.get(), prepareRun_.get(), saveRun_.get(), transformRun_.get(), saveAlignedRun_.get()})
        if (run) run->stopNow();
}

void mainWindow::logRuns() {
    if (loadRun_)
        loadRun_->logWorkers();
    else
        for (int i = 0; i < loadRun::kMaxWorkers; ++i)
            debugLog("loadPhoto.worker[%d]=%p\n", i, nullptr);
    auto pointer = [](const auto& run) {
        return static_cast<void*>(run && run->running() ? run.get() : nullptr);
    };
    debugLog("savePhoto.worker=%p\n", pointer(saveRun_));
    debugLog("saveAligned.worker=%p\n", pointer(saveAlignedRun_));
    debugLog("toneMapping.worker=%p\n", pointer(prepareRun_));
    debugLog("presetThumbs.worker=%p\n", nullptr);
    debugLog("postProcess.worker=%p\n", nullptr);
    debugLog("transformWorker.worker=%p\n", pointer(transformRun_));
    debugLog("generateHDR.run=%p\n", pointer(generationRun_));
}

mainWindow::~mainWindow() {
    // A window destroyed without its close (tests, a failed start) still lets its runs end first.
    closing_ = true;
    stopRuns();
}

void mainWindow::buildUi() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    menuBar_ = new QMenuBar(this);
    outer->setMenuBar(menuBar_);
    buildMenus();

    auto* split = new QSplitter(Qt::Horizontal, this);
    leftTabs_ = new QTabWidget(split);
    leftTabs_->addTab(buildPhotoPanel(leftTabs_), tr("Photos"));

    auto* centre = new QSplitter(Qt::Vertical, split);
    workspace_ = new mainWorkspace(centre);
    logPanel_ = new QTextEdit(centre);
    logPanel_->setObjectName("logPanel");
    logPanel_->setReadOnly(true);
    centre->setStretchFactor(0, 4);
    centre->setStretchFactor(1, 1);

    rightTabs_ = new QTabWidget(split);
    rightTabs_->setObjectName("rightTabs");
    for (const char* name : kStageNames)
        rightTabs_->addTab(new QWidget(rightTabs_), tr(name));
    // The filters of the post-processing stage are not part of this version.
    rightTabs_->setTabEnabled(2, false);
    rightTabs_->setTabToolTip(2, tr("Post-processing filters are not available in this version."));
    buildToneMappingTab();
    connect(rightTabs_, &QTabWidget::currentChanged, this, &mainWindow::rightTabChanged);
    rightTabChanged(0);
    // Wide enough for the three stage names side by side, without scroll arrows.
    rightTabs_->setMinimumWidth(rightTabs_->tabBar()->sizeHint().width() + 12);
    buildGeneratePage(rightTabs_->widget(0));
    split->setStretchFactor(1, 1);
    outer->addWidget(split, 1);

    buildStatusArea(outer);
}

void mainWindow::buildMenus() {
    QMenu* file = menuBar_->addMenu(tr("File"));
    QAction* newAction = file->addAction(tr("New"));
    newAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(newAction, &QAction::triggered, this, qOverload<>(&mainWindow::newProject));
    QAction* addAction = file->addAction(tr("Add"));
    addAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    connect(addAction, &QAction::triggered, this, qOverload<>(&mainWindow::addImages));
    removeAction_ = file->addAction(tr("Remove"));
    removeAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(removeAction_, &QAction::triggered, this, &mainWindow::removeImages);
    addGenerateHDRaction(file);
    file->addSeparator();
    saveAction_ = file->addAction(tr("Save"));
    saveAction_->setObjectName("saveAction");
    saveAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(saveAction_, &QAction::triggered, this, qOverload<>(&mainWindow::saveResultSlot));
    saveAsAction_ = file->addAction(tr("Save as"));
    saveAsAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    connect(saveAsAction_, &QAction::triggered, this, &mainWindow::saveResultAsSlot);
    exportAction_ = file->addAction(tr("Open in external editor"));
    exportAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    connect(exportAction_, &QAction::triggered, this, &mainWindow::exportToExternalEditorSlot);
    saveAction_->setEnabled(false); // a result exists once the picture is prepared for tone mapping
    saveAsAction_->setEnabled(false);
    exportAction_->setEnabled(false);
    saveAlignedAction_ = file->addAction(tr("Save aligned photos"));
    saveAlignedAction_->setObjectName("saveAlignedAction");
    saveAlignedAction_->setEnabled(false);
    connect(saveAlignedAction_, &QAction::triggered, this, &mainWindow::saveAlignedSlot);
    connect(file, &QMenu::aboutToShow, this,
            [this] { saveAlignedAction_->setEnabled(project_ && project_->aligned && !projectBusy()); });
    file->addSeparator();
    QAction* exitAction = file->addAction(tr("Exit"));
    exitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(exitAction, &QAction::triggered, this, [this] { close(); });
    buildToneMappingMenus(file, exitAction);

    QMenu* transform = menuBar_->addMenu(tr("Transform"));
    const std::pair<const char*, int> modes[] = {
        {"Rotate 90 (counter-clockwise)", halvora::turnCounterClockwise},
        {"Rotate 90 (clockwise)", halvora::turnClockwise},
        {"Rotate 180", halvora::turn180},
        {"Horizontal flip", halvora::mirrorLeftRight},
        {"Vertical flip", halvora::mirrorTopBottom}};
    for (const auto& [label, mode] : modes) {
        QAction* action = transform->addAction(tr(label));
        action->setData(mode);
        action->setEnabled(false); // enabled once photos are loaded
        connect(action, &QAction::triggered, this, &mainWindow::transformImageSlot);
        transformActions_ << action;
    }

    buildWorkspaceActions(viewMenu_, transform);

    QMenu* settings = menuBar_->addMenu(tr("Settings"));
    colorMenu_ = new colorSettingsMenu(this);
    settings->addMenu(colorMenu_);
    connect(colorMenu_, &QMenu::aboutToShow, this, [this] {
        colorMenu_->setFromOptions(
            halvora::colorManagementOptionsFromSettings(programOptionsSettings::instance()));
    });
    connect(colorMenu_, &colorSettingsMenu::chosen, this, [this](QAction* action) {
        colorChoice_ = action;
        setupColorManagement();
        colorChoice_ = nullptr;
    });
    QAction* options = settings->addAction(tr("Program options"));
    connect(options, &QAction::triggered, this, qOverload<>(&mainWindow::showProgramOptions));
    buildLanguageMenu();
    buildHelpMenu();
}

void mainWindow::appendLog(logKind kind, const QString& text) {
    logPanel_->append(
        QStringLiteral("<font color=%1>%2</font>").arg(kLogColours[kind], text.toHtmlEscaped()));
}

QString mainWindow::logPanelHtml() const {
    return logPanel_->toHtml();
}

void mainWindow::observeRun(projectRun* run, bool logLines) {
    if (!run) return;
    progressRun_ = run;
    connect(run, &projectRun::startProgress, this, [this, run](uint64_t total) {
        progressRun_ = run;
        startProgress(total);
    });
    connect(run, &projectRun::finishProgress, this, &mainWindow::finishProgress);
    if (logLines)
        connect(run, &projectRun::logLine, this,
                [this](int kind, const QString& text) { appendLog(logKind(std::clamp(kind, 0, 3)), text); });
    if (run->running()) startProgress(run->context().progressTotal());
}

void mainWindow::startProgress(uint64_t total) {
    Q_UNUSED(total); // the bar reads the observed run's counters
    progressBar_->setValue(0);
    progressBar_->setTextVisible(true);
    breakButton_->setEnabled(true);
    progressTimer_.start();
}

void mainWindow::finishProgress() {
    progressTimer_.stop();
    progressBar_->setValue(0);
    progressBar_->setTextVisible(false);
    breakButton_->setEnabled(false);
}

void mainWindow::updateProgress() {
    progressBar_->setValue(progressRun_ ? progressRun_->context().progressPercent() : 0);
}

void mainWindow::checkForUpdates(bool userStarted) {
    const programOptionsSettings& options = programOptionsSettings::instance();
    updateCheck_ = std::make_unique<checkUpdates>(checkUpdates::configuredBase(options.updateCheckUrl));
    connect(updateCheck_.get(), &checkUpdates::checked, this,
            [this](const QString& text, const halvora::updateReply& reply) {
                checkUpdatesDialog dialog(text, reply, this);
                dialog.exec();
            });
    connect(updateCheck_.get(), &checkUpdates::failed, this, [this](const QString& text) {
        appendLog(logWarning, text);
        styledMessageBox::show(this, styledMessageBox::error, text.toHtmlEscaped());
    });
    updateCheck_->doCheck(userStarted);
}

void mainWindow::splashFinished() {
    const programOptionsSettings& options = programOptionsSettings::instance();
    // An automatic check stays silent about the network; unattended runs never ask.
    if (options.autoCheckUpdates && !commandLineOptions::current().autoProcess &&
        !styledMessageBox::unattended())
        checkForUpdates(false);
    const int ideal = QThread::idealThreadCount();
    if (options.coreCount < ideal) {
        const int used = std::min({ideal, 64, options.coreCount});
        styledMessageBox::show(
            this, styledMessageBox::warning,
            tr("The program is running with decreased performance, using %1 out of %2 CPU cores. "
               "If it's not intended please go to the Program Options and change the performance "
               "settings.")
                .arg(used)
                .arg(ideal));
    }
}

void mainWindow::rightTabChanged(int n) {
    for (int i = 0; i < rightTabs_->count(); ++i) {
        // Every tab keeps its name: a bare number tells a new user nothing about the stage behind it.
        Q_UNUSED(n);
        rightTabs_->setTabText(i, QStringLiteral("%1: %2").arg(i + 1).arg(tr(kStageNames[i])));
    }
}

void mainWindow::showProgramOptions() {
    showProgramOptions(0);
}

void mainWindow::showProgramOptions(int tab) {
    programOptions dialog(this, tab);
    dialog.exec();
}

void mainWindow::setControlsEnabled(bool enabled) {
    menuBar_->setEnabled(enabled);
    rightTabs_->setEnabled(enabled);
    leftTabs_->setEnabled(enabled);
    if (enabled) updatePhotoControls();
    const bool result = enabled && resultAvailable();
    saveAction_->setEnabled(result);
    saveAsAction_->setEnabled(result);
    if (panoramaBox_) panoramaBox_->setEnabled(enabled);
    exportAction_->setEnabled(result);
    updateGenerateHDRenabled();
    setToneMappingControlsEnabled();
    updateStatusArea();
}

void mainWindow::transformImageSlot() {
    auto* action = qobject_cast<QAction*>(sender());
    if (!action) return;
    startTransform(action->data().toInt(), halvora::cropRect{});
}

void mainWindow::startTransform(int mode, const halvora::cropRect& rect) {
    if (projectBusy() || !project_ || project_->photos.empty()) return;
    appendLog(logInfo, tr("Transforming image..."));
    QApplication::setOverrideCursor(Qt::BusyCursor);
    setControlsEnabled(false);
    transformRun_ = std::make_unique<transformRun>(*project_, currentRunSettings());
    connect(transformRun_.get(), &projectRun::finished, this, &mainWindow::transformImageFinished,
            Qt::QueuedConnection);
    observeRun(transformRun_.get());
    transformRun_->start(mode, rect);
}

void mainWindow::transformImageFinished(bool ok, QString error) {
    if (!transformRun_) return;
    transformRun_.reset();
    QApplication::restoreOverrideCursor();
    setControlsEnabled(true);
    appendLog(ok ? logSuccess : logError, ok ? tr("Image transformed.") : error);
    if (closing_ || !project_) return;
    // Everything on screen was made from the picture before the transform: the thumbnails, the
    // photo on show and the tone-mapped preview (whose sharpening plane had the old shape) follow it.
    const shownKind wasShown = shown_;
    const int wasPhoto = shownPhotoId_;
    refreshThumbnails();
    if (project_->hdrPresent && project_->lcPlanesValid) {
        project_->invalidateToneMapCaches();
        doToneMapping(true);
    }
    if (wasShown == shownPhoto && project_->photoById(wasPhoto))
        showPhoto(wasPhoto);
    else if (wasShown != shownResult || !project_->previewValid)
        showSelectedPhoto();
    updateStatusArea();
}

void mainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (commandLineOptions::current().hideWindow && !event->spontaneous() && frame_)
        QTimer::singleShot(0, this, [this] {
            if (!shutdownDone_) // a close that came first must not bring the frame back
                frame_->showMinimized();
        });
}

void mainWindow::closeEvent(QCloseEvent* event) {
    if (shutdownDone_) {
        event->accept();
        return;
    }
    if (project_ && !project_->photos.empty() && !resultSaved &&
        !styledMessageBox::question(this, tr("Do you really want to exit?"))) {
        event->ignore();
        return;
    }
    setControlsEnabled(false);
    closing_ = true;
    debugLog("\nClosing...\n");
    progressTimer_.stop();
    disconnect(&progressTimer_, &QTimer::timeout, nullptr, nullptr);

    // Every run is cancelled and waited for: each loop polls its run's cancel flag, so this ends
    // promptly, and no thread is ever terminated under a lock or a half-written file.
    logRuns();
    debugLog("Waiting for threads to terminate...\n");
    stopRuns();
    debugLog("Threads should be terminated now\n");
    logRuns();

    shutdownDone_ = true;
    event->accept();
    // Queued: when the frame's own close handling called us, it finishes closing itself first.
    if (frame_) QTimer::singleShot(0, frame_, [f = frame_] { f->close(); });
    project_.reset(); // removes the session directory

    const commandLineOptions& options = commandLineOptions::current();
    if (options.plugin && !lastSavedPath.isEmpty() && QFileInfo::exists(lastSavedPath))
        halvora::writePluginCallback(options.pluginSrcDir, lastSavedPath);
}
