// libFuzzer target: the RAW converter's open, identify, unpack and decode path on bytes in memory,
// as photo preparation and loading use it (information with the half size, the embedded preview,
// then a half-size 8-bit decode into a buffer of the announced size, and the grey pick's sensor
// measurement at the picture's middle).

#include "base/parallelFor.h"
#include "imageio/rawConverter.h"
#include "imageio/rawLoadOptions.h"

#include <QImage>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool once = [] {
        halvora::setThreadCountOverride(2);
        // Reach LibRaw's parsers directly: a crash there is what this target looks for (the program
        // itself reads headers in a child process and survives such a crash).
        halvora::setRawIdentificationIsolated(false);
        return true;
    }();
    (void)once;
    rawInfo_t info;
    exifInfo_t exif;
    if (!halvora::getRAWinfoFromMemory(data, size, "fuzz", true, info, exif)) return 0;
    QImage thumbnail;
    halvora::getThumbFromRAWmemory(data, size, "fuzz", thumbnail);
    // Pictures too large to decode quickly here are left to the size checks above.
    const uint64_t pixels = uint64_t(info.halfWidth) * uint64_t(info.halfHeight);
    if (pixels == 0 || pixels > (uint64_t(1) << 20)) return 0;
    std::vector<uint8_t> rgb8(pixels * 3);
    halvora::loadRAWfromMemory(data, size, "fuzz", halvora::buildDcrawArgs(rawLoadOptions{}, true),
                               info.halfWidth, info.halfHeight, nullptr, rgb8.data());
    double means[4];
    int colors = 0;
    halvora::rawAreaChannelMeansFromMemory(data, size, "fuzz", QPointF(0.5, 0.5), true, 2, means, colors);
    return 0;
}
