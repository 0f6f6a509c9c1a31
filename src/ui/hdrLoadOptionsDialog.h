#pragma once
// The HDR load options dialog: shown on the main thread when a radiance file (RGBE, OpenEXR) is opened
// interactively; the user picks the output colour space, then loads or cancels. The choice lives in
// the core record hdrLoadOptions; unattended runs never show this dialog.

#include "imageio/hdrLoadOptions.h"

#include "ui/styledDialog.h"

class QComboBox;
class programOptionsSettings;
class QPushButton;

class hdrLoadOptionsDialog : public styledDialog {
    Q_OBJECT
public:
    /// Builds the dialog with the list set to `initial.colorSpace`; other fields are carried through.
    explicit hdrLoadOptionsDialog(const hdrLoadOptions& initial, QWidget* parent = nullptr);

    /// The record with the colour space currently selected.
    hdrLoadOptions options() const;
    QComboBox* colorSpaceList() const { return colorSpace_; }
    QPushButton* loadButton() const { return load_; }
    QPushButton* cancelButton() const { return cancel_; }

    /// Shows the dialog modally, starting from the stored options. On "Load" the choice is stored as
    /// the LoadHDR options of `settings` and returned in `options`; false when cancelled.
    static bool ask(QWidget* parent, programOptionsSettings& settings, hdrLoadOptions& options);

private:
    hdrLoadOptions initial_;
    QComboBox* colorSpace_ = nullptr;
    QPushButton* load_ = nullptr;
    QPushButton* cancel_ = nullptr;
};
