#pragma once
// Colour profiles embedded in JPEG and TIFF files: reading the profile a photo carries (JPEG APP2
// "ICC_PROFILE" segments, TIFF tag 34675 of the first directory) and the APP2 segments that carry a
// profile in a written JPEG. Every length and offset is checked against the real file before it
// is read. Pure functions of their arguments and the file; any thread.

#include <QByteArray>
#include <QString>

namespace halvora {

/// Largest profile read or written (far above any real RGB profile; a JPEG holds at most 255 × 65519).
constexpr qint64 kMaxEmbeddedIccBytes = 16 * 1024 * 1024;

/// The profile embedded in a JPEG (`tiff` false) or TIFF file. True with an empty `icc` when the file
/// carries none; false with `error` set when the file cannot be read or its profile data are damaged.
bool readEmbeddedIcc(const QString& fileName, bool tiff, QByteArray& icc, QString* error);

/// The APP2 "ICC_PROFILE" segments (markers included) that carry `icc` in a JPEG, in order; empty
/// when `icc` is empty or larger than a JPEG can carry.
QByteArray jpegIccSegments(const QByteArray& icc);

} // namespace halvora
