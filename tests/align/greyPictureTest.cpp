// The exposure-equalised grey picture: equal radiance gives equal grey whatever the exposure, the
// middle grey of a real dark photo is lifted to 128, the pyramid's levels are 2 × 2 means, and bad
// input is refused. Also the FAST-9 detector on hand-made pixel patterns and pictures.

#include "align/greyPicture.h"
#include "align/alignTestSupport.h"
#include "align/fastCorners.h"
#include "base/parallelFor.h"
#include "support/testSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <regex>

using namespace halvora;

namespace {

greyCalibration_t calibration(double ev, double evMin, double evMax) {
    greyCalibration_t c;
    c.lnExposure = ev * std::log(2.0);
    c.lnEvMin = evMin * std::log(2.0);
    c.lnEvMax = evMax * std::log(2.0);
    c.standardCurve = aligntest::tables().standard.data();
    c.closenessBright = aligntest::tables().bright.data();
    c.closenessDark = aligntest::tables().dark.data();
    return c;
}

/// The middle grey counted directly: the values below which 47.5 %, 50 % and 52.5 % of the samples lie.
int countedMiddle(const uint8_t* grey, size_t count) {
    std::vector<uint8_t> sorted(grey, grey + count);
    std::sort(sorted.begin(), sorted.end());
    auto at = [&](double f) {
        return int(sorted[std::min(count - 1, size_t(std::floor(f * double(count))))]);
    };
    return (at(0.475) + at(0.5) + at(0.525)) / 3;
}

} // namespace

TEST(greyPicture, equalRadianceGivesEqualGreyAtEveryExposure) {
    // A camera with the standard curve records radiance r as the sample k with curve(k) = r. The photo
    // two stops brighter records 4r. Away from black and white both must become the same grey.
    const auto& curve = aligntest::tables().standard;
    const std::vector<uint8_t> reference = greyLevelTable(calibration(0, -2, 2));
    const std::vector<uint8_t> brighter = greyLevelTable(calibration(2, -2, 2));
    const std::vector<uint8_t> darker = greyLevelTable(calibration(-2, -2, 2));
    ASSERT_EQ(reference.size(), 32640u);
    for (int k = 2000; k <= 6000; k += 250) {
        const double r = curve[size_t(k)];
        const auto bright = std::lower_bound(curve.begin(), curve.end(), 4 * r) - curve.begin();
        EXPECT_NEAR(brighter[size_t(bright)], reference[size_t(k)], 1) << "sample " << k;
    }
    for (int k = 9000; k <= 24000; k += 1000) {
        const double r = curve[size_t(k)];
        const auto dark = std::lower_bound(curve.begin(), curve.end(), r / 4) - curve.begin();
        EXPECT_NEAR(darker[size_t(dark)], reference[size_t(k)], 1) << "sample " << k;
    }
    // The reference's white is 255. A photo ten stops brighter maps black below one grey level,
    // which must become 1, not 0 (0 means "no sample" to the matching).
    EXPECT_EQ(greyLevelTable(calibration(0, 0, 2))[32639], 255);
    const std::vector<uint8_t> glaring = greyLevelTable(calibration(10, 0, 10));
    EXPECT_EQ(glaring[0], 1);
    EXPECT_EQ(std::count(glaring.begin(), glaring.end(), 0), 0);

    // Middle grey of a small histogram by hand: 40 samples at 10, 10 at 20, 50 at 30: the running
    // count first exceeds 47.5 at 20, 50 and 52.5 at 30.
    uint64_t histogram[256] = {};
    histogram[10] = 40;
    histogram[20] = 10;
    histogram[30] = 50;
    const greyMiddle m = greyMiddleOf(histogram, 100);
    EXPECT_EQ(m.a, 20);
    EXPECT_EQ(m.b, 30);
    EXPECT_EQ(m.c, 30);
    EXPECT_EQ(m.mid(), 26);
}

TEST(greyPicture, aDarkerRealPhotoIsBrightenedToAMiddleGreyOf128) {
    HALVORA_REQUIRE_DATA();
    // The desk bracket: img05 (1 s) is the reference, img07 (1/3 s) is 1.58 stops darker.
    const rgb16Buffer photo = aligntest::loadPhoto(test::dataFile("brackets/desk_canon_s45_13exp/img07.jpg"));
    ASSERT_FALSE(photo.empty());
    test::logCapture log;
    pyramid grey;
    greyCalibration_t c = calibration(-std::log2(3.0), -std::log2(3.0), 0);
    c.photoIndex = 6;
    ASSERT_TRUE(getCalibratedImage(photo, c, grey, nullptr));
    std::smatch found;
    const std::string text = log.text();
    ASSERT_TRUE(std::regex_search(text, found, std::regex("middle\\[6\\]=(\\d+),(\\d+),(\\d+)\n"))) << text;
    const int before = (std::stoi(found[1]) + std::stoi(found[2]) + std::stoi(found[3])) / 3;
    EXPECT_LT(before, 100); // a dark night scene: the brightening has work to do
    EXPECT_GE(countedMiddle(grey.data<uint8_t>(0), size_t(grey.width()) * grey.height()), 127);
}

TEST(greyPicture, pyramidLevelsAreBlockMeansWithoutZeroes) {
    test::threadCountGuard guard;
    rgb16Buffer photo = aligntest::texturedScene(1000, 700, 11);
    for (int y = 0; y < 40; ++y) // a black band: still no zero grey anywhere
        std::fill_n(photo.pixels() + size_t(y) * 1000 * 3, 1000 * 3, uint16_t(0));
    // Ten stops brighter than the reference: the black band maps below grey 1.
    pyramid one, many;
    setThreadCountOverride(1);
    ASSERT_TRUE(getCalibratedImage(photo, calibration(10, 0, 10), one, nullptr));
    setThreadCountOverride(5);
    ASSERT_TRUE(getCalibratedImage(photo, calibration(10, 0, 10), many, nullptr));
    // 700 → 350 → 175 → 87 → 43: four halvings to 64 or less.
    ASSERT_EQ(one.levelCount(), 4);
    const int widths[4] = {1000, 500, 250, 125}, heights[4] = {700, 350, 175, 87};
    for (int k = 0; k < 4; ++k) {
        ASSERT_EQ(one.width(k), widths[k]);
        ASSERT_EQ(one.height(k), heights[k]);
        EXPECT_EQ(std::memcmp(one.data<uint8_t>(k), many.data<uint8_t>(k), one.levelBytes(k)), 0)
            << "level " << k;
        const uint8_t* level = one.data<uint8_t>(k);
        EXPECT_EQ(std::count(level, level + one.levelBytes(k), 0), 0) << "level " << k;
    }
    for (int k = 1; k < 4; ++k)
        for (int y = 0; y < one.height(k); y += 7)
            for (int x = 0; x < one.width(k); x += 5) {
                const uint8_t* up = one.data<uint8_t>(k - 1);
                const int w = one.width(k - 1);
                const int sum = up[2 * y * w + 2 * x] + up[2 * y * w + 2 * x + 1] +
                                up[(2 * y + 1) * w + 2 * x] + up[(2 * y + 1) * w + 2 * x + 1];
                ASSERT_EQ(one.data<uint8_t>(k)[y * one.width(k) + x], (sum + 2) / 4)
                    << k << ": " << x << ", " << y;
            }
}

TEST(greyPicture, badInputIsRefusedAndHostileSamplesAreClamped) {
    pyramid grey;
    QString error;
    EXPECT_FALSE(getCalibratedImage(rgb16Buffer{}, calibration(0, 0, 0), grey, &error));
    EXPECT_TRUE(error.contains("no pixels")) << qPrintable(error);
    rgb16Buffer photo = aligntest::texturedScene(50, 40, 2);
    greyCalibration_t missing = calibration(0, 0, 0);
    missing.closenessDark = nullptr;
    error.clear();
    EXPECT_FALSE(getCalibratedImage(photo, missing, grey, &error));
    EXPECT_TRUE(error.contains("missing")) << qPrintable(error);
    // Samples far above full scale (a damaged 16-bit file) read as white.
    std::fill(photo.pixels(), photo.pixels() + photo.sampleCount(), uint16_t(65535));
    ASSERT_TRUE(getCalibratedImage(photo, calibration(0, 0, 0), grey, &error));
    EXPECT_EQ(grey.data<uint8_t>(0)[0], 255);
}

TEST(fastCorners, segmentTestNeedsNineContiguousPixelsAndScoresTheirMargin) {
    // Centre 100; circle pixels clockwise from the top. Nine of them at 200: a corner whose score is
    // the largest b with 200 > 100 + b, i.e. 99. Eight of them: no corner at any threshold.
    const int circle[16][2] = {{0, -3}, {1, -3}, {2, -2}, {3, -1}, {3, 0},  {3, 1},   {2, 2},   {1, 3},
                               {0, 3},  {-1, 3}, {-2, 2}, {-3, 1}, {-3, 0}, {-3, -1}, {-2, -2}, {-1, -3}};
    for (const int arc : {9, 8}) {
        for (const int start : {0, 5, 12}) { // arcs that wrap around the top as well
            std::vector<uint8_t> plane(15 * 15, 100);
            for (int k = 0; k < arc; ++k) {
                const int* o = circle[(start + k) % 16];
                plane[size_t((7 + o[1]) * 15 + 7 + o[0])] = 200;
            }
            const std::vector<uint8_t> scores = fastScores(plane.data(), 15, 15, 15, 15);
            EXPECT_EQ(scores[7 * 15 + 7], arc == 9 ? 99 : 0) << arc << " from " << start;
        }
    }
    // A dark arc scores its margin the same way: 100 − 30 − 1.
    std::vector<uint8_t> plane(15 * 15, 100);
    for (int k = 0; k < 12; ++k)
        plane[size_t((7 + circle[k][1]) * 15 + 7 + circle[k][0])] = 30;
    EXPECT_EQ(fastScores(plane.data(), 15, 15, 15, 15)[7 * 15 + 7], 69);
}

TEST(fastCorners, aSquareHasItsFourCornersAndAFlatPictureNone) {
    std::vector<uint8_t> plane(60 * 50, 40);
    for (int y = 15; y < 35; ++y)
        for (int x = 20; x < 45; ++x)
            plane[size_t(y) * 60 + x] = 220;
    const std::vector<alignCorner> found = fastCorners(plane.data(), 60, 50, 60, 20);
    ASSERT_EQ(found.size(), 4u);
    // Each corner of the square is a cluster of equal scores; the cluster's first pixel in raster
    // order survives, at most two pixels from the square's corner.
    const alignCorner expected[4] = {{20, 15}, {44, 15}, {20, 34}, {44, 34}}; // raster order
    for (int k = 0; k < 4; ++k) {
        EXPECT_LE(std::abs(found[size_t(k)].x - expected[k].x), 2) << k;
        EXPECT_LE(std::abs(found[size_t(k)].y - expected[k].y), 2) << k;
    }
    const std::vector<uint8_t> flat(60 * 50, 128);
    EXPECT_TRUE(fastCorners(flat.data(), 60, 50, 60, 15).empty());
    EXPECT_TRUE(fastCorners(flat.data(), 5, 5, 60, 15).empty()); // smaller than the circle
}

TEST(fastCorners, chunksKeepTheirThresholdWithManyCornersAndFailBelowTwelve) {
    // Bright 7 × 7 squares every 10 pixels on black, on the detection level: four strong corners
    // each, so every chunk has far more than 20 corners at the first threshold.
    pyramid board;
    ASSERT_TRUE(board.init(400, 300, 3, 1, 1, true)); // detection level min(3, 3) − 1 = 2: 100 × 75
    for (int k = 0; k < 3; ++k)
        for (int y = 0; y < board.height(k); ++y)
            for (int x = 0; x < board.width(k); ++x)
                board.data<uint8_t>(k)[y * board.width(k) + x] = (x % 10 < 7 && y % 10 < 7) ? 255 : 1;
    test::logCapture log;
    std::vector<alignCorner> corners;
    ASSERT_TRUE(detectReferenceCorners(board, alignSizesFor(400, 300), corners, nullptr));
    EXPECT_TRUE(log.contains("100x75: Nx=2, Ny=2\n")) << log.text();
    const std::string text = log.text();
    size_t kept = 0;
    for (size_t at = text.find(", threshold=140\n"); at != std::string::npos;
         at = text.find(", threshold=140\n", at + 1))
        ++kept;
    EXPECT_EQ(kept, 4u) << text;
    EXPECT_GT(corners.size(), 4u * 20u);
    for (const alignCorner& c : corners) {
        EXPECT_EQ(c.x % 4, 0); // level-2 positions times 4
        EXPECT_EQ(c.y % 4, 0);
    }

    // A smooth gradient has no corner at any threshold: the alignment stops with the log line.
    pyramid smooth;
    ASSERT_TRUE(smooth.init(400, 300, 3, 1, 1, true));
    for (int k = 0; k < 3; ++k)
        for (int y = 0; y < smooth.height(k); ++y)
            for (int x = 0; x < smooth.width(k); ++x)
                smooth.data<uint8_t>(k)[y * smooth.width(k) + x] = uint8_t(20 + x / 2);
    QString error;
    EXPECT_FALSE(detectReferenceCorners(smooth, alignSizesFor(400, 300), corners, &error));
    EXPECT_TRUE(log.contains("  base corners < 12\n"));
    EXPECT_TRUE(log.contains("Chunk_1x1: n=0, threshold=15\n")) << log.text();
    EXPECT_TRUE(error.contains("too few corners")) << qPrintable(error);
}
