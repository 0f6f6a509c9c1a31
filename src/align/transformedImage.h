#pragma once
// Applying alignment to the pixels: the crop rectangle common to all aligned photos, and the
// resampling of one photo into the reference frame.
//
// A photo covers the positions −½ … W − ½ across and −½ … H − ½ down (pixel centres at integers).
// An output pixel whose source position falls outside is black; inside, the four nearest samples
// are blended bilinearly (at the last row and column the sample nearest to the edge is repeated).
//
// Called on the alignment worker's thread; rows are split with halvora::parallelFor and the output
// does not depend on the thread count. Photos are borrowed, the output belongs to the caller.

#include "align/alignTransform.h"
#include "base/rgbBuffers.h"

#include <QString>
#include <vector>

namespace halvora {

/// A rectangle of the reference frame; right and bottom are exclusive.
struct alignCropRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

/// The largest axis-aligned rectangle of the w × h reference frame whose every pixel lies inside
/// every photo once mapped by its transform (as `model` uses it); ties go to the topmost, then
/// leftmost. Logs "Size after align: sx=%d, sy=%d  (%d, %d); (%d, %d)\n" (size, left-top and
/// exclusive right-bottom). False, with the reason in *error, when no pixel is covered by all photos.
bool autoCropRect(int width, int height, const std::vector<alignTransform>& transforms, int model,
                  alignCropRect& rect, QString* error);

/// Resamples `photo` into the reference frame by `transform` (as `model` uses it) and cuts out
/// `crop`, which must lie inside the photo's frame: `out` becomes crop.width() × crop.height() (its
/// block is used again when it already has that size). The identity is an exact copy. Adds the output height
/// to the run's progress. False with the reason in *error for an empty photo, a crop outside the frame or a
/// transform that is not finite, or short of memory; false with *error untouched when the run was cancelled.
bool getTransformedImage(const rgb16Buffer& photo, const alignTransform& transform, int model,
                         const alignCropRect& crop, rgb16Buffer& out, QString* error);

} // namespace halvora
