#pragma once
// Writers of radiance pictures and of results. A file gets its name only once every byte of it is
// written (base/replacingFile.h), so a failed write never leaves a half-written file and an older
// file of that name survives. Every writer reports a failure with its reason in `error`
// ("<file>: no space left on device", see base/failure.h).

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>

class imageSaver {
public:
    /// Radiance RGBE file (flat 32-bit_rle_rgbe pixels) of a width × height × 3 float picture; called on the
    /// HDR generation worker, advances the progress counter by one per row.
    static bool saveRadianceRGBE(const QString& fileName, int width, int height, const float* rgbFloat,
                                 QString* error);
    /// OpenEXR half-float RGBA scanline file (PIZ, opaque alpha) of a width × height × 3 float picture;
    /// values beyond the half range are clamped. Advances the progress counter by one per row.
    static bool saveOpenEXR(const QString& fileName, int width, int height, const float* rgbFloat,
                            QString* error);

    /// Colour conversion of one row of 16-bit RGB samples (0 … 65535) in place. Called from several
    /// pool threads at once, each with its own row, so it must not change shared state.
    using rowTransform_t = std::function<void(uint16_t* rgb16bit, int pixels)>;

    /// JPEG of a working-scale picture (8-bit = sample >> 7, so 32640 is 255) at `quality` with dpi × 39.37
    /// dots per metre; `transform` (optional) converts each row on the way, the buffer is not changed.
    /// Runs on the saving worker; advances the progress counter by width × height × 2 in total. On failure
    /// `error` gets the reason and no file of that name is created or changed.
    static bool saveResultJPEG(const QString& fileName, const uint16_t* rgb16, int width, int height,
                               int quality, int dpi, const rowTransform_t& transform, QString* error,
                               const QByteArray& iccProfile = QByteArray());

    /// With `iccProfile` the JPEG and TIFF writers embed that profile (APP2 segments, tag 34675).
    /// Baseline little-endian RGB TIFF of a working-scale picture: `bitDepth` 1 = 8 bit (sample >> 7),
    /// 2 = 16 bit (round(sample × 65535 / 32640), so 32640 is 65535); `compression` 0 none, 1 Deflate;
    /// resolution tags of `dpi` pixels per inch. Otherwise as saveResultJPEG.
    static bool saveResultTIFF(const QString& fileName, const uint16_t* rgb16, int width, int height,
                               int bitDepth, int compression, int dpi, const rowTransform_t& transform,
                               QString* error, const QByteArray& iccProfile = QByteArray());
};
