#pragma once
// Tiles: around every reference corner a patch is cut from the photo (where the coarse guide says
// the corner should be), reduced twice, and matched against the reference from a reduced level down
// to full size. The result per corner is where the photo shows it and whether that can be trusted.
//
// Called on the alignment worker's thread; corner ranges are split with halvora::parallelFor, each
// part writing only its own tiles. Pyramids and corner lists are borrowed.

#include "align/alignSizes.h"
#include "align/coarseShift.h"
#include "align/fastCorners.h"
#include "base/pyramid.h"

#include <cstdint>
#include <vector>

namespace halvora {

/// Row strides of a tile and its two reductions (room for the largest radius, 48).
inline constexpr int kTileStride = 97;
inline constexpr int kTileHalfStride = 49;
inline constexpr int kTileQuarterStride = 25;
/// Pixels a tile keeps from the photo's edges, beyond its radius.
inline constexpr int kTileEdgeMargin = 8;

/// `alignmentTile`: one reference corner's patch of the photo and what matching found for it.
struct alignmentTile {
    uint8_t patch[kTileStride * kTileStride];                 ///< (2R + 1)² samples around the centre
    uint8_t half[kTileHalfStride * kTileHalfStride];          ///< 2 × 2 reduction, (R + 1)² samples
    uint8_t quarter[kTileQuarterStride * kTileQuarterStride]; ///< 4 × 4 reduction, (R/2 + 1)² samples
    double offsetX = 0, offsetY = 0;                          ///< the level-0 offset d found by matching
    bool copied = false; ///< cut as a plain copy, moved by (shiftX, shiftY) from the corner
    int32_t shiftX = 0, shiftY = 0;
    uint8_t usable = 0;

    /// The tile's samples at reduction `level` (0, 1, 2) and their row stride.
    const uint8_t* levelData(int level) const { return level == 0 ? patch : level == 1 ? half : quarter; }
    static int levelStride(int level) {
        return level == 0 ? kTileStride : level == 1 ? kTileHalfStride : kTileQuarterStride;
    }
};

/// What matching found for one corner, without the tile's samples.
struct alignMatch {
    int32_t dx = 0, dy = 0; ///< whole-pixel displacement: the photo shows the corner near corner − (dx, dy)
    double x = 0, y = 0;    ///< where the photo shows the corner, to a fraction of a pixel
    bool usable = false;
};

/// Cuts one tile per corner c from the photo's level 0, its sample (i, j) taken at guide(c + (i, j))
/// for i, j in −R … R (R = sizes.tileRadius, at most 48), bilinear. With `copyTiles`, a guide that
/// turns or stretches the tile by less than half a pixel at its edge gives plain copies instead,
/// centred on the whole pixel nearest to guide(c). A tile is unusable when it and a margin of 8
/// pixels do not fit in the photo or its mean grey is not strictly between 10 and 240.
void extractTiles(const pyramid& photo, const std::vector<alignCorner>& corners, const alignTransform& guide,
                  const alignSizes& sizes, bool copyTiles, std::vector<alignmentTile>& tiles);

/// Marks (0xFF) every sample of the grey pyramid's level 0 that is 255 or next to one: the
/// brightening clipped it, so the correlation of matchTiles leaves it out.
std::vector<uint8_t> clippedMask(const pyramid& grey);

/// Matches every usable tile against the reference from `startLevel` (searching ±`startRadius`)
/// down to level 0 (searching ±2 around twice the previous offset), refines the level-0 offset d to a
/// fraction of a pixel, and returns one match per corner: the photo shows corner c at guide(c − d),
/// or at c + shift − d for a copied tile (whole-pixel displacement c − that position, rounded).
///
/// With `referenceClipped` null the cost is the mean squared difference, and a tile whose best match
/// differs from it by far more than its brightness explains becomes unusable. Given the reference's
/// clippedMask, level 0 is matched by correlation instead, over the samples neither picture has at
/// or next to a clipped one: a difference of brightness or contrast does not pull it aside. A tile
/// then becomes unusable when it correlates below 0.5 or shows only one straight edge. False when
/// the run was cancelled.
bool matchTiles(const pyramid& reference, const std::vector<alignCorner>& corners,
                const alignTransform& guide, const alignSizes& sizes, int startLevel, int startRadius,
                const std::vector<uint8_t>* referenceClipped, std::vector<alignmentTile>& tiles,
                std::vector<alignMatch>& matches);

} // namespace halvora
