// The "Load RAW image" choices as converter arguments, and those arguments as LibRaw parameters.
// Expected lists are written out by hand from the option rules, not built the way the code builds them.

#include "imageio/rawLoadOptions.h"
#include "imageio/rawProcessingParams.h"
#include "support/testSupport.h"

#include <gtest/gtest.h>
#include <libraw/libraw.h>
#include <memory>

namespace {

QStringList args(std::initializer_list<const char*> list) {
    QStringList out;
    for (const char* a : list)
        out << a;
    return out;
}

struct argsCase {
    const char* name;
    rawLoadOptions options;
    bool preview;
    QStringList expected;
};

// A fresh LibRaw's parameters, the state the mapping starts from.
libraw_output_params_t freshParams() {
    auto raw = std::make_unique<LibRaw>();
    return raw->imgdata.params;
}

} // namespace

TEST(buildDcrawArgs, eachOptionCombinationGivesItsArgumentList) {
    using o = rawLoadOptions;
    const QStringList tail = {"-c", "-W", "-q", "2", "-6", "-s", "-0"},
                      previewTail = {"-c", "-W", "-q", "0", "-s", "-0"};
    const argsCase cases[] = {
        {"defaults", o{}, false, QStringList{"-w"} + tail},
        {"defaults, preview", o{}, true, QStringList{"-w", "-h"} + previewTail},
        {"manual multipliers", o{.whiteBalance = o::manual, .multipliers = {2.25, 1, 1.5, 0.875}}, false,
         QStringList{"-r", "2.25", "1", "1.5", "0.875"} + tail},
        {"automatic", o{.whiteBalance = o::automatic}, false, QStringList{"-a"} + tail},
        {"selection without a square falls back to automatic", o{.whiteBalance = o::automaticSelection},
         false, QStringList{"-a"} + tail},
        // Centre (300, 200) on the half-size preview, a 64-pixel square: corner 2·300 − 32, 2·200 − 32.
        {"selection",
         o{.whiteBalance = o::automaticSelection,
           .hasSelection = true,
           .selectionX = 300,
           .selectionY = 200,
           .selectionSize = 64},
         false, QStringList{"-A", "568", "368", "64", "64"} + tail},
        {"odd selection size halves downwards",
         o{.whiteBalance = o::automaticSelection,
           .hasSelection = true,
           .selectionX = 10,
           .selectionY = 7,
           .selectionSize = 25},
         false, QStringList{"-A", "8", "2", "25", "25"} + tail},
        {"four colours", o{.fourColors = true}, false, QStringList{"-w", "-f"} + tail},
        // 0.3 × 10 is 3.0000000000000004 in binary: still "3".
        {"noise filtering: threshold times ten",
         o{.noiseFilter = true, .waveletThreshold = 0.3, .medianPasses = 2}, false,
         QStringList{"-w", "-n", "3", "-m", "2"} + tail},
        {"noise values without the group", o{.waveletThreshold = 50, .medianPasses = 3}, false,
         QStringList{"-w"} + tail},
        {"AdobeRGB", o{.colorSpace = o::adobeRGB}, false, QStringList{"-w", "-o", "2"} + tail},
        {"ProPhoto", o{.colorSpace = o::proPhoto}, false, QStringList{"-w", "-o", "4"} + tail},
        {"colour space not for a preview", o{.colorSpace = o::wideGamut}, true,
         QStringList{"-w", "-h"} + previewTail},
        {"colour space box disabled", o{.colorSpaceEnabled = false, .colorSpace = o::wideGamut}, false,
         QStringList{"-w"} + tail},
        {"half size", o{.halfSize = true}, false, QStringList{"-w", "-h"} + tail},
        {"half size in a preview once", o{.halfSize = true}, true, QStringList{"-w", "-h"} + previewTail},
        {"highlights", o{.recoverHighlights = true}, false,
         QStringList{"-w", "-H", "2", "-g", "5", "7"} + tail},
        {"everything",
         o{.whiteBalance = o::automatic,
           .fourColors = true,
           .noiseFilter = true,
           .waveletThreshold = 12.5,
           .medianPasses = 1,
           .colorSpace = o::wideGamut,
           .recoverHighlights = true,
           .halfSize = true},
         false,
         QStringList{"-a", "-f", "-n", "125", "-m", "1", "-o", "3", "-h", "-H", "2", "-g", "5", "7"} + tail},
    };
    for (const argsCase& c : cases)
        EXPECT_EQ(halvora::buildDcrawArgs(c.options, c.preview), c.expected) << c.name;
}

TEST(dcrawArgsToLibRaw, everyOptionSetsTheParameterOfTheSameMeaning) {
    libraw_output_params_t p = freshParams();
    QString error;
    ASSERT_TRUE(halvora::dcrawArgsToLibRaw(
        args({"-r", "2.5", "1",  "1.25", "1", "-f", "-n", "150", "-m", "3",  "-o", "4", "-h",
              "-H", "2",   "-g", "5",    "7", "-c", "-W", "-q",  "2",  "-6", "-s", "-0"}),
        p, &error))
        << error.toStdString();
    EXPECT_FLOAT_EQ(p.user_mul[0], 2.5f);
    EXPECT_FLOAT_EQ(p.user_mul[1], 1.0f);
    EXPECT_FLOAT_EQ(p.user_mul[2], 1.25f);
    EXPECT_FLOAT_EQ(p.user_mul[3], 1.0f);
    EXPECT_EQ(p.four_color_rgb, 1);
    EXPECT_FLOAT_EQ(p.threshold, 150.0f);
    EXPECT_EQ(p.med_passes, 3);
    EXPECT_EQ(p.output_color, 4); // ProPhoto in LibRaw's numbering
    EXPECT_EQ(p.half_size, 1);
    EXPECT_EQ(p.highlight, 2);
    EXPECT_DOUBLE_EQ(p.gamm[0], 0.2); // power 1/5
    EXPECT_DOUBLE_EQ(p.gamm[1], 7.0);
    EXPECT_EQ(p.no_auto_bright, 1);
    EXPECT_EQ(p.user_qual, 2);
    EXPECT_EQ(p.output_bps, 16);
    EXPECT_EQ(p.shot_select, 0u);
    EXPECT_EQ(p.use_camera_wb, 0);
    EXPECT_EQ(p.use_auto_wb, 0);

    // White balance choices.
    p = freshParams();
    ASSERT_TRUE(halvora::dcrawArgsToLibRaw(args({"-w"}), p, nullptr));
    EXPECT_EQ(p.use_camera_wb, 1);
    p = freshParams();
    ASSERT_TRUE(halvora::dcrawArgsToLibRaw(args({"-a"}), p, nullptr));
    EXPECT_EQ(p.use_auto_wb, 1);
    p = freshParams();
    ASSERT_TRUE(halvora::dcrawArgsToLibRaw(args({"-A", "568", "368", "64", "48"}), p, nullptr));
    EXPECT_EQ(p.use_auto_wb, 1);
    EXPECT_EQ(p.greybox[0], 568u);
    EXPECT_EQ(p.greybox[1], 368u);
    EXPECT_EQ(p.greybox[2], 64u);
    EXPECT_EQ(p.greybox[3], 48u);
    // A square picked at the top-left edge has a negative corner; it must not wrap to 4 billion.
    p = freshParams();
    ASSERT_TRUE(halvora::dcrawArgsToLibRaw(args({"-A", "-12", "-3", "64", "64"}), p, nullptr));
    EXPECT_EQ(p.greybox[0], 0u);
    EXPECT_EQ(p.greybox[1], 0u);

    // A preview: 8-bit output, the fastest interpolation; "-s 1" selects the second picture.
    p = freshParams();
    ASSERT_TRUE(halvora::dcrawArgsToLibRaw(args({"-q", "0", "-s", "1"}), p, nullptr));
    EXPECT_EQ(p.user_qual, 0);
    EXPECT_EQ(p.output_bps, 8);
    EXPECT_EQ(p.shot_select, 1u);
    EXPECT_EQ(p.no_auto_bright, 0);
}

TEST(dcrawArgsToLibRaw, everyBuiltListMapsWithoutComplaint) {
    for (int wb = 0; wb < 4; ++wb)
        for (int flags = 0; flags < 32; ++flags)
            for (bool preview : {false, true}) {
                rawLoadOptions o;
                o.whiteBalance = wb;
                o.hasSelection = true;
                o.selectionX = 5;
                o.selectionY = 5;
                o.selectionSize = 40;
                o.fourColors = flags & 1;
                o.noiseFilter = flags & 2;
                o.medianPasses = 4;
                o.colorSpace = (flags & 4) ? rawLoadOptions::proPhoto : rawLoadOptions::sRGB;
                o.halfSize = flags & 8;
                o.recoverHighlights = flags & 16;
                libraw_output_params_t p = freshParams();
                QString error;
                ASSERT_TRUE(halvora::dcrawArgsToLibRaw(halvora::buildDcrawArgs(o, preview), p, &error))
                    << error.toStdString();
                EXPECT_EQ(p.half_size, o.halfSize || preview);
                EXPECT_EQ(p.output_bps, preview ? 8 : 16);
                EXPECT_EQ(p.no_auto_bright, 1);
                EXPECT_EQ(p.output_color, !preview && (flags & 4) ? 4 : 1);
                EXPECT_EQ(p.med_passes, (flags & 2) ? 4 : 0);
                EXPECT_EQ(p.highlight, (flags & 16) ? 2 : 0);
            }
}

TEST(dcrawArgsToLibRaw, malformedListsAreRefusedWithTheOption) {
    const QStringList bad[] = {args({"-r", "1", "1", "1"}),
                               args({"-r", "1", "x", "1", "1"}),
                               args({"-A", "1", "2", "3"}),
                               args({"-A", "1", "2", "0", "5"}),
                               args({"-n"}),
                               args({"-n", "nan"}),
                               args({"-o", "6"}),
                               args({"-o", "-1"}),
                               args({"-H", "10"}),
                               args({"-g", "0", "7"}),
                               args({"-q", "4"}),
                               args({"-m", "-2"}),
                               args({"-s", "-2147483648"}),
                               args({"-T"}),
                               args({"photo.cr2"})};
    for (const QStringList& list : bad) {
        libraw_output_params_t p = freshParams();
        QString error;
        EXPECT_FALSE(halvora::dcrawArgsToLibRaw(list, p, &error)) << list.join(' ').toStdString();
        EXPECT_TRUE(error.contains(list.first())) << error.toStdString();
    }
}
