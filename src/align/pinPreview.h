#pragma once
// The preview of manual alignment: the photo to align resampled by the transform the pins give,
// shown alone ("Result"), blended half and half with the base photo ("Average") or as the absolute
// difference of the two ("Difference"), where a good alignment turns dark.
//
// The dialog renders at preview size while the pins and the transform are in full-size picture
// coordinates; scaledTransform carries a transform over. Main thread (the dialog); rows are split
// with halvora::parallelFor and the output does not depend on the thread count.

#include "align/alignTransform.h"
#include "base/rgbBuffers.h"

#include <QString>

namespace halvora {

/// `pinPreviewMode`: the three choices of "Preview".
enum pinPreviewMode : int { previewAverage = 0, previewDifference = 1, previewResult = 2 };

/// The transform `t` (full-size coordinates) for pictures shrunk by (sx, sy) = full ÷ small along x
/// and y: maps small base positions to small photo positions exactly as `t` maps the full ones.
alignTransform scaledTransform(const alignTransform& t, double sx, double sy);

/// Renders `mode` from `base` and `photo` (same size) with `transform` as `model` uses it into `out`
/// (resized to that size when needed). Parts of the photo that fall outside its frame are black.
/// False with the reason in *error for pictures of different or empty sizes, an unknown mode, a
/// transform that is not finite, or short of memory.
bool renderPinPreview(const rgb16Buffer& base, const rgb16Buffer& photo, const alignTransform& transform,
                      int model, int mode, rgb16Buffer& out, QString* error);

} // namespace halvora
