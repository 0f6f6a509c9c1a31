#include "ui/selectiveCurveTool.h"

#include "tonemap/colorUnits.h"
#include "ui/selectiveCurveToolArea.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

#include <cmath>

namespace {
constexpr int kInitialSigmaPosition = 10; // sigma 1.0
}

selectiveCurveTool::selectiveCurveTool(const QString& title, bool hueAxis, QWidget* parent)
    : QWidget(parent), hueAxis_(hueAxis) {
    setObjectName(hueAxis ? "hueSelectiveTool" : "brightnessSelectiveTool");
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 4, 0, 4);
    auto* heading = new QLabel(title, this);
    auto* reset = new QPushButton(tr("Reset"), this);
    reset->setObjectName("selectiveReset");
    layout->addWidget(heading, 0, 0, 1, 2);
    layout->addWidget(reset, 0, 2);
    area_ = new selectiveCurveToolArea(hueAxis, this);
    area_->setToolTip(tr("Click to add a point, drag it up for more and down for less saturation, "
                         "right-click to remove it."));
    layout->addWidget(area_, 1, 0, 1, 3);
    layout->addWidget(new QLabel(tr("Width"), this), 2, 0);
    sigma_ = new QSlider(Qt::Horizontal, this);
    sigma_->setObjectName("sigmaSlider");
    sigma_->setRange(1, 20);
    sigma_->setValue(kInitialSigmaPosition);
    sigma_->setToolTip(tr("How far along the axis the selected point's change reaches."));
    sigmaValue_ = new QLabel(QString::number(kInitialSigmaPosition / 10.0, 'f', 1), this);
    layout->addWidget(sigma_, 2, 1);
    layout->addWidget(sigmaValue_, 2, 2);
    layout->setColumnStretch(1, 1);

    connect(reset, &QPushButton::clicked, this, qOverload<>(&selectiveCurveTool::resetCurve));
    connect(area_, &selectiveCurveToolArea::curveChanged, this, &selectiveCurveTool::curveChangedSlot);
    connect(area_, &selectiveCurveToolArea::curveChangedLive, this,
            &selectiveCurveTool::curveChangedLiveSlot);
    connect(area_, &selectiveCurveToolArea::selectedKneePointChanged, this,
            &selectiveCurveTool::changeCurrentSigmaOnSlider);
    connect(sigma_, &QSlider::valueChanged, this, &selectiveCurveTool::changeCurrentSigma);
    connect(sigma_, &QSlider::sliderReleased, this, &selectiveCurveTool::sigmaSliderReleased);
}

void selectiveCurveTool::setPoints(std::vector<selKneePoints_t>* points) {
    area_->setPoints(points);
    const QSignalBlocker block(sigma_);
    sigma_->setValue(kInitialSigmaPosition);
    sigmaValue_->setText(QString::number(kInitialSigmaPosition / 10.0, 'f', 1));
}

void selectiveCurveTool::setSampleValue(bool inImg, rgbDouble_t v) {
    area_->setMarker(halvora::selectiveAxisPosition(v.r, v.g, v.b, hueAxis_), inImg);
}

void selectiveCurveTool::resetCurve(bool silent) {
    std::vector<selKneePoints_t>* points = area_->points();
    if (!points) return;
    points->clear();
    setPoints(points);
    if (!silent) emit curveChanged();
}

void selectiveCurveTool::resetCurve() {
    resetCurve(false);
}

void selectiveCurveTool::curveChangedSlot() {
    emit curveChanged();
}

void selectiveCurveTool::curveChangedLiveSlot() {
    emit curveChangedLive();
}

void selectiveCurveTool::changeCurrentSigma(int position) {
    sigmaValue_->setText(QString::number(position / 10.0, 'f', 1));
    std::vector<selKneePoints_t>* points = area_->points();
    const int i = area_->selected();
    if (!points || i < 0 || i >= int(points->size())) return;
    (*points)[size_t(i)].sigma = position / 10.0;
    area_->update();
    // A drag of the handle is live; a step by key or click is complete at once.
    if (sigma_->isSliderDown()) {
        sigmaChanged_ = true;
        emit curveChangedLive();
    } else {
        emit curveChanged();
    }
}

void selectiveCurveTool::changeCurrentSigmaOnSlider(int newIdx, selKneePoints_t k) {
    Q_UNUSED(newIdx);
    const int position = std::clamp(int(std::lround(k.sigma * 10.0)), 1, 20);
    const QSignalBlocker block(sigma_);
    sigma_->setValue(position);
    sigmaValue_->setText(QString::number(position / 10.0, 'f', 1));
}

void selectiveCurveTool::sigmaSliderReleased() {
    if (!sigmaChanged_) return;
    sigmaChanged_ = false;
    emit curveChanged();
}
