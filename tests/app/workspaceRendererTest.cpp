// Drawing of a view: the display cache's conversions and levels, the checkerboard and the centred
// picture, magnified and reduced pixels at known places, bilinear magnification, the display
// transform with the over/under marks, odd and hostile geometry, and 1 versus N threads.

#include "app/workspaceRenderer.h"
#include "base/parallelFor.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace halvora;

namespace {

QColor at(const QImage& img, int x, int y) {
    return img.pixelColor(x, y);
}
QColor colorOf(viewColor c) {
    return QColor(c.r, c.g, c.b);
}

// A picture whose pixel (x, y) has a colour that tells where it came from.
QImage codedPicture(int w, int h) {
    QImage img(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixelColor(x, y, QColor((x * 7) & 255, (y * 11) & 255, (x + y) & 255));
    return img;
}

displayCache cacheOf(const QImage& img) {
    displayCache cache;
    cache.setRgb8(img.constBits(), img.width(), img.height(), int(img.bytesPerLine()));
    return cache;
}

workspaceDrawing drawingOf(const displayCache& cache, int pw, int ph, int vw, int vh, double scale) {
    workspaceDrawing d;
    d.cache = &cache;
    d.view.pictureWidth = pw;
    d.view.pictureHeight = ph;
    d.view.viewWidth = vw;
    d.view.viewHeight = vh;
    d.view.scale = scale;
    return d;
}

TEST(displayCache, conversionsAndHalvedLevels) {
    // Working scale: shifted right by 7 (32640 is 255, 32639 is 254).
    const uint16_t samples[6] = {32640, 32639, 128, 127, 0, 16384};
    displayCache c16;
    c16.setRgb16(samples, 2, 1);
    const uint8_t expected16[6] = {255, 254, 1, 0, 0, 128};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(c16.level(0).rgb[size_t(i)], expected16[i]) << i;

    // Floats: × 255, capped; NaN and negatives are 0.
    const float floats[6] = {1.5f, 0.5f, std::nanf(""), -1.0f, 1.0f, 0.002f};
    displayCache cf;
    cf.setFloat(floats, 2, 1);
    const uint8_t expectedF[6] = {255, 127, 0, 0, 255, 0};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(cf.level(0).rgb[size_t(i)], expectedF[i]) << i;

    // Levels halve with integer division until a side would vanish; each pixel is its 2 × 2 mean.
    QImage img(13, 6, QImage::Format_RGB888);
    img.fill(QColor(10, 20, 30));
    img.setPixelColor(0, 0, QColor(14, 20, 30));
    img.setPixelColor(1, 1, QColor(14, 20, 30));
    const displayCache c = cacheOf(img);
    ASSERT_EQ(c.levelCount(), 3); // 13×6, 6×3, 3×1
    EXPECT_EQ(c.level(1).width, 6);
    EXPECT_EQ(c.level(2).width, 3);
    EXPECT_EQ(c.level(2).height, 1);
    EXPECT_EQ(c.level(1).rgb[0], 12); // (14 + 10 + 10 + 14) / 4

    // Nothing to build from: the cache stays empty.
    displayCache none;
    none.setRgb8(nullptr, 10, 10, 30);
    EXPECT_TRUE(none.empty());
    none.setRgb16(samples, 0, 5);
    EXPECT_TRUE(none.empty());
}

TEST(workspaceRenderer, checkerboardAroundACentredPicture) {
    const QImage picture = codedPicture(20, 10);
    const displayCache cache = cacheOf(picture);
    workspaceDrawing d = drawingOf(cache, 20, 10, 100, 60, 1.0);
    d.background = backgroundPairOf(1);
    QImage out;
    drawWorkspace(d, out);
    ASSERT_EQ(out.size(), QSize(100, 60));
    const backgroundPair bg = backgroundPairOf(1);
    // Squares of 16 viewport pixels, starting with the first colour at the top left.
    EXPECT_EQ(at(out, 0, 0), colorOf(bg.first));
    EXPECT_EQ(at(out, 15, 15), colorOf(bg.first));
    EXPECT_EQ(at(out, 16, 0), colorOf(bg.second));
    EXPECT_EQ(at(out, 0, 16), colorOf(bg.second));
    EXPECT_EQ(at(out, 16, 16), colorOf(bg.first));
    EXPECT_EQ(at(out, 99, 59), colorOf(((99 / 16 + 59 / 16) & 1) ? bg.second : bg.first));
    // The picture sits at (40, 25), pixel for pixel.
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(at(out, 40 + x, 25 + y), picture.pixelColor(x, y)) << x << "," << y;
    EXPECT_NE(at(out, 39, 25), picture.pixelColor(0, 0));

    // Without a picture to show, the picture's place is flat grey.
    d.cache = nullptr;
    drawWorkspace(d, out);
    EXPECT_EQ(at(out, 45, 30), colorOf(flatBackground()));
    EXPECT_EQ(at(out, 0, 0), colorOf(bg.first));
}

TEST(workspaceRenderer, magnifiedAndReducedPixelsLandWhereTheMappingSays) {
    const QImage picture = codedPicture(50, 40);
    const displayCache cache = cacheOf(picture);

    // 400 %, scrolled: viewport pixel (x, y) shows picture pixel ((x + 30) / 4, (y + 12) / 4).
    workspaceDrawing d = drawingOf(cache, 50, 40, 64, 48, 4.0);
    d.view.offsetX = 30;
    d.view.offsetY = 12;
    QImage out;
    const drawingStats zoomed = drawWorkspace(d, out);
    EXPECT_EQ(zoomed.level, 0);
    EXPECT_FALSE(zoomed.bilinear);
    for (int y = 0; y < 48; y += 5)
        for (int x = 0; x < 64; x += 3)
            ASSERT_EQ(at(out, x, y), picture.pixelColor((x + 30) / 4, (y + 12) / 4)) << x << "," << y;

    // 25 % of a picture made of flat 4 × 4 blocks: level 2 holds the blocks' colours exactly.
    QImage blocks(64, 32, QImage::Format_RGB888);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x)
            blocks.setPixelColor(x, y, QColor((x / 4) * 16, (y / 4) * 30, 200));
    const displayCache blockCache = cacheOf(blocks);
    workspaceDrawing r = drawingOf(blockCache, 64, 32, 16, 8, 0.25);
    const drawingStats reduced = drawWorkspace(r, out);
    EXPECT_EQ(reduced.level, 2);
    EXPECT_EQ(reduced.levelWidth, 16);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(at(out, x, y), QColor(x * 16, y * 30, 200)) << x << "," << y;

    // A cache that stands for a larger picture (a preview of a 4000 × 3200 photo): at 100 % each
    // preview pixel covers 80 × 80 screen pixels.
    workspaceDrawing p = drawingOf(cache, 4000, 3200, 200, 200, 1.0);
    p.view.offsetX = 800;
    p.view.offsetY = 1600;
    drawWorkspace(p, out);
    EXPECT_EQ(at(out, 0, 0), picture.pixelColor(10, 20));
    EXPECT_EQ(at(out, 79, 79), picture.pixelColor(10, 20));
    EXPECT_EQ(at(out, 80, 80), picture.pixelColor(11, 21));
}

TEST(workspaceRenderer, bilinearMagnificationFollowsTheSamplePositions) {
    QImage ramp(2, 1, QImage::Format_RGB888);
    ramp.setPixelColor(0, 0, QColor(0, 0, 0));
    ramp.setPixelColor(1, 0, QColor(255, 255, 255));
    const displayCache cache = cacheOf(ramp);
    workspaceDrawing d = drawingOf(cache, 2, 1, 8, 4, 4.0);
    d.smooth = true;
    QImage out;
    EXPECT_TRUE(drawWorkspace(d, out).bilinear);
    // Screen pixel i samples x = (i + 0.5) / 4 − 0.5 between the two pixel centres.
    for (int i = 0; i < 8; ++i) {
        const double x = std::clamp((i + 0.5) / 4.0 - 0.5, 0.0, 1.0);
        EXPECT_NEAR(at(out, i, 2).red(), 255.0 * x, 1.0) << i;
    }
    // Zoomed out on a picture with halved levels: nearest pixel of the level, whatever the option.
    const displayCache big = cacheOf(codedPicture(64, 64));
    workspaceDrawing z = drawingOf(big, 64, 64, 32, 32, 0.5);
    z.smooth = true;
    EXPECT_FALSE(drawWorkspace(z, out).bilinear);
}

TEST(workspaceRenderer, marksArePaintedAfterTheDisplayTransform) {
    // m = 253 red, 252 unchanged, 2 blue, 3 unchanged.
    QImage marks(4, 1, QImage::Format_RGB888);
    marks.setPixelColor(0, 0, QColor(255, 255, 250));
    marks.setPixelColor(1, 0, QColor(252, 252, 252));
    marks.setPixelColor(2, 0, QColor(0, 0, 8));
    marks.setPixelColor(3, 0, QColor(3, 3, 3));
    const displayCache cache = cacheOf(marks);
    workspaceDrawing d = drawingOf(cache, 4, 1, 4, 1, 1.0);
    QImage out;
    drawWorkspace(d, out);
    EXPECT_EQ(at(out, 0, 0), QColor(255, 255, 250)) << "no marks unless asked for";
    d.markOverUnder = true;
    int rowsTransformed = 0;
    d.displayTransform = [&rowsTransformed](uint8_t* row, int n) {
        ++rowsTransformed; // one row here, so no race on the counter
        for (int i = 0; i < 3 * n; ++i)
            row[i] = uint8_t(255 - row[i]);
    };
    drawWorkspace(d, out);
    EXPECT_EQ(rowsTransformed, 1);
    EXPECT_EQ(at(out, 0, 0), QColor(255, 0, 0));
    EXPECT_EQ(at(out, 1, 0), QColor(3, 3, 3)) << "transformed, not marked";
    EXPECT_EQ(at(out, 2, 0), QColor(0, 0, 255));
    EXPECT_EQ(at(out, 3, 0), QColor(252, 252, 252));
}

TEST(workspaceRenderer, oddGeometryNeverReadsOutsideTheCache) {
    const QImage one = codedPicture(1, 1);
    const displayCache tiny = cacheOf(one);
    QImage out;
    // A one-pixel picture at every end of the zoom list, and offsets far out of range.
    for (double s : {0.01, 0.5, 1.0, 4.0}) {
        workspaceDrawing d = drawingOf(tiny, 1, 1, 37, 23, s);
        d.view.offsetX = 100000;
        d.view.offsetY = -100000;
        d.smooth = true;
        drawWorkspace(d, out);
        EXPECT_EQ(at(out, 18, 11), one.pixelColor(0, 0)) << s;
    }
    // An empty viewport and an empty picture draw nothing and do not fail.
    workspaceDrawing empty = drawingOf(tiny, 1, 1, 0, 0, 1.0);
    drawWorkspace(empty, out);
    EXPECT_TRUE(out.isNull() || out.size().isEmpty());
    workspaceDrawing noPicture = drawingOf(tiny, 0, 0, 10, 10, 1.0);
    drawWorkspace(noPicture, out);
    EXPECT_EQ(out.size(), QSize(10, 10));

    rgbDouble_t v;
    EXPECT_FALSE(shownColorAt(tiny, 1, 1, QPointF(1.0, 0.0), v));
    EXPECT_FALSE(shownColorAt(tiny, 1, 1, QPointF(-0.01, 0.0), v));
    ASSERT_TRUE(shownColorAt(tiny, 1, 1, QPointF(0.99, 0.99), v));
    EXPECT_DOUBLE_EQ(v.r, one.pixelColor(0, 0).red() / 255.0);
}

TEST(workspaceRenderer, oneThreadAndManyDrawTheSame) {
    const QImage picture = codedPicture(301, 203);
    const displayCache cache = cacheOf(picture);
    for (double s : {0.07, 0.33, 1.0, 2.6}) {
        workspaceDrawing d = drawingOf(cache, 301, 203, 257, 181, s);
        d.view.offsetX = 40;
        d.view.offsetY = 25;
        d.view.clampOffsets();
        d.smooth = true;
        d.markOverUnder = true;
        QImage single, many;
        setThreadCountOverride(1);
        drawWorkspace(d, single);
        setThreadCountOverride(7);
        drawWorkspace(d, many);
        setThreadCountOverride(0);
        EXPECT_EQ(single, many) << s;
    }
}

} // namespace
