#include "project/saveRun.h"

#include "imageio/saveResultWorker.h"
#include "project/processingProject.h"
#include "project/projectColor.h"
#include "project/resultExifAside.h"

saveRun::saveRun(processingProject& project, const runSettings& settings, QObject* parent)
    : projectRun(settings, parent), project_(project) {}

bool saveRun::start(const saveResultRequest& request) {
    if (running()) return false;
    request_ = request;
    request_.success = false;
    request_.error.clear();
    exifTransfer_ = metadataTransfer_t::notRequested;
    exifTransferError_.clear();
    processingProject* project = &project_;
    // Gathered here, on the main thread: the photo list does not change while the save runs.
    const resultMetadataSource_t metadata = halvora::resultMetadataSource(project_);
    exiftoolDaemon* tool = project_.metadataTool;
    auto worker = std::make_shared<saveResultWorker>(request_, project->resultBuffer(), project->width,
                                                     project->height);
    worker->toneMapEntirePhotoInBands = [project](const saveResultWorker::rowsReady_t& rowsReady) {
        return project->toneMapFullImage(rowsReady);
    };
    // Colour: the sRGB conversion of the rows and the profile the file carries.
    halvora::prepareColorOutput(*project, worker->request, *worker);
    const uint64_t total = uint64_t(project->width) * uint64_t(project->height) * 3;
    const QString folder = project->sessionDir;
    const int width = project->width, height = project->height;
    return projectRun::start(total, [this, worker, metadata, tool, folder, width, height](QString& error) {
        // A JPEG's tags are written beside the tone mapping (see resultExifAside).
        resultExifAside exif(tool, metadata, folder);
        exif.start(worker->request, width, height);
        worker->doSaveResult();
        // Read on the main thread only after the work has ended.
        request_ = worker->request;
        // The file is complete: its metadata step follows, and never undoes the save.
        exifTransfer_ = exif.finish(request_, &exifTransferError_);
        error = worker->request.error;
        return worker->request.success;
    });
}
