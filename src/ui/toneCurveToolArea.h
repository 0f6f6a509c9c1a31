#pragma once
// The drawing area of the tone-curve editor: shows one curve with its knee points and lets the
// mouse edit them (hover, insert, drag between the neighbours, delete with the right button). It
// edits the curveSettings_t it is given in place. Main thread only.

#include "tonemap/kneePointEditing.h"
#include "tonemap/toneMappingSettings.h"

#include <QWidget>

class toneCurveToolArea : public QWidget {
    Q_OBJECT
public:
    explicit toneCurveToolArea(QWidget* parent = nullptr);

    /// Edits `curve` (null: shows an empty frame); `channel` 0 master, 1 … 3 R, G, B picks the colour.
    void setCurve(curveSettings_t* curve, int channel);
    curveSettings_t* curve() const { return curve_; }
    /// Marks the black and white levels of the histogram editor on the curve's input axis.
    void setLevels(double black, double white);
    /// Where the curve's unit square lies in the widget now.
    halvora::curveFrame_t frame() const;
    const halvora::kneePointEditing<curvePoint_t>& editing() const { return editing_; }

    QSize sizeHint() const override { return QSize(240, 200); }

signals:
    /// The edit is complete (button released after a change, or a point deleted).
    void curveChanged();
    /// The curve changed while the button is held down.
    void curveChangedLive();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void handle(halvora::kneeEdit edit);

    curveSettings_t* curve_ = nullptr;
    int channel_ = 0;
    double black_ = 0, white_ = 1;
    halvora::kneePointEditing<curvePoint_t> editing_;
};
