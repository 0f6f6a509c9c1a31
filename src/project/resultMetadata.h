#pragma once
// The EXIF transfer into a saved result: the reference photo's EXIF copied into the new file by the
// metadata tool, with this program's Software tags, normal orientation, a comment naming the kind of
// result and the photos used, no thumbnail, and the resolution. It runs once the file is complete and
// never undoes the save; a failure becomes "EXIF transfer failed." for the user.

#include "imageio/exiftoolCommands.h"
#include "imageio/saveResultOptions.h"

#include <QString>
#include <QStringList>
#include <vector>

class exiftoolDaemon;
class processingProject;

/// What the transfer needs from the project: the photo whose EXIF is copied, the kind of result and,
/// for a merge, the list of photos used ("[1] a.jpg, [2] b.jpg"; empty for one photo).
struct resultMetadataSource_t {
    QString referencePhoto;
    QString usedPhotos;
    exifResultKind kind = exifResultKind::hdrToneMapped;
};

namespace halvora {

/// The source of a result of `project`: the reference photo (midId) and the included photos of a merge;
/// one photo is an enhanced single photo, a radiance picture a tone-mapped HDR image. Main thread.
resultMetadataSource_t resultMetadataSource(const processingProject& project);

/// Copies the EXIF into the saved file of `request` when it asks for it. `notRequested` when it does
/// not or the save failed; `unavailable` without a metadata tool; `failed` (with the reason in `error`,
/// logged) when the tool could not do it. Called after the file is complete; any thread.
metadataTransfer_t transferResultExif(exiftoolDaemon* tool, const resultMetadataSource_t& source,
                                      const saveResultRequest& request, QString* error = nullptr);

/// The EXIF transfer after "Save aligned photos": for every photo written (saved[i] not empty) the
/// EXIF of its source photo sources[i] goes into the aligned file ("Image aligned with"), with the
/// dpi and, when `profile` names a file, that colour profile. `done` when every transfer worked,
/// `notRequested` when nothing was written, `unavailable` without a metadata tool, `failed` (the
/// first reason in `error`, every failure logged) when any transfer failed; the others still run.
/// Called after the files are complete; any thread.
metadataTransfer_t transferAlignedExif(exiftoolDaemon* tool, const std::vector<QString>& sources,
                                       const std::vector<QString>& saved, int dpi, const QString& profile,
                                       QString* error = nullptr);

} // namespace halvora
