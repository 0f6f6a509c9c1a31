#include "ui/selectiveCurveToolArea.h"

#include "tonemap/colorAdjustment.h"
#include "ui/curvePainting.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

namespace {
constexpr int kBand = 6; // height of the colour band under the curve
}

selectiveCurveToolArea::selectiveCurveToolArea(bool hueAxis, QWidget* parent)
    : QWidget(parent), hueAxis_(hueAxis) {
    setObjectName(hueAxis ? "hueSelectiveArea" : "brightnessSelectiveArea");
    setMouseTracking(true);
    setMinimumSize(160, 90);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void selectiveCurveToolArea::setPoints(std::vector<selKneePoints_t>* points) {
    editing_.setPoints(points);
    update();
}

void selectiveCurveToolArea::setMarker(double x, bool show) {
    if (markerShown_ == show && marker_ == x) return;
    marker_ = x;
    markerShown_ = show;
    update();
}

halvora::curveFrame_t selectiveCurveToolArea::frame() const {
    return halvora::curvePainting::frameFor(width(), height() - kBand);
}

void selectiveCurveToolArea::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const halvora::curveFrame_t f = frame();
    halvora::curvePainting::drawFrame(painter, f);
    // The axis as colours: the hue circle, or black to white.
    QLinearGradient band(f.pixelX(0), 0, f.pixelX(1), 0);
    if (hueAxis_)
        for (int i = 0; i <= 6; ++i)
            band.setColorAt(i / 6.0, QColor::fromHsvF(i == 6 ? 0.0 : i / 6.0, 0.8, 0.9));
    else {
        band.setColorAt(0, Qt::black);
        band.setColorAt(1, Qt::white);
    }
    painter.fillRect(QRectF(f.pixelX(0), f.top + f.height + 1, f.width, kBand - 1), band);
    painter.setPen(QPen(QColor(0x68, 0x68, 0x68), 1, Qt::DashLine));
    painter.drawLine(QPointF(f.pixelX(0), f.pixelY(0.5)), QPointF(f.pixelX(1), f.pixelY(0.5)));
    if (markerShown_) {
        painter.setPen(QPen(QColor(0xd0, 0xd0, 0x60), 1));
        painter.drawLine(QPointF(f.pixelX(marker_), f.top), QPointF(f.pixelX(marker_), f.top + f.height - 1));
    }
    const std::vector<selKneePoints_t>* points = editing_.points();
    if (!points) return;

    // What the per-pixel step will apply: the table itself, offset −1 … 1 drawn as 0 … 1.
    std::vector<double> table;
    halvora::generateSelectiveTable(table, *points, hueAxis_);
    std::vector<double> values(size_t(std::max(f.width, 2)));
    for (size_t i = 0; i < values.size() && !table.empty(); ++i) {
        const size_t entry = i * (table.size() - 2) / (values.size() - 1);
        values[i] = 0.5 + 0.5 * table[entry];
    }
    halvora::curvePainting::drawValues(painter, f, values, QColor(0xe0, 0xe0, 0xe0));
    std::vector<QPointF> shown;
    for (const selKneePoints_t& p : *points)
        shown.emplace_back(p.x, p.y);
    halvora::curvePainting::drawKneePoints(painter, f, shown, editing_.hovered(), editing_.selected());
}

void selectiveCurveToolArea::handle(halvora::kneeEdit edit, int selectedBefore) {
    using halvora::kneeEdit;
    if (edit == kneeEdit::nothing) return;
    update();
    const int now = editing_.selected();
    if (now != selectedBefore && now >= 0 && editing_.points())
        emit selectedKneePointChanged(now, (*editing_.points())[size_t(now)]);
    if (edit == kneeEdit::live) emit curveChangedLive();
    if (edit == kneeEdit::finished) emit curveChanged();
}

void selectiveCurveToolArea::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
    const int before = editing_.selected();
    const QPointF at = event->position();
    handle(editing_.mousePress(frame(), at.x(), at.y(), event->button() == Qt::LeftButton), before);
}

void selectiveCurveToolArea::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    handle(editing_.mouseMove(frame(), at.x(), at.y()), editing_.selected());
}

void selectiveCurveToolArea::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    handle(editing_.mouseRelease(), editing_.selected());
}

void selectiveCurveToolArea::leaveEvent(QEvent*) {
    if (editing_.dragged() >= 0 || editing_.hovered() < 0) return;
    const int selected = editing_.selected();
    editing_.setPoints(editing_.points()); // forgets the hover
    editing_.setSelected(selected);
    update();
}
