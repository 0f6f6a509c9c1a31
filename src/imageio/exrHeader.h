#pragma once
// The header of an OpenEXR file, walked attribute by attribute before the library opens the file.
//
// The library reserves memory for each attribute by the size the file gives it, and for the line
// offset table by the declared data window, before it reads them: a 100-byte file can make it
// reserve gigabytes. Walking the header first bounds every size by the bytes the file really has.
// Any thread; no state.

#include <QString>
#include <cstdint>
#include <cstdio>

namespace halvora {

/// What the first part's header declares.
struct exrHeader {
    uint32_t flags = 0;   ///< the version field's flag bits (tiled 0x200, deep 0x800, multi-part 0x1000)
    int compression = -1; ///< the compression attribute, -1 when missing
    bool hasDataWindow = false;
    int32_t xMin = 0, yMin = 0, xMax = 0, yMax = 0;
    uint32_t tileWidth = 0, tileHeight = 0; ///< of a tiled first part; 0 when it has no tile description
    uint64_t pixelBytes = 0; ///< bytes of one pixel over all channels of the first part (half 2, others 4)

    /// A single-part scanline file, whose blocks each have an 8-byte line offset and header.
    bool singlePartScanlines() const { return (flags & (0x200 | 0x800 | 0x1000)) == 0; }
};

/// Reads the magic number, the version and every part's attributes from `file` (at its start,
/// `fileBytes` long) into `header`, advancing over each value as the library reads it; false with the
/// reason when the file is not OpenEXR, an attribute (or the header itself) runs past the end of the
/// file, or a preview, string or chunk count declares more than the file holds.
bool readExrHeader(std::FILE* file, uint64_t fileBytes, exrHeader& header, QString& reason);

} // namespace halvora
