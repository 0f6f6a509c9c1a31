#pragma once
// The per-photo record of the processing project. Owned by the project; a load worker writes only
// its own entry while it runs.

#include "base/rgbBuffers.h"
#include "base/tempFileRecord.h"
#include "color/colorTransform.h"
#include "imageio/exifInfo.h"
#include "imageio/rawLoadOptions.h"

#include <QImage>
#include <QString>
#include <array>
#include <memory>

struct photoEntry {
    /// Temporary-file slots: current pixels, before chromatic aberration correction, before
    /// alignment, full-resolution ghost map.
    enum tempSlot { slotCurrent = 0, slotBeforeCa = 1, slotBeforeAlign = 2, slotGhostMap = 3, slotCount = 4 };

    int32_t id = -1;
    QString fileName;
    QString profilePath;
    /// Set at preparation when the photo's profile differs from the sequence's working profile: its
    /// decoded samples are converted through it before anything else sees them.
    std::unique_ptr<halvora::colorTransform> toWorkingSpace;
    exifInfo_t exif;
    int32_t bitDepthClass = 0; ///< 1 = 8-bit source, 2 = 16-bit or wider, 0 = unknown
    bool isRaw = false;
    bool isRadiance = false;
    bool rawNoiseFilter = false;
    rawLoadOptions rawOptions; ///< the RAW converter's options chosen at preparation (isRaw only)
    bool included = false;
    int32_t sourceWidth = 0; ///< size as stored in the file (before the EXIF turn)
    int32_t sourceHeight = 0;

    halvora::rgb16Buffer preview;            ///< the photo reduced by the preview divisor
    std::unique_ptr<uint8_t[]> previewPlane; ///< one byte per preview pixel (ghost weights)
    QImage thumbnail;                        ///< 8-bit RGB, a quarter of the preview each way
    double meanBrightness = 0;
    std::unique_ptr<double[]> weightTable; ///< the work block: 32640 float64, one per sample level
    uint16_t lowLimit = 0;                 ///< first weightTable index above 0
    uint16_t highLimit = 32639;            ///< last weightTable index above 0

    // Exposure values
    double exifEV = 0;
    double aebEV = 0;
    double ev = 0;
    double lnExposure = 0;
    double exposureCorrection = 0;
    int32_t brightnessRank = 0;

    std::array<std::unique_ptr<tempFileRecord>, slotCount> tempFiles;

    /// Frees the in-memory blocks and closes (deleting) every temporary file.
    void releaseAll() {
        preview.release();
        previewPlane.reset();
        thumbnail = QImage();
        weightTable.reset();
        for (auto& f : tempFiles)
            f.reset();
    }
};
