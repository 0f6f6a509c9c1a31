#pragma once
// TIFF reader: quick information before any memory is reserved. The full load is
// imageLoader::loadTIFF (imageLoader.h), which maps the file and decodes it with
// tiffDecodeFromMemory. Several photos may be read at once on different threads; every call owns
// its buffers and decoder state.

#include "imageio/exifInfo.h"

#include <QString>
#include <cstddef>
#include <cstdint>

/// Width, height and bits per sample of the first directory; false for anything that is not a TIFF.
bool tiffQuickInfo(const QString& fileName, int& width, int& height, int& bitsPerSample);

/// The same quick information from a TIFF held in memory (`length` bytes at `data`).
bool tiffQuickInfoFromMemory(const uint8_t* data, size_t length, int& width, int& height, int& bitsPerSample);

/// Decodes a whole TIFF held in memory: 8/16-bit data into `rgb16`, 32-bit float data into `rgbFloat`
/// (with minimum and maximum); both destinations hold the quick-information size. Fills `exif` from
/// the file's directories. Called on a load worker; the pixel loops run on the thread helper.
bool tiffDecodeFromMemory(const uint8_t* data, size_t length, uint16_t* rgb16, float* rgbFloat, float& minimum,
                          float& maximum, exifInfo_t& exif);
