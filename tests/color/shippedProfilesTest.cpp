// The six profiles the build writes next to the program, read back with LittleCMS and compared with
// the published definitions of their colour spaces (typed here again from the standards, not taken
// from the generator).

#include "colorMath.h"

#include <QFileInfo>
#include <QString>
#include <gtest/gtest.h>
#include <lcms2.h>

#include <memory>
#include <ostream>
#include <string>

using namespace colorMath;

namespace {

enum curveKind { curveSrgb, curveAdobe, curveRomm, curveGamma18 };

struct published_t {
    const char* file;
    double xy[8]; ///< chromaticities of red, green, blue and white
    curveKind curve;
    const char* describedAs;
    const double* r() const { return xy; }
    const double* g() const { return xy + 2; }
    const double* b() const { return xy + 4; }
    const double* w() const { return xy + 6; }
};

// D65 is (0.3127, 0.3290), D50 (0.3457, 0.3585).
const published_t kPublished[] = {
    {"sRGB.icm", {0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.3127, 0.3290}, curveSrgb, "sRGB"},
    {"AdobeRGB1998.icc", {0.64, 0.33, 0.21, 0.71, 0.15, 0.06, 0.3127, 0.3290}, curveAdobe, "Adobe RGB"},
    {"WideGamutRGB.icc",
     {0.7347, 0.2653, 0.1152, 0.8264, 0.1566, 0.0177, 0.3457, 0.3585},
     curveAdobe,
     "Wide Gamut"},
    {"ProPhotoRGB.icm",
     {0.7347, 0.2653, 0.1596, 0.8404, 0.0366, 0.0001, 0.3457, 0.3585},
     curveRomm,
     "ProPhoto"},
    {"AppleRGB.icc", {0.625, 0.34, 0.28, 0.595, 0.155, 0.07, 0.3127, 0.3290}, curveGamma18, "Apple RGB"},
    {"ColorMatchRGB.icc",
     {0.63, 0.34, 0.295, 0.605, 0.15, 0.075, 0.3457, 0.3585},
     curveGamma18,
     "ColorMatch"},
};

void PrintTo(const published_t& p, std::ostream* os) {
    *os << p.file;
}

double decode(curveKind kind, double v) {
    switch (kind) {
    case curveSrgb:
        return srgbDecode(v);
    case curveAdobe:
        return adobeDecode(v);
    case curveRomm:
        return rommDecode(v);
    case curveGamma18:
        return std::pow(v, 1.8);
    }
    return v;
}

struct profileCloser {
    void operator()(void* h) const { cmsCloseProfile(h); }
};
using profilePtr = std::unique_ptr<void, profileCloser>;

QString shippedPath(const char* file) {
    return QString(HALVORA_PROFILE_DIR) + "/" + file;
}

profilePtr openShipped(const char* file) {
    return profilePtr(cmsOpenProfileFromFile(shippedPath(file).toLocal8Bit().constData(), "r"));
}

vec3 toVec(const cmsCIEXYZ* p) {
    return {p->X, p->Y, p->Z};
}

/// The colour a device RGB value of the published space has in the connection space, as CIELAB.
vec3 publishedLab(const published_t& p, const vec3& rgb) {
    const mat3 toXYZ = rgbToXYZ(p.r(), p.g(), p.b(), p.w());
    const vec3 linear = {decode(p.curve, rgb[0]), decode(p.curve, rgb[1]), decode(p.curve, rgb[2])};
    return lab(mul(bradford(xyToXYZ(p.w()[0], p.w()[1]), kD50), mul(toXYZ, linear)));
}

class shippedProfile : public ::testing::TestWithParam<published_t> {};

} // namespace

TEST_P(shippedProfile, primariesWhiteAndCurvesAreThePublishedOnes) {
    const published_t& p = GetParam();
    ASSERT_TRUE(QFileInfo(shippedPath(p.file)).isFile()) << "the build writes " << p.file;
    const profilePtr profile = openShipped(p.file);
    ASSERT_TRUE(profile) << p.file;
    EXPECT_EQ(cmsGetColorSpace(profile.get()), cmsSigRgbData);
    EXPECT_EQ(cmsGetDeviceClass(profile.get()), cmsSigDisplayClass);
    EXPECT_EQ(cmsGetPCS(profile.get()), cmsSigXYZData);
    EXPECT_TRUE(cmsIsMatrixShaper(profile.get()));

    // The colorants are stored adapted to D50; the chromatic adaptation tag takes them back to the
    // space's own white.
    const auto* chad = static_cast<const double*>(cmsReadTag(profile.get(), cmsSigChromaticAdaptationTag));
    ASSERT_NE(chad, nullptr) << "chromatic adaptation tag";
    const mat3 adapt = {vec3{chad[0], chad[1], chad[2]}, vec3{chad[3], chad[4], chad[5]},
                        vec3{chad[6], chad[7], chad[8]}};
    const mat3 unadapt = inverse(adapt);
    const cmsTagSignature colorants[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                          cmsSigBlueColorantTag};
    const double* expected[3] = {p.r(), p.g(), p.b()};
    const mat3 expectedD50 =
        mul(bradford(xyToXYZ(p.w()[0], p.w()[1]), kD50), rgbToXYZ(p.r(), p.g(), p.b(), p.w()));
    for (int c = 0; c < 3; ++c) {
        const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile.get(), colorants[c]));
        ASSERT_NE(xyz, nullptr) << "colorant " << c;
        double x = 0, y = 0;
        XYZtoXy(mul(unadapt, toVec(xyz)), x, y);
        EXPECT_NEAR(x, expected[c][0], 5e-4) << p.file << " primary " << c << " x";
        EXPECT_NEAR(y, expected[c][1], 5e-4) << p.file << " primary " << c << " y";
        // The luminance share of each primary too, which a wrongly scaled white would change.
        EXPECT_NEAR(xyz->X, expectedD50[0][c], 1e-3) << p.file << " colorant " << c << " X";
        EXPECT_NEAR(xyz->Y, expectedD50[1][c], 1e-3) << p.file << " colorant " << c << " Y";
        EXPECT_NEAR(xyz->Z, expectedD50[2][c], 1e-3) << p.file << " colorant " << c << " Z";
    }
    double wx = 0, wy = 0;
    XYZtoXy(mul(unadapt, kD50), wx, wy);
    EXPECT_NEAR(wx, p.w()[0], 5e-4) << p.file << " white x";
    EXPECT_NEAR(wy, p.w()[1], 5e-4) << p.file << " white y";

    const cmsTagSignature curves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    for (cmsTagSignature sig : curves) {
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile.get(), sig));
        ASSERT_NE(curve, nullptr);
        for (double v : {0.0, 0.01, 0.02, 0.03, 0.04045, 0.05, 0.1, 0.2, 0.5, 0.8, 0.99, 1.0})
            EXPECT_NEAR(cmsEvalToneCurveFloat(curve, float(v)), decode(p.curve, v), 2e-5)
                << p.file << " curve at " << v;
    }

    char description[256] = {};
    cmsGetProfileInfoASCII(profile.get(), cmsInfoDescription, cmsNoLanguage, cmsNoCountry, description,
                           sizeof description);
    EXPECT_NE(std::string(description).find(p.describedAs), std::string::npos) << description;
}

TEST_P(shippedProfile, convertsItsOwnColoursToThePublishedOnes) {
    const published_t& p = GetParam();
    const profilePtr profile = openShipped(p.file);
    ASSERT_TRUE(profile) << p.file;
    const profilePtr labProfile(cmsCreateLab4Profile(nullptr));
    cmsHTRANSFORM t = cmsCreateTransform(profile.get(), TYPE_RGB_DBL, labProfile.get(), TYPE_Lab_DBL,
                                         INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
    ASSERT_NE(t, nullptr);
    const vec3 colours[] = {{1, 0, 0},       {0, 1, 0},       {0, 0, 1},       {0, 1, 1},
                            {1, 0, 1},       {1, 1, 0},       {1, 1, 1},       {0, 0, 0},
                            {0.5, 0.5, 0.5}, {0.2, 0.2, 0.2}, {0.8, 0.4, 0.1}, {0.02, 0.03, 0.01}};
    for (const vec3& rgb : colours) {
        double in[3] = {rgb[0], rgb[1], rgb[2]};
        cmsCIELab out;
        cmsDoTransform(t, in, &out, 1);
        const vec3 expected = publishedLab(p, rgb);
        EXPECT_LE(deltaE({out.L, out.a, out.b}, expected), 0.5)
            << p.file << " RGB (" << rgb[0] << ", " << rgb[1] << ", " << rgb[2] << ") gives Lab (" << out.L
            << ", " << out.a << ", " << out.b << "), published (" << expected[0] << ", " << expected[1]
            << ", " << expected[2] << ")";
    }
    cmsDeleteTransform(t);
}

INSTANTIATE_TEST_SUITE_P(allSix, shippedProfile, ::testing::ValuesIn(kPublished),
                         [](const ::testing::TestParamInfo<published_t>& info) {
                             std::string name = info.param.file;
                             return name.substr(0, name.find('.'));
                         });
