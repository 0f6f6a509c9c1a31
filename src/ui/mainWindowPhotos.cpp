// Photo input of the main window: the "Add images" flow and its load workers.
#include "ui/mainWindow.h"

#include "app/commandLineOptions.h"
#include "app/debugLog.h"
#include "app/processState.h"
#include "app/processingProject.h"
#include "app/programOptionsSettings.h"
#include "imageio/loadPhotoWorker.h"
#include "tonemap/toneMappingRebuild.h"
#include "tonemap/toneMappingSettingsFile.h"
#include "ui/styledMessageBox.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QListWidget>
#include <QMutexLocker>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QLabel>
#include <QAction>

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
