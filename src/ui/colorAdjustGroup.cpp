#include "ui/colorAdjustGroup.h"

#include "tonemap/colorUnits.h"
#include "tonemap/rebuildOnChange.h"
#include "ui/paramSlider.h"
#include "ui/toolIcons.h"

#include <QGridLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QToolButton>

namespace r = halvora::tmRange;

colorAdjustGroup::colorAdjustGroup(QWidget* parent) : QWidget(parent) {
    setObjectName("colorAdjustGroup");
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    temperature_ = new paramSlider(tr("Temperature"), 0, r::kColorMax, 1.0, this);
    temperature_->setObjectName("temperature");
    temperature_->setUnitText(&halvora::temperatureText);
    tint_ = new paramSlider(tr("Tint"), 0, r::kColorMax, 1.0, this);
    tint_->setObjectName("tint");
    tint_->setUnitText(&halvora::tintText);
    hue_ = new paramSlider(tr("Hue"), 0, r::kColorMax, 1.0, this);
    hue_->setObjectName("hue");
    hue_->setUnitText(&halvora::hueText);

    sample_ = new QToolButton(this);
    sample_->setObjectName("whiteBalanceSample");
    sample_->setCheckable(true);
    sample_->setText(tr("White balance (sample)"));
    sample_->setIcon(halvora::toolIcons::eyedropper(QColor(0x80, 0x80, 0x80)));
    sample_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    sample_->setToolTip(
        tr("Use it to take a sample from the image. The point that should become neutral (gray) "
           "should be selected. The temperature and tint settings will be automatically adjusted."));
    lock_ = new QToolButton(this);
    lock_->setObjectName("whiteBalanceLock");
    lock_->setCheckable(true);
    lock_->setIcon(halvora::toolIcons::padlock());
    lock_->setIconSize(QSize(18, 18));
    lock_->setToolTip(tr("When locked, the white balance settings are not loaded from presets."));
    swatch_ = new QLabel(this);
    swatch_->setObjectName("wbSwatch");
    swatch_->setFixedSize(36, 22);
    swatch_->setToolTip(tr("The colour of the light that the white balance makes neutral."));

    layout->addWidget(temperature_, 0, 0, 1, 3);
    layout->addWidget(tint_, 1, 0, 1, 3);
    layout->addWidget(sample_, 2, 0);
    layout->addWidget(swatch_, 2, 1);
    layout->addWidget(lock_, 2, 2, Qt::AlignRight);
    layout->addWidget(hue_, 3, 0, 1, 3);
    layout->setColumnStretch(0, 1);

    for (paramSlider* control : {temperature_, tint_, hue_}) {
        connect(control, &paramSlider::valueEdited, this, [this](double, bool dragging) {
            update(dragging);
            if (dragging && settings_) emit valueChangedLive();
        });
        connect(control, &paramSlider::released, this, [this] {
            if (settings_) emit valueChanged();
        });
    }
    connect(sample_, &QToolButton::clicked, this,
            [this](bool on) { emit sampleModeChanged(on ? kWhiteBalanceSample : 0); });
    showSwatch();
}

void colorAdjustGroup::setSettings(toneMappingSettings_t* settings) {
    settings_ = settings;
    setControlsFromSettings();
}

void colorAdjustGroup::setControlsFromSettings() {
    if (!settings_) return;
    temperature_->setValueQuietly(settings_->temperature);
    tint_->setValueQuietly(settings_->tint);
    hue_->setValueQuietly(settings_->hue);
    update(true);
}

bool colorAdjustGroup::whiteBalanceLocked() const {
    return lock_->isChecked();
}

void colorAdjustGroup::applyWhiteBalance(const halvora::whiteBalanceSetting_t& wb) {
    temperature_->setValueQuietly(wb.temperature);
    tint_->setValueQuietly(wb.tint);
    update(false);
}

void colorAdjustGroup::update(bool force) {
    if (settings_) {
        settings_->temperature = temperature_->value();
        settings_->tint = tint_->value();
        settings_->hue = hue_->value();
        halvora::rebuildToneMappingTables(*settings_, halvora::toneMappingChange::whiteBalance);
    }
    showSwatch();
    if (!force && settings_) emit valueChanged();
}

void colorAdjustGroup::update() {
    update(false);
}

void colorAdjustGroup::endSampleMode() {
    const QSignalBlocker block(sample_);
    sample_->setChecked(false);
}

void colorAdjustGroup::showSwatch() {
    // The gains of the controls (the record's tables may not be allocated yet).
    const std::array<double, 3> gains = halvora::whiteBalanceGains(temperature_->value(), tint_->value());
    const std::array<double, 3> c = halvora::wbSwatchColor(gains.data());
    const QColor colour = QColor::fromRgbF(float(c[0]), float(c[1]), float(c[2]));
    swatch_->setStyleSheet(
        QStringLiteral("background-color: %1; border: 1px solid #707070;").arg(colour.name()));
}
