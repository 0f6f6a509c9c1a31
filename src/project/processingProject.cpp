#include "project/processingProject.h"

#include "base/debugLog.h"
#include "base/hugePageBlock.h"
#include "base/replacingFile.h"
#include "base/runContext.h"
#include "project/sessionCleaner.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

using halvora::cropRect;

processingProject::processingProject(QObject* parent, const QString& tempDir) : QObject(parent) {
    debugLog("Preparing environment...\n");

    if (!tmSettings.tables.allocate() || !presetTmSettings.tables.allocate()) {
        debugLog("%s: Failed to allocate memory\n", "processingProject::processingProject");
        createFailed = true;
    }

    const QString base = tempDir.isEmpty() ? QDir::tempPath() : tempDir;
    halvora::cleanOldSessions(base, 72.0);

    QString error;
    const QDateTime start = QDateTime::currentDateTime();
    sessionDir = halvora::createSessionDirectory(base, start, error);
    sessionName = QFileInfo(QDir::cleanPath(sessionDir)).fileName();
    if (sessionDir.isEmpty()) {
        const QString attempted = base + "/" + halvora::sessionNameFor(start) + "/";
        debugLog("%s: Failed to create session dir: '%s' (%s)\n", "processingProject::processingProject",
                 QDir::toNativeSeparators(attempted).toLocal8Bit().constData(),
                 error.toLocal8Bit().constData());
        createFailed = true;
    } else {
        // A run killed while writing leaves its hidden partial files listed here for the next start.
        halvora::setPartialFileList(sessionDir + halvora::kSessionPartialsFile);
    }

    cleanup();
    debugLog("Environment ready.\n\n");
}

processingProject::~processingProject() {
    cleanup();
    halvora::cleanSession(sessionDir, 0, true);
}

void processingProject::cleanup() {
    debugLog("Cleanup project...\n");
    width = height = decodeWidth = decodeHeight = hdrWidth = hdrHeight = 0;
    previewDivisor = 1;
    previewWidth = previewHeight = previewZoomLevels = pyramidLevels = 0;
    photoIdCounter = 0;
    hdrPresent = transformed = cropped = aligned = false;
    unalignedWidth = unalignedHeight = 0;
    hdrMean = 0;
    lcCorrection = 1;
    maskPlaneValid = lcPlanesValid = false;
    orientationMode = -1;
    orientationSet = false;
    currentInputFormat = -1;
    evMin = evMax = evMean = lnEvMin = lnEvMax = lnEvMean = 0;
    midId = minId = maxId = 0;
    exifEVvalid = aebEVdistinct = responseCurveValid = false;
    for (auto& photo : photos) {
        photo->releaseAll();
        if (!photo->profilePath.isEmpty()) QFile::remove(photo->profilePath);
    }
    photos.clear();
    previewBuffer.release();
    overlayPlane.reset();
    previewCapacity_ = 0;
    for (pyramid* p : {&hdrImage, &resultImage, &lcPlaneFine, &lcPlaneMedium, &lcPlaneCoarse, &maskPlane})
        p->release();
    for (auto& block : workBlocks)
        block.reset();
    if (tmSettings.tables.allocated()) tmSettings.tables.clearHistograms();
    invalidateToneMapCaches();
    halvora::cleanSession(sessionDir, 0, false);
}

int processingProject::getImageInfoIdx(int id) const {
    for (size_t i = 0; i < photos.size(); ++i)
        if (photos[i]->id == id) return int(i);
    debugLog("%s: Id = %d not found\n", "processingProject::getImageInfoIdx", id);
    return -1;
}

photoEntry* processingProject::photoById(int id) {
    const int idx = getImageInfoIdx(id);
    return idx < 0 ? nullptr : photos[size_t(idx)].get();
}

bool processingProject::removePhoto(int id) {
    auto it = std::find_if(photos.begin(), photos.end(), [id](const auto& p) { return p->id == id; });
    if (it == photos.end()) {
        debugLog("%s: Id = %d not found\n", "processingProject::removePhoto", id);
        return false;
    }
    (*it)->releaseAll();
    if (!(*it)->profilePath.isEmpty() && QFile::exists((*it)->profilePath)) QFile::remove((*it)->profilePath);
    photos.erase(it);
    responseCurveValid = false; // the curve was recovered from the old set of photos
    return true;
}

bool processingProject::writeToTempFile(photoEntry& photo, int slot, const void* buffer, size_t bytes) {
    const char* const caller = "processingProject::writeToTempFile";
    if (slot < 0 || slot >= photoEntry::slotCount || !buffer) return false;
    if (photo.tempFiles[size_t(slot)]) {
        debugLog("%s: temp file already used (sel=%d)\n", caller, slot);
        return false;
    }
    auto record = std::make_unique<tempFileRecord>(sessionDir);
    if (!record->isOpen()) {
        debugLog("%s: open() failed (%s)\n", caller,
                 QDir::toNativeSeparators(sessionDir).toLocal8Bit().constData());
        return false;
    }
    if (!record->write(buffer, bytes, caller)) return false;
    photo.tempFiles[size_t(slot)] = std::move(record);
    return true;
}

tempFileRecord* processingProject::attachNewTempFile(photoEntry& photo, int slot) {
    const char* const caller = "processingProject::writeToTempFile";
    if (slot < 0 || slot >= photoEntry::slotCount) return nullptr;
    if (photo.tempFiles[size_t(slot)]) {
        debugLog("%s: temp file already used (sel=%d)\n", caller, slot);
        return nullptr;
    }
    auto record = std::make_unique<tempFileRecord>(sessionDir);
    if (!record->isOpen()) {
        debugLog("%s: open() failed (%s)\n", caller,
                 QDir::toNativeSeparators(sessionDir).toLocal8Bit().constData());
        return nullptr;
    }
    photo.tempFiles[size_t(slot)] = std::move(record);
    return photo.tempFiles[size_t(slot)].get();
}

bool processingProject::readFromTempFile(photoEntry& photo, int slot, void* buffer, size_t bytes) {
    const char* const caller = "processingProject::readFromTempFile";
    if (slot < 0 || slot >= photoEntry::slotCount || !buffer || !photo.tempFiles[size_t(slot)]) {
        debugLog("%s: file not open\n", caller);
        return false;
    }
    return photo.tempFiles[size_t(slot)]->read(buffer, bytes, caller);
}

int processingProject::previewDivisorFor(int w, int h) {
    return std::max(w, h) / 1000 + 1;
}

int processingProject::previewZoomLevelsFor(int pw, int ph) {
    int value = std::min(pw, ph), levels = 0;
    while (value > 64 && levels < 16) {
        value /= 2;
        ++levels;
    }
    return levels;
}

int processingProject::pyramidLevelsFor(int w, int h) {
    int value = std::max(w, h), count = 1;
    while (value / 2 > 300 && count < pyramid::kMaxLevels) {
        value /= 2;
        ++count;
    }
    return count;
}

bool processingProject::setImageSize(int w, int h) {
    if (!halvora::pictureElements(w, h, 3)) return false;
    width = decodeWidth = hdrWidth = w;
    height = decodeHeight = hdrHeight = h;
    previewDivisor = previewDivisorFor(w, h);
    previewWidth = halvora::downscaledSide(w, previewDivisor);
    previewHeight = halvora::downscaledSide(h, previewDivisor);
    previewZoomLevels = previewZoomLevelsFor(previewWidth, previewHeight);
    pyramidLevels = pyramidLevelsFor(w, h);
    debugLog("levelCnt=%d\n", pyramidLevels);

    // Stores keep their blocks when the picture shrinks; growing again (undoing a cropping
    // alignment) needs new ones.
    const bool ok = hdrImage.allocated() ? reshapeFullSizeStores(w, h) || allocateFullSizeStores(w, h)
                                         : allocateFullSizeStores(w, h);
    return ok && ensurePreviewCapacity();
}

bool processingProject::allocateFullSizeStores(int w, int h) {
    bool ok =
        hdrImage.init(w, h, pyramidLevels, 4, 3, true) && resultImage.init(w, h, pyramidLevels, 2, 3, true);
    for (pyramid* p : {&lcPlaneFine, &lcPlaneMedium, &lcPlaneCoarse, &maskPlane})
        ok = ok && p->init(w, h, pyramidLevels, 2, 1, true);
    for (auto& block : workBlocks) {
        block = halvora::allocateBlock<float>(kWorkBlockEntries);
        ok = ok && block != nullptr;
    }
    return ok;
}

bool processingProject::reshapeFullSizeStores(int w, int h) {
    bool ok = true;
    for (pyramid* p : {&hdrImage, &resultImage, &lcPlaneFine, &lcPlaneMedium, &lcPlaneCoarse, &maskPlane})
        ok = p->reshape(w, h, pyramidLevels) && ok;
    return ok;
}

bool processingProject::ensurePreviewCapacity() {
    const size_t area = size_t(previewWidth) * size_t(previewHeight);
    if (area <= previewCapacity_) {
        // Smaller previews live in the existing blocks; only the recorded sizes change.
        for (auto& photo : photos) {
            photo->preview.width = previewWidth;
            photo->preview.height = previewHeight;
        }
        previewBuffer.width = previewWidth;
        previewBuffer.height = previewHeight;
        return true;
    }
    bool ok = previewBuffer.allocate(previewWidth, previewHeight);
    overlayPlane = halvora::allocateBlock<uint8_t>(area);
    ok = ok && overlayPlane;
    if (ok) std::fill_n(overlayPlane.get(), area, uint8_t(0));
    for (auto& photo : photos) {
        if (!photo->preview.data) continue; // not loaded yet: the load worker allocates it
        ok = ok && photo->preview.allocate(previewWidth, previewHeight);
        photo->previewPlane = halvora::allocateBlock<uint8_t>(area);
        ok = ok && photo->previewPlane;
    }
    if (ok) previewCapacity_ = area;
    return ok;
}

bool processingProject::transformImage(int mode, const cropRect& rect) {
    debugLog("Transforming image... mode: %d, crop: %d,%d; %d,%d\n", mode, rect.left, rect.top, rect.right,
             rect.bottom);
    const int oldWidth = width, oldHeight = height;
    const int oldPreviewWidth = previewWidth, oldPreviewHeight = previewHeight;
    int newWidth = 0, newHeight = 0;
    if (!halvora::transformedSize(mode, oldWidth, oldHeight, rect, newWidth, newHeight)) {
        debugLog("%s: invalid transform (mode %d, crop %d,%d; %d,%d) for a %d x %d image\n",
                 "processingProject::transformImage", mode, rect.left, rect.top, rect.right, rect.bottom,
                 oldWidth, oldHeight);
        return false;
    }
    const bool radianceInput = !photos.empty() && photos.front()->isRadiance;

    // The full-size stores are transformed at their old size first, then take the new shape.
    if ((radianceInput || hdrPresent) && hdrImage.allocated())
        for (int c = 0; c < 3; ++c)
            halvora::transformFloatChannel(hdrImage.data<float>(), oldWidth, oldHeight, c, mode, rect);
    if (hdrPresent)
        for (pyramid* p : {&lcPlaneFine, &lcPlaneMedium, &lcPlaneCoarse, &maskPlane})
            if (p->allocated())
                halvora::transformPlane16(p->data<uint16_t>(), oldWidth, oldHeight, mode, rect);
    // The overlay is per preview pixel; a crop invalidates it.
    std::vector<uint8_t> overlay;
    if (overlayPlane && mode != halvora::cropToRect) {
        halvora::transformPlane8(overlayPlane.get(), oldPreviewWidth, oldPreviewHeight, mode, rect);
        overlay.assign(overlayPlane.get(), overlayPlane.get() + size_t(oldPreviewWidth) * oldPreviewHeight);
    }

    if (!setImageSize(newWidth, newHeight)) {
        debugLog("%s: Not enough memory!\n", "processingProject::transformImage");
        return false;
    }

    if ((radianceInput || hdrPresent) && hdrImage.allocated()) {
        halvora::downscaleFloat(rgbFloatBuffer(), width, height, previewDivisor, 2.0, previewBuffer.pixels());
        if (radianceInput) {
            photoEntry& first = *photos.front();
            if (first.preview.data) {
                halvora::downscaleFloat(rgbFloatBuffer(), width, height, previewDivisor, 1.0,
                                        first.preview.pixels());
                first.thumbnail = halvora::buildThumbnail(first.preview.pixels(), previewWidth, previewHeight,
                                                          first.meanBrightness);
            }
        }
    }
    halvora::addProgress(1);
    halvora::addProgress(1);

    if (!radianceInput) transformPhotos(mode, rect, oldWidth, oldHeight);

    if (overlayPlane) {
        const size_t area = size_t(previewWidth) * previewHeight;
        if (overlay.size() == area)
            std::copy(overlay.begin(), overlay.end(), overlayPlane.get());
        else
            std::fill_n(overlayPlane.get(), area, uint8_t(0));
    }
    if (hdrPresent || radianceInput) hdrImage.buildLevels();
    if (hdrPresent)
        for (pyramid* p : {&lcPlaneFine, &lcPlaneMedium, &lcPlaneCoarse, &maskPlane})
            p->buildLevels();
    halvora::addProgress(1);
    transformed = true;
    if (mode == halvora::cropToRect) cropped = true;
    return true;
}

void processingProject::transformPhotos(int mode, const cropRect& rect, int oldWidth, int oldHeight) {
    if (photos.empty()) return;
    pyramid buffer; // one level, large enough for the old size (the new one is never larger)
    if (!buffer.init(oldWidth, oldHeight, 1, 2, 3, true)) {
        debugLog("%s: Not enough memory!\n", "processingProject::transformImage");
        return;
    }
    const size_t oldBytes = size_t(oldWidth) * size_t(oldHeight) * 6;
    for (auto& photoPtr : photos) {
        photoEntry& photo = *photoPtr;
        // A transform ends the undo of correction and alignment and invalidates the ghost map.
        for (int slot = 1; slot < photoEntry::slotCount; ++slot)
            photo.tempFiles[size_t(slot)].reset();
        const bool read = readFromTempFile(photo, photoEntry::slotCurrent, buffer.data<uint16_t>(), oldBytes);
        photo.tempFiles[photoEntry::slotCurrent].reset();
        if (read && halvora::transformRgb16(buffer.data<uint16_t>(), oldWidth, oldHeight, mode, rect) &&
            writeToTempFile(photo, photoEntry::slotCurrent, buffer.data<uint16_t>(), photoBytes()) &&
            photo.preview.data) {
            halvora::downscaleRgb16(buffer.data<uint16_t>(), width, height, previewDivisor,
                                    photo.preview.pixels());
            photo.thumbnail = halvora::buildThumbnail(photo.preview.pixels(), previewWidth, previewHeight,
                                                      photo.meanBrightness);
        }
        halvora::addProgress(1);
    }
}

bool processingProject::swapOrientedSize() {
    std::swap(width, height);
    std::swap(hdrWidth, hdrHeight);
    previewDivisor = previewDivisorFor(width, height);
    previewWidth = halvora::downscaledSide(width, previewDivisor);
    previewHeight = halvora::downscaledSide(height, previewDivisor);
    previewZoomLevels = previewZoomLevelsFor(previewWidth, previewHeight);
    pyramidLevels = pyramidLevelsFor(width, height);
    return reshapeFullSizeStores(width, height) && ensurePreviewCapacity();
}

void processingProject::discardPicture() {
    hdrPresent = false;
    lcPlanesValid = false;
    maskPlaneValid = false;
    previewValid = false;
}
