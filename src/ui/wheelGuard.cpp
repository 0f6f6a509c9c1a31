#include "ui/wheelGuard.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTabBar>
#include <QWheelEvent>

wheelGuard::wheelGuard(QScrollArea* area) : QObject(area), area_(area) {}

void wheelGuard::install(QScrollArea* area) {
    if (!area || !area->widget()) return;
    auto* guard = new wheelGuard(area);
    const QList<QWidget*> children = area->widget()->findChildren<QWidget*>();
    for (QWidget* w : children) {
        if (!qobject_cast<QComboBox*>(w) && !qobject_cast<QTabBar*>(w) &&
            !qobject_cast<QAbstractSlider*>(w) && !qobject_cast<QAbstractSpinBox*>(w))
            continue;
        // A click gives the focus, after which the wheel edits the value as usual.
        if (w->focusPolicy() == Qt::WheelFocus) w->setFocusPolicy(Qt::StrongFocus);
        w->installEventFilter(guard);
    }
}

bool wheelGuard::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Wheel) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->hasFocus()) return false;
    QCoreApplication::sendEvent(area_->verticalScrollBar(), event);
    return true;
}
