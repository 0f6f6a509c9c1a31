#pragma once
// Exposure values of the photos: the EV from exposure time, F-number and ISO, the EV sources the
// photo list offers (EXIF, EXIF AEB bias, even steps, typed values), the choice made after loading
// and the checks made when the HDR dialog opens. The processingProject members computeEV(),
// normalizeEV(), checkAEBconsistency() and checkEVminDiff() are defined in exposureValues.cpp.
//
// Everything here runs on the main thread while no worker uses the project.

#include <QString>
#include <QStringList>
#include <vector>

class processingProject;

namespace halvora {

/// EV (log2 of collected light) from exposure time t, F-number n and ISO s; `valid` is false (and the
/// result 0) when all three are 0. Unknown (0, negative or not finite) values take t = 1, n = 1, s = 100.
double evFromExposure(double t, double n, double s, bool& valid);

/// The 17 entries of the EV-step combo: "-", "0.33", "0.5", "0.67", "1", … "4".
QStringList evStepEntries();
/// Step of combo entry `index` (0 for "-" and for an index outside the list).
double evStepValue(int index);

/// Every photo's ev = exifEV ("EXIF" button). False (nothing changed) without photos or for a radiance input.
bool setEVsFromExif(processingProject& project);
/// Every photo's ev = aebEV ("EXIF (AEB EV)" button).
bool setEVsFromAEB(processingProject& project);
/// Even steps from combo entry `index`: ev = step × (n / 2 − brightnessRank). False for "-".
bool setEVsEvenSteps(processingProject& project, int index);
/// Typed values, one per photo in project order ("EV" spin boxes). False when the count differs.
bool setEVsManual(processingProject& project, const std::vector<double>& values);

/// Where the EVs came from after loading, for the photo list's controls.
struct evChoice {
    enum source { fromExif, fromAEB, evenSteps, none };
    source chosen = none;
    int comboIndex = 0; ///< EV-step combo entry to show
    QString warning;    ///< non-empty: report to the user (warning colour)
};
/// Runs computeEV() and then takes EXIF, else AEB, else even steps (entry 8 for up to 3 photos,
/// entry 4 otherwise, with the "No complete EXIF data" warning).
evChoice chooseEVsAfterLoading(processingProject& project);

/// Checks made when the HDR dialog opens. `exifChecked` is the state of the "EXIF" button; when
/// the AEB check fails while it is checked, the EVs are switched to AEB (switchedToAEB) and a
/// message is added. Returns the warnings in order (none when all is well).
QStringList evChecksBeforeGeneration(processingProject& project, bool exifChecked, bool& switchedToAEB);

} // namespace halvora
