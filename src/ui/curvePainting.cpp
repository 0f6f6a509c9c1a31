#include "ui/curvePainting.h"

#include <QPainter>
#include <QPainterPath>

namespace halvora::curvePainting {

namespace {
constexpr int kMargin = 5; // room for a handle on the border
}

halvora::curveFrame_t frameFor(int width, int height) {
    halvora::curveFrame_t frame;
    frame.left = kMargin;
    frame.top = kMargin;
    frame.width = std::max(2, width - 2 * kMargin);
    frame.height = std::max(2, height - 2 * kMargin);
    return frame;
}

void drawFrame(QPainter& painter, const halvora::curveFrame_t& frame) {
    const QRectF box(frame.left, frame.top, frame.width - 1, frame.height - 1);
    painter.fillRect(box, QColor(0x24, 0x24, 0x24));
    painter.setPen(QPen(QColor(0x48, 0x48, 0x48), 1));
    for (int i = 1; i < 4; ++i) {
        const double x = frame.pixelX(i / 4.0), y = frame.pixelY(i / 4.0);
        painter.drawLine(QPointF(x, box.top()), QPointF(x, box.bottom()));
        painter.drawLine(QPointF(box.left(), y), QPointF(box.right(), y));
    }
    painter.setPen(QPen(QColor(0x70, 0x70, 0x70), 1));
    painter.drawRect(box);
}

void drawValues(QPainter& painter, const halvora::curveFrame_t& frame, const std::vector<double>& values,
                const QColor& colour) {
    if (values.size() < 2) return;
    QPainterPath path;
    const double step = 1.0 / double(values.size() - 1);
    path.moveTo(frame.pixelX(0), frame.pixelY(values[0]));
    for (size_t i = 1; i < values.size(); ++i)
        path.lineTo(frame.pixelX(double(i) * step), frame.pixelY(values[i]));
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(colour, 1.5));
    painter.drawPath(path);
    painter.setRenderHint(QPainter::Antialiasing, false);
}

void drawKneePoints(QPainter& painter, const halvora::curveFrame_t& frame, const std::vector<QPointF>& points,
                    int hovered, int selected) {
    for (int i = 0; i < int(points.size()); ++i) {
        const double half = i == hovered ? 4.5 : 3.0;
        const QRectF handle(frame.pixelX(points[size_t(i)].x()) - half,
                            frame.pixelY(points[size_t(i)].y()) - half, 2 * half, 2 * half);
        painter.setPen(QPen(QColor(0xe8, 0xe8, 0xe8), 1));
        painter.setBrush(i == selected || i == hovered ? QColor(0xe8, 0xe8, 0xe8) : QColor(0x24, 0x24, 0x24));
        painter.drawRect(handle);
    }
    painter.setBrush(Qt::NoBrush);
}

} // namespace halvora::curvePainting
