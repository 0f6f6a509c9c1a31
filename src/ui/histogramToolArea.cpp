#include "ui/histogramToolArea.h"

#include "tonemap/histogramEditing.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {
constexpr int kSide = 6;         // margin left and right, room for the handles
constexpr int kHandleHeight = 9; // the handles' triangles under the histogram
constexpr int kGrabPixels = 10;  // a press this close to a handle takes it
} // namespace

histogramToolArea::histogramToolArea(QWidget* parent) : QWidget(parent) {
    setObjectName("histogramToolArea");
    setMinimumSize(160, 90);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void histogramToolArea::setSettings(toneMappingSettings_t* settings) {
    settings_ = settings;
    dragged_ = 0;
    update();
}

double histogramToolArea::levelX(double level) const {
    return kSide + level * (width() - 2 * kSide - 1);
}

double histogramToolArea::levelAt(double px) const {
    return std::clamp((px - kSide) / std::max(1, width() - 2 * kSide - 1), 0.0, 1.0);
}

void histogramToolArea::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int plotWidth = width() - 2 * kSide, plotHeight = height() - kHandleHeight - 2;
    const QRect plot(kSide, 1, plotWidth, plotHeight);
    painter.fillRect(plot, QColor(0x24, 0x24, 0x24));
    if (settings_ && settings_->tables.allocated() && plotWidth > 1) {
        const toneMappingTables_t& t = settings_->tables;
        const int bins = toneMappingTables_t::kHistogramSize;
        // Bins summed per column; heights on a square-root scale so that small counts stay visible.
        std::vector<double> columns[4];
        double top = 0;
        for (int h = 0; h < 4; ++h) {
            columns[h].assign(size_t(plotWidth), 0.0);
            for (int j = 0; j < bins; ++j)
                columns[h][size_t(int64_t(j) * plotWidth / bins)] += t.histogram[h][size_t(j)];
            for (double& v : columns[h]) {
                v = std::sqrt(v);
                top = std::max(top, v);
            }
        }
        if (top > 0) {
            auto path = [&](const std::vector<double>& c, bool closed) {
                QPainterPath p;
                p.moveTo(plot.left(), plot.bottom());
                for (int x = 0; x < plotWidth; ++x)
                    p.lineTo(plot.left() + x, plot.bottom() - c[size_t(x)] / top * (plotHeight - 2));
                if (closed) p.lineTo(plot.right(), plot.bottom());
                return p;
            };
            painter.setRenderHint(QPainter::Antialiasing, true);
            painter.fillPath(path(columns[0], true), QColor(0x80, 0x80, 0x80, 0xa0));
            const QColor channel[] = {QColor(0xe0, 0x50, 0x50, 0xc0), QColor(0x50, 0xd0, 0x50, 0xc0),
                                      QColor(0x60, 0x80, 0xff, 0xc0)};
            for (int c = 0; c < 3; ++c) {
                painter.setPen(QPen(channel[c], 1));
                painter.drawPath(path(columns[c + 1], false));
            }
            painter.setRenderHint(QPainter::Antialiasing, false);
        }
    }
    painter.setPen(QPen(QColor(0x70, 0x70, 0x70), 1));
    painter.drawRect(plot.adjusted(0, 0, -1, -1));
    if (!settings_) return;

    // Outside the levels the picture clips: shade it.
    const double bx = levelX(settings_->blackLevel), wx = levelX(settings_->whiteLevel);
    painter.fillRect(QRectF(plot.left(), plot.top(), bx - plot.left(), plotHeight), QColor(0, 0, 0, 0x70));
    painter.fillRect(QRectF(wx, plot.top(), plot.right() - wx, plotHeight), QColor(0, 0, 0, 0x70));
    const struct {
        double x;
        QColor fill;
    } handles[] = {{bx, QColor(0x10, 0x10, 0x10)}, {wx, QColor(0xf0, 0xf0, 0xf0)}};
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (const auto& h : handles) {
        painter.setPen(QPen(QColor(0xb0, 0xb0, 0xb0), 1));
        painter.drawLine(QPointF(h.x, plot.top()), QPointF(h.x, plot.bottom()));
        QPainterPath triangle;
        const double y = plot.bottom() + 1;
        triangle.moveTo(h.x, y);
        triangle.lineTo(h.x - kSide, y + kHandleHeight);
        triangle.lineTo(h.x + kSide, y + kHandleHeight);
        triangle.closeSubpath();
        painter.setBrush(h.fill);
        painter.drawPath(triangle);
    }
}

void histogramToolArea::mousePressEvent(QMouseEvent* event) {
    if (!settings_ || event->button() != Qt::LeftButton) return;
    const double px = event->position().x();
    const double db = std::fabs(px - levelX(settings_->blackLevel));
    const double dw = std::fabs(px - levelX(settings_->whiteLevel));
    // Of two handles on top of each other, the one the pointer is on the side of.
    int nearest = db < dw ? 1 : dw < db ? 2 : (px < levelX(settings_->blackLevel) ? 1 : 2);
    if (std::min(db, dw) > kGrabPixels) nearest = 0;
    dragged_ = nearest;
    moved_ = false;
}

void histogramToolArea::mouseMoveEvent(QMouseEvent* event) {
    if (!settings_ || !dragged_) return;
    const double before = dragged_ == 1 ? settings_->blackLevel : settings_->whiteLevel;
    const double level = levelAt(event->position().x());
    if (dragged_ == 1)
        halvora::setBlackLevel(*settings_, level);
    else
        halvora::setWhiteLevel(*settings_, level);
    const double after = dragged_ == 1 ? settings_->blackLevel : settings_->whiteLevel;
    if (after == before) return;
    moved_ = true;
    update();
    emit pointsMovedLive();
}

void histogramToolArea::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !dragged_) return;
    dragged_ = 0;
    if (moved_) emit pointsMoved();
    moved_ = false;
}
