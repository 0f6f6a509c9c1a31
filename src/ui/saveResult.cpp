// The result options dialog: two option pages over the core save-options record.

#include "ui/saveResult.h"
#include "app/storedOptions.h"

#include "app/programOptionsSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

QSpinBox* makeDpiBox(QWidget* parent, int value) {
    auto* box = new QSpinBox(parent);
    box->setRange(saveResultOptions_t::minDpi, saveResultOptions_t::maxDpi);
    box->setValue(value);
    return box;
}

} // namespace

saveResult::saveResult(const saveResultOptions_t& initial, QWidget* parent) : styledDialog(parent) {
    saveResultOptions_t o = initial;
    o.normalize();
    setWindowTitle(tr("Save result"));
    setObjectName("saveResult");

    asJpeg_ = new QRadioButton(tr("Save as JPEG"), this);
    asTiff_ = new QRadioButton(tr("Save as TIFF"), this);
    auto* choice = new QHBoxLayout;
    choice->addWidget(asJpeg_);
    choice->addWidget(asTiff_);
    choice->addStretch(1);

    pages_ = new QStackedWidget(this);
    // JPEG page
    auto* jpegPage = new QWidget(pages_);
    quality_ = new QSlider(Qt::Horizontal, jpegPage);
    quality_->setRange(saveResultOptions_t::minJpegQuality, saveResultOptions_t::maxJpegQuality);
    quality_->setSingleStep(1);
    quality_->setValue(o.jpegQuality);
    auto* qualityValue = new QLabel(QString::number(o.jpegQuality), jpegPage);
    qualityReset_ = new QPushButton(tr("Reset"), jpegPage);
    auto* qualityRow = new QHBoxLayout;
    qualityRow->addWidget(quality_, 1);
    qualityRow->addWidget(qualityValue);
    qualityRow->addWidget(qualityReset_);
    jpegDpi_ = makeDpiBox(jpegPage, o.dpi);
    jpegExif_ = new QCheckBox(tr("Transfer EXIF"), jpegPage);
    jpegExif_->setChecked(o.transferExif);
    jpegSrgb_ = new QCheckBox(tr("Convert to sRGB"), jpegPage);
    jpegSrgb_->setChecked(o.convertToSrgb);
    auto* jpegForm = new QFormLayout(jpegPage);
    jpegForm->addRow(tr("Quality"), qualityRow);
    jpegForm->addRow(tr("Dpi:"), jpegDpi_);
    jpegForm->addRow(jpegExif_);
    jpegForm->addRow(jpegSrgb_);
    pages_->addWidget(jpegPage);
    connect(quality_, &QSlider::valueChanged, qualityValue,
            [qualityValue](int v) { qualityValue->setText(QString::number(v)); });
    connect(qualityReset_, &QPushButton::clicked, quality_,
            [this] { quality_->setValue(saveResultOptions_t::maxJpegQuality); });

    // TIFF page
    auto* tiffPage = new QWidget(pages_);
    compression_ = new QComboBox(tiffPage);
    compression_->addItems({tr("Uncompressed"), tr("Deflate (ZIP)")});
    compression_->setCurrentIndex(o.tiffCompression);
    bitDepth_ = new QComboBox(tiffPage);
    bitDepth_->addItems({tr("8 bit"), tr("16 bit")});
    bitDepth_->setCurrentIndex(o.tiffBitDepth - 1);
    tiffDpi_ = makeDpiBox(tiffPage, o.dpi);
    tiffExif_ = new QCheckBox(tr("Transfer EXIF"), tiffPage);
    tiffExif_->setChecked(o.transferExif);
    tiffSrgb_ = new QCheckBox(tr("Convert to sRGB"), tiffPage);
    tiffSrgb_->setChecked(o.convertToSrgb);
    auto* tiffForm = new QFormLayout(tiffPage);
    tiffForm->addRow(tr("Compression"), compression_);
    tiffForm->addRow(tr("Bit depth"), bitDepth_);
    tiffForm->addRow(tr("Dpi:"), tiffDpi_);
    tiffForm->addRow(tiffExif_);
    tiffForm->addRow(tiffSrgb_);
    pages_->addWidget(tiffPage);

    const bool tiff = o.format == saveResultOptions_t::formatTiff;
    (tiff ? asTiff_ : asJpeg_)->setChecked(true);
    pages_->setCurrentIndex(tiff ? 1 : 0);
    connect(asTiff_, &QRadioButton::toggled, pages_,
            [this](bool on) { pages_->setCurrentIndex(on ? 1 : 0); });

    editor_ = new QPushButton(tr("Save and open in external editor"), this);
    save_ = new QPushButton(tr("Save"), this);
    save_->setDefault(true);
    cancel_ = new QPushButton(tr("Cancel"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(editor_);
    buttons->addStretch(1);
    buttons->addWidget(save_);
    buttons->addWidget(cancel_);
    connect(save_, &QPushButton::clicked, this, [this] {
        openInEditor_ = false;
        accept();
    });
    connect(editor_, &QPushButton::clicked, this, [this] {
        openInEditor_ = true;
        accept();
    });
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(contentArea());
    layout->addLayout(choice);
    layout->addWidget(pages_);
    layout->addLayout(buttons);
}

saveResultOptions_t saveResult::options() const {
    saveResultOptions_t o;
    const bool tiff = asTiff_->isChecked();
    o.format = tiff ? saveResultOptions_t::formatTiff : saveResultOptions_t::formatJpeg;
    o.jpegQuality = quality_->value();
    o.tiffCompression = compression_->currentIndex();
    o.tiffBitDepth = bitDepth_->currentIndex() + 1;
    // The shared fields come from the page that was chosen.
    o.dpi = tiff ? tiffDpi_->value() : jpegDpi_->value();
    o.transferExif = tiff ? tiffExif_->isChecked() : jpegExif_->isChecked();
    o.convertToSrgb = tiff ? tiffSrgb_->isChecked() : jpegSrgb_->isChecked();
    o.normalize();
    return o;
}

bool saveResult::ask(QWidget* parent, programOptionsSettings& settings, saveResultRequest& request) {
    saveResult dialog(halvora::saveResultOptionsFromSettings(settings), parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    request.options = dialog.options();
    request.openInExternalEditor = dialog.openInExternalEditor();
    halvora::storeSaveResultOptions(request.options, settings);
    return true;
}
