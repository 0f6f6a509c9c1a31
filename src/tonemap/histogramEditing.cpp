#include "tonemap/histogramEditing.h"

#include "tonemap/picturePasses.h"

#include <algorithm>
#include <cmath>

namespace halvora {
namespace {

double sane(double v, double fallback) {
    return std::isfinite(v) ? v : fallback;
}

} // namespace

void setBlackLevel(toneMappingParameters_t& s, double level) {
    s.blackLevel = std::clamp(sane(level, 0.0), 0.0, std::max(0.0, s.whiteLevel - kMinLevelGap));
}

void setWhiteLevel(toneMappingParameters_t& s, double level) {
    s.whiteLevel = std::clamp(sane(level, 1.0), std::min(1.0, s.blackLevel + kMinLevelGap), 1.0);
}

void applyNoClip(toneMappingParameters_t& s) {
    s.autoClipping = false;
    s.blackClip = s.whiteClip = 0;
    s.blackClipResult = s.whiteClipResult = 0;
    s.blackLevel = 0;
    s.whiteLevel = 1;
}

void applyDefaultClip(toneMappingParameters_t& s) {
    s.autoClipping = true;
    s.blackClip = kDefaultBlackClip;
    s.whiteClip = kDefaultWhiteClip;
}

double histogramLuminance(const rgbDouble_t& c) {
    return 0.3086 * c.r + 0.6094 * c.g + 0.082 * c.b;
}

double levelOfShownColor(const rgbDouble_t& shown, double blackLevel, double whiteLevel) {
    const double l = std::clamp(sane(histogramLuminance(shown), 0.0), 0.0, 1.0);
    return std::clamp(blackLevel + l * (whiteLevel - blackLevel), 0.0, 1.0);
}

double levelOfRadianceColor(toneMappingSettings_t& s, const rgbDouble_t& radiance, double hdrMean,
                            double lcCorrection) {
    if (!s.tables.allocated()) return -1;
    const float pixel[3] = {float(std::max(sane(radiance.r, 0.0), 0.0)),
                            float(std::max(sane(radiance.g, 0.0), 0.0)),
                            float(std::max(sane(radiance.b, 0.0), 0.0))};
    toneMapSource_t source;
    source.width = source.height = 1;
    source.hdr = pixel;
    source.hdrMean = hdrMean;
    source.lcCorrection = lcCorrection;
    // The levels are what is being chosen: run the chain without them.
    const double black = s.blackLevel, white = s.whiteLevel;
    s.blackLevel = 0;
    s.whiteLevel = 1;
    uint16_t out[3] = {0, 0, 0};
    const bool ok = runToneMapping(s, source, out, nullptr, false);
    s.blackLevel = black;
    s.whiteLevel = white;
    if (!ok) return -1;
    const rgbDouble_t mapped{out[0] / 32639.0, out[1] / 32639.0, out[2] / 32639.0, 0};
    return std::clamp(histogramLuminance(mapped), 0.0, 1.0);
}

} // namespace halvora
