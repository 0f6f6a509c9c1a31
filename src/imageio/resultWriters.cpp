// JPEG and TIFF writers of the tone-mapped result (and of aligned photos). Both write a file that
// gets its name only after the last byte is on disk (base/replacingFile.h), so an interrupted or
// failed save leaves any existing file untouched, and a failed write names the system's reason.

#include "imageio/imageSaver.h"

#include "base/appIdentity.h"
#include "base/failure.h"
#include "base/parallelFor.h"
#include "base/replacingFile.h"
#include "base/rgbBuffers.h"
#include "base/runContext.h"
#include "imageio/embeddedIcc.h"

#include <QIODevice>
#include <QImage>
#include <QImageWriter>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include <zlib.h>

namespace {

// libjpeg refuses larger dimensions.
constexpr int kMaxJpegSide = 65500;
// TIFF offsets are 32-bit; keep room for the directory behind the strips.
constexpr uint64_t kMaxTiffBytes = 0xFFFFFFFFull - (1u << 20);
// Uncompressed bytes per strip: large enough for Deflate to do well, small enough to spread over threads.
constexpr int kStripTargetBytes = 256 * 1024;

/// The encoder's output device: the bytes go to a replacingFile, whose first failed write keeps
/// the system's reason. With `insert` (a colour profile's APP2 segments) those bytes are placed after
/// the start-of-image marker and the JFIF segment that must follow it directly.
class replacingFileDevice : public QIODevice {
public:
    explicit replacingFileDevice(halvora::replacingFile& file, QByteArray insert = QByteArray())
        : file_(file), insert_(std::move(insert)) {
        open(QIODevice::WriteOnly);
    }
    bool isSequential() const override { return true; }
    /// Writes what is still held back; false when that fails.
    bool flushHead() {
        if (!holding()) return true;
        const qsizetype at = std::min<qsizetype>(head_.size(), 2);
        return emitHead(at);
    }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 bytes) override {
        if (!holding()) return file_.write(data, size_t(bytes)) ? bytes : -1;
        head_.append(data, bytes);
        // SOI, then possibly APP0 (FF E0 and a two-byte length counting itself).
        if (head_.size() < 4) return bytes;
        qsizetype at = 2;
        if (uint8_t(head_[2]) == 0xFF && uint8_t(head_[3]) == 0xE0) {
            if (head_.size() < 6) return bytes;
            at = 4 + ((uint8_t(head_[4]) << 8) | uint8_t(head_[5]));
            if (head_.size() < at) return bytes;
        }
        return emitHead(at) ? bytes : -1;
    }

private:
    bool holding() const { return !insert_.isEmpty(); }
    bool emitHead(qsizetype at) {
        const bool ok = file_.write(head_.constData(), size_t(at)) && file_.write(insert_.constData(), size_t(insert_.size())) &&
                        file_.write(head_.constData() + at, size_t(head_.size() - at));
        insert_.clear();
        head_.clear();
        return ok;
    }

    halvora::replacingFile& file_;
    QByteArray insert_, head_;
};

inline uint16_t toFull16(uint16_t v) {
    const uint32_t c = std::min<uint32_t>(v, halvora::kFullScale);
    return uint16_t((c * 65535u + halvora::kFullScale / 2) / halvora::kFullScale);
}

inline uint16_t fromFull16(uint16_t v) {
    return uint16_t((uint32_t(v) * halvora::kFullScale + 32767u) / 65535u);
}

/// One row in output form: 16-bit (0 … 65535) samples after the optional colour conversion.
void convertRow16(const uint16_t* src, uint16_t* dst, int width,
                  const imageSaver::rowTransform_t& transform) {
    const int n = width * 3;
    for (int i = 0; i < n; ++i)
        dst[i] = toFull16(src[i]);
    if (transform) transform(dst, width);
}

/// One row as 8-bit samples: working sample >> 7 (32640 → 255); with a conversion, through the
/// working scale again so that white stays 255.
void convertRow8(const uint16_t* src, uint8_t* dst, int width, const imageSaver::rowTransform_t& transform,
                 uint16_t* scratch) {
    const int n = width * 3;
    if (!transform) {
        for (int i = 0; i < n; ++i)
            dst[i] = uint8_t(std::min<uint32_t>(src[i], halvora::kFullScale) >> 7);
        return;
    }
    convertRow16(src, scratch, width, transform);
    for (int i = 0; i < n; ++i)
        dst[i] = uint8_t(fromFull16(scratch[i]) >> 7);
}

bool validResult(const char* who, const QString& fileName, const uint16_t* rgb16, int width, int height,
                 QString* error) {
    if (rgb16 && halvora::pictureElements(width, height, 3) != 0) return true;
    return halvora::fail(error, who, fileName,
                         QStringLiteral("cannot write an invalid picture of %1 x %2").arg(width).arg(height));
}

struct fillJpegRows_threadParams_t {
    const uint16_t* source = nullptr;
    uchar* bits = nullptr;
    qsizetype bytesPerLine = 0;
    int width = 0;
    int64_t firstRow = 0, endRow = 0;
    const imageSaver::rowTransform_t* transform = nullptr;
};

void fillJpegRows(const fillJpegRows_threadParams_t& p) {
    std::vector<uint8_t> row8(size_t(p.width) * 3);
    std::vector<uint16_t> scratch(p.transform && *p.transform ? size_t(p.width) * 3 : 0);
    for (int64_t y = p.firstRow; y < p.endRow; ++y) {
        if (halvora::cancelRequested()) return;
        convertRow8(p.source + size_t(y) * size_t(p.width) * 3, row8.data(), p.width, *p.transform,
                    scratch.data());
        auto* line = reinterpret_cast<QRgb*>(p.bits + y * p.bytesPerLine);
        for (int x = 0; x < p.width; ++x)
            line[x] = qRgb(row8[3 * x], row8[3 * x + 1], row8[3 * x + 2]);
        halvora::addProgress(uint64_t(p.width));
    }
}

struct encodeTiffStrip_threadParams_t {
    const uint16_t* source = nullptr; // first row of the picture
    int width = 0;
    int firstRow = 0, rows = 0;
    int bitDepth = 1;
    bool deflate = false;
    const imageSaver::rowTransform_t* transform = nullptr;
    std::vector<uint8_t>* out = nullptr;
    bool ok = true;
};

void encodeTiffStrip(encodeTiffStrip_threadParams_t& p) {
    const size_t samples = size_t(p.width) * 3;
    const size_t rowBytes = samples * (p.bitDepth == 2 ? 2 : 1);
    std::vector<uint8_t> raw(rowBytes * size_t(p.rows));
    std::vector<uint16_t> row16(samples);
    for (int r = 0; r < p.rows; ++r) {
        const uint16_t* src = p.source + size_t(p.firstRow + r) * samples;
        uint8_t* dst = raw.data() + size_t(r) * rowBytes;
        if (p.bitDepth == 2) {
            convertRow16(src, row16.data(), p.width, *p.transform);
            for (size_t i = 0; i < samples; ++i) {
                dst[2 * i] = uint8_t(row16[i] & 0xFF);
                dst[2 * i + 1] = uint8_t(row16[i] >> 8);
            }
        } else {
            convertRow8(src, dst, p.width, *p.transform, row16.data());
        }
        halvora::addProgress(uint64_t(p.width) * 2);
    }
    if (!p.deflate) {
        *p.out = std::move(raw);
        return;
    }
    uLongf packed = compressBound(uLong(raw.size()));
    p.out->resize(packed);
    if (compress2(p.out->data(), &packed, raw.data(), uLong(raw.size()), Z_DEFAULT_COMPRESSION) != Z_OK) {
        p.ok = false;
        return;
    }
    p.out->resize(packed);
}

/// Little-endian TIFF directory builder: entries with values inline or in a trailing data area.
class tiffDirectory {
public:
    void add(uint16_t tag, uint16_t type, uint32_t count, const std::vector<uint8_t>& value) {
        entries_.push_back({tag, type, count, value});
    }
    void addShort(uint16_t tag, uint16_t v) { add(tag, 3, 1, le16(v)); }
    void addLong(uint16_t tag, uint32_t v) { add(tag, 4, 1, le32(v)); }

    /// The directory placed at `offset` (even), followed by the values that do not fit in 4 bytes.
    std::vector<uint8_t> build(uint32_t offset) const {
        std::vector<uint8_t> dir, data;
        const uint32_t dataStart = offset + 2 + uint32_t(entries_.size()) * 12 + 4;
        append(dir, le16(uint16_t(entries_.size())));
        for (const entry& e : entries_) {
            append(dir, le16(e.tag));
            append(dir, le16(e.type));
            append(dir, le32(e.count));
            if (e.value.size() <= 4) {
                std::vector<uint8_t> inl = e.value;
                inl.resize(4, 0);
                append(dir, inl);
            } else {
                append(dir, le32(dataStart + uint32_t(data.size())));
                append(data, e.value);
                if (data.size() & 1) data.push_back(0);
            }
        }
        append(dir, le32(0));
        append(dir, data);
        return dir;
    }

    static std::vector<uint8_t> le16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
    static std::vector<uint8_t> le32(uint32_t v) {
        return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    }

private:
    struct entry {
        uint16_t tag, type;
        uint32_t count;
        std::vector<uint8_t> value;
    };
    static void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes) {
        to.insert(to.end(), bytes.begin(), bytes.end());
    }
    std::vector<entry> entries_; // added in ascending tag order
};

} // namespace

bool imageSaver::saveResultJPEG(const QString& fileName, const uint16_t* rgb16, int width, int height,
                                int quality, int dpi, const rowTransform_t& transform, QString* error,
                                const QByteArray& iccProfile) {
    const char* who = "imageSaver::saveResultJPEG";
    if (!validResult(who, fileName, rgb16, width, height, error)) return false;
    if (width > kMaxJpegSide || height > kMaxJpegSide)
        return halvora::fail(
            error, who, fileName,
            QStringLiteral("%1 x %2 is too large for JPEG (at most %3 pixels per side); save it as "
                           "TIFF")
                .arg(width)
                .arg(height)
                .arg(kMaxJpegSide));
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        return halvora::fail(
            error, who, fileName,
            QStringLiteral("not enough memory for a %1 x %2 picture").arg(width).arg(height));
    uchar* bits = image.bits(); // detaches once here, so the threads below only write pixels
    halvora::adviseHugePages(bits, size_t(image.sizeInBytes())); // 48 MB for 12 MP: spare the page faults
    const qsizetype bpl = image.bytesPerLine();
    halvora::parallelFor(height, [&](int, int64_t begin, int64_t end) {
        fillJpegRows_threadParams_t p;
        p.source = rgb16;
        p.bits = bits;
        p.bytesPerLine = bpl;
        p.width = width;
        p.firstRow = begin;
        p.endRow = end;
        p.transform = &transform;
        fillJpegRows(p);
    });
    if (halvora::cancelRequested()) return halvora::fail(error, who, fileName, "saving was interrupted");
    const int dpm = int(std::clamp(dpi, 1, 99999) * 39.37);
    image.setDotsPerMeterX(dpm);
    image.setDotsPerMeterY(dpm);

    halvora::replacingFile file(fileName);
    if (!file.open(who, error)) return false;
    const QByteArray iccSegments = halvora::jpegIccSegments(iccProfile);
    if (!iccProfile.isEmpty() && iccSegments.isEmpty())
        return halvora::fail(error, who, fileName, "the colour profile is too large for a JPEG file");
    replacingFileDevice device(file, iccSegments);
    QImageWriter writer(&device, "jpg");
    writer.setQuality(std::clamp(quality, 0, 100));
    if (!writer.write(image)) {
        // The device's reason ("no space left on device") says more than the encoder's.
        const QString reason = file.writeReason().isEmpty() ? "JPEG encoding failed: " + writer.errorString()
                                                            : file.writeReason();
        return halvora::fail(error, who, fileName, reason);
    }
    if (!device.flushHead()) return halvora::fail(error, who, fileName, file.writeReason());
    if (!file.commit(who, error)) return false;
    halvora::addProgress(uint64_t(width) * uint64_t(height));
    return true;
}

bool imageSaver::saveResultTIFF(const QString& fileName, const uint16_t* rgb16, int width, int height,
                                int bitDepth, int compression, int dpi, const rowTransform_t& transform,
                                QString* error, const QByteArray& iccProfile) {
    const char* who = "imageSaver::saveResultTIFF";
    if (!validResult(who, fileName, rgb16, width, height, error)) return false;
    if (bitDepth != 1 && bitDepth != 2)
        return halvora::fail(error, who, fileName,
                             QStringLiteral("unsupported TIFF bit depth code %1").arg(bitDepth));
    const bool deflate = compression != 0;
    const uint64_t rowBytes = uint64_t(width) * 3 * (bitDepth == 2 ? 2 : 1);
    const int rowsPerStrip = int(std::clamp<uint64_t>(kStripTargetBytes / rowBytes, 1, uint64_t(height)));
    const int stripCount = (height + rowsPerStrip - 1) / rowsPerStrip;
    // Deflate can grow incompressible data slightly; count its worst case.
    const uint64_t stripWorst =
        deflate ? compressBound(uLong(rowBytes * rowsPerStrip)) : rowBytes * rowsPerStrip;
    const QString tooLarge =
        QStringLiteral("%1 x %2 is too large for a TIFF file (4 GB)").arg(width).arg(height);
    if (stripWorst * uint64_t(stripCount) + 16ull * stripCount > kMaxTiffBytes)
        return halvora::fail(error, who, fileName, tooLarge);

    halvora::replacingFile file(fileName);
    if (!file.open(who, error)) return false;
    auto writeFailed = [&]() { return halvora::fail(error, who, fileName, file.writeReason()); };

    const uint8_t header[8] = {'I', 'I', 42, 0, 0, 0, 0, 0}; // directory offset filled in at the end
    if (!file.write(header, sizeof header)) return writeFailed();

    std::vector<uint32_t> offsets(stripCount), counts(stripCount);
    uint64_t position = sizeof header;
    // Strips are encoded a batch at a time on the pool and written in order.
    const int batch = std::max(1, halvora::usableThreadCount()) * 2;
    std::vector<std::vector<uint8_t>> encoded(batch);
    for (int first = 0; first < stripCount; first += batch) {
        const int n = std::min(batch, stripCount - first);
        std::vector<encodeTiffStrip_threadParams_t> params(n);
        for (int i = 0; i < n; ++i) {
            auto& p = params[i];
            p.source = rgb16;
            p.width = width;
            p.firstRow = (first + i) * rowsPerStrip;
            p.rows = std::min(rowsPerStrip, height - p.firstRow);
            p.bitDepth = bitDepth;
            p.deflate = deflate;
            p.transform = &transform;
            p.out = &encoded[i];
        }
        halvora::parallelFor(n, [&](int, int64_t begin, int64_t end) {
            for (int64_t i = begin; i < end; ++i)
                encodeTiffStrip(params[size_t(i)]);
        });
        for (int i = 0; i < n; ++i) {
            if (!params[i].ok) return halvora::fail(error, who, fileName, "Deflate compression failed");
            const std::vector<uint8_t>& bytes = encoded[i];
            if (position + bytes.size() > kMaxTiffBytes) return halvora::fail(error, who, fileName, tooLarge);
            offsets[first + i] = uint32_t(position);
            counts[first + i] = uint32_t(bytes.size());
            if (!file.write(bytes.data(), bytes.size())) return writeFailed();
            position += bytes.size();
        }
        if (halvora::cancelRequested()) return halvora::fail(error, who, fileName, "saving was interrupted");
    }
    if (position & 1) {
        const uint8_t pad = 0;
        if (!file.write(&pad, 1)) return writeFailed();
        ++position;
    }

    auto longs = [](const std::vector<uint32_t>& v) {
        std::vector<uint8_t> b;
        for (uint32_t x : v) {
            const auto e = tiffDirectory::le32(x);
            b.insert(b.end(), e.begin(), e.end());
        }
        return b;
    };
    const uint16_t bits = bitDepth == 2 ? 16 : 8;
    std::vector<uint8_t> bitsValue, resolution;
    for (int i = 0; i < 3; ++i) {
        const auto e = tiffDirectory::le16(bits);
        bitsValue.insert(bitsValue.end(), e.begin(), e.end());
    }
    for (uint32_t v : {uint32_t(std::clamp(dpi, 1, 99999)), 1u}) {
        const auto e = tiffDirectory::le32(v);
        resolution.insert(resolution.end(), e.begin(), e.end());
    }
    QByteArray software = QByteArray(halvora::kApplicationName) + " " + halvora::kApplicationVersion;
    std::vector<uint8_t> softwareValue(software.begin(), software.end());
    softwareValue.push_back(0);

    tiffDirectory dir;
    dir.addLong(256, uint32_t(width));
    dir.addLong(257, uint32_t(height));
    dir.add(258, 3, 3, bitsValue);
    dir.addShort(259, deflate ? 8 : 1);
    dir.addShort(262, 2); // RGB
    dir.add(273, 4, uint32_t(stripCount), longs(offsets));
    dir.addShort(274, 1); // top-left
    dir.addShort(277, 3);
    dir.addLong(278, uint32_t(rowsPerStrip));
    dir.add(279, 4, uint32_t(stripCount), longs(counts));
    dir.add(282, 5, 1, resolution);
    dir.add(283, 5, 1, resolution);
    dir.addShort(284, 1); // chunky
    dir.addShort(296, 2); // inch
    dir.add(305, 2, uint32_t(softwareValue.size()), softwareValue);
    if (!iccProfile.isEmpty()) {
        if (iccProfile.size() > halvora::kMaxEmbeddedIccBytes)
            return halvora::fail(error, who, fileName, "the colour profile is too large");
        dir.add(34675, 7, uint32_t(iccProfile.size()), std::vector<uint8_t>(iccProfile.begin(), iccProfile.end()));
    }
    const std::vector<uint8_t> directory = dir.build(uint32_t(position));
    if (position + directory.size() > 0xFFFFFFFFull) return halvora::fail(error, who, fileName, tooLarge);
    if (!file.write(directory.data(), directory.size())) return writeFailed();
    const auto dirOffset = tiffDirectory::le32(uint32_t(position));
    if (!file.writeAt(4, dirOffset.data(), dirOffset.size())) return writeFailed();
    return file.commit(who, error);
}
