#pragma once
// Pictures and tables for the alignment tests: real photographs decoded into working samples,
// copies of them warped by a known map with a plain double-precision bilinear warp of the tests' own,
// and the camera-curve tables the equalisation is handed.

#include "align/alignTransform.h"
#include "align/autoAlign.h"
#include "base/rgbBuffers.h"

#include <QString>
#include <array>
#include <vector>

namespace aligntest {

/// A 3 × 3 map of reference positions to photo positions (homogeneous coordinates).
using matrix3 = std::array<std::array<double, 3>, 3>;

matrix3 multiply(const matrix3& a, const matrix3& b);
matrix3 inverse(const matrix3& m);
halvora::alignPoint apply(const matrix3& m, double x, double y);

/// Shift (dx, dy), turn by `degrees` about the centre of a w × h frame, and a perspective that
/// changes the scale by `perspective` (a fraction) from the centre to the right edge.
matrix3 cameraMotion(int w, int h, double dx, double dy, double degrees, double perspective);

/// A JPEG or PNG as working samples (8-bit × 128); empty when it cannot be read.
halvora::rgb16Buffer loadPhoto(const QString& path);

/// The reference: `source` without a border of `margin` pixels. The photo: what a camera moved by
/// `motion` (reference → photo positions) would record of the same scene, `ev` stops brighter
/// through the sRGB curve and quantised to 8 bits; every photo pixel comes from inside `source`.
void makeWarpedPair(const halvora::rgb16Buffer& source, int margin, const matrix3& motion, double ev,
                    halvora::rgb16Buffer& reference, halvora::rgb16Buffer& photo);

/// A grey-looking scene of random blobs and edges (deterministic for a seed), w × h.
halvora::rgb16Buffer texturedScene(int w, int h, uint32_t seed);

/// The standard camera curve and the closeness tables of the equalisation (32640 entries each).
struct curveTables {
    std::vector<double> standard, bright, dark;
    curveTables();
};
const curveTables& tables();

/// A request aligning `photos` (all of one size) to photos[reference]; `ev` in stops per photo.
halvora::autoAlignRequest requestFor(const std::vector<const halvora::rgb16Buffer*>& photos, int reference,
                                     const std::vector<double>& ev);

/// Largest distance (pixels) between where two maps put the four corners of a w × h picture.
double cornerError(const halvora::alignTransform& found, const matrix3& truth, int w, int h);

} // namespace aligntest
