#pragma once
// The "Color adjustment" panel: Temperature (shown in kelvin), Tint (shown as its factor on green)
// and Hue (in degrees), the white-balance lock, the neutral-point eyedropper and the swatch of the
// light the white balance corrects for. Each change writes the record, recomputes the white-balance
// gains and emits valueChanged(). Main thread only; the record must not be in use by a tone-mapping
// pass while the panel is enabled.

#include "tonemap/colorAdjustment.h"
#include "tonemap/toneMappingSettings.h"

#include <QWidget>

class QLabel;
class QToolButton;
class paramSlider;

class colorAdjustGroup : public QWidget {
    Q_OBJECT
public:
    /// The sample mode of the white-balance eyedropper.
    static constexpr int kWhiteBalanceSample = 3;

    explicit colorAdjustGroup(QWidget* parent = nullptr);

    void setSettings(toneMappingSettings_t* settings);
    /// Shows the record's Temperature, Tint and Hue without signals, then recomputes the gains.
    void setControlsFromSettings();
    /// While locked, loaded settings keep the current Temperature, Tint and Hue.
    bool whiteBalanceLocked() const;
    /// Sets Temperature and Tint found for a neutral sample and applies them (emits valueChanged()).
    void applyWhiteBalance(const halvora::whiteBalanceSetting_t& wb);

    paramSlider* temperature() const { return temperature_; }
    paramSlider* tint() const { return tint_; }
    paramSlider* hue() const { return hue_; }
    QToolButton* lockButton() const { return lock_; }
    QToolButton* sampleButton() const { return sample_; }
    QLabel* swatch() const { return swatch_; }

signals:
    /// Temperature, Tint or Hue changed; the gains are recomputed.
    void valueChanged();
    /// A slider is being dragged (the record and the gains follow it).
    void valueChangedLive();
    /// The eyedropper was switched on (kWhiteBalanceSample) or off (0).
    void sampleModeChanged(int mode);

public slots:
    /// Reads the controls into the record, recomputes the gains and the swatch; emits valueChanged()
    /// unless `force`.
    void update(bool force);
    void update();
    /// The eyedropper off, without signals (the sample was taken or abandoned).
    void endSampleMode();

private:
    void showSwatch();

    toneMappingSettings_t* settings_ = nullptr;
    paramSlider* temperature_;
    paramSlider* tint_;
    paramSlider* hue_;
    QToolButton* lock_;
    QToolButton* sample_;
    QLabel* swatch_;
};
