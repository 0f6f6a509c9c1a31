#pragma once
// The tone-mapping operators panel: Compression, Gamma, the "Local Contrast" operator with its
// sliders and the micro-detail enhancer, the local tone-mapping operator ("Mask") and Sharpness.
// Each edit writes its value into the settings record at once, rebuilds the tables that value feeds and emits
// paramsChanged(). Main thread only; the record must not be in use by a tone-mapping pass while the panel is
// enabled.

#include "tonemap/toneMappingSettings.h"

#include <QWidget>
#include <vector>

class QCheckBox;
class paramSlider;

class tonemappingGroup : public QWidget {
    Q_OBJECT
public:
    /// One slider's parameter: label, range, initial value, record field, the tables it feeds.
    struct binding;

    explicit tonemappingGroup(QWidget* parent = nullptr);

    /// The record the controls edit (the project's interactive one); null detaches the panel.
    void setSettings(toneMappingSettings_t* settings);
    toneMappingSettings_t* settings() const { return settings_; }
    /// Shows the record's values in every control without reacting to them, then emits one
    /// paramsChanged() (after a settings load or the default settings).
    void setControlsFromSettings();

    /// The slider pair of a parameter by its object name ("compression", "gamma", "lcStrength", ...).
    paramSlider* control(const QString& name) const;
    QCheckBox* localContrastBox() const { return localContrastBox_; }
    QCheckBox* maskBox() const { return maskBox_; }

signals:
    /// A parameter of the record changed; the preview should be tone-mapped again.
    void paramsChanged();

private:
    void addControl(const binding& b);
    void valueEdited(const binding& b, double value, bool dragging);
    void sliderReleased();
    void updateDependentControls();

    toneMappingSettings_t* settings_ = nullptr;
    std::vector<std::pair<paramSlider*, const binding*>> controls_;
    QCheckBox* localContrastBox_ = nullptr;
    QCheckBox* maskBox_ = nullptr;
    bool changedWhileDragging_ = false;
};
