// The editors of the tone-mapping tab under the mouse: the tone curve (hover, insert, drag between
// neighbours, delete, 31 points, presets, interpolation, resets), the histogram (no-clip and
// default, the padlock, the handles, the eyedroppers), the selective-saturation editor with its
// sigma slider, and the colour controls with their units. Expected curve values are worked out here
// from the knee points, not taken from the program's tables.

#include "tonemap/colorAdjustment.h"
#include "tonemap/histogramEditing.h"
#include "tonemap/rebuildOnChange.h"
#include "tonemap/toneCurvePresets.h"
#include "ui/colorAdjustGroup.h"
#include "ui/colorSaturationGroup.h"
#include "ui/histogramTool.h"
#include "ui/histogramToolArea.h"
#include "ui/paramSlider.h"
#include "ui/selectiveCurveTool.h"
#include "ui/selectiveCurveToolArea.h"
#include "ui/toneCurveTool.h"
#include "ui/toneCurveToolArea.h"
#include "uiInput.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTabBar>
#include <QToolButton>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace halvora::test;

namespace {

// A record with its tables, as the project holds it.
std::unique_ptr<toneMappingSettings_t> allocatedSettings() {
    auto s = std::make_unique<toneMappingSettings_t>();
    EXPECT_TRUE(s->tables.allocate());
    halvora::rebuildToneMappingTables(*s, halvora::toneMappingChange::everything);
    return s;
}

// Curve-table value at x (0 … 1) as the per-pixel chain reads it, on 0 … 1.
double tableAt(const toneMappingSettings_t& s, int curve, double x) {
    return s.tables.curveTable[curve][size_t(std::lround(x * 32639))] / 32639.0;
}

struct curveFixture {
    std::unique_ptr<toneMappingSettings_t> s = allocatedSettings();
    toneCurveTool tool;
    toneCurveToolArea* area;
    QSignalSpy changed{&tool, &toneCurveTool::curvesChanged};
    QSignalSpy live{&tool, &toneCurveTool::curvesChangedLive};

    curveFixture() {
        tool.resize(320, 300);
        tool.setSettings(s.get());
        tool.show();
        area = tool.area();
    }
    QPointF at(double x, double y) const {
        const halvora::curveFrame_t f = area->frame();
        return QPointF(f.pixelX(x), f.pixelY(y));
    }
    std::vector<curvePoint_t>& master() { return s->curves[0].kneePoints; }
};

} // namespace

// The mouse reaches the knee-point rules (hover radius, neighbours, the two-point minimum: tests/tonemap
// kneePointEditingTest) and every edit reaches the settings, their table and the two signals.
TEST(toneCurveEditor, insertDragAndDeleteWithTheMouse) {
    curveFixture f;
    ASSERT_GT(f.area->frame().width, 100);
    // A click on empty space inserts a point there, marks the curve modified and rebuilds its table.
    press(f.area, f.at(0.5, 0.3));
    EXPECT_EQ(f.live.count(), 1);
    EXPECT_EQ(f.changed.count(), 0) << "the final signal waits for the release";
    release(f.area, f.at(0.5, 0.3));
    ASSERT_EQ(f.changed.count(), 1);
    EXPECT_EQ(f.changed.at(0).at(0).toInt(), 0);
    ASSERT_EQ(f.master().size(), 3u);
    EXPECT_NEAR(f.master()[1].x, 0.5, 0.01);
    EXPECT_NEAR(f.master()[1].y, 0.3, 0.01);
    EXPECT_FALSE(f.s->curves[0].identity);
    EXPECT_NEAR(tableAt(*f.s, 0, f.master()[1].x), f.master()[1].y, 1e-4)
        << "the spline meets its knee point";

    // Dragged: the point follows and the table with it.
    const QPointF knee = f.at(f.master()[1].x, f.master()[1].y);
    press(f.area, knee + QPointF(1, 1));
    moveTo(f.area, f.at(0.4, 0.6), true);
    release(f.area, f.at(0.4, 0.6));
    EXPECT_NEAR(f.master()[1].x, 0.4, 0.01);
    EXPECT_NEAR(tableAt(*f.s, 0, f.master()[1].x), f.master()[1].y, 1e-4);
    EXPECT_EQ(f.changed.count(), 2);

    // A right click on it removes it again.
    click(f.area, f.at(f.master()[1].x, f.master()[1].y), Qt::RightButton);
    EXPECT_EQ(f.master().size(), 2u);
    EXPECT_EQ(f.changed.count(), 3);
}

TEST(toneCurveEditor, tabsPresetsInterpolationAndResets) {
    curveFixture f;
    f.tool.tabs()->setCurrentIndex(2);
    EXPECT_EQ(f.area->curve(), &f.s->curves[2]);

    // The preset menu: three ranges of four contrast steps; "Shadows" › "Contrast ++" is preset 4 (its
    // knee points: toneCurvePresets in tests/tonemap).
    const QList<QAction*> ranges = f.tool.presetMenu()->actions();
    ASSERT_EQ(ranges.size(), 3);
    const QList<QAction*> steps = ranges[1]->menu()->actions();
    ASSERT_EQ(steps.size(), 4);
    f.s->curves[2].type = curveSettings_t::kLinear;
    steps[0]->trigger();
    ASSERT_EQ(f.changed.count(), 1);
    EXPECT_EQ(f.changed.at(0).at(0).toInt(), 2);
    const std::vector<curvePoint_t>& green = f.s->curves[2].kneePoints;
    ASSERT_EQ(green.size(), 5u);
    EXPECT_DOUBLE_EQ(green[2].x, 0.293);
    EXPECT_EQ(f.s->curves[2].type, curveSettings_t::kSpline) << "a preset is a spline";
    EXPECT_EQ(f.tool.modeBox()->currentText(), "Cubic spline interpolation");
    EXPECT_NEAR(tableAt(*f.s, 2, 0.293), 0.174, 1e-4);
    EXPECT_TRUE(f.s->curves[0].identity) << "only the current tab's curve changes";
    EXPECT_NEAR(tableAt(*f.s, 0, 0.293), 0.293, 1e-4);

    // Linear: halfway between two knees lies halfway between their values.
    f.tool.modeBox()->setCurrentIndex(f.tool.modeBox()->findText("Linear"));
    EXPECT_EQ(f.s->curves[2].type, curveSettings_t::kLinear);
    EXPECT_EQ(f.changed.count(), 2);
    EXPECT_NEAR(tableAt(*f.s, 2, (0.141 + 0.293) / 2), (0.043 + 0.174) / 2, 1e-4);

    // Another tab shows its own curve and mode.
    f.tool.tabs()->setCurrentIndex(0);
    EXPECT_EQ(f.tool.modeBox()->currentText(), "Cubic spline interpolation");
    f.tool.presetActTriggered(8); // Highlights ++
    EXPECT_EQ(f.s->curves[0].kneePoints.size(), 5u);
    EXPECT_NEAR(tableAt(*f.s, 0, 0.679), 0.81, 1e-4);

    // "Reset" restores the current curve only, "Reset all" every curve.
    f.tool.resetCurrentCurve();
    EXPECT_TRUE(f.s->curves[0].identity);
    EXPECT_FALSE(f.s->curves[2].identity);
    EXPECT_NEAR(tableAt(*f.s, 0, 0.679), 0.679, 1e-4);
    f.tool.resetAllCurves();
    for (int c = 0; c < 4; ++c) {
        EXPECT_TRUE(f.s->curves[c].identity) << c;
        EXPECT_EQ(f.s->curves[c].kneePoints.size(), 2u);
    }
    EXPECT_NEAR(tableAt(*f.s, 2, 0.2), 0.2, 1e-4);
}

TEST(histogramEditor, noClipDefaultLockAndTypedShares) {
    auto s = allocatedSettings();
    histogramTool tool;
    tool.setSettings(s.get());
    QSignalSpy clip(&tool, &histogramTool::clipPercentageChanged);
    QSignalSpy lock(&tool, &histogramTool::lockChanged);
    s->blackLevel = 0.2;
    s->whiteLevel = 0.7;

    tool.noClipButton()->click();
    ASSERT_EQ(clip.count(), 1);
    EXPECT_EQ(clip.at(0).at(0).toDouble(), 0.0);
    EXPECT_EQ(clip.at(0).at(1).toDouble(), 0.0);
    EXPECT_FALSE(tool.lockButton()->isChecked());
    EXPECT_FALSE(s->autoClipping);
    EXPECT_EQ(s->blackLevel, 0.0);
    EXPECT_EQ(s->whiteLevel, 1.0);
    tool.defaultButton()->click();
    ASSERT_EQ(clip.count(), 2) << "each button sends one change, not one per box";
    EXPECT_DOUBLE_EQ(clip.at(1).at(0).toDouble(), 0.1);
    EXPECT_DOUBLE_EQ(clip.at(1).at(1).toDouble(), 0.2);
    EXPECT_TRUE(tool.lockButton()->isChecked());
    EXPECT_TRUE(s->autoClipping);
    EXPECT_DOUBLE_EQ(tool.blackClipBox()->value(), 0.1);
    EXPECT_DOUBLE_EQ(tool.whiteClipBox()->value(), 0.2);
    EXPECT_EQ(lock.count(), 0) << "the buttons report through clipPercentageChanged";

    // The padlock: off and on again; on, it asks for the shares the boxes show.
    tool.lockButton()->click();
    ASSERT_EQ(lock.count(), 1);
    EXPECT_FALSE(lock.at(0).at(0).toBool());
    EXPECT_FALSE(s->autoClipping);
    {
        const QSignalBlocker quiet(tool.blackClipBox());
        tool.blackClipBox()->setValue(0.75);
    }
    tool.lockButton()->click();
    EXPECT_TRUE(s->autoClipping);
    EXPECT_DOUBLE_EQ(s->blackClip, 0.75);
    EXPECT_DOUBLE_EQ(s->whiteClip, 0.2);

    // A typed share is a request: automatic clipping goes on.
    tool.lockButton()->click();
    tool.whiteClipBox()->setValue(1.25);
    EXPECT_TRUE(s->autoClipping);
    EXPECT_TRUE(tool.lockButton()->isChecked());
    EXPECT_DOUBLE_EQ(s->whiteClip, 1.25);
    EXPECT_DOUBLE_EQ(clip.last().at(1).toDouble(), 1.25);
    // The boxes hold 4 decimals and stop at 99.9999.
    tool.blackClipBox()->setValue(150);
    EXPECT_DOUBLE_EQ(s->blackClip, 99.9999);

    // The tone mapping switched automatic clipping off.
    tool.disableAutoClipping();
    EXPECT_FALSE(tool.lockButton()->isChecked());
    EXPECT_FALSE(s->autoClipping);
}

TEST(histogramEditor, handlesAndEyedroppers) {
    auto s = allocatedSettings();
    histogramTool tool;
    tool.resize(300, 200);
    tool.setSettings(s.get());
    tool.show();
    histogramToolArea* area = tool.area();
    s->autoClipping = true;
    s->blackLevel = 0.2;
    s->whiteLevel = 0.6;
    tool.setControlsFromSettings();
    QSignalSpy live(&tool, &histogramTool::pointsMovedLive);
    QSignalSpy moved(&tool, &histogramTool::pointsMoved);
    QSignalSpy lock(&tool, &histogramTool::lockChanged);
    const double y = area->height() / 2.0;

    // Far from both handles nothing is taken.
    press(area, QPointF(area->levelX(0.9), y));
    moveTo(area, QPointF(area->levelX(0.95), y), true);
    release(area, QPointF(area->levelX(0.95), y));
    EXPECT_EQ(live.count(), 0);
    EXPECT_EQ(s->whiteLevel, 0.6);

    // The black handle, dragged right.
    press(area, QPointF(area->levelX(0.2) + 2, y));
    moveTo(area, QPointF(area->levelX(0.4), y), true);
    EXPECT_NEAR(s->blackLevel, 0.4, 0.01);
    EXPECT_FALSE(s->autoClipping) << "a level set by hand stops automatic clipping";
    ASSERT_EQ(lock.count(), 1);
    EXPECT_FALSE(tool.lockButton()->isChecked());
    // Past the white one it stops below it (the gap rule: histogramEditing.levelsKeepWhiteAboveBlack).
    moveTo(area, QPointF(area->levelX(0.9), y), true);
    EXPECT_LT(s->blackLevel, s->whiteLevel);
    EXPECT_EQ(moved.count(), 0);
    release(area, QPointF(area->levelX(0.9), y));
    EXPECT_EQ(moved.count(), 1);
    EXPECT_GE(live.count(), 2);

    // Eyedroppers: one at a time, a second click leaves sample mode.
    QSignalSpy mode(&tool, &histogramTool::sampleModeChanged);
    tool.blackSampleButton()->click();
    tool.whiteSampleButton()->click();
    EXPECT_FALSE(tool.blackSampleButton()->isChecked());
    tool.whiteSampleButton()->click();
    ASSERT_EQ(mode.count(), 3);
    EXPECT_EQ(mode.at(0).at(0).toInt(), 1);
    EXPECT_EQ(mode.at(1).at(0).toInt(), 2);
    EXPECT_EQ(mode.at(2).at(0).toInt(), 0);
}

TEST(selectiveEditor, pointsSigmaSliderAndTables) {
    auto s = allocatedSettings();
    colorSaturationGroup group;
    group.resize(320, 500);
    group.setSettings(s.get());
    group.show();
    QSignalSpy changed(&group, &colorSaturationGroup::paramsChanged);
    selectiveCurveTool* hue = group.hueTool();
    selectiveCurveToolArea* area = hue->area();
    const halvora::curveFrame_t f = area->frame();

    // Pure green (hue 120°, x = 1/3) pulled up to 0.9: more saturation at green, none at blue.
    click(area, QPointF(f.pixelX(1.0 / 3), f.pixelY(0.9)));
    ASSERT_EQ(s->hueSelective.size(), 1u);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(s->tables.hueSelectiveActive);
    const std::vector<double>& table = s->tables.selectiveTable[0];
    const double greenOffset = table[size_t(32640 / 3)];
    EXPECT_NEAR(greenOffset, (s->hueSelective[0].y - 0.5) * 2, 0.01) << "the point's own amplitude";
    EXPECT_EQ(table[size_t(32640 * 2 / 3)], 0.0) << "blue is far outside a width of 1";

    // The sigma slider edits the selected point and follows the selection.
    hue->sigmaSlider()->setValue(15);
    EXPECT_DOUBLE_EQ(s->hueSelective[0].sigma, 1.5);
    EXPECT_EQ(changed.count(), 2);
    click(area, QPointF(f.pixelX(0.75), f.pixelY(0.2)));
    ASSERT_EQ(s->hueSelective.size(), 2u);
    EXPECT_EQ(hue->sigmaSlider()->value(), 10) << "a new point has the initial width";
    hue->sigmaSlider()->setValue(4);
    EXPECT_DOUBLE_EQ(s->hueSelective[1].sigma, 0.4);
    click(area, QPointF(f.pixelX(s->hueSelective[0].x), f.pixelY(s->hueSelective[0].y)));
    EXPECT_EQ(hue->sigmaSlider()->value(), 15);
    EXPECT_LT(s->tables.selectiveTable[0][size_t(0.75 * 32639)], -0.5)
        << "the second point takes colour away";

    // Only two points: a right click removes neither; Reset clears the curve and its effect.
    click(area, QPointF(f.pixelX(0.75), f.pixelY(0.2)), Qt::RightButton);
    EXPECT_EQ(s->hueSelective.size(), 2u);
    hue->resetCurve();
    EXPECT_TRUE(s->hueSelective.empty());
    for (size_t j = 0; j < 32640; j += 97)
        ASSERT_EQ(s->tables.selectiveTable[0][j], 0.0);

    // The brightness editor is separate; the saturation slider writes its value.
    EXPECT_TRUE(s->brightnessSelective.empty());
    group.saturation()->spinBox()->setValue(1.4);
    EXPECT_DOUBLE_EQ(s->saturation, 1.4);
}

TEST(colorAdjustEditor, unitsGainsSwatchAndLock) {
    auto s = allocatedSettings();
    colorAdjustGroup group;
    group.setSettings(s.get());
    QSignalSpy changed(&group, &colorAdjustGroup::valueChanged);
    group.temperature()->spinBox()->setValue(1.5);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_DOUBLE_EQ(s->temperature, 1.5);
    EXPECT_EQ(group.temperature()->unitLabel()->text(), "11000 K");
    const std::array<double, 3> g = halvora::whiteBalanceGains(1.5, 1.0);
    EXPECT_DOUBLE_EQ(s->tables.wbGain[0], g[0]);
    EXPECT_DOUBLE_EQ(s->tables.wbGain[1], g[1]);
    // Bluish light at 11000 K: the swatch is blue-heavy.
    const QString sheet = group.swatch()->styleSheet();
    const QColor swatch(sheet.mid(sheet.indexOf('#'), 7));
    EXPECT_GT(swatch.blue(), swatch.red());

    group.tint()->spinBox()->setValue(2.0);
    EXPECT_EQ(group.tint()->unitLabel()->text(), QString::fromUtf8("green \u00d70.58"));
    group.hue()->spinBox()->setValue(0.5);
    EXPECT_EQ(group.hue()->unitLabel()->text(), QString::fromUtf8("-90\u00b0"));
    EXPECT_DOUBLE_EQ(s->hue, 0.5);

    group.applyWhiteBalance({0.8, 1.1});
    EXPECT_DOUBLE_EQ(group.temperature()->value(), 0.8);
    EXPECT_DOUBLE_EQ(s->tint, 1.1);
    EXPECT_EQ(changed.count(), 4);
    EXPECT_FALSE(group.whiteBalanceLocked());
    group.lockButton()->click();
    EXPECT_TRUE(group.whiteBalanceLocked());
}
