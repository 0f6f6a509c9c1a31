#include "imageio/hdrLoadOptions.h"

#include "app/commandLineOptions.h"
#include "app/programOptionsSettings.h"

#include <algorithm>

QStringList hdrLoadOptions::colorSpaceNames() {
    return {QStringLiteral("As embedded"), QStringLiteral("sRGB"), QStringLiteral("AdobeRGB"),
            QStringLiteral("WideGamut"), QStringLiteral("ProPhoto")};
}

QString hdrLoadOptions::profileFile() const {
    switch (colorSpace) {
    case sRGB: return QStringLiteral("/color profiles/sRGB.icm");
    case adobeRGB: return QStringLiteral("/color profiles/AdobeRGB1998.icc");
    case wideGamut: return QStringLiteral("/color profiles/WideGamutRGB.icc");
    case proPhoto: return QStringLiteral("/color profiles/ProPhotoRGB.icm");
    default: return QString();
    }
}

void hdrLoadOptions::normalize() {
    if (colorSpace < 0 || colorSpace >= kColorSpaceCount)
        colorSpace = asEmbedded;
    noiseFilterStrength = std::clamp(noiseFilterStrength, 1, 10);
    noiseFilterSoftness = std::clamp(noiseFilterSoftness, 1, 10);
}

hdrLoadOptions hdrLoadOptions::fromSettings(const programOptionsSettings& settings) {
    hdrLoadOptions o;
    o.colorSpace = settings.loadHdrColorSpace;
    o.noiseFilter = settings.loadHdrNoiseFilter;
    o.noiseFilterStrength = settings.loadHdrNoiseFilterStrength;
    o.noiseFilterSoftness = settings.loadHdrNoiseFilterSoftness;
    o.panoramaMode = settings.panoramaMode;
    o.normalize();
    return o;
}

void hdrLoadOptions::storeTo(programOptionsSettings& settings) const {
    hdrLoadOptions o = *this;
    o.normalize();
    settings.loadHdrColorSpace = o.colorSpace;
    settings.loadHdrNoiseFilter = o.noiseFilter;
    settings.loadHdrNoiseFilterStrength = o.noiseFilterStrength;
    settings.loadHdrNoiseFilterSoftness = o.noiseFilterSoftness;
}

hdrLoadOptions hdrLoadOptions::fromCommandLine(const commandLineOptions& commandLine,
                                               const programOptionsSettings& settings) {
    hdrLoadOptions o = fromSettings(settings);
    o.noiseFilter = commandLine.noiseFilter;
    o.noiseFilterStrength = commandLine.noiseStrength1;
    o.noiseFilterSoftness = commandLine.noiseStrength2;
    o.panoramaMode = commandLine.panoramaMode;
    o.normalize();
    return o;
}

hdrLoadOptions hdrLoadOptions::forUnattendedRun(const commandLineOptions& commandLine,
                                                const programOptionsSettings& settings) {
    return commandLine.autoProcess ? fromCommandLine(commandLine, settings) : fromSettings(settings);
}
