#include "project/resultMetadata.h"

#include "base/debugLog.h"
#include "imageio/exiftoolDaemon.h"
#include "project/processingProject.h"

#include <QDir>
#include <algorithm>

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

metadataTransfer_t transferAlignedExif(exiftoolDaemon* tool, const std::vector<QString>& sources,
                                       const std::vector<QString>& saved, int dpi, const QString& profile,
                                       QString* error) {
    const size_t n = std::min(sources.size(), saved.size());
    const bool anySaved = std::any_of(saved.begin(), saved.begin() + ptrdiff_t(n),
                                      [](const QString& f) { return !f.isEmpty(); });
    if (!anySaved) return metadataTransfer_t::notRequested;
    if (!tool) return metadataTransfer_t::unavailable;
    debugLog("Exiftool...\n");
    bool all = true;
    for (size_t i = 0; i < n; ++i) {
        if (saved[i].isEmpty() || sources[i].isEmpty()) continue;
        QString reason;
        if (tool->transferExif(sources[i], saved[i], QString(), exifResultKind::alignedPhoto, dpi, profile,
                               &reason))
            continue;
        debugLog("%s: EXIF transfer failed: %s\n", "saveAlignedRun::transferAlignedExif",
                 reason.toLocal8Bit().constData());
        if (all && error) *error = reason;
        all = false;
    }
    return all ? metadataTransfer_t::done : metadataTransfer_t::failed;
}

} // namespace halvora
