#pragma once
// The "Program options" dialog: edits the directly configured part of programOptionsSettings on five
// pages and writes all options when accepted.

#include "ui/styledDialog.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QTabWidget;

class programOptions : public styledDialog {
    Q_OBJECT
public:
    enum page {
        pageScratchPad = 0,
        pagePerformance,
        pageExternalEditor,
        pageSavingResult,
        pageMiscellaneous
    };

    programOptions(QWidget* parent, int page);

    /// Text of the free-space label for `megabytes` (negative: unknown).
    static QString freeSpaceText(double megabytes);

public slots:
    void accept() override;

private:
    void buildScratchPadPage();
    void buildPerformancePage();
    void buildExternalEditorPage();
    void buildSavingResultPage();
    void buildMiscellaneousPage();
    void loadFromSettings();
    void updateFreeSpace();
    QString chosenDirectory() const;

    QTabWidget* pages_;
    QRadioButton* systemTemp_;
    QRadioButton* userDir_;
    QLineEdit* scratchPath_;
    QLabel* freeSpace_;
    QComboBox* coreCount_;
    QComboBox* coreCountBatch_;
    QCheckBox* liveAntiAliasing_;
    QCheckBox* liveToneMapping_;
    QCheckBox* liveWhileZooming_;
    QCheckBox* eeEnabled_;
    QLineEdit* eePath_;
    QComboBox* eeCompression_;
    QComboBox* eeBitDepth_;
    QCheckBox* eeTransferExif_;
    QCheckBox* eeConvertToSrgb_;
    QSpinBox* eeDpi_;
    QLineEdit* suffix_;
    QLineEdit* suffixBatch_;
    QCheckBox* saveToSourceDir_;
    QCheckBox* showFileOpen_;
    QCheckBox* resetColorAdjustment_;
    QCheckBox* autoLdr_;
};
