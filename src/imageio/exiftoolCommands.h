#pragma once
// The metadata tool's argument lists for each job: the tag query, profile extraction and embedding,
// and the EXIF transfer into a saved result. File arguments are absolute paths, so a file whose name
// starts with "-" cannot be taken for an option.

#include <QString>
#include <QStringList>

/// Kind of result named in the comment the EXIF transfer writes.
enum class exifResultKind { alignedPhoto, hdrToneMapped, singlePhotoEnhanced };

namespace halvora {

/// "Halvora 3.0.1  (Linux)": the program name, the version with its trailing blank, and the platform,
/// written into the Software, CreatorTool and HistorySoftwareAgent tags.
QString exiftoolSoftwareTag();

/// "[1] a.jpg, [2] b.jpg": the photos a merged result was made from, numbered from 1.
QString exiftoolUsedPhotoList(const QStringList& fileNames);

/// The tag query for a JPEG, TIFF or RAW photo.
QStringList exiftoolTagQueryArguments(const QString& fileName);
/// Writes the profile embedded in `source` as the file `profile`.
QStringList exiftoolExtractIccArguments(const QString& source, const QString& profile);
/// Embeds the profile file `profile` into `target`, replacing the file in place.
QStringList exiftoolEmbedIccArguments(const QString& target, const QString& profile);
/// Copies the EXIF of `source` into `target` with this program's Software tags, normal orientation, the
/// comment naming `kind` (and, when `usedPhotos` is not empty, that list, and the exposure tags
/// removed as they describe no single exposure of a merge), the thumbnail removed, and the resolution
/// when `dpi` > 0. With a `profile` file, the same write also embeds it (one rewrite of the result
/// instead of two).
QStringList exiftoolTransferExifArguments(const QString& source, const QString& target,
                                          const QString& usedPhotos, exifResultKind kind, int dpi,
                                          const QString& profile = QString());

} // namespace halvora
