#pragma once
// The drawing area of a selective-saturation editor: the saturation change along hue or brightness
// (above the middle line more colour, below less) with its knee points, edited with the mouse like
// the tone curve. It edits the point list it is given in place. Main thread only.

#include "tonemap/kneePointEditing.h"
#include "tonemap/selKneePoints.h"

#include <QWidget>
#include <vector>

class selectiveCurveToolArea : public QWidget {
    Q_OBJECT
public:
    /// `hueAxis`: the axis is hue (cyclic, drawn over a colour band); otherwise brightness.
    selectiveCurveToolArea(bool hueAxis, QWidget* parent = nullptr);

    /// Edits `points` (null: nothing); the selection is cleared.
    void setPoints(std::vector<selKneePoints_t>* points);
    std::vector<selKneePoints_t>* points() const { return editing_.points(); }
    int selected() const { return editing_.selected(); }
    /// Marks position `x` (0 … 1) of the axis, the colour under the pointer; hidden when `show` is false.
    void setMarker(double x, bool show);
    halvora::curveFrame_t frame() const;
    const halvora::kneePointEditing<selKneePoints_t>& editing() const { return editing_; }

    QSize sizeHint() const override { return QSize(240, 110); }

signals:
    void curveChanged();
    void curveChangedLive();
    /// Another point was picked (or inserted); `k` is its present state.
    void selectedKneePointChanged(int newIdx, selKneePoints_t k);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void handle(halvora::kneeEdit edit, int selectedBefore);

    bool hueAxis_;
    double marker_ = 0;
    bool markerShown_ = false;
    halvora::kneePointEditing<selKneePoints_t> editing_;
};
