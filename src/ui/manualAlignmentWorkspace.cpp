#include "ui/manualAlignmentWorkspace.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

// Draws the pins of its workspace over the picture; the mouse goes through it to the area below.
class pinOverlay : public QWidget {
public:
    pinOverlay(manualAlignmentWorkspace* view, QWidget* area) : QWidget(area), view_(view) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (!view_->hasPicture()) return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const halvora::viewMapping& m = view_->area()->mapping();
        for (int i = 0; i < view_->activePins(); ++i) {
            const QPointF at = m.toView(view_->pins()[size_t(i)]);
            const double r = manualAlignmentWorkspace::kGrabRadius;
            // Black under white keeps the pin visible on light and dark pictures alike.
            painter.setPen(QPen(Qt::black, 3));
            painter.drawEllipse(at, r, r);
            painter.setPen(QPen(QColor(255, 220, 0), 1));
            painter.drawEllipse(at, r, r);
            painter.drawLine(at - QPointF(r, 0), at + QPointF(r, 0));
            painter.drawLine(at - QPointF(0, r), at + QPointF(0, r));
            painter.drawText(at + QPointF(r + 2, -r), QString::number(i + 1));
        }
    }

private:
    manualAlignmentWorkspace* view_;
};

} // namespace

manualAlignmentWorkspace::manualAlignmentWorkspace(QWidget* parent) : mainWorkspace(parent) {
    setObjectName("manualAlignmentWorkspace");
    overlay_ = new pinOverlay(this, area());
    overlay_->resize(area()->size());
    area()->installEventFilter(this);
}

void manualAlignmentWorkspace::setActivePins(int count) {
    activePins_ = std::clamp(count, 0, 4);
    if (dragged_ >= activePins_) dragged_ = -1;
    overlay_->update();
}

void manualAlignmentWorkspace::setPins(const std::array<QPointF, 4>& pins) {
    pins_ = pins;
    overlay_->update();
}

void manualAlignmentWorkspace::centerOn(QPointF at) {
    const halvora::viewMapping& m = area()->mapping();
    setScrollBars(int(std::lround(at.x() * m.scale - m.viewWidth / 2.0)),
                  int(std::lround(at.y() * m.scale - m.viewHeight / 2.0)));
}

int manualAlignmentWorkspace::pinAt(QPointF at) const {
    if (!hasPicture()) return -1;
    int best = -1;
    double bestDistance = kGrabRadius;
    for (int i = 0; i < activePins_; ++i) {
        const QPointF d = area()->mapping().toView(pins_[size_t(i)]) - at;
        const double distance = std::hypot(d.x(), d.y());
        if (distance <= bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

bool manualAlignmentWorkspace::eventFilter(QObject* watched, QEvent* event) {
    if (watched != area()) return mainWorkspace::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Resize:
        // The overlay covers the area; it is repainted with it whenever the picture moves or zooms.
        overlay_->resize(area()->size());
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() != Qt::LeftButton || area()->currentMode() != mainImageArea::normalMode) break;
        const int pin = pinAt(e->position());
        if (pin < 0) break;
        dragged_ = pin;
        dragStart_ = e->position();
        pinAtStart_ = pins_[size_t(pin)];
        area()->setCursor(Qt::CrossCursor);
        return true;
    }
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (dragged_ < 0) {
            if (!(e->buttons() & Qt::LeftButton) && pinAt(e->position()) >= 0)
                area()->setCursor(Qt::CrossCursor);
            break;
        }
        const double s = area()->mapping().scale > 0 ? area()->mapping().scale : 1.0;
        const QPointF moved = pinAtStart_ + (e->position() - dragStart_) / s;
        // A pin stays on the picture (pixel centres run from 0 to size − 1).
        const QPointF limited(std::clamp(moved.x(), 0.0, double(std::max(pictureWidth() - 1, 0))),
                              std::clamp(moved.y(), 0.0, double(std::max(pictureHeight() - 1, 0))));
        pins_[size_t(dragged_)] = limited;
        overlay_->update();
        emit pinMoved(dragged_, limited);
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (dragged_ < 0 || e->button() != Qt::LeftButton) break;
        dragged_ = -1;
        area()->setCursor(Qt::OpenHandCursor);
        return true;
    }
    default:
        break;
    }
    return mainWorkspace::eventFilter(watched, event);
}
