#pragma once
// TIFF reader: quick information before any memory is reserved. The full load is
// imageLoader::loadTIFF (imageLoader.h).

#include <QString>

/// Width, height and bits per sample of the first directory; false for anything that is not a TIFF.
bool tiffQuickInfo(const QString& fileName, int& width, int& height, int& bitsPerSample);
