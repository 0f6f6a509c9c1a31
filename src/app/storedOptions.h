#pragma once
// The option records of the dialogs and runs, filled from and remembered in the program options
// (SavingResult/*, GenerateHDR/*, EnhanceLDR/*, LoadHDR/*, ExternalEditor/*) and the command line.
// Main thread.

#include "color/profileChoice.h"
#include "hdr/genHDR_options.h"
#include "imageio/hdrLoadOptions.h"
#include "imageio/rawLoadOptions.h"
#include "imageio/saveResultOptions.h"

class programOptionsSettings;
struct commandLineOptions;

namespace halvora {

/// The ColorManagement/* options a project's colour management starts with.
colorManagementOptions_t colorManagementOptionsFromSettings(const programOptionsSettings& settings);
/// Stores what a colour set-up asked for: the monitor choice back to sRGB, the custom monitor file cleared.
void storeColorSetupCorrections(bool resetMonitorChoice, bool clearCustomMonitorProfile,
                                programOptionsSettings& settings);

/// The stored options (GenerateHDR/*, or EnhanceLDR/* noise options for one photo), normalised.
genHDR_options genHDRoptionsFromSettings(const programOptionsSettings& settings, bool ldrEnhancement);
/// The automatic run's choices: alignment, ghost removal (automatic mode) and noise filter from the
/// command line, "True HDR" with "Balanced" selectivity, repair forced on.
genHDR_options genHDRoptionsForAutomaticRun(const commandLineOptions& options, bool ldrEnhancement);
/// Remembers the choices in the settings (the caller writes the store). An automatic run leaves the
/// stored options alone: returns false and changes nothing.
bool storeGenHDRoptions(const genHDR_options& chosen, programOptionsSettings& settings, bool automaticRun);

/// The stored LoadHDR/* options and Processing/PanoramaMode, normalised.
hdrLoadOptions hdrLoadOptionsFromSettings(const programOptionsSettings& settings);
/// Stores colour space and noise filtering as the LoadHDR/* options (the dialog's accepted choice).
void storeHdrLoadOptions(const hdrLoadOptions& chosen, programOptionsSettings& settings);
/// An automatic run (--auto): noise filtering and panorama mode from the command line, the colour
/// space (which the command line cannot name) from the stored options.
hdrLoadOptions hdrLoadOptionsFromCommandLine(const commandLineOptions& commandLine,
                                             const programOptionsSettings& settings);
/// The record of a preparation that shows no dialog: from the command line with --auto, else stored.
hdrLoadOptions hdrLoadOptionsForUnattendedRun(const commandLineOptions& commandLine,
                                              const programOptionsSettings& settings);

/// The stored LoadRAW/* options: colour space (stored 1 … 4, the list's entry + 1), highlight recovery,
/// noise filtering with its wavelet threshold and median passes, "Interpolate RGGB as 4 colors" and
/// "Use the same settings for the remaining RAW images…"; white balance as shot, full size.
rawLoadOptions rawLoadOptionsFromSettings(const programOptionsSettings& settings);
/// Remembers the dialog's accepted choice as the LoadRAW/* options (the caller writes the store).
void storeRawLoadOptions(const rawLoadOptions& chosen, programOptionsSettings& settings);

/// The stored SavingResult/* options, normalised.
saveResultOptions_t saveResultOptionsFromSettings(const programOptionsSettings& settings);
/// Remembers the choices in the SavingResult/* options (the caller writes the store).
void storeSaveResultOptions(const saveResultOptions_t& chosen, programOptionsSettings& settings);
/// Base name for a result made from `inputs` with the interactive or batch suffix of the options.
QString defaultOutputName(const QStringList& inputs, bool batch);
/// Request of "Save and open in external editor": `tempDir` + "/Halvora_export.tif", a TIFF with the
/// ExternalEditor/* options and JPEG quality 100, opening the editor afterwards.
saveResultRequest externalEditorRequest(const QString& tempDir, const programOptionsSettings& settings);

} // namespace halvora
