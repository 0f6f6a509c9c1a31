// "Load RAW image": the option record travels through the widgets and out as the converter's argument
// list (written out here by hand from the converter's options), the eyedropper makes a picked area
// grey, and "Load" remembers the choice while "Cancel" changes nothing.

#include "ui/rawLoadOptionsDialog.h"
#include "app/programOptionsSettings.h"
#include "uiTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct rawDialogTest : ::testing::Test {
    void SetUp() override {
        if (halvora::test::dataDir().isEmpty()) GTEST_SKIP() << "test data folder ../shared/data is absent";
        file = halvora::test::dataFile("formats/raw/RAW_KODAK_DC50_é.KDC");
        exifInfo_t exif;
        QString error;
        ASSERT_TRUE(getRAWinfo_DCRAW(file, true, info, exif, &error)) << error.toStdString();
    }
    QString file;
    rawInfo_t info;
};

TEST_F(rawDialogTest, TheWidgetsChoicesBecomeTheConvertersArguments) {
    rawLoadOptionsDialog dialog(file, info, rawLoadOptions{});
    EXPECT_EQ(dialog.windowTitle(), "Load RAW image");
    ASSERT_EQ(dialog.whiteBalanceList()->count(), 4);
    EXPECT_EQ(dialog.whiteBalanceList()->itemText(2), "DCRAW automatic (whole image)");
    EXPECT_EQ(dialog.colorSpaceList()->itemText(3), "ProPhoto");
    // The defaults: as shot, nothing else.
    EXPECT_EQ(buildDcrawArgs(dialog.options(), false),
              QStringList({"-w", "-c", "-W", "-q", "2", "-6", "-s", "-0"}));

    dialog.whiteBalanceList()->setCurrentIndex(1);
    const double m[4] = {2.5, 1, 1.25, 1};
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(dialog.multiplierBox(i)->isEnabled());
        dialog.multiplierBox(i)->setValue(m[i]);
    }
    dialog.fourColorsBox()->setChecked(true);
    dialog.noiseGroup()->setChecked(true);
    dialog.waveletBox()->setValue(1.5);
    dialog.medianBox()->setValue(2);
    dialog.colorSpaceList()->setCurrentIndex(3);
    dialog.recoverHighlightsBox()->setChecked(true);
    dialog.halfSizeBox()->setChecked(true);
    const rawLoadOptions chosen = dialog.options();
    EXPECT_EQ(buildDcrawArgs(chosen, false),
              QStringList({"-r", "2.5", "1",  "1.25", "1", "-f", "-n", "15", "-m", "2",  "-o", "4", "-h",
                           "-H", "2",   "-g", "5",    "7", "-c", "-W", "-q", "2",  "-6", "-s", "-0"}));
    // The quick preview: 8 bits at half size, never converted to another colour space.
    EXPECT_EQ(buildDcrawArgs(chosen, true),
              QStringList({"-r", "2.5", "1",  "1.25", "1", "-f", "-n", "15", "-m", "2",  "-h",
                           "-H", "2",   "-g", "5",    "7", "-c", "-W", "-q", "0",  "-s", "-0"}));

    // Back in: a second dialog started from the record shows the same choices.
    rawLoadOptionsDialog again(file, info, chosen);
    EXPECT_EQ(buildDcrawArgs(again.options(), false), buildDcrawArgs(chosen, false));
    EXPECT_TRUE(again.halfSizeBox()->isChecked());
    EXPECT_DOUBLE_EQ(again.multiplierBox(2)->value(), 1.25);
}

TEST_F(rawDialogTest, AClickPicksTheGreyAreaForBothWhiteBalanceTools) {
    file = halvora::test::dataFile("formats/raw/canon_eos_6d_lossy.dng");
    exifInfo_t exif;
    ASSERT_TRUE(getRAWinfo_DCRAW(file, true, info, exif));
    rawLoadOptionsDialog dialog(file, info, rawLoadOptions{});
    // Manual starts from the camera's multipliers relative to its green one.
    if (info.cameraMultipliers[1] > 0)
        EXPECT_NEAR(dialog.multiplierBox(0)->value(), info.cameraMultipliers[0] / info.cameraMultipliers[1],
                    1e-3);
    ASSERT_TRUE(dialog.renderPreview());
    const QImage& shown = dialog.shownPicture();
    ASSERT_EQ(shown.size(), QSize(info.halfWidth, info.halfHeight));

    // Selection: its centre on the half-size picture, measured as a square of full-size pixels.
    dialog.whiteBalanceList()->setCurrentIndex(3);
    dialog.pickAt(QPoint(100, 60));
    const rawLoadOptions o = dialog.options();
    EXPECT_TRUE(o.hasSelection);
    EXPECT_EQ(buildDcrawArgs(o, false).mid(0, 5), QStringList({"-A", "168", "88", "64", "64"}));

    // Manual: the picked area, decoded again with the new multipliers, is much closer to grey.
    dialog.whiteBalanceList()->setCurrentIndex(1);
    auto deviation = [&](const QImage& img, QPoint p) {
        double s[3] = {0, 0, 0};
        for (int y = p.y() - 2; y <= p.y() + 2; ++y)
            for (int x = p.x() - 2; x <= p.x() + 2; ++x) {
                const QRgb c = img.pixel(x, y);
                s[0] += qRed(c), s[1] += qGreen(c), s[2] += qBlue(c);
            }
        return (std::abs(s[0] - s[1]) + std::abs(s[2] - s[1])) / 25.0;
    };
    // The most colourful area whose channels are all unclipped (clipped ones tell nothing).
    QPoint pick(2, 2);
    double worst = -1;
    for (int y = 4; y < shown.height() - 4; y += 8)
        for (int x = 4; x < shown.width() - 4; x += 8) {
            const QRgb c = shown.pixel(x, y);
            const int low = std::min({qRed(c), qGreen(c), qBlue(c)}),
                      high = std::max({qRed(c), qGreen(c), qBlue(c)});
            if (low < 40 || high > 215) continue;
            const double d = deviation(shown, QPoint(x, y));
            if (d > worst) worst = d, pick = QPoint(x, y);
        }
    ASSERT_GT(worst, 10.0) << "the picture has no coloured area to test with";
    ASSERT_TRUE(dialog.renderPreview());
    dialog.pickAt(pick);
    ASSERT_TRUE(dialog.renderPreview());
    EXPECT_LT(deviation(dialog.shownPicture(), pick), worst * 0.5);
}

TEST_F(rawDialogTest, LoadRemembersTheChoiceAndCancelChangesNothing) {
    programOptionsSettings settings;
    settings.loadRawColorSpace = 1;
    settings.loadRawNoiseFilter = false;
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<rawLoadOptionsDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->colorSpaceList()->setCurrentIndex(1);
        dialog->noiseGroup()->setChecked(true);
        dialog->medianBox()->setValue(3);
        dialog->sameForRemainingBox()->setChecked(false);
        dialog->loadButton()->click();
    });
    rawLoadOptions options;
    EXPECT_TRUE(rawLoadOptionsDialog::ask(nullptr, settings, file, info, options));
    EXPECT_EQ(options.colorSpace, rawLoadOptions::adobeRGB);
    EXPECT_EQ(settings.loadRawColorSpace, 2); // stored as the entry + 1
    EXPECT_TRUE(settings.loadRawNoiseFilter);
    EXPECT_EQ(settings.loadRawNoiseFilterMedian, 3);
    EXPECT_FALSE(settings.loadRawLoadAllWithTheSameSettings);

    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<rawLoadOptionsDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->colorSpaceList()->setCurrentIndex(3);
        dialog->cancelButton()->click();
    });
    rawLoadOptions untouched = options;
    EXPECT_FALSE(rawLoadOptionsDialog::ask(nullptr, settings, file, info, untouched));
    EXPECT_EQ(untouched.colorSpace, rawLoadOptions::adobeRGB);
    EXPECT_EQ(settings.loadRawColorSpace, 2);
}

} // namespace
