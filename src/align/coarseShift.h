#pragma once
// The coarse position of a photo against the reference, found on the grey pyramids before any
// corner is matched: first a whole-picture shift from the coarsest level down, then the shifts of a
// 3 × 3 grid of regions, whose agreement gives an affine guide. The guide tells the tile matching
// where each corner should be, so only small local errors are left to search even when the camera
// also turned by a few degrees.
//
// Called on the alignment worker's thread; rows are split with halvora::parallelFor. The pyramids are
// borrowed.

#include "align/alignTransform.h"
#include "base/pyramid.h"

#include <cstdint>

namespace halvora {

/// A whole-pixel displacement.
struct alignOffset {
    int32_t x = 0, y = 0;
};

/// Offsets searched around the doubled estimate below the coarsest level.
inline constexpr int kFineSearchRadius = 1;

/// Offsets searched around zero on a coarsest level of w × h: 8, or a quarter of its shorter side
/// when that is more, so shifts up to about a quarter of the picture are found.
int coarseSearchRadius(int width, int height);

/// The shift o for which the photo shows reference position c at about c − o, in full-size pixels.
/// The estimate runs from the coarsest common level down to level 1 (level 0 for a one-level
/// pyramid); the cost of a candidate is the sum of squared grey differences over the overlap,
/// leaving out pixels where only the photo is brighter than 245, divided by 1 + the pixels counted.
/// Logs "%d: ox=%d, oy=%d\n" with `photoIndex`.
alignOffset coarseShift(const pyramid& reference, const pyramid& photo, int photoIndex);

/// The affine map of reference positions to photo positions that the shifts of a 3 × 3 grid of
/// regions agree on, searched around `shift` (of coarseShift) from a level about 100 pixels high down
/// to level 2. Regions that disagree with the rest (no structure, a moving subject) are left out;
/// with fewer than four agreeing regions, or a map that is no near-rigid motion, the guide is the
/// shift itself (x − o).
alignTransform coarseGuide(const pyramid& reference, const pyramid& photo, alignOffset shift);

} // namespace halvora
