// The result options dialog shows the stored options and returns what the chosen page says.

#include "ui/saveResult.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <gtest/gtest.h>

TEST(saveResultDialog, ShowsAndReturnsTheChosenPage) {
    saveResultOptions_t initial;
    initial.format = saveResultOptions_t::formatTiff;
    initial.jpegQuality = 85;
    initial.tiffBitDepth = 2;
    initial.tiffCompression = 1;
    initial.dpi = 240;
    saveResult dialog(initial);
    EXPECT_TRUE(dialog.tiffChoice()->isChecked());
    EXPECT_EQ(dialog.qualitySlider()->value(), 85);
    EXPECT_EQ(dialog.bitDepthList()->currentText(), "16 bit");
    EXPECT_EQ(dialog.compressionList()->currentText(), "Deflate (ZIP)");

    saveResultOptions_t o = dialog.options();
    EXPECT_EQ(o.format, 1);
    EXPECT_EQ(o.tiffBitDepth, 2);
    EXPECT_EQ(o.tiffCompression, 1);
    EXPECT_EQ(o.dpi, 240);

    // Switch to JPEG: its page's dpi counts; the reset button restores quality 100.
    dialog.jpegChoice()->setChecked(true);
    dialog.dpiBox(0)->setValue(72);
    dialog.qualityResetButton()->click();
    o = dialog.options();
    EXPECT_EQ(o.format, 0);
    EXPECT_EQ(o.dpi, 72);
    EXPECT_EQ(o.jpegQuality, 100);

    dialog.editorButton()->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(dialog.openInExternalEditor());
}
