#include "color/standardProfiles.h"

namespace halvora {

namespace {

constexpr double kD65x = 0.3127, kD65y = 0.3290;
constexpr double kD50x = 0.3457, kD50y = 0.3585;

// Pure power laws written with a gamma of 2.2 are encoded as 563/256 by Adobe (its "2.2" in the
// u8.8 fixed-point form of ICC version 2 curves); we keep the published value exactly.
constexpr double kAdobeGamma = 563.0 / 256.0;

std::vector<standardProfile_t> makeDefinitions() {
    std::vector<standardProfile_t> d;
    // sRGB: IEC 61966-2-1:1999. ITU-R BT.709 primaries, D65, and the piecewise curve: linear with
    // slope 1/12.92 below the encoded value 0.04045, ((V + 0.055) / 1.055)^2.4 above.
    d.push_back({standardSpace::sRGB,
                 "sRGB.icm",
                 "sRGB IEC61966-2.1",
                 {0.6400, 0.3300, 0.3000, 0.6000, 0.1500, 0.0600, kD65x, kD65y},
                 transferCurve_t::piecewise(2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045)});
    // Adobe RGB (1998) Color Image Encoding, version 2005-05 (Adobe Systems): D65, gamma 563/256.
    d.push_back({standardSpace::adobeRGB,
                 "AdobeRGB1998.icc",
                 "Adobe RGB (1998) compatible",
                 {0.6400, 0.3300, 0.2100, 0.7100, 0.1500, 0.0600, kD65x, kD65y},
                 transferCurve_t::gamma(kAdobeGamma)});
    // Wide Gamut RGB as defined in Adobe Photoshop's RGB working spaces (Photoshop 5.0 "RGB Setup"):
    // primaries on the spectral locus at 700, 525 and 450 nm, D50, gamma 563/256.
    d.push_back({standardSpace::wideGamutRGB,
                 "WideGamutRGB.icc",
                 "Wide Gamut RGB",
                 {0.7347, 0.2653, 0.1152, 0.8264, 0.1566, 0.0177, kD50x, kD50y},
                 transferCurve_t::gamma(kAdobeGamma)});
    // ProPhoto RGB = ROMM RGB, ISO 22028-2:2013 (first published as ANSI/I3A IT10.7666 and Kodak's
    // ROMM RGB white paper): D50, gamma 1.8 with a linear foot of slope 1/16 below the encoded
    // value 1/32 (the linear value 1/512).
    d.push_back({standardSpace::proPhotoRGB,
                 "ProPhotoRGB.icm",
                 "ProPhoto RGB (ROMM RGB)",
                 {0.7347, 0.2653, 0.1596, 0.8404, 0.0366, 0.0001, kD50x, kD50y},
                 transferCurve_t::piecewise(1.8, 1.0, 0.0, 1.0 / 16.0, 1.0 / 32.0)});
    // Apple RGB: the Apple 13" RGB (Trinitron) monitor space as defined in Apple's ColorSync
    // profile and Adobe Photoshop 5.0's RGB working spaces: D65, gamma 1.8.
    d.push_back({standardSpace::appleRGB,
                 "AppleRGB.icc",
                 "Apple RGB",
                 {0.6250, 0.3400, 0.2800, 0.5950, 0.1550, 0.0700, kD65x, kD65y},
                 transferCurve_t::gamma(1.8)});
    // ColorMatch RGB: the Radius PressView monitor space of Adobe Photoshop 5.0's RGB working
    // spaces: D50, gamma 1.8.
    d.push_back({standardSpace::colorMatchRGB,
                 "ColorMatchRGB.icc",
                 "ColorMatch RGB",
                 {0.6300, 0.3400, 0.2950, 0.6050, 0.1500, 0.0750, kD50x, kD50y},
                 transferCurve_t::gamma(1.8)});
    return d;
}

} // namespace

const std::vector<standardProfile_t>& standardProfiles() {
    static const std::vector<standardProfile_t> definitions = makeDefinitions();
    return definitions;
}

const standardProfile_t& standardProfile(standardSpace space) {
    return standardProfiles()[size_t(space)];
}

iccProfile buildStandardProfile(const standardProfile_t& definition, QString* error) {
    profileInfo_t texts;
    texts.description = QString(definition.name) + " (Halvora)";
    texts.manufacturer = "Halvora";
    texts.model = definition.name;
    texts.copyright = "No copyright; made from published primaries";
    return iccProfile::fromChromaticities(definition.chromaticities, definition.curve, texts, error);
}

} // namespace halvora
