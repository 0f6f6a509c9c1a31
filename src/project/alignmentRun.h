#pragma once
// The run that aligns a project's photos on a thread of its own (alignmentWorker): automatic
// alignment with apply, applying given transforms (manual alignment), automatic pins for the manual
// dialog (estimation only), and undo. Main thread; see projectRun.

#include "align/alignTransform.h"
#include "align/findTransform.h"
#include "project/projectRun.h"

#include <memory>
#include <vector>

class alignmentWorker;

class alignmentRun : public projectRun {
    Q_OBJECT
public:
    alignmentRun(processingProject& project, const runSettings& settings, QObject* parent = nullptr);
    ~alignmentRun() override;

    /// Automatic alignment of every photo to photo `reference` (perspective model), then apply with
    /// or without automatic cropping. False when the run was started before.
    bool startAutomatic(int reference, bool cropAutomatically);
    /// Applies `transforms` (one per photo, as `model` uses them) with or without automatic cropping.
    bool startApply(const std::vector<halvora::alignTransform>& transforms, int model,
                    bool cropAutomatically);
    /// Estimation only, for automatic pins: photo `toAlign` (−1: all others) against `reference`;
    /// the pins are read with pins() after finished().
    bool startAutoPins(int reference, int toAlign);
    /// Restores the unaligned photos.
    bool startUndo();

    /// Results of the last estimation, valid after finished(): per photo the best pin set and
    /// whether it was found, and the transforms.
    const std::vector<halvora::alignPinSet>& pins() const;
    const std::vector<bool>& pinsFound() const;
    const std::vector<halvora::alignTransform>& transforms() const;

private:
    processingProject& project_;
    std::unique_ptr<alignmentWorker> worker_;
};
