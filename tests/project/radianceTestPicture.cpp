#include "radianceTestPicture.h"

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
    auto& v = picture.rgb;
    const auto [mnIt, mxIt] = std::minmax_element(v.begin(), v.end());
    const double mn = *mnIt, mx = *mxIt;
    const double range = mx > mn ? mx - mn : 1.0;
    std::vector<uint64_t> histogram(16384, 0);
    const size_t pixels = v.size() / 3;
    for (size_t i = 0; i < pixels; ++i) {
        float* p = &v[i * 3];
        for (int c = 0; c < 3; ++c) {
            double x = (p[c] - mn) / range;
            x = 1.5385 * std::pow(x, 0.6) - 0.5385 * std::pow(x, 1.3);
            p[c] = float(std::clamp(x, 0.0, 1.0));
        }
        const double y = std::min(1.0, 0.3086 * p[0] + 0.6094 * p[1] + 0.082 * p[2]);
        ++histogram[size_t(16383 * y)];
    }
    double hs = 0, he = 1, med = 0;
    bool haveHs = false, haveMed = false;
    uint64_t running = 0;
    for (int j = 0; j < 16384; ++j) {
        running += histogram[size_t(j)];
        const double share = double(running) / double(pixels);
        if (!haveHs && share >= 0.1) {
            hs = j / 16384.0;
            haveHs = true;
        }
        if (!haveMed && share >= 0.5) {
            med = j / 16384.0;
            haveMed = true;
        }
        if (share <= 0.9) he = j / 16384.0;
    }
    double g = 1.0;
    for (;;) {
        const double hs2 = std::pow(hs, g), he2 = std::pow(he, g);
        g -= 0.01;
        if (he2 >= 0.2 || hs2 >= 0.04 || g <= 0.5) break;
    }
    picture.lcCorrection = std::min(g, 1.0) + 0.01;
    picture.hdrMean = med + 0.001;
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
