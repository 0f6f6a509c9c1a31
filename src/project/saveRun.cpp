#include "project/saveRun.h"

#include "imageio/saveResultWorker.h"
#include "project/processingProject.h"

saveRun::saveRun(processingProject& project, const runSettings& settings, QObject* parent)
    : projectRun(settings, parent), project_(project) {}

bool saveRun::start(const saveResultRequest& request) {
    if (running())
        return false;
    request_ = request;
    request_.success = false;
    request_.error.clear();
    processingProject* project = &project_;
    auto worker = std::make_shared<saveResultWorker>(request_, project->resultBuffer(), project->width, project->height);
    worker->toneMapEntirePhotoInBands = [project](const saveResultWorker::rowsReady_t& rowsReady) {
        return project->toneMapFullImage(rowsReady);
    };
    const uint64_t total = uint64_t(project->width) * uint64_t(project->height) * 3;
    return projectRun::start(total, [this, worker](QString& error) {
        worker->doSaveResult();
        // Read on the main thread only after the work has ended.
        request_ = worker->request;
        error = worker->request.error;
        return worker->request.success;
    });
}
