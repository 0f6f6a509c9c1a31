// Real radiance pictures through the built-in default look.

#include "hdr/hdrPreprocess.h"
#include "imageio/imageLoader.h"
#include "support/testSupport.h"
#include "tonemap/detailPlane.h"
#include "tonemap/localContrast.h"
#include "tonemap/maskPlane.h"
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

// A radiance picture read with the program's RGBE reader and normalised by the program's preprocess
// (True HDR) with its hdrMean and lcCorrection, as the program prepares a radiance file.
struct radiancePicture {
    int width = 0;
    int height = 0;
    std::vector<float> rgb; ///< width × height × 3
    double hdrMean = 0.4;
    double lcCorrection = 1.0;
};

// The four planes of the tone-mapping preparation (local contrast fine, medium, coarse; mask).
struct preparedPlanes {
    std::vector<uint16_t> fine, medium, coarse, mask;
};

bool readPicture(const QString& path, radiancePicture& picture) {
    int w = 0, h = 0;
    double primaries[8];
    bool primariesPresent = false;
    if (!getRGBEinfo(path, w, h, primaries, primariesPresent, nullptr)) return false;
    picture.width = w;
    picture.height = h;
    picture.rgb.assign(size_t(w) * h * 3, 0.0f);
    float maximum = 0, minimum = 0;
    return imageLoader::loadRadianceRGBE(path, w, h, picture.rgb.data(), maximum, minimum, nullptr);
}

void normalise(radiancePicture& picture) {
    double lo = 0, hi = 0;
    radianceRange(picture.rgb.data(), picture.rgb.size() / 3, lo, hi);
    const hdrStatistics s = applyGammaHDR(picture.rgb.data(), picture.rgb.size() / 3, 0, lo, hi);
    picture.lcCorrection = s.lcCorrection;
    picture.hdrMean = s.hdrMean;
}

bool planesOf(const radiancePicture& picture, bool panorama, preparedPlanes& planes) {
    const int w = picture.width, h = picture.height;
    const size_t n = size_t(w) * h;
    planes.fine.assign(n, 0);
    planes.medium.assign(n, 0);
    planes.coarse.assign(n, 0);
    planes.mask.assign(n, 0);
    std::vector<uint16_t> prepared(n), samples(size_t((w + 1) / 2) * ((h + 1) / 2));
    if (!computeMaskPlane(picture.rgb.data(), w, h, planes.mask.data(), prepared.data())) return false;
    if (!runLocalContrastPrepare(picture.rgb.data(), w, h, picture.lcCorrection, prepared.data()))
        return false;
    const localContrastWindows_t k = localContrastWindowSizes(w, h);
    return runLocalContrast(prepared.data(), w, h, k.medium, panorama, false, samples.data(),
                            planes.medium.data()) &&
           runLocalContrast(prepared.data(), w, h, k.fine, panorama, true, samples.data(),
                            planes.fine.data()) &&
           runLocalContrast(prepared.data(), w, h, k.coarse, panorama, false, samples.data(),
                            planes.coarse.data());
}

// Means of 2 × 2 blocks, for quick renders.
radiancePicture halved(const radiancePicture& picture) {
    radiancePicture out = picture;
    out.width = picture.width / 2;
    out.height = picture.height / 2;
    out.rgb.assign(size_t(out.width) * out.height * 3, 0.0f);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            for (int c = 0; c < 3; ++c) {
                auto at = [&](int dx, int dy) {
                    return double(picture.rgb[(size_t(2 * y + dy) * picture.width + 2 * x + dx) * 3 + c]);
                };
                out.rgb[(size_t(y) * out.width + x) * 3 + c] =
                    float((at(0, 0) + at(1, 0) + at(0, 1) + at(1, 1)) / 4);
            }
    return out;
}

QString builtInPreset(const QString& name) {
    return QString(HALVORA_SOURCE_DIR) + "/resources/built-in presets/" + name;
}

// Preview passes (histogram, automatic clipping, render) of a picture with its prepared planes and
// detail plane, as the program renders a preview.
std::vector<uint8_t> renderPicture(const radiancePicture& picture, toneMappingSettings_t& settings) {
    preparedPlanes planes;
    EXPECT_TRUE(planesOf(picture, true, planes));
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
        radiancePicture picture;
        ASSERT_TRUE(readPicture(file, picture)) << file.toStdString();
        normalise(picture);
        picture = halved(picture);
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
    radiancePicture plain;
    ASSERT_TRUE(readPicture(test::dataFile("radiance/polyhaven_hdri_1k/potsdamer_platz_1k.hdr"), plain));
    plain = halved(plain);
    radiancePicture sun = plain;
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
    radiancePicture* pictures[2] = {&plain, &sun};
    for (int k = 0; k < 2; ++k) {
        normalise(*pictures[k]);
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
