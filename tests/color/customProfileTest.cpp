// Profiles built from a radiance file's declared primaries: which chromaticities make a profile at
// all, and that the profile made from a real file's header describes exactly those primaries.

#include "color/chromaticities.h"
#include "color/colorManagement.h"
#include "colorMath.h"
#include "colorTestSupport.h"
#include "support/testSupport.h"

#include <QFile>
#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace halvora;
using namespace colorMath;

namespace {

/// The eight numbers of the PRIMARIES line of a Radiance file's header, read here on their own.
bool headerPrimaries(const QString& path, double p[8]) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    for (int i = 0; i < 64 && !f.atEnd(); ++i) {
        const QByteArray line = f.readLine(512).trimmed();
        if (line.startsWith("PRIMARIES="))
            return std::sscanf(line.constData() + 10, "%lf %lf %lf %lf %lf %lf %lf %lf", &p[0], &p[1], &p[2],
                               &p[3], &p[4], &p[5], &p[6], &p[7]) == 8;
        if (line.isEmpty()) break;
    }
    return false;
}

colorSetupRequest_t radianceRequest(const QString& dir, const double primaries[8]) {
    colorSetupRequest_t r;
    r.options.enabled = true;
    r.options.inputProfile = 0;
    r.options.outputProfile = 1;
    r.profileDir = colorTest::profileDir();
    r.photoProfilePath = dir + "/~profile0.icc";
    r.hasCustomPrimaries = true;
    r.customPrimaries = chromaticities_t::fromArray(primaries);
    return r;
}

} // namespace

TEST(chromaticities, onlyRealTrianglesAroundTheWhiteMakeAProfile) {
    struct row {
        double p[8];
        const char* problem; // empty: acceptable
    };
    const double nan = std::nan("");
    const row rows[] = {
        {{0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.3127, 0.3290}, ""},
        {{0.7347, 0.2653, 0.1596, 0.8404, 0.0366, 0.0001, 0.3457, 0.3585}, ""}, // red on the x + y = 1 edge
        {{0.15, 0.06, 0.30, 0.60, 0.64, 0.33, 0.3127, 0.3290}, ""},             // listed clockwise
        {{0, 0, 0, 0, 0, 0, 0, 0}, "the red chromaticity (0, 0) lies outside the chromaticity diagram"},
        {{0.64, 0.33, 0.30, 0.60, 0.15, 0.06, nan, 0.3290}, "the white chromaticity"},
        {{0.64, 0.33, 0.30, 0.60, 0.15, -0.06, 0.3127, 0.3290}, "the blue chromaticity (0.15, -0.06)"},
        {{0.64, 0.33, 0.80, 0.30, 0.15, 0.06, 0.3127, 0.3290}, "the green chromaticity (0.8, 0.3)"},
        {{0.2, 0.2, 0.3, 0.3, 0.4, 0.4, 0.3127, 0.3290}, "the three primaries lie on one line"},
        {{0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.70, 0.25},
         "the white point lies outside the triangle of the primaries"},
        {{0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.64, 0.33},
         "the white point lies outside the triangle"}, // on a corner
    };
    for (const row& r : rows) {
        const QString problem = chromaticitiesProblem(chromaticities_t::fromArray(r.p));
        if (*r.problem == 0)
            EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
        else
            EXPECT_TRUE(problem.startsWith(r.problem))
                << problem.toStdString() << " / expected " << r.problem;
    }
}

TEST(customProfile, builtFromARadianceHeaderDescribesItsPrimaries) {
    HALVORA_REQUIRE_DATA();
    // Radiance's own default primaries with the equal-energy white, as written by libvips.
    double p[8];
    ASSERT_TRUE(headerPrimaries(halvora::test::dataFile("formats/rgbe/libvips_sample.hdr"), p));
    ASSERT_NEAR(p[6], 0.3333, 1e-9);
    const QString dir = halvora::test::makeTempDir("custom");
    const colorSetupRequest_t request = radianceRequest(dir, p);

    halvora::test::logCapture log;
    colorManagement cm;
    colorSetupResult_t result;
    QString error;
    ASSERT_TRUE(cm.setupForPhoto(request, result, &error)) << error.toStdString();
    EXPECT_TRUE(
        log.contains("Custom profile saved to file (" + (dir + "/~profile0.icc").toStdString() + ").\n"));
    EXPECT_EQ(cm.workingProfilePath(), dir + "/~profile0.icc");
    EXPECT_EQ(cm.workingDescription(), "Custom RGB from radiance file primaries");
    EXPECT_FALSE(cm.usingFallback());

    // Read the written file back with the library alone.
    cmsHPROFILE h = cmsOpenProfileFromFile((dir + "/~profile0.icc").toLocal8Bit().constData(), "r");
    ASSERT_NE(h, nullptr);
    const auto* chad = static_cast<const double*>(cmsReadTag(h, cmsSigChromaticAdaptationTag));
    ASSERT_NE(chad, nullptr);
    const mat3 unadapt = inverse(
        {vec3{chad[0], chad[1], chad[2]}, vec3{chad[3], chad[4], chad[5]}, vec3{chad[6], chad[7], chad[8]}});
    const cmsTagSignature colorants[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                          cmsSigBlueColorantTag};
    for (int c = 0; c < 3; ++c) {
        const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(h, colorants[c]));
        ASSERT_NE(xyz, nullptr);
        double x = 0, y = 0;
        XYZtoXy(mul(unadapt, vec3{xyz->X, xyz->Y, xyz->Z}), x, y);
        EXPECT_NEAR(x, p[2 * c], 5e-4) << "primary " << c;
        EXPECT_NEAR(y, p[2 * c + 1], 5e-4) << "primary " << c;
    }
    double wx = 0, wy = 0;
    XYZtoXy(mul(unadapt, kD50), wx, wy);
    EXPECT_NEAR(wx, p[6], 5e-4);
    EXPECT_NEAR(wy, p[7], 5e-4);
    const auto* trc = static_cast<const cmsToneCurve*>(cmsReadTag(h, cmsSigGreenTRCTag));
    ASSERT_NE(trc, nullptr);
    EXPECT_NEAR(cmsEvalToneCurveFloat(trc, 0.5f), std::pow(0.5, 2.2), 1e-4);
    cmsCloseProfile(h);

    // Converted to sRGB, white stays white (the conversion itself is the transform tests').
    uint16_t white[3] = {32640, 32640, 32640};
    cm.toSrgbWorkingScale(white, 1);
    EXPECT_EQ(std::vector<uint16_t>(white, white + 3), std::vector<uint16_t>(3, 32640));
}

TEST(customProfile, unusablePrimariesFallBackToSrgb) {
    const QString dir = halvora::test::makeTempDir("zeros");
    const double zeros[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    halvora::test::logCapture log;
    colorManagement cm;
    colorSetupResult_t result;
    QString error;
    ASSERT_TRUE(cm.setupForPhoto(radianceRequest(dir, zeros), result, &error)) << error.toStdString();
    EXPECT_TRUE(log.contains("Error! Failed to create custom profile.\n"));
    EXPECT_FALSE(QFile::exists(dir + "/~profile0.icc"));
    EXPECT_EQ(cm.workingProfilePath(), colorTest::profileDir() + "/sRGB.icm");

    // Primaries that would make a profile, but no place to save it: sRGB as well.
    const double srgb[8] = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.3127, 0.3290};
    colorSetupRequest_t unsaveable = radianceRequest(dir + "/no/such/folder", srgb);
    ASSERT_TRUE(cm.setupForPhoto(unsaveable, result, &error)) << error.toStdString();
    EXPECT_TRUE(log.contains("Error! Failed to save custom profile to file (" +
                             (dir + "/no/such/folder/~profile0.icc").toStdString() + ").\n"));
    EXPECT_EQ(cm.workingProfilePath(), colorTest::profileDir() + "/sRGB.icm");

    // A chosen photo colour space wins over the file's primaries.
    colorSetupRequest_t chosen = radianceRequest(dir, srgb);
    chosen.options.inputProfile = 2;
    ASSERT_TRUE(cm.setupForPhoto(chosen, result, &error)) << error.toStdString();
    EXPECT_EQ(cm.workingProfilePath(), colorTest::profileDir() + "/AdobeRGB1998.icc");
    EXPECT_FALSE(QFile::exists(dir + "/~profile0.icc"));
}
