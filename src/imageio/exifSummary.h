#pragma once
// The camera summary a photo item shows as its tool tip: one "Label: value" line per known field.

#include <QString>

struct exifInfo_t;

namespace halvora {

/// Lines for "Camera", "Exposure time", "F-number", "ISO", "AEB EV", "Timestamp", "Focal length",
/// "White balance" and "Light source", as far as the record knows them, joined by "\n".
/// `hasAeb`: the photo's exposure bias was read (a 0 bias is still shown then).
QString exifSummary(const exifInfo_t& exif, bool hasAeb);

/// "1/125 s" for short exposures written as a fraction, "2.5 s" for long ones; empty when unknown.
QString exposureTimeText(const exifInfo_t& exif);

} // namespace halvora
