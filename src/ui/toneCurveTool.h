#pragma once
// The "Tone curve" panel: one curve per tab (master, red, green, blue) in a toneCurveToolArea, the
// interpolation of the current curve ("Linear" or "Cubic spline interpolation"), the contrast
// presets, "Reset" and "Reset all". Edits the curves of the settings record in place and rebuilds
// their tables before it signals. Main thread only; the record must not be in use by a tone-mapping
// pass while the panel is enabled.

#include "tonemap/toneMappingSettings.h"

#include <QWidget>

class QComboBox;
class QMenu;
class QPushButton;
class QTabBar;
class toneCurveToolArea;

class toneCurveTool : public QWidget {
    Q_OBJECT
public:
    explicit toneCurveTool(QWidget* parent = nullptr);

    /// The record whose curves the panel edits (null detaches it).
    void setSettings(toneMappingSettings_t* settings);
    /// Shows the record's curves and the current curve's interpolation, without signals.
    void setControlsFromSettings();
    int currentCurve() const;
    toneCurveToolArea* area() const { return area_; }
    QTabBar* tabs() const { return tabs_; }
    QComboBox* modeBox() const { return mode_; }
    QMenu* presetMenu() const { return presetMenu_; }

signals:
    /// Curve `i` (0 master, 1 … 3 R, G, B) changed and its tables are rebuilt.
    void curvesChanged(int i);
    /// Curve `i` changed while the mouse button is still down (tables rebuilt).
    void curvesChangedLive(int i);

public slots:
    /// Curve `i` back to the straight line; emits curvesChanged(i) unless `silent`.
    void resetCurve(int i, bool silent);
    void resetCurve(int i);
    void resetCurrentCurve();
    /// Every curve back to the straight line; emits curvesChanged(0) unless `silent`.
    void resetAllCurves(bool silent);
    void resetAllCurves();
    /// Marks the histogram editor's black and white levels on the curve.
    void setWBpoints(double black, double white);
    /// Shows and edits curve `i`.
    void tabSwitched(int i);
    /// Takes the interpolation chosen in the mode box for the current curve.
    void modeToggle();
    void showPresetMenu();
    /// Replaces the current curve with preset `p` (0 … 11), cubic spline.
    void presetActTriggered(int p);

private:
    void rebuild(int i);
    void showModeOf(int i);

    toneMappingSettings_t* settings_ = nullptr;
    QTabBar* tabs_;
    toneCurveToolArea* area_;
    QComboBox* mode_;
    QPushButton* presetButton_;
    QMenu* presetMenu_;
};
