#include "imageio/exifReader.h"

#include "base/debugLog.h"
#include "base/failure.h"
#include "base/fileHandle.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Nesting limit of linked directories (EXIF, interoperability, next directory).
constexpr int kMaxNesting = 5;
// Guard against crafted files whose directories link to each other many times over.
constexpr int kMaxDirectories = 64;

// Bytes per value of the TIFF field types 0 … 12 (type 0 counts as size 0).
constexpr int kFormatSize[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

enum fieldType {
    typeByte = 1,
    typeAscii = 2,
    typeShort = 3,
    typeLong = 4,
    typeRational = 5,
    typeSByte = 6,
    typeUndefined = 7,
    typeSShort = 8,
    typeSLong = 9,
    typeSRational = 10,
    typeFloat = 11,
    typeDouble = 12
};

class exifWalker {
public:
    exifWalker(const uint8_t* start, size_t length, bool bigEndian, exifInfo_t& exif)
        : start_(start), length_(length), bigEndian_(bigEndian), exif_(exif) {}

    void walkDirectory(uint64_t dirOffset, int level);

private:
    uint16_t get16(const uint8_t* p) const {
        return bigEndian_ ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
    }
    uint32_t get32(const uint8_t* p) const {
        return bigEndian_ ? (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3])
                          : (uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
    }
    // Value of one number of type `format` at `p`; the caller guarantees its bytes are in range.
    double convert(const uint8_t* p, int format, uint32_t* numerator = nullptr,
                   uint32_t* denominator = nullptr) const;
    void copyText(char* field, size_t fieldSize, const uint8_t* value, uint64_t size, size_t maxChars) const;
    void readStripArray(std::vector<uint32_t>& values, const uint8_t* value, int format,
                        uint32_t count) const;
    void followLink(uint32_t value, int level);

    /// One directory entry with its value located and checked.
    struct entry {
        int tag = 0;
        int format = 0;
        uint32_t components = 0;
        uint64_t byteCount = 0;
        const uint8_t* value = nullptr;
        bool hasNumber() const { return components > 0 && format != 0; }
    };
    /// Checks the directory at `dirOffset` (not seen before, within the structure, within the limits)
    /// and gives its entry count and end; false ends the walk of this directory.
    bool enterDirectory(uint64_t dirOffset, int& entries, uint64_t& dirEnd);
    /// Reads entry `index` of the directory at `dir`; false (logged) skips an entry with an illegal
    /// type, count or value pointer.
    bool readEntry(const uint8_t* dir, int index, entry& e);
    /// Tags of the image structure (size, samples, strips, compression); false for a second image,
    /// which ends the directory. Sets `handled` when the tag was one of them.
    bool applyStructureTag(const entry& e, bool& handled);
    /// Camera tags (exposure, lens, orientation, time, maker) and the links to sub-directories.
    void applyCameraTag(const entry& e, int level);
    double number(const entry& e) const { return e.hasNumber() ? convert(e.value, e.format) : 0.0; }
    /// The next-directory link after the entries.
    void followNext(uint64_t dirEnd, int level);

    const uint8_t* start_;
    size_t length_;
    bool bigEndian_;
    exifInfo_t& exif_;
    std::vector<uint64_t> visited_;
};

double exifWalker::convert(const uint8_t* p, int format, uint32_t* numerator, uint32_t* denominator) const {
    switch (format) {
    case typeByte:
        return p[0];
    case typeSByte:
        return int8_t(p[0]);
    case typeShort:
        return get16(p);
    case typeSShort:
        return int16_t(get16(p));
    case typeLong:
        return get32(p);
    case typeSLong:
        return int32_t(get32(p));
    case typeRational:
    case typeSRational: {
        const uint32_t num = get32(p);
        const uint32_t den = get32(p + 4);
        if (numerator) *numerator = num;
        if (denominator) *denominator = den;
        if (den == 0) return 0;
        if (format == typeRational) return double(num) / double(den);
        return double(int32_t(num)) / double(int32_t(den));
    }
    case typeFloat: {
        const uint32_t bits = get32(p);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    case typeDouble: {
        const uint64_t hi = get32(bigEndian_ ? p : p + 4);
        const uint64_t lo = get32(bigEndian_ ? p + 4 : p);
        const uint64_t bits = hi << 32 | lo;
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
    default:
        debugLog("EXIF: Illegal format code %d in Exif header\n", format);
        return 0;
    }
}

// Integer fields take the truncated value; out-of-range values (NaN, huge doubles) become 0.
int32_t toInt(double v) {
    if (!(v > -2147483648.0 && v < 2147483648.0)) return 0;
    return int32_t(v);
}

// Offsets: a value that is no 32-bit unsigned number becomes an offset that fails the range checks.
uint32_t toOffset(double v) {
    if (!(v >= 0 && v < 4294967296.0)) return 0xFFFFFFFFu;
    return uint32_t(v);
}

// Millimetres per unit of FocalPlaneResolutionUnit; unknown codes keep `current`.
float focalPlaneUnitOf(int code, float current) {
    switch (code) {
    case 1:
    case 2:
        return 25.4f;
    case 3:
        return 10.0f;
    case 4:
        return 1.0f;
    case 5:
        return 0.001f;
    default:
        return current;
    }
}

void exifWalker::copyText(char* field, size_t fieldSize, const uint8_t* value, uint64_t size,
                          size_t maxChars) const {
    const size_t n = size_t(std::min<uint64_t>(size, std::min(maxChars, fieldSize - 1)));
    size_t used = 0;
    while (used < n && value[used] != 0) {
        field[used] = char(value[used]);
        ++used;
    }
    // Cameras pad these fields with spaces; the metadata tool trims them too.
    while (used > 0 && field[used - 1] == ' ')
        --used;
    std::memset(field + used, 0, fieldSize - used);
}

void exifWalker::readStripArray(std::vector<uint32_t>& values, const uint8_t* value, int format,
                                uint32_t count) const {
    values.assign(count, 0);
    switch (format) {
    case typeByte:
    case typeSByte:
    case typeShort:
    case typeSShort:
    case typeLong:
    case typeSLong:
        break;
    default:
        debugLog("EXIF: Illegal format code %d in Exif header\n", format);
        return;
    }
    // Step by the real size of the type, so the reads stay inside the value checked by the caller.
    const int step = kFormatSize[format];
    for (uint32_t i = 0; i < count; ++i)
        values[i] = uint32_t(int64_t(convert(value + size_t(i) * step, format)));
}

void exifWalker::followLink(uint32_t value, int level) {
    if (value > length_) {
        debugLog("EXIF: Illegal Exif or interop ofset directory link\n");
        return;
    }
    exif_.largestOffset = std::max<uint64_t>(exif_.largestOffset, value);
    if (level + 1 < kMaxNesting)
        walkDirectory(value, level + 1);
    else
        debugLog("Maximum Exif directory nesting exceeded (corrupt Exif header)\n");
}

bool exifWalker::enterDirectory(uint64_t dirOffset, int& entries, uint64_t& dirEnd) {
    if (dirOffset + 2 > length_) {
        debugLog("EXIF: Illegal subdirectory link in Exif header\n");
        return false;
    }
    if (std::find(visited_.begin(), visited_.end(), dirOffset) != visited_.end()) {
        debugLog("EXIF: Exif directory loop at offset %llu (corrupt Exif header)\n",
                 static_cast<unsigned long long>(dirOffset));
        return false;
    }
    if (visited_.size() >= size_t(kMaxDirectories)) {
        debugLog("EXIF: Too many Exif directories (corrupt Exif header)\n");
        return false;
    }
    visited_.push_back(dirOffset);

    entries = get16(start_ + dirOffset);
    debugLog("NumDirEntries = %d\n", entries);
    const uint64_t end = length_;
    dirEnd = dirOffset + 2 + 12ull * uint64_t(entries);
    if (dirEnd + 4 > end && !(dirEnd + 2 == end || dirEnd == end)) {
        debugLog("EXIF: Illegally sized Exif subdirectory (%d entries)\n", entries);
        return false;
    }
    return true;
}

bool exifWalker::readEntry(const uint8_t* dir, int index, entry& e) {
    const uint8_t* p = dir + 2 + 12 * index;
    e.tag = get16(p);
    e.format = get16(p + 2);
    e.components = get32(p + 4);
    if (e.format > 12) {
        debugLog("EXIF: Illegal number format %d for tag %04x in Exif\n", e.format, e.tag);
        return false;
    }
    if (e.components > 65536) {
        debugLog("EXIF: Too many components %u for tag %04x in Exif\n", e.components, e.tag);
        return false;
    }
    e.byteCount = uint64_t(e.components) * uint64_t(kFormatSize[e.format]);
    if (e.byteCount <= 4) {
        e.value = p + 8;
        return true;
    }
    const uint32_t valueOffset = get32(p + 8);
    if (uint64_t(valueOffset) + e.byteCount > length_) {
        debugLog("EXIF: Illegal value pointer for tag %04x in Exif\n", e.tag);
        return false;
    }
    e.value = start_ + valueOffset;
    exif_.largestOffset = std::max<uint64_t>(exif_.largestOffset, valueOffset);
    return true;
}

bool exifWalker::applyStructureTag(const entry& e, bool& handled) {
    handled = true;
    switch (e.tag) {
    case 0x0100:
        // A second image (the next page of a TIFF) keeps the first image's structure.
        if (exif_.width != 0) {
            debugLog("TODO: second EXIF...! BREAK!\n");
            return false;
        }
        exif_.width = toInt(number(e));
        break;
    case 0x0101:
        exif_.height = toInt(number(e));
        break;
    case 0x0102:
        exif_.bitsPerSample = toInt(number(e));
        break;
    case 0x0103:
        exif_.compression = toInt(number(e));
        break;
    case 0x0115:
        exif_.samplesPerPixel = toInt(number(e));
        break;
    case 0x0116:
        exif_.rowsPerStrip = toInt(number(e));
        break;
    case 0x013D:
        exif_.predictor = toInt(number(e));
        break;
    case 0x0106:
        if (exif_.photometric < 0 && e.hasNumber()) exif_.photometric = std::max(0, toInt(number(e)));
        break;
    case 0x011C:
        if (exif_.planarConfig == 0) exif_.planarConfig = toInt(number(e));
        break;
    case 0x0153:
        if (exif_.sampleFormat == 0) exif_.sampleFormat = toInt(number(e));
        break;
    case 0x0142:
        exif_.tiled = true;
        break;
    case 0x0111:
        readStripArray(exif_.stripOffsets, e.value, e.format, e.components);
        exif_.stripCount = int32_t(e.components);
        break;
    case 0x0117:
        readStripArray(exif_.stripByteCounts, e.value, e.format, e.components);
        break;
    default:
        handled = false;
        break;
    }
    return true;
}

void exifWalker::applyCameraTag(const entry& e, int level) {
    switch (e.tag) {
    case 0x010F:
        copyText(exif_.cameraMake, sizeof exif_.cameraMake, e.value, e.byteCount, 31);
        break;
    case 0x0110:
        copyText(exif_.cameraModel, sizeof exif_.cameraModel, e.value, e.byteCount, 39);
        break;
    case 0x0132:
    case 0x9003:
        if (exif_.dateTime[0] == 0) copyText(exif_.dateTime, sizeof exif_.dateTime, e.value, e.byteCount, 19);
        break;
    case 0x0112:
        if (exif_.orientation == -1) {
            const int32_t o = toInt(number(e));
            if (o < 0 || o > 8) {
                debugLog("EXIF: Undefined rotation value %d in Exif\n", o);
                exif_.orientation = 0;
            } else {
                exif_.orientation = o;
            }
        }
        break;
    case 0x829A: {
        exif_.exposureTime = 0;
        uint32_t num = 0, den = 0;
        if (e.hasNumber()) exif_.exposureTime = float(convert(e.value, e.format, &num, &den));
        exif_.exposureTimeNum = num;
        exif_.exposureTimeDen = den;
        break;
    }
    case 0x829D:
        exif_.fNumber = float(number(e));
        if (exif_.fNumber == 0) exif_.fNumber = 1.0f;
        break;
    case 0x9201:
        if (exif_.exposureTime == 0 && e.hasNumber()) exif_.exposureTime = float(1.0 / std::exp2(number(e)));
        break;
    case 0x9202:
    case 0x9205:
        if (exif_.fNumber == 0 && e.hasNumber()) exif_.fNumber = float(std::exp2(number(e) / 2.0));
        break;
    case 0x9204:
        exif_.exposureBias = float(number(e));
        break;
    case 0x920A:
        exif_.focalLength = float(number(e));
        break;
    case 0xA20E:
        exif_.focalPlaneXResolution = float(number(e));
        break;
    case 0xA405:
        exif_.focalLength35mm = float(number(e));
        break;
    case 0x9207:
        exif_.meteringMode = toInt(number(e));
        break;
    case 0x9208:
        exif_.lightSource = toInt(number(e));
        break;
    case 0x8822:
        exif_.exposureProgram = toInt(number(e));
        break;
    case 0xA402:
        exif_.exposureMode = toInt(number(e));
        break;
    case 0xA403:
        exif_.whiteBalance = toInt(number(e));
        break;
    case 0x8827: {
        // Some early cameras stored ISO 100 … 1800 as 0.5 … 9; real ratings start at about 10
        // (phones report 20 … 40), so only single-digit codes are rescaled.
        int32_t iso = toInt(number(e));
        if (iso > 0 && iso < 10) iso *= 200;
        exif_.iso = iso;
        break;
    }
    case 0xA215:
        if (exif_.iso == 0) exif_.iso = toInt(number(e));
        break;
    case 0xA002:
    case 0xA003:
        exif_.exifImageWidth = std::max(exif_.exifImageWidth, toInt(number(e)));
        break;
    case 0xA210:
        exif_.focalPlaneUnit = focalPlaneUnitOf(toInt(number(e)), exif_.focalPlaneUnit);
        break;
    case 0x8773:
        debugLog("ICC_PROFILE is present in EXIF!\n");
        break;
    case 0x8769:
    case 0xA005:
        if (e.hasNumber()) followLink(toOffset(number(e)), level);
        break;
    default:
        break;
    }
}

void exifWalker::followNext(uint64_t dirEnd, int level) {
    const uint64_t end = length_;
    if (dirEnd + 4 > end) return;
    const uint32_t next = get32(start_ + dirEnd);
    if (next == 0) return;
    exif_.largestOffset = std::max<uint64_t>(exif_.largestOffset, next);
    if (next >= end) {
        // A link just past the end is a common writer slip; only far-off links are reported.
        if (uint64_t(next) >= end + 20) debugLog("EXIF: Illegal subdirectory link in Exif header\n");
    } else if (level + 1 < kMaxNesting) {
        walkDirectory(next, level + 1);
    } else {
        debugLog("Maximum Exif directory nesting exceeded (corrupt Exif header)\n");
    }
}

void exifWalker::walkDirectory(uint64_t dirOffset, int level) {
    int entries = 0;
    uint64_t dirEnd = 0;
    if (!enterDirectory(dirOffset, entries, dirEnd)) return;
    const uint8_t* dir = start_ + dirOffset;
    for (int i = 0; i < entries; ++i) {
        entry e;
        if (!readEntry(dir, i, e)) continue;
        bool handled = false;
        if (!applyStructureTag(e, handled)) return;
        if (!handled) applyCameraTag(e, level);
    }
    followNext(dirEnd, level);
}

} // namespace

namespace halvora {

bool processExifStart(const uint8_t* data, size_t length, exifInfo_t& exif) {
    exif.orientation = -1;
    bool ok = false;
    if (!data || length < 8) {
        debugLog("EXIF: Invalid Exif alignment marker.\n");
    } else if (!((data[0] == 'I' && data[1] == 'I') || (data[0] == 'M' && data[1] == 'M'))) {
        debugLog("EXIF: Invalid Exif alignment marker.\n");
    } else {
        const bool bigEndian = data[0] == 'M';
        exif.bigEndian = bigEndian;
        const uint16_t magic =
            bigEndian ? uint16_t(data[2] << 8 | data[3]) : uint16_t(data[3] << 8 | data[2]);
        const uint32_t first =
            bigEndian
                ? (uint32_t(data[4]) << 24 | uint32_t(data[5]) << 16 | uint32_t(data[6]) << 8 | data[7])
                : (uint32_t(data[7]) << 24 | uint32_t(data[6]) << 16 | uint32_t(data[5]) << 8 | data[4]);
        if (magic != 0x2A) {
            debugLog("EXIF: Invalid Exif start (1)\n");
        } else if (first < 8 || (first > 16 && uint64_t(first) + 16 > length)) {
            debugLog("EXIF: Invalid offset for first Exif IFD value\n");
        } else {
            if (first > 16) debugLog("EXIF: Suspicious offset of first Exif IFD value\n");
            exifWalker walker(data, length, bigEndian, exif);
            walker.walkDirectory(first, 0);
            ok = true;
        }
    }

    if (exif.focalPlaneXResolution != 0) {
        exif.sensorWidth =
            float(double(exif.exifImageWidth) * exif.focalPlaneUnit / exif.focalPlaneXResolution);
        if (exif.focalLength != 0 && exif.focalLength35mm == 0 && exif.sensorWidth > 0)
            exif.focalLength35mm =
                float(std::floor(double(exif.focalLength) / exif.sensorWidth * 36.0 + 0.5));
    }
    if (exif.orientation == -1) exif.orientation = 0;
    return ok;
}

} // namespace halvora

namespace {

// Walks the JPEG sections of an open stream; true when the start-of-scan section was reached, else
// false with `reason` saying where the walk ended.
bool walkJpegSections(FILE* f, exifInfo_t& exif, QString& reason) {
    if (std::fgetc(f) != 0xFF || std::fgetc(f) != 0xD8) {
        debugLog("EXIF: not a JPEG file\n");
        reason = QStringLiteral("is not a JPEG file");
        return false;
    }
    std::vector<uint8_t> section;
    for (;;) {
        int previous = 0;
        int marker = -1;
        for (int bytesRead = 1; bytesRead <= 10; ++bytesRead) {
            const int c = std::fgetc(f);
            if (c == EOF) {
                debugLog("EXIF: Premature end of file\n");
                reason = QStringLiteral("ends before its picture data");
                return false;
            }
            if (c != 0xFF && previous == 0xFF) {
                marker = c;
                break;
            }
            previous = c;
            if (bytesRead == 10) {
                debugLog("EXIF: Extraneous %d padding bytes before section %02X (no EXIF header found)\n", 9,
                         c);
                reason = QStringLiteral("has no JPEG section where one should begin");
                return false;
            }
        }
        const int hi = std::fgetc(f);
        const int lo = std::fgetc(f);
        if (hi == EOF || lo == EOF) {
            debugLog("EXIF: Premature end of file\n");
            reason = QStringLiteral("ends inside a JPEG section");
            return false;
        }
        const int length = hi << 8 | lo;
        if (length < 2) {
            debugLog("EXIF: invalid marker\n");
            reason = QStringLiteral("has a JPEG section of impossible length %1").arg(length);
            return false;
        }
        section.assign(size_t(length), 0);
        section[0] = uint8_t(hi);
        section[1] = uint8_t(lo);
        if (std::fread(section.data() + 2, 1, size_t(length - 2), f) != size_t(length - 2)) {
            debugLog("EXIF: Premature end of file\n");
            reason = QStringLiteral("ends inside a JPEG section");
            return false;
        }
        if (marker == 0xDA) return true;
        if (marker == 0xE1) {
            if (length >= 8 && std::memcmp(section.data() + 2, "Exif\0\0", 6) == 0)
                halvora::processExifStart(section.data() + 8, size_t(length - 8), exif);
            else
                debugLog("EXIF: found other EXIF header (XMP?)\n");
        }
    }
}

} // namespace

namespace halvora {

bool readJpegExif(const QString& fileName, exifInfo_t& exif, QString* error) {
    static const char* const caller = "readJpegExif";
    halvora::fileHandle file = halvora::openInputFile(fileName, caller, error);
    if (!file) return false;
    QString reason;
    if (walkJpegSections(file.get(), exif, reason)) return true;
    return halvora::fail(error, caller, fileName, "no EXIF data: the file " + reason);
}

bool readJpegExifFromMemory(const uint8_t* data, size_t length, exifInfo_t& exif, QString* error) {
    static const char* const caller = "readJpegExif";
    if (!data || length == 0)
        return halvora::fail(error, caller, QString(), "no EXIF data: the file is empty");
    halvora::fileHandle file(fmemopen(const_cast<uint8_t*>(data), length, "rb"));
    if (!file) return halvora::fail(error, caller, QString(), halvora::systemReason(errno));
    QString reason;
    if (walkJpegSections(file.get(), exif, reason)) return true;
    return halvora::fail(error, caller, QString(), "no EXIF data: the file " + reason);
}

const char* lightSourceName(int code) {
    switch (code) {
    case 1:
        return "Daylight";
    case 2:
        return "Fluorescent";
    case 3:
        return "Incandescent";
    case 4:
        return "Flash";
    case 9:
        return "Fine weather";
    case 11:
        return "Shade";
    default:
        return "?";
    }
}

} // namespace halvora
