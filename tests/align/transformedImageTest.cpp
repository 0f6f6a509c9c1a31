// Resampling a photo into the reference frame and the crop common to all aligned photos: exact
// copies and shifts, interpolation against a plain double-precision reference, the largest covered
// rectangle, hostile transforms and crops, and the same bytes for any thread count.

#include "align/transformedImage.h"
#include "align/alignTestSupport.h"
#include "base/parallelFor.h"
#include "support/testSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace halvora;

namespace {

uint16_t sampleOf(const rgb16Buffer& b, int x, int y, int c) {
    return b.pixels()[(size_t(y) * b.width + x) * 3 + c];
}

/// Plain bilinear value of channel c at (sx, sy) with the edge repeated, or −1 outside the photo.
double referenceSample(const rgb16Buffer& b, double sx, double sy, int c) {
    if (!(sx >= -0.5 && sx < b.width - 0.5 && sy >= -0.5 && sy < b.height - 0.5)) return -1;
    const double fx = std::floor(sx), fy = std::floor(sy);
    auto at = [&](double x, double y) {
        return double(
            sampleOf(b, std::clamp(int(x), 0, b.width - 1), std::clamp(int(y), 0, b.height - 1), c));
    };
    const double tx = sx - fx, ty = sy - fy;
    return (at(fx, fy) * (1 - tx) + at(fx + 1, fy) * tx) * (1 - ty) +
           (at(fx, fy + 1) * (1 - tx) + at(fx + 1, fy + 1) * tx) * ty;
}

} // namespace

TEST(transformedImage, identityAndWholeShiftsAreExactCopies) {
    const rgb16Buffer photo = aligntest::texturedScene(80, 60, 1);
    rgb16Buffer out;
    ASSERT_TRUE(getTransformedImage(photo, alignTransform::identity(), alignPerspective, {5, 7, 75, 50}, out,
                                    nullptr));
    ASSERT_EQ(out.width, 70);
    ASSERT_EQ(out.height, 43);
    for (int y = 0; y < 43; ++y)
        ASSERT_EQ(std::memcmp(out.pixels() + size_t(y) * 70 * 3,
                              photo.pixels() + (size_t(y + 7) * 80 + 5) * 3, 70 * 6),
                  0);

    alignTransform shift;
    shift.a[2] = 3;
    shift.a[5] = -2;
    shift.a[0] = 1.5; // not used by "Shift"
    ASSERT_TRUE(getTransformedImage(photo, shift, alignShift, {0, 0, 80, 60}, out, nullptr));
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 80; ++x)
            for (int c = 0; c < 3; ++c) {
                const bool inside = x + 3 < 80 && y - 2 >= 0;
                ASSERT_EQ(sampleOf(out, x, y, c), inside ? sampleOf(photo, x + 3, y - 2, c) : 0)
                    << x << ", " << y;
            }
}

TEST(transformedImage, interpolationMatchesAPlainBilinearBlend) {
    const rgb16Buffer photo = aligntest::texturedScene(120, 90, 2);
    rgb16Buffer out;
    // Half a pixel across: every inner sample is the rounded mean of its two neighbours.
    alignTransform half;
    half.a[2] = 0.5;
    ASSERT_TRUE(getTransformedImage(photo, half, alignShift, {0, 0, 119, 90}, out, nullptr));
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 119; ++x)
            ASSERT_EQ(sampleOf(out, x, y, 1),
                      (sampleOf(photo, x, y, 1) + sampleOf(photo, x + 1, y, 1) + 1) / 2);

    // A turned and tilted map: within one 8-bit level of the double-precision blend (the weights come
    // in 1/256 steps, so a full-contrast edge may differ by twice 32640 / 512), black exactly where
    // the source lies outside.
    const aligntest::matrix3 m = aligntest::cameraMotion(120, 90, 4.3, -2.7, 2.5, 0.02);
    alignTransform t;
    for (int k = 0; k < 8; ++k)
        t.a[k] = m[size_t(k / 3)][size_t(k % 3)] / m[2][2];
    ASSERT_TRUE(getTransformedImage(photo, t, alignPerspective, {0, 0, 120, 90}, out, nullptr));
    int outside = 0;
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 120; ++x) {
            const alignPoint s = aligntest::apply(m, x, y);
            for (int c = 0; c < 3; ++c) {
                const double expected = referenceSample(photo, s.x, s.y, c);
                if (expected < 0) {
                    ++outside;
                    ASSERT_EQ(sampleOf(out, x, y, c), 0);
                } else {
                    ASSERT_NEAR(sampleOf(out, x, y, c), expected, 0.5 + 2 * 32640.0 / 512) << x << ", " << y;
                }
            }
        }
    EXPECT_GT(outside, 0);
}

TEST(transformedImage, hostileInputGivesAReasonAndFullScaleSamplesDoNotWrap) {
    const rgb16Buffer photo = aligntest::texturedScene(40, 30, 3);
    rgb16Buffer out;
    QString error;
    EXPECT_FALSE(getTransformedImage(photo, alignTransform::identity(), alignPerspective, {0, 0, 41, 30}, out,
                                     &error));
    EXPECT_TRUE(error.contains("crop rectangle")) << qPrintable(error);
    EXPECT_FALSE(getTransformedImage(photo, alignTransform::identity(), alignPerspective, {10, 0, 10, 30},
                                     out, &error));
    alignTransform broken;
    broken.a[6] = std::nan("");
    error.clear();
    EXPECT_FALSE(getTransformedImage(photo, broken, alignPerspective, {0, 0, 40, 30}, out, &error));
    EXPECT_TRUE(error.contains("not finite")) << qPrintable(error);
    EXPECT_FALSE(getTransformedImage(rgb16Buffer{}, alignTransform::identity(), alignPerspective,
                                     {0, 0, 1, 1}, out, &error));

    // A map that sends part of the frame beyond its horizon: those pixels are black, nothing crashes.
    alignTransform horizon;
    horizon.a[6] = -0.05; // the denominator reaches 0 at x = 20
    ASSERT_TRUE(getTransformedImage(photo, horizon, alignPerspective, {0, 0, 40, 30}, out, &error));
    EXPECT_EQ(sampleOf(out, 39, 15, 0), 0);

    // Samples at 65535 (above full scale, as a hostile file could leave them) blend without wrapping.
    rgb16Buffer bright;
    bright.allocate(8, 8);
    std::fill(bright.pixels(), bright.pixels() + bright.sampleCount(), uint16_t(65535));
    alignTransform quarter;
    quarter.a[2] = 0.25;
    quarter.a[5] = 0.75;
    ASSERT_TRUE(getTransformedImage(bright, quarter, alignPerspective, {0, 0, 7, 7}, out, &error));
    EXPECT_EQ(sampleOf(out, 3, 3, 2), 65535);
}

TEST(transformedImage, resamplingIsTheSameForAnyThreadCount) {
    test::threadCountGuard guard;
    const rgb16Buffer photo = aligntest::texturedScene(301, 203, 4);
    const aligntest::matrix3 m = aligntest::cameraMotion(301, 203, -3.2, 1.7, -1.4, 0.01);
    alignTransform t;
    for (int k = 0; k < 8; ++k)
        t.a[k] = m[size_t(k / 3)][size_t(k % 3)] / m[2][2];
    rgb16Buffer one, many;
    setThreadCountOverride(1);
    ASSERT_TRUE(getTransformedImage(photo, t, alignPerspective, {3, 2, 290, 200}, one, nullptr));
    setThreadCountOverride(7);
    ASSERT_TRUE(getTransformedImage(photo, t, alignPerspective, {3, 2, 290, 200}, many, nullptr));
    EXPECT_EQ(std::memcmp(one.pixels(), many.pixels(), one.byteSize()), 0);
}

TEST(autoCrop, wholeShiftsKeepExactlyTheOverlap) {
    // Photo 1 shows reference x at x + 10 (and y at y + 5), photo 2 at x − 3: pixels x ≥ 3 and
    // x + 10 ≤ 199, y + 5 ≤ 99 are covered by all.
    std::vector<alignTransform> t(3);
    t[1].a[2] = 10;
    t[1].a[5] = 5;
    t[2].a[2] = -3;
    test::logCapture log;
    alignCropRect r;
    ASSERT_TRUE(autoCropRect(200, 100, t, alignPerspective, r, nullptr));
    EXPECT_EQ(r.left, 3);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 190);
    EXPECT_EQ(r.bottom, 95);
    EXPECT_TRUE(log.contains("Size after align: sx=187, sy=95  (3, 0); (190, 95)\n")) << log.text();
}

TEST(autoCrop, turnedPhotosGetTheLargestRectangleTheyAllCover) {
    std::vector<alignTransform> t(3);
    const aligntest::matrix3 turns[2] = {aligntest::cameraMotion(400, 300, 6, -4, 2.0, 0),
                                         aligntest::cameraMotion(400, 300, -5, 3, -1.0, 0.01)};
    for (int p = 0; p < 2; ++p)
        for (int k = 0; k < 8; ++k)
            t[size_t(p + 1)].a[k] = turns[p][size_t(k / 3)][size_t(k % 3)] / turns[p][2][2];
    alignCropRect r;
    ASSERT_TRUE(autoCropRect(400, 300, t, alignPerspective, r, nullptr));
    auto covered = [&](int x, int y) {
        for (const alignTransform& m : t) {
            const alignPoint s = m.map(x, y);
            if (!(s.x >= -0.5 && s.x < 399.5 && s.y >= -0.5 && s.y < 299.5)) return false;
        }
        return true;
    };
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            ASSERT_TRUE(covered(x, y)) << x << ", " << y;
    // No side can move out by a pixel: each would take in an uncovered pixel.
    auto rowCovered = [&](int y) {
        for (int x = r.left; x < r.right; ++x)
            if (!covered(x, y)) return false;
        return true;
    };
    auto columnCovered = [&](int x) {
        for (int y = r.top; y < r.bottom; ++y)
            if (!covered(x, y)) return false;
        return true;
    };
    EXPECT_FALSE(r.top > 0 && rowCovered(r.top - 1));
    EXPECT_FALSE(r.bottom < 300 && rowCovered(r.bottom));
    EXPECT_FALSE(r.left > 0 && columnCovered(r.left - 1));
    EXPECT_FALSE(r.right < 400 && columnCovered(r.right));
    EXPECT_GT(r.width() * r.height(), 300 * 200);

    // Resampled into that rectangle, a photo with no black pixel shows none.
    rgb16Buffer photo = aligntest::texturedScene(400, 300, 6), out;
    ASSERT_TRUE(getTransformedImage(photo, t[1], alignPerspective, r, out, nullptr));
    for (size_t i = 0; i < out.pixelCount(); ++i)
        ASSERT_FALSE(out.pixels()[3 * i] == 0 && out.pixels()[3 * i + 1] == 0 &&
                     out.pixels()[3 * i + 2] == 0);
}

TEST(autoCrop, photosWithNoAreaInCommonFailInsteadOfGivingAnEmptyPicture) {
    std::vector<alignTransform> t(2);
    t[1].a[2] = 250; // the photo lies entirely beside the reference frame
    alignCropRect r{1, 2, 3, 4};
    QString error;
    EXPECT_FALSE(autoCropRect(200, 100, t, alignPerspective, r, &error));
    EXPECT_TRUE(error.contains("no area in common")) << qPrintable(error);
    EXPECT_EQ(r.right, 3);

    t[1] = alignTransform::identity();
    t[1].a[0] = -1; // mirrored and moved off: X = −x − 150 is never inside
    t[1].a[2] = -150;
    EXPECT_FALSE(autoCropRect(200, 100, t, alignPerspective, r, &error));
    t[1].a[2] = std::nan("");
    EXPECT_FALSE(autoCropRect(200, 100, t, alignPerspective, r, &error));
    EXPECT_FALSE(autoCropRect(0, 100, {}, alignPerspective, r, &error));
}
