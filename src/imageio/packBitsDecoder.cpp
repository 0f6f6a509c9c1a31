#include "imageio/packBitsDecoder.h"

#include <algorithm>
#include <cstring>

namespace halvora {

size_t packBitsDecode(const uint8_t* input, size_t inputLength, uint8_t* out, size_t count) {
    size_t in = 0;
    size_t written = 0;
    while (written < count && in < inputLength) {
        const int header = input[in++];
        if (header < 128) {
            // Literal run of header + 1 bytes.
            const size_t n = std::min({size_t(header) + 1, inputLength - in, count - written});
            std::memcpy(out + written, input + in, n);
            in += size_t(header) + 1;
            written += n;
        } else if (header > 128) {
            // The next byte repeated 257 − header times.
            if (in >= inputLength) break;
            const size_t n = std::min(size_t(257 - header), count - written);
            std::memset(out + written, input[in++], n);
            written += n;
        }
        // 128 is a no-op.
    }
    return written;
}

} // namespace halvora
