// The project's tone-mapping drivers: preview level, signals, the full-resolution pass and its log line.

#include "base/runContext.h"
#include "project/processingProject.h"
#include "support/syntheticPictures.h"
#include "support/testSupport.h"
#include "tonemap/rebuildOnChange.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

using namespace halvora;
using halvora::test::testPicture;

namespace {

TEST(toneMapProject, previewAndFullImage) {
    processingProject project(nullptr, test::makeTempDir("project"));
    ASSERT_FALSE(project.createFailed);
    const int w = 700, h = 500;
    ASSERT_TRUE(project.setImageSize(w, h));
    const std::vector<float> rgb = testPicture(w, h, 11);
    std::copy(rgb.begin(), rgb.end(), project.rgbFloatBuffer());
    project.hdrImage.buildLevels();
    project.hdrMean = 0.1;
    project.lcCorrection = 0.9;
    toneMappingSettings_t& s = project.tmSettings;
    s.autoClipping = true;
    s.blackClip = 0.1;
    s.whiteClip = 0.2;
    rebuildToneMappingTables(s, toneMappingChange::everything);

    int finished = 0, disabled = 0;
    QObject::connect(&project, &processingProject::toneMappingFinished, [&] { ++finished; });
    QObject::connect(&project, &processingProject::disableAutoClipping, [&] { ++disabled; });
    const int level = project.previewToneMapLevel();
    ASSERT_GE(level, 0);
    project.toneMapPreview(s, nullptr, false);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(disabled, 0);
    EXPECT_TRUE(project.previewValid);
    EXPECT_EQ(project.toneMappedWidth, project.hdrImage.width(level));
    EXPECT_EQ(project.toneMappedPreview.size(),
              size_t(project.toneMappedWidth) * project.toneMappedHeight * 3);
    EXPECT_GT(s.whiteLevel, s.blackLevel);
    EXPECT_LT(s.whiteLevel, 1.0);

    // A caller's target is stretched in place, without the signal (compared without sharpening,
    // which only the render pass applies).
    s.sharpness = 0;
    project.toneMapPreview(s, nullptr, false);
    ASSERT_EQ(finished, 2);
    std::vector<uint8_t> thumb(project.toneMappedPreview.size());
    project.toneMapPreview(s, thumb.data(), false);
    EXPECT_EQ(finished, 2);
    int diff = 0;
    for (size_t i = 0; i < thumb.size(); ++i)
        diff = std::max(diff, std::abs(int(thumb[i]) - int(project.toneMappedPreview[i])));
    EXPECT_LE(diff, 3); // stretching bytes versus levels applied before quantisation (and no sharpening)

    s.blackClip = 0;
    project.toneMapPreview(s, nullptr, false);
    EXPECT_EQ(disabled, 1);

    test::logCapture log;
    ASSERT_TRUE(project.toneMapFullImage());
    EXPECT_TRUE(log.contains("Tone mapping entire photo...\n"));
    const uint16_t* result = project.resultBuffer();
    uint64_t sum = 0;
    for (size_t i = 0; i < size_t(w) * h * 3; ++i) {
        ASSERT_LE(result[i], 32639);
        sum += result[i];
    }
    EXPECT_GT(sum / (size_t(w) * h * 3), 2000u);

    // Planes the preparation has not finished are not read: local contrast and Mask are left out.
    const std::vector<uint16_t> without(result, result + size_t(w) * h * 3);
    s.localContrastEnabled = s.maskEnabled = true;
    std::fill_n(project.lcPlaneFine.data<uint16_t>(), size_t(w) * h, uint16_t(7));
    ASSERT_FALSE(project.lcPlanesValid);
    ASSERT_TRUE(project.toneMapFullImage());
    EXPECT_TRUE(std::equal(without.begin(), without.end(), project.resultBuffer()));
}

// An automatic run frees the radiance picture's levels it does not show before it prepares the planes:
// the preview it then makes is the one it would have made with every level.
TEST(toneMapProject, levelsBesidesThePreviewGoWithoutChangingIt) {
    processingProject project(nullptr, test::makeTempDir("project"));
    ASSERT_FALSE(project.createFailed);
    const int w = 1300, h = 900; // three levels; the preview is made at the middle one
    ASSERT_TRUE(project.setImageSize(w, h));
    const std::vector<float> rgb = testPicture(w, h, 3);
    std::copy(rgb.begin(), rgb.end(), project.rgbFloatBuffer());
    project.hdrImage.buildLevels();
    project.hdrMean = 0.2;
    rebuildToneMappingTables(project.tmSettings, toneMappingChange::everything);
    ASSERT_EQ(project.hdrImage.levelCount(), 3);
    ASSERT_EQ(project.previewToneMapLevel(), 1);
    project.toneMapPreview(project.tmSettings, nullptr, false);
    ASSERT_TRUE(project.previewValid);
    const std::vector<uint8_t> before = project.toneMappedPreview;

    project.releaseLevelsBesidesPreview();
    EXPECT_NE(project.hdrImage.data<float>(0), nullptr);
    EXPECT_NE(project.hdrImage.data<float>(1), nullptr);
    EXPECT_EQ(project.hdrImage.data<float>(2), nullptr);
    EXPECT_EQ(project.previewToneMapLevel(), 1);
    project.invalidateToneMapCaches();
    project.toneMapPreview(project.tmSettings, nullptr, false);
    ASSERT_TRUE(project.previewValid);
    EXPECT_TRUE(project.toneMappedPreview == before);
    // Rebuilding stops at the missing level instead of reading it.
    project.hdrImage.buildLevels();
    EXPECT_EQ(project.hdrImage.data<float>(2), nullptr);
    // A new picture size sets every level up again.
    ASSERT_TRUE(project.setImageSize(w, h));
    EXPECT_NE(project.hdrImage.data<float>(2), nullptr);
}

// The banded pass keeps only the bands in flight (in the result buffer, or in a block of its own for a
// picture a few rows high) and puts the detail plane there too: the bands it hands on must still be
// the whole picture's rows exactly, with and without sharpening, on one thread and on two.
TEST(toneMapProject, bandsHandedOnAreTheWholePicturesRows) {
    for (const int h : {500, 20, 1}) {
        SCOPED_TRACE(h);
        processingProject project(nullptr, test::makeTempDir("project"));
        ASSERT_FALSE(project.createFailed);
        const int w = 300;
        ASSERT_TRUE(project.setImageSize(w, h));
        const std::vector<float> rgb = testPicture(w, h, 5);
        std::copy(rgb.begin(), rgb.end(), project.rgbFloatBuffer());
        project.hdrImage.buildLevels();
        project.hdrMean = 0.2;
        toneMappingSettings_t& s = project.tmSettings;
        rebuildToneMappingTables(s, toneMappingChange::everything);
        for (const double sharpness : {0.0, 0.8}) {
            s.sharpness = sharpness;
            ASSERT_TRUE(project.toneMapFullImage());
            const size_t samples = size_t(w) * size_t(h) * 3;
            const std::vector<uint16_t> whole(project.resultBuffer(), project.resultBuffer() + samples);
            for (const int threads : {1, 2}) {
                runContext context(threads);
                runContext::scope bind(context);
                std::vector<uint16_t> banded;
                int nextRow = 0;
                ASSERT_TRUE(project.toneMapFullImage([&](int first, int end, const uint16_t* rows) {
                    EXPECT_EQ(first, nextRow);
                    EXPECT_GT(end, first);
                    nextRow = end;
                    banded.insert(banded.end(), rows, rows + size_t(end - first) * w * 3);
                    return true;
                }));
                EXPECT_EQ(nextRow, h);
                ASSERT_EQ(banded.size(), samples);
                EXPECT_TRUE(banded == whole) << "sharpness " << sharpness << ", " << threads << " thread(s)";
            }
        }
    }
}

} // namespace
