#pragma once
// Corner detection for automatic alignment: the FAST-9 segment test (a pixel is a corner at
// threshold b when 9 contiguous pixels of the 16-pixel circle of radius 3 around it are all brighter
// than centre + b or all darker than centre − b), its score (the largest b at which the pixel is
// still a corner) and 3 × 3 non-maximum suppression. The reference photo's corners are found chunk by
// chunk on a reduced level, each chunk lowering its threshold until it has enough corners.
//
// Called on the alignment worker's thread; loops are split with halvora::parallelFor. Planes are
// borrowed.

#include "align/alignSizes.h"
#include "base/pyramid.h"

#include <QString>
#include <cstdint>
#include <vector>

namespace halvora {

/// A corner position in full-size picture coordinates.
struct alignCorner {
    int32_t x = 0, y = 0;
};

/// Highest threshold the chunks start at, the step and the floor of the descent.
inline constexpr int kCornerStartThreshold = 140;
inline constexpr int kCornerThresholdStep = 5;
inline constexpr int kCornerMinThreshold = 15;
/// A chunk stops lowering its threshold once it has more corners than this.
inline constexpr int kCornersPerChunk = 20;
/// Fewer corners in the reference than this and alignment fails.
inline constexpr int kMinCorners = 12;

/// FAST-9 score of every pixel of a w × h plane (row stride `stride`): the largest threshold
/// (from `minThreshold` up to 254) at which the pixel is a corner, and 0 where it is no corner even
/// at `minThreshold` or lies within 3 pixels of the edge. Returns w × h bytes.
std::vector<uint8_t> fastScores(const uint8_t* plane, int width, int height, int stride, int minThreshold);

/// The corners of a w × h plane at `threshold` after non-maximum suppression, in raster order, in
/// the plane's own coordinates: a corner survives when no neighbouring corner scores higher and
/// no earlier (raster-order) neighbour scores the same.
std::vector<alignCorner> fastCorners(const uint8_t* plane, int width, int height, int stride, int threshold);

/// The reference photo's corners, in full-size coordinates, found on the detection level of its
/// grey pyramid chunk by chunk with the threshold descent 140, 135, …, 15. Logs the chunk grid
/// ("%dx%d: Nx=%d, Ny=%d\n") and every chunk ("Chunk_%dx%d: n=%d, threshold=%d\n"). Fewer than 12
/// corners log "  base corners < 12\n" and fail with the reason in *error.
bool detectReferenceCorners(const pyramid& grey, const alignSizes& sizes, std::vector<alignCorner>& corners,
                            QString* error);

} // namespace halvora
