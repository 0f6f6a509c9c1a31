#include "ui/framePlacement.h"

#include <gtest/gtest.h>

using halvora::placeFrame;

namespace {

const QRect kFull(0, 0, 1920, 1080);
const QRect kAvailable(0, 0, 1920, 1040); // a 40-pixel task bar at the bottom

TEST(framePlacement, maximizedUsesTheAvailableArea) {
    const auto p = placeFrame(QRect(10, 10, 500, 400), true, kAvailable, kFull);
    EXPECT_TRUE(p.maximized);
    EXPECT_EQ(p.frame, kAvailable);
    EXPECT_EQ(p.restore, QRect((1920 - 800) / 2, (1040 - 570) / 2, 800, 570));
}

TEST(framePlacement, maximizedWithoutTaskBarIsOnePixelShorter) {
    const auto p = placeFrame(QRect(), true, kFull, kFull);
    EXPECT_EQ(p.frame, QRect(0, 0, 1920, 1079));
    // Odd sizes: the centring truncates towards zero.
    const auto q = placeFrame(QRect(), true, QRect(0, 0, 801, 571), QRect(0, 0, 801, 600));
    EXPECT_EQ(q.restore, QRect(0, 0, 800, 570));
}

TEST(framePlacement, savedRectangleKeptWhenWellInside) {
    const QRect saved(100, 50, 900, 700);
    const auto p = placeFrame(saved, false, kAvailable, kFull);
    EXPECT_FALSE(p.maximized);
    EXPECT_EQ(p.frame, saved);
    EXPECT_EQ(p.intersection, saved);
}

TEST(framePlacement, replacedWhenOverlapTooSmallOrTooHigh) {
    const QRect centred((1920 - 800) / 2, (1040 - 570) / 2, 800, 570);
    // Only 99 pixels of width overlap the available area.
    EXPECT_EQ(placeFrame(QRect(1821, 100, 800, 600), false, kAvailable, kFull).frame, centred);
    // 100 pixels overlap is enough.
    EXPECT_EQ(placeFrame(QRect(1820, 100, 800, 600), false, kAvailable, kFull).frame,
              QRect(1820, 100, 800, 600));
    // 99 pixels of height overlap.
    EXPECT_EQ(placeFrame(QRect(100, 941, 800, 600), false, kAvailable, kFull).frame, centred);
    // Top more than 5 pixels above the available area.
    EXPECT_EQ(placeFrame(QRect(100, -6, 800, 600), false, kAvailable, kFull).frame, centred);
    EXPECT_EQ(placeFrame(QRect(100, -5, 800, 600), false, kAvailable, kFull).frame, QRect(100, -5, 800, 600));
    // Entirely on another (now missing) screen.
    EXPECT_EQ(placeFrame(QRect(3000, 100, 800, 600), false, kAvailable, kFull).frame, centred);
}

} // namespace
