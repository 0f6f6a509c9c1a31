#include "app/automaticRun.h"

#include "app/storedOptions.h"
#include "app/commandLineOptions.h"
#include "base/debugLog.h"

#include <QDir>
#include <QFileInfo>

namespace halvora {

namespace {

bool writableFolder(const QString& dir) {
    const QFileInfo info(dir);
    return info.exists() && info.isDir() && info.isWritable();
}

} // namespace

saveResultRequest automaticSaveRequest(const commandLineOptions& cl, const saveResultOptions_t& persisted,
                                       const QStringList& inputs, QString& error) {
    error.clear();
    saveResultRequest request;
    request.options = persisted;
    if (cl.outputFormat == saveResultOptions_t::formatTiff)
        request.options.tiffBitDepth = cl.tiffBitDepth;
    if (cl.outputToSrgb)
        request.options.convertToSrgb = true;

    QString fileName;
    if (!cl.outputFn.isEmpty()) {
        fileName = cl.outputFn;
        // A bare name has no folder of its own: --output_dir supplies it.
        if (!cl.outputDir.isEmpty() && !fileName.contains('/') && !fileName.contains('\\'))
            fileName = cl.outputDir + "/" + fileName;
        fileName = QFileInfo(fileName).absoluteFilePath();
        const QString suffix = QFileInfo(fileName).suffix().toLower();
        request.options.format = (suffix == "tif" || suffix == "tiff") ? saveResultOptions_t::formatTiff
                                                                        : saveResultOptions_t::formatJpeg;
    } else {
        request.options.format = cl.outputFormat == saveResultOptions_t::formatTiff ? saveResultOptions_t::formatTiff
                                                                                    : saveResultOptions_t::formatJpeg;
        QString dir = cl.outputDir;
        if (dir.isEmpty() && !inputs.isEmpty())
            dir = QFileInfo(inputs.front()).absolutePath();
        dir = QFileInfo(dir).absoluteFilePath();
        fileName = uniqueOutputName(dir, halvora::defaultOutputName(inputs, false), request.options.extension(), false);
    }
    request.options.normalize();

    const QString folder = QFileInfo(fileName).absolutePath();
    if (!writableFolder(folder)) {
        error = QString("The output folder does not exist or cannot be written: %1").arg(QDir::toNativeSeparators(folder));
        debugLog("%s: %s\n", "halvora::automaticSaveRequest", error.toLocal8Bit().constData());
        return request;
    }
    request.fileName = fileName;
    return request;
}

QString automaticHdrOutputPath(const commandLineOptions& cl, QString& error) {
    error.clear();
    if (cl.saveHdr.isEmpty())
        return QString();
    const QString fileName = QFileInfo(cl.saveHdr).absoluteFilePath();
    if (!writableFolder(QFileInfo(fileName).absolutePath())) {
        error = QString("Directory does not exist. HDR save disabled.") + " (" +
                QDir::toNativeSeparators(QFileInfo(fileName).absolutePath()) + ")";
        debugLog("%s: %s\n", "halvora::automaticHdrOutputPath", error.toLocal8Bit().constData());
        return QString();
    }
    return fileName;
}

} // namespace halvora
