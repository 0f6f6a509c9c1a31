#pragma once
// PackBits run-length decoder of TIFF strips.

#include <cstddef>
#include <cstdint>

namespace halvora {

/// Decodes `inputLength` bytes into at most `count` bytes of `out`; returns the bytes written. Stops
/// when the output is full or the input is exhausted.
size_t packBitsDecode(const uint8_t* input, size_t inputLength, uint8_t* out, size_t count);

} // namespace halvora
