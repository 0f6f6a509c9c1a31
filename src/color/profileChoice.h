#pragma once
// Which profile files colour management uses, from the program's colour options (handed in by the
// application, which owns the options store) and the folder of the shipped profiles. Pure functions
// of their arguments apart from asking whether files exist; any thread.

#include "color/standardProfiles.h"

#include <QString>

namespace halvora {

/// The colour-management options of a run, as the options store holds them.
struct colorManagementOptions_t {
    bool enabled = false;  ///< ColorManagement/Enabled
    int inputProfile = 0;  ///< ColorManagement/InputProfile: 0 as embedded, 1 … 4 see workingSpaceOfChoice
    int outputProfile = 1; ///< ColorManagement/OutputProfile: 0 from file, 1 … 4 see monitorSpaceOfChoice
    QString customMonitorProfile;        ///< ColorManagement/CustomMonitorProfile
    int intent = 0;                      ///< ColorManagement/Intent, LittleCMS numbering 0 … 3
    bool blackPointCompensation = false; ///< ColorManagement/BpCompensation
};

/// Rendering intents in LittleCMS numbering.
enum renderingIntent { intentPerceptual = 0, intentRelative = 1, intentSaturation = 2, intentAbsolute = 3 };
/// The intent of an option value; anything outside 0 … 3 is perceptual.
int renderingIntentOf(int option);

/// "<profileDir>/<file name>" of a shipped profile.
QString shippedProfilePath(const QString& profileDir, standardSpace space);

/// The shipped space of a photo colour-space index: 1 sRGB, 2 Adobe RGB, 3 Wide Gamut, 4 ProPhoto.
/// The same numbering serves ColorManagement/InputProfile, the radiance load option "Convert to" and
/// (after adding one) the RAW load option. False for any other index (0 is "as embedded").
bool workingSpaceOfChoice(int index, standardSpace& space);
/// The shipped space of a monitor index: 1 sRGB, 2 Adobe RGB, 3 Apple RGB, 4 ColorMatch; false else.
bool monitorSpaceOfChoice(int index, standardSpace& space);

/// The monitor profile to open and what the options must become.
struct monitorChoice_t {
    QString path;
    /// The choice could not be honoured (a missing custom file, an unknown index): sRGB is used and
    /// ColorManagement/OutputProfile is to be stored as 1.
    bool choiceReset = false;
};
/// Choice 0 takes the custom file when it exists; 1 … 4 the shipped files; anything else sRGB.
monitorChoice_t chooseMonitorProfile(const colorManagementOptions_t& options, const QString& profileDir);

/// The profile a photo's pixels are taken to be in, for a photo colour-space choice: 0 the photo's
/// profile copy when that file exists (else sRGB), 1 … 4 the shipped file whatever the photo
/// embeds, anything else sRGB.
QString choosePhotoProfile(int inputChoice, const QString& photoProfileCopy, const QString& profileDir);

} // namespace halvora
