#pragma once
// The chunk structure of a PNG file, checked before the toolkit decodes it.
//
// The toolkit's PNG plugin leaves libpng's error handler at its default, which prints "libpng
// error: Read Error" (or "IDAT: CRC error", "incorrect data check" …) on standard error and then
// fails with a reason of its own that says nothing ("unable to read image data"). Everything libpng
// would stop at is found here first, with a reason naming what is wrong, so the toolkit only ever
// sees files it decodes without complaint. Any thread; no state.

#include <QString>
#include <cstdint>
#include <cstdio>

namespace halvora {

/// How much of a PNG file pngDamage checks.
enum class pngCheck {
    layout, ///< chunk lengths and order against the file length (seeks only; for the information call)
    data,   ///< also every critical chunk's CRC and the compressed rows (inflated once; before decoding)
};

/// Why the PNG file open in `file` (read from its start, `fileBytes` long) cannot be decoded whole:
/// empty when its chunks end with IEND inside the file and, with pngCheck::data, its critical chunks'
/// CRCs match and its image data inflates to every row with a valid filter type.
QString pngDamage(std::FILE* file, uint64_t fileBytes, pngCheck depth);

} // namespace halvora
