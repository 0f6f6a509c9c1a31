#pragma once
// Loads one prepared photo on a thread of its own: decodes it into a full-size rgb16Buffer, applies
// the EXIF orientation, builds the preview, the thumbnail and the mean brightness, writes the
// full-size pixels to the project's temporary store and allocates the photo's work block.
//
// The main window creates the worker on the main thread, moves it to its thread and connects the
// thread's start to loadPhoto(); finished() is emitted on the worker's thread. While it runs the
// worker writes only its own photo entry and decode buffer, and the project under project->mutex
// (orientation, size after a turn) — except a radiance photo, which fills the project's single
// radiance picture.

#include "base/hugePageBlock.h"
#include "project/photoEntry.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

class processingProject;

class loadPhotoWorker : public QObject {
    Q_OBJECT
public:
    enum resultCode { loaded = 0, failedWithMessage = 1, failedToDecode = 2 };

    /// `decodeBuffer` holds at least width × height × 3 samples of the project size (photos of one
    /// strip are produced piece by piece and do not need it); the worker borrows it (and the project)
    /// until finished() and owns `photo` until takePhoto().
    loadPhotoWorker(processingProject* project, std::unique_ptr<photoEntry> photo, uint16_t* decodeBuffer,
                    int workerId);
    ~loadPhotoWorker() override;

    int workerId() const { return workerId_; }
    int result() const { return result_; }
    const photoEntry* photo() const { return photo_.get(); }
    /// Main thread, after finished(): hands the photo entry back.
    std::unique_ptr<photoEntry> takePhoto() { return std::move(photo_); }

    /// Strips a Qt-decoded w × h picture is read in: integer part of w × h ÷ 20,000,000 + 1.
    static int stripCount(int width, int height);
    /// First row and row count of strip i of `count` strips over `height` rows; the last strip runs
    /// to the bottom row.
    static void stripRows(int height, int count, int i, int& firstRow, int& rows);
    /// Load workers to start at once for a project of w × h and the pending files: 5 below 11
    /// megapixels, 3 below 21, else 2; at most the usable threads (one more when that takes the last
    /// pending photo along), 32 and the pending count; 2 when more would run and one of the first
    /// files is larger than 30 MiB.
    static int waveSize(int width, int height, const QStringList& pendingFiles);
    /// Progress units of loading `files` photos of w × h (each worker adds 2 × (w + h) twice), plus
    /// the radiance noise filter's share; never 0.
    static uint64_t progressTotal(int width, int height, int files, bool radianceNoiseFilter);
    /// EXIF orientation → transform mode: 3 → turn 180°, 6 → turn clockwise, 8 → turn
    /// counter-clockwise, anything else → -1 (leave).
    static int orientationToMode(int orientation);
    /// True when the JPEG file ends its entropy-coded data with an end-of-image marker (a truncated
    /// file does not); false as well for anything that is not a regular file.
    static bool jpegIsComplete(const QString& fileName);

    /// Main thread, when no worker runs: frees the strip blocks kept for the next photos of an action.
    static void releaseStripBlocks();

public slots:
    /// Worker thread: loads the photo and emits finished(code, message, workerId).
    void loadPhoto();

signals:
    /// Code 0 loaded, 1 failed with a message for the user, 2 failed to decode. A failure's message
    /// is "<file>: <reason>" (see base/failure.h), written once where the fault was found.
    void finished(int status, QString errorMsg, int workerId);

private:
    int run(QString& message);
    /// Sets `message` to "<file>: <reason>" (logged) and returns `code`.
    int failed(int code, QString& message, const QString& reason) const;
    static QString notEnoughMemory(const char* forWhat);
    QString tempFileReason() const;
    /// Converts a finished thumbnail to the monitor when colour management is active (it is only shown).
    void toMonitor(QImage& thumbnail) const;
    /// Converts `rows` full-width rows of working-scale samples into the sequence's working profile when
    /// the photo is in another one; rows are split over the run's threads.
    void toWorkingSpace(uint16_t* samples, int rows) const;
    /// JPEG, BMP and PNG through the toolkit, whole or in strips.
    int loadQtFormat(int format, QString& message);
    int applyOrientation(int orientation, QString& message);
    void readProjectSizes();
    bool allocatePreview();
    /// A picture of one strip: decoded whole, then turned, previewed and stored piece by piece.
    int loadWhole(QString& message);
    bool decodeWhole(halvora::hugePageBlock& block, QImage& decoded, QString& message);
    /// Larger pictures: decoded strip by strip into the full-size decode buffer.
    bool decodeQt(int width, int height, int mode, uint16_t* dst, QString& message);
    /// Preview, thumbnail, temporary file and work block from the full-size decode buffer.
    int finishFromBuffer(QString& message);
    int finishLoad(QString& message);
    /// Radiance RGBE and OpenEXR into the project's radiance picture, with preview and thumbnail.
    int loadRadiance(int format, QString& message);
    /// 8/16-bit TIFF into the decode buffer, 32-bit float TIFF into the project's radiance picture.
    int loadTiff(QString& message);
    /// Camera RAW through the converter with the photo's options, already turned by it.
    int loadRaw(QString& message);
    /// The maker-note fallback: a JPEG or TIFF photo without exposure time, F-number or ISO, and every
    /// RAW photo, asks the metadata tool (when the project has one) for them.
    void completeExposureData();
    /// Preview (float downscale, exposure factor 1), thumbnail and work block of a radiance photo.
    int finishRadiance(QString& message);

    processingProject* project_;
    std::unique_ptr<photoEntry> photo_;
    uint16_t* buffer_;
    int workerId_;
    int result_ = -1;
    int mode_ = -1;
    int width_ = 0, height_ = 0; ///< project size after the orientation step
    int previewDivisor_ = 1, previewWidth_ = 0, previewHeight_ = 0;
};
