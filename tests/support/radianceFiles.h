#pragma once
// Reading a radiance file (.hdr or .exr) the way the loading step does: the information call, then a
// buffer of the reported size for the load call. Header-only, for the test programs that link the
// image I/O layer.

#include "imageio/imageLoader.h"

#include <QString>
#include <cstdint>
#include <vector>

namespace halvora::test {

struct radianceFile {
    bool infoOk = false, loadOk = false;
    int width = 0, height = 0;
    double primaries[8] = {};
    bool hasPrimaries = false;
    std::vector<float> pixels; ///< RGB rows, then the `guard` samples (-7) that no reader may touch
    float minimum = 0, maximum = 0;
    QString error; ///< the reason of a refusal
};

/// Reads `path` with the reader its suffix names; a picture above `maxPixels` is not loaded.
inline radianceFile loadRadianceFile(const QString& path, size_t guard = 0,
                                     int64_t maxPixels = int64_t(1) << 28) {
    radianceFile f;
    const bool exr = path.endsWith(".exr", Qt::CaseInsensitive);
    f.infoOk = exr ? getEXRinfo(path, f.width, f.height, &f.error)
                   : getRGBEinfo(path, f.width, f.height, f.primaries, f.hasPrimaries, &f.error);
    if (!f.infoOk || int64_t(f.width) * f.height > maxPixels) return f;
    f.pixels.assign(size_t(f.width) * size_t(f.height) * 3 + guard, -7.0f);
    f.loadOk = exr ? loadEXR(path, f.width, f.height, f.pixels.data(), f.minimum, f.maximum, &f.error)
                   : imageLoader::loadRadianceRGBE(path, f.width, f.height, f.pixels.data(), f.maximum,
                                                   f.minimum, &f.error);
    return f;
}

} // namespace halvora::test
