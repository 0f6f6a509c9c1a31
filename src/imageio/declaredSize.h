#pragma once
// The one test every reader makes before the caller reserves memory for a picture: the file must be
// long enough to hold the pixels its header declares. Each format knows the fewest bytes that can
// encode a picture of a given size (stored data needs all of it, a compression at most its best
// ratio); a file shorter than that cannot be a whole picture of that size, however it was written,
// and is refused as "declares W × H pixels but holds only N bytes". The bounds are chosen so that no
// real file of that size is ever refused.

#include <QString>
#include <cstdint>

namespace halvora {

/// Most bytes one byte of Deflate (zlib) data can stand for: a 258-byte match coded in 2 bits.
inline constexpr uint64_t kDeflateMaxRatio = 1032;

/// False (with the reason, see failure.h) when `fileBytes` is fewer than `leastBytes`, the fewest a
/// width × height picture of this kind can be stored in.
bool fileHoldsPicture(int64_t width, int64_t height, uint64_t leastBytes, uint64_t fileBytes,
                      const char* caller, const QString& fileName, QString* error);

} // namespace halvora
