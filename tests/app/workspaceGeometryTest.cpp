// The picture views' arithmetic: the zoom list and its ends, fitting, the cache level a scale reads,
// the viewport ↔ picture mapping, zooming about the pointer, the crop rectangle, the over/under rule
// and the status texts.

#include "app/workspaceGeometry.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace halvora;

namespace {

TEST(workspaceGeometry, zoomListAndItsStepping) {
    const std::vector<int>& list = zoomPercents();
    // 50 steps of 1, then 25 each of 2, 4 and 8.
    ASSERT_EQ(list.size(), 125u);
    EXPECT_EQ(list[49], 50);
    EXPECT_EQ(list[50], 52);
    EXPECT_EQ(list[74], 100);
    EXPECT_EQ(list[75], 104);
    EXPECT_EQ(list[99], 200);
    EXPECT_EQ(list[100], 208);
    EXPECT_EQ(list.back(), 400);
    EXPECT_EQ(zoomText(4.0), " 400%");
    EXPECT_EQ(zoomText(0.01), "   1%");

    // The ends stay where they are.
    EXPECT_DOUBLE_EQ(steppedZoom(0.01, -1), 0.01);
    EXPECT_DOUBLE_EQ(steppedZoom(4.0, +1), 4.0);
    // On an entry: one entry along, across the changes of step width.
    EXPECT_DOUBLE_EQ(steppedZoom(0.50, +1), 0.52);
    EXPECT_DOUBLE_EQ(steppedZoom(0.52, -1), 0.50);
    EXPECT_DOUBLE_EQ(steppedZoom(1.00, +1), 1.04);
    EXPECT_DOUBLE_EQ(steppedZoom(2.00, +1), 2.08);
    EXPECT_DOUBLE_EQ(steppedZoom(2.08, -1), 2.00);
    // Between entries (a fitted 33.3 %): in goes to the next larger entry, out to the next smaller.
    EXPECT_DOUBLE_EQ(steppedZoom(1.0 / 3.0, +1), 0.34);
    EXPECT_DOUBLE_EQ(steppedZoom(1.0 / 3.0, -1), 0.33);
    EXPECT_DOUBLE_EQ(steppedZoom(0.627, +1), 0.64);
    EXPECT_DOUBLE_EQ(steppedZoom(0.627, -1), 0.62);
    // A fitted scale that is an entry in all but rounding counts as that entry.
    EXPECT_DOUBLE_EQ(steppedZoom(0.1 * 5.0, +1), 0.52);
    EXPECT_EQ(zoomIndexOf(0.34), 33);
    EXPECT_EQ(zoomIndexOf(1.0 / 3.0), -1);

    // Fitting: the whole picture inside the viewport, within the list's range.
    EXPECT_DOUBLE_EQ(fitScale(4000, 3000, 1600, 1000), 1000.0 / 3000.0);
    EXPECT_DOUBLE_EQ(fitScale(4000, 1000, 1600, 1000), 0.4);
    EXPECT_DOUBLE_EQ(fitScale(10, 10, 1600, 1000), 4.0) << "a tiny picture stops at 400 %";
    EXPECT_DOUBLE_EQ(fitScale(1000000, 10, 1600, 1000), 0.01);
    EXPECT_DOUBLE_EQ(fitScale(0, 10, 1600, 1000), 1.0);
}

TEST(workspaceGeometry, cacheLevelKeepsZoomedOutDrawingProportionalToTheView) {
    EXPECT_EQ(cacheLevelFor(1.0, 8), 0);
    EXPECT_EQ(cacheLevelFor(4.0, 8), 0);
    EXPECT_EQ(cacheLevelFor(0.6, 8), 0);  // ⌊1/0.6⌋ = 1
    EXPECT_EQ(cacheLevelFor(0.5, 8), 1);  // 2
    EXPECT_EQ(cacheLevelFor(0.26, 8), 1); // 3
    EXPECT_EQ(cacheLevelFor(0.25, 8), 2); // 4
    EXPECT_EQ(cacheLevelFor(0.01, 8), 6); // 100: 64 ≤ 100 < 128
    EXPECT_EQ(cacheLevelFor(0.01, 3), 2) << "only levels that exist";
    EXPECT_EQ(cacheLevelFor(0.01, 1), 0);

    // For every zoom entry of a 12-megapixel picture, the level read is at most twice the size shown
    // (plus the rounding of one pixel), so a zoomed-out redraw reads about what it draws.
    const int w = 4000, h = 3000;
    int levels = 1;
    while ((w >> levels) > 0 && (h >> levels) > 0)
        ++levels;
    for (int percent : zoomPercents()) {
        const double s = percent / 100.0;
        const int level = cacheLevelFor(s, levels);
        const double levelWidth = w >> level;
        EXPECT_LE(levelWidth, 2.0 * std::max(1.0, w * s) + 1) << percent << " %";
        EXPECT_GE(levelWidth, std::min<double>(w, std::floor(w * s)))
            << percent << " % never reads a level coarser than shown";
    }
}

TEST(workspaceGeometry, viewAndPictureCoordinates) {
    viewMapping m;
    m.pictureWidth = 400;
    m.pictureHeight = 300;
    m.viewWidth = 800;
    m.viewHeight = 600;
    m.scale = 0.5; // 200 × 150, centred
    EXPECT_EQ(m.displayedWidth(), 200);
    EXPECT_EQ(m.marginX(), 300);
    EXPECT_EQ(m.marginY(), 225);
    EXPECT_EQ(m.maxOffsetX(), 0);
    EXPECT_EQ(m.toPicture(QPointF(300, 225)), QPointF(0, 0));
    EXPECT_EQ(m.toPicture(QPointF(400, 300)), QPointF(200, 150));
    EXPECT_FALSE(m.onPicture(QPointF(299, 300)));
    EXPECT_TRUE(m.onPicture(QPointF(300, 300)));
    EXPECT_FALSE(m.onPicture(QPointF(500, 300)));

    m.scale = 4.0; // 1600 × 1200 in 800 × 600: scrolls, no margins
    EXPECT_EQ(m.marginX(), 0);
    EXPECT_EQ(m.maxOffsetX(), 800);
    EXPECT_EQ(m.maxOffsetY(), 600);
    m.offsetX = 5000;
    m.offsetY = -3;
    m.clampOffsets();
    EXPECT_EQ(m.offsetX, 800);
    EXPECT_EQ(m.offsetY, 0);
    EXPECT_EQ(m.toPicture(QPointF(0, 0)), QPointF(200, 0));
    for (const QPointF p : {QPointF(0, 0), QPointF(13.25, 77.5), QPointF(399, 299)}) {
        const QPointF back = m.toPicture(m.toView(p));
        EXPECT_NEAR(back.x(), p.x(), 1e-9);
        EXPECT_NEAR(back.y(), p.y(), 1e-9);
    }
}

TEST(workspaceGeometry, zoomingAboutThePointerKeepsThePicturePointUnderIt) {
    viewMapping m;
    m.pictureWidth = 4000;
    m.pictureHeight = 3000;
    m.viewWidth = 1600;
    m.viewHeight = 1000;
    m.scale = 1.0;
    m.offsetX = 1200;
    m.offsetY = 700;
    for (const QPointF pointer : {QPointF(10, 10), QPointF(800, 500), QPointF(1590, 990)}) {
        const QPointF under = m.toPicture(pointer);
        // Zooming out from the centre; towards an edge only zooming in has the scroll range to spare.
        for (double s : {1.04, 2.0, 4.0, pointer == QPointF(800, 500) ? 0.5 : 1.2}) {
            const viewMapping z = rescaledAbout(m, s, pointer);
            const QPointF after = z.toPicture(pointer);
            // Whole-pixel offsets: the point stays within one screen pixel.
            EXPECT_NEAR(after.x(), under.x(), 0.5 / s + 1e-9) << s;
            EXPECT_NEAR(after.y(), under.y(), 0.5 / s + 1e-9) << s;
        }
    }
    // Zoomed out so far that the picture is centred: the point cannot stay, the offsets are 0.
    const viewMapping out = rescaledAbout(m, 0.1, QPointF(10, 10));
    EXPECT_EQ(out.offsetX, 0);
    EXPECT_EQ(out.offsetY, 0);
    EXPECT_EQ(out.marginX(), (1600 - 400) / 2);
    // Near an edge the scroll range wins.
    const viewMapping edge = rescaledAbout(m, 4.0, QPointF(1590, 990));
    EXPECT_LE(edge.offsetX, edge.maxOffsetX());
}

TEST(workspaceGeometry, cropRectangle) {
    // Any drag direction, corners on pixel borders, limited to the picture.
    cropRect r = cropFromDrag(QPointF(150.4, 90.6), QPointF(20.5, 10.2), 200, 100);
    EXPECT_EQ(r.left, 21); // 20.5 rounds away from zero
    EXPECT_EQ(r.top, 10);
    EXPECT_EQ(r.right, 150);
    EXPECT_EQ(r.bottom, 91);
    r = cropFromDrag(QPointF(-40, -5), QPointF(260, 130), 200, 100);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 200);
    EXPECT_EQ(r.bottom, 100);
    EXPECT_FALSE(cropUsable(r, 200, 100)) << "the whole picture is no crop";
    EXPECT_FALSE(cropUsable(cropFromDrag(QPointF(5, 5), QPointF(5.2, 50), 200, 100), 200, 100)) << "no width";
    EXPECT_FALSE(cropUsable(cropRect{10, 10, 210, 50}, 200, 100)) << "past the right edge";
    EXPECT_TRUE(cropUsable(cropRect{0, 0, 1, 1}, 200, 100));

    // Moving keeps the size and stops at the borders.
    const cropRect inner{50, 20, 150, 60};
    EXPECT_EQ(movedCrop(inner, 10, -5, 200, 100).left, 60);
    const cropRect pushed = movedCrop(inner, 500, -500, 200, 100);
    EXPECT_EQ(pushed.left, 100);
    EXPECT_EQ(pushed.right, 200);
    EXPECT_EQ(pushed.top, 0);
    EXPECT_EQ(pushed.bottom, 40);
    EXPECT_TRUE(cropContains(inner, QPointF(50, 20)));
    EXPECT_FALSE(cropContains(inner, QPointF(150, 20))) << "right edge exclusive";
}

TEST(workspaceGeometry, overUnderRuleAndStatusTexts) {
    // m = (R + G + B) / 3 with integer division.
    EXPECT_EQ(overUnderOf(253, 253, 253), markedOver);
    EXPECT_EQ(overUnderOf(255, 255, 250), markedOver); // 760 / 3 = 253
    EXPECT_EQ(overUnderOf(252, 252, 252), notMarked);
    EXPECT_EQ(overUnderOf(255, 255, 248), notMarked); // 758 / 3 = 252
    EXPECT_EQ(overUnderOf(2, 2, 2), markedUnder);
    EXPECT_EQ(overUnderOf(0, 0, 8), markedUnder); // 8 / 3 = 2
    EXPECT_EQ(overUnderOf(3, 3, 3), notMarked);
    EXPECT_EQ(overUnderOf(0, 1, 8), notMarked); // 9 / 3 = 3

    EXPECT_EQ(sampleReadout(false, sampleOf(1, 1, 1)), "[R:000%, G:000%, B:000%]");
    EXPECT_EQ(sampleReadout(true, sampleOf(1.0, 0.5, 0.004)), "[R:100%, G:050%, B:000%]");
    EXPECT_EQ(sampleReadout(true, sampleOf(0.006, 0.999, 0.25)), "[R:001%, G:100%, B:025%]");
    EXPECT_EQ(sampleReadout(true, sampleOf(std::nan(""), -2, 40)), "[R:000%, G:000%, B:999%]");
    EXPECT_EQ(dimensionsText(4032, 3024), "4032x3024 [12.2 MPix]");
    EXPECT_EQ(dimensionsText(640, 427), "640x427 [0.3 MPix]");
    EXPECT_NEAR(sampleOf(1, 0, 0).l + sampleOf(0, 1, 0).l + sampleOf(0, 0, 1).l, 1.0, 1e-12);
}

} // namespace
