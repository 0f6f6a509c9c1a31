// The option records of the dialogs and runs: what a run uses and what it remembers.

#include "app/storedOptions.h"
#include "app/commandLineOptions.h"
#include "app/programOptionsSettings.h"
#include "hdr/genHDR_options.h"
#include "imageio/rawLoadOptions.h"

#include "support/testSupport.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

TEST(genHDR_options, automaticRunTakesTheCommandLineAndStoresNothing) {
    commandLineOptions cl;
    cl.autoAlign = true;
    cl.autoDeghost = true;
    cl.noiseFilter = true;
    cl.noiseStrength1 = 4;
    cl.noiseStrength2 = 99; // out of range: clamped
    const genHDR_options o = halvora::genHDRoptionsForAutomaticRun(cl, false);
    EXPECT_TRUE(o.autoAlign);
    EXPECT_TRUE(o.ghostRemoval);
    EXPECT_EQ(o.ghostRemovalMode, 0);
    EXPECT_TRUE(o.repairOverUnder);
    EXPECT_EQ(o.method, 0);
    EXPECT_EQ(o.selectivity, 2);
    EXPECT_EQ(o.noiseStrength, 4);
    EXPECT_EQ(o.noiseSoftness, 10);

    programOptionsSettings settings;
    settings.generateHdrNoiseFilterStrength = 7;
    settings.generateHdrAutoAlign = false;
    EXPECT_FALSE(halvora::storeGenHDRoptions(o, settings, true));
    EXPECT_EQ(settings.generateHdrNoiseFilterStrength, 7);
    EXPECT_FALSE(settings.generateHdrAutoAlign);

    // Interactive runs remember their choices, and read them back unchanged.
    EXPECT_TRUE(halvora::storeGenHDRoptions(o, settings, false));
    EXPECT_EQ(settings.generateHdrNoiseFilterStrength, 4);
    EXPECT_TRUE(settings.generateHdrAutoAlign);
    const genHDR_options back = halvora::genHDRoptionsFromSettings(settings, false);
    EXPECT_EQ(back.noiseStrength, 4);
    EXPECT_EQ(back.noiseSoftness, 10);
    EXPECT_TRUE(back.ghostRemoval);
}

TEST(genHDR_options, ldrEnhancementUsesItsOwnNoiseOptions) {
    programOptionsSettings settings;
    settings.generateHdrNoiseFilter = false;
    settings.generateHdrNoiseFilterStrength = 3;
    settings.enhanceLdrNoiseFilter = true;
    settings.enhanceLdrNoiseFilterStrength = 6;
    settings.enhanceLdrNoiseFilterSoftness = 5;
    genHDR_options o = halvora::genHDRoptionsFromSettings(settings, true);
    EXPECT_TRUE(o.noiseFilter);
    EXPECT_EQ(o.noiseStrength, 6);
    o.noiseStrength = 8;
    ASSERT_TRUE(halvora::storeGenHDRoptions(o, settings, false));
    EXPECT_EQ(settings.enhanceLdrNoiseFilterStrength, 8);
    EXPECT_EQ(settings.generateHdrNoiseFilterStrength, 3) << "the HDR options are not touched";
}

TEST(genHDR_options, storedNonsenseBecomesUsable) {
    programOptionsSettings settings;
    settings.generateHdrMethod = 7;
    settings.generateHdrTrueHdrSelectivity = -1;
    settings.generateHdrSmartMergeStrength = 40;
    settings.generateHdrGhostRemovalMode = 3;
    settings.generateHdrNoiseFilterStrength = 0;
    const genHDR_options o = halvora::genHDRoptionsFromSettings(settings, false);
    EXPECT_EQ(o.method, 0);
    EXPECT_EQ(o.selectivity, 2);
    EXPECT_EQ(o.smartMergeStrength, 5);
    EXPECT_EQ(o.ghostRemovalMode, 0);
    EXPECT_EQ(o.noiseStrength, 1);
}

// The stored LoadRAW options become those of an unattended run: the stored colour space counts from 1
// (sRGB) while the list counts from 0, and a stored value out of range means sRGB.
TEST(rawLoadOptions, StoredOptionsGiveTheConvertersOptionsAndAreStoredBack) {
    programOptionsSettings settings;
    settings.loadRawColorSpace = 4;
    settings.loadRawRecoverHighlights = true;
    settings.loadRawNoiseFilter = true;
    settings.loadRawNoiseFilterWavelet = 3;
    settings.loadRawNoiseFilterMedian = 2;
    settings.loadRawRGGB = true;
    const rawLoadOptions o = halvora::rawLoadOptionsFromSettings(settings);
    // The arguments each option gives are the converter tests' matter.
    EXPECT_EQ(o.colorSpace, rawLoadOptions::proPhoto);
    EXPECT_TRUE(o.recoverHighlights);
    EXPECT_TRUE(o.noiseFilter);
    EXPECT_DOUBLE_EQ(o.waveletThreshold, 3.0);
    EXPECT_EQ(o.medianPasses, 2);
    EXPECT_TRUE(o.fourColors);
    settings.loadRawColorSpace = 9;
    EXPECT_EQ(halvora::rawLoadOptionsFromSettings(settings).colorSpace, rawLoadOptions::sRGB);

    programOptionsSettings stored;
    halvora::storeRawLoadOptions(o, stored);
    EXPECT_EQ(stored.loadRawColorSpace, 4);
    EXPECT_EQ(stored.loadRawNoiseFilterWavelet, 3);
    EXPECT_EQ(stored.loadRawNoiseFilterMedian, 2);
    EXPECT_TRUE(stored.loadRawRGGB);
    EXPECT_TRUE(stored.loadRawRecoverHighlights);
}

TEST(defaultOutputName, SuffixComesFromTheSettings) {
    programOptionsSettings& s = programOptionsSettings::instance();
    const QString oldSuffix = s.savingSuffix, oldBatch = s.savingSuffixBatch;
    s.savingSuffix = "Inter";
    s.savingSuffixBatch = "Unatt";
    EXPECT_EQ(halvora::defaultOutputName(QStringList{"a.jpg", "b.jpg"}, false), "a_b_Inter");
    EXPECT_EQ(halvora::defaultOutputName(QStringList{"a.jpg", "b.jpg"}, true), "a_b_Unatt");
    s.savingSuffix = oldSuffix;
    s.savingSuffixBatch = oldBatch;
}

TEST(saveResultOptions, SettingsAreNormalisedAndStoredBack) {
    programOptionsSettings settings;
    settings.saveFormat = 7;
    settings.jpegQuality = 69;
    settings.tiffCompression = 2;
    settings.tiffBitDepth = 0;
    settings.dpi = 5;
    settings.transferExif = false;
    settings.convertToSrgb = true;
    saveResultOptions_t o = halvora::saveResultOptionsFromSettings(settings);
    EXPECT_EQ(o.format, 0);
    EXPECT_EQ(o.jpegQuality, 100);
    EXPECT_EQ(o.tiffCompression, 1);
    EXPECT_EQ(o.tiffBitDepth, 1);
    EXPECT_EQ(o.dpi, 10);
    EXPECT_FALSE(o.transferExif);
    EXPECT_TRUE(o.convertToSrgb);
    EXPECT_EQ(o.extension(), ".jpg");

    o.format = saveResultOptions_t::formatTiff;
    o.jpegQuality = 70;
    o.tiffBitDepth = 2;
    o.tiffCompression = 0;
    o.dpi = 20000;
    halvora::storeSaveResultOptions(o, settings);
    EXPECT_EQ(settings.saveFormat, 1);
    EXPECT_EQ(settings.jpegQuality, 70);
    EXPECT_EQ(settings.tiffBitDepth, 2);
    EXPECT_EQ(settings.tiffCompression, 0);
    EXPECT_EQ(settings.dpi, 9999);
    EXPECT_EQ(halvora::saveResultOptionsFromSettings(settings).extension(), ".tif");
}

TEST(saveResultOptions, ExternalEditorExportUsesItsOwnOptions) {
    programOptionsSettings settings;
    settings.externalEditorBitDepth = 2;
    settings.externalEditorCompression = 1;
    settings.externalEditorDpi = 600;
    settings.externalEditorTransferExif = true;
    settings.externalEditorConvertToSrgb = true;
    const saveResultRequest r = halvora::externalEditorRequest("/tmp/session/", settings);
    EXPECT_EQ(r.fileName, "/tmp/session/Halvora_export.tif");
    EXPECT_EQ(r.options.format, saveResultOptions_t::formatTiff);
    EXPECT_EQ(r.options.tiffBitDepth, 2);
    EXPECT_EQ(r.options.tiffCompression, 1);
    EXPECT_EQ(r.options.dpi, 600);
    EXPECT_EQ(r.options.jpegQuality, 100);
    EXPECT_TRUE(r.options.convertToSrgb);
    EXPECT_TRUE(r.openInExternalEditor);
}

} // namespace
