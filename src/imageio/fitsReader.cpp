// FITS reader: the primary header's 80-character cards, then 16/32-bit integer or 32-bit float
// planes stored bottom row first, tone-compressed into the working scale. Only the primary image is
// read; extensions after it are ignored.

#include "imageio/imageLoader.h"

#include "base/debugLog.h"
#include "base/failure.h"
#include "base/fileHandle.h"
#include "base/parallelFor.h"
#include "base/rgbBuffers.h"
#include "imageio/declaredSize.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kCardSize = 80;
constexpr int kMaxCards = 256;
constexpr int64_t kBlockSize = 2880;

struct fitsHeader {
    int bitpix = 0;
    int naxis = 0;
    int naxis1 = 0;
    int naxis2 = 0;
    int naxis3 = 1;
    bool naxis3Present = false;
    double exptime = 1.0;
    double snapshot = 1.0;
    double focallen = 1.0;
    double aptdia = 1.0;
    double backgrnd = 0.0;
    std::string timeObs, dateObs, telescop, instrume;
    int64_t dataPosition = 0;
};

/// The value field of a card: a quoted string without its quotes (doubled quotes kept once) and
/// trailing blanks, or the text before a "/" comment.
std::string cardValue(const char* card) {
    const char* eq = static_cast<const char*>(std::memchr(card, '=', kCardSize));
    if (!eq) return {};
    const char* p = eq + 1;
    const char* end = card + kCardSize;
    while (p < end && *p == ' ')
        ++p;
    std::string out;
    if (p < end && *p == '\'') {
        for (++p; p < end; ++p) {
            if (*p == '\'') {
                if (p + 1 < end && p[1] == '\'') {
                    out.push_back('\'');
                    ++p;
                    continue;
                }
                break;
            }
            out.push_back(*p);
        }
    } else {
        for (; p < end && *p != '/'; ++p)
            out.push_back(*p);
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

int toInt(const std::string& s) {
    errno = 0;
    const long long v = std::strtoll(s.c_str(), nullptr, 10);
    return int(std::clamp<long long>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

double toDouble(std::string s) {
    // FITS writes double-precision exponents with "D".
    std::replace(s.begin(), s.end(), 'D', 'E');
    std::replace(s.begin(), s.end(), 'd', 'e');
    const double v = std::strtod(s.c_str(), nullptr);
    return std::isfinite(v) ? v : 0.0;
}

bool keywordIs(const char* card, const char* keyword) {
    // The keyword field is the card's first 8 characters, blank-padded.
    char padded[9];
    std::snprintf(padded, sizeof padded, "%-8s", keyword);
    return std::memcmp(card, padded, 8) == 0;
}

void copyField(char* dst, size_t dstSize, const std::string& src, size_t maxChars) {
    const size_t n = std::min({src.size(), maxChars, dstSize - 1});
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

/// Parses the header cards up to END; false when END is missing.
bool parseFitsHeader(std::FILE* file, fitsHeader& h) {
    std::vector<char> cards(size_t(kMaxCards) * kCardSize);
    const size_t got = std::fread(cards.data(), 1, cards.size(), file);
    int endCard = -1;
    for (int i = 0; i < kMaxCards && size_t(i + 1) * kCardSize <= got; ++i) {
        const char* card = cards.data() + size_t(i) * kCardSize;
        if (std::memcmp(card, "END     ", 8) == 0) {
            endCard = i;
            break;
        }
        if (keywordIs(card, "BITPIX"))
            h.bitpix = toInt(cardValue(card));
        else if (keywordIs(card, "NAXIS"))
            h.naxis = toInt(cardValue(card));
        else if (keywordIs(card, "NAXIS1"))
            h.naxis1 = toInt(cardValue(card));
        else if (keywordIs(card, "NAXIS2"))
            h.naxis2 = toInt(cardValue(card));
        else if (keywordIs(card, "NAXIS3")) {
            h.naxis3 = toInt(cardValue(card));
            h.naxis3Present = true;
        } else if (keywordIs(card, "EXPTIME"))
            h.exptime = toDouble(cardValue(card));
        else if (keywordIs(card, "SNAPSHOT"))
            h.snapshot = toDouble(cardValue(card));
        else if (keywordIs(card, "FOCALLEN"))
            h.focallen = toDouble(cardValue(card));
        else if (keywordIs(card, "APTDIA"))
            h.aptdia = toDouble(cardValue(card));
        else if (keywordIs(card, "BACKGRND"))
            h.backgrnd = toDouble(cardValue(card));
        else if (keywordIs(card, "TIME-OBS"))
            h.timeObs = cardValue(card).substr(0, 15);
        else if (keywordIs(card, "DATE-OBS"))
            h.dateObs = cardValue(card).substr(0, 15);
        else if (keywordIs(card, "TELESCOP"))
            h.telescop = cardValue(card).substr(0, 31);
        else if (keywordIs(card, "INSTRUME"))
            h.instrume = cardValue(card).substr(0, 39);
    }
    if (endCard < 0) return false;
    const int64_t headerEnd = int64_t(endCard + 1) * kCardSize;
    h.dataPosition = (headerEnd + kBlockSize - 1) / kBlockSize * kBlockSize;
    return true;
}

/// One part of the conversion of file rows (all planes) to floats, bottom row first.
struct fitsConvert_threadParams_t {
    const uint8_t* data = nullptr;
    float* planes = nullptr; // channels × height × width, rows top to bottom
    int width = 0;
    int height = 0;
    int bytesPerValue = 0;
    int bitpix = 0;
    int64_t beginRow = 0, endRow = 0; // rows counted over all planes in file order
    float minimum = std::numeric_limits<float>::max();
    float maximum = std::numeric_limits<float>::lowest();
};

void fitsConvert(fitsConvert_threadParams_t& p) {
    for (int64_t fileRow = p.beginRow; fileRow < p.endRow; ++fileRow) {
        const int64_t plane = fileRow / p.height;
        const int64_t rowInPlane = fileRow % p.height;
        const uint8_t* src = p.data + fileRow * p.width * p.bytesPerValue;
        float* dst = p.planes + (plane * p.height + (p.height - 1 - rowInPlane)) * p.width;
        for (int x = 0; x < p.width; ++x, src += p.bytesPerValue) {
            float v;
            if (p.bytesPerValue == 2) {
                v = float(int16_t(uint16_t((src[0] << 8) | src[1])));
            } else {
                const uint32_t bits = (uint32_t(src[0]) << 24) | (uint32_t(src[1]) << 16) |
                                      (uint32_t(src[2]) << 8) | uint32_t(src[3]);
                if (p.bitpix == -32)
                    std::memcpy(&v, &bits, 4);
                else
                    v = float(int32_t(bits));
            }
            dst[x] = v;
            if (std::isfinite(v)) {
                p.minimum = std::min(p.minimum, v);
                p.maximum = std::max(p.maximum, v);
            }
        }
    }
}

/// One part of the tone compression of the float planes into the working scale.
struct fitsMap_threadParams_t {
    const float* planes = nullptr;
    uint16_t* target = nullptr;
    int64_t planeSize = 0;
    int channels = 0;
    double minimum = 0.0;
    double range = 0.0;         // 0 for a constant picture
    int64_t begin = 0, end = 0; // pixels
};

// Steep near black so faint detail becomes visible, y(1) = 1.
inline uint16_t fitsCurve(float v, double minimum, double range) {
    if (std::isnan(v) || range <= 0.0) return 0;
    const double t = (double(v) - minimum) / range;
    if (t <= 0.0) return 0;
    if (t > 1.0) return uint16_t(halvora::kFullScale);
    const double y = 1.5385 * std::pow(t, 0.6) - 0.5385 * std::pow(t, 1.3);
    return uint16_t(std::clamp(int(y * halvora::kFullScale), 0, halvora::kFullScale));
}

void fitsMap(fitsMap_threadParams_t& p) {
    for (int64_t i = p.begin; i < p.end; ++i) {
        uint16_t* out = p.target + i * 3;
        if (p.channels == 1) {
            const uint16_t s = fitsCurve(p.planes[i], p.minimum, p.range);
            out[0] = out[1] = out[2] = s;
        } else {
            for (int c = 0; c < 3; ++c)
                out[c] = fitsCurve(p.planes[c * p.planeSize + i], p.minimum, p.range);
        }
    }
}

} // namespace

bool imageLoader::getFITSinfo(const QString& fileName, int& width, int& height, int& channels,
                              int& bitsPerPixel, qint64& dataPosition, exifInfo_t* exif, QString* error) {
    static const char* const caller = "imageLoader::getFITSinfo";
    int64_t fileSize = 0;
    halvora::fileHandle file = halvora::openInputFile(fileName, caller, error, &fileSize);
    if (!file) return false;
    fitsHeader h;
    if (!parseFitsHeader(file.get(), h))
        return halvora::fail(
            error, caller, fileName,
            QStringLiteral("header seems to be incorrect (no END card in its first %1 cards)")
                .arg(kMaxCards));

    const int ch = (h.naxis == 3 && h.naxis3Present) ? h.naxis3 : 1;
    debugLog("FITS: naxis=%d, channels=%d, bitpix=%d, dataPtr=%d\n", h.naxis, ch, h.bitpix,
             int(h.dataPosition));
    debugLog("FITS: dataPtr=0x%x\n", unsigned(h.dataPosition));
    if (h.bitpix != -32 && h.bitpix != 16 && h.bitpix != 32)
        return halvora::fail(error, caller, fileName,
                             QStringLiteral("wrong data format (BITPIX %1)").arg(h.bitpix));
    if (ch != 1 && ch != 3)
        return halvora::fail(error, caller, fileName,
                             QStringLiteral("wrong number of channels (%1)").arg(ch));
    if (h.naxis != 2 && h.naxis != 3)
        return halvora::fail(error, caller, fileName,
                             QStringLiteral("wrong number of axes (%1)").arg(h.naxis));
    if (halvora::pictureElements(h.naxis1, h.naxis2, 3) == 0)
        return halvora::fail(error, caller, fileName,
                             QStringLiteral("wrong image size (%1 x %2)").arg(h.naxis1).arg(h.naxis2));
    // The data are stored as they are: every value must be in the file.
    const uint64_t dataBytes =
        uint64_t(h.naxis1) * uint64_t(h.naxis2) * uint64_t(ch) * uint64_t(std::abs(h.bitpix) / 8);
    if (!halvora::fileHoldsPicture(h.naxis1, h.naxis2, uint64_t(h.dataPosition) + dataBytes,
                                   uint64_t(fileSize), caller, fileName, error))
        return false;

    width = h.naxis1;
    height = h.naxis2;
    channels = ch;
    bitsPerPixel = h.bitpix;
    dataPosition = h.dataPosition;
    if (exif) {
        exif->exposureTime = float(h.snapshot != 0.0 ? h.exptime / h.snapshot : h.exptime);
        exif->iso = 100;
        exif->fNumber = float(h.aptdia != 0.0 ? h.focallen / h.aptdia : h.focallen);
        exif->focalLength = float(h.focallen);
        const std::string date =
            h.timeObs.empty() && h.dateObs.empty() ? std::string() : h.timeObs + " " + h.dateObs;
        copyField(exif->dateTime, sizeof exif->dateTime, date, 31);
        copyField(exif->cameraMake, sizeof exif->cameraMake, h.telescop, 31);
        copyField(exif->cameraModel, sizeof exif->cameraModel, h.instrume, 39);
    }
    return true;
}

bool imageLoader::loadFITS(const QString& fileName, int width, int height, uint16_t* rgb16, QString* error) {
    static const char* const caller = "imageLoader::loadFITS";
    int w = 0, h = 0, channels = 0, bitpix = 0;
    qint64 dataPosition = 0;
    if (!getFITSinfo(fileName, w, h, channels, bitpix, dataPosition, nullptr, error)) return false;
    if (!rgb16) return halvora::fail(error, caller, fileName, "no picture to load into");
    if (w != width || h != height)
        return halvora::fail(error, caller, fileName,
                             QStringLiteral("now holds a %1 × %2 picture instead of %3 × %4")
                                 .arg(w)
                                 .arg(h)
                                 .arg(width)
                                 .arg(height));
    const int bytesPerValue = std::abs(bitpix) / 8;
    const int64_t planeSize = int64_t(width) * height;
    const size_t dataBytes = size_t(planeSize) * channels * bytesPerValue;
    std::unique_ptr<uint8_t[]> data = halvora::allocateBlock<uint8_t>(dataBytes);
    std::unique_ptr<float[]> planes = halvora::allocateBlock<float>(size_t(planeSize) * channels);
    if (!data || !planes)
        return halvora::fail(
            error, caller, fileName,
            QStringLiteral("not enough memory for %1 x %2 x %3 values").arg(width).arg(height).arg(channels));
    halvora::fileHandle file = halvora::openInputFile(fileName, caller, error);
    if (!file) return false;
    if (fseeko(file.get(), off_t(dataPosition), SEEK_SET) != 0 ||
        std::fread(data.get(), 1, dataBytes, file.get()) != dataBytes)
        return halvora::fail(error, caller, fileName, "the image data cannot be read");

    const int64_t rows = int64_t(channels) * height;
    const auto convert = halvora::parallelRecords<fitsConvert_threadParams_t>(
        rows,
        [&](int, int64_t begin, int64_t end) {
            fitsConvert_threadParams_t p;
            p.data = data.get();
            p.planes = planes.get();
            p.width = width;
            p.height = height;
            p.bytesPerValue = bytesPerValue;
            p.bitpix = bitpix;
            p.beginRow = begin;
            p.endRow = end;
            return p;
        },
        fitsConvert);
    data.reset();
    float lo = std::numeric_limits<float>::max(), hi = std::numeric_limits<float>::lowest();
    for (const fitsConvert_threadParams_t& p : convert) {
        lo = std::min(lo, p.minimum);
        hi = std::max(hi, p.maximum);
    }
    debugLog("FITS: min=%f, max=%f\n", double(lo), double(hi));

    // A constant picture (or one without a finite value) has no scale and loads black.
    const double range = hi > lo ? double(hi) - double(lo) : 0.0;
    halvora::parallelRecords<fitsMap_threadParams_t>(
        planeSize,
        [&](int, int64_t begin, int64_t end) {
            fitsMap_threadParams_t p;
            p.planes = planes.get();
            p.target = rgb16;
            p.planeSize = planeSize;
            p.channels = channels;
            p.minimum = lo;
            p.range = range;
            p.begin = begin;
            p.end = end;
            return p;
        },
        fitsMap);
    return true;
}
