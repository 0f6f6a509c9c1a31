#pragma once
// The "Color saturation" panel: global Saturation and the two selective-saturation editors, "Hue
// selective saturation" and "Brightness selective saturation". Each change writes the record,
// regenerates the table it feeds and signals. Main thread only; the record must not be in use by a
// tone-mapping pass while the panel is enabled.

#include "tonemap/toneMappingSettings.h"

#include <QWidget>

class paramSlider;
class selectiveCurveTool;

class colorSaturationGroup : public QWidget {
    Q_OBJECT
public:
    explicit colorSaturationGroup(QWidget* parent = nullptr);

    void setSettings(toneMappingSettings_t* settings);
    /// Shows the record's Saturation and both curves without signals.
    void setControlsFromSettings();

    paramSlider* saturation() const { return saturation_; }
    selectiveCurveTool* hueTool() const { return hue_; }
    selectiveCurveTool* brightnessTool() const { return brightness_; }

signals:
    /// A value or a curve changed (an edit is complete); its table is rebuilt.
    void paramsChanged();
    /// A curve is changing under the mouse (its table is rebuilt).
    void paramsChangedLive();

public slots:
    /// Writes Saturation when the slider sent the change (or when `force`), regenerates the hue
    /// table when its editor sent it (or when `force`), likewise the brightness table; emits
    /// paramsChanged() unless `force`.
    void curveChanged(bool force);

private:
    void changed(QObject* from, bool live);

    toneMappingSettings_t* settings_ = nullptr;
    paramSlider* saturation_;
    selectiveCurveTool* hue_;
    selectiveCurveTool* brightness_;
};
