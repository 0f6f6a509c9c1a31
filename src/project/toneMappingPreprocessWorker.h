#pragma once
// Prepares a radiance picture for tone mapping: the mask plane and the three local-contrast planes
// of the processing project, each with its pyramid levels. The planes depend only on the picture and
// the panorama option, so this runs once per picture, before any tone mapping.
//
// Created on the main thread, moved to a thread of its own; doIt() runs there and ends with
// finished(). The project must not change until then.

#include <QObject>
#include <cstdint>

class processingProject;

/// What the preparation needs besides the project, filled in by whoever creates the worker.
struct toneMappingPrepareOptions_t {
    bool panoramaMode = false; ///< Processing/PanoramaMode: the picture wraps around left/right
};

class toneMappingPreprocessWorker : public QObject {
    Q_OBJECT
public:
    toneMappingPreprocessWorker(processingProject* project, const toneMappingPrepareOptions_t& options,
                                QObject* parent = nullptr);

    /// Progress units of the passes the project does not yet mark valid: width + height for the mask,
    /// 3 × width for the local-contrast planes (main thread, before starting the worker).
    static uint64_t progressTotal(const processingProject& project);
    /// True when every pass ran to its end (not cancelled, the project was usable).
    bool succeeded() const { return ok_; }

public slots:
    /// Computes the mask plane and the local-contrast planes, each unless the project marks it valid
    /// (side by side when the run has two threads or more); each finished pass sets its mark. Emits
    /// finished() in every case.
    void doIt();

signals:
    void finished();

private:
    bool run();
    bool prepareMaskPlane();
    bool prepareLocalContrast();

    processingProject* project_;
    toneMappingPrepareOptions_t options_;
    bool ok_ = false;
};
