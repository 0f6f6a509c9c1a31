#pragma once
// Whether the picture data a TIFF-based RAW file (DNG, CR2, NEF, ARW, PEF, …) declares lie inside the
// file. LibRaw decodes a cut-off lossy DNG "successfully" with the missing tiles garbled, so a file
// whose strips or tiles reach past its end is refused before it is decoded.

#include <QString>
#include <cstddef>
#include <cstdint>

namespace halvora {

/// Walks the directory chain and the sub-directories of a TIFF structure at `data` and checks every
/// strip and tile (offset + byte count) against `length`. True for data that are no TIFF structure
/// (other RAW formats are left to LibRaw's own checks). False with a reason otherwise. Any thread.
bool rawPictureDataInsideFile(const uint8_t* data, size_t length, QString& reason);

} // namespace halvora
