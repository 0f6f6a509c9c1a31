#include "app/commandLineOptions.h"

#include <gtest/gtest.h>

namespace {

commandLineOptions parse(QStringList args) {
    args.prepend("halvora");
    return commandLineOptions::parse(args);
}

TEST(commandLineOptions, inputFilesOptionsAndIgnoredArguments) {
    const auto o = parse({"a.jpg", "-x", "--plugin", "b.tif", "-", "--hide"});
    EXPECT_EQ(o.inputPhotos, QStringList({"a.jpg", "b.tif"}));
    EXPECT_TRUE(o.plugin);
    EXPECT_TRUE(o.hideWindow);
    EXPECT_FALSE(o.autoProcess);
}

// Options are found as substrings of an argument ("--auto_align" also holds "--auto"), case-sensitively;
// --help and --version only as whole arguments.
TEST(commandLineOptions, lookupIsBySubstringAndCaseSensitive) {
    const auto o = parse({"--auto_align"});
    EXPECT_TRUE(o.autoProcess);
    EXPECT_TRUE(o.autoAlign);
    EXPECT_FALSE(o.autoDeghost);
    const auto d = parse({"--auto_deghost"});
    EXPECT_TRUE(d.autoProcess);
    EXPECT_TRUE(d.autoDeghost);
    const auto capitals = parse({"--AUTO", "--Plugin"});
    EXPECT_FALSE(capitals.autoProcess);
    EXPECT_FALSE(capitals.plugin);
    EXPECT_TRUE(parse({"--help"}).showHelp);
    EXPECT_TRUE(parse({"--version"}).showVersion);
    EXPECT_FALSE(parse({"--helpme"}).showHelp);
    EXPECT_FALSE(parse({"--auto"}).showHelp);
}

TEST(commandLineOptions, outputFormatPrecedence) {
    struct row {
        QStringList args;
        int format, depth;
    };
    const row rows[] = {
        {{}, 0, 1}, // no format option: JPEG
        {{"--tiff8", "--tiff16"}, 1, 2},
        {{"--tiff16", "--tiff8"}, 1, 2}, // order on the line does not matter: lookups run in a fixed order
        {{"--jpeg", "--tiff8"}, 1, 1},
        {{"--jpeg"}, 0, 1},
        {{"--tiff8"}, 1, 1},
    };
    for (const row& r : rows) {
        const auto o = parse(r.args);
        EXPECT_EQ(o.outputFormat, r.format) << r.args.join(' ').toStdString();
        EXPECT_EQ(o.tiffBitDepth, r.depth) << r.args.join(' ').toStdString();
    }
}

TEST(commandLineOptions, valueOptionsNeedAnEqualsSign) {
    const auto o = parse({"--output_fn", "--tm_settings", "--noise_filter", "--output_dir"});
    EXPECT_TRUE(o.outputFn.isEmpty());
    EXPECT_TRUE(o.settings.isEmpty());
    EXPECT_FALSE(o.noiseFilter);
    EXPECT_TRUE(o.outputDir.isEmpty());
    EXPECT_TRUE(o.pluginSrcDir.isEmpty());
}

TEST(commandLineOptions, valueIsTextAfterFirstEquals) {
    const auto o = parse({"--tm_settings=/a/b=c.hvsx", "--output_fn=/out/x=1.jpg"});
    EXPECT_EQ(o.settings, "/a/b=c.hvsx");
    EXPECT_EQ(o.outputFn, "/out/x=1.jpg");
    EXPECT_EQ(o.pluginSrcDir, "/out");
}

TEST(commandLineOptions, noiseFilterValues) {
    auto o = parse({"--noise_filter=3,4"});
    EXPECT_TRUE(o.noiseFilter);
    EXPECT_EQ(o.noiseStrength1, 3);
    EXPECT_EQ(o.noiseStrength2, 4);
    // Fewer than two numbers keeps the defaults, but the filter is on.
    o = parse({"--noise_filter=5"});
    EXPECT_TRUE(o.noiseFilter);
    EXPECT_EQ(o.noiseStrength1, 2);
    EXPECT_EQ(o.noiseStrength2, 2);
    o = parse({"--noise_filter=x,7"});
    EXPECT_EQ(o.noiseStrength1, 2);
    EXPECT_EQ(o.noiseStrength2, 7);
}

TEST(commandLineOptions, pluginDirectoryFromOutputNameOrOutputDir) {
    EXPECT_EQ(parse({"--output_fn=C:/out/result.jpg", "--output_dir=D:/x"}).pluginSrcDir, "D:/x");
    EXPECT_EQ(parse({"--output_fn=C:/out/result.jpg"}).pluginSrcDir, "C:/out");
    EXPECT_EQ(parse({"--output_fn=/home/u/pics/result.jpg"}).pluginSrcDir, "/home/u/pics");
    EXPECT_EQ(parse({"--output_fn=result.jpg"}).pluginSrcDir, "");
}

TEST(commandLineOptions, directoryPartRule) {
    EXPECT_EQ(commandLineOptions::directoryPart("/a/b/c.jpg"), "/a/b");
    // Without a dot in the last component the whole path is the directory.
    EXPECT_EQ(commandLineOptions::directoryPart("/a/b/c"), "/a/b/c");
    EXPECT_EQ(commandLineOptions::directoryPart("/a//b/./../c/d.tif"), "/a/c");
    EXPECT_EQ(commandLineOptions::directoryPart("/x.jpg"), "/");
}

TEST(commandLineOptions, usageListsEveryOption) {
    const QString usage = commandLineOptions::usageText();
    for (const char* option :
         {"--auto", "--plugin", "--hide", "--output_fn", "--output_dir", "--tm_settings", "--auto_align",
          "--auto_deghost", "--noise_filter", "--panorama", "--output_to_srgb", "--jpeg", "--tiff8",
          "--tiff16", "--save_hdr", "--help", "--version"})
        EXPECT_TRUE(usage.contains(option)) << option;
}

} // namespace
