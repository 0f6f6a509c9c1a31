#pragma once
// Helpers of the HDR tests: a tiny Radiance RGBE decoder, a synthetic camera that exposes a radiance
// picture through a known monotone response, and a way to put photos straight into a project (as
// the photo loader would leave them: EXIF, preview, thumbnail, slot-0 temporary file).

#include "hdr/responseCurve.h"
#include "project/processingProject.h"
#include "project/projectRun.h"

#include <QString>
#include <memory>
#include <vector>

namespace hdrtest {

struct radianceImage {
    int width = 0, height = 0;
    std::vector<float> rgb;
};

/// Decodes a Radiance RGBE file (flat or new-style run-length scanlines, "-Y h +X w" only).
bool readRgbe(const QString& path, radianceImage& out);
/// A horizontal ramp over 11 stops (2^-7 … 2^4) with a slight row ripple and a warm tint.
radianceImage rampScene(int width, int height);

/// A camera: the sample of irradiance q is g⁻¹(q) × 32640 for the monotone response g, 0 below
/// g(0) and 32640 (clipped) above g(1); rounded to the working scale.
struct syntheticCamera {
    halvora::responsePolynomial g;
    std::vector<double> table; ///< g at x / 32640, x = 0…32640
    explicit syntheticCamera(const halvora::responsePolynomial& response);
    uint16_t expose(double q) const;
};

/// One photo for a project: samples (w × h × 3) and EXIF exposure data.
struct photoData {
    std::vector<uint16_t> pixels;
    float exposureTime = 0, fNumber = 0, exposureBias = 0;
    int iso = 0;
    bool included = true;
};

/// Decodes a photograph (reduced `reduce` times while decoding, not turned) into working samples;
/// w and h receive its size. False when it cannot be read.
bool decodePhoto(const QString& path, int reduce, photoData& out, int& w, int& h);

/// A fresh project in its own temporary directory.
std::unique_ptr<processingProject> makeProject();

/// Sizes the project to w × h and adds the photos (preview by the divisor, thumbnail, mean
/// brightness, slot-0 temporary file). False when a step fails.
bool addPhotos(processingProject& project, int w, int h, const std::vector<photoData>& photos);

/// Exposes `scene` (linear RGB) at relative exposures 2^ev for each ev, through `camera`; `scale`
/// maps scene radiance to irradiance at ev = 0. Exposure time 1/60 s × 2^ev, f/8, ISO 100.
std::vector<photoData> exposeBracket(const radianceImage& scene, const syntheticCamera& camera, double scale,
                                     const std::vector<double>& evs);

/// A grid candidate of the recovery's search (offsets o1…o4 in −5…4) built independently.
halvora::responsePolynomial gridCandidate(int o1, int o2, int o3, int o4);

/// Serves events until `run` ends (at most two minutes); false when it is still running then.
bool waitForRun(projectRun& run);

} // namespace hdrtest
