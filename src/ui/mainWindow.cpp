#include "ui/mainWindow.h"

#include "app/automaticRun.h"
#include "app/commandLineOptions.h"
#include "app/debugLog.h"
#include "app/pluginCallback.h"
#include "app/processState.h"
#include "app/processingProject.h"
#include "app/programOptionsSettings.h"
#include "app/startupLog.h"
#include "app/transformWorker.h"
#include "hdr/exposureValues.h"
#include "hdr/genHDR_options.h"
#include "hdr/generateHDRworker.h"
#include "imageio/loadPhotoWorker.h"
#include "imageio/saveResultWorker.h"
#include "tonemap/toneMappingPreprocessWorker.h"
#include "tonemap/toneMappingRebuild.h"
#include "tonemap/toneMappingSettingsFile.h"
#include "ui/hdrLoadOptionsDialog.h"
#include "ui/programOptions.h"
#include "ui/styledMainWindow.h"
#include "ui/styledMessageBox.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMutexLocker>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
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

    project_ = std::make_unique<processingProject>(this);
    if (project_->createFailed) {
        debugLog("Failed to create project!\n");
        startupError_ = true;
    }
    if (!startupError_) {
        // The built-in default look; a missing or broken one leaves the record's own defaults.
        if (halvora::loadSettingsFile(QStringLiteral(":/resources/built-in presets/default.hvsx"),
                                      project_->tmSettings) != halvora::settingsLoadOk)
            debugLog("%s: Failed to load default tone mapping settings\n", "mainWindow::mainWindow");
        halvora::rebuildToneMappingTables(project_->tmSettings, halvora::toneMappingChange::everything);
    }
    project_->hdrLoadOptionsHook = [this](hdrLoadOptions& options) {
        // Unattended runs keep the options preparation started from.
        if (commandLineOptions::current().autoProcess || styledMessageBox::unattended())
            return true;
        return hdrLoadOptionsDialog::ask(this, programOptionsSettings::instance(), options);
    };

    progressTimer_.setInterval(250);
    connect(&progressTimer_, &QTimer::timeout, this, &mainWindow::updateProgress);

    connect(this, &mainWindow::loadOnStartup, this, &mainWindow::loadOnStartupSlot, Qt::QueuedConnection);
    const commandLineOptions& options = commandLineOptions::current();
    if (!options.inputPhotos.isEmpty())
        emit loadOnStartup();
    else if (options.autoProcess && !startupError_)
        failUnattended(tr("No photos to process: an automatic run needs at least one input file."));
}

mainWindow::~mainWindow() {
    // A window destroyed without its close (tests, a failed start) still lets its loads end first.
    closing_ = true;
    pendingPhotos_.clear();
    for (workerSlot& slot : loadPhotoWorkers_)
        releaseWorker(slot);
}

void mainWindow::buildUi() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    menuBar_ = new QMenuBar(this);
    outer->setMenuBar(menuBar_);
    buildMenus();

    auto* split = new QSplitter(Qt::Horizontal, this);
    leftTabs_ = new QTabWidget(split);
    photoList_ = new QListWidget(leftTabs_);
    photoList_->setObjectName("photoList");
    photoList_->setIconSize(QSize(96, 96));
    leftTabs_->addTab(photoList_, tr("Photos"));

    auto* centre = new QSplitter(Qt::Vertical, split);
    pictureView_ = new QLabel(centre);
    pictureView_->setObjectName("pictureView");
    pictureView_->setAlignment(Qt::AlignCenter);
    pictureView_->setMinimumSize(320, 240);
    logPanel_ = new QTextEdit(centre);
    logPanel_->setObjectName("logPanel");
    logPanel_->setReadOnly(true);
    centre->setStretchFactor(0, 4);
    centre->setStretchFactor(1, 1);

    rightTabs_ = new QTabWidget(split);
    rightTabs_->setObjectName("rightTabs");
    for (const char* name : kStageNames)
        rightTabs_->addTab(new QWidget(rightTabs_), tr(name));
    connect(rightTabs_, &QTabWidget::currentChanged, this, &mainWindow::rightTabChanged);
    rightTabChanged(0);
    split->setStretchFactor(1, 1);
    outer->addWidget(split, 1);

    auto* status = new QHBoxLayout;
    progressBar_ = new QProgressBar(this);
    progressBar_->setObjectName("progressBar");
    progressBar_->setRange(0, 100);
    progressBar_->setValue(0);
    progressBar_->setTextVisible(false);
    breakButton_ = new QPushButton(tr("Break"), this);
    breakButton_->setObjectName("breakButton");
    breakButton_->setEnabled(false);
    connect(breakButton_, &QPushButton::clicked, this, [] { abortRequested = true; });
    status->addWidget(progressBar_, 1);
    status->addWidget(breakButton_);
    outer->addLayout(status);
}

void mainWindow::buildMenus() {
    QMenu* file = menuBar_->addMenu(tr("File"));
    QAction* addAction = file->addAction(tr("Add"));
    addAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    connect(addAction, &QAction::triggered, this, qOverload<>(&mainWindow::addImages));
    QAction* exitAction = file->addAction(tr("Exit"));
    exitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(exitAction, &QAction::triggered, this, [this] { close(); });

    QMenu* transform = menuBar_->addMenu(tr("Transform"));
    const std::pair<const char*, int> modes[] = {{"Rotate 90 (counter-clockwise)", halvora::turnCounterClockwise},
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

    QMenu* settings = menuBar_->addMenu(tr("Settings"));
    QAction* options = settings->addAction(tr("Program options"));
    connect(options, &QAction::triggered, this, qOverload<>(&mainWindow::showProgramOptions));
}

void mainWindow::appendLog(logKind kind, const QString& text) {
    logPanel_->append(QStringLiteral("<font color=%1>%2</font>").arg(kLogColours[kind], text.toHtmlEscaped()));
}

QString mainWindow::logPanelHtml() const { return logPanel_->toHtml(); }

void mainWindow::startProgress(uint64_t total) {
    halvora::setProgressTotal(total);
    progressBar_->setValue(0);
    progressBar_->setTextVisible(true);
    breakButton_->setEnabled(true);
    progressTimer_.start();
}

void mainWindow::finishProgress() {
    progressTimer_.stop();
    progressBar_->setValue(0);
    progressBar_->setTextVisible(false);
    halvora::progress().done.store(0);
    breakButton_->setEnabled(false);
}

void mainWindow::updateProgress() { progressBar_->setValue(halvora::progressPercent()); }

void mainWindow::splashFinished() {
    const programOptionsSettings& options = programOptionsSettings::instance();
    const int ideal = QThread::idealThreadCount();
    if (options.coreCount < ideal) {
        const int used = std::min({ideal, 64, options.coreCount});
        styledMessageBox::show(this, styledMessageBox::warning,
                               tr("The program is running with decreased performance, using %1 out of %2 CPU cores. "
                                  "If it's not intended please go to the Program Options and change the performance "
                                  "settings.")
                                   .arg(used)
                                   .arg(ideal));
    }
}

void mainWindow::loadOnStartupSlot() {
    disconnect(this, &mainWindow::loadOnStartup, this, &mainWindow::loadOnStartupSlot);
    const QString settingsFile = commandLineOptions::current().settings;
    if (project_ && !settingsFile.isEmpty() && QFileInfo(settingsFile).isFile()) {
        const int r = halvora::loadSettingsFile(settingsFile, project_->tmSettings);
        if (r == halvora::settingsLoadOk) {
            halvora::rebuildToneMappingTables(project_->tmSettings, halvora::toneMappingChange::everything);
            appendLog(logInfo, tr("Tone mapping settings loaded: %1").arg(QDir::toNativeSeparators(settingsFile)));
        } else {
            // A file that exists but cannot be used must not pass silently for the chosen look.
            const QString text = tr("Cannot load the tone mapping settings file %1.").arg(QDir::toNativeSeparators(settingsFile));
            if (commandLineOptions::current().autoProcess) {
                failUnattended(text);
                return;
            }
            appendLog(logWarning, text);
        }
    }
    if (!addImages(commandLineOptions::current().inputPhotos) && commandLineOptions::current().autoProcess &&
        !closing_)
        failUnattended(tr("No photos could be loaded."));
}

QString mainWindow::addImagesFilters() {
    const QStringList filters = {
        tr("All supported formats") +
            " (*.jpg *.jpeg *.tif *.tiff *.exr *.hdr *.bmp *.png *.fit *.fits *.fts *.hvp *.3fr *.raw *.rw2 *.crw "
            "*.cr2 *.mrw *.nef *.orf *.dng *.pef *.arw *.dcr *.kdc *.srf *.sr2 *.raf *.mdc *.erf *.x3f *.dcs *.rwl "
            "*.nrw *.srw)",
        "Halvora (*.hvp)",
        "JPEG (*.jpg *.jpeg)",
        "TIFF 8/16/32-bit (*.tif *.tiff)",
        "PNG (*.png)",
        "BMP (*.bmp)",
        "OpenEXR (*.exr)",
        "Radiance RGBE (*.hdr)",
        "FITS (*.fts *.fit *.fits)",
        "Canon RAW (*.crw *.cr2)",
        "Nikon RAW (*.nef *.nrw)",
        "Fuji RAW (*.raf)",
        "Olympus RAW (*.orf)",
        "Sony RAW (*.srf *.sr2 *.arw)",
        "Samsung RAW (*.srw)",
        "Pentax RAW (*.pef)",
        "Minolta RAW (*.mrw *.mdc)",
        "Kodak RAW (*.dcr *.dcs *.kdc)",
        "Leica RAW (*.raw *.dng)",
        "Sigma RAW (*.x3f)",
        "Hasselblad RAW (*.3fr)",
        "Epson RAW (*.erf)",
        "Panasonic RAW (*.raw *.rw2 *.rwl)",
        "Adobe Digital Negative (*.dng)",
        tr("All files") + " (*.*)",
    };
    return filters.join(";;");
}

bool mainWindow::loadingPhotos() const { return loadActive_; }

bool mainWindow::addImages() { return addImages(QStringList()); }

bool mainWindow::addImages(const QStringList& fileNames) {
    if (!project_ || loadActive_ || closing_)
        return false;
    QStringList files = fileNames;
    programOptionsSettings& options = programOptionsSettings::instance();
    if (files.isEmpty()) {
        files = QFileDialog::getOpenFileNames(this, tr("Add images"), options.openSavePhotoLastDir, addImagesFilters());
        if (files.isEmpty())
            return false;
        options.openSavePhotoLastDir = QFileInfo(files.front()).absolutePath();
    }
    const bool unattended = commandLineOptions::current().autoProcess || styledMessageBox::unattended();
    abortRequested = false; // a "Break" of an earlier operation does not stop this one

    // Every file is prepared before any is loaded; the first failure ends the action.
    bool radianceOpened = false;
    for (const auto& photo : project_->photos)
        radianceOpened = radianceOpened || photo->isRadiance;
    std::deque<std::unique_ptr<photoEntry>> prepared;
    for (int i = 0; i < files.size(); ++i) {
        auto photo = std::make_unique<photoEntry>();
        photo->fileName = QFileInfo(files[i]).absoluteFilePath();
        if (!project_->loadPhotoPrepare(*photo, i, radianceOpened)) {
            if (!project_->lastError.isEmpty()) {
                const QString text = project_->lastError + ": " + QDir::toNativeSeparators(files[i]) + ".";
                appendLog(logError, text);
                if (unattended)
                    debugLog("%s\n", text.toLocal8Bit().constData());
                else
                    styledMessageBox::show(this, styledMessageBox::error, text);
            }
            return false;
        }
        radianceOpened = radianceOpened || photo->isRadiance;
        prepared.push_back(std::move(photo));
    }

    QApplication::setOverrideCursor(Qt::BusyCursor);
    leftTabs_->setCurrentIndex(0);
    rightTabs_->setCurrentIndex(0);
    setControlsEnabled(false);
    const bool radianceNoise = prepared.front()->isRadiance && project_->hdrOptions.noiseFilter;
    startProgress(loadPhotoWorker::progressTotal(project_->width, project_->height, int(prepared.size()),
                                                 radianceNoise));
    appendLog(logInfo, tr("Loading %n photo(s)...", "", int(prepared.size())));
    pendingPhotos_ = std::move(prepared);
    loadRequested_ = int(pendingPhotos_.size());
    loadFailed_ = 0;
    loadMessages_.clear();
    loadActive_ = true;
    addImagesStartThreads();
    return true;
}

void mainWindow::addImagesStartThreads() {
    if (pendingPhotos_.empty())
        return;
    QStringList pendingNames;
    for (const auto& photo : pendingPhotos_)
        pendingNames << photo->fileName;
    const int n = loadPhotoWorker::waveSize(project_->width, project_->height, pendingNames);
    debugLog("Starting image load threads (n=%d)\n", n);
    for (int i = 0; i < n && !pendingPhotos_.empty(); ++i) {
        uint16_t* buffer = nullptr;
        if (i == 0) {
            buffer = project_->resultImage.data<uint16_t>();
            debugLog("To display: %s\n", QDir::toNativeSeparators(pendingPhotos_.front()->fileName).toLocal8Bit().constData());
        } else if (i == 1) {
            buffer = project_->hdrImage.data<uint16_t>(); // 12 bytes per pixel: room for 6
        } else {
            auto own = std::make_unique<pyramid>();
            if (own->init(project_->width, project_->height, 1, 2, 3, true)) {
                buffer = own->data<uint16_t>();
                loadBuffers_[size_t(i)] = std::move(own);
            }
        }
        if (!buffer) {
            // Short of memory for another buffer: the photo waits for the next wave.
            if (i > 0)
                break;
            for (auto& photo : pendingPhotos_) {
                ++loadFailed_;
                reportLoadError(tr("Failed to load") + ": " + QDir::toNativeSeparators(photo->fileName) + ". " +
                                tr("Not enough memory!"));
            }
            pendingPhotos_.clear();
            addImagesDone();
            return;
        }
        auto* thread = new QThread(this);
        auto* worker = new loadPhotoWorker(project_.get(), std::move(pendingPhotos_.front()), buffer, i);
        pendingPhotos_.pop_front();
        worker->moveToThread(thread);
        connect(thread, &QThread::started, worker, &loadPhotoWorker::loadPhoto);
        connect(worker, &loadPhotoWorker::finished, this, &mainWindow::addImagesFinished, Qt::QueuedConnection);
        loadPhotoWorkers_[size_t(i)] = {thread, worker};
        thread->start();
    }
}

void mainWindow::addImagesFinished(int status, QString errorMsg, int workerId) {
    QMutexLocker lock(&loadMutex_);
    if (workerId < 0 || workerId >= int(loadPhotoWorkers_.size()) || !loadPhotoWorkers_[size_t(workerId)].occupied())
        return;
    workerSlot& slot = loadPhotoWorkers_[size_t(workerId)];
    std::unique_ptr<photoEntry> photo = static_cast<loadPhotoWorker*>(slot.worker)->takePhoto();
    releaseWorker(slot);
    loadBuffers_[size_t(workerId)].reset();

    if (photo && status == loadPhotoWorker::loaded && project_) {
        // Photos keep the order they were chosen in; ids grow in that order.
        auto& photos = project_->photos;
        auto at = std::find_if(photos.begin(), photos.end(), [&](const auto& p) { return p->id > photo->id; });
        const int row = int(at - photos.begin());
        auto* item = new QListWidgetItem(QIcon(QPixmap::fromImage(photo->thumbnail)),
                                         QFileInfo(photo->fileName).fileName());
        item->setData(Qt::UserRole, photo->id);
        item->setToolTip(QDir::toNativeSeparators(photo->fileName));
        photoList_->insertItem(row, item);
        photos.insert(at, std::move(photo));
    } else {
        ++loadFailed_;
        const QString name = photo ? QDir::toNativeSeparators(photo->fileName) : QString();
        QString text = tr("Failed to load") + ": " + name + ".";
        if (!errorMsg.isEmpty())
            text += " " + errorMsg;
        reportLoadError(text);
        if (photo)
            photo->releaseAll();
    }

    for (const workerSlot& s : loadPhotoWorkers_)
        if (s.occupied())
            return;
    if (!pendingPhotos_.empty() && !closing_ && !abortRequested.load()) {
        addImagesStartThreads();
        return;
    }
    pendingPhotos_.clear();
    addImagesDone();
}

void mainWindow::reportLoadError(const QString& text) {
    appendLog(logError, text);
    debugLog("%s\n", text.toLocal8Bit().constData());
    loadMessages_ << text;
}

void mainWindow::addImagesDone() {
    loadActive_ = false;
    loadPhotoWorker::releaseStripBlocks();
    if (closing_)
        return;
    finishProgress();
    QApplication::restoreOverrideCursor();
    setControlsEnabled(true);
    const bool havePhotos = project_ && !project_->photos.empty();
    for (QAction* action : std::as_const(transformActions_))
        action->setEnabled(havePhotos);
    if (havePhotos) {
        const photoEntry& first = *project_->photos.front();
        if (first.preview.data) {
            QImage shown(first.preview.width, first.preview.height, QImage::Format_RGB888);
            for (int y = 0; y < shown.height(); ++y) {
                const uint16_t* in = first.preview.pixels() + size_t(y) * first.preview.width * 3;
                uchar* out = shown.scanLine(y);
                for (int i = 0; i < first.preview.width * 3; ++i)
                    out[i] = uchar(std::min<int>(in[i] >> 7, 255));
            }
            pictureView_->setPixmap(QPixmap::fromImage(shown));
        }
    }
    const int loaded = loadRequested_ - loadFailed_;
    if (loaded > 0)
        appendLog(loadFailed_ ? logWarning : logSuccess, tr("Loaded %1 of %2 photos.").arg(loaded).arg(loadRequested_));

    if (commandLineOptions::current().autoProcess) {
        if (loadFailed_ > 0 || !havePhotos)
            failUnattended(tr("Failed to load %1 of %2 photos.").arg(loadFailed_).arg(loadRequested_));
        else
            startAutomaticGeneration();
        return;
    }
    if (!loadMessages_.isEmpty() && !styledMessageBox::unattended()) {
        // Shown after the handler returns: a modal box must not run inside the load mutex.
        const QString text = loadMessages_.join("\n");
        loadMessages_.clear();
        QTimer::singleShot(0, this, [this, text] { styledMessageBox::show(this, styledMessageBox::error, text); });
    }
}

void mainWindow::failUnattended(const QString& message) {
    appendLog(logError, message);
    debugLog("%s\n", message.toLocal8Bit().constData());
    failureExitCode_ = 1;
    resultSaved = true; // nothing to ask about
    QTimer::singleShot(0, this, [this] { close(); });
}

void mainWindow::rightTabChanged(int n) {
    for (int i = 0; i < rightTabs_->count(); ++i) {
        const QString title = i == n ? QStringLiteral("%1: %2").arg(i + 1).arg(tr(kStageNames[i]))
                                     : QStringLiteral("%1  ").arg(i + 1);
        rightTabs_->setTabText(i, title);
    }
}

void mainWindow::showProgramOptions() { showProgramOptions(0); }

void mainWindow::showProgramOptions(int tab) {
    programOptions dialog(this, tab);
    dialog.exec();
}

void mainWindow::setControlsEnabled(bool enabled) {
    menuBar_->setEnabled(enabled);
    rightTabs_->setEnabled(enabled);
    leftTabs_->setEnabled(enabled);
}

void mainWindow::transformImageSlot() {
    auto* action = qobject_cast<QAction*>(sender());
    if (!action)
        return;
    startTransform(action->data().toInt(), halvora::cropRect{});
}

void mainWindow::startTransform(int mode, const halvora::cropRect& rect) {
    if (transformWorker_.occupied() || !project_ || project_->photos.empty())
        return;
    appendLog(logInfo, tr("Transforming image..."));
    QApplication::setOverrideCursor(Qt::BusyCursor);
    setControlsEnabled(false);
    auto* thread = new QThread(this);
    auto* worker = new transformWorker(project_.get(), mode, rect);
    worker->moveToThread(thread);
    connect(thread, &QThread::started, worker, &transformWorker::transformImage);
    connect(worker, &transformWorker::finished, this, &mainWindow::transformImageFinished);
    transformWorker_ = {thread, worker};
    startProgress(uint64_t(project_->photos.size()) + 3);
    thread->start();
}

void mainWindow::transformImageFinished() {
    auto* worker = static_cast<transformWorker*>(transformWorker_.worker);
    const bool ok = worker && worker->succeeded();
    releaseWorker(transformWorker_);
    finishProgress();
    QApplication::restoreOverrideCursor();
    setControlsEnabled(true);
    appendLog(ok ? logSuccess : logError, ok ? tr("Image transformed.") : tr("Transforming the image failed."));
}

void mainWindow::releaseWorker(workerSlot& slot) {
    if (slot.thread) {
        slot.thread->quit();
        slot.thread->wait();
    }
    delete slot.worker;
    delete slot.thread;
    slot = workerSlot{};
}

void mainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (commandLineOptions::current().hideWindow && !event->spontaneous() && frame_)
        QTimer::singleShot(0, this, [this] {
            if (!shutdownDone_) // a close that came first must not bring the frame back
                frame_->showMinimized();
        });
}

void mainWindow::logWorkerSlots() {
    for (size_t i = 0; i < loadPhotoWorkers_.size(); ++i)
        debugLog("loadPhoto.worker[%d]=%p\n", int(i), static_cast<void*>(loadPhotoWorkers_[i].worker));
    debugLog("savePhoto.worker=%p\n", static_cast<void*>(savePhotoWorker_.worker));
    debugLog("saveAligned.worker=%p\n", static_cast<void*>(saveAlignedWorker_.worker));
    debugLog("toneMapping.worker=%p\n", static_cast<void*>(toneMappingWorker_.worker));
    debugLog("presetThumbs.worker=%p\n", static_cast<void*>(presetThumbsWorker_.worker));
    debugLog("postProcess.worker=%p\n", static_cast<void*>(postProcessWorker_.worker));
    debugLog("transformWorker.worker=%p\n", static_cast<void*>(transformWorker_.worker));
}

void mainWindow::waitForWorker(workerSlot& slot, int polls) {
    // Finished signals queued to this thread are delivered between the polls and empty the slot.
    for (int i = 0; slot.occupied() && i < polls; ++i) {
        QThread::msleep(100);
        QCoreApplication::processEvents();
    }
    if (slot.occupied() && slot.thread) {
        slot.thread->terminate();
        slot.thread->wait();
        delete slot.worker;
        delete slot.thread;
        slot = workerSlot{};
    }
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
    pendingPhotos_.clear();
    abortRequested = true;
    if (toneMappingWorker_.occupied())
        QThread::msleep(500);
    debugLog("\nClosing...\n");
    progressTimer_.stop();
    disconnect(&progressTimer_, &QTimer::timeout, nullptr, nullptr);

    logWorkerSlots();
    debugLog("Waiting for threads to terminate...\n");
    for (workerSlot& slot : loadPhotoWorkers_)
        waitForWorker(slot, 20);
    for (workerSlot* slot : {&savePhotoWorker_, &saveAlignedWorker_, &toneMappingWorker_, &presetThumbsWorker_})
        waitForWorker(*slot, 50);
    for (workerSlot* slot : {&postProcessWorker_, &transformWorker_, &generateHDRworker_})
        waitForWorker(*slot, 100);
    debugLog("Threads should be terminated now\n");
    logWorkerSlots();

    shutdownDone_ = true;
    event->accept();
    // Queued: when the frame's own close handling called us, it finishes closing itself first.
    if (frame_)
        QTimer::singleShot(0, frame_, [f = frame_] { f->close(); });
    project_.reset(); // removes the session directory

    const commandLineOptions& options = commandLineOptions::current();
    if (options.plugin && !lastSavedPath.isEmpty() && QFileInfo::exists(lastSavedPath))
        halvora::writePluginCallback(options.pluginSrcDir, lastSavedPath);
}

// ---- automatic run: generation, tone-mapping preparation, tone mapping, save

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
