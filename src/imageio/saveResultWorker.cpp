// The result-saving worker: optional full-size tone mapping, then the JPEG or TIFF writer.

#include "imageio/saveResultWorker.h"

#include "base/debugLog.h"

saveResultWorker::saveResultWorker(const saveResultRequest& r, const uint16_t* result, int width, int height,
                                   QObject* parent)
    : QObject(parent), request(r), result_(result), width_(width), height_(height) {}

void saveResultWorker::doSaveResult() {
    request.success = false;
    request.error.clear();
    request.options.normalize();
    if (toneMapEntirePhoto) {
        debugLog("Tone mapping entire photo...\n");
        if (!toneMapEntirePhoto()) {
            debugLog("%s: tone mapping the entire photo failed\n", "saveResultWorker::doSaveResult");
            request.error = "Tone mapping the entire photo failed.";
            emit finished();
            return;
        }
    } else {
        debugLog("Photo was post processed, no need to tone map whole image.\n");
    }
    debugLog("Saving result as: '%s'...\n", qPrintable(request.fileName));

    imageSaver::rowTransform_t transform;
    if (request.options.convertToSrgb && outputTransform) {
        debugLog("Converting to sRGB...\n");
        transform = outputTransform;
    }
    const saveResultOptions_t& o = request.options;
    if (o.format == saveResultOptions_t::formatTiff)
        request.success = imageSaver::saveResultTIFF(request.fileName, result_, width_, height_, o.tiffBitDepth,
                                                     o.tiffCompression, o.dpi, transform, &request.error,
                                                     request.iccProfile);
    else
        request.success = imageSaver::saveResultJPEG(request.fileName, result_, width_, height_, o.jpegQuality,
                                                     o.dpi, transform, &request.error, request.iccProfile);
    emit finished();
}
