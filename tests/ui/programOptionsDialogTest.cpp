#include "app/programOptionsSettings.h"
#include "app/settingsStore.h"
#include "support/testSupport.h"
#include "ui/programOptions.h"
#include "ui/styledMessageBox.h"
#include "uiTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <gtest/gtest.h>

namespace {

class programOptionsDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        halvora::openSettings()->clear();
        programOptionsSettings::instance().read(true);
        styledMessageBox::setRecorder([this](styledMessageBox::kind, const QString& text) {
            messages << text;
            return true;
        });
    }
    void TearDown() override {
        halvora::test::restoreBoxGuard();
        halvora::openSettings()->clear();
        programOptionsSettings::instance().read(true);
    }
    QStringList messages;
};

TEST_F(programOptionsDialogTest, fivePagesAndControlsFromTheRecord) {
    programOptions dialog(nullptr, programOptions::pagePerformance);
    auto* pages = dialog.findChild<QTabWidget*>("pages");
    ASSERT_NE(pages, nullptr);
    ASSERT_EQ(pages->count(), 5);
    EXPECT_EQ(pages->currentIndex(), 1);
    auto* cores = dialog.findChild<QComboBox*>("coreCountCombo");
    EXPECT_EQ(cores->currentIndex(), programOptionsSettings::instance().coreCount - 1);
    EXPECT_TRUE(dialog.findChild<QRadioButton*>("systemTempRadio")->isChecked());
    EXPECT_TRUE(dialog.findChild<QLabel*>("freeSpaceLabel")->text().startsWith("Free space: "));
}

TEST_F(programOptionsDialogTest, missingTypedDirectoryKeepsTheDialogOpen) {
    programOptions dialog(nullptr, programOptions::pageMiscellaneous);
    dialog.findChild<QRadioButton*>("userDirRadio")->setChecked(true);
    dialog.findChild<QLineEdit*>("scratchPathEdit")->setText("/does/not/exist");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Rejected) << "still open";
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "Directory does not exist. Switched to standard temp directory.");
    EXPECT_TRUE(dialog.findChild<QRadioButton*>("systemTempRadio")->isChecked());
    EXPECT_EQ(dialog.findChild<QTabWidget*>("pages")->currentIndex(), 0);
}

TEST_F(programOptionsDialogTest, missingEditorDisablesItAndKeepsTheDialogOpen) {
    programOptions dialog(nullptr, 0);
    dialog.findChild<QCheckBox*>("externalEditorEnabledCheck")->setChecked(true);
    dialog.findChild<QLineEdit*>("externalEditorPathEdit")->setText("/no/editor");
    dialog.accept();
    EXPECT_TRUE(messages.contains("File does not exist. External editor is disabled."));
    EXPECT_FALSE(dialog.findChild<QCheckBox*>("externalEditorEnabledCheck")->isChecked());
    EXPECT_EQ(dialog.findChild<QTabWidget*>("pages")->currentIndex(), 2);
}

TEST_F(programOptionsDialogTest, acceptingStoresAndWritesAndWarnsAboutTheRestart) {
    const QString dir = halvora::test::makeTempDir("scratchpad");
    programOptions dialog(nullptr, 0);
    dialog.findChild<QRadioButton*>("userDirRadio")->setChecked(true);
    dialog.findChild<QLineEdit*>("scratchPathEdit")->setText(dir);
    dialog.findChild<QLineEdit*>("suffixEdit")->setText("Merged");
    dialog.findChild<QComboBox*>("coreCountCombo")->setCurrentIndex(0);
    dialog.findChild<QCheckBox*>("autoLdrCheck")->setChecked(true);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(
        messages.contains("The temporary directory change will be applied after the program is restarted. "
                          "Please close the application and run it again."));
    auto settings = halvora::openSettings();
    EXPECT_EQ(settings->value("Scratchpad/Path").toString(), dir);
    EXPECT_EQ(settings->value("Scratchpad/Standard").toString(), "false");
    EXPECT_EQ(settings->value("SavingResult/Suffix").toString(), "Merged");
    EXPECT_EQ(settings->value("Performance/CoreCount").toInt(), 1);
    EXPECT_EQ(settings->value("NewProject/AutoLDR").toString(), "true");
    EXPECT_NE(programOptionsSettings::instance().tempDirInEffect, dir)
        << "the running session keeps its directory";
}

TEST_F(programOptionsDialogTest, liveZoomingFollowsLiveToneMapping) {
    programOptions dialog(nullptr, 1);
    auto* live = dialog.findChild<QCheckBox*>("liveToneMappingCheck");
    auto* zooming = dialog.findChild<QCheckBox*>("liveWhileZoomingCheck");
    live->setChecked(true);
    zooming->setChecked(true);
    EXPECT_TRUE(zooming->isEnabled());
    live->setChecked(false);
    EXPECT_FALSE(zooming->isEnabled());
    EXPECT_FALSE(zooming->isChecked());
}

TEST(programOptionsDialog, freeSpaceText) {
    EXPECT_EQ(programOptions::freeSpaceText(2048.0), "Free space: 2.0 GB");
    EXPECT_EQ(programOptions::freeSpaceText(1536.0), "Free space: 1.5 GB");
    EXPECT_EQ(programOptions::freeSpaceText(1023.9), "Free space: 1023 MB");
    EXPECT_EQ(programOptions::freeSpaceText(0.0), "Free space: 0 MB");
}

} // namespace
