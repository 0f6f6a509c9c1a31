#pragma once
// Writers of radiance pictures (and, later, of results). Files are written under a temporary name in
// the target folder and renamed into place, so a failed write never leaves a half-written file.

#include <QString>

class imageSaver {
public:
    /// Radiance RGBE file (flat 32-bit_rle_rgbe pixels) of a width × height × 3 float picture; called on the
    /// HDR generation worker, advances the progress counter by one per row.
    static bool saveRadianceRGBE(const QString& fileName, int width, int height, const float* rgbFloat);
    /// OpenEXR half-float RGBA scanline file (PIZ, opaque alpha) of a width × height × 3 float picture;
    /// values beyond the half range are clamped. Advances the progress counter by one per row.
    static bool saveOpenEXR(const QString& fileName, int width, int height, const float* rgbFloat);
};
