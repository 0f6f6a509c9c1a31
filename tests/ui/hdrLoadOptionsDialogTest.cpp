// HDR load options dialog: the selected colour space and what "Load" stores.

#include "ui/hdrLoadOptionsDialog.h"
#include "app/programOptionsSettings.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

TEST(hdrLoadOptionsDialog, showsTheStoredColourSpaceAndReturnsTheChoice) {
    hdrLoadOptions initial;
    initial.colorSpace = hdrLoadOptions::wideGamut;
    initial.noiseFilterStrength = 4;
    hdrLoadOptionsDialog dialog(initial);

    QComboBox* list = dialog.colorSpaceList();
    ASSERT_EQ(list->count(), 5);
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
