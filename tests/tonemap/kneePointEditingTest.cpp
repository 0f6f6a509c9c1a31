// The curve editors' rules without a display: hover radius, insertion up to 31 points, dragging
// kept between the neighbours, deletion down to 2 points, and the tone-curve presets drawn through
// their knee points.

#include "tonemap/kneePointEditing.h"
#include "tonemap/tableBuilders.h"
#include "tonemap/toneCurvePresets.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace halvora;

namespace {

// A 201 × 101 pixel square with its origin at (10, 20): x = (px − 10) / 200, y = 1 − (py − 20) / 100.
curveFrame_t testFrame() {
    curveFrame_t f;
    f.left = 10;
    f.top = 20;
    f.width = 201;
    f.height = 101;
    return f;
}

std::vector<curvePoint_t> identityCurve() {
    return {{0, 0}, {1, 1}};
}

bool sortedByX(const std::vector<curvePoint_t>& points) {
    for (size_t i = 1; i < points.size(); ++i)
        if (points[i].x < points[i - 1].x) return false;
    return true;
}

} // namespace

TEST(kneePointEditing, frameMapsPixelsBothWaysAndClamps) {
    const curveFrame_t f = testFrame();
    EXPECT_DOUBLE_EQ(f.curveX(10), 0.0);
    EXPECT_DOUBLE_EQ(f.curveX(210), 1.0);
    EXPECT_DOUBLE_EQ(f.curveX(60), 0.25);
    EXPECT_DOUBLE_EQ(f.curveY(20), 1.0);
    EXPECT_DOUBLE_EQ(f.curveY(120), 0.0);
    EXPECT_DOUBLE_EQ(f.curveY(45), 0.75);
    // Outside the square the coordinates stop at its edges.
    EXPECT_DOUBLE_EQ(f.curveX(-500), 0.0);
    EXPECT_DOUBLE_EQ(f.curveX(5000), 1.0);
    EXPECT_DOUBLE_EQ(f.curveY(-3), 1.0);
    EXPECT_DOUBLE_EQ(f.curveY(400), 0.0);
    EXPECT_DOUBLE_EQ(f.pixelX(0.25), 60.0);
    EXPECT_DOUBLE_EQ(f.pixelY(0.75), 45.0);
    EXPECT_DOUBLE_EQ(f.curveX(std::nan("")), 0.0);
}

TEST(kneePointEditing, hoverRadiusIsFivePixelsRounded) {
    std::vector<curvePoint_t> points{{0, 0}, {0.5, 0.5}, {1, 1}};
    kneePointEditing<curvePoint_t> e;
    e.setPoints(&points);
    const curveFrame_t f = testFrame(); // (0.5, 0.5) is at pixel (110, 70)
    EXPECT_EQ(e.pointAt(f, 110, 70), 1);
    EXPECT_EQ(e.pointAt(f, 114, 70), 1) << "4 px";
    EXPECT_EQ(e.pointAt(f, 115, 70), -1) << "5 px";
    EXPECT_EQ(e.pointAt(f, 113, 74), -1) << "3-4-5 triangle: 5 px";
    EXPECT_EQ(e.pointAt(f, 110, 74.49), 1) << "4.49 px rounds to 4";
    EXPECT_EQ(e.pointAt(f, 110, 74.51), -1) << "4.51 px rounds to 5";
    // The nearest of two close points wins.
    points.insert(points.begin() + 2, curvePoint_t{0.52, 0.5}); // pixel (114, 70)
    EXPECT_EQ(e.pointAt(f, 113, 70), 2);
    EXPECT_EQ(e.pointAt(f, 111, 70), 1);
    // Hover follows the pointer and reports only changes.
    EXPECT_EQ(e.mouseMove(f, 50, 50), kneeEdit::nothing);
    EXPECT_EQ(e.mouseMove(f, 111, 71), kneeEdit::hoverChanged);
    EXPECT_EQ(e.hovered(), 1);
    EXPECT_EQ(e.mouseMove(f, 110, 70), kneeEdit::nothing);
    EXPECT_EQ(e.mouseMove(f, 150, 20), kneeEdit::hoverChanged);
    EXPECT_EQ(e.hovered(), -1);
}

TEST(kneePointEditing, insertKeepsOrderAndStopsAtThirtyOnePoints) {
    std::vector<curvePoint_t> points = identityCurve();
    kneePointEditing<curvePoint_t> e;
    e.setPoints(&points);
    const curveFrame_t f = testFrame();
    // A click between (0, 0) and (1, 1) goes between them and is dragged at once.
    EXPECT_EQ(e.mousePress(f, 60, 95, true), kneeEdit::live);
    ASSERT_EQ(points.size(), 3u);
    EXPECT_DOUBLE_EQ(points[1].x, 0.25);
    EXPECT_DOUBLE_EQ(points[1].y, 0.25);
    EXPECT_EQ(e.dragged(), 1);
    EXPECT_EQ(e.mouseRelease(), kneeEdit::finished);
    EXPECT_EQ(e.dragged(), -1);
    // Clicks left of it land before it.
    e.mousePress(f, 30, 50, true);
    e.mouseRelease();
    EXPECT_DOUBLE_EQ(points[1].x, 0.1);
    EXPECT_TRUE(sortedByX(points));

    // Fill up to 31 points at distinct columns (5 px apart: just outside the hover radius).
    for (int px = 70; points.size() < 31; px += 5) {
        ASSERT_LT(px, 210);
        const size_t before = points.size();
        e.mousePress(f, px, 20 + (px % 50), true);
        e.mouseRelease();
        ASSERT_EQ(points.size(), before + 1) << px;
    }
    EXPECT_TRUE(sortedByX(points));
    const std::vector<curvePoint_t> full = points;
    EXPECT_EQ(e.mousePress(f, 205, 118, true), kneeEdit::nothing) << "the 32nd point is refused";
    EXPECT_EQ(e.mouseRelease(), kneeEdit::nothing);
    EXPECT_EQ(points.size(), 31u);
    EXPECT_EQ(points.back().x, full.back().x);
    // A full curve still lets its points be dragged.
    EXPECT_EQ(e.mousePress(f, f.pixelX(points[5].x), f.pixelY(points[5].y), true), kneeEdit::selected);
    e.mouseRelease();
}

TEST(kneePointEditing, dragStaysBetweenTheNeighbours) {
    std::vector<curvePoint_t> points{{0, 0}, {0.3, 0.2}, {0.6, 0.7}, {1, 1}};
    kneePointEditing<curvePoint_t> e;
    e.setPoints(&points);
    const curveFrame_t f = testFrame();
    ASSERT_EQ(e.mousePress(f, f.pixelX(0.3), f.pixelY(0.2), true), kneeEdit::selected);
    // Far past the right neighbour: the point stops at its x (and y follows the pointer).
    EXPECT_EQ(e.mouseMove(f, f.pixelX(0.9), f.pixelY(0.4)), kneeEdit::live);
    EXPECT_DOUBLE_EQ(points[1].x, 0.6);
    EXPECT_DOUBLE_EQ(points[1].y, 0.4);
    EXPECT_DOUBLE_EQ(points[2].x, 0.6) << "the neighbour stays where it was";
    // Past the left neighbour, and outside the square.
    e.mouseMove(f, -100, 400);
    EXPECT_DOUBLE_EQ(points[1].x, 0.0);
    EXPECT_DOUBLE_EQ(points[1].y, 0.0);
    e.mouseMove(f, f.pixelX(0.45), f.pixelY(0.5));
    EXPECT_DOUBLE_EQ(points[1].x, 0.45);
    EXPECT_EQ(e.mouseMove(f, f.pixelX(0.45), f.pixelY(0.5)), kneeEdit::nothing) << "no move, no change";
    EXPECT_EQ(e.mouseRelease(), kneeEdit::finished);
    EXPECT_TRUE(sortedByX(points));

    // The end points move within 0 … their neighbour.
    e.mousePress(f, f.pixelX(1), f.pixelY(1), true);
    e.mouseMove(f, f.pixelX(0.2), f.pixelY(0.9));
    e.mouseRelease();
    EXPECT_DOUBLE_EQ(points[3].x, 0.6);
    EXPECT_TRUE(sortedByX(points));

    // Whatever the drag did, the spline through the points stays a function inside 0 … 1.
    std::vector<double> values(1024);
    evaluateCurve(values.data(), int(values.size()), points, curveSettings_t::kSpline);
    for (double v : values) {
        ASSERT_TRUE(std::isfinite(v));
        ASSERT_GE(v, 0.0);
        ASSERT_LE(v, 1.0);
    }
}

TEST(kneePointEditing, rightButtonDeletesButNeverBelowTwoPoints) {
    std::vector<curvePoint_t> points{{0, 0}, {0.5, 0.6}, {1, 1}};
    kneePointEditing<curvePoint_t> e;
    e.setPoints(&points);
    const curveFrame_t f = testFrame();
    EXPECT_EQ(e.mousePress(f, f.pixelX(0.5) + 30, f.pixelY(0.6), false), kneeEdit::nothing)
        << "not on a point";
    EXPECT_EQ(points.size(), 3u);
    EXPECT_EQ(e.mousePress(f, f.pixelX(0.5) + 3, f.pixelY(0.6), false), kneeEdit::finished);
    ASSERT_EQ(points.size(), 2u);
    EXPECT_DOUBLE_EQ(points[1].x, 1.0);
    EXPECT_EQ(e.mouseRelease(), kneeEdit::nothing);
    for (double x : {0.0, 1.0}) {
        EXPECT_EQ(e.mousePress(f, f.pixelX(x), f.pixelY(x), false), kneeEdit::nothing);
        EXPECT_EQ(points.size(), 2u);
    }
    // Nothing to edit: every event is ignored.
    e.setPoints(nullptr);
    EXPECT_EQ(e.mousePress(f, 50, 50, true), kneeEdit::nothing);
    EXPECT_EQ(e.mouseMove(f, 60, 60), kneeEdit::nothing);
}

TEST(toneCurvePresets, twelvePresetsPassThroughTheirKneePoints) {
    EXPECT_TRUE(toneCurvePreset(-1).empty());
    EXPECT_TRUE(toneCurvePreset(12).empty());

    for (int p = 0; p < kToneCurvePresetCount; ++p) {
        const std::vector<curvePoint_t> points = toneCurvePreset(p);
        ASSERT_GE(points.size(), 4u) << p;
        EXPECT_EQ(points.front().x, 0.0);
        EXPECT_EQ(points.front().y, 0.0);
        EXPECT_EQ(points.back().x, 1.0);
        EXPECT_EQ(points.back().y, 1.0);
        EXPECT_TRUE(sortedByX(points)) << p;
        // The spline meets every knee point; "++" and "+" steepen the middle of their range
        // (output below input in the shadows), "-" and "--" flatten it.
        const int n = 32640;
        std::vector<double> values(n);
        evaluateCurve(values.data(), n, points, curveSettings_t::kSpline);
        for (const curvePoint_t& k : points)
            EXPECT_NEAR(values[size_t(std::lround(k.x * (n - 1)))], k.y, 2e-4) << p << " at " << k.x;
        const double firstInner = points[1].y - points[1].x;
        if (p / 4 != 2) {
            EXPECT_EQ(firstInner < 0, p % 4 < 2) << p;
        }
    }
}
