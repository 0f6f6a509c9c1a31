#pragma once
// Mouse and key input for window tests, sent to a widget as the window system would deliver it.

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointF>
#include <QWidget>

namespace halvora::test {

/// One mouse event; a press or move holds `button`, a release holds nothing.
inline void sendMouse(QWidget* w, QEvent::Type type, QPointF at, Qt::MouseButton button) {
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

inline void press(QWidget* w, QPointF at, Qt::MouseButton b = Qt::LeftButton) {
    sendMouse(w, QEvent::MouseButtonPress, at, b);
}

/// A move with the left button held or with no button.
inline void moveTo(QWidget* w, QPointF at, bool held) {
    sendMouse(w, QEvent::MouseMove, at, held ? Qt::LeftButton : Qt::NoButton);
}

inline void release(QWidget* w, QPointF at, Qt::MouseButton b = Qt::LeftButton) {
    sendMouse(w, QEvent::MouseButtonRelease, at, b);
}

inline void click(QWidget* w, QPointF at, Qt::MouseButton b = Qt::LeftButton) {
    press(w, at, b);
    release(w, at, b);
}

/// A left-button drag through the middle point.
inline void drag(QWidget* w, QPointF from, QPointF to) {
    press(w, from);
    moveTo(w, (from + to) / 2, true);
    moveTo(w, to, true);
    release(w, to);
}

inline void key(QWidget* w, int k) {
    QKeyEvent event(QEvent::KeyPress, k, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

} // namespace halvora::test
