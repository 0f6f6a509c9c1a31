#pragma once
// The drawing area of the histogram editor: the preview's luminance and R, G, B histograms with the
// black and white level handles, which the mouse drags (white always above black). It reads the
// histograms of the settings record it is given and writes the levels into it. Main thread only.

#include "tonemap/toneMappingSettings.h"

#include <QWidget>

class histogramToolArea : public QWidget {
    Q_OBJECT
public:
    explicit histogramToolArea(QWidget* parent = nullptr);

    void setSettings(toneMappingSettings_t* settings);
    /// Column of the widget at which a level is drawn.
    double levelX(double level) const;
    /// Which handle is being dragged: 0 none, 1 black, 2 white.
    int draggedHandle() const { return dragged_; }

    QSize sizeHint() const override { return QSize(240, 110); }

signals:
    /// A level changed while the handle is held.
    void pointsMovedLive();
    /// The handle was let go after moving.
    void pointsMoved();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    double levelAt(double px) const;

    toneMappingSettings_t* settings_ = nullptr;
    int dragged_ = 0;
    bool moved_ = false;
};
