#include "ui/rawLoadOptionsDialog.h"

#include "app/programOptionsSettings.h"
#include "app/storedOptions.h"
#include "base/debugLog.h"
#include "imageio/rawWhiteBalance.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Largest side of the picture when it is fitted into the preview area.
constexpr int kFittedSide = 560;
// Half side of the area whose mean colour a click picks, in picture pixels.
constexpr int kPickRadius = 2;

QDoubleSpinBox* makeMultiplierBox(QWidget* parent, double value) {
    auto* box = new QDoubleSpinBox(parent);
    box->setRange(0.01, 100.0);
    box->setDecimals(4);
    box->setSingleStep(0.01);
    box->setValue(value);
    return box;
}

} // namespace

rawLoadOptionsDialog::rawLoadOptionsDialog(const QString& fileName, const rawInfo_t& info,
                                           const rawLoadOptions& initial, QWidget* parent)
    : styledDialog(parent), fileName_(fileName), info_(info), initial_(initial) {
    setWindowTitle(tr("Load RAW image"));
    setObjectName("rawLoadOptions");
    hasSelection_ = initial.hasSelection;
    selectionX_ = initial.selectionX;
    selectionY_ = initial.selectionY;

    // The manual multipliers start from the camera's own, relative to its green one.
    std::array<double, 4> start{initial.multipliers[0], initial.multipliers[1], initial.multipliers[2],
                                initial.multipliers[3]};
    const double* cam = info.cameraMultipliers;
    if (initial.whiteBalance != rawLoadOptions::manual && cam[1] > 0 && cam[0] > 0 && cam[2] > 0)
        // A four-colour sensor's fourth channel is a colour of its own, not a second green.
        start = {cam[0] / cam[1], 1.0, cam[2] / cam[1],
                 info.colors == 4 && cam[3] > 0 ? cam[3] / cam[1] : 1.0};

    // ---- white balance
    auto* balance = new QGroupBox(tr("White balance"), this);
    whiteBalance_ = new QComboBox(balance);
    whiteBalance_->addItems({tr("As shot"), tr("Manual"), tr("DCRAW automatic (whole image)"),
                             tr("DCRAW automatic (selection)")});
    whiteBalance_->setCurrentIndex(std::clamp(initial.whiteBalance, 0, 3));
    auto* multiplierRow = new QHBoxLayout;
    for (size_t i = 0; i < multipliers_.size(); ++i) {
        multipliers_[i] = makeMultiplierBox(balance, start[i]);
        multiplierRow->addWidget(multipliers_[i]);
    }
    pickLabel_ = new QLabel(balance);
    pickLabel_->setObjectName("pickLabel");
    pickLabel_->setWordWrap(true);
    fourColors_ = new QCheckBox(tr("Interpolate RGGB as 4 colors"), balance);
    fourColors_->setChecked(initial.fourColors);
    auto* balanceLayout = new QVBoxLayout(balance);
    balanceLayout->addWidget(whiteBalance_);
    balanceLayout->addLayout(multiplierRow);
    balanceLayout->addWidget(pickLabel_);
    balanceLayout->addWidget(fourColors_);

    // ---- noise filtering
    noise_ = new QGroupBox(tr("Noise filtering"), this);
    noise_->setCheckable(true);
    noise_->setChecked(initial.noiseFilter);
    wavelet_ = new QDoubleSpinBox(noise_);
    wavelet_->setRange(0.0, 100.0);
    wavelet_->setDecimals(1);
    wavelet_->setValue(initial.waveletThreshold);
    median_ = new QSpinBox(noise_);
    median_->setRange(0, 10);
    median_->setValue(initial.medianPasses);
    auto* noiseLayout = new QFormLayout(noise_);
    noiseLayout->addRow(tr("Wavelet denoising"), wavelet_);
    noiseLayout->addRow(tr("Median filter"), median_);

    // ---- output colour space
    auto* space = new QGroupBox(tr("Output color space"), this);
    colorSpace_ = new QComboBox(space);
    colorSpace_->addItems({tr("sRGB"), tr("AdobeRGB"), tr("WideGamut"), tr("ProPhoto")});
    colorSpace_->setCurrentIndex(std::clamp(initial.colorSpace, 0, 3));
    colorSpace_->setEnabled(initial.colorSpaceEnabled);
    auto* spaceLayout = new QFormLayout(space);
    spaceLayout->addRow(tr("Convert to"), colorSpace_);

    // ---- other options
    auto* other = new QGroupBox(tr("Other options"), this);
    recover_ = new QCheckBox(tr("Recover highlights"), other);
    recover_->setChecked(initial.recoverHighlights);
    halfSize_ = new QCheckBox(tr("Half size"), other);
    halfSize_->setChecked(initial.halfSize);
    auto* halfNote = new QLabel(tr("Recommended only for single RAW photo enhancement"), other);
    halfNote->setWordWrap(true);
    auto* otherLayout = new QVBoxLayout(other);
    otherLayout->addWidget(recover_);
    otherLayout->addWidget(halfSize_);
    otherLayout->addWidget(halfNote);

    same_ = new QCheckBox(
        tr("Use the same settings for the remaining RAW images in the currently loaded sequence"), this);
    same_->setChecked(initial.sameForRemaining);

    // ---- preview
    pictureLabel_ = new QLabel;
    pictureLabel_->setObjectName("rawPreview");
    pictureLabel_->setAlignment(Qt::AlignCenter);
    pictureLabel_->installEventFilter(this);
    scroll_ = new QScrollArea(this);
    scroll_->setWidget(pictureLabel_);
    scroll_->setAlignment(Qt::AlignCenter);
    scroll_->setMinimumSize(kFittedSide + 4, kFittedSide * 2 / 3 + 4);
    preview_ = new QPushButton(tr("Preview"), this);
    zoom_ = new QCheckBox(tr("Zoom"), this);
    auto* previewRow = new QHBoxLayout;
    previewRow->addWidget(preview_);
    previewRow->addWidget(zoom_);
    previewRow->addStretch(1);
    auto* left = new QVBoxLayout;
    left->addWidget(scroll_, 1);
    left->addLayout(previewRow);

    auto* right = new QVBoxLayout;
    right->addWidget(balance);
    right->addWidget(noise_);
    right->addWidget(space);
    right->addWidget(other);
    right->addStretch(1);

    load_ = new QPushButton(tr("Load"), this);
    load_->setDefault(true);
    cancel_ = new QPushButton(tr("Cancel"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(same_, 1);
    buttons->addWidget(load_);
    buttons->addWidget(cancel_);

    auto* columns = new QHBoxLayout;
    columns->addLayout(left, 1);
    columns->addLayout(right);
    auto* layout = new QVBoxLayout(contentArea());
    layout->addLayout(columns, 1);
    layout->addLayout(buttons);

    connect(whiteBalance_, &QComboBox::currentIndexChanged, this, &rawLoadOptionsDialog::whiteBalanceChanged);
    connect(zoom_, &QCheckBox::toggled, this, &rawLoadOptionsDialog::showPicture);
    connect(preview_, &QPushButton::clicked, this, [this] {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        renderPreview();
        QApplication::restoreOverrideCursor();
    });
    connect(load_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    whiteBalanceChanged();

    QString error;
    if (!halvora::getThumbFromRAW_DCRAW(fileName_, picture_, &error))
        debugLog("%s: No thumbnail in RAW: %s\n", "rawLoadOptionsDialog", error.toLocal8Bit().constData());
    showPicture();
}

rawLoadOptions rawLoadOptionsDialog::options() const {
    rawLoadOptions o = initial_;
    o.whiteBalance = whiteBalance_->currentIndex();
    for (size_t i = 0; i < multipliers_.size(); ++i)
        o.multipliers[i] = multipliers_[i]->value();
    o.hasSelection = hasSelection_;
    o.selectionX = selectionX_;
    o.selectionY = selectionY_;
    o.selectionSize = kSelectionSize;
    o.fourColors = fourColors_->isChecked();
    o.noiseFilter = noise_->isChecked();
    o.waveletThreshold = wavelet_->value();
    o.medianPasses = median_->value();
    o.colorSpaceEnabled = colorSpace_->isEnabled();
    o.colorSpace = colorSpace_->currentIndex();
    o.recoverHighlights = recover_->isChecked();
    o.halfSize = halfSize_->isChecked();
    o.sameForRemaining = same_->isChecked();
    return o;
}

void rawLoadOptionsDialog::whiteBalanceChanged() {
    const int mode = whiteBalance_->currentIndex();
    for (QDoubleSpinBox* box : multipliers_)
        box->setEnabled(mode == rawLoadOptions::manual);
    if (mode == rawLoadOptions::manual)
        pickLabel_->setText(tr("Click a neutral grey area of the preview to set the multipliers."));
    else if (mode == rawLoadOptions::automaticSelection)
        pickLabel_->setText(hasSelection_ ? tr("Grey area picked; click the preview to pick another.")
                                          : tr("Click a neutral grey area of the preview."));
    else
        pickLabel_->clear();
}

bool rawLoadOptionsDialog::renderPreview() {
    const int w = info_.halfWidth, h = info_.halfHeight;
    if (w <= 0 || h <= 0) return false;
    QImage decoded(w, h, QImage::Format_RGB888);
    if (decoded.isNull()) return false;
    // The converter writes rows without padding; the picture's rows may be padded.
    std::vector<uint8_t> rows(size_t(w) * size_t(h) * 3);
    QString error;
    if (!halvora::loadRAW_DCRAW(fileName_, halvora::buildDcrawArgs(options(), true), w, h, nullptr,
                                rows.data(), &error)) {
        debugLog("%s: %s\n", "rawLoadOptionsDialog::renderPreview", error.toLocal8Bit().constData());
        pickLabel_->setText(error);
        return false;
    }
    for (int y = 0; y < h; ++y)
        std::copy_n(rows.data() + size_t(y) * size_t(w) * 3, size_t(w) * 3, decoded.scanLine(y));
    picture_ = decoded;
    pictureDecoded_ = true;
    showPicture();
    return true;
}

void rawLoadOptionsDialog::showPicture() {
    if (picture_.isNull()) {
        pictureLabel_->setText(tr("No preview"));
        pictureLabel_->adjustSize();
        return;
    }
    const QImage shown = zoom_->isChecked() ? picture_
                                            : picture_.scaled(kFittedSide, kFittedSide, Qt::KeepAspectRatio,
                                                              Qt::SmoothTransformation);
    pictureLabel_->setPixmap(QPixmap::fromImage(shown));
    pictureLabel_->resize(shown.size());
}

void rawLoadOptionsDialog::pickAt(const QPoint& point) {
    if (picture_.isNull() || !picture_.rect().contains(point)) return;
    const int mode = whiteBalance_->currentIndex();
    if (mode == rawLoadOptions::automaticSelection) {
        // The converter measures the selection on the sensor: a point of the half-size picture as
        // stored, whatever picture is shown. A quick decode shows it turned by the camera's rotation,
        // an embedded preview as stored.
        const int flip = info_.flip;
        int storedWidth = picture_.width(), storedHeight = picture_.height();
        if (info_.halfWidth > 0 && info_.halfHeight > 0) {
            storedWidth = flip & 4 ? info_.halfHeight : info_.halfWidth;
            storedHeight = flip & 4 ? info_.halfWidth : info_.halfHeight;
        } else if (pictureDecoded_ && (flip & 4)) {
            std::swap(storedWidth, storedHeight);
        }
        if (pictureDecoded_) {
            const int shownWidth = flip & 4 ? storedHeight : storedWidth;
            const int shownHeight = flip & 4 ? storedWidth : storedHeight;
            const QPoint stored = halvora::storedRawPixel(
                int(int64_t(point.x()) * shownWidth / picture_.width()),
                int(int64_t(point.y()) * shownHeight / picture_.height()), flip, storedWidth, storedHeight);
            selectionX_ = stored.x();
            selectionY_ = stored.y();
        } else {
            selectionX_ = int(int64_t(point.x()) * storedWidth / picture_.width());
            selectionY_ = int(int64_t(point.y()) * storedHeight / picture_.height());
        }
        hasSelection_ = true;
        whiteBalanceChanged();
        return;
    }
    if (mode != rawLoadOptions::manual) return;
    if (info_.colors == 4) {
        pickOnSensor(point);
        return;
    }
    // The preview was made with the current multipliers; the picked colour goes back through the
    // output curve and the camera's colour matrix to the channels the multipliers act on.
    const QImage rgb = picture_.convertToFormat(QImage::Format_RGB888);
    double mean[3];
    if (!halvora::meanLinearColor(rgb.constBits(), rgb.width(), rgb.height(), int(rgb.bytesPerLine()),
                                  point.x(), point.y(), kPickRadius,
                                  halvora::outputCurveOf(halvora::buildDcrawArgs(options(), true)), mean))
        return;
    const rawLoadOptions now = options();
    double current[4], wanted[4];
    std::copy(std::begin(now.multipliers), std::end(now.multipliers), current);
    if (!halvora::greyMultipliers(mean, current, info_.cameraToRgb, wanted)) return;
    multipliers_[0]->setValue(wanted[0]);
    multipliers_[2]->setValue(wanted[2]);
}

void rawLoadOptionsDialog::pickOnSensor(const QPoint& point) {
    // Four filters give four channels but the picture only three colours, so the picked colour cannot
    // be taken back to the channels: the area is measured on the sensor itself, at the same place of
    // the half-size picture (turned like the quick preview, unturned like an embedded one).
    const QPointF relative((point.x() + 0.5) / picture_.width(), (point.y() + 0.5) / picture_.height());
    double means[4], current[4], wanted[4];
    int colors = 0;
    QString error;
    const rawLoadOptions now = options();
    std::copy(std::begin(now.multipliers), std::end(now.multipliers), current);
    if (!halvora::rawAreaChannelMeans(fileName_, relative, pictureDecoded_, kPickRadius, means, colors,
                                      &error)) {
        pickLabel_->setText(tr("This area cannot be used: %1").arg(error)); // the reason is logged
        return;
    }
    if (!halvora::sensorGreyMultipliers(means, colors, current, wanted)) {
        pickLabel_->setText(tr("This area cannot be used: it is black in one of the sensor's colours."));
        return;
    }
    for (size_t i = 0; i < multipliers_.size(); ++i)
        multipliers_[i]->setValue(wanted[i]);
    pickLabel_->setText(tr("Click a neutral grey area of the preview to set the multipliers."));
}

bool rawLoadOptionsDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == pictureLabel_ && event->type() == QEvent::MouseButtonPress && !picture_.isNull()) {
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        const QSize shown = pictureLabel_->size();
        if (shown.width() > 0 && shown.height() > 0)
            pickAt(QPoint(at.x() * picture_.width() / shown.width(),
                          at.y() * picture_.height() / shown.height()));
        return true;
    }
    return styledDialog::eventFilter(watched, event);
}

bool rawLoadOptionsDialog::ask(QWidget* parent, programOptionsSettings& settings, const QString& fileName,
                               const rawInfo_t& info, rawLoadOptions& options) {
    rawLoadOptionsDialog dialog(fileName, info, options, parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    options = dialog.options();
    halvora::storeRawLoadOptions(options, settings);
    return true;
}
