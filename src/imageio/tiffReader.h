#pragma once
// TIFF reader: quick information before any memory is reserved. The full load is
// imageLoader::loadTIFF (imageLoader.h), which maps the file and decodes it with
// tiffDecodeFromMemory. Several photos may be read at once on different threads; every call owns
// its buffers and decoder state.
//
// Read are 8- and 16-bit unsigned and 32-bit floating-point samples, one, three or four to a pixel,
// interleaved, in strips stored plainly or compressed with LZW, Deflate or PackBits. Anything else
// (signed or 32-bit integer samples, palettes, CMYK or YCbCr, separate planes, tiles, other
// compressions) is refused with the reason, as is a strip whose data are damaged or run short.

#include "imageio/exifInfo.h"

#include <QString>
#include <cstddef>
#include <cstdint>

namespace halvora {

/// Width, height and bits per sample of the first directory; false with the reason (see
/// failure.h) for a file that is not a TIFF this reader reads, or is too short for its picture.
bool tiffQuickInfo(const QString& fileName, int& width, int& height, int& bitsPerSample, QString* error);

/// The same quick information from a TIFF held in memory (`length` bytes at `data`); the reasons
/// name `fileName` (empty for none).
bool tiffQuickInfoFromMemory(const uint8_t* data, size_t length, const QString& fileName, int& width,
                             int& height, int& bitsPerSample, QString* error);

/// Decodes a whole TIFF held in memory: 8/16-bit data into `rgb16`, 32-bit float data into `rgbFloat`
/// (with minimum and maximum); both destinations hold the quick-information size. Fills `exif` from
/// the file's directories. False with the reason for a refused file or a damaged strip. Called on a
/// load worker; the strips are decoded in parallel and the result does not depend on the thread count.
bool tiffDecodeFromMemory(const uint8_t* data, size_t length, const QString& fileName, uint16_t* rgb16,
                          float* rgbFloat, float& minimum, float& maximum, exifInfo_t& exif, QString* error);

} // namespace halvora
