// The result-saving worker: optional full-size tone mapping, then the JPEG or TIFF writer.

#include "imageio/saveResultWorker.h"

#include "base/debugLog.h"
#include "imageio/jpegStreamWriter.h"

saveResultWorker::saveResultWorker(const saveResultRequest& r, const uint16_t* result, int width, int height,
                                   QObject* parent)
    : QObject(parent), request(r), result_(result), width_(width), height_(height) {}

void saveResultWorker::doSaveResult() {
    request.success = false;
    request.error.clear();
    request.options.normalize();
    const saveResultOptions_t& o = request.options;
    imageSaver::rowTransform_t transform;
    if (o.convertToSrgb && outputTransform) transform = outputTransform;
    const bool toneMap = toneMapEntirePhotoInBands || toneMapEntirePhoto;
    if (toneMap)
        debugLog("Tone mapping entire photo...\n");
    else
        debugLog("Photo was post processed, no need to tone map whole image.\n");

    // A JPEG is written band by band while the tone mapping goes on: the encoder, which runs on one
    // thread, works in the time the tone mapping would otherwise leave it waiting.
    if (o.format != saveResultOptions_t::formatTiff && toneMapEntirePhotoInBands) {
        debugLog("Saving result as: '%s'...\n", qPrintable(request.fileName));
        if (transform) debugLog("Converting to sRGB...\n");
        jpegStreamWriter writer("imageSaver::saveResultJPEG");
        if (!writer.open(request.fileName, width_, height_, o.jpegQuality, o.dpi, &request.error,
                         request.iccProfile)) {
            emit finished();
            return;
        }
        const bool toneMapped =
            toneMapEntirePhotoInBands([&](int firstRow, int endRow, const uint16_t* rows) {
                return writer.writeRows(rows, endRow - firstRow, transform, &request.error);
            });
        if (!toneMapped) {
            if (request.error.isEmpty()) {
                debugLog("%s: tone mapping the entire photo failed\n", "saveResultWorker::doSaveResult");
                request.error = "Tone mapping the entire photo failed.";
            }
            emit finished();
            return;
        }
        request.success = writer.finish(&request.error);
        emit finished();
        return;
    }

    if (toneMap) {
        const bool toneMapped =
            toneMapEntirePhotoInBands ? toneMapEntirePhotoInBands({}) : toneMapEntirePhoto();
        if (!toneMapped) {
            debugLog("%s: tone mapping the entire photo failed\n", "saveResultWorker::doSaveResult");
            request.error = "Tone mapping the entire photo failed.";
            emit finished();
            return;
        }
    }
    debugLog("Saving result as: '%s'...\n", qPrintable(request.fileName));
    if (transform) debugLog("Converting to sRGB...\n");
    if (o.format == saveResultOptions_t::formatTiff)
        request.success = imageSaver::saveResultTIFF(request.fileName, result_, width_, height_,
                                                     o.tiffBitDepth, o.tiffCompression, o.dpi, transform,
                                                     &request.error, request.iccProfile);
    else
        request.success =
            imageSaver::saveResultJPEG(request.fileName, result_, width_, height_, o.jpegQuality, o.dpi,
                                       transform, &request.error, request.iccProfile);
    emit finished();
}
