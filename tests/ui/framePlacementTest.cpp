#include "ui/framePlacement.h"

#include <gtest/gtest.h>

using halvora::placeFrame;

namespace {

const QRect kFull(0, 0, 1920, 1080);
const QRect kAvailable(0, 0, 1920, 1040); // a 40-pixel task bar at the bottom
const QRect kCentred((1920 - 800) / 2, (1040 - 570) / 2, 800, 570);

TEST(framePlacement, maximizedUsesTheAvailableAreaOrOnePixelLessWithoutTaskBar) {
    const auto p = placeFrame(QRect(10, 10, 500, 400), true, kAvailable, kFull);
    EXPECT_TRUE(p.maximized);
    EXPECT_EQ(p.frame, kAvailable);
    EXPECT_EQ(p.restore, kCentred);
    EXPECT_EQ(placeFrame(QRect(), true, kFull, kFull).frame, QRect(0, 0, 1920, 1079));
    // Odd sizes: the centring truncates towards zero.
    const auto q = placeFrame(QRect(), true, QRect(0, 0, 801, 571), QRect(0, 0, 801, 600));
    EXPECT_EQ(q.restore, QRect(0, 0, 800, 570));
}

TEST(framePlacement, savedRectangleKeptWhenWellInsideElseCentred) {
    const QRect saved(100, 50, 900, 700);
    const auto p = placeFrame(saved, false, kAvailable, kFull);
    EXPECT_FALSE(p.maximized);
    EXPECT_EQ(p.intersection, saved);
    const struct {
        QRect saved;
        bool kept;
        const char* why;
    } cases[] = {
        {saved, true, "well inside"},
        {QRect(1821, 100, 800, 600), false, "only 99 pixels of width overlap"},
        {QRect(1820, 100, 800, 600), true, "100 pixels overlap is enough"},
        {QRect(100, 941, 800, 600), false, "99 pixels of height overlap"},
        {QRect(100, -6, 800, 600), false, "top more than 5 pixels above the available area"},
        {QRect(100, -5, 800, 600), true, "top 5 pixels above"},
        {QRect(3000, 100, 800, 600), false, "entirely on another (now missing) screen"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(placeFrame(c.saved, false, kAvailable, kFull).frame, c.kept ? c.saved : kCentred) << c.why;
}

} // namespace
