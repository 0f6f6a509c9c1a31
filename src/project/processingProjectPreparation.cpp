// Preparation of a photo before any pixels are read (main thread): the file checked, its format and
// size read, the rules of a sequence enforced, the project sized at the first photo, the colour
// profile settled and the id assigned. Every refusal is one text "<file>: <reason>" (base/failure.h).

#include "project/processingProject.h"

#include "base/debugLog.h"
#include "base/failure.h"
#include "base/fileHandle.h"
#include "base/hugePageBlock.h"
#include "imageio/imageFormat.h"
#include "imageio/imageLoader.h"
#include "imageio/qtImageReader.h"
#include "imageio/tiffReader.h"

#include <QDir>
#include <QFileInfo>
#include <unistd.h>

namespace {

const char* const kPrepare = "processingProject::loadPhotoPrepare";

// Bytes per pixel the full-size stores of a project take (radiance picture, display image, four
// planes, each with its pyramid levels, which add up to about a third more), plus one decode buffer.
constexpr double kStoreBytesPerPixel = (12.0 + 6.0 + 4 * 2.0) * 4.0 / 3.0 + 6.0;

// True when the stores of a w × h project fit into the machine's memory. Linux promises memory it
// may not have, so an absurd size must be refused before the allocations "succeed".
bool storesFitMemory(int w, int h) {
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return true;
    return double(w) * double(h) * kStoreBytesPerPixel < double(pages) * double(pageSize);
}

QString megabytes(double bytes) {
    return QString::number(bytes / (1024.0 * 1024.0), 'f', 0);
}

/// A refusal detected by the preparation itself: logged once, the text handed back.
bool refuse(QString& text, const QString& fileName, const QString& reason) {
    return halvora::fail(&text, kPrepare, fileName, reason);
}

} // namespace

bool processingProject::loadPhotoPrepare(photoEntry& photo, int position, bool radianceOpened,
                                         QString* error) {
    QString text;
    const bool prepared = preparePhoto(photo, position, radianceOpened, text);
    if (error) *error = text;
    return prepared;
}

bool processingProject::preparePhoto(photoEntry& photo, int position, bool radianceOpened, QString& text) {
    const QString& fileName = photo.fileName;
    photo.exif.clear();
    photo.isRaw = photo.isRadiance = photo.rawNoiseFilter = false;
    photo.included = true;
    photo.bitDepthClass = 0;
    photo.sourceWidth = photo.sourceHeight = 0;
    photo.releaseAll();
    debugLog("Getting image info: %s...\n", QDir::toNativeSeparators(fileName).toLocal8Bit().constData());

    const imageFormat format = halvora::imageFormatOf(fileName);
    if (position == 0) rawChosenInAction_ = false;
    const int p = int(photos.size()) + position;
    if (p > kMaxPhotos - 1)
        return refuse(text, fileName,
                      tr("Too many images!") + " " +
                          tr("(a sequence holds at most %1 photos)").arg(kMaxPhotos));
    if (format == formatUnsupported)
        return refuse(text, fileName,
                      tr("Unsupported image format") + " " +
                          tr("(\"%1\" files are not read)").arg(QFileInfo(fileName).suffix()));
    // Nothing is opened for reading before it is known to be a regular file: a named pipe would wait.
    if (!halvora::checkInputFile(fileName, kPrepare, &text)) return false;

    int w = 0, h = 0;
    if (!readPhotoInfo(photo, format, p, radianceOpened, w, h, text)) return false;
    if (!checkSequenceRules(photo, p, radianceOpened, w, h, text)) return false;
    if (p == 0 && !startSequence(photo, w, h, text)) return false;

    if (colorManagementEnabled) {
        if (colorProfileHook) {
            if (!colorProfileHook(*this, photo, p, int(format), &text)) return false;
        } else {
            debugLog("%s: colour management is not available, '%s' is taken as sRGB\n", kPrepare,
                     QDir::toNativeSeparators(fileName).toLocal8Bit().constData());
        }
    }

    photo.sourceWidth = w;
    photo.sourceHeight = h;
    photo.id = photoIdCounter++;
    debugLog("Image info taken successfully, id=%d\n", photo.id);
    return true;
}

bool processingProject::readPhotoInfo(photoEntry& photo, int format, int p, bool radianceOpened, int& w,
                                      int& h, QString& text) {
    const QString& fileName = photo.fileName;
    bool ok = false;
    const char* failedLine = "Failed to get image info";
    switch (format) {
    case formatJpeg:
    case formatBmp:
    case formatPng:
        ok = halvora::qtImageInfo(fileName, imageFormat(format), w, h, &text);
        photo.bitDepthClass = 1;
        break;
    case formatRaw:
        if (!readRawInfo(photo, w, h, text)) return false;
        ok = true;
        break;
    case formatFits: {
        int channels = 0, bitsPerPixel = 0;
        qint64 dataPosition = 0;
        ok = imageLoader::getFITSinfo(fileName, w, h, channels, bitsPerPixel, dataPosition, &photo.exif,
                                      &text);
        failedLine = "Failed to get FITS image info";
        photo.bitDepthClass = 2;
        break;
    }
    case formatRadianceRgbe:
    case formatOpenExr: {
        // The sequence rule is checked before the options dialog: asking first and refusing after
        // would waste the user's choice.
        if (p >= 1) return refuseSecondRadiance(fileName, radianceOpened, text);
        currentInputFormat = format;
        hdrLoadOptions options = unattendedHdrOptions;
        if (hdrLoadOptionsHook && !hdrLoadOptionsHook(options)) {
            text.clear();
            return false; // cancelled: silent
        }
        options.normalize();
        hdrOptions = options;
        if (format == formatRadianceRgbe) {
            bool primariesPresent = false;
            ok = halvora::getRGBEinfo(fileName, w, h, primaries, primariesPresent, &text);
            customPrimaries = ok && primariesPresent;
            failedLine = "Failed to get Radiance RGBE image info";
        } else {
            ok = halvora::getEXRinfo(fileName, w, h, &text);
            failedLine = "Failed to get OpenEXR image info";
        }
        photo.bitDepthClass = 2;
        photo.isRadiance = true;
        break;
    }
    case formatTiff: {
        int bitsPerSample = 0;
        ok = halvora::tiffQuickInfo(fileName, w, h, bitsPerSample, &text);
        photo.bitDepthClass = bitsPerSample == 16 ? 2 : 1;
        photo.isRadiance = bitsPerSample == 32;
        if (ok && photo.isRadiance && p == 0) hdrOptions = unattendedHdrOptions;
        break;
    }
    default:
        return refuse(text, fileName, tr("Unsupported image format"));
    }
    if (!ok) {
        // The reader wrote the reason; the line of this step carries it on.
        debugLog("%s: %s: %s\n", kPrepare, failedLine, text.toLocal8Bit().constData());
        return false;
    }
    if (!halvora::pictureElements(w, h, 3))
        return refuse(text, fileName, QStringLiteral("impossible picture size %1 x %2").arg(w).arg(h));
    return true;
}

bool processingProject::readRawInfo(photoEntry& photo, int& w, int& h, QString& text) {
    const QString& fileName = photo.fileName;
    rawInfo_t info;
    // The half size is asked for at once: whether it is wanted is only known after the dialog, and
    // a second look at the header costs less than opening the file again.
    if (!halvora::getRAWinfo_DCRAW(fileName, true, info, photo.exif, &text)) {
        debugLog("%s: Failed to get RAW image info: %s\n", kPrepare, text.toLocal8Bit().constData());
        return false;
    }
    rawLoadOptions options;
    if (rawChosenInAction_ && rawOptions.sameForRemaining) {
        options = rawOptions;
    } else {
        options = unattendedRawOptions;
        if (rawLoadOptionsHook && !rawLoadOptionsHook(fileName, info, options)) {
            text.clear();
            return false; // cancelled: silent
        }
    }
    rawOptions = options;
    rawChosenInAction_ = true;
    w = options.halfSize ? info.halfWidth : info.width;
    h = options.halfSize ? info.halfHeight : info.height;
    // The converter turns the picture by the camera's orientation itself: nothing is left to turn.
    photo.exif.orientation = 0;
    photo.bitDepthClass = 2;
    photo.isRaw = true;
    photo.rawNoiseFilter = options.noiseFilter;
    photo.rawOptions = options;
    return true;
}

bool processingProject::refuseSecondRadiance(const QString& fileName, bool radianceOpened, QString& text) {
    if (radianceOpened)
        return refuse(text, fileName,
                      tr("You can load only one HDR image.") + " " +
                          tr("(a radiance image is already open)"));
    return refuse(text, fileName,
                  tr("Cannot load the HDR image right now.") + " " +
                      tr("(a radiance image must be the only picture of a project)"));
}

bool processingProject::checkSequenceRules(const photoEntry& photo, int p, bool radianceOpened, int w, int h,
                                           QString& text) {
    if (p < 1) return true;
    if (radianceOpened || photo.isRadiance) return refuseSecondRadiance(photo.fileName, radianceOpened, text);
    // Either way round: the EXIF orientation may still turn the photo.
    if (!((w == width && h == height) || (w == height && h == width)))
        return refuse(
            text, photo.fileName,
            tr("Wrong image dimensions. All photos must be the same size.") + " " +
                tr("(this one is %1 × %2, the sequence %3 × %4)").arg(w).arg(h).arg(width).arg(height));
    return true;
}

bool processingProject::startSequence(const photoEntry& photo, int w, int h, QString& text) {
    // A new sequence: forget the orientation and start the stores afresh at this size.
    orientationSet = false;
    orientationMode = -1;
    hdrPresent = false;
    const auto stores = {&hdrImage, &resultImage, &lcPlaneFine, &lcPlaneMedium, &lcPlaneCoarse, &maskPlane};
    for (pyramid* store : stores)
        store->release();
    debugLog("Allocating memory for new project. Image size: %d x %d.\n", w, h);
    if (!storesFitMemory(w, h) || !setImageSize(w, h)) {
        for (pyramid* store : stores)
            store->release();
        width = height = decodeWidth = decodeHeight = hdrWidth = hdrHeight = 0;
        return refuse(text, photo.fileName,
                      tr("Not enough memory!") + " " +
                          tr("(a project of %1 × %2 pixels needs about %3 MB)")
                              .arg(w)
                              .arg(h)
                              .arg(megabytes(double(w) * double(h) * kStoreBytesPerPixel)));
    }
    for (pyramid* store : stores)
        halvora::adviseHugePages(store->data<uint8_t>(), store->levelBytes(0));
    return true;
}
