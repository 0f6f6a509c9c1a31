#pragma once
// Keeps the mouse wheel for scrolling a long panel: over a combo box, tab bar, slider or spin box
// that does not have the keyboard focus, the wheel scrolls the panel instead of changing the value
// under the pointer (a photographer scrolling through the tone-mapping tools must not switch a
// curve's interpolation or move a slider by accident). Main thread only.

#include <QObject>

class QScrollArea;

class wheelGuard : public QObject {
    Q_OBJECT
public:
    /// Guards every combo box, tab bar, slider and spin box inside `area`'s widget (owned by `area`).
    static void install(QScrollArea* area);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit wheelGuard(QScrollArea* area);
    QScrollArea* area_;
};
