#include "project/saveAlignedRun.h"

#include "project/processingProject.h"
#include "project/projectColor.h"
#include "project/resultMetadata.h"

#include <QCoreApplication>
#include <algorithm>
#include <memory>

saveAlignedRun::saveAlignedRun(processingProject& project, const runSettings& settings, QObject* parent)
    : projectRun(settings, parent), project_(project) {}

bool saveAlignedRun::start(const saveAlignedOptions_t& options) {
    if (running() || project_.photos.empty()) return false;
    savedFiles_.clear();
    exifTransfer_ = metadataTransfer_t::notRequested;
    exifTransferError_.clear();
    // Gathered here, on the main thread: the photo list does not change while the run works.
    saveAlignedOptions_t o = options;
    o.iccProfile = halvora::sequenceProfileBytes(project_);
    const QString profile = o.iccProfile.isEmpty() ? QString() : halvora::sequenceProfilePath(project_);
    std::vector<QString> sources;
    for (const auto& photo : project_.photos)
        sources.push_back(photo->fileName);
    exiftoolDaemon* tool = project_.metadataTool;
    const int dpi = std::clamp(o.dpi, saveResultOptions_t::minDpi, saveResultOptions_t::maxDpi);
    auto worker = std::make_shared<saveAlignedWorker>(&project_, o);
    return projectRun::start(
        uint64_t(project_.photos.size()), [this, worker, sources, tool, profile, dpi](QString& error) {
            worker->doSaveAligned();
            savedFiles_ = worker->savedFiles; // read on the main thread only after the run has ended
            // The files are complete: their metadata follows and never undoes them.
            exifTransfer_ =
                halvora::transferAlignedExif(tool, sources, savedFiles_, dpi, profile, &exifTransferError_);
            if (!worker->success) error = QCoreApplication::translate("saveAlignedRun", "Saving failed.");
            return worker->success;
        });
}
