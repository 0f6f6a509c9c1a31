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
#include "imageio/jpegStreamWriter.h"
#include "imageio/resultRows.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include <zlib.h>

using halvora::convertRow16;
using halvora::convertRow8;

namespace {

// TIFF offsets are 32-bit; keep room for the directory behind the strips.
constexpr uint64_t kMaxTiffBytes = 0xFFFFFFFFull - (1u << 20);
// Uncompressed bytes per strip: large enough for Deflate to do well, small enough to spread over threads.
constexpr int kStripTargetBytes = 256 * 1024;

bool validResult(const char* who, const QString& fileName, const uint16_t* rgb16, int width, int height,
                 QString* error) {
    if (rgb16 && halvora::pictureElements(width, height, 3) != 0) return true;
    return halvora::fail(error, who, fileName,
                         QStringLiteral("cannot write an invalid picture of %1 x %2").arg(width).arg(height));
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
    // Rows go straight from the working scale into the encoder: no 8-bit copy of the picture.
    jpegStreamWriter writer(who);
    return writer.open(fileName, width, height, quality, dpi, error, iccProfile) &&
           writer.writeRows(rgb16, height, transform, error) && writer.finish(error);
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
        dir.add(34675, 7, uint32_t(iccProfile.size()),
                std::vector<uint8_t>(iccProfile.begin(), iccProfile.end()));
    }
    const std::vector<uint8_t> directory = dir.build(uint32_t(position));
    if (position + directory.size() > 0xFFFFFFFFull) return halvora::fail(error, who, fileName, tooLarge);
    if (!file.write(directory.data(), directory.size())) return writeFailed();
    const auto dirOffset = tiffDirectory::le32(uint32_t(position));
    if (!file.writeAt(4, dirOffset.data(), dirOffset.size())) return writeFailed();
    return file.commit(who, error);
}
