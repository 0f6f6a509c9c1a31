#pragma once
// "Manual alignment": the user pins corresponding points on the base photo and on each other photo;
// the pins give each photo's transform ("Shift" pin 1, "Shift & rotation" pins 1 and 2, "Shift,
// rotation & perspective" all four), which is applied like an automatic alignment, with or without
// cropping. The estimator of automatic alignment can place the pins (for the shown pair or for all
// pairs). Three views: the base photo and the photo to align with their pins, and the preview of the
// pair ("Average", "Difference", "Result") drawn from the photos' previews.
//
// Main thread only. Estimation and apply run on an alignmentRun of the dialog's own (progress bar and
// "Break" in the dialog); the project must not change while the dialog is open. After a successful
// apply the dialog accepts and photosChanged() has been emitted. With colour management on, the views
// draw through the project's monitor conversion, as the main workspace does.

#include "align/manualPins.h"
#include "base/rgbBuffers.h"
#include "project/projectRun.h"

#include "ui/styledDialog.h"
#include <QTimer>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class alignmentRun;
class manualAlignmentWorkspace;
class processingProject;
class zoomWidget;

class manualAlignment : public styledDialog {
    Q_OBJECT
public:
    /// A dialog on `project` (which must outlive it); its runs take `settings`.
    manualAlignment(processingProject* project, const runSettings& settings, QWidget* parent = nullptr);
    ~manualAlignment() override;

    /// False when the previews could not be prepared ("Not enough memory!" was reported).
    bool ready() const { return ready_; }
    int basePhoto() const { return pins_.base(); }
    int photoToAlign() const { return toAlign_; }
    /// The transform model of the chosen method (0, 1 or 3).
    int model() const;
    const halvora::manualPinSet& pinSet() const { return pins_; }
    /// The transform of the shown pair from its pins; false with the reason when they give none.
    bool currentTransform(halvora::alignTransform& t, QString* error) const;
    /// The run in progress (automatic pins or apply), or null.
    projectRun* activeRun() const;
    /// Shutdown: stops a run still in progress and waits for it, without reporting it.
    void stopRun();

    QComboBox* baseBox() const { return baseBox_; }
    QComboBox* toAlignBox() const { return toAlignBox_; }
    QComboBox* methodBox() const { return method_; }
    QComboBox* previewBox() const { return previewMode_; }
    QComboBox* centerAtBox() const { return centerAt_; }
    QCheckBox* autoCropBox() const { return autoCrop_; }
    QLabel* scoreLabel() const { return score_; }
    manualAlignmentWorkspace* baseView() const { return baseView_; }
    manualAlignmentWorkspace* photoView() const { return photoView_; }
    manualAlignmentWorkspace* previewView() const { return previewView_; }
    QPushButton* applyButton() const { return apply_; }
    QPushButton* autoPinsButton() const { return autoPins_; }
    QPushButton* autoPinsAllButton() const { return autoPinsAll_; }
    QPushButton* resetButton() const { return reset_; }
    QPushButton* resetAllButton() const { return resetAll_; }
    QPushButton* breakButton() const { return break_; }
    /// "Zoom (base and photo to align)": drives both pinned views.
    zoomWidget* pairZoom() const { return pairZoom_; }

signals:
    /// The photos were replaced by their aligned versions.
    void photosChanged();

public slots:
    /// Pin `pin` moved: 0 … 3 on the base photo, 4 … 7 on the photo to align.
    void pinMoved(int pin, QPointF position);
    void baseSelectionChanged();
    void toAlignSelectionChanged();
    void previewModeChange();
    /// "Center at": both pinned views scroll to the chosen pin of their side.
    void centerToggled();
    void methodChanged(int index);
    void autoCropChanged();
    /// Automatic pins for the shown pair (`allPairs` false) or every pair.
    void doAutoAlign(bool allPairs);
    void autoPinsFinished(bool ok, const QString& error);
    void doApplyAlignment();
    void doAlignmentFinished(bool ok, const QString& error);
    /// The progress bar follows the run.
    void incProgressSlot(int percent);
    void resetPairSlot();
    void resetAllSlot();

protected:
    void reject() override;

private:
    void buildUi();
    /// The three views take the project's working → monitor conversion (none while colour management
    /// is off or not set up). Done once when the dialog opens: while it is open it blocks the main
    /// window (window-modal), so the colour settings cannot change under it.
    void refreshColor();
    void fillPhotoBoxes();
    /// Pins, score and preview of the shown pair.
    void showPair();
    void updateScoreAndPreview();
    bool startRun(const std::function<bool(alignmentRun&)>& start,
                  void (manualAlignment::*done)(bool, const QString&));
    void endRun();
    void setBusy(bool busy);

    processingProject* project_;
    runSettings settings_;
    halvora::manualPinSet pins_;
    int toAlign_ = -1;
    bool ready_ = false;
    bool autoPinsForAll_ = false;
    std::unique_ptr<alignmentRun> run_;
    QTimer progressTimer_;
    halvora::rgb16Buffer preview_;

    QComboBox* baseBox_ = nullptr;
    QComboBox* toAlignBox_ = nullptr;
    QComboBox* method_ = nullptr;
    QComboBox* previewMode_ = nullptr;
    QComboBox* centerAt_ = nullptr;
    QCheckBox* autoCrop_ = nullptr;
    QLabel* score_ = nullptr;
    QLabel* status_ = nullptr;
    manualAlignmentWorkspace* baseView_ = nullptr;
    manualAlignmentWorkspace* photoView_ = nullptr;
    manualAlignmentWorkspace* previewView_ = nullptr;
    zoomWidget* pairZoom_ = nullptr;
    zoomWidget* previewZoom_ = nullptr;
    QPushButton* autoPins_ = nullptr;
    QPushButton* autoPinsAll_ = nullptr;
    QPushButton* reset_ = nullptr;
    QPushButton* resetAll_ = nullptr;
    QPushButton* apply_ = nullptr;
    QPushButton* close_ = nullptr;
    QPushButton* break_ = nullptr;
    QProgressBar* progress_ = nullptr;
};
