// Real radiance pictures through the built-in default look.

#include "radianceTestPicture.h"
#include "support/testSupport.h"
#include "tonemap/detailPlane.h"
#include "tonemap/picturePasses.h"
#include "tonemap/rebuildOnChange.h"
#include "tonemap/toneMappingSettingsFile.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>

using namespace halvora;

namespace {

QString builtInPreset(const QString& name) {
    return QString(HALVORA_SOURCE_DIR) + "/resources/built-in presets/" + name;
}

// Preview passes (histogram, automatic clipping, render) of a picture with its prepared planes and
// detail plane, as the program renders a preview.
std::vector<uint8_t> renderPicture(const test::radiancePicture& picture, toneMappingSettings_t& settings) {
    test::preparedPlanes planes;
    EXPECT_TRUE(test::preparePlanes(picture, true, planes));
    std::vector<int16_t> detail(size_t(picture.width) * picture.height);
    double detailScale = 1;
    computeDetailPlane(picture.width, picture.height, picture.rgb.data(), detail.data(), nullptr,
                       picture.width, picture.height, true, detailScale, 1.0);
    toneMapSource_t source;
    source.lcPlaneFine = planes.fine.data();
    source.lcPlaneMedium = planes.medium.data();
    source.lcPlaneCoarse = planes.coarse.data();
    source.maskPlane = planes.mask.data();
    source.detailPlane = detail.data();
    source.detailScale = detailScale;
    source.width = picture.width;
    source.height = picture.height;
    source.hdr = picture.rgb.data();
    source.hdrMean = picture.hdrMean;
    source.lcCorrection = picture.lcCorrection;
    std::vector<uint8_t> display(size_t(picture.width) * picture.height * 3);
    toneMapPreviewPasses(settings, source, nullptr, display.data(), false);
    return display;
}

QStringList radianceFiles() {
    const QDir dir(test::dataFile("radiance/polyhaven_hdri_1k"));
    QStringList files;
    for (const QString& name : dir.entryList({"*.hdr"}, QDir::Files, QDir::Name))
        files << dir.filePath(name);
    return files;
}

} // namespace

// Every built-in preset loads as a current settings file.
TEST(builtInPresets, loadWithoutCorrections) {
    const QDir dir(QString(HALVORA_SOURCE_DIR) + "/resources/built-in presets");
    const QStringList names = dir.entryList({"*.hvsx"}, QDir::Files);
    ASSERT_TRUE(names.contains("default.hvsx"));
    for (const QString& name : names) {
        toneMappingParameters_t p;
        test::logCapture log;
        EXPECT_EQ(loadSettingsFile(dir.filePath(name), p), settingsLoadOk) << name.toStdString();
        EXPECT_FALSE(log.contains("loadSettingsFile:")) << name.toStdString() << log.text();
    }
}

// The default look of real scenes is neither murky nor washed out: mid-tones near the middle, little
// crushed to black or burnt to white.
TEST(builtInPresets, defaultLookOfRealScenes) {
    HALVORA_REQUIRE_DATA();
    const QStringList files = radianceFiles();
    ASSERT_FALSE(files.isEmpty());
    for (const QString& file : files) {
        test::radiancePicture picture;
        ASSERT_TRUE(test::readRgbe(file, picture)) << file.toStdString();
        test::hdrPreprocess(picture);
        picture = test::downscale(picture, 2);
        toneMappingSettings_t settings;
        ASSERT_TRUE(settings.tables.allocate());
        ASSERT_EQ(loadSettingsFile(builtInPreset("default.hvsx"), settings), settingsLoadOk);
        rebuildToneMappingTables(settings, toneMappingChange::everything);
        const std::vector<uint8_t> out = renderPicture(picture, settings);
        double sum = 0;
        size_t black = 0, white = 0;
        const size_t pixels = out.size() / 3;
        for (size_t i = 0; i < pixels; ++i) {
            const double l = 0.3086 * out[i * 3] + 0.6094 * out[i * 3 + 1] + 0.082 * out[i * 3 + 2];
            sum += l;
            black += l < 2;
            white += l > 253;
        }
        const double mean = sum / pixels;
        SCOPED_TRACE(file.toStdString());
        std::printf("[ look     ] %s: mean level %.1f\n", qPrintable(QFileInfo(file).fileName()), mean);
        EXPECT_GT(mean, 60);
        EXPECT_LT(mean, 180);
        EXPECT_LT(double(black) / pixels, 0.02);
        EXPECT_LT(double(white) / pixels, 0.05);
    }
}

static double medianOutside(const std::vector<uint8_t>& out, int width, int cx, int cy, int radius) {
    std::vector<double> levels;
    for (size_t i = 0; i < out.size() / 3; ++i) {
        const int x = int(i % size_t(width)), y = int(i / size_t(width));
        if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius) continue;
        levels.push_back(0.3086 * out[i * 3] + 0.6094 * out[i * 3 + 1] + 0.082 * out[i * 3 + 2]);
    }
    std::nth_element(levels.begin(), levels.begin() + levels.size() / 2, levels.end());
    return levels[levels.size() / 2];
}

// A small, very bright source (a sun 12 stops above the brightest part of an overcast street, on
// 0.3 % of the picture) must not sink the rest of the scene into the dark: away from the sun, the
// median level is at least that of the same scene rendered without it.
TEST(builtInPresets, smallBrightSourceDoesNotDarkenTheScene) {
    HALVORA_REQUIRE_DATA();
    test::radiancePicture plain;
    ASSERT_TRUE(test::readRgbe(test::dataFile("radiance/polyhaven_hdri_1k/potsdamer_platz_1k.hdr"), plain));
    plain = test::downscale(plain, 2);
    test::radiancePicture sun = plain;
    const float brightest = *std::max_element(plain.rgb.begin(), plain.rgb.end());
    const int cx = plain.width / 3, cy = plain.height / 5, radius = 11;
    int sunPixels = 0;
    for (int y = 0; y < sun.height; ++y)
        for (int x = 0; x < sun.width; ++x)
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius) {
                float* p = &sun.rgb[(size_t(y) * sun.width + x) * 3];
                p[0] = p[1] = p[2] = brightest * 4096.0f;
                ++sunPixels;
            }
    ASSERT_LT(double(sunPixels) / (sun.width * sun.height), 0.005);
    double median[2] = {0, 0};
    test::radiancePicture* pictures[2] = {&plain, &sun};
    for (int k = 0; k < 2; ++k) {
        test::hdrPreprocess(*pictures[k]);
        toneMappingSettings_t settings;
        ASSERT_TRUE(settings.tables.allocate());
        ASSERT_EQ(loadSettingsFile(builtInPreset("default.hvsx"), settings), settingsLoadOk);
        rebuildToneMappingTables(settings, toneMappingChange::everything);
        // The local operators spread the sun over some tens of pixels; the comparison starts outside.
        median[k] = medianOutside(renderPicture(*pictures[k], settings), plain.width, cx, cy, radius + 40);
    }
    EXPECT_GT(median[0], 80.0) << "an overcast street in daylight is not a night scene";
    // With the sun the rest may come out somewhat brighter (the sun fills part of the brightest share
    // the exposure normalisation lets roll off), never darker.
    EXPECT_GT(median[1], median[0] - 8.0);
    EXPECT_LT(median[1], median[0] + 30.0);
}
