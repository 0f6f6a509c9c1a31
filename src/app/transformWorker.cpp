#include "app/transformWorker.h"

#include "app/processingProject.h"

void transformWorker::transformImage() {
    ok_ = project_ && project_->transformImage(mode_, rect_);
    emit finished();
}
