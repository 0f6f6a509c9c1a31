#include "ui/toneCurveToolArea.h"

#include "tonemap/tableBuilders.h"
#include "ui/curvePainting.h"

#include <QMouseEvent>
#include <QPainter>

toneCurveToolArea::toneCurveToolArea(QWidget* parent) : QWidget(parent) {
    setObjectName("toneCurveToolArea");
    setMouseTracking(true); // hover needs moves without a button
    setMinimumSize(160, 140);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void toneCurveToolArea::setCurve(curveSettings_t* curve, int channel) {
    curve_ = curve;
    channel_ = channel;
    editing_.setPoints(curve ? &curve->kneePoints : nullptr);
    update();
}

void toneCurveToolArea::setLevels(double black, double white) {
    black_ = black;
    white_ = white;
    update();
}

halvora::curveFrame_t toneCurveToolArea::frame() const {
    return halvora::curvePainting::frameFor(width(), height());
}

void toneCurveToolArea::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const halvora::curveFrame_t f = frame();
    halvora::curvePainting::drawFrame(painter, f);
    // The levels of the histogram editor, for orientation.
    painter.setPen(QPen(QColor(0x90, 0x90, 0x90), 1, Qt::DashLine));
    for (double level : {black_, white_})
        if (level > 0 && level < 1)
            painter.drawLine(QPointF(f.pixelX(level), f.top), QPointF(f.pixelX(level), f.top + f.height - 1));
    painter.setPen(QPen(QColor(0x58, 0x58, 0x58), 1));
    painter.drawLine(QPointF(f.pixelX(0), f.pixelY(0)), QPointF(f.pixelX(1), f.pixelY(1)));
    if (!curve_) return;

    static const QColor colours[] = {QColor(0xe0, 0xe0, 0xe0), QColor(0xe0, 0x50, 0x50),
                                     QColor(0x50, 0xd0, 0x50), QColor(0x60, 0x80, 0xff)};
    std::vector<double> values(size_t(std::max(f.width, 2)));
    halvora::evaluateCurve(values.data(), int(values.size()), curve_->kneePoints, curve_->type);
    halvora::curvePainting::drawValues(painter, f, values, colours[std::clamp(channel_, 0, 3)]);
    std::vector<QPointF> points;
    for (const curvePoint_t& p : curve_->kneePoints)
        points.emplace_back(p.x, p.y);
    halvora::curvePainting::drawKneePoints(painter, f, points, editing_.hovered(), editing_.dragged());
}

void toneCurveToolArea::handle(halvora::kneeEdit edit) {
    using halvora::kneeEdit;
    if (edit == kneeEdit::nothing) return;
    if ((edit == kneeEdit::live || edit == kneeEdit::finished) && curve_) curve_->identity = false;
    update();
    if (edit == kneeEdit::live) emit curveChangedLive();
    if (edit == kneeEdit::finished) emit curveChanged();
}

void toneCurveToolArea::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
    const QPointF at = event->position();
    handle(editing_.mousePress(frame(), at.x(), at.y(), event->button() == Qt::LeftButton));
}

void toneCurveToolArea::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    handle(editing_.mouseMove(frame(), at.x(), at.y()));
}

void toneCurveToolArea::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    handle(editing_.mouseRelease());
}

void toneCurveToolArea::leaveEvent(QEvent*) {
    // Outside the area nothing is hovered (a drag keeps its point).
    if (editing_.dragged() < 0 && editing_.hovered() >= 0) {
        editing_.setPoints(editing_.points());
        update();
    }
}
