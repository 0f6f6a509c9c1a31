#include "colorTestSupport.h"

#include <QFile>
#include <cmath>
#include <lcms2.h>
#include <vector>

namespace colorTest {

namespace {

QByteArray saved(cmsHPROFILE h) {
    QByteArray out;
    cmsUInt32Number n = 0;
    if (h && cmsSaveProfileToMem(h, nullptr, &n) && n > 0) {
        out.resize(qsizetype(n));
        if (!cmsSaveProfileToMem(h, out.data(), &n)) out.clear();
    }
    if (h) cmsCloseProfile(h);
    return out;
}

constexpr double kSrgbPrimaries[6] = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06};

// A profile with the D65 white, the primaries (x, y of red, green, blue) and the curves (one for all
// channels when only `r` is given), which it frees.
QByteArray rgbProfile(const double p[6], cmsToneCurve* r, cmsToneCurve* g = nullptr,
                      cmsToneCurve* b = nullptr) {
    const cmsCIExyY white = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {{p[0], p[1], 1.0}, {p[2], p[3], 1.0}, {p[4], p[5], 1.0}};
    cmsToneCurve* curves[3] = {r, g ? g : r, b ? b : r};
    QByteArray bytes = saved(cmsCreateRGBProfile(&white, &primaries, curves));
    for (cmsToneCurve* c : {r, g, b})
        if (c) cmsFreeToneCurve(c);
    return bytes;
}

cmsHPROFILE placeholder(cmsProfileClassSignature cls, cmsColorSpaceSignature space,
                        cmsColorSpaceSignature pcs) {
    cmsHPROFILE h = cmsCreateProfilePlaceholder(nullptr);
    cmsSetDeviceClass(h, cls);
    cmsSetColorSpace(h, space);
    cmsSetPCS(h, pcs);
    return h;
}

} // namespace

QString profileDir() {
    return QString(HALVORA_PROFILE_DIR);
}

QByteArray shippedBytes(const char* file) {
    QFile f(profileDir() + "/" + file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray cmykProfile() {
    return saved(placeholder(cmsSigOutputClass, cmsSigCmykData, cmsSigLabData));
}

QByteArray greyProfile() {
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
    QByteArray bytes = saved(cmsCreateGrayProfile(cmsD50_xyY(), curve));
    cmsFreeToneCurve(curve);
    return bytes;
}

QByteArray taglessRgbProfile() {
    return saved(placeholder(cmsSigDisplayClass, cmsSigRgbData, cmsSigXYZData));
}

QByteArray scannerProfileD65White() {
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
    const cmsCIExyY white = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE h = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    cmsCIEXYZ d65;
    cmsxyY2XYZ(&d65, &white);
    cmsSetDeviceClass(h, cmsSigInputClass);
    cmsWriteTag(h, cmsSigMediaWhitePointTag, &d65);
    return saved(h);
}

QByteArray raisedBlackRgbProfile() {
    // Type 5: y = (a·x + b)^g + e above d, c·x + f below; f = e lifts the whole curve.
    // With a = 0.98^(1 / 2.2) the curve runs from 0.02 at 0 to exactly 1 at 1.
    const double params[7] = {2.2, std::pow(0.98, 1.0 / 2.2), 0.0, 0.0, 0.0, 0.02, 0.02};
    return rgbProfile(kSrgbPrimaries, cmsBuildParametricToneCurve(nullptr, 5, params));
}

QByteArray tabulatedProfile() {
    std::vector<cmsUInt16Number> table(1024);
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = cmsUInt16Number(std::lround(std::pow(double(i) / 1023.0, 2.35) * 65535.0));
    const double primaries[6] = {0.66, 0.33, 0.28, 0.63, 0.15, 0.05};
    return rgbProfile(primaries,
                      cmsBuildTabulatedToneCurve16(nullptr, cmsUInt32Number(table.size()), table.data()));
}

QByteArray perChannelGammaProfile() {
    const double adobe[6] = {0.64, 0.33, 0.21, 0.71, 0.15, 0.06};
    return rgbProfile(adobe, cmsBuildGamma(nullptr, 1.8), cmsBuildGamma(nullptr, 2.2),
                      cmsBuildGamma(nullptr, 2.6));
}

} // namespace colorTest
