#include "imageio/qtImageReader.h"

#include "base/failure.h"
#include "base/fileHandle.h"
#include "imageio/byteFields.h"
#include "imageio/declaredSize.h"
#include "imageio/decoderMessages.h"
#include "imageio/pngChunks.h"

#include <QFile>
#include <QImageReader>
#include <algorithm>
#include <cstring>

#include <unistd.h>

namespace halvora {
namespace {

constexpr const char* kInfo = "qtImageInfo";
constexpr const char* kRead = "qtImageRead";

uint64_t ceilDiv(uint64_t a, uint64_t b) {
    return (a + b - 1) / b;
}

// Frame header of a JPEG: the fewest bits its entropy-coded data can take. Every 8 × 8 block of a
// sequential Huffman scan codes its DC difference and, at least, an end of block, each with a code
// of one bit or more; a progressive file's first DC scan codes one difference per block; a lossless
// file one difference per sample. Arithmetic coding has no such floor.
declaredPicture jpegFrame(const uint8_t* sof, size_t length, int marker) {
    declaredPicture d;
    if (length < 6) return d;
    const uint64_t height = be16(sof + 1), width = be16(sof + 3);
    const int components = sof[5];
    if (width == 0 || height == 0 || components < 1 || length < size_t(6 + 3 * components)) return d;
    int hMax = 1, vMax = 1;
    for (int i = 0; i < components; ++i) {
        const int h = sof[7 + 3 * i] >> 4, v = sof[7 + 3 * i] & 15;
        if (h < 1 || h > 4 || v < 1 || v > 4) return d;
        hMax = std::max(hMax, h);
        vMax = std::max(vMax, v);
    }
    uint64_t bitsPerUnit;
    bool perSample = false;
    switch (marker) {
    case 0xC0:
    case 0xC1:
        bitsPerUnit = 2;
        break;
    case 0xC2:
        bitsPerUnit = 1;
        break;
    case 0xC3:
        bitsPerUnit = 1;
        perSample = true;
        break;
    default:
        bitsPerUnit = 0; // hierarchical or arithmetic coding
        break;
    }
    uint64_t bits = 0;
    for (int i = 0; i < components; ++i) {
        const int h = sof[7 + 3 * i] >> 4, v = sof[7 + 3 * i] & 15;
        const uint64_t columns = ceilDiv(width * uint64_t(h), uint64_t(hMax));
        const uint64_t rows = ceilDiv(height * uint64_t(v), uint64_t(vMax));
        bits += bitsPerUnit * (perSample ? columns * rows : ceilDiv(columns, 8) * ceilDiv(rows, 8));
    }
    d.known = true;
    d.width = int64_t(width);
    d.height = int64_t(height);
    d.leastBytes = ceilDiv(bits, 8);
    return d;
}

declaredPicture jpegHeader(std::FILE* file) {
    uint8_t b[4];
    if (!readExactly(file, b, 2) || b[0] != 0xFF || b[1] != 0xD8) return {};
    for (;;) {
        int c = std::fgetc(file);
        if (c != 0xFF) return {}; // segments follow each other directly
        while (c == 0xFF)
            c = std::fgetc(file);
        if (c == EOF) return {};
        const int marker = c;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue; // markers without a length
        if (marker == 0xD9 || marker == 0xDA || !readExactly(file, b, 2))
            return {}; // no frame header before the first scan
        const uint32_t length = be16(b);
        if (length < 2) return {};
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            uint8_t sof[6 + 3 * 255];
            const size_t n = std::min<size_t>(length - 2, sizeof sof);
            if (!readExactly(file, sof, n)) return {};
            return jpegFrame(sof, n, marker);
        }
        if (fseeko(file, off_t(length - 2), SEEK_CUR) != 0) return {};
    }
}

// PNG image header: the filtered rows (one filter byte each) compressed by Deflate at best.
declaredPicture pngHeader(std::FILE* file) {
    uint8_t b[8 + 8 + 13];
    if (!readExactly(file, b, sizeof b) || std::memcmp(b, "\x89PNG\r\n\x1a\n", 8) != 0 ||
        std::memcmp(b + 12, "IHDR", 4) != 0)
        return {};
    const uint64_t width = be32(b + 16), height = be32(b + 20);
    const int depth = b[24], colourType = b[25], interlaced = b[28];
    static const int channelsOf[7] = {1, 0, 3, 1, 2, 0, 4};
    const int channels = colourType <= 6 ? channelsOf[colourType] : 0;
    if (width == 0 || height == 0 || channels == 0 || depth < 1 || depth > 16) return {};
    declaredPicture d;
    d.known = true;
    d.width = int64_t(width);
    d.height = int64_t(height);
    const uint64_t raw = height * (1 + ceilDiv(width * uint64_t(channels * depth), 8));
    // Interlaced passes split the rows differently; half the bound stays below any of them.
    d.leastBytes = raw / kDeflateMaxRatio / (interlaced ? 2 : 1);
    return d;
}

// BMP: stored rows must all be there (the last one perhaps without its padding); run-length coded
// data must be as long as the header says.
declaredPicture bmpHeader(std::FILE* file) {
    uint8_t b[14 + 40];
    if (!readExactly(file, b, 18) || b[0] != 'B' || b[1] != 'M') return {};
    const uint64_t dataOffset = le32(b + 10);
    const uint32_t infoSize = le32(b + 14);
    int64_t width, height;
    uint32_t bits, compression = 0, imageBytes = 0;
    if (infoSize == 12) {
        if (!readExactly(file, b + 18, 8)) return {};
        width = le16(b + 18);
        height = int16_t(le16(b + 20));
        bits = le16(b + 24);
    } else if (infoSize >= 40) {
        if (!readExactly(file, b + 18, 36)) return {};
        width = int32_t(le32(b + 18));
        height = int32_t(le32(b + 22));
        bits = le16(b + 28);
        compression = le32(b + 30);
        imageBytes = le32(b + 34);
    } else {
        return {};
    }
    height = height < 0 ? -height : height;
    if (width <= 0 || height <= 0 || bits == 0 || bits > 32) return {};
    declaredPicture d;
    d.width = width;
    d.height = height;
    if (compression == 0 || compression == 3 || compression == 6) {
        const uint64_t stride = ceilDiv(uint64_t(width) * bits, 32) * 4;
        d.leastBytes = dataOffset + stride * uint64_t(height - 1) + ceilDiv(uint64_t(width) * bits, 8);
        d.known = true;
    } else if (compression == 1 || compression == 2) {
        d.leastBytes = dataOffset + imageBytes;
        d.known = true;
    }
    return d;
}

const char* qtFormatName(imageFormat format) {
    switch (format) {
    case formatJpeg:
        return "jpeg";
    case formatPng:
        return "png";
    case formatBmp:
        return "bmp";
    default:
        return "";
    }
}

/// Why the toolkit could not read: its plugin's own message when it gave one, else the reader's.
QString readerReason(const decoderMessages& messages, const QImageReader& reader) {
    return halvora::asReason(messages.first().isEmpty() ? reader.errorString() : messages.first());
}

} // namespace

declaredPicture declaredQtPicture(std::FILE* file, imageFormat format) {
    switch (format) {
    case formatJpeg:
        return jpegHeader(file);
    case formatPng:
        return pngHeader(file);
    case formatBmp:
        return bmpHeader(file);
    default:
        return {};
    }
}

bool qtImageInfo(const QString& fileName, imageFormat format, int& width, int& height, QString* error) {
    int64_t fileBytes = 0;
    fileHandle file = openInputFile(fileName, kInfo, error, &fileBytes);
    if (!file) return false;
    const declaredPicture declared = declaredQtPicture(file.get(), format);
    if (declared.known && !fileHoldsPicture(declared.width, declared.height, declared.leastBytes,
                                            uint64_t(fileBytes), kInfo, fileName, error))
        return false;
    // libpng would print its complaint about a cut or damaged file on standard error.
    if (format == formatPng) {
        if (fseeko(file.get(), 0, SEEK_SET) != 0) return fail(error, kInfo, fileName, systemReason(errno));
        const QString damage = pngDamage(file.get(), uint64_t(fileBytes), pngCheck::layout);
        if (!damage.isEmpty()) return fail(error, kInfo, fileName, damage);
    }

    QFile device;
    if (::lseek(fileno(file.get()), 0, SEEK_SET) != 0 ||
        !device.open(fileno(file.get()), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return fail(error, kInfo, fileName, systemReason(errno));
    QImageReader reader(&device, qtFormatName(format));
    reader.setAutoTransform(false); // the EXIF orientation is applied by the load itself
    decoderMessages messages;
    if (!reader.canRead())
        return fail(
            error, kInfo, fileName,
            QStringLiteral("is not a %1 picture (%2)")
                .arg(QString::fromLatin1(qtFormatName(format)).toUpper(), readerReason(messages, reader)));
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        return fail(error, kInfo, fileName,
                    "has no readable picture size (" + readerReason(messages, reader) + ")");
    width = size.width();
    height = size.height();
    return true;
}

bool qtImageRead(const QString& fileName, imageFormat format, const QSize& expected, const QRect& clip,
                 QImage& image, QString* error) {
    if (format == formatPng) {
        // Everything libpng stops at (and would print on standard error) is refused here, with its reason.
        int64_t fileBytes = 0;
        const fileHandle file = openInputFile(fileName, kRead, error, &fileBytes);
        if (!file) return false;
        const QString damage = pngDamage(file.get(), uint64_t(fileBytes), pngCheck::data);
        if (!damage.isEmpty()) return fail(error, kRead, fileName, damage);
    }
    QFile device;
    if (!openInputFile(fileName, device, kRead, error)) return false;
    QImageReader reader(&device, qtFormatName(format));
    reader.setAutoTransform(false);
    decoderMessages messages;
    const QSize size = reader.size();
    if (size != expected)
        return fail(error, kRead, fileName,
                    QStringLiteral("now holds a %1 × %2 picture instead of %3 × %4")
                        .arg(size.width())
                        .arg(size.height())
                        .arg(expected.width())
                        .arg(expected.height()));
    const QRect wanted = clip.isEmpty() ? QRect(QPoint(0, 0), expected) : clip;
    if (wanted != QRect(QPoint(0, 0), expected)) reader.setClipRect(wanted);
    if (!reader.read(&image))
        return fail(error, kRead, fileName, "cannot be decoded: " + readerReason(messages, reader));
    if (!messages.damage().isEmpty())
        return fail(error, kRead, fileName, "damaged picture data: " + messages.damage());
    if (image.size() != wanted.size())
        return fail(error, kRead, fileName,
                    QStringLiteral("decoded to %1 × %2 pixels instead of %3 × %4")
                        .arg(image.width())
                        .arg(image.height())
                        .arg(wanted.width())
                        .arg(wanted.height()));
    return true;
}

} // namespace halvora
