#pragma once
// The run that saves the result: the whole picture tone-mapped at full size into the project's result
// buffer, then written as JPEG or TIFF by saveResultWorker. Main thread; see projectRun.

#include "imageio/saveResultOptions.h"
#include "project/projectRun.h"
#include "project/resultMetadata.h"

class saveRun : public projectRun {
    Q_OBJECT
public:
    saveRun(processingProject& project, const runSettings& settings, QObject* parent = nullptr);
    /// Starts saving with `request` (its file name and options). False when the run is busy.
    bool start(const saveResultRequest& request);
    /// The request with success and error filled in, once finished() was emitted.
    const saveResultRequest& request() const { return request_; }
    /// How the EXIF transfer into the saved file went, once finished() was emitted.
    metadataTransfer_t exifTransfer() const { return exifTransfer_; }
    /// Why the EXIF transfer failed (empty otherwise).
    const QString& exifTransferError() const { return exifTransferError_; }

private:
    processingProject& project_;
    saveResultRequest request_;
    metadataTransfer_t exifTransfer_ = metadataTransfer_t::notRequested;
    QString exifTransferError_;
};
