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
struct toneMappingSettings_t;

/// What the preparation needs besides the project, filled in by whoever creates the worker.
struct toneMappingPrepareOptions_t {
    bool panoramaMode = false; ///< Processing/PanoramaMode: the picture wraps around left/right
    /// Planes to make. An interactive session makes them all, since any slider may move; a run whose
    /// look is fixed before the planes are made (the automatic run) makes only those its tone mapping
    /// reads, which gives the same picture for less work.
    bool maskPlane = true;
    bool localContrast = true;
    bool lcMedium = true;
    bool lcCoarse = true;

    /// The planes the tone mapping with `look` reads, and nothing else.
    void onlyPlanesReadBy(const toneMappingSettings_t& look);
};

class toneMappingPreprocessWorker : public QObject {
    Q_OBJECT
public:
    toneMappingPreprocessWorker(processingProject* project, const toneMappingPrepareOptions_t& options,
                                QObject* parent = nullptr);

    /// Progress units of the passes the project does not yet mark valid: width + height for the mask,
    /// width for each local-contrast plane (main thread, before starting the worker).
    static uint64_t progressTotal(const processingProject& project,
                                  const toneMappingPrepareOptions_t& options);
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
