// The HDR dialog's option record: what a run uses and what it remembers.

#include "app/commandLineOptions.h"
#include "app/programOptionsSettings.h"
#include "hdr/genHDR_options.h"
#include "hdr/generateHDRworker.h"

#include <gtest/gtest.h>

namespace {

TEST(genHDR_options, automaticRunTakesTheCommandLineAndStoresNothing) {
    commandLineOptions cl;
    cl.autoAlign = true;
    cl.autoDeghost = true;
    cl.noiseFilter = true;
    cl.noiseStrength1 = 4;
    cl.noiseStrength2 = 99; // out of range: clamped
    const genHDR_options o = genHDR_options::forAutomaticRun(cl, false);
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
    EXPECT_FALSE(o.storeTo(settings, true));
    EXPECT_EQ(settings.generateHdrNoiseFilterStrength, 7);
    EXPECT_FALSE(settings.generateHdrAutoAlign);

    // Interactive runs remember their choices, and read them back unchanged.
    EXPECT_TRUE(o.storeTo(settings, false));
    EXPECT_EQ(settings.generateHdrNoiseFilterStrength, 4);
    EXPECT_TRUE(settings.generateHdrAutoAlign);
    const genHDR_options back = genHDR_options::fromSettings(settings, false);
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
    genHDR_options o = genHDR_options::fromSettings(settings, true);
    EXPECT_TRUE(o.noiseFilter);
    EXPECT_EQ(o.noiseStrength, 6);
    o.noiseStrength = 8;
    ASSERT_TRUE(o.storeTo(settings, false));
    EXPECT_EQ(settings.enhanceLdrNoiseFilterStrength, 8);
    EXPECT_EQ(settings.generateHdrNoiseFilterStrength, 3) << "the HDR options are not touched";

    // A worker for one photo gets the noise options only.
    generateHDRworker worker(nullptr);
    worker.method = generateHDRworker::stack;
    o.method = generateHDRworker::smartMerge;
    o.applyTo(worker);
    EXPECT_EQ(worker.noiseFilterStrength, 8);
    EXPECT_EQ(worker.method, int(generateHDRworker::stack));
}

TEST(genHDR_options, storedNonsenseBecomesUsable) {
    programOptionsSettings settings;
    settings.generateHdrMethod = 7;
    settings.generateHdrTrueHdrSelectivity = -1;
    settings.generateHdrSmartMergeStrength = 40;
    settings.generateHdrGhostRemovalMode = 3;
    settings.generateHdrNoiseFilterStrength = 0;
    const genHDR_options o = genHDR_options::fromSettings(settings, false);
    EXPECT_EQ(o.method, 0);
    EXPECT_EQ(o.selectivity, 2);
    EXPECT_EQ(o.smartMergeStrength, 5);
    EXPECT_EQ(o.ghostRemovalMode, 0);
    EXPECT_EQ(o.noiseStrength, 1);

    // The HDR file is written only with a name.
    genHDR_options withFile = o;
    withFile.saveHDR = true;
    generateHDRworker worker(nullptr);
    withFile.applyTo(worker);
    EXPECT_FALSE(worker.saveHDR);
    withFile.hdrFileName = "/x/m.hdr";
    withFile.applyTo(worker);
    EXPECT_TRUE(worker.saveHDR);
}

} // namespace
