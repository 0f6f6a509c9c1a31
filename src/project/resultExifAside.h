#pragma once
// The EXIF transfer of a JPEG result made while the result is still being tone-mapped. Copying the
// tags takes the metadata tool about a third of a second whatever the size of the picture; run after
// the file is complete, it is the last step of every save. Here the tool writes the tags into a
// stand-in: a file holding only the header the result will have (same size, quality, resolution and
// profile) and its end marker. Once the result is complete, the stand-in's metadata segments are put
// in front of the result's picture segments, which is byte for byte what the tool writes into the
// complete file. Anything unexpected on the way (another header, a failed tool run, a tool that
// changed more than metadata) falls back to the transfer into the complete file, with its own message.

#include "base/runContext.h"
#include "base/workerThread.h"
#include "imageio/saveResultOptions.h"
#include "project/resultMetadata.h"

#include <QByteArray>
#include <QString>

class exiftoolDaemon;

class resultExifAside {
public:
    /// `folder`: where the stand-in may be written (the session's temporary folder, ends with "/");
    /// without one the transfer is made into the complete file.
    resultExifAside(exiftoolDaemon* tool, const resultMetadataSource_t& source, const QString& folder);
    /// Waits for a tool run still going and removes the stand-in.
    ~resultExifAside();
    resultExifAside(const resultExifAside&) = delete;
    resultExifAside& operator=(const resultExifAside&) = delete;

    /// Starts the transfer into the stand-in for a `width` × `height` result saved with `request`;
    /// false (nothing started) when the request does not ask for EXIF, is not a JPEG, or there is no
    /// tool. Caller's thread.
    bool start(const saveResultRequest& request, int width, int height);
    /// After the save: the transfer's outcome for the saved `request`, by the splice when the stand-in
    /// serves, else by halvora::transferResultExif. Same thread as start().
    metadataTransfer_t finish(const saveResultRequest& request, QString* error);

private:
    exiftoolDaemon* tool_;
    resultMetadataSource_t source_;
    QString standIn_; ///< empty without a folder
    QByteArray header_;
    bool started_ = false;
    bool tagged_ = false; ///< the tool run into the stand-in succeeded (read after the wait)
    halvora::runContext context_;
    halvora::workerThread thread_;
};
