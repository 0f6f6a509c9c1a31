// Manual white balance on a four-colour sensor (cyan, magenta, yellow, green): a converted picture has
// three colours for the sensor's four channels, so the picked area is measured on the sensor. A DNG
// written byte by byte holds patches of known sensor values in every orientation; the measured
// values, the multipliers that follow from them and the decode with those multipliers are checked
// against those values, and clipped, off-picture and truncated input is refused with a reason.

#include "imageio/fourColorDng.h"
#include "imageio/rawConverter.h"
#include "imageio/rawLoadOptions.h"
#include "imageio/rawWhiteBalance.h"
#include "support/testSupport.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

using namespace halvora;
using halvora::test::fourColorDng;

namespace {

QString writeDng(const QString& dir, int orientation) {
    const QString path = dir + QString("/cmyg%1.dng").arg(orientation);
    return halvora::test::writeBytes(path, fourColorDng::bytes(orientation)) ? path : QString();
}

// (largest − smallest) / largest of three values.
double relativeSpread(const double v[3]) {
    const double hi = std::max({v[0], v[1], v[2]}), lo = std::min({v[0], v[1], v[2]});
    return hi > 0 ? (hi - lo) / hi : 1.0;
}

} // namespace

TEST(rawFourColor, pickedAreaIsMeasuredOnTheSensorAndDecodesGreyInEveryOrientation) {
    const QString dir = halvora::test::makeTempDir("cmyg");
    for (int orientation : {1, 3, 6, 8}) {
        SCOPED_TRACE("orientation " + std::to_string(orientation));
        const QString dng = writeDng(dir, orientation);
        rawInfo_t info;
        exifInfo_t exif;
        QString error;
        ASSERT_TRUE(getRAWinfo_DCRAW(dng, true, info, exif, &error)) << error.toStdString();
        const bool turned = orientation == 6 || orientation == 8;
        ASSERT_EQ(info.halfWidth, turned ? fourColorDng::height / 2 : fourColorDng::width / 2);

        // The middle of the grey patch as the turned preview shows it, and as stored (an embedded
        // preview is not turned).
        int x = 0, y = 0;
        fourColorDng::shownAt(orientation, 8, 16, x, y);
        const int w = info.halfWidth, h = info.halfHeight;
        double means[4];
        int colors = 0;
        ASSERT_TRUE(rawAreaChannelMeans(dng, QPointF((8 + 0.5) / 48, (16 + 0.5) / 32), false, 2, means,
                                        colors, &error))
            << error.toStdString();
        EXPECT_NEAR(means[2], fourColorDng::grey[2] * fourColorDng::range, 0.51);
        ASSERT_TRUE(
            rawAreaChannelMeans(dng, QPointF((x + 0.5) / w, (y + 0.5) / h), true, 2, means, colors, &error))
            << error.toStdString();
        ASSERT_EQ(colors, 4);
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(means[c], fourColorDng::grey[c] * fourColorDng::range, 0.51) << "channel " << c;

        // Multipliers that bring every channel to the level of the second: m = grey[1] / grey[c].
        const double current[4] = {1.25, 1.0, 1.6667, 1.1111};
        double wanted[4];
        ASSERT_TRUE(sensorGreyMultipliers(means, colors, current, wanted));
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(wanted[c], fourColorDng::grey[1] / fourColorDng::grey[c], 1e-3) << "channel " << c;

        // Decoded with them (as "Manual" does), the patch comes out grey; as shot it does not.
        rawLoadOptions options;
        options.whiteBalance = rawLoadOptions::manual;
        const rawOutputCurve_t curve = outputCurveOf(buildDcrawArgs(options, true));
        std::vector<uint8_t> rgb(size_t(w) * size_t(h) * 3);
        double shown[3];
        std::copy(current, current + 4, options.multipliers);
        ASSERT_TRUE(loadRAW_DCRAW(dng, buildDcrawArgs(options, true), w, h, nullptr, rgb.data(), &error))
            << error.toStdString();
        ASSERT_TRUE(meanLinearColor(rgb.data(), w, h, w * 3, x, y, 2, curve, shown));
        EXPECT_GT(relativeSpread(shown), 0.05);
        std::copy(wanted, wanted + 4, options.multipliers);
        ASSERT_TRUE(loadRAW_DCRAW(dng, buildDcrawArgs(options, true), w, h, nullptr, rgb.data(), &error))
            << error.toStdString();
        ASSERT_TRUE(meanLinearColor(rgb.data(), w, h, w * 3, x, y, 2, curve, shown));
        EXPECT_LT(relativeSpread(shown), 0.01) << shown[0] << " " << shown[1] << " " << shown[2];
    }
}

TEST(rawFourColor, clippedOffPictureAndTruncatedInputIsRefusedWithAReason) {
    const QString dir = halvora::test::makeTempDir("cmyg");
    const QString dng = writeDng(dir, 1);
    double means[4] = {-1, -1, -1, -1};
    int colors = 0;
    QString error;
    // Magenta is clipped all over the right third.
    EXPECT_FALSE(rawAreaChannelMeans(dng, QPointF(40.5 / 48, 0.5), true, 2, means, colors, &error));
    EXPECT_TRUE(error.contains("clipped")) << error.toStdString();
    // A square reaching over the edge counts the pixels inside only; a point outside is refused.
    EXPECT_TRUE(rawAreaChannelMeans(dng, QPointF(0, 0), true, 2, means, colors, &error))
        << error.toStdString();
    EXPECT_NEAR(means[3], fourColorDng::grey[3] * fourColorDng::range, 0.51);
    for (const QPointF& p :
         {QPointF(-0.01, 0.5), QPointF(1, 0.5), QPointF(0.5, 1), QPointF(std::nan(""), 0.5)}) {
        error.clear();
        EXPECT_FALSE(rawAreaChannelMeans(dng, p, true, 2, means, colors, &error)) << p.x() << ", " << p.y();
        EXPECT_TRUE(error.contains("is off the picture")) << error.toStdString();
    }
    EXPECT_FALSE(rawAreaChannelMeans(dng, QPointF(0.5, 0.5), true, 1 << 20, means, colors, &error));
    // Cut inside the picture data.
    const std::vector<uint8_t> whole = fourColorDng::bytes(1);
    error.clear();
    EXPECT_FALSE(rawAreaChannelMeansFromMemory(whole.data(), whole.size() / 2, "cut.dng", QPointF(0.2, 0.5),
                                               true, 2, means, colors, &error));
    EXPECT_TRUE(error.startsWith("cut.dng: ")) << error.toStdString();
    // A black channel (or a zero multiplier to keep) gives no multipliers.
    const double dark[4] = {100, 200, 0, 300};
    const double current[4] = {1, 1, 1, 1};
    double untouched[4] = {7, 7, 7, 7};
    EXPECT_FALSE(sensorGreyMultipliers(dark, 4, current, untouched));
    const double noGreen[4] = {1, 0, 1, 1};
    EXPECT_FALSE(sensorGreyMultipliers(means, 4, noGreen, untouched));
    EXPECT_EQ(untouched[0], 7.0);
}
