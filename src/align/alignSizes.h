#pragma once
// The sizes automatic alignment derives from the picture size W × H (integer arithmetic).
// Pure; any thread.

namespace halvora {

struct alignSizes {
    int levels = 1;               ///< L: grey pyramid levels 0 … L − 1
    int tileRadius = 12;          ///< R: a tile holds (2R + 1)² samples
    int detectionLevel = 0;       ///< pyramid level the corners are detected on
    int matchStartLevel = 0;      ///< coarsest level of the tile matching
    int searchRadius = 3;         ///< r: offsets searched at the matching start level
    double inlierTolerance = 0.4; ///< s: pixels a corner may miss its match by and count as inlier
};

/// Sizes for a W × H picture. L is the number of halvings of min(W, H) needed to reach 64 or less
/// (at least 1, at most 16); the matching never starts on a level the pyramid does not have, so a
/// picture whose smaller side is 128 or less matches on level 0 alone.
alignSizes alignSizesFor(int width, int height);

} // namespace halvora
