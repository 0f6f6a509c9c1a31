#pragma once
// Writes the tone-mapped result on a thread of its own. The main window fills `request`, moves the
// worker to a new thread, connects started() → doSaveResult() and finished() → saveResultFinished(),
// and reads `request.success` / `request.error` only after finished().

#include "imageio/imageSaver.h"
#include "imageio/saveResultOptions.h"

#include <QObject>
#include <cstdint>
#include <functional>

class saveResultWorker : public QObject {
    Q_OBJECT
public:
    /// `result` is the full-resolution working-scale picture (borrowed; nothing writes it while the save
    /// runs). It is never changed: colour conversion happens on copies of its rows.
    saveResultWorker(const saveResultRequest& request, const uint16_t* result, int width, int height,
                     QObject* parent = nullptr);

    saveResultRequest request;

    /// Renders the whole picture into `result` at full size first; left empty when the result already is
    /// the full-size picture (post-processed). Called on the worker's thread; false fails the save.
    std::function<bool()> toneMapEntirePhoto;
    /// Rows [firstRow, endRow) are final and may be written; `rows` holds them (width × 3 samples
    /// each) until the call returns. False stops the tone mapping.
    using rowsReady_t = std::function<bool(int firstRow, int endRow, const uint16_t* rows)>;
    /// Like toneMapEntirePhoto, but reports bands of finished rows in order through its argument (which
    /// may be empty), so that a JPEG is encoded while later rows are still tone-mapped. Takes precedence
    /// over toneMapEntirePhoto. Called on the worker's thread.
    std::function<bool(const rowsReady_t& rowsReady)> toneMapEntirePhotoInBands;
    /// Output colour transform for "Convert to sRGB" (set when colour management is on and a transform
    /// exists); see imageSaver::rowTransform_t.
    imageSaver::rowTransform_t outputTransform;

public slots:
    /// Writes the file (worker thread); sets request.success and emits finished().
    void doSaveResult();

signals:
    void finished();

private:
    const uint16_t* result_;
    int width_, height_;
};
