#pragma once
// The run that turns, mirrors or crops the whole project (transformWorker): the radiance picture,
// its planes and every photo's temporary file. Main thread; see projectRun.

#include "imageio/imageTransform.h"
#include "project/projectRun.h"

class transformRun : public projectRun {
    Q_OBJECT
public:
    transformRun(processingProject& project, const runSettings& settings, QObject* parent = nullptr);
    /// Starts the transform `mode` (halvora::transformMode; crop uses `rect`). False when the run is busy.
    bool start(int mode, const halvora::cropRect& rect);

private:
    processingProject& project_;
};
