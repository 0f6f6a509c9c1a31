#pragma once
// Which derived tables a parameter change rebuilds. Every control change and every settings load
// goes through here, so the tables always match the parameters; parameters not listed are read by
// the per-pixel function directly. Called on the thread that owns the record, never during a pass.

#include "tonemap/toneMappingSettings.h"

namespace halvora {

enum class toneMappingChange {
    gamma,                 ///< all three output tables
    maskStrength,          ///< the local tone-mapping table
    localContrastStrength, ///< the local tone-mapping table (rebuilt only if its strength changed)
    masterCurve,           ///< the master curve table and all three output tables
    redCurve,              ///< that channel's curve table and output table
    greenCurve,
    blueCurve,
    allCurvesReset,      ///< all four curve tables and all three output tables
    whiteBalance,        ///< the white-balance gains (Temperature, Tint)
    hueSelective,        ///< the hue-selective saturation table
    brightnessSelective, ///< the brightness-selective saturation table
    everything,          ///< after a settings load or preset copy: every table
};

/// Rebuilds the tables that `change` affects. Does nothing while the tables are not allocated.
void rebuildToneMappingTables(toneMappingSettings_t& settings, toneMappingChange change);

} // namespace halvora
