#pragma once
// Test helper: a radiance picture read with the program's RGBE reader and put through the program's HDR
// preprocess (True HDR variant) into the normalised 0 … 1 picture with hdrMean and lcCorrection, as the
// program prepares a radiance file for tone mapping. Only for the tone-mapping tests and renders.

#include <QString>
#include <cstdint>
#include <vector>

namespace halvora::test {

struct radiancePicture {
    int width = 0;
    int height = 0;
    std::vector<float> rgb; ///< width × height × 3
    double hdrMean = 0.4;
    double lcCorrection = 1.0;
};

/// Reads a Radiance RGBE file with the program's reader.
bool readRgbe(const QString& path, radiancePicture& picture);

/// Normalises to 0 … 1 with the program's preprocess (True HDR) and computes hdrMean and lcCorrection.
void hdrPreprocess(radiancePicture& picture);

/// The four planes of the tone-mapping preparation (local contrast fine, medium, coarse; mask).
struct preparedPlanes {
    std::vector<uint16_t> fine, medium, coarse, mask;
};

/// Computes the planes with the program's preparation passes.
bool preparePlanes(const radiancePicture& picture, bool panorama, preparedPlanes& planes);

/// Box-downscales by an integer factor (for quick renders).
radiancePicture downscale(const radiancePicture& picture, int factor);

} // namespace halvora::test
