#pragma once
// The project's side of alignment: feeds the photos' temporary files to the alignment kernels
// (src/align/autoAlign.h), stores the aligned pixels as the photos' new current files, keeps each
// photo's first unaligned file for undo, rebuilds the previews and thumbnails, and takes the undo
// back. The kernels own the pixel work; this class owns every change to the project.
//
// Created on the main thread (which also sets the fields); autoAlign(), apply() and undo() run on the
// alignment run's thread with its context bound (progress, cancel, thread count). The project must
// not change meanwhile. An apply that fails leaves every photo and the project's size as they were.

#include "align/autoAlign.h"

#include <QObject>
#include <QString>
#include <vector>

class processingProject;

class alignmentWorker : public QObject {
    Q_OBJECT
public:
    /// A worker on `project` (borrowed) with the reference `midId`, every other photo to align,
    /// the perspective model, automatic cropping and identity transforms. Main thread.
    explicit alignmentWorker(processingProject* project, QObject* parent = nullptr);

    int reference = 0;                               ///< photo index everything is aligned to
    int toAlign = -1;                                ///< the one photo to align, −1 for all others
    int alignmentModel = halvora::alignPerspective;  ///< how much of each transform apply uses
    bool cropAutomatically = true;                   ///< cut all photos to their common area
    std::vector<halvora::alignTransform> transforms; ///< one per photo
    std::vector<halvora::alignPinSet> pins;          ///< best pin set per photo (automatic pins)
    std::vector<bool> pinsFound;

    /// Progress units of autoAlign() (the photos read and the searches).
    uint64_t autoAlignProgressUnits() const;
    /// Estimates `transforms` (and the pins) from the photos' current files. False with the reason
    /// in *error; false with *error untouched when cancelled. Worker thread.
    bool autoAlign(QString* error);
    /// Resamples every photo by its transform, crops as chosen and makes the results the photos'
    /// current files; the project takes the crop's size and is marked aligned. Logs "- align:
    /// apply...\n". False (nothing changed) with the reason in *error. Worker thread.
    bool apply(QString* error);

    /// True when some photo still holds its unaligned copy.
    static bool canUndo(const processingProject& project);
    /// Restores every photo's unaligned copy and the size it had; logs "Undoing alignment...\n".
    /// False with the reason in *error when there is nothing to undo or a preview cannot be rebuilt.
    /// Worker thread (reads every photo once for its preview).
    static bool undo(processingProject& project, QString* error);

private:
    processingProject* project_;
};
