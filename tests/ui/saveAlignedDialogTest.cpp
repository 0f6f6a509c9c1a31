// The "Save aligned photos" dialog: the stored prefix or suffix and format as its start, unchecked
// boxes giving empty texts, the format's own options, and no saving into a folder that is not there.

#include "app/programOptionsSettings.h"
#include "support/testSupport.h"
#include "ui/saveAligned.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <gtest/gtest.h>

TEST(saveAlignedDialog, storedChoicesStartItAndTheControlsMakeTheOptions) {
    programOptionsSettings& settings = programOptionsSettings::instance();
    const programOptionsSettings saved = settings;
    settings.alignmentPrefix = true;
    settings.alignmentPrefixSuffix = "al";
    settings.alignmentFormat = 1;
    const QString folder = halvora::test::makeTempDir("saveAlignedDialog");
    saveAlignedOptions_t start = saveAligned::initialOptions(settings, folder);
    EXPECT_EQ(start.prefix, "al_");
    EXPECT_TRUE(start.suffix.isEmpty());
    EXPECT_EQ(start.format, 1);

    saveAligned dialog(start);
    EXPECT_TRUE(dialog.prefixBox()->isChecked());
    EXPECT_FALSE(dialog.suffixBox()->isChecked());
    EXPECT_FALSE(dialog.suffixEdit()->isEnabled());
    EXPECT_TRUE(dialog.saveButton()->isEnabled());

    // A suffix typed and checked, the prefix unchecked: only the suffix counts.
    dialog.suffixBox()->setChecked(true);
    dialog.suffixEdit()->setText("_v2");
    dialog.prefixBox()->setChecked(false);
    dialog.bitDepthList()->setCurrentIndex(1);
    dialog.compressionList()->setCurrentIndex(1);
    dialog.dpiBox()->setValue(123);
    saveAlignedOptions_t o = dialog.options();
    EXPECT_TRUE(o.prefix.isEmpty());
    EXPECT_EQ(o.suffix, "_v2");
    EXPECT_EQ(o.folder, folder);
    EXPECT_EQ(o.format, 1);
    EXPECT_EQ(o.tiffBitDepth, 2);
    EXPECT_EQ(o.tiffCompression, 1);
    EXPECT_EQ(o.dpi, 123);

    dialog.formatList()->setCurrentIndex(0);
    dialog.qualitySlider()->setValue(85);
    o = dialog.options();
    EXPECT_EQ(o.format, 0);
    EXPECT_EQ(o.jpegQuality, 85);

    // A folder that does not exist (yet) cannot be saved into; an empty one neither.
    dialog.folderEdit()->setText(folder + "/not here");
    EXPECT_FALSE(dialog.saveButton()->isEnabled());
    dialog.folderEdit()->setText("  ");
    EXPECT_FALSE(dialog.saveButton()->isEnabled());
    dialog.folderEdit()->setText(folder);
    EXPECT_TRUE(dialog.saveButton()->isEnabled());

    // Out-of-range stored values do not reach the controls.
    start.jpegQuality = 5;
    start.dpi = 100000;
    saveAligned clamped(start);
    EXPECT_EQ(clamped.qualitySlider()->value(), 70);
    EXPECT_EQ(clamped.dpiBox()->value(), 9999);
    settings = saved;
}
