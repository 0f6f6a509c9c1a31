#include "project/resultMetadata.h"

#include "base/debugLog.h"
#include "imageio/exiftoolDaemon.h"
#include "project/processingProject.h"

#include <QDir>

namespace halvora {

resultMetadataSource_t resultMetadataSource(const processingProject& project) {
    resultMetadataSource_t source;
    const auto& photos = project.photos;
    if (photos.empty()) return source;
    const size_t reference =
        project.midId >= 0 && size_t(project.midId) < photos.size() ? size_t(project.midId) : 0;
    source.referencePhoto = photos[reference]->fileName;
    if (photos.front()->isRadiance) {
        source.kind = exifResultKind::hdrToneMapped;
    } else if (photos.size() == 1) {
        source.kind = exifResultKind::singlePhotoEnhanced;
    } else {
        source.kind = exifResultKind::hdrToneMapped;
        QStringList used;
        for (const auto& photo : photos)
            if (photo->included) used << QDir::toNativeSeparators(photo->fileName);
        source.usedPhotos = exiftoolUsedPhotoList(used);
    }
    return source;
}

metadataTransfer_t transferResultExif(exiftoolDaemon* tool, const resultMetadataSource_t& source,
                                      const saveResultRequest& request, QString* error) {
    if (!request.success || !request.options.transferExif || source.referencePhoto.isEmpty())
        return metadataTransfer_t::notRequested;
    if (!tool) return metadataTransfer_t::unavailable;
    debugLog("Exiftool...\n");
    QString reason;
    if (tool->transferExif(source.referencePhoto, request.fileName, source.usedPhotos, source.kind,
                           request.options.dpi, QString(), &reason))
        return metadataTransfer_t::done;
    debugLog("%s: EXIF transfer failed: %s\n", "saveRun::transferResultExif",
             reason.toLocal8Bit().constData());
    if (error) *error = reason;
    return metadataTransfer_t::failed;
}

} // namespace halvora
