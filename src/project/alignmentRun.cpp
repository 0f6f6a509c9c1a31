#include "project/alignmentRun.h"

#include "base/runContext.h"
#include "project/alignmentWorker.h"
#include "project/processingProject.h"

alignmentRun::alignmentRun(processingProject& project, const runSettings& settings, QObject* parent)
    : projectRun(settings, parent), project_(project), worker_(std::make_unique<alignmentWorker>(&project)) {}

// The worker is used by the thread until it has stopped.
alignmentRun::~alignmentRun() {
    stopNow();
}

bool alignmentRun::startAutomatic(int reference, bool cropAutomatically) {
    worker_->reference = reference;
    worker_->toAlign = -1;
    worker_->alignmentModel = halvora::alignPerspective;
    worker_->cropAutomatically = cropAutomatically;
    project_.discardPicture(); // the picture was merged from the photos as they were
    alignmentWorker* w = worker_.get();
    return start(w->autoAlignProgressUnits(),
                 [w](QString& error) { return w->autoAlign(&error) && w->apply(&error); });
}

bool alignmentRun::startApply(const std::vector<halvora::alignTransform>& transforms, int model,
                              bool cropAutomatically) {
    worker_->transforms = transforms;
    worker_->alignmentModel = model;
    worker_->cropAutomatically = cropAutomatically;
    project_.discardPicture();
    alignmentWorker* w = worker_.get();
    return start(uint64_t(project_.photos.size()) * uint64_t(std::max(project_.height, 1)),
                 [w](QString& error) { return w->apply(&error); });
}

bool alignmentRun::startAutoPins(int reference, int toAlign) {
    worker_->reference = reference;
    worker_->toAlign = toAlign;
    alignmentWorker* w = worker_.get();
    return start(w->autoAlignProgressUnits(), [w](QString& error) { return w->autoAlign(&error); });
}

bool alignmentRun::startUndo() {
    project_.discardPicture();
    processingProject* p = &project_;
    return start(uint64_t(project_.photos.size()) * uint64_t(std::max(project_.unalignedHeight, 1)),
                 [p](QString& error) { return alignmentWorker::undo(*p, &error); });
}

const std::vector<halvora::alignPinSet>& alignmentRun::pins() const {
    return worker_->pins;
}
const std::vector<bool>& alignmentRun::pinsFound() const {
    return worker_->pinsFound;
}
const std::vector<halvora::alignTransform>& alignmentRun::transforms() const {
    return worker_->transforms;
}
