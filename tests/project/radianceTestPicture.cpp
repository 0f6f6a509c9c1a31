#include "radianceTestPicture.h"

#include "hdr/hdrPreprocess.h"
#include "imageio/imageLoader.h"
#include "tonemap/localContrast.h"
#include "tonemap/maskPlane.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace halvora::test {

bool readRgbe(const QString& path, radiancePicture& picture) {
    int w = 0, h = 0;
    double primaries[8];
    bool primariesPresent = false;
    if (!getRGBEinfo(path, w, h, primaries, primariesPresent, nullptr)) return false;
    picture.width = w;
    picture.height = h;
    picture.rgb.assign(size_t(w) * h * 3, 0.0f);
    float maximum = 0, minimum = 0;
    return imageLoader::loadRadianceRGBE(path, w, h, picture.rgb.data(), maximum, minimum, nullptr);
}

void hdrPreprocess(radiancePicture& picture) {
    double lo = 0, hi = 0;
    radianceRange(picture.rgb.data(), picture.rgb.size() / 3, lo, hi);
    const hdrStatistics s = applyGammaHDR(picture.rgb.data(), picture.rgb.size() / 3, 0, lo, hi);
    picture.lcCorrection = s.lcCorrection;
    picture.hdrMean = s.hdrMean;
}

bool preparePlanes(const radiancePicture& picture, bool panorama, preparedPlanes& planes) {
    const int w = picture.width, h = picture.height;
    const size_t n = size_t(w) * h;
    planes.fine.assign(n, 0);
    planes.medium.assign(n, 0);
    planes.coarse.assign(n, 0);
    planes.mask.assign(n, 0);
    std::vector<uint16_t> prepared(n), samples(size_t((w + 1) / 2) * ((h + 1) / 2));
    if (!computeMaskPlane(picture.rgb.data(), w, h, planes.mask.data(), prepared.data())) return false;
    if (!runLocalContrastPrepare(picture.rgb.data(), w, h, picture.lcCorrection, prepared.data()))
        return false;
    const localContrastWindows_t k = localContrastWindowSizes(w, h);
    return runLocalContrast(prepared.data(), w, h, k.medium, panorama, false, samples.data(),
                            planes.medium.data()) &&
           runLocalContrast(prepared.data(), w, h, k.fine, panorama, true, samples.data(),
                            planes.fine.data()) &&
           runLocalContrast(prepared.data(), w, h, k.coarse, panorama, false, samples.data(),
                            planes.coarse.data());
}

radiancePicture downscale(const radiancePicture& picture, int factor) {
    radiancePicture out;
    out.width = picture.width / factor;
    out.height = picture.height / factor;
    out.hdrMean = picture.hdrMean;
    out.lcCorrection = picture.lcCorrection;
    out.rgb.assign(size_t(out.width) * out.height * 3, 0.0f);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (int dy = 0; dy < factor; ++dy)
                    for (int dx = 0; dx < factor; ++dx)
                        sum +=
                            picture
                                .rgb[((size_t(y) * factor + dy) * picture.width + size_t(x) * factor + dx) *
                                         3 +
                                     c];
                out.rgb[(size_t(y) * out.width + x) * 3 + c] = float(sum / (factor * factor));
            }
    return out;
}

} // namespace halvora::test
