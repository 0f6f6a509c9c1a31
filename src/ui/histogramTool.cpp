#include "ui/histogramTool.h"

#include "tonemap/histogramEditing.h"
#include "ui/histogramToolArea.h"
#include "ui/toolIcons.h"

#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>

namespace {

QDoubleSpinBox* clipBox(QWidget* parent, const char* name, const QString& tip) {
    auto* box = new QDoubleSpinBox(parent);
    box->setObjectName(name);
    box->setRange(0, halvora::tmRange::kClipMax);
    box->setDecimals(4);
    box->setSingleStep(0.0001);
    box->setSuffix(QStringLiteral(" %"));
    box->setKeyboardTracking(false); // one change per entered value
    box->setToolTip(tip);
    return box;
}

QToolButton* toolButton(QWidget* parent, const char* name, const QIcon& icon, const QString& tip) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setIcon(icon);
    button->setIconSize(QSize(18, 18));
    button->setCheckable(true);
    button->setToolTip(tip);
    return button;
}

} // namespace

histogramTool::histogramTool(QWidget* parent) : QWidget(parent) {
    setObjectName("histogramTool");
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    area_ = new histogramToolArea(this);
    layout->addWidget(area_, 0, 0, 1, 4);

    blackSample_ = toolButton(this, "blackPointSample", halvora::toolIcons::eyedropper(Qt::black),
                              tr("Select the black point. Left-click on image to sample current result, or "
                                 "right-click to get a sample from input, not tonemapped HDR image."));
    whiteSample_ = toolButton(this, "whitePointSample", halvora::toolIcons::eyedropper(Qt::white),
                              tr("Select the white point. Left-click on image to sample current result, or "
                                 "right-click to get a sample from input, not tonemapped HDR image."));
    blackClip_ = clipBox(this, "blackClip",
                         tr("The specified percentage of the darkest pixels to be clipped to black."));
    whiteClip_ = clipBox(this, "whiteClip",
                         tr("The specified percentage of the brightest pixels to be clipped to white."));
    layout->addWidget(blackSample_, 1, 0);
    layout->addWidget(blackClip_, 1, 1);
    layout->addWidget(whiteClip_, 1, 2);
    layout->addWidget(whiteSample_, 1, 3);

    lock_ = toolButton(this, "autoClipping", halvora::toolIcons::padlock(),
                       tr("Automatic histogram clipping on/off."));
    noClip_ = new QPushButton(tr("No clipping"), this);
    noClip_->setObjectName("noClip");
    noClip_->setToolTip(tr("Switch automatic clipping off and clip no pixels."));
    default_ = new QPushButton(tr("Default"), this);
    default_->setObjectName("defaultClip");
    default_->setToolTip(tr("Automatic clipping of 0.1% of the darkest and 0.2% of the brightest pixels."));
    layout->addWidget(lock_, 2, 0);
    layout->addWidget(noClip_, 2, 1);
    layout->addWidget(default_, 2, 2);
    layout->setColumnStretch(1, 1);
    layout->setColumnStretch(2, 1);

    connect(lock_, &QToolButton::clicked, this, qOverload<>(&histogramTool::lockClicked));
    connect(blackClip_, &QDoubleSpinBox::valueChanged, this, &histogramTool::clipPercentageChangeSlot);
    connect(whiteClip_, &QDoubleSpinBox::valueChanged, this, &histogramTool::clipPercentageChangeSlot);
    connect(noClip_, &QPushButton::clicked, this, &histogramTool::setNoClipSlot);
    connect(default_, &QPushButton::clicked, this, &histogramTool::setDefautSlot);
    connect(blackSample_, &QToolButton::clicked, this, &histogramTool::sampleModeChangedSlot);
    connect(whiteSample_, &QToolButton::clicked, this, &histogramTool::sampleModeChangedSlot);
    connect(area_, &histogramToolArea::pointsMovedLive, this, [this] { takeHandleEdit(true); });
    connect(area_, &histogramToolArea::pointsMoved, this, [this] { takeHandleEdit(false); });
}

void histogramTool::setSettings(toneMappingSettings_t* settings) {
    settings_ = settings;
    area_->setSettings(settings);
    setControlsFromSettings();
}

void histogramTool::setControlsFromSettings() {
    area_->update();
    if (!settings_) return;
    const QSignalBlocker blockBlack(blackClip_);
    const QSignalBlocker blockWhite(whiteClip_);
    blackClip_->setValue(settings_->blackClipResult);
    whiteClip_->setValue(settings_->whiteClipResult);
    setAutoClippingShown(settings_->autoClipping);
}

void histogramTool::setAutoClippingShown(bool on) {
    const QSignalBlocker block(lock_);
    lock_->setChecked(on);
}

void histogramTool::lockClicked(bool dontToggle) {
    if (!dontToggle) setAutoClippingShown(!lock_->isChecked());
    if (!settings_) return;
    const bool on = lock_->isChecked();
    if (on) {
        settings_->blackClip = blackClip_->value();
        settings_->whiteClip = whiteClip_->value();
    }
    settings_->autoClipping = on;
    emit lockChanged(on);
}

void histogramTool::lockClicked() {
    lockClicked(true); // the button has toggled itself
}

void histogramTool::clipPercentageChangeSlot() {
    if (!settings_) return;
    settings_->blackClip = settings_->blackClipResult = blackClip_->value();
    settings_->whiteClip = settings_->whiteClipResult = whiteClip_->value();
    // A share is only reached by finding the levels for it.
    settings_->autoClipping = true;
    setAutoClippingShown(true);
    emit clipPercentageChanged(settings_->blackClip, settings_->whiteClip);
}

void histogramTool::setNoClipSlot() {
    if (!settings_) return;
    halvora::applyNoClip(*settings_);
    setControlsFromSettings();
    emit clipPercentageChanged(0, 0);
}

void histogramTool::setDefautSlot() {
    if (!settings_) return;
    halvora::applyDefaultClip(*settings_);
    {
        const QSignalBlocker blockBlack(blackClip_);
        const QSignalBlocker blockWhite(whiteClip_);
        blackClip_->setValue(settings_->blackClip);
        whiteClip_->setValue(settings_->whiteClip);
    }
    setAutoClippingShown(true);
    emit clipPercentageChanged(settings_->blackClip, settings_->whiteClip);
}

void histogramTool::sampleModeChangedSlot() {
    QToolButton* clicked = qobject_cast<QToolButton*>(sender());
    QToolButton* other = clicked == blackSample_ ? whiteSample_ : blackSample_;
    if (!clicked) return;
    {
        const QSignalBlocker block(other);
        other->setChecked(false);
    }
    emit sampleModeChanged(!clicked->isChecked()     ? noSample
                           : clicked == blackSample_ ? blackPointSample
                                                     : whitePointSample);
}

void histogramTool::endSampleMode() {
    const QSignalBlocker blockBlack(blackSample_);
    const QSignalBlocker blockWhite(whiteSample_);
    blackSample_->setChecked(false);
    whiteSample_->setChecked(false);
}

void histogramTool::disableAutoClipping() {
    if (settings_) settings_->autoClipping = false;
    setAutoClippingShown(false);
}

// A handle moved by hand sets its level; automatic clipping would move it straight back.
void histogramTool::takeHandleEdit(bool live) {
    if (settings_ && settings_->autoClipping) {
        settings_->autoClipping = false;
        setAutoClippingShown(false);
        emit lockChanged(false);
    }
    if (live)
        emit pointsMovedLive();
    else
        emit pointsMoved();
}
