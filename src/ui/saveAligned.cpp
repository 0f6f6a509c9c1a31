#include "ui/saveAligned.h"

#include "app/programOptionsSettings.h"
#include "app/storedOptions.h"
#include "imageio/saveResultOptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

saveAligned::saveAligned(const saveAlignedOptions_t& initial, QWidget* parent) : styledDialog(parent) {
    setObjectName("saveAligned");
    setWindowTitle(tr("Save aligned photos"));

    usePrefix_ = new QCheckBox(tr("Prefix"), this);
    usePrefix_->setObjectName("usePrefix");
    prefix_ = new QLineEdit(initial.prefix, this);
    prefix_->setObjectName("prefix");
    usePrefix_->setChecked(!initial.prefix.isEmpty());
    useSuffix_ = new QCheckBox(tr("Suffix"), this);
    useSuffix_->setObjectName("useSuffix");
    suffix_ = new QLineEdit(initial.suffix, this);
    suffix_->setObjectName("suffix");
    useSuffix_->setChecked(!initial.suffix.isEmpty());

    folder_ = new QLineEdit(QDir::toNativeSeparators(initial.folder), this);
    folder_->setObjectName("folder");
    auto* browse = new QToolButton(this);
    browse->setText(QStringLiteral("..."));
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folder_, 1);
    folderRow->addWidget(browse);

    format_ = new QComboBox(this);
    format_->setObjectName("format");
    format_->addItems({tr("JPEG"), tr("TIFF")});
    format_->setCurrentIndex(initial.format == 1 ? 1 : 0);

    pages_ = new QStackedWidget(this);
    auto* jpegPage = new QWidget(pages_);
    quality_ = new QSlider(Qt::Horizontal, jpegPage);
    quality_->setObjectName("quality");
    quality_->setRange(saveResultOptions_t::minJpegQuality, saveResultOptions_t::maxJpegQuality);
    quality_->setValue(std::clamp(initial.jpegQuality, saveResultOptions_t::minJpegQuality,
                                  saveResultOptions_t::maxJpegQuality));
    auto* qualityValue = new QLabel(QString::number(quality_->value()), jpegPage);
    auto* jpegLayout = new QFormLayout(jpegPage);
    auto* qualityRow = new QHBoxLayout;
    qualityRow->addWidget(quality_, 1);
    qualityRow->addWidget(qualityValue);
    jpegLayout->addRow(tr("Quality"), qualityRow);
    auto* tiffPage = new QWidget(pages_);
    bitDepth_ = new QComboBox(tiffPage);
    bitDepth_->setObjectName("bitDepth");
    bitDepth_->addItems({tr("8 bit"), tr("16 bit")});
    bitDepth_->setCurrentIndex(initial.tiffBitDepth == 2 ? 1 : 0);
    compression_ = new QComboBox(tiffPage);
    compression_->setObjectName("compression");
    compression_->addItems({tr("Uncompressed"), tr("Deflate (ZIP)")});
    compression_->setCurrentIndex(initial.tiffCompression == 1 ? 1 : 0);
    auto* tiffLayout = new QFormLayout(tiffPage);
    tiffLayout->addRow(tr("Bit depth"), bitDepth_);
    tiffLayout->addRow(tr("Compression"), compression_);
    pages_->addWidget(jpegPage);
    pages_->addWidget(tiffPage);
    pages_->setCurrentIndex(format_->currentIndex());

    dpi_ = new QSpinBox(this);
    dpi_->setObjectName("dpi");
    dpi_->setRange(saveResultOptions_t::minDpi, saveResultOptions_t::maxDpi);
    dpi_->setValue(std::clamp(initial.dpi, saveResultOptions_t::minDpi, saveResultOptions_t::maxDpi));

    auto* form = new QFormLayout;
    form->addRow(usePrefix_, prefix_);
    form->addRow(useSuffix_, suffix_);
    form->addRow(tr("Save to"), folderRow);
    form->addRow(tr("Save as"), format_);
    form->addRow(pages_);
    form->addRow(tr("Dpi:"), dpi_);

    save_ = new QPushButton(tr("Save"), this);
    save_->setObjectName("save");
    save_->setDefault(true);
    cancel_ = new QPushButton(tr("Cancel"), this);
    cancel_->setObjectName("cancel");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(save_);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(contentArea());
    layout->addLayout(form);
    layout->addLayout(buttons);

    prefix_->setEnabled(usePrefix_->isChecked());
    suffix_->setEnabled(useSuffix_->isChecked());
    connect(usePrefix_, &QCheckBox::toggled, prefix_, &QLineEdit::setEnabled);
    connect(useSuffix_, &QCheckBox::toggled, suffix_, &QLineEdit::setEnabled);
    connect(quality_, &QSlider::valueChanged, qualityValue,
            [qualityValue](int v) { qualityValue->setNum(v); });
    connect(format_, &QComboBox::currentIndexChanged, pages_, &QStackedWidget::setCurrentIndex);
    connect(folder_, &QLineEdit::textChanged, this, &saveAligned::updateSave);
    connect(browse, &QToolButton::clicked, this, &saveAligned::browse);
    connect(save_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    updateSave();
}

saveAlignedOptions_t saveAligned::options() const {
    saveAlignedOptions_t o;
    o.prefix = usePrefix_->isChecked() ? prefix_->text() : QString();
    o.suffix = useSuffix_->isChecked() ? suffix_->text() : QString();
    o.folder = QDir::fromNativeSeparators(folder_->text().trimmed());
    o.format = format_->currentIndex();
    o.jpegQuality = quality_->value();
    o.tiffBitDepth = bitDepth_->currentIndex() + 1;
    o.tiffCompression = compression_->currentIndex();
    o.dpi = dpi_->value();
    return o;
}

void saveAligned::updateSave() {
    // Files go only into a folder that exists: nothing is created behind the user's back.
    const QString folder = folder_->text().trimmed();
    save_->setEnabled(!folder.isEmpty() && QFileInfo(folder).isDir());
}

void saveAligned::browse() {
    const QString folder = QFileDialog::getExistingDirectory(this, tr("Save to"), folder_->text());
    if (!folder.isEmpty()) folder_->setText(QDir::toNativeSeparators(folder));
}

saveAlignedOptions_t saveAligned::initialOptions(const programOptionsSettings& settings,
                                                 const QString& folder) {
    const saveResultOptions_t result = halvora::saveResultOptionsFromSettings(settings);
    saveAlignedOptions_t o;
    const QString text =
        settings.alignmentPrefixSuffix.isEmpty() ? QStringLiteral("aligned") : settings.alignmentPrefixSuffix;
    (settings.alignmentPrefix ? o.prefix : o.suffix) = settings.alignmentPrefix ? text + "_" : "_" + text;
    o.folder = folder;
    o.format = settings.alignmentFormat == 1 ? 1 : 0;
    o.jpegQuality = result.jpegQuality;
    o.tiffBitDepth = result.tiffBitDepth;
    o.tiffCompression = result.tiffCompression;
    o.dpi = result.dpi;
    return o;
}

bool saveAligned::ask(QWidget* parent, programOptionsSettings& settings, const QString& folder,
                      saveAlignedOptions_t& options) {
    saveAligned dialog(initialOptions(settings, folder), parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    options = dialog.options();
    // One text is remembered: the prefix when only it is used, else the suffix (joining "_" dropped).
    const bool prefixOnly = !options.prefix.isEmpty() && options.suffix.isEmpty();
    QString text = prefixOnly ? options.prefix : options.suffix;
    while (text.endsWith('_') && prefixOnly)
        text.chop(1);
    while (text.startsWith('_') && !prefixOnly)
        text.remove(0, 1);
    if (!text.isEmpty()) {
        settings.alignmentPrefix = prefixOnly;
        settings.alignmentPrefixSuffix = text;
    }
    settings.alignmentFormat = options.format;
    return true;
}
