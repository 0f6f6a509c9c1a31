#pragma once
// The zoom control of the status area: "−", the zoom list, "+", "Fit to workspace" and "Original
// size". It holds the current scale and steps it along the list (halvora::steppedZoom); every change
// is announced with zoomChanged(scale), which drives the workspace's setScale. Fitting asks the
// workspace for the scale through fitProvider. Main thread only.

#include <QWidget>
#include <functional>

class QComboBox;
class QToolButton;

class zoomWidget : public QWidget {
    Q_OBJECT
public:
    explicit zoomWidget(QWidget* parent = nullptr);

    double scale() const { return scale_; }
    /// True after "Fit to workspace" until another zoom is chosen.
    bool fitting() const { return fitting_; }
    /// The scale that fits the picture into the workspace now (set by the workspace's owner).
    std::function<double()> fitProvider;
    /// Shows `scale` without announcing it (the workspace changed it itself).
    void showScale(double scale, bool fitting);

public slots:
    /// One step along the list: `direction` > 0 in, < 0 out.
    void incDecZoom(int direction);
    void incZoom() { incDecZoom(1); }
    void decZoom() { incDecZoom(-1); }
    /// "Original size": 100 %.
    void set100();
    /// "Fit to workspace".
    void setFit();
    /// The list entry `index` was chosen.
    void updateZoom(int index);

signals:
    void zoomChanged(double scale);

private:
    void apply(double scale, bool fitting);

    double scale_ = 1.0;
    bool fitting_ = true;
    QComboBox* list_ = nullptr;
};
