#pragma once
// The result options dialog: JPEG page ("Quality", "Dpi:", "Transfer EXIF", "Convert to sRGB") and
// TIFF page ("Compression", "Bit depth", "Dpi:", "Transfer EXIF", "Convert to sRGB"), chosen with
// "Save as JPEG" / "Save as TIFF". Main thread only; the choice is the core record saveResultOptions_t.

#include "imageio/saveResultOptions.h"

#include "ui/styledDialog.h"

class QCheckBox;
class programOptionsSettings;
class QComboBox;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QStackedWidget;

class saveResult : public styledDialog {
    Q_OBJECT
public:
    /// Builds the dialog with its controls set from `initial` (normalised first).
    explicit saveResult(const saveResultOptions_t& initial, QWidget* parent = nullptr);

    /// The options the controls show now.
    saveResultOptions_t options() const;
    /// True when the dialog was closed with "Save and open in external editor".
    bool openInExternalEditor() const { return openInEditor_; }

    QRadioButton* jpegChoice() const { return asJpeg_; }
    QRadioButton* tiffChoice() const { return asTiff_; }
    QSlider* qualitySlider() const { return quality_; }
    QPushButton* qualityResetButton() const { return qualityReset_; }
    QComboBox* compressionList() const { return compression_; }
    QComboBox* bitDepthList() const { return bitDepth_; }
    QSpinBox* dpiBox(int format) const { return format == 1 ? tiffDpi_ : jpegDpi_; }
    QPushButton* saveButton() const { return save_; }
    QPushButton* editorButton() const { return editor_; }
    QPushButton* cancelButton() const { return cancel_; }

    /// Shows the dialog modally from the stored SavingResult options; on "Save" or "Save and open in
    /// external editor" stores the choice back into `settings` and fills `request` (its file name is
    /// kept). False when cancelled.
    static bool ask(QWidget* parent, programOptionsSettings& settings, saveResultRequest& request);

private:
    QRadioButton* asJpeg_ = nullptr;
    QRadioButton* asTiff_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QSlider* quality_ = nullptr;
    QPushButton* qualityReset_ = nullptr;
    QSpinBox* jpegDpi_ = nullptr;
    QSpinBox* tiffDpi_ = nullptr;
    QCheckBox* jpegExif_ = nullptr;
    QCheckBox* jpegSrgb_ = nullptr;
    QCheckBox* tiffExif_ = nullptr;
    QCheckBox* tiffSrgb_ = nullptr;
    QComboBox* compression_ = nullptr;
    QComboBox* bitDepth_ = nullptr;
    QPushButton* editor_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* cancel_ = nullptr;
    bool openInEditor_ = false;
};
