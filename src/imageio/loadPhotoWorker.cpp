#include "imageio/loadPhotoWorker.h"

#include "app/debugLog.h"
#include "app/parallelFor.h"
#include "app/processState.h"
#include "app/processingProject.h"
#include "imageio/imageFormat.h"
#include "imageio/imageTransform.h"
#include "imageio/stripConversion.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMutexLocker>
#include <algorithm>
#include <cstring>

namespace {

const char* const kLoad = "loadPhotoWorker::loadPhoto";

constexpr double kStripPixels = 20000000.0;
constexpr qint64 kLargeFileBytes = 31457280; // 30 MiB

} // namespace

loadPhotoWorker::loadPhotoWorker(processingProject* project, std::unique_ptr<photoEntry> photo,
                                 uint16_t* decodeBuffer, int workerId)
    : project_(project), photo_(std::move(photo)), buffer_(decodeBuffer), workerId_(workerId) {}

loadPhotoWorker::~loadPhotoWorker() = default;

int loadPhotoWorker::stripCount(int width, int height) {
    if (width <= 0 || height <= 0)
        return 1;
    return int(double(width) * double(height) / kStripPixels + 1.0);
}

void loadPhotoWorker::stripRows(int height, int count, int i, int& firstRow, int& rows) {
    const int stripHeight = height / count;
    firstRow = i * stripHeight;
    rows = (i == count - 1) ? height - firstRow : stripHeight;
}

int loadPhotoWorker::waveSize(int width, int height, const QStringList& pendingFiles) {
    const int64_t megapixels = int64_t(width) * int64_t(height) / 1000000;
    int n = megapixels < 11 ? 5 : (megapixels < 21 ? 3 : 2);
    n = std::min({n, halvora::usableThreadCount(), processingProject::kMaxPhotos, int(pendingFiles.size())});
    if (n > 2)
        for (int i = 0; i < n; ++i)
            if (QFileInfo(pendingFiles[i]).size() > kLargeFileBytes) {
                n = 2;
                break;
            }
    return n;
}

uint64_t loadPhotoWorker::progressTotal(int width, int height, int files, bool radianceNoiseFilter) {
    uint64_t total = uint64_t(std::max(0, width) + std::max(0, height)) * uint64_t(std::max(0, files)) * 4;
    if (radianceNoiseFilter)
        total += uint64_t(std::max(0, width) + 2 * uint64_t(std::max(0, height))) * 15;
    return total == 0 ? 1 : total;
}

int loadPhotoWorker::orientationToMode(int orientation) {
    switch (orientation) {
    case 3: return halvora::turn180;
    case 6: return halvora::turnClockwise;
    case 8: return halvora::turnCounterClockwise;
    default: return -1;
    }
}

bool loadPhotoWorker::jpegIsComplete(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 length = file.size();
    if (length < 4)
        return false;
    const uchar* d = file.map(0, length);
    QByteArray copy;
    if (!d) { // a file that cannot be mapped (a pipe, a special file system) is read instead
        copy = file.readAll();
        if (copy.size() != length)
            return false;
        d = reinterpret_cast<const uchar*>(copy.constData());
    }
    const size_t n = size_t(length);
    if (d[0] != 0xFF || d[1] != 0xD8)
        return false;
    size_t pos = 2;
    while (pos < n) {
        if (d[pos] != 0xFF)
            return false; // segments must follow each other
        while (pos < n && d[pos] == 0xFF)
            ++pos; // fill bytes
        if (pos >= n)
            return false;
        const uchar marker = d[pos++];
        if (marker == 0xD9)
            return true;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
            continue; // markers without a length
        if (pos + 2 > n)
            return false;
        const size_t segment = (size_t(d[pos]) << 8) | d[pos + 1];
        if (segment < 2 || pos + segment > n)
            return false;
        pos += segment;
        if (marker != 0xDA)
            continue;
        // Entropy-coded data: runs until a marker other than a stuffed byte or a restart marker.
        for (;;) {
            const void* hit = std::memchr(d + pos, 0xFF, n - pos);
            if (!hit)
                return false;
            pos = size_t(static_cast<const uchar*>(hit) - d);
            if (pos + 1 >= n)
                return false;
            const uchar next = d[pos + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7))
                pos += 2;
            else if (next == 0xFF)
                pos += 1;
            else
                break; // a marker: handled by the outer loop
        }
    }
    return false;
}

void loadPhotoWorker::loadPhoto() {
    QString message;
    result_ = run(message);
    emit finished(result_, message, workerId_);
}

int loadPhotoWorker::run(QString& message) {
    photoEntry& photo = *photo_;
    const QByteArray nameLocal = QDir::toNativeSeparators(photo.fileName).toLocal8Bit();
    const char* const fn = nameLocal.constData();
    debugLog("Loading: %s (id=%d)...\n", fn, photo.id);
    const imageFormat format = imageFormatOf(photo.fileName);
    const int sw = photo.sourceWidth, sh = photo.sourceHeight;
    if (!project_ || !buffer_ || !halvora::pictureElements(sw, sh, 3)) {
        debugLog("%s: nothing to load into for '%s'\n", kLoad, fn);
        return failedToDecode;
    }
    if (abortRequested.load()) {
        message = tr("Loading was interrupted.");
        return failedWithMessage;
    }

    // Decode. The Qt-decoded formats learn their orientation first and are written turned.
    int code = loaded;
    switch (format) {
    case formatJpeg:
    case formatBmp:
    case formatPng:
        if (format == formatJpeg && !jpegIsComplete(photo.fileName)) {
            debugLog("%s: Truncated or damaged JPEG data: '%s'.\n", kLoad, fn);
            return failedToDecode;
        }
        code = applyOrientation(photo.exif.orientation, message);
        if (code != loaded)
            return code;
        if (!decodeQt(sw, sh, mode_, buffer_))
            return failedToDecode;
        break;
    default:
        debugLog("%s: Unsupported image format: '%s'.\n", kLoad, fn);
        return failedToDecode;
    }

    int width = 0, height = 0, previewDivisor = 1, previewWidth = 0, previewHeight = 0;
    {
        QMutexLocker lock(&project_->mutex);
        width = project_->width;
        height = project_->height;
        previewDivisor = project_->previewDivisor;
        previewWidth = project_->previewWidth;
        previewHeight = project_->previewHeight;
    }
    const uint64_t progressStep = 2 * (uint64_t(width) + uint64_t(height));
    halvora::addProgress(progressStep);

    if (!photo.preview.allocate(previewWidth, previewHeight) ||
        !(photo.previewPlane = halvora::allocateBlock<uint8_t>(size_t(previewWidth) * size_t(previewHeight)))) {
        message = tr("Not enough memory!");
        return failedWithMessage;
    }
    std::memset(photo.previewPlane.get(), 0, size_t(previewWidth) * size_t(previewHeight));

    if (!photo.isRadiance) {
        halvora::downscaleRgb16(buffer_, width, height, previewDivisor, photo.preview.pixels());
        photo.thumbnail =
            halvora::buildThumbnail(photo.preview.pixels(), previewWidth, previewHeight, photo.meanBrightness);
        if (!project_->writeToTempFile(photo, photoEntry::slotCurrent, buffer_, size_t(width) * size_t(height) * 6)) {
            message = tr("Cannot write temporary file (no write rights or not enough disk space).");
            return failedWithMessage;
        }
    }
    halvora::addProgress(progressStep);

    photo.weightTable = halvora::allocateBlock<double>(halvora::kSampleTableSize);
    if (!photo.weightTable) {
        message = tr("Not enough memory!");
        return failedWithMessage;
    }
    debugLog("Loaded successfully, id=%d\n", photo.id);
    return loaded;
}

int loadPhotoWorker::applyOrientation(int orientation, QString& message) {
    const int mode = orientationToMode(orientation);
    debugLog("Orientation = %d, mode = %d\n", orientation, mode);
    QMutexLocker lock(&project_->mutex);
    if (!project_->orientationSet) {
        debugLog("- first\n");
        project_->orientationSet = true;
        project_->orientationMode = mode;
        if ((mode == halvora::turnClockwise || mode == halvora::turnCounterClockwise) &&
            !project_->swapOrientedSize()) {
            message = tr("Not enough memory!");
            return failedWithMessage;
        }
    } else {
        debugLog("- next\n");
        if (mode != project_->orientationMode) {
            debugLog("Not all photos have the same orientation!\n");
            message = tr("All photos must have the same orientation.");
            return failedWithMessage;
        }
    }
    // The size check of preparation allowed either way round; after the turn it must match exactly.
    const bool turned = mode == halvora::turnClockwise || mode == halvora::turnCounterClockwise;
    const int w = turned ? photo_->sourceHeight : photo_->sourceWidth;
    const int h = turned ? photo_->sourceWidth : photo_->sourceHeight;
    if (w != project_->width || h != project_->height) {
        debugLog("%s: photo is %d x %d after orientation, the sequence %d x %d\n", kLoad, w, h, project_->width,
                 project_->height);
        message = tr("Wrong image dimensions. All photos must be the same size.");
        return failedWithMessage;
    }
    mode_ = mode;
    return loaded;
}

bool loadPhotoWorker::decodeQt(int width, int height, int mode, uint16_t* dst) {
    const QByteArray nameLocal = QDir::toNativeSeparators(photo_->fileName).toLocal8Bit();
    const int count = stripCount(width, height);
    for (int i = 0; i < count; ++i) {
        int firstRow = 0, rows = 0;
        stripRows(height, count, i, firstRow, rows);
        QImageReader reader(photo_->fileName);
        reader.setAutoTransform(false);
        // A single strip is the whole picture: no clip needed.
        if (count > 1)
            reader.setClipRect(QRect(0, firstRow, width, rows));
        QImage strip;
        const bool sizeOk = reader.size() == QSize(width, height);
        if (!sizeOk || !reader.read(&strip) || strip.width() != width || strip.height() != rows ||
            !halvora::convertStripToRgb16(strip, firstRow, width, height, mode, dst)) {
            debugLog("%s: Failed to load image: '%s', div=%d.\n", kLoad, nameLocal.constData(), count);
            return false;
        }
    }
    return true;
}
