#include "ui/programOptions.h"

#include "app/programOptionsSettings.h"
#include "base/runContext.h"
#include "ui/styledMessageBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

template <class T> T* named(T* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

} // namespace

programOptions::programOptions(QWidget* parent, int page) : styledDialog(parent) {
    setWindowTitle(tr("Program options"));
    setObjectName("programOptions");
    auto* layout = new QVBoxLayout(contentArea());
    pages_ = named(new QTabWidget(this), "pages");
    // Every page's name stays readable: the dialog is as wide as its tabs, never scrolling them.
    pages_->tabBar()->setUsesScrollButtons(false);
    pages_->tabBar()->setElideMode(Qt::ElideNone);
    layout->addWidget(pages_);
    buildScratchPadPage();
    buildPerformancePage();
    buildExternalEditorPage();
    buildSavingResultPage();
    buildMiscellaneousPage();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("okButton");
    connect(buttons, &QDialogButtonBox::accepted, this, &programOptions::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &programOptions::reject);
    layout->addWidget(buttons);

    loadFromSettings();
    pages_->setCurrentIndex(std::clamp(page, 0, pages_->count() - 1));
}

void programOptions::buildScratchPadPage() {
    auto* page = new QWidget(pages_);
    auto* layout = new QVBoxLayout(page);
    systemTemp_ = named(new QRadioButton(tr("System TEMP directory"), page), "systemTempRadio");
    userDir_ = named(new QRadioButton(tr("User defined directory"), page), "userDirRadio");
    scratchPath_ = named(new QLineEdit(page), "scratchPathEdit");
    auto* browse = new QPushButton(tr("Browse..."), page);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString dir = QFileDialog::getExistingDirectory(
            this, tr("User defined directory"), programOptionsSettings::existingFolder(scratchPath_->text()));
        if (!dir.isEmpty()) {
            scratchPath_->setText(QDir::toNativeSeparators(dir));
            userDir_->setChecked(true);
        }
    });
    freeSpace_ = named(new QLabel(page), "freeSpaceLabel");
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(scratchPath_, 1);
    pathRow->addWidget(browse);
    layout->addWidget(systemTemp_);
    layout->addWidget(userDir_);
    layout->addLayout(pathRow);
    layout->addWidget(freeSpace_);
    layout->addStretch(1);
    connect(systemTemp_, &QRadioButton::toggled, this, &programOptions::updateFreeSpace);
    connect(scratchPath_, &QLineEdit::textChanged, this, &programOptions::updateFreeSpace);
    pages_->addTab(page, tr("Scratch pad memory"));
}

void programOptions::buildPerformancePage() {
    auto* page = new QWidget(pages_);
    auto* form = new QFormLayout(page);
    coreCount_ = named(new QComboBox(page), "coreCountCombo");
    coreCountBatch_ = named(new QComboBox(page), "coreCountBatchCombo");
    for (int i = 1; i <= programOptionsSettings::instance().maxCores; ++i) {
        coreCount_->addItem(QString::number(i));
        coreCountBatch_->addItem(QString::number(i));
    }
    liveAntiAliasing_ = named(new QCheckBox(tr("Live anti-aliasing"), page), "liveAntiAliasingCheck");
    liveToneMapping_ = named(new QCheckBox(tr("Live tone mapping"), page), "liveToneMappingCheck");
    liveWhileZooming_ = named(new QCheckBox(tr("Live tone mapping while zooming and panning"), page),
                              "liveWhileZoomingCheck");
    connect(liveToneMapping_, &QCheckBox::toggled, this, [this](bool on) {
        liveWhileZooming_->setEnabled(on);
        if (!on) liveWhileZooming_->setChecked(false);
    });
    form->addRow(tr("Maximum number of cores to use in normal mode"), coreCount_);
    form->addRow(tr("Maximum number of cores to use in batch mode"), coreCountBatch_);
    form->addRow(liveAntiAliasing_);
    form->addRow(liveToneMapping_);
    form->addRow(liveWhileZooming_);
    pages_->addTab(page, tr("Performance"));
}

void programOptions::buildExternalEditorPage() {
    auto* page = new QWidget(pages_);
    auto* form = new QFormLayout(page);
    eeEnabled_ = named(new QCheckBox(tr("Enabled"), page), "externalEditorEnabledCheck");
    eePath_ = named(new QLineEdit(page), "externalEditorPathEdit");
    eeCompression_ = named(new QComboBox(page), "externalEditorCompressionCombo");
    eeCompression_->addItems({tr("Uncompressed"), tr("Deflate (ZIP)")});
    eeBitDepth_ = named(new QComboBox(page), "externalEditorBitDepthCombo");
    eeBitDepth_->addItems({tr("8 bit"), tr("16 bit")});
    eeTransferExif_ = named(new QCheckBox(tr("Transfer EXIF"), page), "externalEditorTransferExifCheck");
    eeConvertToSrgb_ = named(new QCheckBox(tr("Convert to sRGB"), page), "externalEditorConvertToSrgbCheck");
    eeDpi_ = named(new QSpinBox(page), "externalEditorDpiSpin");
    eeDpi_->setRange(1, 10000);
    form->addRow(eeEnabled_);
    form->addRow(tr("Path to executable"), eePath_);
    form->addRow(tr("Compression"), eeCompression_);
    form->addRow(tr("Bit depth"), eeBitDepth_);
    form->addRow(eeTransferExif_);
    form->addRow(eeConvertToSrgb_);
    form->addRow(tr("Dpi:"), eeDpi_);
    pages_->addTab(page, tr("External editor"));
}

void programOptions::buildSavingResultPage() {
    auto* page = new QWidget(pages_);
    auto* form = new QFormLayout(page);
    suffix_ = named(new QLineEdit(page), "suffixEdit");
    suffixBatch_ = named(new QLineEdit(page), "suffixBatchEdit");
    saveToSourceDir_ = named(new QCheckBox(tr("Default destination directory is the source directory"), page),
                             "saveToSourceDirCheck");
    form->addRow(tr("Output file name suffix"), suffix_);
    form->addRow(tr("Output file name suffix (batch)"), suffixBatch_);
    form->addRow(saveToSourceDir_);
    pages_->addTab(page, tr("Saving result"));
}

void programOptions::buildMiscellaneousPage() {
    auto* page = new QWidget(pages_);
    auto* layout = new QVBoxLayout(page);
    showFileOpen_ =
        named(new QCheckBox(tr("Automatically show file open dialog when starting new project"), page),
              "showFileOpenCheck");
    resetColorAdjustment_ = named(new QCheckBox(tr("Reset color adjustment settings for new project"), page),
                                  "resetColorAdjustmentCheck");
    autoLdr_ =
        named(new QCheckBox(tr("Apply LDR enhancement automatically when only one photo is loaded"), page),
              "autoLdrCheck");
    layout->addWidget(showFileOpen_);
    layout->addWidget(resetColorAdjustment_);
    layout->addWidget(autoLdr_);
    layout->addStretch(1);
    pages_->addTab(page, tr("Miscellaneous"));
}

void programOptions::loadFromSettings() {
    programOptionsSettings& o = programOptionsSettings::instance();
    o.read(false);
    systemTemp_->setChecked(o.scratchStandard);
    userDir_->setChecked(!o.scratchStandard);
    scratchPath_->setText(QDir::toNativeSeparators(o.scratchPath));
    coreCount_->setCurrentIndex(o.coreCount - 1);
    coreCountBatch_->setCurrentIndex(o.coreCountBatch - 1);
    liveAntiAliasing_->setChecked(o.liveAntiAliasing);
    liveToneMapping_->setChecked(o.liveToneMapping);
    liveWhileZooming_->setChecked(o.liveToneMapping && o.liveToneMappingWhileZooming);
    liveWhileZooming_->setEnabled(o.liveToneMapping);
    eeEnabled_->setChecked(o.externalEditorEnabled);
    eePath_->setText(o.externalEditorPath);
    eeCompression_->setCurrentIndex(std::clamp(o.externalEditorCompression, 0, eeCompression_->count() - 1));
    eeBitDepth_->setCurrentIndex(o.externalEditorBitDepth - 1);
    eeTransferExif_->setChecked(o.externalEditorTransferExif);
    eeConvertToSrgb_->setChecked(o.externalEditorConvertToSrgb);
    eeDpi_->setValue(o.externalEditorDpi);
    suffix_->setText(o.savingSuffix);
    suffixBatch_->setText(o.savingSuffixBatch);
    saveToSourceDir_->setChecked(o.saveToSourceDirByDefault);
    showFileOpen_->setChecked(o.newProjectShowFileOpen);
    resetColorAdjustment_->setChecked(o.newProjectResetColorAdjustment);
    autoLdr_->setChecked(o.newProjectAutoLDR);
    updateFreeSpace();
}

QString programOptions::chosenDirectory() const {
    return systemTemp_->isChecked() ? QDir::tempPath()
                                    : QDir::fromNativeSeparators(scratchPath_->text().trimmed());
}

QString programOptions::freeSpaceText(double megabytes) {
    const QString label = tr("Free space");
    if (megabytes >= 1024.0) return label + ": " + QString::number(megabytes / 1024.0, 'f', 1) + " GB";
    if (megabytes >= 0) return label + QStringLiteral(": %1").arg(qint64(megabytes)) + " MB";
    return label + ": " + tr("unknown");
}

void programOptions::updateFreeSpace() {
    const QString dir = chosenDirectory();
    const bool known = systemTemp_->isChecked() || QFileInfo(dir).isDir();
    freeSpace_->setText(freeSpaceText(known ? programOptionsSettings::freeDiskSpaceMB(dir) : -1.0));
}

void programOptions::accept() {
    programOptionsSettings& o = programOptionsSettings::instance();
    const QString dir = chosenDirectory();
    if (!systemTemp_->isChecked() && !QFileInfo(dir).isDir()) {
        styledMessageBox::show(this, styledMessageBox::warning,
                               tr("Directory does not exist. Switched to standard temp directory."));
        systemTemp_->setChecked(true);
        pages_->setCurrentIndex(pageScratchPad);
        return;
    }
    const double freeMB = programOptionsSettings::freeDiskSpaceMB(dir);
    if (freeMB < 1024.0)
        styledMessageBox::show(
            this, styledMessageBox::warning,
            tr("There is little free disk space for temporary data ('%1': %2 MB). Please consider "
               "selecting a different location.")
                .arg(QDir::toNativeSeparators(dir), QString::number(freeMB, 'f', 0)));
    if (eeEnabled_->isChecked() && !QFileInfo(eePath_->text()).isFile()) {
        styledMessageBox::show(this, styledMessageBox::warning,
                               tr("File does not exist. External editor is disabled."));
        eeEnabled_->setChecked(false);
        pages_->setCurrentIndex(pageExternalEditor);
        return;
    }
    if (QDir::cleanPath(dir) != QDir::cleanPath(o.tempDirInEffect))
        styledMessageBox::show(
            this, styledMessageBox::information,
            tr("The temporary directory change will be applied after the program is restarted. "
               "Please close the application and run it again."));

    o.scratchStandard = systemTemp_->isChecked();
    o.scratchPath = o.scratchStandard ? QString() : dir;
    o.coreCount = coreCount_->currentIndex() + 1;
    o.coreCountBatch = coreCountBatch_->currentIndex() + 1;
    o.liveAntiAliasing = liveAntiAliasing_->isChecked();
    o.liveToneMapping = liveToneMapping_->isChecked();
    o.liveToneMappingWhileZooming = liveWhileZooming_->isChecked();
    o.externalEditorEnabled = eeEnabled_->isChecked();
    o.externalEditorPath = eePath_->text();
    o.externalEditorCompression = eeCompression_->currentIndex();
    o.externalEditorBitDepth = eeBitDepth_->currentIndex() + 1;
    o.externalEditorTransferExif = eeTransferExif_->isChecked();
    o.externalEditorConvertToSrgb = eeConvertToSrgb_->isChecked();
    o.externalEditorDpi = eeDpi_->value();
    o.savingSuffix = suffix_->text();
    o.savingSuffixBatch = suffixBatch_->text();
    o.saveToSourceDirByDefault = saveToSourceDir_->isChecked();
    o.newProjectShowFileOpen = showFileOpen_->isChecked();
    o.newProjectResetColorAdjustment = resetColorAdjustment_->isChecked();
    o.newProjectAutoLDR = autoLdr_->isChecked();
    o.write();
    // Runs started from now on use the new core count; runs already going keep theirs.
    halvora::setDefaultThreadCount(o.coreCount);
    QDialog::accept();
}
