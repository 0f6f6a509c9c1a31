#include "ui/colorSaturationGroup.h"

#include "tonemap/rebuildOnChange.h"
#include "ui/paramSlider.h"
#include "ui/selectiveCurveTool.h"

#include <QVBoxLayout>

using halvora::toneMappingChange;

colorSaturationGroup::colorSaturationGroup(QWidget* parent) : QWidget(parent) {
    setObjectName("colorSaturationGroup");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    saturation_ = new paramSlider(tr("Saturation"), 0, halvora::tmRange::kColorMax, 1.0, this);
    saturation_->setObjectName("saturation");
    hue_ = new selectiveCurveTool(tr("Hue selective saturation"), true, this);
    brightness_ = new selectiveCurveTool(tr("Brightness selective saturation"), false, this);
    layout->addWidget(saturation_);
    layout->addWidget(hue_);
    layout->addWidget(brightness_);

    connect(saturation_, &paramSlider::valueEdited, this,
            [this](double, bool dragging) { changed(saturation_, dragging); });
    for (selectiveCurveTool* tool : {hue_, brightness_}) {
        connect(tool, &selectiveCurveTool::curveChanged, this, [this, tool] { changed(tool, false); });
        connect(tool, &selectiveCurveTool::curveChangedLive, this, [this, tool] { changed(tool, true); });
    }
    connect(saturation_, &paramSlider::released, this, [this] {
        if (settings_) emit paramsChanged();
    });
}

void colorSaturationGroup::setSettings(toneMappingSettings_t* settings) {
    settings_ = settings;
    setControlsFromSettings();
}

void colorSaturationGroup::setControlsFromSettings() {
    hue_->setPoints(settings_ ? &settings_->hueSelective : nullptr);
    brightness_->setPoints(settings_ ? &settings_->brightnessSelective : nullptr);
    if (settings_) saturation_->setValueQuietly(settings_->saturation);
}

void colorSaturationGroup::changed(QObject* from, bool live) {
    if (!settings_) return;
    if (from == saturation_) settings_->saturation = saturation_->value();
    if (from == hue_) halvora::rebuildToneMappingTables(*settings_, toneMappingChange::hueSelective);
    if (from == brightness_)
        halvora::rebuildToneMappingTables(*settings_, toneMappingChange::brightnessSelective);
    if (live)
        emit paramsChangedLive();
    else
        emit paramsChanged();
}

void colorSaturationGroup::curveChanged(bool force) {
    if (!settings_) return;
    if (force) {
        settings_->saturation = saturation_->value();
        halvora::rebuildToneMappingTables(*settings_, toneMappingChange::hueSelective);
        halvora::rebuildToneMappingTables(*settings_, toneMappingChange::brightnessSelective);
        return;
    }
    changed(sender(), false);
}
