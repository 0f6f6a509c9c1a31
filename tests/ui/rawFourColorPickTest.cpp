// "Load RAW image" on a four-colour sensor: "Manual" starts from all four "as shot" multipliers, a click
// on the turned preview's grey patch sets the four multipliers its sensor values ask for, and a click
// on a clipped patch is refused in the dialog with the multipliers left as they were; an automatic grey
// selection picked on the turned preview lands on the same place of the sensor.

#include "imageio/fourColorDng.h"
#include "support/testSupport.h"
#include "ui/rawLoadOptionsDialog.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <gtest/gtest.h>

using halvora::test::fourColorDng;

namespace {

// Writes the four-colour DNG turned by `orientation` to `file` and reads its information.
::testing::AssertionResult writeAndIdentify(const QString& file, int orientation, rawInfo_t& info) {
    if (!halvora::test::writeBytes(file, fourColorDng::bytes(orientation)))
        return ::testing::AssertionFailure() << "cannot write " << file.toStdString();
    exifInfo_t exif;
    QString error;
    if (!halvora::getRAWinfo_DCRAW(file, true, info, exif, &error))
        return ::testing::AssertionFailure() << error.toStdString();
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(rawFourColorPick, aClickOnTheGreyPatchSetsAllFourMultipliersAndAClippedOneIsRefused) {
    const QString file = halvora::test::makeTempDir("cmygDialog") + "/cmyg.dng";
    constexpr int orientation = 6;
    rawInfo_t info;
    ASSERT_TRUE(writeAndIdentify(file, orientation, info));
    rawLoadOptionsDialog dialog(file, info, rawLoadOptions{});
    // "As shot" relative to the second channel, the fourth one included: neutral[1] / neutral[c].
    for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(dialog.multiplierBox(c)->value(), fourColorDng::neutral[1] / fourColorDng::neutral[c],
                    1e-4)
            << "channel " << c;
    ASSERT_TRUE(dialog.renderPreview());
    ASSERT_EQ(dialog.shownPicture().size(), QSize(fourColorDng::height / 2, fourColorDng::width / 2));
    dialog.whiteBalanceList()->setCurrentIndex(rawLoadOptions::manual);
    auto* label = dialog.findChild<QLabel*>("pickLabel");
    ASSERT_NE(label, nullptr);

    int x = 0, y = 0;
    fourColorDng::shownAt(orientation, 8, 16, x, y);
    dialog.pickAt(QPoint(x, y));
    for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(dialog.multiplierBox(c)->value(), fourColorDng::grey[1] / fourColorDng::grey[c], 2e-4)
            << "channel " << c;

    double before[4];
    for (int c = 0; c < 4; ++c)
        before[c] = dialog.multiplierBox(c)->value();
    fourColorDng::shownAt(orientation, 40, 16, x, y);
    dialog.pickAt(QPoint(x, y));
    EXPECT_TRUE(label->text().contains("cannot be used")) << label->text().toStdString();
    EXPECT_TRUE(label->text().contains("clipped")) << label->text().toStdString();
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(dialog.multiplierBox(c)->value(), before[c]) << "channel " << c;
}

// "DCRAW automatic (selection)" hands the converter a grey box on the sensor as stored: a click on the
// turned quick preview is taken back through the camera's rotation (it once landed on the turned
// coordinates, a different place of a portrait photo).
TEST(rawFourColorPick, automaticSelectionOnATurnedPreviewIsPlacedOnTheSensor) {
    const QString file = halvora::test::makeTempDir("turnedSelection") + "/cmyg.dng";
    for (const int orientation : {1, 3, 6, 8}) {
        SCOPED_TRACE(orientation);
        rawInfo_t info;
        ASSERT_TRUE(writeAndIdentify(file, orientation, info));
        rawLoadOptionsDialog dialog(file, info, rawLoadOptions{});
        ASSERT_TRUE(dialog.renderPreview());
        dialog.whiteBalanceList()->setCurrentIndex(rawLoadOptions::automaticSelection);
        for (const QPoint stored : {QPoint(8, 16), QPoint(40, 3)}) {
            int x = 0, y = 0;
            fourColorDng::shownAt(orientation, stored.x(), stored.y(), x, y);
            dialog.pickAt(QPoint(x, y));
            const rawLoadOptions chosen = dialog.options();
            EXPECT_TRUE(chosen.hasSelection);
            EXPECT_EQ(QPoint(chosen.selectionX, chosen.selectionY), stored);
        }
    }
}
