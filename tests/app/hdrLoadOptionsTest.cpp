// HDR load options: where an opened radiance file takes its colour space and noise filtering from.

#include "imageio/hdrLoadOptions.h"
#include "app/commandLineOptions.h"
#include "app/programOptionsSettings.h"
#include "app/storedOptions.h"

#include <gtest/gtest.h>

TEST(hdrLoadOptions, storedChoicesSurviveTheSettingsStore) {
    programOptionsSettings stored;
    stored.read(true);
    const hdrLoadOptions defaults = halvora::hdrLoadOptionsFromSettings(stored);

    hdrLoadOptions chosen;
    chosen.colorSpace = hdrLoadOptions::proPhoto;
    chosen.noiseFilter = false;
    chosen.noiseFilterStrength = 5;
    chosen.noiseFilterSoftness = 7;
    // Every chosen value differs from the empty store's, so reading it back shows it was stored.
    ASSERT_NE(defaults.colorSpace, chosen.colorSpace);
    ASSERT_NE(defaults.noiseFilter, chosen.noiseFilter);
    ASSERT_NE(defaults.noiseFilterStrength, chosen.noiseFilterStrength);
    ASSERT_NE(defaults.noiseFilterSoftness, chosen.noiseFilterSoftness);
    halvora::storeHdrLoadOptions(chosen, stored);
    stored.write();

    programOptionsSettings reread;
    reread.read(true);
    const hdrLoadOptions back = halvora::hdrLoadOptionsFromSettings(reread);
    EXPECT_EQ(back.colorSpace, hdrLoadOptions::proPhoto);
    EXPECT_FALSE(back.noiseFilter);
    EXPECT_EQ(back.noiseFilterStrength, 5);
    EXPECT_EQ(back.noiseFilterSoftness, 7);
    EXPECT_EQ(back.profileFile(), "/color profiles/ProPhotoRGB.icm");

    // Restore the defaults for the other tests of this program.
    halvora::storeHdrLoadOptions(defaults, reread);
    reread.write();
}

TEST(hdrLoadOptions, automaticRunsTakeNoiseFilteringFromTheCommandLine) {
    programOptionsSettings stored;
    stored.loadHdrColorSpace = hdrLoadOptions::adobeRGB;
    stored.loadHdrNoiseFilter = true;
    stored.loadHdrNoiseFilterStrength = 2;
    stored.loadHdrNoiseFilterSoftness = 2;

    const commandLineOptions automatic =
        commandLineOptions::parse({"halvora", "--auto", "--noise_filter=3,4", "--panorama", "in.hdr"});
    hdrLoadOptions o = halvora::hdrLoadOptionsForUnattendedRun(automatic, stored);
    EXPECT_EQ(o.colorSpace, hdrLoadOptions::adobeRGB); // the command line cannot name one
    EXPECT_TRUE(o.noiseFilter);
    EXPECT_EQ(o.noiseFilterStrength, 3);
    EXPECT_EQ(o.noiseFilterSoftness, 4);
    EXPECT_TRUE(o.panoramaMode);

    // --auto without --noise_filter: no filtering, whatever the stored choice.
    o = halvora::hdrLoadOptionsForUnattendedRun(commandLineOptions::parse({"halvora", "--auto", "in.exr"}),
                                                stored);
    EXPECT_FALSE(o.noiseFilter);
    EXPECT_FALSE(o.panoramaMode);

    // Without --auto (a batch or a hidden run) the stored options hold.
    stored.loadHdrNoiseFilterStrength = 6;
    o = halvora::hdrLoadOptionsForUnattendedRun(
        commandLineOptions::parse({"halvora", "--noise_filter=9,9", "in.exr"}), stored);
    EXPECT_TRUE(o.noiseFilter);
    EXPECT_EQ(o.noiseFilterStrength, 6);
    EXPECT_EQ(o.noiseFilterSoftness, 2);
}

TEST(hdrLoadOptions, outOfRangeValuesAreNormalised) {
    const commandLineOptions wild =
        commandLineOptions::parse({"halvora", "--auto", "--noise_filter=-4,99", "in.hdr"});
    programOptionsSettings stored;
    stored.loadHdrColorSpace = 9;
    const hdrLoadOptions o = halvora::hdrLoadOptionsFromCommandLine(wild, stored);
    EXPECT_EQ(o.colorSpace, hdrLoadOptions::asEmbedded);
    EXPECT_EQ(o.noiseFilterStrength, 1);
    EXPECT_EQ(o.noiseFilterSoftness, 10);

    const QStringList names = hdrLoadOptions::colorSpaceNames();
    ASSERT_EQ(names, (QStringList{"As embedded", "sRGB", "AdobeRGB", "WideGamut", "ProPhoto"}));
    const char* files[5] = {"", "/color profiles/sRGB.icm", "/color profiles/AdobeRGB1998.icc",
                            "/color profiles/WideGamutRGB.icc", "/color profiles/ProPhotoRGB.icm"};
    for (int i = 0; i < hdrLoadOptions::kColorSpaceCount; ++i) {
        hdrLoadOptions c;
        c.colorSpace = i;
        EXPECT_EQ(c.profileFile(), QString(files[i])) << i;
    }
}
