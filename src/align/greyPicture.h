#pragma once
// The exposure-equalised grey picture automatic alignment works on: every photo is mapped through
// the standard camera curve to the reference photo's exposure (with a correction near black and
// white), taken to a square-root byte scale, brightened when its middle grey is below 128, and
// reduced into a pyramid of 8-bit levels. No sample is 0 (the matching treats 0 as nothing).
//
// Called on the alignment worker's thread; the pixel loops are split with halvora::parallelFor.
// The photo and the tables are borrowed; the pyramid belongs to the caller.

#include "base/pyramid.h"
#include "base/rgbBuffers.h"

#include <QString>
#include <cstdint>
#include <vector>

namespace halvora {

/// What the equalisation of one photo needs: exposures in natural-log form relative to the project's
/// reference, and three tables of 32640 float64 indexed by a working sample.
struct greyCalibration_t {
    int photoIndex = 0;                      ///< for the "middle[%d]" log line
    double lnExposure = 0;                   ///< the photo's `lnExposure`
    double lnExposureReference = 0;          ///< `lnExposure` of the photo everything is aligned to
    double lnEvMin = 0, lnEvMax = 0;         ///< ln 2 × `evMin`, ln 2 × `evMax`
    const double* standardCurve = nullptr;   ///< `standardCurve`
    const double* closenessBright = nullptr; ///< bright-end closeness table (1 near white)
    const double* closenessDark = nullptr;   ///< dark-end closeness table (1 near black)
};

/// First grey values at which the running histogram count exceeds 0.95, 1.0 and 1.05 times half
/// the pixel count; their mean (truncated) is the picture's middle grey.
struct greyMiddle {
    int a = 0, b = 0, c = 0;
    int mid() const { return (a + b + c) / 3; }
};

/// The byte every working sample k (0 … 32639, the channel mean) becomes before the brightness
/// normalisation; 32640 entries, none 0. Empty when a table is missing or the curve's top is not
/// positive.
std::vector<uint8_t> greyLevelTable(const greyCalibration_t& calibration);

/// The middle grey of a 256-bin histogram over `pixels` pixels.
greyMiddle greyMiddleOf(const uint64_t histogram[256], uint64_t pixels);

/// Builds the grey pyramid of `photo` (alignSizesFor(w, h).levels levels) into `grey`. Logs
/// "middle[%d]=%d,%d,%d\n". Adds the photo's height to the run's progress. False when the photo is
/// empty, a table is missing or memory is short (with the reason in *error), or when the run was
/// cancelled (error left empty).
bool getCalibratedImage(const rgb16Buffer& photo, const greyCalibration_t& calibration, pyramid& grey,
                        QString* error);

/// Recomputes levels 1 … n − 1 of a one-byte pyramid from level 0: each sample is the rounded mean
/// of the 2 × 2 block below it (columns 2x, 2x + 1, rows 2y, 2y + 1), so level k sample (x, y)
/// is centred on full-size position 2^k (x + ½) − ½.
void buildGreyLevels(pyramid& grey);

} // namespace halvora
