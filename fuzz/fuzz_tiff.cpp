// libFuzzer target: the TIFF reader (quick information, then the full decode into buffers of the
// announced size, as the loading step does).

#include "base/parallelFor.h"
#include "imageio/tiffReader.h"

#include <QString>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool once = [] {
        halvora::setThreadCountOverride(2);
        return true;
    }();
    (void)once;
    // Every refusal must say why.
    QString error;
    int width = 0, height = 0, bits = 0;
    if (!halvora::tiffQuickInfoFromMemory(data, size, QString(), width, height, bits, &error)) {
        if (error.isEmpty()) std::abort();
        return 0;
    }
    exifInfo_t exif;
    float minimum = 0, maximum = 0;
    const uint64_t samples = uint64_t(width) * uint64_t(height) * 3;
    if (samples == 0 || samples > (uint64_t(1) << 16)) {
        // Too large to hold here: the reader must refuse without touching a buffer.
        if (halvora::tiffDecodeFromMemory(data, size, QString(), nullptr, nullptr, minimum, maximum, exif,
                                          &error) ||
            error.isEmpty())
            std::abort();
        return 0;
    }
    std::vector<uint16_t> rgb16(samples);
    std::vector<float> rgbFloat(samples);
    if (!halvora::tiffDecodeFromMemory(data, size, QString(), rgb16.data(), rgbFloat.data(), minimum, maximum,
                                       exif, &error) &&
        error.isEmpty())
        std::abort();
    return 0;
}
