#pragma once
// The run behind "Save aligned photos": saveAlignedWorker writes every photo (with the sequence's
// colour profile while colour management is on), then each source photo's EXIF is copied into its
// aligned file by the metadata tool. Main thread; see projectRun.

#include "imageio/saveResultOptions.h"
#include "project/projectRun.h"
#include "project/saveAlignedWorker.h"

#include <vector>

class saveAlignedRun : public projectRun {
    Q_OBJECT
public:
    saveAlignedRun(processingProject& project, const runSettings& settings, QObject* parent = nullptr);
    /// Starts writing with `options` (the profile is the project's, whatever options holds). False
    /// when the run was started before or the project has no photos. Fails ("Saving failed.") when
    /// any photo could not be written; the others are written all the same.
    bool start(const saveAlignedOptions_t& options);

    /// Valid after finished(): per photo the written file (empty when it failed), the transfer outcome.
    const std::vector<QString>& savedFiles() const { return savedFiles_; }
    metadataTransfer_t exifTransfer() const { return exifTransfer_; }
    const QString& exifTransferError() const { return exifTransferError_; }

private:
    processingProject& project_;
    std::vector<QString> savedFiles_;
    metadataTransfer_t exifTransfer_ = metadataTransfer_t::notRequested;
    QString exifTransferError_;
};
