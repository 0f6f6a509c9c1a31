#include "project/toneMappingPrepareRun.h"

#include "project/processingProject.h"
#include "project/toneMappingPreprocessWorker.h"

toneMappingPrepareRun::toneMappingPrepareRun(processingProject& project, const runSettings& settings,
                                             QObject* parent)
    : projectRun(settings, parent), project_(project) {}

bool toneMappingPrepareRun::start(const toneMappingSettings_t* fixedLook) {
    toneMappingPrepareOptions_t options;
    options.panoramaMode = settings().panoramaMode;
    if (fixedLook) options.onlyPlanesReadBy(*fixedLook);
    auto worker = std::make_shared<toneMappingPreprocessWorker>(&project_, options);
    return projectRun::start(toneMappingPreprocessWorker::progressTotal(project_, options),
                             [worker](QString& error) {
                                 worker->doIt();
                                 if (!worker->succeeded())
                                     error = tr("Preparing the picture for tone mapping failed.");
                                 return worker->succeeded();
                             });
}
