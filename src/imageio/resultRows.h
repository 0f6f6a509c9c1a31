#pragma once
// The conversion of rows of the working-scale result into the samples a result file holds. Shared by
// the JPEG and TIFF writers; any thread (each call touches only its own rows).

#include "base/rgbBuffers.h"
#include "imageio/imageSaver.h"

#include <algorithm>
#include <cstdint>

namespace halvora {

/// A working-scale sample on the 16-bit scale (32640 → 65535, rounded).
inline uint16_t toFull16(uint16_t v) {
    const uint32_t c = std::min<uint32_t>(v, kFullScale);
    return uint16_t((c * 65535u + kFullScale / 2) / kFullScale);
}

/// A 16-bit sample back on the working scale (rounded).
inline uint16_t fromFull16(uint16_t v) {
    return uint16_t((uint32_t(v) * kFullScale + 32767u) / 65535u);
}

/// One row in output form: 16-bit (0 … 65535) samples after the optional colour conversion.
inline void convertRow16(const uint16_t* src, uint16_t* dst, int width,
                         const imageSaver::rowTransform_t& transform) {
    const int n = width * 3;
    for (int i = 0; i < n; ++i)
        dst[i] = toFull16(src[i]);
    if (transform) transform(dst, width);
}

/// One row as 8-bit samples: working sample >> 7 (32640 → 255); with a conversion, through the
/// 16-bit scale and back so that white stays 255. `scratch` holds width × 3 samples when converting.
inline void convertRow8(const uint16_t* src, uint8_t* dst, int width,
                        const imageSaver::rowTransform_t& transform, uint16_t* scratch) {
    const int n = width * 3;
    if (!transform) {
        for (int i = 0; i < n; ++i)
            dst[i] = uint8_t(std::min<uint32_t>(src[i], kFullScale) >> 7);
        return;
    }
    convertRow16(src, scratch, width, transform);
    for (int i = 0; i < n; ++i)
        dst[i] = uint8_t(fromFull16(scratch[i]) >> 7);
}

} // namespace halvora
