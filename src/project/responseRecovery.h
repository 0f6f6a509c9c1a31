#pragma once
// The project's side of response recovery and of the merge tables: the tables the project keeps
// (standard curve, "Balanced" weight table, closeness tables) and the recovery of its camera curve
// from the included photos' previews. HDR worker thread.

class processingProject;
struct photoEntry;

namespace halvora {

/// Fills project.standardCurve (32640 entries, standard polynomial at x / 32640) when still empty.
void ensureStandardCurve(processingProject& project);
/// Fills the project's closeness tables (bright end b, dark end k) when still empty.
void ensureClosenessTables(processingProject& project);
/// Fills the project's weight table ("Balanced", no cut) when still empty.
void ensureProjectWeightTable(processingProject& project);

/// True when the photo's EV is its own exposure data (EXIF time, aperture and ISO): such an EV gets
/// no content-based exposure correction.
bool exifEVtrusted(const processingProject& project, const photoEntry& photo);

/// Recovers project.responseCurve and every photo's exposureCorrection (for photos whose EV is not
/// trusted exposure data) and sets responseCurveValid;
/// does nothing while the curve is valid. Falls back to the standard curve (valid flag left clear)
/// when fewer than two photos can be used. False only when the project cannot take part at all
/// (previews missing); the standard curve is then in place.
bool recoverResponseCurve(processingProject& project);

} // namespace halvora
