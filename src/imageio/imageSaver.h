#pragma once
// Writers of radiance pictures (and, later, of results). Files are written under a temporary name in
// the target folder and renamed into place, so a failed write never leaves a half-written file.

#include <QString>

class imageSaver {
public:
    /// Radiance RGBE (run-length encoded) file of a width × height × 3 float picture.
    static bool saveRadianceRGBE(const QString& fileName, int width, int height, const float* rgbFloat);
    /// OpenEXR half-float RGBA scanline file of a width × height × 3 float picture.
    static bool saveOpenEXR(const QString& fileName, int width, int height, const float* rgbFloat);
};
