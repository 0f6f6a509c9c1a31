#pragma once
// Readers that fill caller-allocated buffers of exactly the size their information call reported.
// Every reader treats its file as hostile: it refuses anything but a regular file, checks sizes,
// offsets and counts against the file length before use, and refuses a file too short for the
// picture it declares before the caller reserves memory for it. A bad file gives false with the
// reason in `error` ("<file>: <reason>", see base/failure.h), never a crash.
// The calls keep no state between them: information calls run on the main thread during preparation,
// load calls on the photo's load worker, and several files may be read at once.

#include "imageio/exifInfo.h"

#include <QString>
#include <cstdint>

class imageLoader {
public:
    /// 8/16-bit TIFF into `rgb16` (width × height × 3, working scale), 32-bit float TIFF into `rgbFloat`
    /// (with its minimum and maximum); fills the photo's `exif` from the file's directories.
    static bool loadTIFF(const QString& fileName, uint16_t* rgb16, float* rgbFloat, float& minimum,
                         float& maximum, exifInfo_t& exif, QString* error);

    /// Radiance RGBE picture of the size getRGBEinfo reported into `rgbFloat` (values byte × 2^(E − 128),
    /// 256 times the written radiance); refuses corrupt runs and all-black pictures.
    static bool loadRadianceRGBE(const QString& fileName, int width, int height, float* rgbFloat,
                                 float& maximum, float& minimum, QString* error);

    /// FITS information; fills camera fields of `exif` when one is given.
    static bool getFITSinfo(const QString& fileName, int& width, int& height, int& channels,
                            int& bitsPerPixel, qint64& dataPosition, exifInfo_t* exif, QString* error);
    /// FITS picture of the size getFITSinfo reported into `rgb16` (working scale, tone-compressed
    /// between the picture's minimum and maximum; a constant picture loads black).
    static bool loadFITS(const QString& fileName, int width, int height, uint16_t* rgb16, QString* error);
};

namespace halvora {

/// Radiance RGBE information: size and, when the header has them, the eight primaries.
bool getRGBEinfo(const QString& fileName, int& width, int& height, double primaries[8],
                 bool& primariesPresent, QString* error);

/// OpenEXR information: the size of the data window.
bool getEXRinfo(const QString& fileName, int& width, int& height, QString* error);
/// OpenEXR picture of the size getEXRinfo reported into `rgbFloat`, with its minimum and maximum; the data
/// window is read again here. Values are kept within 0 … 65504 (NaN and negative values become 0).
bool loadEXR(const QString& fileName, int width, int height, float* rgbFloat, float& minimum, float& maximum,
             QString* error);

} // namespace halvora
