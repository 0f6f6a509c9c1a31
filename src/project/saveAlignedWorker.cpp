// Writes the aligned photos with the result writers, one file per photo next to nothing it replaces.

#include "project/saveAlignedWorker.h"

#include "base/debugLog.h"
#include "base/runContext.h"
#include "imageio/imageSaver.h"
#include "imageio/saveResultOptions.h"
#include "project/processingProject.h"

#include <QFileInfo>
#include <algorithm>

saveAlignedWorker::saveAlignedWorker(processingProject* project, const saveAlignedOptions_t& o,
                                     QObject* parent)
    : QObject(parent), options(o), project_(project) {}

void saveAlignedWorker::doSaveAligned() {
    const char* who = "saveAlignedWorker::doSaveAligned";
    savedFiles.clear();
    success = false;
    debugLog("Saving aligned photos...\n");
    halvora::rgb16Buffer pixels;
    if (!project_ || project_->photos.empty() || !pixels.allocate(project_->width, project_->height)) {
        debugLog("%s: nothing to save or out of memory\n", who);
        emit finished();
        return;
    }
    const bool tiff = options.format == 1;
    const QString extension = tiff ? ".tif" : ".jpg";
    const int dpi = std::clamp(options.dpi, saveResultOptions_t::minDpi, saveResultOptions_t::maxDpi);
    bool all = true;
    for (auto& photo : project_->photos) {
        if (halvora::cancelRequested()) {
            all = false;
            break;
        }
        const QString base = options.prefix + QFileInfo(photo->fileName).completeBaseName() + options.suffix;
        const QString name = halvora::uniqueOutputName(options.folder, base, extension, false);
        debugLog("- %s\n", qPrintable(name));
        bool ok =
            project_->readFromTempFile(*photo, photoEntry::slotCurrent, pixels.pixels(), pixels.byteSize());
        // A writer logs its reason; this run reports failures per photo through savedFiles.
        QString reason;
        if (ok)
            ok = tiff ? imageSaver::saveResultTIFF(name, pixels.pixels(), pixels.width, pixels.height,
                                                   options.tiffBitDepth, options.tiffCompression, dpi, {},
                                                   &reason, options.iccProfile)
                      : imageSaver::saveResultJPEG(name, pixels.pixels(), pixels.width, pixels.height,
                                                   std::clamp(options.jpegQuality, 70, 100), dpi, {}, &reason,
                                                   options.iccProfile);
        savedFiles.push_back(ok ? name : QString());
        all = all && ok;
    }
    success = all;
    emit finished();
}
