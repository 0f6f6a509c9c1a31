#include "app/programOptionsSettings.h"
#include "app/settingsStore.h"
#include "support/testSupport.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

// Each test starts from an empty settings store.
class programOptionsSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { halvora::openSettings()->clear(); }
    void TearDown() override { halvora::openSettings()->clear(); }
    static void store(const char* key, const QVariant& value) {
        halvora::openSettings()->setValue(key, value);
    }
    static programOptionsSettings readFresh() {
        programOptionsSettings o;
        o.read(true);
        return o;
    }
};

TEST_F(programOptionsSettingsTest, rangeResets) {
    store("SavingResult/JpegQuality", 69);
    store("Batch/AutoCreate/FixedCount", 33);
    store("Batch/AutoCreate/AutomaticMaxCount", 1);
    store("SavingResult/TiffBitDepth", 3);
    store("ColorManagement/Intent", 4);
    store("LoadRAW/ColorSpace", 0);
    store("Performance/CoreCount", 0);
    store("Performance/CoreCountBatch", 65);
    programOptionsSettings o = readFresh();
    EXPECT_EQ(o.jpegQuality, 100);
    EXPECT_EQ(o.batchAutoCreateFixedCount, 3);
    EXPECT_EQ(o.batchAutoCreateAutomaticMaxCount, 9);
    EXPECT_EQ(o.tiffBitDepth, 1);
    EXPECT_EQ(o.colorManagementIntent, 0);
    EXPECT_EQ(o.loadRawColorSpace, 1);
    EXPECT_EQ(o.coreCount, o.maxCores);
    EXPECT_EQ(o.coreCountBatch, o.maxCores);

    store("SavingResult/JpegQuality", 70);
    store("Batch/AutoCreate/FixedCount", 32);
    o = readFresh();
    EXPECT_EQ(o.jpegQuality, 70);
    EXPECT_EQ(o.batchAutoCreateFixedCount, 32);
}

TEST_F(programOptionsSettingsTest, valuesOfTheWrongTypeTakeDefaults) {
    store("SavingResult/JpegQuality", "very good");
    store("Performance/CoreCount", "lots");
    store("SavingResult/TransferExif", "perhaps");
    store("Processing/PanoramaMode", "true");
    const programOptionsSettings o = readFresh();
    EXPECT_EQ(o.jpegQuality, 100);
    EXPECT_EQ(o.coreCount, o.maxCores);
    EXPECT_TRUE(o.transferExif);
    EXPECT_TRUE(o.panoramaMode);
}

TEST_F(programOptionsSettingsTest, autoCreateNeedsExactlyOneMode) {
    store("Batch/AutoCreate/LDR", true);
    store("Batch/AutoCreate/Automatic", true);
    programOptionsSettings o = readFresh();
    EXPECT_FALSE(o.batchAutoCreateLDR);
    EXPECT_FALSE(o.batchAutoCreateFixed);
    EXPECT_FALSE(o.batchAutoCreateAutomatic);

    store("Batch/AutoCreate/Automatic", false);
    o = readFresh();
    EXPECT_TRUE(o.batchAutoCreateLDR);
}

TEST_F(programOptionsSettingsTest, missingScratchDirectoryFallsBackToSystemTemp) {
    const QString dir = halvora::test::makeTempDir("scratch");
    store("Scratchpad/Path", dir);
    store("Scratchpad/Standard", false);
    programOptionsSettings o = readFresh();
    EXPECT_FALSE(o.scratchStandard);
    EXPECT_EQ(o.tempDirInEffect, dir);

    QDir(dir).removeRecursively();
    o = readFresh();
    EXPECT_TRUE(o.scratchStandard);
    EXPECT_TRUE(o.scratchPath.isEmpty());
    EXPECT_EQ(o.tempDirInEffect, QDir::tempPath());
}

TEST_F(programOptionsSettingsTest, temporaryDirectoryChangeWaitsForTheNextStart) {
    programOptionsSettings o = readFresh();
    const QString before = o.tempDirInEffect;
    o.scratchStandard = false;
    o.scratchPath = halvora::test::makeTempDir("later");
    o.write();
    o.read(true);
    EXPECT_EQ(o.tempDirInEffect, before) << "the running program keeps its directory";
    EXPECT_EQ(readFresh().tempDirInEffect, o.scratchPath) << "the next start uses the new one";
}

TEST_F(programOptionsSettingsTest, missingFilesAreCleared) {
    store("ExternalEditor/Enabled", true);
    store("ExternalEditor/Path", "/nonexistent/editor");
    store("ColorManagement/CustomMonitorProfile", "/nonexistent/monitor.icc");
    const programOptionsSettings o = readFresh();
    EXPECT_FALSE(o.externalEditorEnabled);
    EXPECT_TRUE(o.externalEditorPath.isEmpty());
    EXPECT_TRUE(o.colorManagementCustomMonitorProfile.isEmpty());
}

TEST_F(programOptionsSettingsTest, languageFromInstallerId) {
    store("Installer/Language", 0x415);
    EXPECT_EQ(readFresh().language, "pl");
    store("Installer/Language", 0x409);
    EXPECT_EQ(readFresh().language, "en");
    store("Misc/Language", "de");
    EXPECT_EQ(readFresh().language, "de") << "a stored language wins over the installer's";
    EXPECT_EQ(programOptionsSettings::languageForInstallerId(0x816), "pt");
    EXPECT_EQ(programOptionsSettings::languageForInstallerId(0x416), "br");
}

TEST_F(programOptionsSettingsTest, partialReadLeavesTheOtherGroupsAlone) {
    programOptionsSettings o = readFresh();
    o.generateHdrMethod = 2; // a remembered choice not yet written
    store("SavingResult/Suffix", "X");
    o.read(false);
    EXPECT_EQ(o.savingSuffix, "X");
    EXPECT_EQ(o.generateHdrMethod, 2);
}

TEST_F(programOptionsSettingsTest, writeRoundTripAndInstallerGroupUntouched) {
    programOptionsSettings o = readFresh();
    o.jpegQuality = 85;
    o.generateHdrTrueHdrSelectivity = 3;
    o.batchSaveToLastDir = "/some/where";
    o.userFolder = "/must/not/be/written";
    o.write();
    EXPECT_FALSE(halvora::openSettings()->contains("Installer/UserFolder"));
    const programOptionsSettings back = readFresh();
    EXPECT_EQ(back.jpegQuality, 85);
    EXPECT_EQ(back.generateHdrTrueHdrSelectivity, 3);
    EXPECT_EQ(back.batchSaveToLastDir, "/some/where");
}

TEST_F(programOptionsSettingsTest, freeDiskSpace) {
    EXPECT_GT(programOptionsSettings::freeDiskSpaceMB(QDir::tempPath()), 0.0);
    EXPECT_EQ(programOptionsSettings::freeDiskSpaceMB("/nonexistent/dir"), -1.0);
    EXPECT_EQ(programOptionsSettings::freeDiskSpaceMB(""), -1.0);
}

} // namespace

// File dialogs start in a folder that exists: the nearest one on the remembered path, else home.
TEST(programOptionsSettings, fileDialogsStartInAFolderThatExists) {
    const QString dir = halvora::test::makeTempDir("dialogs");
    QDir().mkpath(dir + "/a/b");
    EXPECT_EQ(programOptionsSettings::existingFolder(dir + "/a/b"), dir + "/a/b");
    EXPECT_EQ(programOptionsSettings::existingFolder(dir + "/a/gone/deeper"), dir + "/a");
    EXPECT_EQ(programOptionsSettings::existingFolder(dir + "/a/b/photo.jpg"), dir + "/a/b")
        << "a file's folder counts";
    EXPECT_EQ(programOptionsSettings::existingFolder(QString()), QDir::homePath());
    EXPECT_EQ(programOptionsSettings::existingFolder("relative/nowhere"),
              programOptionsSettings::existingFolder(QDir::currentPath()));
}
