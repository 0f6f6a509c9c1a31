#pragma once
// Fixed-size fields of file headers, read byte by byte so that neither alignment nor the machine's
// byte order matters.

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace halvora {

inline uint32_t be16(const uint8_t* p) {
    return uint32_t(p[0]) << 8 | p[1];
}
inline uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint32_t le16(const uint8_t* p) {
    return uint32_t(p[1]) << 8 | p[0];
}
inline uint32_t le32(const uint8_t* p) {
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

/// Exactly `count` bytes from `file`; false at the end of the file or on a read error.
inline bool readExactly(std::FILE* file, uint8_t* out, size_t count) {
    return std::fread(out, 1, count, file) == count;
}

} // namespace halvora
