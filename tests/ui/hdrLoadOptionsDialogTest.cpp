// HDR load options dialog: its texts, the selected colour space and what "Load" stores.

#include "ui/hdrLoadOptionsDialog.h"
#include "app/programOptionsSettings.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

TEST(hdrLoadOptionsDialog, showsTheFiveColourSpacesAndReturnsTheChoice) {
    hdrLoadOptions initial;
    initial.colorSpace = hdrLoadOptions::wideGamut;
    initial.noiseFilterStrength = 4;
    hdrLoadOptionsDialog dialog(initial);

    // The choice reads as a sentence a photographer understands, with the first entry explained.
    QLabel* help = dialog.findChild<QLabel*>("colorSpaceHelp");
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->text().contains("Keep them as embedded unless")) << help->text().toStdString();
    QComboBox* list = dialog.colorSpaceList();
    ASSERT_EQ(list->count(), 5);
    const char* names[5] = {"Keep as embedded (no conversion)", "sRGB", "AdobeRGB", "WideGamut", "ProPhoto"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(list->itemText(i), names[i]);
    EXPECT_EQ(list->currentText(), "WideGamut");

    list->setCurrentIndex(1);
    const hdrLoadOptions chosen = dialog.options();
    EXPECT_EQ(chosen.colorSpace, hdrLoadOptions::sRGB);
    EXPECT_EQ(chosen.noiseFilterStrength, 4); // carried through unchanged
}

TEST(hdrLoadOptionsDialog, loadStoresTheChoiceAndCancelStoresNothing) {
    programOptionsSettings settings;
    settings.loadHdrColorSpace = hdrLoadOptions::asEmbedded;

    // Choose "ProPhoto" and press "Load" once the modal loop runs.
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<hdrLoadOptionsDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->colorSpaceList()->setCurrentIndex(hdrLoadOptions::proPhoto);
        dialog->loadButton()->click();
    });
    hdrLoadOptions result;
    EXPECT_TRUE(hdrLoadOptionsDialog::ask(nullptr, settings, result));
    EXPECT_EQ(result.colorSpace, hdrLoadOptions::proPhoto);
    EXPECT_EQ(settings.loadHdrColorSpace, hdrLoadOptions::proPhoto);

    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<hdrLoadOptionsDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->colorSpaceList()->setCurrentIndex(hdrLoadOptions::sRGB);
        dialog->cancelButton()->click();
    });
    hdrLoadOptions untouched;
    EXPECT_FALSE(hdrLoadOptionsDialog::ask(nullptr, settings, untouched));
    EXPECT_EQ(settings.loadHdrColorSpace, hdrLoadOptions::proPhoto);
}
