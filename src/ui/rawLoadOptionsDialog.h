#pragma once
// The "Load RAW image" dialog: shown on the main thread when a camera RAW file is prepared
// interactively. It edits the core record rawLoadOptions (white balance, noise filtering, output colour
// space, highlight recovery, half size, the same settings for the rest of a bracket) and shows the
// file's embedded preview, or on "Preview" a quick half-size decode with the current choices. A click
// on the preview picks the grey area for "Manual" (the multipliers; on a four-colour sensor measured on
// the sensor itself) or "DCRAW automatic (selection)".
// Unattended runs never show it.

#include "imageio/rawConverter.h"
#include "imageio/rawLoadOptions.h"
#include "ui/styledDialog.h"

#include <QImage>
#include <array>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QSpinBox;
class programOptionsSettings;

class rawLoadOptionsDialog : public styledDialog {
    Q_OBJECT
public:
    /// Side of the grey square "DCRAW automatic (selection)" measures, in full-size pixels.
    static constexpr int kSelectionSize = 64;

    /// Builds the dialog for `fileName` (its information `info`) with the controls set from `initial`.
    rawLoadOptionsDialog(const QString& fileName, const rawInfo_t& info, const rawLoadOptions& initial,
                         QWidget* parent = nullptr);

    /// The record the controls show now.
    rawLoadOptions options() const;

    /// Picks the grey area at `point` of the picture shown (its own pixels): "Manual" takes the
    /// multipliers that make it grey, "DCRAW automatic (selection)" centres the selection there.
    void pickAt(const QPoint& point);
    /// Decodes the quick preview with the current choices and shows it; false (logged) when it fails.
    bool renderPreview();
    /// The picture shown (the embedded preview or the quick decode), as stored.
    const QImage& shownPicture() const { return picture_; }

    QComboBox* whiteBalanceList() const { return whiteBalance_; }
    QDoubleSpinBox* multiplierBox(int i) const { return multipliers_[size_t(i)]; }
    QCheckBox* fourColorsBox() const { return fourColors_; }
    QGroupBox* noiseGroup() const { return noise_; }
    QDoubleSpinBox* waveletBox() const { return wavelet_; }
    QSpinBox* medianBox() const { return median_; }
    QComboBox* colorSpaceList() const { return colorSpace_; }
    QCheckBox* recoverHighlightsBox() const { return recover_; }
    QCheckBox* halfSizeBox() const { return halfSize_; }
    QCheckBox* sameForRemainingBox() const { return same_; }
    QCheckBox* zoomBox() const { return zoom_; }
    QPushButton* previewButton() const { return preview_; }
    QPushButton* loadButton() const { return load_; }
    QPushButton* cancelButton() const { return cancel_; }

    /// Shows the dialog modally, starting from `options` (the stored LoadRAW options for the first
    /// file). On "Load" the choice is stored as the LoadRAW options of `settings` and returned in
    /// `options`; false when cancelled.
    static bool ask(QWidget* parent, programOptionsSettings& settings, const QString& fileName,
                    const rawInfo_t& info, rawLoadOptions& options);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showPicture();
    void whiteBalanceChanged();
    /// "Manual" on a four-colour sensor: the multipliers from the picked area's sensor values.
    void pickOnSensor(const QPoint& point);

    QString fileName_;
    rawInfo_t info_;
    rawLoadOptions initial_;
    QImage picture_;
    bool pictureDecoded_ = false; ///< picture_ is the quick decode (turned), not the embedded preview
    bool hasSelection_ = false;
    int selectionX_ = 0, selectionY_ = 0;

    QComboBox* whiteBalance_ = nullptr;
    std::array<QDoubleSpinBox*, 4> multipliers_{};
    QCheckBox* fourColors_ = nullptr;
    QGroupBox* noise_ = nullptr;
    QDoubleSpinBox* wavelet_ = nullptr;
    QSpinBox* median_ = nullptr;
    QComboBox* colorSpace_ = nullptr;
    QCheckBox* recover_ = nullptr;
    QCheckBox* halfSize_ = nullptr;
    QCheckBox* same_ = nullptr;
    QCheckBox* zoom_ = nullptr;
    QLabel* pictureLabel_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QLabel* pickLabel_ = nullptr;
    QPushButton* preview_ = nullptr;
    QPushButton* load_ = nullptr;
    QPushButton* cancel_ = nullptr;
};
