#include "project/loadRun.h"

#include "base/debugLog.h"
#include "base/failure.h"
#include "base/pyramid.h"
#include "project/loadPhotoWorker.h"
#include "project/processingProject.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

loadRun::loadRun(processingProject& project, const runSettings& settings, QObject* parent)
    : projectRun(settings, parent), project_(project) {}

loadRun::~loadRun() {
    stopNow();
}

bool loadRun::prepare(const QStringList& files, QString& error) {
    error.clear();
    pending_.clear();
    bool radianceOpened = false;
    for (const auto& photo : project_.photos)
        radianceOpened = radianceOpened || photo->isRadiance;
    for (int i = 0; i < files.size(); ++i) {
        auto photo = std::make_unique<photoEntry>();
        photo->fileName = QFileInfo(files[i]).absoluteFilePath();
        // The text names the file and the reason; it is passed on as it is.
        if (!project_.loadPhotoPrepare(*photo, i, radianceOpened, &error)) {
            pending_.clear();
            return false;
        }
        radianceOpened = radianceOpened || photo->isRadiance;
        pending_.push_back(std::move(photo));
    }
    return !pending_.empty();
}

bool loadRun::start() {
    if (pending_.empty() || !markStarted()) return false;
    if (project_.hdrPresent) {
        // The first two decode buffers are the picture's own stores: the HDR image is gone.
        project_.discardPicture();
        emit logLine(warning, tr("The photos changed: the HDR image has to be generated again."));
    }
    requested_ = int(pending_.size());
    const bool radianceNoise = pending_.front()->isRadiance && project_.hdrOptions.noiseFilter;
    beginProgress(loadPhotoWorker::progressTotal(project_.width, project_.height, requested_, radianceNoise));
    emit logLine(info, tr("Loading %n photo(s)...", "", requested_));
    addImagesStartThreads();
    return true;
}

bool loadRun::anyWorkerRunning() const {
    return std::any_of(slots_.begin(), slots_.end(), [](const workerSlot& s) { return s.worker != nullptr; });
}

void loadRun::addImagesStartThreads() {
    if (pending_.empty()) return;
    QStringList pendingNames;
    for (const auto& photo : pending_)
        pendingNames << photo->fileName;
    // The wave follows this run's thread count (the decode itself is split over the pool).
    halvora::runContext::scope bind(context());
    const int n = loadPhotoWorker::waveSize(project_.width, project_.height, pendingNames);
    debugLog("Starting image load threads (n=%d)\n", n);
    for (int i = 0; i < n && !pending_.empty(); ++i) {
        workerSlot& slot = slots_[size_t(i)];
        uint16_t* buffer = nullptr;
        if (i == 0) {
            buffer = project_.resultImage.data<uint16_t>();
            debugLog("To display: %s\n",
                     QDir::toNativeSeparators(pending_.front()->fileName).toLocal8Bit().constData());
        } else if (i == 1) {
            buffer = project_.hdrImage.data<uint16_t>(); // 12 bytes per pixel: room for 6
        } else {
            auto own = std::make_unique<pyramid>();
            if (own->init(project_.width, project_.height, 1, 2, 3, true)) {
                buffer = own->data<uint16_t>();
                slot.buffer = std::move(own);
            }
        }
        if (!buffer) {
            // Short of memory for another buffer: the photo waits for the next wave.
            if (i > 0) break;
            for (auto& photo : pending_) {
                ++failed_;
                reportFailure(QDir::toNativeSeparators(photo->fileName) + ": " + tr("Not enough memory!"));
            }
            pending_.clear();
            done();
            return;
        }
        slot.worker = std::make_unique<loadPhotoWorker>(&project_, std::move(pending_.front()), buffer, i);
        pending_.pop_front();
        connect(slot.worker.get(), &loadPhotoWorker::finished, this, &loadRun::addImagesFinished,
                Qt::QueuedConnection);
        slot.thread = std::make_unique<halvora::workerThread>();
        loadPhotoWorker* worker = slot.worker.get();
        slot.thread->start(context(), [worker] { worker->loadPhoto(); });
    }
}

void loadRun::releaseSlot(workerSlot& slot) {
    if (slot.thread) slot.thread->wait();
    slot.worker.reset();
    slot.thread.reset();
    slot.buffer.reset();
}

void loadRun::addImagesFinished(int status, QString errorMsg, int workerId) {
    if (stopping_ || workerId < 0 || workerId >= kMaxWorkers || !slots_[size_t(workerId)].worker) return;
    workerSlot& slot = slots_[size_t(workerId)];
    if (slot.thread) slot.thread->wait();
    std::unique_ptr<photoEntry> photo = slot.worker->takePhoto();
    releaseSlot(slot);

    if (photo && status == loadPhotoWorker::loaded) {
        // Photos keep the order they were chosen in; ids grow in that order.
        auto& photos = project_.photos;
        auto at =
            std::find_if(photos.begin(), photos.end(), [&](const auto& p) { return p->id > photo->id; });
        const int row = int(at - photos.begin());
        photo->included = true;
        photos.insert(at, std::move(photo));
        emit photoLoaded(row);
    } else {
        ++failed_;
        // The worker's text names the file and the reason; without one, the file at least.
        const QString name = photo ? QDir::toNativeSeparators(photo->fileName) : QString();
        reportFailure(!errorMsg.isEmpty() ? errorMsg : name + ": " + tr("the photo could not be loaded"));
        if (photo) photo->releaseAll();
    }

    if (anyWorkerRunning()) return;
    if (!pending_.empty() && !context().cancelled()) {
        addImagesStartThreads();
        return;
    }
    for (auto& left : pending_) {
        ++failed_;
        reportFailure(QDir::toNativeSeparators(left->fileName) + ": " + tr("Loading was interrupted."));
    }
    pending_.clear();
    done();
}

void loadRun::reportFailure(const QString& text) {
    debugLog("%s\n", text.toLocal8Bit().constData());
    failures_ << text;
    emit logLine(error, text);
    emit loadFailed(text);
}

void loadRun::done() {
    loadPhotoWorker::releaseStripBlocks();
    const int loaded = requested_ - failed_;
    if (loaded > 0)
        emit logLine(failed_ ? warning : success, tr("Loaded %1 of %2 photos.").arg(loaded).arg(requested_));
    const bool ok = failed_ == 0 && loaded > 0;
    finish(ok, ok ? QString() : tr("Failed to load %1 of %2 photos.").arg(failed_).arg(requested_));
}

void loadRun::logWorkers() const {
    for (size_t i = 0; i < slots_.size(); ++i)
        debugLog("loadPhoto.worker[%d]=%p\n", int(i), static_cast<void*>(slots_[i].worker.get()));
}

void loadRun::stopNow() {
    stopping_ = true;
    pending_.clear();
    context().cancel();
    for (workerSlot& slot : slots_)
        releaseSlot(slot);
    projectRun::stopNow();
}
