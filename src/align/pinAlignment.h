#pragma once
// Manual alignment: the transform of a photo from pins the user placed on the base photo (p) and on
// the photo to align (q), for each alignment model, and the quality score of a four-pin layout.
//
// Pure functions; the manual-alignment dialog calls them on the main thread, the apply step on the
// alignment worker's thread.

#include "align/alignTransform.h"

#include <QString>

namespace halvora {

/// Pins each model uses: "Shift" pin 1, the rotation models pins 1 and 2, perspective all four.
int pinsUsedBy(int model);

/// The transform mapping base positions to photo positions through the pins. "Shift": the
/// difference of pin 1; rotation models: the rotation between the pin-1-to-pin-2 vectors with the
/// mean remaining shift; perspective: the exact map through the four pin pairs. Logs "AI %d\n" and
/// "ai[%d]=%lf\n" for the eight coefficients (with `photoIndex`). False, with the reason in *error,
/// for an unknown model, pins that are not finite, coinciding rotation pins, or perspective pins
/// three of which lie on a line or two of which coincide.
bool transformFromPins(int model, const alignPoint base[4], const alignPoint photo[4], int photoIndex,
                       alignTransform& out, QString* error);

/// Score 0 … 100 of one side's four pins on a w × h photo: 0 unless they lie around the crossing
/// of their diagonals (pins 1–3 and 2–4), else the nearest pin's distance from that crossing
/// relative to the picture diagonal, ⌊d ÷ ⌊√(w² + h²)⌋ × 200⌋, at most 100.
int pinLayoutScore(const alignPoint pins[4], int width, int height);

/// The score shown for a photo pair ("<b>%1 / 100</b>"): 0 unless the model is perspective, else the
/// smaller of the two sides' layout scores.
int pinQualityScore(int model, const alignPoint base[4], const alignPoint photo[4], int width, int height);

} // namespace halvora
