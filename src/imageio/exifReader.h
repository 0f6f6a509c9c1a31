#pragma once
// EXIF reader: camera data of JPEG and TIFF photos. The directory walker is shared with the TIFF
// reader, which runs it over a whole mapped TIFF file to collect the image-structure tags.
// Problems inside the EXIF data are "EXIF: ..." lines of the debug log and never stop the program;
// a file that cannot be read, or has no picture data, fails with the reason (see failure.h).

#include "imageio/exifInfo.h"

#include <QString>
#include <cstddef>
#include <cstdint>

namespace halvora {

/// Walks the JPEG sections of `fileName` into `exif`; true when the start-of-scan section was reached,
/// else false with the reason.
bool readJpegExif(const QString& fileName, exifInfo_t& exif, QString* error);

/// The same section walk over a JPEG held in memory (`length` bytes at `data`); reasons name no file.
bool readJpegExifFromMemory(const uint8_t* data, size_t length, exifInfo_t& exif, QString* error);

/// Checks the TIFF header at `data` (`length` bytes) and walks its directories into `exif`.
bool processExifStart(const uint8_t* data, size_t length, exifInfo_t& exif);

/// Name of an EXIF LightSource code ("Daylight", …; "?" for others).
const char* lightSourceName(int code);

} // namespace halvora
