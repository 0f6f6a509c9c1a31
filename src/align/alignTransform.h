#pragma once
// The map of one photo onto the reference photo: eight float64 coefficients a0 … a7 taking a
// reference position (x, y) to the photo position
//     X = (a0 x + a1 y + a2) / (a6 x + a7 y + 1),   Y = (a3 x + a4 y + a5) / (a6 x + a7 y + 1).
// How much of it is used depends on the alignment model: "Shift" uses a2 and a5 only, the two
// rotation models the affine part a0 … a5, the perspective model all eight.
//
// Plain values and pure functions; any thread.

#include <cstdint>
#include <vector>

namespace halvora {

/// `alignmentModel`: how much of a transform the resampling uses.
enum alignmentModel : int {
    alignShift = 0,
    alignShiftRotation = 1,
    alignShiftRotationAlt = 2, ///< the same as alignShiftRotation
    alignPerspective = 3,
};

/// A position in picture coordinates (pixel centres at integers).
struct alignPoint {
    double x = 0, y = 0;
};

struct alignTransform {
    double a[8] = {1, 0, 0, 0, 1, 0, 0, 0};

    static alignTransform identity() { return {}; }
    bool isIdentity() const;
    /// All coefficients are finite numbers.
    bool isFinite() const;
    /// The photo position of reference position (x, y) under the full projective map; a point whose
    /// denominator is not positive maps to NaN (it lies beyond the horizon of the map).
    alignPoint map(double x, double y) const;
    /// The coefficients `model` actually uses, as a full projective map: "Shift" keeps a2 and a5
    /// only, the rotation models drop a6 and a7, the perspective model keeps everything.
    alignTransform forModel(int model) const;
};

/// The exact projective map taking reference[i] to photo[i] for the four pairs. False (out left
/// untouched) when no such map exists or it is not unique: three of the points on a line, two
/// coinciding, or a result that is not finite.
bool projectiveFromPoints(const alignPoint reference[4], const alignPoint photo[4], alignTransform& out);

/// Least-squares refinement of `t`: the projective map that brings reference[k] closest to photo[k]
/// over all pairs (sum of squared distances, each times weight[k] when weights are given), found by
/// Gauss–Newton steps starting from `t`. False (t untouched) with fewer than four pairs or when the
/// steps do not settle on a finite map.
bool projectiveLeastSquares(const std::vector<alignPoint>& reference, const std::vector<alignPoint>& photo,
                            alignTransform& t, const std::vector<double>* weight = nullptr);

/// The crossing of the line through pins[0] and pins[2] with the line through pins[1] and pins[3]
/// when each pair lies on both sides of it (the four pins then form a convex quadrilateral with
/// those diagonals). False for parallel lines or a pair that does not straddle the crossing.
bool pinsAroundCrossing(const alignPoint pins[4], alignPoint& crossing);

} // namespace halvora
