#include "tonemap/rebuildOnChange.h"

#include "tonemap/colorAdjustment.h"
#include "tonemap/tableBuilders.h"

namespace halvora {
namespace {

void rebuildOutputTables(toneMappingSettings_t& s) {
    for (int c = 0; c < 3; ++c)
        generateLUT(s, c);
}

// The 16 MiB table depends on the Mask strength alone: rebuild it only when that moved.
void rebuildTmTableIfStale(toneMappingSettings_t& s) {
    if (s.tables.tmTableStrength != s.maskStrength) generateTMtable(s);
}

// White-balance gains and the selective-saturation tables of the colour adjustment.
void rebuildColorTables(toneMappingSettings_t& s, toneMappingChange change) {
    switch (change) {
    case toneMappingChange::whiteBalance:
        updateWbGain(s.tables, s.temperature, s.tint);
        break;
    case toneMappingChange::hueSelective:
        updateHueSelectiveTable(s.tables, s.hueSelective);
        break;
    case toneMappingChange::brightnessSelective:
        updateBrightnessSelectiveTable(s.tables, s.brightnessSelective);
        break;
    default:
        break;
    }
}

} // namespace

void rebuildToneMappingTables(toneMappingSettings_t& s, toneMappingChange change) {
    if (!s.tables.allocated()) return;
    switch (change) {
    case toneMappingChange::gamma:
        rebuildOutputTables(s);
        break;
    case toneMappingChange::maskStrength:
    case toneMappingChange::localContrastStrength:
        rebuildTmTableIfStale(s);
        break;
    case toneMappingChange::masterCurve:
        generateCurveTable(s, 0);
        rebuildOutputTables(s);
        break;
    case toneMappingChange::redCurve:
    case toneMappingChange::greenCurve:
    case toneMappingChange::blueCurve: {
        const int channel = change == toneMappingChange::redCurve     ? 0
                            : change == toneMappingChange::greenCurve ? 1
                                                                      : 2;
        generateCurveTable(s, channel + 1);
        generateLUT(s, channel);
        break;
    }
    case toneMappingChange::allCurvesReset:
        for (int c = 0; c < 4; ++c)
            generateCurveTable(s, c);
        rebuildOutputTables(s);
        break;
    case toneMappingChange::whiteBalance:
    case toneMappingChange::hueSelective:
    case toneMappingChange::brightnessSelective:
        rebuildColorTables(s, change);
        break;
    case toneMappingChange::everything:
        for (int c = 0; c < 4; ++c)
            generateCurveTable(s, c);
        rebuildOutputTables(s);
        rebuildTmTableIfStale(s);
        rebuildColorTables(s, toneMappingChange::whiteBalance);
        rebuildColorTables(s, toneMappingChange::hueSelective);
        rebuildColorTables(s, toneMappingChange::brightnessSelective);
        break;
    }
}

} // namespace halvora
