#include "ui/toneCurveTool.h"

#include "tonemap/rebuildOnChange.h"
#include "tonemap/toneCurvePresets.h"
#include "ui/toneCurveToolArea.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabBar>
#include <QVBoxLayout>

using halvora::toneMappingChange;

toneCurveTool::toneCurveTool(QWidget* parent) : QWidget(parent) {
    setObjectName("toneCurveTool");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    tabs_ = new QTabBar(this);
    tabs_->setObjectName("toneCurveTabs");
    tabs_->setExpanding(true);
    for (const QString& name : {tr("RGB"), tr("Red"), tr("Green"), tr("Blue")})
        tabs_->addTab(name);
    layout->addWidget(tabs_);
    area_ = new toneCurveToolArea(this);
    layout->addWidget(area_);

    auto* row = new QHBoxLayout;
    mode_ = new QComboBox(this);
    mode_->setObjectName("toneCurveMode");
    // Entries in the order of the curve type codes: 0 spline, 1 linear.
    mode_->addItem(tr("Cubic spline interpolation"), curveSettings_t::kSpline);
    mode_->addItem(tr("Linear"), curveSettings_t::kLinear);
    row->addWidget(mode_, 1);
    presetButton_ = new QPushButton(tr("Preset"), this);
    presetButton_->setObjectName("toneCurvePreset");
    row->addWidget(presetButton_);
    layout->addLayout(row);
    auto* resets = new QHBoxLayout;
    auto* reset = new QPushButton(tr("Reset"), this);
    reset->setObjectName("toneCurveReset");
    auto* resetAll = new QPushButton(tr("Reset all"), this);
    resetAll->setObjectName("toneCurveResetAll");
    resets->addWidget(reset);
    resets->addWidget(resetAll);
    layout->addLayout(resets);

    presetMenu_ = new QMenu(this);
    const char* const ranges[] = {QT_TR_NOOP("Whole range"), QT_TR_NOOP("Shadows"), QT_TR_NOOP("Highlights")};
    const char* const steps[] = {"++", "+", "-", "--"};
    for (int r = 0; r < 3; ++r) {
        QMenu* sub = presetMenu_->addMenu(tr(ranges[r]));
        for (int s = 0; s < 4; ++s) {
            QAction* action = sub->addAction(tr("Contrast") + " " + steps[s]);
            const int p = 4 * r + s;
            connect(action, &QAction::triggered, this, [this, p] { presetActTriggered(p); });
        }
    }

    connect(tabs_, &QTabBar::currentChanged, this, &toneCurveTool::tabSwitched);
    connect(mode_, &QComboBox::currentIndexChanged, this, &toneCurveTool::modeToggle);
    connect(presetButton_, &QPushButton::clicked, this, &toneCurveTool::showPresetMenu);
    connect(reset, &QPushButton::clicked, this, &toneCurveTool::resetCurrentCurve);
    connect(resetAll, &QPushButton::clicked, this, qOverload<>(&toneCurveTool::resetAllCurves));
    connect(area_, &toneCurveToolArea::curveChangedLive, this, [this] {
        rebuild(currentCurve());
        emit curvesChangedLive(currentCurve());
    });
    connect(area_, &toneCurveToolArea::curveChanged, this, [this] {
        rebuild(currentCurve());
        emit curvesChanged(currentCurve());
    });
}

int toneCurveTool::currentCurve() const {
    return std::clamp(tabs_->currentIndex(), 0, 3);
}

void toneCurveTool::setSettings(toneMappingSettings_t* settings) {
    settings_ = settings;
    setControlsFromSettings();
}

void toneCurveTool::setControlsFromSettings() {
    const int i = currentCurve();
    area_->setCurve(settings_ ? &settings_->curves[i] : nullptr, i);
    showModeOf(i);
}

void toneCurveTool::showModeOf(int i) {
    const QSignalBlocker block(mode_);
    const int type = settings_ ? settings_->curves[i].type : curveSettings_t::kSpline;
    mode_->setCurrentIndex(std::max(0, mode_->findData(type)));
}

void toneCurveTool::rebuild(int i) {
    if (!settings_) return;
    static const toneMappingChange changes[] = {toneMappingChange::masterCurve, toneMappingChange::redCurve,
                                                toneMappingChange::greenCurve, toneMappingChange::blueCurve};
    halvora::rebuildToneMappingTables(*settings_, changes[i]);
}

void toneCurveTool::tabSwitched(int i) {
    Q_UNUSED(i);
    setControlsFromSettings();
}

void toneCurveTool::modeToggle() {
    if (!settings_) return;
    const int i = currentCurve();
    curveSettings_t& curve = settings_->curves[i];
    const int type = mode_->currentData().toInt();
    if (curve.type == type) return;
    curve.type = type;
    // The interpolation of a straight line makes no difference; a curve the user shaped changes.
    if (curve.identity) return;
    rebuild(i);
    area_->update();
    emit curvesChanged(i);
}

void toneCurveTool::showPresetMenu() {
    presetMenu_->popup(presetButton_->mapToGlobal(QPoint(0, presetButton_->height())));
}

void toneCurveTool::presetActTriggered(int p) {
    std::vector<curvePoint_t> points = halvora::toneCurvePreset(p);
    if (!settings_ || points.empty()) return;
    const int i = currentCurve();
    curveSettings_t& curve = settings_->curves[i];
    curve.kneePoints = std::move(points);
    curve.type = curveSettings_t::kSpline;
    curve.identity = false;
    area_->setCurve(&curve, i);
    showModeOf(i);
    rebuild(i);
    emit curvesChanged(i);
}

void toneCurveTool::resetCurve(int i, bool silent) {
    if (!settings_ || i < 0 || i > 3) return;
    settings_->curves[i].reset();
    rebuild(i);
    if (i == currentCurve()) setControlsFromSettings();
    if (!silent) emit curvesChanged(i);
}

void toneCurveTool::resetCurve(int i) {
    resetCurve(i, false);
}

void toneCurveTool::resetCurrentCurve() {
    resetCurve(currentCurve(), false);
}

void toneCurveTool::resetAllCurves(bool silent) {
    if (!settings_) return;
    for (curveSettings_t& curve : settings_->curves)
        curve.reset();
    halvora::rebuildToneMappingTables(*settings_, toneMappingChange::allCurvesReset);
    setControlsFromSettings();
    if (!silent) emit curvesChanged(0);
}

void toneCurveTool::resetAllCurves() {
    resetAllCurves(false);
}

void toneCurveTool::setWBpoints(double black, double white) {
    area_->setLevels(black, white);
}
