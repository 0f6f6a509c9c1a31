#pragma once
// The run that saves the result: the whole picture tone-mapped at full size into the project's result
// buffer, then written as JPEG or TIFF by saveResultWorker. Main thread; see projectRun.

#include "imageio/saveResultOptions.h"
#include "project/projectRun.h"

class saveRun : public projectRun {
    Q_OBJECT
public:
    saveRun(processingProject& project, const runSettings& settings, QObject* parent = nullptr);
    /// Starts saving with `request` (its file name and options). False when the run is busy.
    bool start(const saveResultRequest& request);
    /// The request with success and error filled in, once finished() was emitted.
    const saveResultRequest& request() const { return request_; }

private:
    processingProject& project_;
    saveResultRequest request_;
};
