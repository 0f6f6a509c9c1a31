#pragma once
// The six RGB colour spaces whose profiles ship with the program, defined by their published
// primaries, white points and transfer curves. tools/makeColorProfiles writes them at build time
// into "color profiles" next to the program under the file names the profile choices use.
// Plain data and pure functions; any thread.

#include "color/chromaticities.h"
#include "color/iccProfile.h"

#include <QString>
#include <vector>

namespace halvora {

/// The shipped profiles.
enum class standardSpace { sRGB, adobeRGB, wideGamutRGB, proPhotoRGB, appleRGB, colorMatchRGB };

struct standardProfile_t {
    standardSpace space;
    const char* fileName; ///< file name in "color profiles"
    const char* name;     ///< colour-space name for the description
    chromaticities_t chromaticities;
    transferCurve_t curve;
};

/// All six, in the order of standardSpace.
const std::vector<standardProfile_t>& standardProfiles();
/// The definition of one shipped space.
const standardProfile_t& standardProfile(standardSpace space);
/// Builds the profile of a shipped space in memory.
iccProfile buildStandardProfile(const standardProfile_t& definition, QString* error);

} // namespace halvora
