#pragma once
// Automatic alignment of a bracket, and applying transforms to its photos. An alignment worker
// makes these calls, in this order; everything else it does is reading and writing the project's
// stores (the photos' temporary files, the unaligned copies kept for undo, the reduced previews):
//
//   1. autoAlign(request, result, &error) — automatic alignment only: reads every photo it needs
//      through request.readPhoto (one at a time, so one full-size buffer serves them all), makes their
//      grey pyramids, finds the reference corners, matches them in every photo to align and estimates
//      each photo's transform (and its best pin set, for the manual-alignment dialog's automatic pins).
//      Manual alignment makes its transforms with transformFromPins (pinAlignment.h) instead.
//   2. applyAlignmentCrop(apply, crop, &error) with the transforms: the rectangle every photo will be
//      cut to (the whole picture without automatic cropping).
//   3. startProgress(applyAlignmentProgressUnits(apply, crop)), then applyAlignment(apply, crop,
//      &error): for every photo reads it, resamples it into the reference frame and hands the aligned
//      picture to apply.writePhoto. The project's size becomes the crop's.
//
// All run on the alignment worker's thread with the run's context bound (cancel, progress, thread
// count); their pixel loops are split with halvora::parallelFor, and the results do not depend on
// the number of threads. The callbacks are called on that thread too.

#include "align/alignTransform.h"
#include "align/findTransform.h"
#include "align/transformedImage.h"
#include "base/rgbBuffers.h"

#include <QString>
#include <functional>
#include <vector>

namespace halvora {

/// Photo `index` at full size (the request's width × height), borrowed until the next call: the
/// worker reads it from the project's store into a buffer of its own. Null with the reason in *error.
using alignReadPhoto = std::function<const rgb16Buffer*(int index, QString* error)>;
/// Takes the aligned picture of photo `index` (it may keep its pixels); false with the reason in *error.
using alignWritePhoto = std::function<bool(int index, rgb16Buffer& aligned, QString* error)>;

struct autoAlignRequest {
    int width = 0, height = 0;      ///< size of every photo
    int reference = 0;              ///< photo everything is aligned to (`midId` by default)
    int toAlign = -1;               ///< the one photo to align, or −1 for all others
    std::vector<double> lnExposure; ///< every photo's `lnExposure`; its size is the photo count
    double lnEvMin = 0, lnEvMax = 0;
    const double* standardCurve = nullptr;   ///< 32640 entries
    const double* closenessBright = nullptr; ///< 32640 entries
    const double* closenessDark = nullptr;   ///< 32640 entries
    std::vector<QString> names;              ///< file names for messages (optional)
    alignReadPhoto readPhoto;
};

struct autoAlignResult {
    std::vector<alignTransform> transforms; ///< one per photo; identity where not aligned
    std::vector<alignPinSet> pins;          ///< the best pin set per photo (automatic pins)
    std::vector<bool> pinsFound;
    std::vector<bool> aligned; ///< the photo's estimation succeeded
};

/// Progress units autoAlign adds: the height of every photo it reads, and kPinSets per photo it aligns.
uint64_t autoAlignProgressUnits(const autoAlignRequest& request);

/// Steps init and 1 to 4 of automatic alignment, with their log lines. Every photo's estimation
/// must succeed for true; a photo that fails keeps the identity and the first failure's reason
/// (with the photo's name) goes to *error. False with *error untouched when the run was cancelled.
bool autoAlign(const autoAlignRequest& request, autoAlignResult& result, QString* error);

struct applyAlignmentRequest {
    int width = 0, height = 0;
    std::vector<alignTransform> transforms; ///< one per photo (identity for the reference)
    int model = alignPerspective;           ///< `alignmentModel`
    bool autoCrop = true;
    std::vector<QString> names; ///< file names for messages (optional)
    alignReadPhoto readPhoto;
    alignWritePhoto writePhoto;
};

/// Logs "- align: apply...\n" and sets `crop`: the whole picture, or with automatic cropping the
/// largest rectangle every transformed photo covers (autoCropRect). False, with the reason in *error,
/// for a request without size or callbacks, or photos with no area in common.
bool applyAlignmentCrop(const applyAlignmentRequest& request, alignCropRect& crop, QString* error);

/// Progress units applyAlignment adds: the crop's height for every photo.
uint64_t applyAlignmentProgressUnits(const applyAlignmentRequest& request, const alignCropRect& crop);

/// Resamples every photo into `crop` (from applyAlignmentCrop) and hands it to the writer. False,
/// with the reason in *error, when a read, resample or write fails; false with *error untouched when
/// cancelled.
bool applyAlignment(const applyAlignmentRequest& request, const alignCropRect& crop, QString* error);

} // namespace halvora
