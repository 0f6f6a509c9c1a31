#pragma once
// Runs the project's image transform (turn, mirror, crop) on a thread of its own. The main window
// disables the controls that could change the project while it runs.

#include "imageio/imageTransform.h"

#include <QObject>

class processingProject;

class transformWorker : public QObject {
    Q_OBJECT
public:
    transformWorker(processingProject* project, int mode, const halvora::cropRect& rect)
        : project_(project), mode_(mode), rect_(rect) {}
    bool succeeded() const { return ok_; }

public slots:
    /// Called on the worker's thread; emits finished() at the end.
    void transformImage();

signals:
    void finished();

private:
    processingProject* project_;
    int mode_;
    halvora::cropRect rect_;
    bool ok_ = false;
};
