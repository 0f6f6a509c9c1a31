#include "ui/paramSlider.h"

#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <cmath>

namespace {
int toSteps(double v) {
    return int(std::lround(v * 100.0));
}
} // namespace

paramSlider::paramSlider(const QString& label, double minimum, double maximum, double initial,
                         QWidget* parent)
    : QWidget(parent), minimum_(minimum), maximum_(maximum) {
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setVerticalSpacing(0);
    label_ = new QLabel(label, this);
    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setRange(toSteps(minimum), toSteps(maximum));
    slider_->setSingleStep(1);
    slider_->setPageStep(10);
    spinBox_ = new QDoubleSpinBox(this);
    spinBox_->setDecimals(2);
    spinBox_->setSingleStep(0.01);
    spinBox_->setRange(minimum, maximum);
    // Typing "1.25" must not tone-map at "1", "1.2" and "1.25": the value counts once it is entered.
    spinBox_->setKeyboardTracking(false);
    layout->addWidget(label_, 0, 0);
    layout->addWidget(slider_, 1, 0);
    layout->addWidget(spinBox_, 1, 1);
    layout->setColumnStretch(0, 1);
    setValueQuietly(initial);

    connect(slider_, &QSlider::valueChanged, this, [this](int steps) {
        const double v = steps / 100.0;
        {
            const QSignalBlocker block(spinBox_);
            spinBox_->setValue(v);
        }
        updateUnit(v);
        emit valueEdited(v, slider_->isSliderDown());
    });
    connect(slider_, &QSlider::sliderReleased, this, &paramSlider::released);
    connect(spinBox_, &QDoubleSpinBox::valueChanged, this, [this](double v) {
        {
            const QSignalBlocker block(slider_);
            slider_->setValue(toSteps(v));
        }
        updateUnit(v);
        emit valueEdited(v, false);
    });
}

double paramSlider::value() const {
    return spinBox_->value();
}

void paramSlider::setValueQuietly(double v) {
    if (!std::isfinite(v)) v = minimum_;
    v = std::clamp(v, minimum_, maximum_);
    const QSignalBlocker blockSlider(slider_);
    const QSignalBlocker blockSpin(spinBox_);
    slider_->setValue(toSteps(v));
    spinBox_->setValue(v);
    updateUnit(v);
}

void paramSlider::setUnitText(std::function<QString(double)> format) {
    unitFormat_ = std::move(format);
    if (!unit_) {
        unit_ = new QLabel(this);
        unit_->setObjectName("unitLabel");
        unit_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        // Wide enough for "15500 K" so the slider does not jump as the text changes.
        unit_->setMinimumWidth(unit_->fontMetrics().horizontalAdvance(QStringLiteral("green ×0.00")));
        static_cast<QGridLayout*>(layout())->addWidget(unit_, 0, 1, Qt::AlignRight);
    }
    updateUnit(value());
}

void paramSlider::updateUnit(double v) {
    if (unit_ && unitFormat_) unit_->setText(unitFormat_(v));
}
