// Transforms from point pairs: the exact four-point map, the least-squares fit, the pin layout test,
// and the manual-alignment transforms and score of each method, against hand-computed values.

#include "align/pinAlignment.h"
#include "align/alignTestSupport.h"
#include "support/testSupport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace halvora;

namespace {

void expectCoefficients(const alignTransform& t, const std::array<double, 8>& expected, double tolerance) {
    for (int k = 0; k < 8; ++k)
        EXPECT_NEAR(t.a[k], expected[size_t(k)], tolerance) << "a" << k;
}

} // namespace

TEST(alignTransform, fourPointMapMeetsEveryPairAndRefusesDegeneratePins) {
    // X = (2x + 1) / (0.001x + 1), Y = (y − 3) / (0.001x + 1), written out for four points by hand.
    const alignPoint ref[4] = {{0, 0}, {1000, 0}, {1000, 500}, {0, 500}};
    const alignPoint photo[4] = {{1, -3}, {1000.5, -1.5}, {1000.5, 248.5}, {1, 497}};
    alignTransform t;
    ASSERT_TRUE(projectiveFromPoints(ref, photo, t));
    expectCoefficients(t, {2, 0, 1, 0, 1, -3, 0.001, 0}, 1e-9);
    const alignPoint middle = t.map(500, 250);
    EXPECT_NEAR(middle.x, 1001.0 / 1.5, 1e-9);
    EXPECT_NEAR(middle.y, 247.0 / 1.5, 1e-9);

    const alignPoint same[4] = {{10, 20}, {300, 25}, {290, 200}, {15, 210}};
    ASSERT_TRUE(projectiveFromPoints(same, same, t));
    expectCoefficients(t, {1, 0, 0, 0, 1, 0, 0, 0}, 1e-12);

    // Three pins on a line, on either side, or two on one spot fix no map; the output stays as it was.
    alignTransform untouched;
    untouched.a[2] = 7;
    const alignPoint line[4] = {{0, 0}, {100, 100}, {200, 200}, {0, 300}};
    const alignPoint twice[4] = {{0, 0}, {0, 0}, {100, 200}, {0, 300}};
    EXPECT_FALSE(projectiveFromPoints(line, photo, untouched));
    EXPECT_FALSE(projectiveFromPoints(ref, line, untouched));
    EXPECT_FALSE(projectiveFromPoints(twice, photo, untouched));
    EXPECT_FALSE(projectiveFromPoints(twice, twice, untouched));
    EXPECT_EQ(untouched.a[2], 7);
    EXPECT_TRUE(untouched.isFinite());
}

TEST(alignTransform, leastSquaresFindsTheMapThroughNoisyPairsFromAFarStart) {
    // 200 pairs of a turned, tilted and shifted map, each moved by ±0.3 pixel in a balanced pattern.
    const aligntest::matrix3 truth = aligntest::cameraMotion(2000, 1500, 12.5, -7.25, 1.5, 0.01);
    std::vector<alignPoint> from, to;
    for (int k = 0; k < 200; ++k) {
        const double x = 50 + (k * 37) % 1900, y = 40 + (k * 53) % 1420;
        const alignPoint q = aligntest::apply(truth, x, y);
        from.push_back({x, y});
        to.push_back({q.x + ((k & 1) ? 0.3 : -0.3), q.y + ((k & 2) ? 0.3 : -0.3)});
    }
    alignTransform t; // the identity: about 30 pixels off at the corners
    ASSERT_TRUE(projectiveLeastSquares(from, to, t));
    EXPECT_LT(aligntest::cornerError(t, truth, 2000, 1500), 0.15);

    // Half the weight on a bad pair leaves the map where the others put it when the bad pair gets 0.
    std::vector<double> weight(from.size(), 1.0);
    to[0] = {to[0].x + 40, to[0].y};
    weight[0] = 0;
    alignTransform weighted;
    ASSERT_TRUE(projectiveLeastSquares(from, to, weighted, &weight));
    EXPECT_LT(aligntest::cornerError(weighted, truth, 2000, 1500), 0.15);

    from.resize(3);
    to.resize(3);
    alignTransform few;
    EXPECT_FALSE(projectiveLeastSquares(from, to, few));
}

TEST(pinAlignment, eachMethodGivesTheHandComputedTransform) {
    test::logCapture log;
    alignTransform t;
    QString error;
    // "Shift": one pin pair 10 pixels apart moves the photo by 10 pixels.
    const alignPoint p0[4] = {{40, 30}, {}, {}, {}}, q0[4] = {{50, 30}, {}, {}, {}};
    ASSERT_TRUE(transformFromPins(alignShift, p0, q0, 2, t, &error));
    expectCoefficients(t, {1, 0, 10, 0, 1, 0, 0, 0}, 0);
    EXPECT_TRUE(log.contains("AI 2\n"));
    EXPECT_TRUE(log.contains("ai[2]=10.000000\n"));

    // Rotation: the vector from pin 1 to pin 2 turns by 90°; both pairs agree on the shift (5, 5).
    const alignPoint p1[4] = {{0, 0}, {10, 0}, {}, {}}, q1[4] = {{5, 5}, {5, 15}, {}, {}};
    ASSERT_TRUE(transformFromPins(alignShiftRotation, p1, q1, 1, t, &error));
    expectCoefficients(t, {0, -1, 5, 1, 0, 5, 0, 0}, 1e-12);
    // Pins that disagree on the length share the difference: shifts 0 and (10, 0) average to (5, 0).
    const alignPoint q2[4] = {{0, 0}, {20, 0}, {}, {}};
    ASSERT_TRUE(transformFromPins(alignShiftRotationAlt, p1, q2, 1, t, &error));
    expectCoefficients(t, {1, 0, 5, 0, 1, 0, 0, 0}, 1e-12);
    // 3° about (100, 100) then a move to (110, 95): shift = q1 − R·p1.
    const double c = std::cos(3 * M_PI / 180), s = std::sin(3 * M_PI / 180);
    const alignPoint p3[4] = {{100, 100}, {200, 100}, {}, {}};
    const alignPoint q3[4] = {{110, 95}, {110 + 100 * c, 95 + 100 * s}, {}, {}};
    ASSERT_TRUE(transformFromPins(alignShiftRotation, p3, q3, 1, t, &error));
    expectCoefficients(t, {c, -s, 110 - 100 * c + 100 * s, s, c, 95 - 100 * s - 100 * c, 0, 0}, 1e-9);

    // Perspective: four identical pin pairs give the identity; a doubled, shifted frame its map.
    const alignPoint p4[4] = {{100, 100}, {900, 120}, {880, 700}, {90, 650}};
    ASSERT_TRUE(transformFromPins(alignPerspective, p4, p4, 3, t, &error));
    expectCoefficients(t, {1, 0, 0, 0, 1, 0, 0, 0}, 1e-12);
    alignPoint q4[4];
    for (int k = 0; k < 4; ++k)
        q4[k] = {2 * p4[k].x - 30, 2 * p4[k].y + 4};
    ASSERT_TRUE(transformFromPins(alignPerspective, p4, q4, 3, t, &error));
    expectCoefficients(t, {2, 0, -30, 0, 2, 4, 0, 0}, 1e-9);
    EXPECT_TRUE(error.isEmpty());
}

TEST(pinAlignment, pinsThatFixNoTransformAreRefusedWithAReason) {
    alignTransform t;
    t.a[0] = 3;
    QString error;
    const alignPoint same[4] = {{10, 10}, {10, 10}, {}, {}}, other[4] = {{0, 0}, {5, 5}, {}, {}};
    EXPECT_FALSE(transformFromPins(alignShiftRotation, same, other, 1, t, &error));
    EXPECT_TRUE(error.contains("same spot")) << qPrintable(error);
    EXPECT_FALSE(transformFromPins(alignShiftRotation, other, same, 1, t, &error));

    error.clear();
    const alignPoint line[4] = {{0, 0}, {100, 0}, {200, 0}, {300, 50}};
    const alignPoint good[4] = {{0, 0}, {100, 0}, {100, 100}, {0, 100}};
    EXPECT_FALSE(transformFromPins(alignPerspective, line, good, 1, t, &error));
    EXPECT_TRUE(error.contains("one line")) << qPrintable(error);
    const alignPoint coincident[4] = {{0, 0}, {0, 0}, {100, 100}, {0, 100}};
    EXPECT_FALSE(transformFromPins(alignPerspective, good, coincident, 1, t, &error));

    const alignPoint notANumber[4] = {{std::nan(""), 0}, {1, 1}, {}, {}};
    EXPECT_FALSE(transformFromPins(alignShift, notANumber, good, 1, t, &error));
    EXPECT_FALSE(transformFromPins(7, good, good, 1, t, &error));
    EXPECT_EQ(t.a[0], 3); // never a NaN or half-made transform
}

TEST(pinAlignment, qualityScoreFollowsTheNearestPinToTheDiagonalsCrossing) {
    // 300 × 400 picture: diagonal 500. Pins around (150, 200), each √(100² + 150²) = 180.3 away:
    // ⌊180.3 / 500 × 200⌋ = 72; a photo side 70.7 away gives ⌊28.3⌋ = 28, and the smaller counts.
    const alignPoint wide[4] = {{50, 50}, {250, 50}, {250, 350}, {50, 350}};
    const alignPoint narrow[4] = {{100, 150}, {200, 150}, {200, 250}, {100, 250}};
    EXPECT_EQ(pinLayoutScore(wide, 300, 400), 72);
    EXPECT_EQ(pinQualityScore(alignPerspective, wide, wide, 300, 400), 72);
    EXPECT_EQ(pinQualityScore(alignPerspective, wide, narrow, 300, 400), 28);
    EXPECT_EQ(pinQualityScore(alignShiftRotation, wide, wide, 300, 400), 0);

    // Pins far beyond a small picture are capped at 100.
    const alignPoint far[4] = {{-100, -100}, {200, -100}, {200, 200}, {-100, 200}};
    EXPECT_EQ(pinLayoutScore(far, 100, 100), 100);

    // All four pins in one quadrant of their diagonals' crossing (the lines y = x and y = 2x meet
    // at the origin), and diagonals that never meet, score 0.
    const alignPoint oneQuadrant[4] = {{1, 1}, {1, 2}, {2, 2}, {2, 4}};
    const alignPoint parallel[4] = {{0, 0}, {10, 0}, {0, 10}, {10, 10}};
    alignPoint crossing;
    EXPECT_FALSE(pinsAroundCrossing(oneQuadrant, crossing));
    EXPECT_EQ(pinQualityScore(alignPerspective, oneQuadrant, wide, 300, 400), 0);
    EXPECT_EQ(pinLayoutScore(parallel, 300, 400), 0);
    ASSERT_TRUE(pinsAroundCrossing(wide, crossing));
    EXPECT_DOUBLE_EQ(crossing.x, 150);
    EXPECT_DOUBLE_EQ(crossing.y, 200);
}
