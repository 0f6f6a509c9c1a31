#include "project/alignmentWorker.h"

#include "base/debugLog.h"
#include "base/failure.h"
#include "base/runContext.h"
#include "imageio/imageTransform.h"
#include "project/processingProject.h"
#include "project/responseRecovery.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <memory>

using namespace halvora;

namespace {

std::vector<QString> photoNames(const processingProject& project) {
    std::vector<QString> names;
    for (const auto& photo : project.photos)
        names.push_back(QFileInfo(photo->fileName).fileName());
    return names;
}

// Reads photo `index`'s current file into `buffer` (kept between calls, so one block serves all).
const rgb16Buffer* readCurrent(processingProject& project, int index, rgb16Buffer& buffer, QString* error) {
    const char* const who = "alignmentWorker::readPhoto";
    if (index < 0 || size_t(index) >= project.photos.size())
        return fail(error, who, QString(), QString("there is no photo %1").arg(index)), nullptr;
    photoEntry& photo = *project.photos[size_t(index)];
    if ((buffer.width != project.width || buffer.height != project.height) &&
        !buffer.allocate(project.width, project.height))
        return fail(error, who, photo.fileName, "not enough memory for the full-size picture"), nullptr;
    if (!project.readFromTempFile(photo, photoEntry::slotCurrent, buffer.pixels(), buffer.byteSize()))
        return fail(error, who, photo.fileName, "its working copy in the session folder cannot be read"),
               nullptr;
    return &buffer;
}

// The preview of a w × h picture at the divisor the project will use for that size.
bool makePreview(const rgb16Buffer& picture, rgb16Buffer& preview) {
    const int k = processingProject::previewDivisorFor(picture.width, picture.height);
    if (!preview.allocate(downscaledSide(picture.width, k), downscaledSide(picture.height, k))) return false;
    downscaleRgb16(picture.pixels(), picture.width, picture.height, k, preview.pixels());
    return true;
}

// Copies the previews made beforehand into the photos (the project has its new size now) and
// rebuilds the thumbnails.
void installPreviews(processingProject& project, const std::vector<rgb16Buffer>& previews) {
    for (size_t i = 0; i < project.photos.size(); ++i) {
        photoEntry& photo = *project.photos[i];
        const rgb16Buffer& p = previews[i];
        if (!photo.preview.data || p.width != project.previewWidth || p.height != project.previewHeight)
            continue;
        photo.preview.width = p.width;
        photo.preview.height = p.height;
        std::memcpy(photo.preview.pixels(), p.pixels(), p.byteSize());
        photo.thumbnail = buildThumbnail(photo.preview.pixels(), p.width, p.height, photo.meanBrightness);
    }
}

// Gives the project a new size; on failure it keeps (or gets back) the old one.
bool resizeProject(processingProject& project, int w, int h, QString* error) {
    if (w == project.width && h == project.height) return true;
    const int oldW = project.width, oldH = project.height;
    if (project.setImageSize(w, h)) return true;
    project.setImageSize(oldW, oldH);
    return fail(error, "alignmentWorker::apply", QString(),
                QString("not enough memory for pictures of %1 × %2 pixels").arg(w).arg(h));
}

} // namespace

alignmentWorker::alignmentWorker(processingProject* project, QObject* parent)
    : QObject(parent), project_(project) {
    if (!project_) return;
    ensureStandardCurve(*project_);
    ensureClosenessTables(*project_);
    reference = project_->midId;
    transforms.assign(project_->photos.size(), alignTransform::identity());
}

namespace {

autoAlignRequest requestFor(processingProject& project, int reference, int toAlign) {
    autoAlignRequest r;
    r.width = project.width;
    r.height = project.height;
    r.reference = reference;
    r.toAlign = toAlign;
    for (const auto& photo : project.photos)
        r.lnExposure.push_back(photo->lnExposure);
    r.lnEvMin = project.lnEvMin;
    r.lnEvMax = project.lnEvMax;
    r.standardCurve = project.standardCurve.data();
    r.closenessBright = project.closenessTableBright.data();
    r.closenessDark = project.closenessTableDark.data();
    r.names = photoNames(project);
    return r;
}

} // namespace

uint64_t alignmentWorker::autoAlignProgressUnits() const {
    return project_ ? halvora::autoAlignProgressUnits(requestFor(*project_, reference, toAlign)) : 1;
}

bool alignmentWorker::autoAlign(QString* error) {
    const char* const who = "alignmentWorker::autoAlign";
    if (!project_ || project_->photos.empty())
        return fail(error, who, QString(), "there are no photos to align");
    if (reference < 0 || size_t(reference) >= project_->photos.size())
        return fail(error, who, QString(), QString("the reference photo %1 does not exist").arg(reference));
    autoAlignRequest request = requestFor(*project_, reference, toAlign);
    rgb16Buffer buffer;
    request.readPhoto = [this, &buffer](int i, QString* e) { return readCurrent(*project_, i, buffer, e); };
    autoAlignResult result;
    const bool ok = halvora::autoAlign(request, result, error);
    transforms = result.transforms;
    pins = result.pins;
    pinsFound = result.pinsFound;
    return ok;
}

bool alignmentWorker::apply(QString* error) {
    const char* const who = "alignmentWorker::apply";
    if (!project_ || project_->photos.empty())
        return fail(error, who, QString(), "there are no photos to align");
    processingProject& project = *project_;
    const size_t n = project.photos.size();
    if (transforms.size() != n) transforms.resize(n, alignTransform::identity());

    applyAlignmentRequest request;
    request.width = project.width;
    request.height = project.height;
    request.transforms = transforms;
    request.model = alignmentModel;
    request.autoCrop = cropAutomatically;
    request.names = photoNames(project);
    rgb16Buffer buffer;
    request.readPhoto = [&project, &buffer](int i, QString* e) { return readCurrent(project, i, buffer, e); };

    // The aligned pictures wait in files of their own until every photo has succeeded: a failure
    // half-way leaves the project exactly as it was.
    std::vector<std::unique_ptr<tempFileRecord>> staged(n);
    std::vector<rgb16Buffer> previews(n);
    request.writePhoto = [&](int i, rgb16Buffer& aligned, QString* e) {
        auto record = std::make_unique<tempFileRecord>(project.sessionDir);
        if (!record->isOpen())
            return fail(e, who, project.sessionDir, "cannot create a file: " + record->errorString());
        if (!record->write(aligned.pixels(), aligned.byteSize(), "processingProject::writeToTempFile"))
            return fail(e, who, record->fileName(),
                        "the aligned photo cannot be written: " + record->errorString());
        if (!makePreview(aligned, previews[size_t(i)]))
            return fail(e, who, QString(), "not enough memory for a preview");
        staged[size_t(i)] = std::move(record);
        return true;
    };

    alignCropRect crop;
    if (!applyAlignmentCrop(request, crop, error)) return false;
    runContext::current().startProgress(applyAlignmentProgressUnits(request, crop));
    if (!applyAlignment(request, crop, error)) return false;

    const bool firstAlignment = !canUndo(project);
    const int unalignedW = project.width, unalignedH = project.height;
    if (!resizeProject(project, crop.width(), crop.height(), error)) return false;
    if (firstAlignment) {
        project.unalignedWidth = unalignedW;
        project.unalignedHeight = unalignedH;
    }
    for (size_t i = 0; i < n; ++i) {
        auto& files = project.photos[i]->tempFiles;
        // The first alignment keeps the photo's file for undo; a later one replaces its own result.
        if (!files[photoEntry::slotBeforeAlign])
            files[photoEntry::slotBeforeAlign] = std::move(files[photoEntry::slotCurrent]);
        files[photoEntry::slotCurrent] = std::move(staged[i]);
        files[photoEntry::slotGhostMap].reset(); // drawn on the unaligned photos
    }
    installPreviews(project, previews);
    project.aligned = true;
    return true;
}

bool alignmentWorker::canUndo(const processingProject& project) {
    if (project.photos.empty()) return false;
    for (const auto& photo : project.photos)
        if (!photo->tempFiles[photoEntry::slotBeforeAlign]) return false;
    return true;
}

bool alignmentWorker::undo(processingProject& project, QString* error) {
    const char* const who = "alignmentWorker::undo";
    if (!canUndo(project)) return fail(error, who, QString(), "the photos hold no unaligned copies");
    debugLog("Undoing alignment...\n");
    const int w = project.unalignedWidth, h = project.unalignedHeight;
    const size_t bytes = size_t(w) * size_t(h) * 6;
    for (const auto& photo : project.photos)
        if (size_t(photo->tempFiles[photoEntry::slotBeforeAlign]->size()) != bytes)
            return fail(error, who, photo->fileName, "its unaligned copy does not hold a whole picture");
    if (!resizeProject(project, w, h, error)) return false;
    runContext::current().startProgress(uint64_t(project.photos.size()) * uint64_t(h));
    for (auto& photo : project.photos) {
        auto& files = photo->tempFiles;
        files[photoEntry::slotCurrent] = std::move(files[photoEntry::slotBeforeAlign]);
        files[photoEntry::slotGhostMap].reset();
    }
    project.aligned = false;
    // The previews follow the restored pictures.
    rgb16Buffer buffer;
    std::vector<rgb16Buffer> previews(project.photos.size());
    for (size_t i = 0; i < project.photos.size(); ++i) {
        if (!readCurrent(project, int(i), buffer, error)) return false;
        if (!makePreview(buffer, previews[i]))
            return fail(error, who, QString(), "not enough memory for a preview");
        addProgress(uint64_t(h));
    }
    installPreviews(project, previews);
    return true;
}
