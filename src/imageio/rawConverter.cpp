#include "imageio/rawConverter.h"

#include "base/debugLog.h"
#include "base/failure.h"
#include "base/parallelFor.h"
#include "base/rgbBuffers.h"
#include "base/runContext.h"
#include "imageio/rawDataExtent.h"
#include "imageio/rawProcessingParams.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstring>
#include <ctime>
#include <libraw/libraw.h>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char* kInfoCaller = "imageLoader::getRAWinfo_DCRAW";
constexpr const char* kThumbCaller = "imageLoader::getThumbFromRAW_DCRAW";
constexpr const char* kLoadCaller = "imageLoader::loadRAW_DCRAW";
constexpr const char* kAreaCaller = "rawAreaChannelMeans";

// The file's bytes, mapped read-only for as long as the object lives.
class mappedRawFile {
public:
    bool open(const QString& fileName, const char* caller, QString* error) {
        const QFileInfo info(fileName);
        if (!info.exists()) return halvora::fail(error, caller, fileName, "the file does not exist");
        // A FIFO or a device would block the reader or never end.
        if (!info.isFile()) return halvora::fail(error, caller, fileName, "not a regular file");
        file_.setFileName(fileName);
        if (!file_.open(QIODevice::ReadOnly))
            return halvora::fail(error, caller, fileName, "cannot be opened: " + file_.errorString());
        if (file_.size() <= 0) return halvora::fail(error, caller, fileName, "the file is empty");
        data_ = file_.map(0, file_.size());
        if (!data_) return halvora::fail(error, caller, fileName, "cannot be read: " + file_.errorString());
        return true;
    }
    const uint8_t* data() const { return data_; }
    size_t length() const { return size_t(file_.size()); }

private:
    QFile file_;
    uchar* data_ = nullptr;
};

struct processedImageDeleter {
    void operator()(libraw_processed_image_t* image) const { LibRaw::dcraw_clear_mem(image); }
};
using processedImage = std::unique_ptr<libraw_processed_image_t, processedImageDeleter>;

// LibRaw's reason in lower case, as the error rule's reasons are written.
QString librawReason(int code) {
    return halvora::asReason(QString::fromUtf8(libraw_strerror(code)));
}

QString converterFailure(int code) {
    return "failed to run the RAW converter: " + librawReason(code);
}

// Damage LibRaw met while decoding: it reports it through a callback and carries on with whatever
// it could read, so a truncated file would otherwise load as a partly black picture.
struct dataDamage {
    bool seen = false;
    int offset = -1; ///< -1: the file ended too early
};

void noteDamage(void* data, const char*, const int offset) {
    auto* damage = static_cast<dataDamage*>(data);
    if (!damage->seen) {
        damage->seen = true;
        damage->offset = offset;
    }
}

QString damageReason(const dataDamage& damage) {
    return damage.offset < 0 ? QString("the RAW data end before the picture is complete")
                             : QString("the RAW data are damaged near byte %1").arg(damage.offset);
}

// A LibRaw object on the heap (it is large), without LibRaw's own messages on standard error; data
// damage goes to `damage` instead.
std::unique_ptr<LibRaw> newConverter(dataDamage* damage = nullptr) {
    auto raw = std::make_unique<LibRaw>(LIBRAW_OPIONS_NO_MEMERR_CALLBACK | LIBRAW_OPIONS_NO_DATAERR_CALLBACK);
    if (damage) raw->set_dataerror_handler(noteDamage, damage);
    return raw;
}

// LibRaw reports its errors as codes; anything thrown past that (an allocation failure) is one more.
template <class Call> int guarded(Call&& call) {
    try {
        return call();
    } catch (...) {
        return LIBRAW_UNSPECIFIED_ERROR;
    }
}

// Identification of a file in a child process. LibRaw's header parsers have crashed the whole program
// on crafted files (a Hasselblad model name overflowing a fixed buffer in LibRaw 0.20), so the first
// look at a file's header is taken where such a crash only ends the child. False with a reason when
// the child died or did not finish; the parent then never lets LibRaw read the file.
std::atomic<bool> isolateIdentification{true};

bool identifiesWithoutCrashing(const uint8_t* data, size_t length, QString& reason) {
    if (!isolateIdentification.load(std::memory_order_relaxed)) return true;
    const pid_t child = fork();
    if (child < 0) return true; // no process to spare: read it here, as without the check
    if (child == 0) {
        // Only the parser runs here; no Qt, no locks of the parent's threads.
        // On the heap: the object is some 750 kB, more than a worker thread's stack should carry.
        const auto raw = newConverter();
        raw->open_buffer(const_cast<uint8_t*>(data), length);
        _exit(0);
    }
    int status = 0;
    // Identification takes milliseconds; ten seconds means the parser is caught in a loop.
    for (int waited = 0; waitpid(child, &status, WNOHANG) == 0; ++waited) {
        if (waited >= 10000) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            reason = "the RAW converter did not finish reading the file's header";
            return false;
        }
        usleep(1000);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    reason =
        WIFSIGNALED(status)
            ? QString("the RAW converter crashed reading the file's header (signal %1)").arg(WTERMSIG(status))
            : QString("the RAW converter stopped reading the file's header");
    return false;
}

int openBuffer(LibRaw& raw, const uint8_t* data, size_t length) {
    // LibRaw only reads the buffer; its interface is not const.
    return guarded([&] { return raw.open_buffer(const_cast<uint8_t*>(data), length); });
}

// Copies a NUL-terminated text, cut to fit and always terminated.
void copyText(char* dst, size_t capacity, const char* src) {
    const size_t n = std::min(std::strlen(src), capacity - 1);
    std::memcpy(dst, src, n);
    std::memset(dst + n, 0, capacity - n);
}

// The camera data of an identified file, in the units of the EXIF reader.
void fillExif(const libraw_data_t& d, exifInfo_t& exif) {
    copyText(exif.cameraMake, sizeof exif.cameraMake, d.idata.make);
    copyText(exif.cameraModel, sizeof exif.cameraModel, d.idata.model);
    if (d.other.timestamp > 0) {
        const time_t t = d.other.timestamp;
        std::tm local{};
        if (localtime_r(&t, &local))
            std::strftime(exif.dateTime, sizeof exif.dateTime, "%Y:%m:%d %H:%M:%S", &local);
    }
    if (std::isfinite(d.other.focal_len) && d.other.focal_len > 0) exif.focalLength = d.other.focal_len;
    if (std::isfinite(d.other.iso_speed) && d.other.iso_speed > 0 && d.other.iso_speed < 1e7f)
        exif.iso = int32_t(std::lround(d.other.iso_speed));
    if (std::isfinite(d.other.aperture) && d.other.aperture > 0) exif.fNumber = d.other.aperture;
    const float shutter = d.other.shutter;
    if (std::isfinite(shutter) && shutter > 0 && shutter < 1e6f) {
        if (shutter < 1.0f) {
            // A fraction 1/d with d to a tenth, as the converter has always written short exposures
            // ("1/250.0 sec"): 0.004 must give 250, not 249 from the float's error.
            const double d = std::round(10.0 / shutter) / 10.0;
            exif.exposureTimeNum = 1;
            exif.exposureTimeDen = uint32_t(d);
            exif.exposureTime = float(1.0 / d);
        } else {
            exif.exposureTimeNum = 0;
            exif.exposureTimeDen = 0;
            exif.exposureTime = shutter;
        }
    }
}

// Most pixels one byte of picture data can hold. Lossless RAW data take one to two bytes a pixel and
// even lossy DNG or C-RAW files of a black frame stay far below this; files that declare millions of
// pixels over a few hundred bytes (cut-off or metadata-only files) are refused before LibRaw reserves
// memory for them and returns a black or random picture.
constexpr double kMaxPixelsPerByte = 256.0;

// The declared picture against the bytes the file really has after the picture data's start.
bool checkDataFits(LibRaw& raw, const uint8_t* data, size_t length, QString& reason) {
    if (!halvora::rawPictureDataInsideFile(data, length, reason)) return false;
    const auto& unpacker = raw.get_internal_data_pointer()->unpacker_data;
    const int64_t offset = unpacker.data_offset;
    const int64_t size = unpacker.data_size;
    const double pixels = double(raw.imgdata.sizes.raw_width) * raw.imgdata.sizes.raw_height;
    if (offset < 0 || uint64_t(offset) >= length) {
        reason = QString("the picture data start at byte %1, beyond the end of the file (%2 bytes)")
                     .arg(offset)
                     .arg(length);
        return false;
    }
    if (size > 0 && uint64_t(offset + size) > length) {
        reason =
            QString("the file ends before its picture data: %1 bytes at byte %2, but the file has %3 bytes")
                .arg(size)
                .arg(offset)
                .arg(length);
        return false;
    }
    const double available = double(length - uint64_t(offset));
    if (pixels > available * kMaxPixelsPerByte) {
        reason = QString("declares %1 × %2 pixels but holds only %3 bytes of picture data")
                     .arg(raw.imgdata.sizes.raw_width)
                     .arg(raw.imgdata.sizes.raw_height)
                     .arg(int64_t(available));
        return false;
    }
    return true;
}

// Output size for the current parameters (half size, rotation) of a freshly opened file.
bool outputSize(LibRaw& raw, int& width, int& height) {
    if (guarded([&] { return raw.adjust_sizes_info_only(); }) != LIBRAW_SUCCESS) return false;
    width = raw.imgdata.sizes.iwidth;
    height = raw.imgdata.sizes.iheight;
    return width > 0 && height > 0;
}

int cancelOnRequest(void*, LibRaw_progress, int, int) {
    return halvora::cancelRequested() ? 1 : 0;
}

struct convertRaw_threadParams_t {
    const libraw_processed_image_t* image;
    uint16_t* rgb16;
    uint8_t* rgb8;
};

// Rows [r0, r1) of the decoded picture into the destination.
void convertRows(const convertRaw_threadParams_t& p, int64_t r0, int64_t r1) {
    const libraw_processed_image_t& img = *p.image;
    const size_t w = img.width;
    const int colors = img.colors;
    // One-colour pictures (monochrome sensors) become grey: R = G = B.
    const int c1 = colors >= 3 ? 1 : 0, c2 = colors >= 3 ? 2 : 0;
    for (int64_t y = r0; y < r1; ++y) {
        const size_t first = size_t(y) * w;
        if (img.bits == 16) {
            const uint16_t* in = reinterpret_cast<const uint16_t*>(img.data) + first * colors;
            if (p.rgb16) {
                uint16_t* out = p.rgb16 + first * 3;
                for (size_t x = 0; x < w; ++x, in += colors, out += 3) {
                    out[0] = uint16_t(std::min(in[0] >> 1, halvora::kFullScale));
                    out[1] = uint16_t(std::min(in[c1] >> 1, halvora::kFullScale));
                    out[2] = uint16_t(std::min(in[c2] >> 1, halvora::kFullScale));
                }
            } else {
                uint8_t* out = p.rgb8 + first * 3;
                for (size_t x = 0; x < w; ++x, in += colors, out += 3) {
                    out[0] = uint8_t(in[0] >> 8);
                    out[1] = uint8_t(in[c1] >> 8);
                    out[2] = uint8_t(in[c2] >> 8);
                }
            }
        } else {
            const uint8_t* in = img.data + first * colors;
            if (p.rgb16) {
                uint16_t* out = p.rgb16 + first * 3;
                for (size_t x = 0; x < w; ++x, in += colors, out += 3) {
                    out[0] = uint16_t(in[0] * 128);
                    out[1] = uint16_t(in[c1] * 128);
                    out[2] = uint16_t(in[c2] * 128);
                }
            } else {
                uint8_t* out = p.rgb8 + first * 3;
                for (size_t x = 0; x < w; ++x, in += colors, out += 3) {
                    out[0] = in[0];
                    out[1] = in[c1];
                    out[2] = in[c2];
                }
            }
        }
        halvora::addProgress(1);
    }
}

} // namespace

namespace halvora {

void setRawIdentificationIsolated(bool isolated) {
    isolateIdentification.store(isolated);
}

bool getRAWinfoFromMemory(const uint8_t* data, size_t length, const QString& fileName, bool wantHalfSize,
                          rawInfo_t& info, exifInfo_t& exif, QString* error) {
    info = rawInfo_t{};
    QString crash;
    if (!identifiesWithoutCrashing(data, length, crash))
        return halvora::fail(error, kInfoCaller, fileName, crash);
    auto raw = newConverter();
    int code = openBuffer(*raw, data, length);
    if (code != LIBRAW_SUCCESS) return halvora::fail(error, kInfoCaller, fileName, converterFailure(code));
    QString reason;
    if (!checkDataFits(*raw, data, length, reason))
        return halvora::fail(error, kInfoCaller, fileName, reason);
    const bool sized = outputSize(*raw, info.width, info.height);
    debugLog("S = %d x %d\n", info.width, info.height);
    if (!sized)
        return halvora::fail(error, kInfoCaller, fileName, "the RAW converter reports no picture size");

    const libraw_data_t& d = raw->imgdata;
    fillExif(d, exif);
    info.filterPattern = d.idata.filters != 0;
    info.flip = d.sizes.flip;
    info.colors = d.idata.colors;
    for (int c = 0; c < 4; ++c) {
        info.daylightMultipliers[c] = d.color.pre_mul[c];
        info.cameraMultipliers[c] = d.color.cam_mul[c];
    }
    if (d.idata.colors == 3)
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                info.cameraToRgb[r][c] = d.color.rgb_cam[r][c];

    if (wantHalfSize) {
        raw->recycle();
        raw->imgdata.params.half_size = 1;
        code = openBuffer(*raw, data, length);
        if (code != LIBRAW_SUCCESS)
            return halvora::fail(error, kInfoCaller, fileName, converterFailure(code));
        const bool halfSized = outputSize(*raw, info.halfWidth, info.halfHeight);
        debugLog("SH = %d x %d\n", info.halfWidth, info.halfHeight);
        if (!halfSized)
            return halvora::fail(error, kInfoCaller, fileName,
                                 "the RAW converter reports no half-size picture size");
    }
    return true;
}

bool getRAWinfo_DCRAW(const QString& fileName, bool wantHalfSize, rawInfo_t& info, exifInfo_t& exif,
                      QString* error) {
    mappedRawFile file;
    if (!file.open(fileName, kInfoCaller, error)) return false;
    return getRAWinfoFromMemory(file.data(), file.length(), fileName, wantHalfSize, info, exif, error);
}

bool getThumbFromRAWmemory(const uint8_t* data, size_t length, const QString& fileName, QImage& thumbnail,
                           QString* error) {
    thumbnail = QImage();
    QString crash;
    if (!identifiesWithoutCrashing(data, length, crash))
        return halvora::fail(error, kThumbCaller, fileName, crash);
    auto raw = newConverter();
    int code = openBuffer(*raw, data, length);
    if (code != LIBRAW_SUCCESS) return halvora::fail(error, kThumbCaller, fileName, converterFailure(code));
    code = guarded([&] { return raw->unpack_thumb(); });
    if (code == LIBRAW_NO_THUMBNAIL || code == LIBRAW_UNSUPPORTED_THUMBNAIL)
        return halvora::fail(error, kThumbCaller, fileName, "no thumbnail in RAW");
    if (code != LIBRAW_SUCCESS) return halvora::fail(error, kThumbCaller, fileName, converterFailure(code));
    processedImage image(raw->dcraw_make_mem_thumb(&code));
    if (!image) return halvora::fail(error, kThumbCaller, fileName, converterFailure(code));

    if (image->type == LIBRAW_IMAGE_JPEG) {
        thumbnail = QImage::fromData(image->data, int(std::min<size_t>(image->data_size, INT32_MAX)));
    } else if (image->type == LIBRAW_IMAGE_BITMAP && image->bits == 8 &&
               (image->colors == 3 || image->colors == 1) &&
               size_t(image->width) * image->height * image->colors <= image->data_size) {
        const QImage::Format format = image->colors == 3 ? QImage::Format_RGB888 : QImage::Format_Grayscale8;
        // QImage does not own the bytes it wraps: copy before LibRaw's block goes.
        thumbnail =
            QImage(image->data, image->width, image->height, int(image->width) * image->colors, format)
                .copy();
    }
    if (thumbnail.isNull())
        return halvora::fail(error, kThumbCaller, fileName, "the embedded preview cannot be decoded");
    return true;
}

bool getThumbFromRAW_DCRAW(const QString& fileName, QImage& thumbnail, QString* error) {
    mappedRawFile file;
    if (!file.open(fileName, kThumbCaller, error)) return false;
    return getThumbFromRAWmemory(file.data(), file.length(), fileName, thumbnail, error);
}

bool rawAreaChannelMeansFromMemory(const uint8_t* data, size_t length, const QString& fileName,
                                   QPointF relative, bool turned, int radius, double means[4], int& colors,
                                   QString* error) {
    if (radius < 0 || radius > 64) return halvora::fail(error, kAreaCaller, fileName, "invalid area size");
    if (!(relative.x() >= 0 && relative.x() < 1 && relative.y() >= 0 && relative.y() < 1))
        return halvora::fail(
            error, kAreaCaller, fileName,
            QString("the point (%1, %2) is off the picture").arg(relative.x()).arg(relative.y()));
    QString crash;
    if (!identifiesWithoutCrashing(data, length, crash))
        return halvora::fail(error, kAreaCaller, fileName, crash);
    dataDamage damage;
    auto raw = newConverter(&damage);
    // At half size every pixel holds one sample of each filter of its 2 × 2 block: all channels at once.
    raw->imgdata.params.half_size = 1;
    int code = openBuffer(*raw, data, length);
    if (code != LIBRAW_SUCCESS) return halvora::fail(error, kAreaCaller, fileName, converterFailure(code));
    QString reason;
    if (!checkDataFits(*raw, data, length, reason))
        return halvora::fail(error, kAreaCaller, fileName, reason);
    code = guarded([&] { return raw->unpack(); });
    if (code == LIBRAW_SUCCESS) code = guarded([&] { return raw->raw2image_ex(1); }); // black subtracted
    if (code != LIBRAW_SUCCESS) return halvora::fail(error, kAreaCaller, fileName, converterFailure(code));
    if (damage.seen) return halvora::fail(error, kAreaCaller, fileName, damageReason(damage));
    const libraw_data_t& d = raw->imgdata;
    const int w = d.sizes.iwidth, h = d.sizes.iheight, flip = turned ? d.sizes.flip : 0;
    colors = std::clamp(int(d.idata.colors), 1, 4);
    if (!d.image || w <= 0 || h <= 0) return halvora::fail(error, kAreaCaller, fileName, "no picture data");
    // The samples are stored unturned. LibRaw's turn: bit 4 swaps rows and columns, bit 2 mirrors the
    // rows, bit 1 the columns.
    const int outWidth = flip & 4 ? h : w, outHeight = flip & 4 ? w : h;
    const int x = std::min(int(relative.x() * outWidth), outWidth - 1);
    const int y = std::min(int(relative.y() * outHeight), outHeight - 1);
    // Samples this close to the white level may be clipped in one filter and not in another.
    const double clipped = double(d.color.maximum) * (1.0 - 1.0 / 64.0);
    double sum[4] = {0, 0, 0, 0};
    int64_t count = 0;
    for (int oy = y - radius; oy <= y + radius; ++oy)
        for (int ox = x - radius; ox <= x + radius; ++ox) {
            if (ox < 0 || oy < 0 || ox >= outWidth || oy >= outHeight) continue;
            const QPoint stored = storedRawPixel(ox, oy, flip, w, h);
            const uint16_t* p = d.image[size_t(stored.y()) * size_t(w) + size_t(stored.x())];
            bool usable = true;
            for (int c = 0; c < colors; ++c)
                usable = usable && p[c] > 0 && p[c] < clipped;
            if (!usable) continue;
            for (int c = 0; c < colors; ++c)
                sum[c] += p[c];
            ++count;
        }
    if (count == 0)
        return halvora::fail(error, kAreaCaller, fileName,
                             "the picked area is clipped or black in one of the sensor's colours");
    for (int c = 0; c < 4; ++c)
        means[c] = c < colors ? sum[c] / double(count) : 0.0;
    return true;
}

bool rawAreaChannelMeans(const QString& fileName, QPointF relative, bool turned, int radius, double means[4],
                         int& colors, QString* error) {
    mappedRawFile file;
    if (!file.open(fileName, kAreaCaller, error)) return false;
    return rawAreaChannelMeansFromMemory(file.data(), file.length(), fileName, relative, turned, radius,
                                         means, colors, error);
}

bool loadRAWfromMemory(const uint8_t* data, size_t length, const QString& fileName, const QStringList& args,
                       int width, int height, uint16_t* rgb16, uint8_t* rgb8, QString* error) {
    if ((rgb16 == nullptr) == (rgb8 == nullptr) || width <= 0 || height <= 0)
        return halvora::fail(error, kLoadCaller, fileName, "no destination of a valid size");
    QString crash;
    if (!identifiesWithoutCrashing(data, length, crash))
        return halvora::fail(error, kLoadCaller, fileName, crash);
    dataDamage damage;
    auto raw = newConverter(&damage);
    // Some options (the shot number) are read while the file is opened, so they go first.
    if (!dcrawArgsToLibRaw(args, raw->imgdata.params, error)) return false;
    raw->set_progress_handler(cancelOnRequest, nullptr);
    int code = openBuffer(*raw, data, length);
    if (code != LIBRAW_SUCCESS) return halvora::fail(error, kLoadCaller, fileName, converterFailure(code));
    QString reason;
    if (!checkDataFits(*raw, data, length, reason))
        return halvora::fail(error, kLoadCaller, fileName, reason);
    code = guarded([&] { return raw->unpack(); });
    if (code == LIBRAW_SUCCESS) code = guarded([&] { return raw->dcraw_process(); });
    if (code == LIBRAW_CANCELLED_BY_CALLBACK || halvora::cancelRequested())
        return halvora::fail(error, kLoadCaller, fileName, "cancelled");
    if (code != LIBRAW_SUCCESS) return halvora::fail(error, kLoadCaller, fileName, converterFailure(code));
    if (damage.seen) return halvora::fail(error, kLoadCaller, fileName, damageReason(damage));
    processedImage image(raw->dcraw_make_mem_image(&code));
    if (!image) return halvora::fail(error, kLoadCaller, fileName, converterFailure(code));
    raw->recycle(); // the working copies are no longer needed; only the output picture stays

    const libraw_processed_image_t& img = *image;
    debugLog("sx2=%d, sy2=%d, depth2=%d\n", int(img.width), int(img.height), int(img.bits));
    const bool usable = img.type == LIBRAW_IMAGE_BITMAP && (img.bits == 8 || img.bits == 16) &&
                        (img.colors == 3 || img.colors == 1) &&
                        size_t(img.width) * img.height * img.colors * (img.bits / 8) <= img.data_size;
    if (!usable || img.width != width || img.height != height) {
        debugLog("DCRAW - cannot load data\n");
        reason = usable ? QString("the RAW converter gives %1 × %2 pixels instead of the expected %3 × %4")
                              .arg(img.width)
                              .arg(img.height)
                              .arg(width)
                              .arg(height)
                        : QString("the RAW converter gives a picture of an unexpected kind");
        return halvora::fail(error, kLoadCaller, fileName, reason);
    }

    const convertRaw_threadParams_t params{&img, rgb16, rgb8};
    halvora::parallelFor(height, [&](int, int64_t r0, int64_t r1) { convertRows(params, r0, r1); });
    return true;
}

bool loadRAW_DCRAW(const QString& fileName, const QStringList& args, int width, int height, uint16_t* rgb16,
                   uint8_t* rgb8, QString* error) {
    mappedRawFile file;
    if (!file.open(fileName, kLoadCaller, error)) return false;
    return loadRAWfromMemory(file.data(), file.length(), fileName, args, width, height, rgb16, rgb8, error);
}

} // namespace halvora
