#pragma once
// The picture view of the manual-alignment dialog: the main view (zoom, scrolling, dragging) with up
// to four numbered pins drawn over the picture. A left press near a pin picks it up and dragging moves
// it by the mouse's way divided by the scale, so its position stays exact at any zoom; a press
// anywhere else pans the picture as in every view. Pins are in the coordinates of the picture the view
// stands for (the full-size photo). Main thread only.

#include "ui/mainWorkspace.h"

#include <QPointF>
#include <array>

class manualAlignmentWorkspace : public mainWorkspace {
    Q_OBJECT
public:
    explicit manualAlignmentWorkspace(QWidget* parent = nullptr);

    /// Pins drawn and draggable: the first `count` (0 … 4).
    void setActivePins(int count);
    int activePins() const { return activePins_; }
    /// Places the four pins (picture coordinates) without announcing it.
    void setPins(const std::array<QPointF, 4>& pins);
    const std::array<QPointF, 4>& pins() const { return pins_; }
    /// Scrolls so that the picture point `at` lies in the middle of the view (as far as the
    /// scroll ranges allow).
    void centerOn(QPointF at);
    /// The pin under the view position `at` (within the grab radius), or −1.
    int pinAt(QPointF at) const;
    /// Grab radius around a pin in screen pixels.
    static constexpr double kGrabRadius = 10.0;

signals:
    /// The user dragged pin `index` to `position` (picture coordinates).
    void pinMoved(int index, QPointF position);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* overlay_ = nullptr;
    std::array<QPointF, 4> pins_{};
    int activePins_ = 4;
    int dragged_ = -1;
    QPointF dragStart_;  ///< view position where the pin was picked up
    QPointF pinAtStart_; ///< its picture position then
};
