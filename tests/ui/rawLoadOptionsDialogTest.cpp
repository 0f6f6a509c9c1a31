// "Load RAW image": the option record travels through the widgets and out as the converter's argument
// list (written out here by hand from the converter's options), a click on the preview places the grey
// selection, and "Load" remembers the choice while "Cancel" changes nothing.

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
        ASSERT_TRUE(halvora::getRAWinfo_DCRAW(file, true, info, exif, &error)) << error.toStdString();
    }
    QString file;
    rawInfo_t info;
};

TEST_F(rawDialogTest, TheWidgetsChoicesBecomeTheConvertersArguments) {
    rawLoadOptionsDialog dialog(file, info, rawLoadOptions{});
    ASSERT_EQ(dialog.whiteBalanceList()->count(), 4);
    // The defaults: as shot, nothing else.
    EXPECT_EQ(halvora::buildDcrawArgs(dialog.options(), false),
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
    EXPECT_EQ(halvora::buildDcrawArgs(chosen, false),
              QStringList({"-r", "2.5", "1",  "1.25", "1", "-f", "-n", "15", "-m", "2",  "-o", "4", "-h",
                           "-H", "2",   "-g", "5",    "7", "-c", "-W", "-q", "2",  "-6", "-s", "-0"}));
    // The quick preview: 8 bits at half size, never converted to another colour space.
    EXPECT_EQ(halvora::buildDcrawArgs(chosen, true),
              QStringList({"-r", "2.5", "1",  "1.25", "1", "-f", "-n", "15", "-m", "2",  "-h",
                           "-H", "2",   "-g", "5",    "7", "-c", "-W", "-q", "0",  "-s", "-0"}));

    // Back in: a second dialog started from the record shows the same choices.
    rawLoadOptionsDialog again(file, info, chosen);
    EXPECT_EQ(halvora::buildDcrawArgs(again.options(), false), halvora::buildDcrawArgs(chosen, false));
    EXPECT_TRUE(again.halfSizeBox()->isChecked());
    EXPECT_DOUBLE_EQ(again.multiplierBox(2)->value(), 1.25);
}

TEST_F(rawDialogTest, AClickOnThePreviewPicksTheGreySelection) {
    file = halvora::test::dataFile("formats/raw/canon_eos_6d_lossy.dng");
    exifInfo_t exif;
    ASSERT_TRUE(halvora::getRAWinfo_DCRAW(file, true, info, exif));
    rawLoadOptionsDialog dialog(file, info, rawLoadOptions{});
    // Manual starts from the camera's multipliers relative to its green one.
    if (info.cameraMultipliers[1] > 0) {
        EXPECT_NEAR(dialog.multiplierBox(0)->value(), info.cameraMultipliers[0] / info.cameraMultipliers[1],
                    1e-3);
    }
    ASSERT_TRUE(dialog.renderPreview());
    const QImage& shown = dialog.shownPicture();
    ASSERT_EQ(shown.size(), QSize(info.halfWidth, info.halfHeight));

    // Selection: its centre on the half-size picture, measured as a square of full-size pixels.
    dialog.whiteBalanceList()->setCurrentIndex(3);
    dialog.pickAt(QPoint(100, 60));
    const rawLoadOptions o = dialog.options();
    EXPECT_TRUE(o.hasSelection);
    EXPECT_EQ(halvora::buildDcrawArgs(o, false).mid(0, 5), QStringList({"-A", "168", "88", "64", "64"}));

    // Manual: a click outside the picture changes no multiplier.
    dialog.whiteBalanceList()->setCurrentIndex(1);
    const double green = dialog.multiplierBox(1)->value();
    const double red = dialog.multiplierBox(0)->value();
    dialog.pickAt(QPoint(-5, -5)); // outside the picture
    EXPECT_DOUBLE_EQ(dialog.multiplierBox(0)->value(), red);
    EXPECT_DOUBLE_EQ(dialog.multiplierBox(1)->value(), green);
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
