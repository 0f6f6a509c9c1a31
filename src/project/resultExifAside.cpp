#include "project/resultExifAside.h"

#include "base/debugLog.h"
#include "imageio/exiftoolDaemon.h"
#include "imageio/jpegSegments.h"
#include "imageio/jpegStreamWriter.h"

#include <QFile>
#include <vector>

namespace {

// The header every stream of this size, quality, resolution and profile starts with: one row of a
// throw-away stream, which is abandoned (nothing is written under `fileName`).
QByteArray resultHeader(const QString& fileName, const saveResultRequest& request, int width, int height) {
    jpegStreamWriter writer("resultExifAside::start");
    QString error;
    if (!writer.open(fileName, width, height, request.options.jpegQuality, request.options.dpi, &error,
                     request.iccProfile))
        return QByteArray();
    const std::vector<uint16_t> row(size_t(width) * 3, 0);
    if (!writer.writeRows(row.data(), 1, {}, &error)) return QByteArray();
    return writer.headerBytes();
}

} // namespace

resultExifAside::resultExifAside(exiftoolDaemon* tool, const resultMetadataSource_t& source,
                                 const QString& folder)
    : tool_(tool), source_(source), standIn_(folder.isEmpty() ? QString() : folder + "result-tags.jpg") {}

resultExifAside::~resultExifAside() {
    thread_.wait();
    if (!standIn_.isEmpty()) QFile::remove(standIn_);
}

bool resultExifAside::start(const saveResultRequest& request, int width, int height) {
    if (started_ || !tool_ || standIn_.isEmpty() || !request.options.transferExif ||
        source_.referencePhoto.isEmpty() || request.options.format != saveResultOptions_t::formatJpeg ||
        width <= 0 || height <= 0)
        return false;
    header_ = resultHeader(standIn_, request, width, height);
    if (header_.isEmpty()) return false;
    QFile standIn(standIn_);
    if (!standIn.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        standIn.write(header_ + QByteArray("\xFF\xD9", 2)) != header_.size() + 2)
        return false;
    standIn.close();
    const int dpi = request.options.dpi;
    started_ = thread_.start(context_, [this, dpi] {
        tagged_ =
            tool_->transferExif(source_.referencePhoto, standIn_, source_.usedPhotos, source_.kind, dpi);
    });
    return started_;
}

metadataTransfer_t resultExifAside::finish(const saveResultRequest& request, QString* error) {
    if (started_) {
        thread_.wait();
        QString reason;
        if (tagged_ && request.success &&
            halvora::spliceJpegMetadata(request.fileName, header_, standIn_, &reason)) {
            debugLog("Exiftool... (tags written beside the tone mapping)\n");
            return metadataTransfer_t::done;
        }
        if (tagged_ && request.success)
            debugLog("%s: %s; the tags are copied into the saved file instead\n", "resultExifAside::finish",
                     reason.toLocal8Bit().constData());
    }
    return halvora::transferResultExif(tool_, source_, request, error);
}
