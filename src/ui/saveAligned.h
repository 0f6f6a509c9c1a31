#pragma once
// The "Save aligned photos" dialog: "Prefix" and "Suffix" (each with a check box; unchecked means
// empty), "Save to" (a folder that must exist), "Save as" ("JPEG", "TIFF") with the JPEG quality or
// the TIFF bit depth and compression, and the dpi. The choice is the core record
// saveAlignedOptions_t. Main thread only.

#include "project/saveAlignedWorker.h"

#include "ui/styledDialog.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;
class QStackedWidget;
class programOptionsSettings;

class saveAligned : public styledDialog {
    Q_OBJECT
public:
    /// The dialog with `initial` shown; a prefix or suffix that is empty starts unchecked.
    explicit saveAligned(const saveAlignedOptions_t& initial, QWidget* parent = nullptr);

    /// The options the controls show now (an unchecked prefix or suffix is empty).
    saveAlignedOptions_t options() const;

    QCheckBox* prefixBox() const { return usePrefix_; }
    QLineEdit* prefixEdit() const { return prefix_; }
    QCheckBox* suffixBox() const { return useSuffix_; }
    QLineEdit* suffixEdit() const { return suffix_; }
    QLineEdit* folderEdit() const { return folder_; }
    QComboBox* formatList() const { return format_; }
    QSlider* qualitySlider() const { return quality_; }
    QComboBox* bitDepthList() const { return bitDepth_; }
    QComboBox* compressionList() const { return compression_; }
    QSpinBox* dpiBox() const { return dpi_; }
    QPushButton* saveButton() const { return save_; }

    /// The options from the stored choices (alignment prefix or suffix and format, the result's JPEG
    /// and TIFF options) with `folder` as "Save to".
    static saveAlignedOptions_t initialOptions(const programOptionsSettings& settings, const QString& folder);
    /// Shows the dialog modally; on "Save" stores the prefix or suffix and the format in `settings` and
    /// fills `options`. False when cancelled.
    static bool ask(QWidget* parent, programOptionsSettings& settings, const QString& folder,
                    saveAlignedOptions_t& options);

private:
    void updateSave();
    void browse();

    QCheckBox* usePrefix_ = nullptr;
    QLineEdit* prefix_ = nullptr;
    QCheckBox* useSuffix_ = nullptr;
    QLineEdit* suffix_ = nullptr;
    QLineEdit* folder_ = nullptr;
    QComboBox* format_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QSlider* quality_ = nullptr;
    QComboBox* bitDepth_ = nullptr;
    QComboBox* compression_ = nullptr;
    QSpinBox* dpi_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* cancel_ = nullptr;
};
