#include "colorTestSupport.h"

#include <QFile>
#include <cmath>
#include <lcms2.h>

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
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 5, params);
    const cmsCIExyY white = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    QByteArray bytes = saved(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    return bytes;
}

} // namespace colorTest
