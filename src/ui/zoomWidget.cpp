#include "ui/zoomWidget.h"

#include "app/workspaceGeometry.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QToolButton>

zoomWidget::zoomWidget(QWidget* parent) : QWidget(parent) {
    setObjectName("zoomWidget");
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    auto button = [this, layout](const QString& text, const QString& tip, const char* name) {
        auto* b = new QToolButton(this);
        b->setText(text);
        b->setToolTip(tip);
        b->setObjectName(name);
        b->setAutoRaise(true);
        layout->addWidget(b);
        return b;
    };
    QToolButton* out = button(QStringLiteral("\u2212"), tr("Zoom out"), "zoomOutButton");
    list_ = new QComboBox(this);
    list_->setObjectName("zoomList");
    list_->setToolTip(tr("Zoom"));
    for (int percent : halvora::zoomPercents())
        list_->addItem(halvora::zoomText(percent / 100.0));
    list_->setMaxVisibleItems(20);
    layout->addWidget(list_);
    QToolButton* in = button(QStringLiteral("+"), tr("Zoom in"), "zoomInButton");
    QToolButton* fit = button(tr("Fit"), tr("Fit to workspace"), "zoomFitButton");
    QToolButton* original = button(QStringLiteral("1:1"), tr("Original size"), "zoom100Button");

    connect(out, &QToolButton::clicked, this, &zoomWidget::decZoom);
    connect(in, &QToolButton::clicked, this, &zoomWidget::incZoom);
    connect(fit, &QToolButton::clicked, this, &zoomWidget::setFit);
    connect(original, &QToolButton::clicked, this, &zoomWidget::set100);
    connect(list_, &QComboBox::activated, this, &zoomWidget::updateZoom);
    showScale(1.0, true);
}

void zoomWidget::showScale(double scale, bool fitting) {
    scale_ = scale;
    fitting_ = fitting;
    const QSignalBlocker block(list_);
    const int index = halvora::zoomIndexOf(scale);
    list_->setCurrentIndex(index);
    // A scale between the entries (a fitted one) shows as the empty entry's text.
    list_->setPlaceholderText(halvora::zoomText(scale));
}

void zoomWidget::apply(double scale, bool fitting) {
    const bool changed = scale != scale_ || fitting != fitting_;
    showScale(scale, fitting);
    if (changed || fitting) emit zoomChanged(scale_);
}

void zoomWidget::incDecZoom(int direction) {
    apply(halvora::steppedZoom(scale_, direction), false);
}

void zoomWidget::set100() {
    apply(1.0, false);
}

void zoomWidget::setFit() {
    apply(fitProvider ? fitProvider() : 1.0, true);
}

void zoomWidget::updateZoom(int index) {
    const auto& list = halvora::zoomPercents();
    if (index >= 0 && index < int(list.size())) apply(list[size_t(index)] / 100.0, false);
}
