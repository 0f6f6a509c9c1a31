// The manual-alignment pins of a sequence (defaults, missing pairs, the transforms handed to the apply
// step) and the dialog's preview (scaled transforms, "Average", "Difference", "Result").

#include "align/manualPins.h"
#include "align/alignTestSupport.h"
#include "align/pinPreview.h"
#include "base/parallelFor.h"
#include "support/testSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace halvora;

namespace {

// A picture whose every sample tells where it is: R = 10x + 1, G = 10y + 1, B = 500.
rgb16Buffer coordinatePicture(int w, int h) {
    rgb16Buffer p;
    p.allocate(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint16_t* s = p.pixels() + (size_t(y) * size_t(w) + size_t(x)) * 3;
            s[0] = uint16_t(10 * x + 1);
            s[1] = uint16_t(10 * y + 1);
            s[2] = 500;
        }
    return p;
}

rgb16Buffer flatPicture(int w, int h, uint16_t value) {
    rgb16Buffer p;
    p.allocate(w, h);
    std::fill(p.pixels(), p.pixels() + p.sampleCount(), value);
    return p;
}

const uint16_t* at(const rgb16Buffer& p, int x, int y) {
    return p.pixels() + (size_t(y) * size_t(p.width) + size_t(x)) * 3;
}

} // namespace

TEST(manualPins, pairsStartUnsetAndGiveIdentityUntilTheirPinsAreSet) {
    manualPinSet pins;
    pins.reset(3, 800, 600, 1);
    EXPECT_EQ(pins.base(), 1);
    EXPECT_FALSE(pins.anySet());
    EXPECT_EQ(pins.missing(), (std::vector<int>{0, 2}));
    // Default layout: the quarter points, clockwise from the top left, the same on both sides.
    const pinPair_t& p0 = pins.pair(0);
    EXPECT_DOUBLE_EQ(p0.base[0].x, 200);
    EXPECT_DOUBLE_EQ(p0.base[0].y, 150);
    EXPECT_DOUBLE_EQ(p0.base[2].x, 600);
    EXPECT_DOUBLE_EQ(p0.base[2].y, 450);
    EXPECT_DOUBLE_EQ(p0.photo[3].x, 200);
    EXPECT_DOUBLE_EQ(p0.photo[3].y, 450);

    std::vector<alignTransform> t;
    ASSERT_TRUE(pins.transforms(alignPerspective, {}, t, nullptr));
    ASSERT_EQ(t.size(), 3u);
    for (const auto& each : t)
        EXPECT_TRUE(each.isIdentity());

    // Photo 2's pin 1 moved 10 pixels right: "Shift" moves it by 10 pixels, the others stay.
    pins.pair(2).photo[0].x += 10;
    pins.pair(2).set = true;
    EXPECT_TRUE(pins.anySet());
    EXPECT_EQ(pins.missing(), (std::vector<int>{0}));
    ASSERT_TRUE(pins.transforms(alignShift, {}, t, nullptr));
    EXPECT_TRUE(t[0].isIdentity());
    EXPECT_TRUE(t[1].isIdentity());
    const alignPoint moved = t[2].map(123, 45);
    EXPECT_DOUBLE_EQ(moved.x, 133);
    EXPECT_DOUBLE_EQ(moved.y, 45);

    // The base photo's own pair never counts, even when something wrote into it.
    pins.pair(1).set = true;
    pins.pair(1).photo[0] = {0, 0};
    ASSERT_TRUE(pins.transforms(alignShift, {}, t, nullptr));
    EXPECT_TRUE(t[1].isIdentity());

    pins.resetPair(2);
    EXPECT_FALSE(pins.anySet());
    EXPECT_DOUBLE_EQ(pins.pair(2).photo[0].x, 200);
}

TEST(manualPins, degeneratePinsAreRefusedNamingThePhotoAndLeaveTheTransformsAlone) {
    manualPinSet pins;
    pins.reset(2, 400, 300, 0);
    pinPair_t& pair = pins.pair(1);
    pair.set = true;
    // Pin 3 on the line through pins 1 and 2 (y = 75): no perspective goes through them.
    pair.photo[2] = {250, 75};
    std::vector<alignTransform> t(1);
    t[0].a[2] = 42; // must survive the refusal
    QString error;
    EXPECT_FALSE(pins.transforms(alignPerspective, {"a.jpg", "b.jpg"}, t, &error));
    EXPECT_TRUE(error.startsWith("b.jpg: ")) << error.toStdString();
    EXPECT_TRUE(error.contains("one line")) << error.toStdString();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].a[2], 42);

    // Rotation pins 1 and 2 on one spot show no angle.
    pair.photo[1] = pair.photo[0];
    error.clear();
    EXPECT_FALSE(pins.transforms(alignShiftRotation, {}, t, &error));
    EXPECT_TRUE(error.startsWith("photo 2: ")) << error.toStdString();

    // The same pins under "Shift" use pin 1 only, so they give a transform.
    EXPECT_TRUE(pins.transforms(alignShift, {}, t, &error));
    EXPECT_EQ(t.size(), 2u);
}

TEST(pinPreview, scaledTransformMapsSmallPositionsLikeTheFullMap) {
    // A map with every coefficient in use, checked on points spread over the picture.
    const aligntest::matrix3 m = aligntest::cameraMotion(4032, 3024, 37, -21, 2.0, 0.03);
    alignTransform full;
    const aligntest::matrix3 n = {{{m[0][0] / m[2][2], m[0][1] / m[2][2], m[0][2] / m[2][2]},
                                   {m[1][0] / m[2][2], m[1][1] / m[2][2], m[1][2] / m[2][2]},
                                   {m[2][0] / m[2][2], m[2][1] / m[2][2], 1}}};
    full.a[0] = n[0][0], full.a[1] = n[0][1], full.a[2] = n[0][2];
    full.a[3] = n[1][0], full.a[4] = n[1][1], full.a[5] = n[1][2];
    full.a[6] = n[2][0], full.a[7] = n[2][1];
    const double sx = 4032.0 / 1008, sy = 3024.0 / 750; // not the same along both sides
    const alignTransform small = scaledTransform(full, sx, sy);
    for (double x : {0.0, 100.5, 503.0, 1007.0})
        for (double y : {0.0, 333.3, 749.0}) {
            const alignPoint f = aligntest::apply(m, x * sx, y * sy);
            const alignPoint s = small.map(x, y);
            EXPECT_NEAR(s.x, f.x / sx, 1e-9) << x << "," << y;
            EXPECT_NEAR(s.y, f.y / sy, 1e-9) << x << "," << y;
        }
    EXPECT_TRUE(scaledTransform(alignTransform::identity(), 3, 5).isIdentity());
}

TEST(pinPreview, modesShowTheShiftedPhotoItsBlendAndItsDifference) {
    const int w = 64, h = 48;
    const rgb16Buffer photo = coordinatePicture(w, h);
    alignTransform shift; // base (x, y) shows photo (x + 3, y − 2)
    shift.a[2] = 3;
    shift.a[5] = -2;
    rgb16Buffer out;
    QString error;

    ASSERT_TRUE(renderPinPreview(photo, photo, shift, alignShift, previewResult, out, &error))
        << error.toStdString();
    ASSERT_EQ(out.width, w);
    ASSERT_EQ(out.height, h);
    EXPECT_EQ(at(out, 10, 10)[0], 10 * 13 + 1);
    EXPECT_EQ(at(out, 10, 10)[1], 10 * 8 + 1);
    EXPECT_EQ(at(out, 10, 10)[2], 500);
    // Where the photo ends (x + 3 beyond the right edge, y − 2 above the top) the preview is black.
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(at(out, w - 1, 20)[k], 0);
        EXPECT_EQ(at(out, 5, 0)[k], 0);
    }

    // Identical pictures with the identity: no difference anywhere.
    ASSERT_TRUE(renderPinPreview(photo, photo, alignTransform::identity(), alignPerspective,
                                 previewDifference, out, &error));
    for (size_t i = 0; i < out.sampleCount(); ++i)
        ASSERT_EQ(out.pixels()[i], 0) << i;

    // Flat pictures of 1000 and 3001: half-way 2001 (rounded up), difference 2001 as well.
    const rgb16Buffer dark = flatPicture(w, h, 1000), bright = flatPicture(w, h, 3001);
    ASSERT_TRUE(
        renderPinPreview(dark, bright, alignTransform::identity(), alignShift, previewAverage, out, &error));
    EXPECT_EQ(at(out, 30, 30)[1], 2001);
    ASSERT_TRUE(renderPinPreview(bright, dark, alignTransform::identity(), alignShift, previewDifference, out,
                                 &error));
    EXPECT_EQ(at(out, 30, 30)[2], 2001);
    // Shifted out of the frame, the difference is the base itself.
    ASSERT_TRUE(renderPinPreview(bright, dark, shift, alignShift, previewDifference, out, &error));
    EXPECT_EQ(at(out, w - 1, 30)[0], 3001);
}

TEST(pinPreview, badInputIsRefusedAndThreadCountsAgree) {
    const rgb16Buffer a = coordinatePicture(40, 30), b = coordinatePicture(41, 30);
    rgb16Buffer out, empty;
    QString error;
    EXPECT_FALSE(renderPinPreview(a, b, alignTransform::identity(), alignShift, previewResult, out, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(
        renderPinPreview(empty, empty, alignTransform::identity(), alignShift, previewResult, out, &error));
    EXPECT_FALSE(renderPinPreview(a, a, alignTransform::identity(), alignShift, 7, out, &error));
    alignTransform broken;
    broken.a[2] = std::nan("");
    EXPECT_FALSE(renderPinPreview(a, a, broken, alignShift, previewResult, out, &error));

    // A real photo under a perspective, one thread against several: the same samples.
    HALVORA_REQUIRE_DATA();
    const rgb16Buffer real =
        aligntest::loadPhoto(halvora::test::dataFile("brackets/mysore_palace_fuji_xt1_7exp/AJAZ0816.jpg"));
    ASSERT_TRUE(real.data);
    alignTransform t;
    const double c = std::cos(0.02), s = std::sin(0.02);
    t.a[0] = c, t.a[1] = -s, t.a[2] = 12.25, t.a[3] = s, t.a[4] = c, t.a[5] = -7.5, t.a[6] = 1e-5,
    t.a[7] = -2e-5;
    rgb16Buffer one, many;
    setThreadCountOverride(1);
    ASSERT_TRUE(renderPinPreview(real, real, t, alignPerspective, previewAverage, one, &error));
    setThreadCountOverride(4);
    ASSERT_TRUE(renderPinPreview(real, real, t, alignPerspective, previewAverage, many, &error));
    setThreadCountOverride(0);
    ASSERT_EQ(one.byteSize(), many.byteSize());
    EXPECT_EQ(std::memcmp(one.pixels(), many.pixels(), one.byteSize()), 0);
}
