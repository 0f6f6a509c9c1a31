#pragma once
// State of the result options dialog and the save request handed to saveResultWorker. The record
// lives in core so that the dialog, the unattended runs and the batch share it; the widgets only
// edit it.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

/// Choices of the "save result" options dialog, remembered in the SavingResult/* options.
struct saveResultOptions_t {
    static constexpr int formatJpeg = 0;
    static constexpr int formatTiff = 1;
    static constexpr int compressionNone = 0;
    static constexpr int compressionDeflate = 1;
    static constexpr int minDpi = 10;
    static constexpr int maxDpi = 9999;
    static constexpr int minJpegQuality = 70;
    static constexpr int maxJpegQuality = 100;

    int format = formatJpeg;               ///< 0 JPEG, 1 TIFF
    int jpegQuality = 100;                 ///< 70 … 100
    int tiffCompression = compressionNone; ///< 0 uncompressed, 1 Deflate (ZIP)
    int tiffBitDepth = 1;                  ///< 1 = 8 bit, 2 = 16 bit
    bool convertToSrgb = false;
    bool transferExif = true;
    int dpi = 300; ///< 10 … 9999

    /// Brings every field into its valid range (out-of-range values take the defaults, dpi is clamped).
    void normalize();
    /// Suffix of the chosen format: ".jpg" or ".tif".
    QString extension() const;
};

/// One save job: filled on the main thread before the worker starts, `success` set by the worker.
struct saveResultRequest {
    QString fileName; ///< full output path
    saveResultOptions_t options;
    bool openInExternalEditor = false;
    /// Colour profile the writer embeds (the sRGB profile when converting, else the working profile);
    /// empty without colour management. Filled by the save run.
    QByteArray iccProfile;
    bool success = false;
    QString error; ///< why writing failed (set by the worker), for the log panel
};

namespace halvora {

/// Request of an unattended (command-line or batch) save: the options as given and a file name in `dir`
/// made unique with uniqueOutputName unless `overwrite` is set; the extension follows the format.
saveResultRequest unattendedSaveRequest(const QString& dir, const QString& baseName,
                                        const saveResultOptions_t& options, bool overwrite);

/// Starts `editor` detached with `fileName` as its only argument; logs "Export to external editor: '%s'".
bool startExternalEditor(const QString& editor, const QString& fileName);

/// `dir` + "/" + `baseName` + extension; while that file exists and `overwrite` is false, "_%1" with a
/// counter from 1 is inserted before the extension. Used by unattended saving and aligned photos.
QString uniqueOutputName(const QString& dir, const QString& baseName, const QString& extension,
                         bool overwrite);

/// `fileName` with a suffix that matches `format`: kept when it is already one of that format's
/// (".jpg"/".jpeg", ".tif"/".tiff", any case), replaced when it is the other format's, appended otherwise.
QString outputNameForFormat(const QString& fileName, int format);

/// Base name (no folder, no extension) for a result made from `inputs`: their common prefix and the
/// remainders, cut at 64 characters with "_and_more", then "_" + `suffix` (empty: no "_" is appended).
QString defaultOutputNameWithSuffix(const QStringList& inputs, const QString& suffix);

} // namespace halvora

/// One entry of a result report: a log-panel line or a message box, with its colour.
struct saveResultMessage_t {
    enum kind_t { logPanel, errorBox, warningBox, batchLog };
    kind_t kind = logPanel;
    QString text;
    QString color; ///< "#c8c8c8" information, "#b0b060" warning, "#b06060" error, "#60a060" success
};

/// Outcome of the metadata transfer after a save.
enum class metadataTransfer_t { notRequested, done, failed, unavailable };

namespace halvora {

/// What the main window shows after a save: the failure box or batch line, or "Saved: …" / "Saved as"
/// and, when the transfer failed, "EXIF transfer failed.". Log lines are written here; the returned
/// entries are for the window. `request` may be null (a save that never got a request).
std::vector<saveResultMessage_t> saveResultFinishedMessages(const saveResultRequest* request, bool batchRun,
                                                            metadataTransfer_t transfer);

/// "[1] a.jpg, [2] b.jpg" — the source list written with the EXIF transfer.
QString sourcePhotoList(const QStringList& fileNames);

} // namespace halvora
