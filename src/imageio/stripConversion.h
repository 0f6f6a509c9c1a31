#pragma once
// Conversion of one decoded horizontal strip of a photo (a QImage) into the working-scale rgb16
// picture, turned on the way: the strip is written straight to where its pixels belong after the
// EXIF orientation, so a turned photo costs no extra pass over the full-size buffer.

#include <QImage>
#include <cstdint>

namespace halvora {

/// Writes `strip` (rows firstRow … firstRow + strip.height() − 1 of a sourceWidth × sourceHeight
/// photo) into `dst`, the photo after transform `mode` (-1 none, or turnCounterClockwise, turn180,
/// turnClockwise). 8-bit grey and indexed pixels become R = G = B = byte × 128 (indexed through their
/// colour table), 32-bit pixels their red, green and blue bytes × 128; any other format is converted
/// to 32-bit first. False when the strip does not fit the photo or the mode is not one of those.
/// Any thread; the rows are split over the threading helper.
bool convertStripToRgb16(const QImage& strip, int firstRow, int sourceWidth, int sourceHeight, int mode,
                         uint16_t* dst);

/// Fills output rows [firstOutputRow, firstOutputRow + rows) of the whole decoded photo `photo`
/// after transform `mode` (the same modes) into `out`, rows × output width × 3 samples, the output
/// width being the photo's height for the 90° turns and its width otherwise. Same pixel rules as
/// above. Lets a loader produce the turned picture piece by piece without holding it at full size.
bool convertRowsToRgb16(const QImage& photo, int mode, int firstOutputRow, int rows, uint16_t* out);

} // namespace halvora
