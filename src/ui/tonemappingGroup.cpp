#include "ui/tonemappingGroup.h"

#include "app/programOptionsSettings.h"
#include "tonemap/rebuildOnChange.h"
#include "ui/paramSlider.h"

#include <QCheckBox>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <optional>

using halvora::toneMappingChange;

struct tonemappingGroup::binding {
    enum dependency { none, localContrast, mask };
    const char* name;
    const char* label;
    double minimum, maximum, initial;
    double toneMappingParameters_t::*field;
    std::optional<toneMappingChange> rebuild; ///< tables fed by the value; none: read per pixel
    dependency dependsOn;
};

namespace {

using P = toneMappingParameters_t;
namespace r = halvora::tmRange;

// Labels, ranges and initial values of the controls, in the order they are shown.
const tonemappingGroup::binding* bindings(size_t& count) {
    using b = tonemappingGroup::binding;
    static const b table[] = {
        {"compression", QT_TRANSLATE_NOOP("tonemappingGroup", "Compression"), r::kCompressionMin,
         r::kCompressionMax, 1.4, &P::compression, std::nullopt, b::none},
        {"gamma", QT_TRANSLATE_NOOP("tonemappingGroup", "Gamma"), r::kGammaMin, r::kGammaMax, 0.9, &P::gamma,
         toneMappingChange::gamma, b::none},
        {"lcStrength", QT_TRANSLATE_NOOP("tonemappingGroup", "Strength"), 0, 1, 0.3, &P::lcStrength,
         toneMappingChange::localContrastStrength, b::localContrast},
        {"highlights", QT_TRANSLATE_NOOP("tonemappingGroup", "Highlights"), 0, 1, 0.3, &P::highlights,
         std::nullopt, b::localContrast},
        {"shadows", QT_TRANSLATE_NOOP("tonemappingGroup", "Shadows"), 0, 1, 0.3, &P::shadows, std::nullopt,
         b::localContrast},
        {"blackness", QT_TRANSLATE_NOOP("tonemappingGroup", "Blackness"), 0, 1, 0.3, &P::blackness,
         std::nullopt, b::localContrast},
        {"range", QT_TRANSLATE_NOOP("tonemappingGroup", "Range"), 0, 1, 0.5, &P::range, std::nullopt,
         b::localContrast},
        // The micro-detail step is part of the local-contrast branch of the per-pixel chain.
        {"micro", QT_TRANSLATE_NOOP("tonemappingGroup", "Micro details enhancer"), 0, 1, 0.3, &P::micro,
         std::nullopt, b::localContrast},
        {"maskStrength", QT_TRANSLATE_NOOP("tonemappingGroup", "Strength"), 0, 1, 0.3, &P::maskStrength,
         toneMappingChange::maskStrength, b::mask},
        {"sharpness", QT_TRANSLATE_NOOP("tonemappingGroup", "Sharpness"), 0, 1, 0.3, &P::sharpness,
         std::nullopt, b::none},
    };
    count = std::size(table);
    return table;
}

} // namespace

tonemappingGroup::tonemappingGroup(QWidget* parent) : QWidget(parent) {
    setObjectName("tonemappingGroup");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    size_t count = 0;
    const binding* table = bindings(count);
    for (size_t i = 0; i < count; ++i) {
        const binding& b = table[i];
        if (b.dependsOn == binding::localContrast && !localContrastBox_) {
            localContrastBox_ = new QCheckBox(tr("Local Contrast"), this);
            localContrastBox_->setObjectName("localContrastEnabled");
            layout->addWidget(localContrastBox_);
            connect(localContrastBox_, &QCheckBox::toggled, this, [this](bool on) {
                if (settings_) settings_->localContrastEnabled = on;
                updateDependentControls();
                if (settings_) emit paramsChanged();
            });
        }
        if (b.dependsOn == binding::mask && !maskBox_) {
            maskBox_ = new QCheckBox(tr("Mask"), this);
            maskBox_->setObjectName("maskEnabled");
            maskBox_->setToolTip(
                tr("Local tone mapping: darkens bright surroundings and brightens dark ones."));
            layout->addWidget(maskBox_);
            connect(maskBox_, &QCheckBox::toggled, this, [this](bool on) {
                if (settings_) settings_->maskEnabled = on;
                updateDependentControls();
                if (settings_) emit paramsChanged();
            });
        }
        addControl(b);
    }
    layout->addStretch(1);
    updateDependentControls();
}

void tonemappingGroup::addControl(const binding& b) {
    auto* control = new paramSlider(tr(b.label), b.minimum, b.maximum, b.initial, this);
    control->setObjectName(QString::fromLatin1(b.name));
    if (b.dependsOn != binding::none) control->setContentsMargins(12, 0, 0, 0);
    layout()->addWidget(control);
    controls_.emplace_back(control, &b);
    connect(control, &paramSlider::valueEdited, this,
            [this, &b](double value, bool dragging) { valueEdited(b, value, dragging); });
    connect(control, &paramSlider::released, this, &tonemappingGroup::sliderReleased);
}

void tonemappingGroup::valueEdited(const binding& b, double value, bool dragging) {
    if (!settings_) return;
    settings_->*b.field = value;
    if (b.rebuild) halvora::rebuildToneMappingTables(*settings_, *b.rebuild);
    // Without live tone mapping a drag shows its numbers only; the picture follows on release.
    if (dragging && !programOptionsSettings::instance().liveToneMapping) {
        changedWhileDragging_ = true;
        return;
    }
    emit paramsChanged();
}

void tonemappingGroup::sliderReleased() {
    if (!changedWhileDragging_) return;
    changedWhileDragging_ = false;
    if (settings_) emit paramsChanged();
}

void tonemappingGroup::setSettings(toneMappingSettings_t* settings) {
    settings_ = settings;
    changedWhileDragging_ = false;
}

void tonemappingGroup::setControlsFromSettings() {
    if (!settings_) return;
    {
        const QSignalBlocker blockLc(localContrastBox_);
        const QSignalBlocker blockMask(maskBox_);
        localContrastBox_->setChecked(settings_->localContrastEnabled);
        maskBox_->setChecked(settings_->maskEnabled);
        for (const auto& [control, b] : controls_)
            control->setValueQuietly(settings_->*(b->field));
    }
    updateDependentControls();
    emit paramsChanged();
}

paramSlider* tonemappingGroup::control(const QString& name) const {
    for (const auto& [control, b] : controls_)
        if (control->objectName() == name) return control;
    return nullptr;
}

// Sliders of a switched-off operator would do nothing: they follow their check box.
void tonemappingGroup::updateDependentControls() {
    for (const auto& [control, b] : controls_) {
        if (b->dependsOn == binding::localContrast)
            control->setEnabled(localContrastBox_->isChecked());
        else if (b->dependsOn == binding::mask)
            control->setEnabled(maskBox_->isChecked());
    }
}
