#pragma once
// The HDR dialog: the generation options of one run (method, selectivity, Smart Merge strength,
// noise filtering, saving the HDR file) and the button that runs the generation stages
// (generationRun) on the current project. One photo is enhanced instead ("LDR enhancement"), with
// the noise options only. The "Alignment" group chooses automatic alignment before the merge and
// undoes an alignment (alignmentRun) and opens the manual alignment (manualAlignment); chromatic
// aberration correction and ghost removal are shown but not available yet. On success the options are
// remembered (interactive runs) and the dialog accepts; a failed or broken run leaves it open for another
// try. Main thread only.

#include "hdr/genHDR_options.h"
#include "project/projectRun.h"

#include "ui/styledDialog.h"
#include <QPointer>
#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;
class QToolButton;
class alignmentRun;
class generationRun;
class manualAlignment;
class processingProject;

class generateHDR : public styledDialog {
    Q_OBJECT
public:
    /// A dialog for `project` (which must outlive it), its controls set from the stored options.
    /// `hidden`: an unattended run — reports become log lines and the options are not remembered.
    /// `settings`: what its runs take from the program options.
    generateHDR(processingProject* project, bool hidden, const runSettings& settings = runSettings(),
                QWidget* parent = nullptr);
    ~generateHDR() override;

    /// True for one photo: the run is an LDR enhancement.
    bool ldrEnhancement() const { return ldr_; }
    /// Sets every control from `options` (normalised; the LDR flag stays the dialog's own).
    void setOptions(const genHDR_options& options);
    /// The options the controls show now.
    genHDR_options options() const;
    /// The run in progress (a generation or an alignment undo), or null.
    projectRun* activeRun() const;
    /// Shutdown: stops a run still in progress and waits for it, without reporting it.
    void stopRun();
    /// The HDR file check made when the dialog opens and before each run: with "Save output HDR to
    /// file" checked and a path whose folder does not exist, the box is unchecked and a warning
    /// reported. False when the box had to be unchecked.
    bool checkHdrPath();

    QPushButton* runButton() const { return runButton_; }
    QPushButton* cancelButton() const { return cancel_; }
    QComboBox* methodBox() const { return method_; }
    QComboBox* selectivityBox() const { return selectivity_; }
    QSlider* smartMergeSlider() const { return smartMergeStrength_; }
    QGroupBox* noiseGroup() const { return denoise_; }
    QSpinBox* noiseStrengthBox() const { return noiseStrength_; }
    QSpinBox* noiseSoftnessBox() const { return noiseSoftness_; }
    QCheckBox* ghostRemovalBox() const { return ghostRemoval_; }
    QCheckBox* saveHdrBox() const { return saveHdr_; }
    QLineEdit* hdrPathEdit() const { return hdrPath_; }
    QCheckBox* autoAlignBox() const { return autoAlign_; }
    QPushButton* alignUndoButton() const { return alignUndo_; }
    QPushButton* manualAlignButton() const { return manualAlign_; }

signals:
    void startProgress(uint64_t total);
    void finishProgress();
    /// A line for the main window's log panel (kind as generationRun::reportKind).
    void logLine(int kind, QString text);
    /// A run is about to start (true; activeRun() is set) or has ended (false).
    void runActive(bool active);
    /// Alignment (before the merge, or its undo) has replaced the photos: thumbnails and previews are new.
    void photosChanged();

public slots:
    /// Starts the generation stages with the options shown.
    void generateHDRslot();
    /// The same for one photo.
    void enhanceLDRslot();
    /// The run has ended: on success remember the options and accept, otherwise report and stay.
    void generateHDRfinished(bool ok, const QString& error);
    void methodChanged(int method);
    void selectivityChanged();
    void deghostToggled();
    void saveHDRtoggled();
    /// "Undo" of the "Alignment" group: asks, then restores the unaligned photos.
    void doAlignUndoSlot();
    /// "Manual" of the "Alignment" group: opens the manual alignment (after an undo when the photos
    /// are aligned already and the user wants that).
    void doManualAlignSlot();

protected:
    void reject() override;

private:
    /// Releases the finished or stopped run and gives the dialog back to the user.
    void endRun();
    void alignUndoFinished(bool ok, const QString& error);
    void startAlignUndo();
    void openManualAlignment();
    /// "Undo" is offered while the photos hold unaligned copies.
    void updateAlignUndo();
    void buildUi();
    void startRun();
    void report(int kind, const QString& text);
    void browseHdrPath();

    processingProject* project_;
    bool hidden_;
    runSettings settings_;
    bool ldr_;
    genHDR_options shown_; ///< fields the controls do not edit (ghost mode, repair, alignment choice)
    std::unique_ptr<generationRun> run_;
    std::unique_ptr<alignmentRun> undoRun_;
    bool cursorSet_ = false;

    QCheckBox* autoAlign_ = nullptr;
    QPushButton* alignUndo_ = nullptr;
    QPushButton* manualAlign_ = nullptr;
    QPointer<manualAlignment> manualDialog_;
    bool manualAfterUndo_ = false; ///< the undo was asked for on the way to the manual alignment
    QComboBox* method_ = nullptr;
    QWidget* trueHdrSelectivity_ = nullptr;
    QComboBox* selectivity_ = nullptr;
    QLabel* selectivityHint_ = nullptr;
    QGroupBox* smartMergeOptions_ = nullptr;
    QSlider* smartMergeStrength_ = nullptr;
    QLabel* smartMergeValue_ = nullptr;
    QGroupBox* denoise_ = nullptr;
    QSpinBox* noiseStrength_ = nullptr;
    QSpinBox* noiseSoftness_ = nullptr;
    QCheckBox* ghostRemoval_ = nullptr;
    QCheckBox* saveHdr_ = nullptr;
    QLineEdit* hdrPath_ = nullptr;
    QToolButton* browse_ = nullptr;
    QPushButton* runButton_ = nullptr;
    QPushButton* cancel_ = nullptr;
};
