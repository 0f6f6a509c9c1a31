#include "project/transformRun.h"

#include "project/processingProject.h"
#include "project/transformWorker.h"

transformRun::transformRun(processingProject& project, const runSettings& settings, QObject* parent)
    : projectRun(settings, parent), project_(project) {}

bool transformRun::start(int mode, const halvora::cropRect& rect) {
    auto worker = std::make_shared<transformWorker>(&project_, mode, rect);
    return projectRun::start(uint64_t(project_.photos.size()) + 3, [worker](QString& error) {
        worker->transformImage();
        if (!worker->succeeded()) error = tr("Transforming the image failed.");
        return worker->succeeded();
    });
}
