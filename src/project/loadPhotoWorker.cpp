#include "project/loadPhotoWorker.h"

#include "base/debugLog.h"
#include "base/failure.h"
#include "base/fileHandle.h"
#include "base/hugePageBlock.h"
#include "base/parallelFor.h"
#include "base/runContext.h"
#include "imageio/exifReader.h"
#include "imageio/exiftoolDaemon.h"
#include "imageio/imageFormat.h"
#include "imageio/imageLoader.h"
#include "imageio/imageTransform.h"
#include "imageio/qtImageReader.h"
#include "imageio/rawConverter.h"
#include "imageio/rawLoadOptions.h"
#include "imageio/stripConversion.h"
#include "imageio/tiffReader.h"
#include "project/processingProject.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

const char* const kLoad = "loadPhotoWorker::loadPhoto";

constexpr double kStripPixels = 20000000.0;
constexpr qint64 kLargeFileBytes = 31457280; // 30 MiB

// Strip blocks of finished workers, kept for the next photos of the same action: a block that was
// written once costs nothing to write again, a fresh one costs a page fault per page.
QMutex stripPoolMutex;
std::vector<halvora::hugePageBlock> stripPool;

halvora::hugePageBlock takeStripBlock(size_t bytes) {
    {
        QMutexLocker lock(&stripPoolMutex);
        for (auto it = stripPool.begin(); it != stripPool.end(); ++it)
            if (it->size() >= bytes) {
                halvora::hugePageBlock block = std::move(*it);
                stripPool.erase(it);
                return block;
            }
    }
    return halvora::hugePageBlock(bytes);
}

void returnStripBlock(halvora::hugePageBlock block) {
    if (!block) return;
    QMutexLocker lock(&stripPoolMutex);
    if (stripPool.size() < size_t(processingProject::kMaxPhotos)) stripPool.push_back(std::move(block));
}

} // namespace

void loadPhotoWorker::releaseStripBlocks() {
    QMutexLocker lock(&stripPoolMutex);
    stripPool.clear();
}

loadPhotoWorker::loadPhotoWorker(processingProject* project, std::unique_ptr<photoEntry> photo,
                                 uint16_t* decodeBuffer, int workerId)
    : project_(project), photo_(std::move(photo)), buffer_(decodeBuffer), workerId_(workerId) {}

loadPhotoWorker::~loadPhotoWorker() = default;

int loadPhotoWorker::stripCount(int width, int height) {
    if (width <= 0 || height <= 0) return 1;
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
    // One photo more than there are threads goes along with this wave rather than load alone in a
    // wave of its own with every other thread idle (three photos on two cores, the usual bracket).
    const int threads = halvora::usableThreadCount();
    const int pending = int(pendingFiles.size());
    const int wave = threads >= 2 && pending == threads + 1 ? pending : threads;
    n = std::min({n, wave, processingProject::kMaxPhotos, pending});
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
    if (radianceNoiseFilter) total += uint64_t(std::max(0, width) + 2 * uint64_t(std::max(0, height))) * 15;
    return total == 0 ? 1 : total;
}

int loadPhotoWorker::orientationToMode(int orientation) {
    switch (orientation) {
    case 3:
        return halvora::turn180;
    case 6:
        return halvora::turnClockwise;
    case 8:
        return halvora::turnCounterClockwise;
    default:
        return -1;
    }
}

bool loadPhotoWorker::jpegIsComplete(const QString& fileName) {
    QFile file;
    if (!halvora::openInputFile(fileName, file, "loadPhotoWorker::jpegIsComplete", nullptr)) return false;
    const qint64 length = file.size();
    if (length < 4) return false;
    const uchar* d = file.map(0, length);
    QByteArray copy;
    if (!d) { // a file that cannot be mapped (a pipe, a special file system) is read instead
        copy = file.readAll();
        if (copy.size() != length) return false;
        d = reinterpret_cast<const uchar*>(copy.constData());
    }
    const size_t n = size_t(length);
    if (d[0] != 0xFF || d[1] != 0xD8) return false;
    size_t pos = 2;
    while (pos < n) {
        if (d[pos] != 0xFF) return false; // segments must follow each other
        while (pos < n && d[pos] == 0xFF)
            ++pos; // fill bytes
        if (pos >= n) return false;
        const uchar marker = d[pos++];
        if (marker == 0xD9) return true;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue; // markers without a length
        if (pos + 2 > n) return false;
        const size_t segment = (size_t(d[pos]) << 8) | d[pos + 1];
        if (segment < 2 || pos + segment > n) return false;
        pos += segment;
        if (marker != 0xDA) continue;
        // Entropy-coded data: runs until a marker other than a stuffed byte or a restart marker.
        for (;;) {
            const void* hit = std::memchr(d + pos, 0xFF, n - pos);
            if (!hit) return false;
            pos = size_t(static_cast<const uchar*>(hit) - d);
            if (pos + 1 >= n) return false;
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

int loadPhotoWorker::failed(int code, QString& message, const QString& reason) const {
    halvora::fail(&message, kLoad, photo_->fileName, reason);
    return code;
}

int loadPhotoWorker::run(QString& message) {
    photoEntry& photo = *photo_;
    const QByteArray nameLocal = QDir::toNativeSeparators(photo.fileName).toLocal8Bit();
    debugLog("Loading: %s (id=%d)...\n", nameLocal.constData(), photo.id);
    const imageFormat format = halvora::imageFormatOf(photo.fileName);
    const int sw = photo.sourceWidth, sh = photo.sourceHeight;
    if (!project_ || !halvora::pictureElements(sw, sh, 3))
        return failed(failedToDecode, message, "the photo was not prepared for loading");
    if (halvora::cancelRequested()) return failed(failedWithMessage, message, tr("Loading was interrupted."));
    // The file may have been replaced since it was prepared: a named pipe must not block the worker.
    if (!halvora::checkInputFile(photo.fileName, kLoad, &message)) return failedToDecode;

    switch (format) {
    case formatJpeg:
    case formatBmp:
    case formatPng:
        return loadQtFormat(format, message);
    case formatTiff:
        return loadTiff(message);
    case formatFits: {
        if (!buffer_) return failed(failedToDecode, message, "no decode buffer");
        if (!imageLoader::loadFITS(photo.fileName, sw, sh, buffer_, &message)) {
            debugLog("%s: Failed to load FITS image: %s\n", kLoad, message.toLocal8Bit().constData());
            return failedToDecode;
        }
        const int code = applyOrientation(photo.exif.orientation, message);
        if (code != loaded) return code;
        if (mode_ != -1 && !halvora::transformRgb16(buffer_, sw, sh, mode_, halvora::cropRect{}))
            return failed(failedWithMessage, message, notEnoughMemory("turning the photo"));
        return finishFromBuffer(message);
    }
    case formatRaw:
        return loadRaw(message);
    case formatRadianceRgbe:
    case formatOpenExr:
        return loadRadiance(format, message);
    default:
        return failed(failedToDecode, message, tr("Unsupported image format"));
    }
}

int loadPhotoWorker::loadQtFormat(int format, QString& message) {
    photoEntry& photo = *photo_;
    const int sw = photo.sourceWidth, sh = photo.sourceHeight;
    if (format == formatJpeg) {
        if (!jpegIsComplete(photo.fileName))
            return failed(failedToDecode, message,
                          "damaged picture data: the JPEG data end before the end-of-image marker");
        // Read before the pixels (not after, as it costs nothing) so that they can be turned on
        // the way; a photo without EXIF simply keeps orientation 0.
        QString exifError;
        if (!halvora::readJpegExif(photo.fileName, photo.exif, &exifError))
            debugLog("%s: Failed to get JPEGs EXIF: %s\n", kLoad, exifError.toLocal8Bit().constData());
    }
    // The orientation is known before decoding, so the pixels are written turned straight away.
    const int code = applyOrientation(photo.exif.orientation, message);
    if (code != loaded) return code;
    if (stripCount(sw, sh) == 1) return loadWhole(message);
    if (!buffer_) return failed(failedToDecode, message, "no decode buffer");
    if (!decodeQt(sw, sh, mode_, buffer_, message)) return failedToDecode;
    return finishFromBuffer(message);
}

void loadPhotoWorker::toMonitor(QImage& thumbnail) const {
    if (project_->colorManagementEnabled && project_->color.active()) project_->color.toMonitor(thumbnail);
}

void loadPhotoWorker::toWorkingSpace(uint16_t* samples, int rows) const {
    const halvora::colorTransform* convert = photo_->toWorkingSpace.get();
    if (!convert) return;
    const size_t rowSamples = size_t(width_) * 3;
    halvora::parallelFor(rows, [&](int, int64_t begin, int64_t end) {
        convert->apply(samples + size_t(begin) * rowSamples, size_t(end - begin) * size_t(width_));
    });
}

QString loadPhotoWorker::tempFileReason() const {
    return tr("Cannot write temporary file (no write rights or not enough disk space).") + " " +
           tr("(in %1)").arg(QDir::toNativeSeparators(project_->sessionDir));
}

QString loadPhotoWorker::notEnoughMemory(const char* forWhat) {
    return tr("Not enough memory!") + " (" + QString::fromLatin1(forWhat) + ")";
}

void loadPhotoWorker::readProjectSizes() {
    QMutexLocker lock(&project_->mutex);
    width_ = project_->width;
    height_ = project_->height;
    previewDivisor_ = project_->previewDivisor;
    previewWidth_ = project_->previewWidth;
    previewHeight_ = project_->previewHeight;
}

bool loadPhotoWorker::allocatePreview() {
    photoEntry& photo = *photo_;
    const size_t area = size_t(previewWidth_) * size_t(previewHeight_);
    if (!photo.preview.allocate(previewWidth_, previewHeight_) ||
        !(photo.previewPlane = halvora::allocateBlock<uint8_t>(area)))
        return false;
    std::memset(photo.previewPlane.get(), 0, area);
    return true;
}

int loadPhotoWorker::finishFromBuffer(QString& message) {
    photoEntry& photo = *photo_;
    readProjectSizes();
    const uint64_t progressStep = 2 * (uint64_t(width_) + uint64_t(height_));
    halvora::addProgress(progressStep);
    if (!allocatePreview()) return failed(failedWithMessage, message, notEnoughMemory("preview"));
    if (!photo.isRadiance) {
        toWorkingSpace(buffer_, height_);
        halvora::downscaleRgb16(buffer_, width_, height_, previewDivisor_, photo.preview.pixels());
        photo.thumbnail = halvora::buildThumbnail(photo.preview.pixels(), previewWidth_, previewHeight_,
                                                  photo.meanBrightness);
        toMonitor(photo.thumbnail);
        if (!project_->writeToTempFile(photo, photoEntry::slotCurrent, buffer_,
                                       size_t(width_) * size_t(height_) * 6))
            return failed(failedWithMessage, message, tempFileReason());
    }
    halvora::addProgress(progressStep);
    return finishLoad(message);
}

int loadPhotoWorker::loadRaw(QString& message) {
    photoEntry& photo = *photo_;
    const int sw = photo.sourceWidth, sh = photo.sourceHeight;
    if (!buffer_) return failed(failedToDecode, message, "no decode buffer");
    if (!halvora::loadRAW_DCRAW(photo.fileName, halvora::buildDcrawArgs(photo.rawOptions, false), sw, sh,
                                buffer_, nullptr, &message)) {
        debugLog("%s: Failed to load RAW image: %s\n", kLoad, message.toLocal8Bit().constData());
        return failedToDecode;
    }
    // The converter has turned the picture already; the step still keeps the sequence's rule.
    const int code = applyOrientation(photo.exif.orientation, message);
    if (code != loaded) return code;
    return finishFromBuffer(message);
}

void loadPhotoWorker::completeExposureData() {
    photoEntry& photo = *photo_;
    exiftoolDaemon* tool = project_->metadataTool;
    const imageFormat format = halvora::imageFormatOf(photo.fileName);
    if (!tool || photo.isRadiance || !(format == formatJpeg || format == formatTiff || format == formatRaw))
        return;
    const exifInfo_t& e = photo.exif;
    const bool complete = e.exposureTime > 0 && e.fNumber > 0 && e.iso > 0;
    // A photo without any camera EXIF has no maker notes either.
    const bool partial =
        e.cameraMake[0] || e.cameraModel[0] || e.exposureTime > 0 || e.fNumber > 0 || e.iso > 0;
    if (format != formatRaw && (complete || !partial)) return;
    const QByteArray name = QDir::toNativeSeparators(photo.fileName).toLocal8Bit();
    if (format == formatRaw)
        debugLog("RAW photo. Using Exiftool to get its exposure data from maker notes (%s)...\n",
                 name.constData());
    else
        debugLog(
            "Partial EXIF found in JPEG/TIFF. Using Exiftool to try to get more from maker notes (%s)...\n",
            name.constData());
    exiftoolTags tags;
    QString error;
    // A failed query leaves the EXIF as it was: the EVs fall back to the other sources.
    if (!tool->getExifExiftool(photo.fileName, format, tags, &error)) return;
    halvora::applyExiftoolExposure(tags, photo.exif);
}

int loadPhotoWorker::finishLoad(QString& message) {
    if (!photo_->isRadiance) completeExposureData();
    photo_->weightTable = halvora::allocateBlock<double>(halvora::kSampleTableSize);
    if (!photo_->weightTable) return failed(failedWithMessage, message, notEnoughMemory("work block"));
    debugLog("Loaded successfully, id=%d\n", photo_->id);
    return loaded;
}

int loadPhotoWorker::loadWhole(QString& message) {
    photoEntry& photo = *photo_;
    const int sw = photo.sourceWidth, sh = photo.sourceHeight;
    halvora::hugePageBlock block = takeStripBlock(size_t(sw) * size_t(sh) * 4);
    struct giveBack {
        halvora::hugePageBlock& block;
        ~giveBack() { returnStripBlock(std::move(block)); }
    } back{block};
    QImage decoded;
    if (!decodeWhole(block, decoded, message)) return failedToDecode;
    // Rare layouts are brought to 32-bit pixels once here, not piece by piece.
    if (decoded.format() != QImage::Format_RGB32 && decoded.format() != QImage::Format_ARGB32 &&
        decoded.format() != QImage::Format_Grayscale8 && decoded.format() != QImage::Format_Indexed8)
        decoded = decoded.convertToFormat(QImage::Format_RGB32);

    readProjectSizes();
    const uint64_t progressStep = 2 * (uint64_t(width_) + uint64_t(height_));
    halvora::addProgress(progressStep);
    if (!allocatePreview()) return failed(failedWithMessage, message, notEnoughMemory("preview"));

    // The turned picture is produced a few rows at a time — preview rows and the temporary file are
    // filled from each piece — so the full-size samples never sit in memory.
    const int d = previewDivisor_;
    const int pieceRows = d * std::max(1, 32 / d);
    halvora::hugePageBlock pieceBlock(size_t(pieceRows) * size_t(width_) * 6);
    uint16_t* const piece = reinterpret_cast<uint16_t*>(pieceBlock.data());
    tempFileRecord* record = piece ? project_->attachNewTempFile(photo, photoEntry::slotCurrent) : nullptr;
    if (!piece) return failed(failedWithMessage, message, notEnoughMemory("a piece of the turned photo"));
    bool written = record != nullptr;
    for (int row = 0; written && row < height_; row += pieceRows) {
        const int rows = std::min(pieceRows, height_ - row);
        if (!halvora::convertRowsToRgb16(decoded, mode_, row, rows, piece)) {
            photo.tempFiles[photoEntry::slotCurrent].reset();
            return failed(failedToDecode, message, "the decoded picture cannot be converted");
        }
        toWorkingSpace(piece, rows);
        halvora::downscaleRgb16(piece, width_, rows, d,
                                photo.preview.pixels() + size_t(row / d) * size_t(previewWidth_) * 3);
        written =
            record->append(piece, size_t(rows) * size_t(width_) * 6, "processingProject::writeToTempFile");
    }
    if (!written ||
        !record->finish(size_t(width_) * size_t(height_) * 6, "processingProject::writeToTempFile")) {
        photo.tempFiles[photoEntry::slotCurrent].reset();
        return failed(failedWithMessage, message, tempFileReason());
    }
    photo.thumbnail =
        halvora::buildThumbnail(photo.preview.pixels(), previewWidth_, previewHeight_, photo.meanBrightness);
    toMonitor(photo.thumbnail);
    halvora::addProgress(progressStep);
    return finishLoad(message);
}

bool loadPhotoWorker::decodeWhole(halvora::hugePageBlock& block, QImage& decoded, QString& message) {
    const int w = photo_->sourceWidth, h = photo_->sourceHeight;
    // Decoding into a block of our own (the toolkit reuses an image of the right size and format)
    // saves a fresh allocation per photo.
    if (block) decoded = QImage(block.data(), w, h, qsizetype(w) * 4, QImage::Format_RGB32);
    if (halvora::qtImageRead(photo_->fileName, halvora::imageFormatOf(photo_->fileName), QSize(w, h), QRect(),
                             decoded, &message))
        return true;
    debugLog("%s: Failed to load image: %s, div=1.\n", kLoad, message.toLocal8Bit().constData());
    return false;
}

int loadPhotoWorker::loadTiff(QString& message) {
    photoEntry& photo = *photo_;
    const int sw = photo.sourceWidth, sh = photo.sourceHeight;
    // The reader writes as many pixels as the file says: make sure it still says what it said when
    // the buffers were sized.
    int w = 0, h = 0, bits = 0;
    if (!halvora::tiffQuickInfo(photo.fileName, w, h, bits, &message)) {
        debugLog("%s: Failed to load TIFF image: %s\n", kLoad, message.toLocal8Bit().constData());
        return failedToDecode;
    }
    if (w != sw || h != sh || (bits == 32) != photo.isRadiance)
        return failed(failedToDecode, message,
                      QStringLiteral("now holds a %1 × %2 picture of %3 bits instead of the %4 × %5 it held")
                          .arg(w)
                          .arg(h)
                          .arg(bits)
                          .arg(sw)
                          .arg(sh));
    float* radiance = photo.isRadiance ? project_->rgbFloatBuffer() : nullptr;
    if (photo.isRadiance ? !radiance : !buffer_) return failed(failedToDecode, message, "no decode buffer");
    float minimum = 0, maximum = 0;
    if (!imageLoader::loadTIFF(photo.fileName, photo.isRadiance ? nullptr : buffer_, radiance, minimum,
                               maximum, photo.exif, &message)) {
        debugLog("%s: Failed to load TIFF image: %s\n", kLoad, message.toLocal8Bit().constData());
        return failedToDecode;
    }
    const int code = applyOrientation(photo.exif.orientation, message);
    if (code != loaded) return code;
    if (!photo.isRadiance) {
        if (mode_ != -1 && !halvora::transformRgb16(buffer_, sw, sh, mode_, halvora::cropRect{}))
            return failed(failedWithMessage, message, notEnoughMemory("turning the photo"));
        return finishFromBuffer(message);
    }
    for (int c = 0; mode_ != -1 && c < 3; ++c)
        if (!halvora::transformFloatChannel(radiance, sw, sh, c, mode_, halvora::cropRect{}))
            return failed(failedWithMessage, message, notEnoughMemory("turning the photo"));
    debugLog("Radiance range: %g ... %g\n", double(minimum), double(maximum));
    return finishRadiance(message);
}

int loadPhotoWorker::finishRadiance(QString& message) {
    photoEntry& photo = *photo_;
    readProjectSizes();
    const uint64_t progressStep = 2 * (uint64_t(width_) + uint64_t(height_));
    halvora::addProgress(progressStep);
    if (!allocatePreview()) return failed(failedWithMessage, message, notEnoughMemory("preview"));
    halvora::addProgress(progressStep);
    halvora::downscaleFloat(project_->rgbFloatBuffer(), width_, height_, previewDivisor_, 1.0,
                            photo.preview.pixels());
    photo.thumbnail =
        halvora::buildThumbnail(photo.preview.pixels(), previewWidth_, previewHeight_, photo.meanBrightness);
    toMonitor(photo.thumbnail);
    return finishLoad(message);
}

int loadPhotoWorker::loadRadiance(int format, QString& message) {
    photoEntry& photo = *photo_;
    const int w = photo.sourceWidth, h = photo.sourceHeight;
    readProjectSizes();
    float* radiance = project_->rgbFloatBuffer();
    // The radiance picture is the project's own, sized by this (the only) photo's preparation.
    if (!radiance || w != width_ || h != height_ ||
        project_->hdrImage.levelBytes(0) < size_t(w) * size_t(h) * 12)
        return failed(
            failedToDecode, message,
            QStringLiteral("the project holds no radiance picture of %1 × %2 to load into").arg(w).arg(h));
    float minimum = 0, maximum = 0;
    const bool rgbe = format == formatRadianceRgbe;
    const bool ok =
        rgbe ? imageLoader::loadRadianceRGBE(photo.fileName, w, h, radiance, maximum, minimum, &message)
             : halvora::loadEXR(photo.fileName, w, h, radiance, minimum, maximum, &message);
    if (!ok) {
        debugLog("%s: %s: %s\n", kLoad,
                 rgbe ? "Failed to load Radiance RGBE image" : "Failed to load OpenEXR image",
                 message.toLocal8Bit().constData());
        return failedToDecode;
    }
    debugLog("Radiance range: %g ... %g\n", double(minimum), double(maximum));
    return finishRadiance(message);
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
            !project_->swapOrientedSize())
            return failed(failedWithMessage, message, notEnoughMemory("the turned project"));
    } else {
        debugLog("- next\n");
        if (mode != project_->orientationMode) {
            debugLog("Not all photos have the same orientation!\n");
            return failed(failedWithMessage, message,
                          tr("All photos must have the same orientation.") + " " +
                              tr("(EXIF orientation %1)").arg(orientation));
        }
    }
    // The size check of preparation allowed either way round; after the turn it must match exactly.
    const bool turned = mode == halvora::turnClockwise || mode == halvora::turnCounterClockwise;
    const int w = turned ? photo_->sourceHeight : photo_->sourceWidth;
    const int h = turned ? photo_->sourceWidth : photo_->sourceHeight;
    if (w != project_->width || h != project_->height)
        return failed(failedWithMessage, message,
                      tr("Wrong image dimensions. All photos must be the same size.") + " " +
                          tr("(this one is %1 × %2 after its EXIF turn, the sequence %3 × %4)")
                              .arg(w)
                              .arg(h)
                              .arg(project_->width)
                              .arg(project_->height));
    mode_ = mode;
    return loaded;
}

bool loadPhotoWorker::decodeQt(int width, int height, int mode, uint16_t* dst, QString& message) {
    const int count = stripCount(width, height);
    const imageFormat format = halvora::imageFormatOf(photo_->fileName);
    // The decoder writes into a block of our own when it decodes to 32-bit pixels (the usual case),
    // so the strip costs no fresh page-by-page allocation inside the toolkit.
    int largest = 0, first = 0;
    stripRows(height, count, count - 1, first, largest);
    halvora::hugePageBlock stripBlock = takeStripBlock(size_t(width) * size_t(largest) * 4);
    struct giveBack {
        halvora::hugePageBlock& block;
        ~giveBack() { returnStripBlock(std::move(block)); }
    } back{stripBlock};
    for (int i = 0; i < count; ++i) {
        int firstRow = 0, rows = 0;
        stripRows(height, count, i, firstRow, rows);
        QImage strip;
        if (stripBlock)
            strip = QImage(stripBlock.data(), width, rows, qsizetype(width) * 4, QImage::Format_RGB32);
        // A single strip is the whole picture: no clip needed.
        const QRect clip = count > 1 ? QRect(0, firstRow, width, rows) : QRect();
        if (!halvora::qtImageRead(photo_->fileName, format, QSize(width, height), clip, strip, &message)) {
            debugLog("%s: Failed to load image: %s, div=%d.\n", kLoad, message.toLocal8Bit().constData(),
                     count);
            return false;
        }
        if (!halvora::convertStripToRgb16(strip, firstRow, width, height, mode, dst)) {
            halvora::fail(&message, kLoad, photo_->fileName,
                          QStringLiteral("strip %1 of %2 cannot be converted").arg(i).arg(count));
            return false;
        }
    }
    return true;
}
