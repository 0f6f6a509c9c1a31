#include "project/transformWorker.h"

#include "project/processingProject.h"

void transformWorker::transformImage() {
    ok_ = project_ && project_->transformImage(mode_, rect_);
    emit finished();
}
