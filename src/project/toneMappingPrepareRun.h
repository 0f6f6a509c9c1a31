#pragma once
// The run that prepares a new radiance picture for tone mapping: the mask plane and the three
// local-contrast planes with their pyramids (toneMappingPreprocessWorker), with the run's panorama
// option. Main thread; see projectRun.

#include "project/projectRun.h"

struct toneMappingSettings_t;

class toneMappingPrepareRun : public projectRun {
    Q_OBJECT
public:
    toneMappingPrepareRun(processingProject& project, const runSettings& settings, QObject* parent = nullptr);
    /// Starts the passes the project does not yet mark valid. With `fixedLook` (a run whose look
    /// cannot change before its tone mapping), only the planes that look reads. False when the run is
    /// busy.
    bool start(const toneMappingSettings_t* fixedLook = nullptr);

private:
    processingProject& project_;
};
