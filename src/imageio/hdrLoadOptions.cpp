#include "imageio/hdrLoadOptions.h"

#include <algorithm>

QStringList hdrLoadOptions::colorSpaceNames() {
    return {QStringLiteral("As embedded"), QStringLiteral("sRGB"), QStringLiteral("AdobeRGB"),
            QStringLiteral("WideGamut"), QStringLiteral("ProPhoto")};
}

QString hdrLoadOptions::profileFile() const {
    switch (colorSpace) {
    case sRGB:
        return QStringLiteral("/color profiles/sRGB.icm");
    case adobeRGB:
        return QStringLiteral("/color profiles/AdobeRGB1998.icc");
    case wideGamut:
        return QStringLiteral("/color profiles/WideGamutRGB.icc");
    case proPhoto:
        return QStringLiteral("/color profiles/ProPhotoRGB.icm");
    default:
        return QString();
    }
}

void hdrLoadOptions::normalize() {
    if (colorSpace < 0 || colorSpace >= kColorSpaceCount) colorSpace = asEmbedded;
    noiseFilterStrength = std::clamp(noiseFilterStrength, 1, 10);
    noiseFilterSoftness = std::clamp(noiseFilterSoftness, 1, 10);
}
