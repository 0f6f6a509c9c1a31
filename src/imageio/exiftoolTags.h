#pragma once
// What the metadata tool's tag query tells about a photo, and how its answer lines are read. The
// maker-note fallback uses it for JPEG and TIFF photos with incomplete EXIF exposure data and for RAW
// photos.

#include "imageio/exifInfo.h"

#include <QString>
#include <QStringList>
#include <cstdint>

struct exiftoolTags {
    /// "Date/Time Original" in seconds on a continuous day count (orders dates, exact differences).
    int64_t timeStamp = 0;
    double exposureTime = 0;
    double fNumber = 0;
    int32_t iso = 0;
    double aebValue = 0;
    int32_t width = 0;
    int32_t height = 0;
    QString shootingMode;
    bool bracketModeAEB = false;
    int32_t bracketShotNumber = 0;
    /// The photo's comment names this program: it is one of its own results.
    bool madeByHalvora = false;
};

namespace halvora {

/// Reads the tool's answer lines ("Label<blanks>: value") into `tags`; lines of other labels, and
/// values that do not read as their field's type, leave the fields as they were. Any thread.
void parseExiftoolAnswer(const QStringList& lines, exiftoolTags& tags);

/// Seconds of "YYYY:MM:DD HH:MM:SS" on a proleptic Gregorian day count from 1970-01-01, in 64 bits;
/// false when the text is not such a date.
bool exiftoolTimeStamp(const QString& text, int64_t& seconds);

/// Takes exposure time, F-number and ISO from `tags` where they are known (non-zero), leaving the
/// other fields of `exif` as they are.
void applyExiftoolExposure(const exiftoolTags& tags, exifInfo_t& exif);

} // namespace halvora
