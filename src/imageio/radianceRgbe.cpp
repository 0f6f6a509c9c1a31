// Radiance RGBE reader: header, resolution line and scanlines (flat, old-style and new-style
// run-length encoded). The file is hostile: every count is checked before it is used, and runs that
// would leave their scanline make the file refused rather than clipped.

#include "imageio/imageLoader.h"

#include "base/failure.h"
#include "base/fileHandle.h"
#include "base/parallelFor.h"
#include "base/rgbBuffers.h"
#include "base/runContext.h"
#include "imageio/declaredSize.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr size_t kReadBufferSize = 16 * 1024;
// Longest header accepted; real headers are a few hundred bytes.
constexpr int64_t kMaxHeaderBytes = 64 * 1024;

/// Reads a file through a 16 KiB buffer and counts the bytes consumed.
class rgbeByteReader {
public:
    explicit rgbeByteReader(std::FILE* file) : file_(file), buffer_(kReadBufferSize) {}

    /// Next byte, or -1 at the end of the file.
    int get() {
        if (pos_ == len_ && !refill()) return -1;
        ++consumed_;
        return buffer_[pos_++];
    }
    /// Reads n bytes; false when the file ends first.
    bool read(uint8_t* dst, size_t n) {
        while (n > 0) {
            if (pos_ == len_ && !refill()) return false;
            const size_t take = std::min(n, len_ - pos_);
            std::memcpy(dst, buffer_.data() + pos_, take);
            pos_ += take;
            consumed_ += int64_t(take);
            dst += take;
            n -= take;
        }
        return true;
    }
    int64_t consumed() const { return consumed_; }

private:
    bool refill() {
        len_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
        pos_ = 0;
        return len_ > 0;
    }

    std::FILE* file_;
    std::vector<uint8_t> buffer_;
    size_t pos_ = 0;
    size_t len_ = 0;
    int64_t consumed_ = 0;
};

struct rgbeHeader {
    int width = 0;
    int height = 0;
    bool flipY = false; // "+Y": rows stored bottom to top
    bool flipX = false; // "-X": pixels stored right to left
    double primaries[8] = {};
    bool primariesPresent = false;
};

/// One header line without its line end (CR LF accepted); false at the end of the file.
bool readLine(rgbeByteReader& in, std::string& line, int64_t limit) {
    line.clear();
    for (;;) {
        const int c = in.get();
        if (c < 0 || in.consumed() > limit) return false;
        if (c == '\n') break;
        if (line.size() < 1024) line.push_back(char(c));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

std::string trimmed(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    return s.substr(b, e - b);
}

// Chromaticities that a colour profile can be built from; zeros (as some tools write) are not.
bool plausiblePrimaries(const double p[8]) {
    for (int i = 0; i < 8; i += 2) {
        if (!(p[i] > 0.0 && p[i] < 1.0 && p[i + 1] > 0.0 && p[i + 1] < 1.0)) return false;
    }
    return true;
}

/// Header lines up to the empty line, then the resolution line; false with the reason of a refusal.
bool readRgbeHeader(rgbeByteReader& in, rgbeHeader& h, QString& reason) {
    std::string line;
    for (;;) {
        if (!readLine(in, line, kMaxHeaderBytes)) {
            reason = QStringLiteral("is not a Radiance file (no end of its header)");
            return false;
        }
        if (line.empty()) break;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = trimmed(line.substr(0, eq));
        const std::string value = trimmed(line.substr(eq + 1));
        if (key == "FORMAT") {
            if (value != "32-bit_rle_rgbe") {
                reason = QStringLiteral("has the unsupported pixel format \"%1\"")
                             .arg(QString::fromStdString(value));
                return false;
            }
        } else if (key == "PRIMARIES") {
            double p[8];
            const char* text = value.c_str();
            int count = 0;
            for (; count < 8; ++count) {
                char* end = nullptr;
                p[count] = std::strtod(text, &end);
                if (end == text) break;
                text = end;
            }
            if (count == 8 && plausiblePrimaries(p)) {
                std::copy(p, p + 8, h.primaries);
                h.primariesPresent = true;
            }
        }
    }

    if (!readLine(in, line, kMaxHeaderBytes + 256)) {
        reason = QStringLiteral("has no resolution line");
        return false;
    }
    // Two axis tokens, each followed by its size ("-Y 512 +X 1024"); numbers are read without
    // overflow, anything out of range is refused below.
    std::string axis[2];
    long long size[2] = {};
    const char* p = line.c_str();
    bool parsed = line.size() <= 255;
    for (int i = 0; i < 2 && parsed; ++i) {
        while (*p == ' ' || *p == '\t')
            ++p;
        const char* start = p;
        while (*p && *p != ' ' && *p != '\t')
            ++p;
        axis[i].assign(start, p);
        char* end = nullptr;
        size[i] = std::strtoll(p, &end, 10);
        parsed = !axis[i].empty() && end != p;
        p = end;
    }
    if (!parsed) {
        reason = QStringLiteral("has a bad resolution line");
        return false;
    }
    if ((axis[0] != "-Y" && axis[0] != "+Y") || (axis[1] != "+X" && axis[1] != "-X")) {
        reason = QStringLiteral("stores its pixels in the unsupported order \"%1 %2\"")
                     .arg(QString::fromStdString(axis[0]), QString::fromStdString(axis[1]));
        return false;
    }
    if (halvora::pictureElements(size[1], size[0], 3) == 0) {
        reason = QStringLiteral("has the impossible picture size %1 x %2").arg(size[1]).arg(size[0]);
        return false;
    }
    h.height = int(size[0]);
    h.width = int(size[1]);
    h.flipY = (axis[0][0] == '+');
    h.flipX = (axis[1][0] == '-');
    return true;
}

// Fewest bytes one scanline of `width` pixels can take. A flat row starts with one pixel and can then
// repeat it in old-style runs: k consecutive run markers of four bytes cover up to 256^k − 1 pixels.
// A run-length row has a four-byte start and its four components in runs of at most 127 bytes, each
// run two bytes.
uint64_t leastRowBytes(int64_t width) {
    uint64_t flat = 4;
    for (int64_t covered = 1; covered < width; covered *= 256)
        flat += 4;
    if (width < 8 || width > 0x7fff) return flat;
    const uint64_t encoded = 4 + 4 * 2 * uint64_t((width + 126) / 127);
    return std::min(flat, encoded);
}

/// Opens the file and reads its header; checks that the rest of the file can hold the pixels.
halvora::fileHandle openRgbe(const QString& fileName, rgbeHeader& h, std::unique_ptr<rgbeByteReader>& reader,
                             const char* caller, QString* error) {
    int64_t fileSize = 0;
    halvora::fileHandle file = halvora::openInputFile(fileName, caller, error, &fileSize);
    if (!file) return nullptr;
    reader = std::make_unique<rgbeByteReader>(file.get());
    QString reason;
    if (!readRgbeHeader(*reader, h, reason)) {
        halvora::fail(error, caller, fileName, reason);
        return nullptr;
    }
    const uint64_t rest = uint64_t(std::max<int64_t>(0, fileSize - reader->consumed()));
    if (!halvora::fileHoldsPicture(h.width, h.height, leastRowBytes(h.width) * uint64_t(h.height), rest,
                                   caller, fileName, error))
        return nullptr;
    return file;
}

/// Decodes one scanline into `row` (width × 4 bytes R, G, B, E); false with the reason on corrupt data.
bool decodeScanline(rgbeByteReader& in, int width, uint8_t* row, int y, QString& reason) {
    const QString endsAt = QStringLiteral("the pixel data end in row %1").arg(y);
    uint8_t first[4];
    if (!in.read(first, 4)) {
        reason = endsAt;
        return false;
    }
    const bool newStyle =
        width >= 8 && width <= 0x7fff && first[0] == 2 && first[1] == 2 && !(first[2] & 0x80);
    if (newStyle) {
        const int length = (first[2] << 8) | first[3];
        if (length != width) {
            reason = QStringLiteral("scanline %1 has the length %2 instead of the width %3")
                         .arg(y)
                         .arg(length)
                         .arg(width);
            return false;
        }
        for (int c = 0; c < 4; ++c) {
            int x = 0;
            while (x < width) {
                const int code = in.get();
                if (code < 0) {
                    reason = endsAt;
                    return false;
                }
                const int count = code > 128 ? code - 128 : code;
                if (count == 0) {
                    reason = QStringLiteral("empty run in row %1 at x = %2").arg(y).arg(x);
                    return false;
                }
                if (x + count > width) {
                    reason = QStringLiteral("a run of %1 bytes overflows row %2 at x = %3")
                                 .arg(count)
                                 .arg(y)
                                 .arg(x);
                    return false;
                }
                if (code > 128) {
                    const int value = in.get();
                    if (value < 0) {
                        reason = endsAt;
                        return false;
                    }
                    for (int i = 0; i < count; ++i)
                        row[(x + i) * 4 + c] = uint8_t(value);
                } else {
                    for (int i = 0; i < count; ++i) {
                        const int value = in.get();
                        if (value < 0) {
                            reason = endsAt;
                            return false;
                        }
                        row[(x + i) * 4 + c] = uint8_t(value);
                    }
                }
                x += count;
            }
        }
        return true;
    }

    // Flat pixels, possibly with old-style runs: (1, 1, 1, n) repeats the previous pixel n << shift
    // times, the shift growing by 8 for each consecutive run marker (n = 0 only raises the shift).
    // At the start of a row there is nothing to repeat, so there it is an ordinary (very dark) pixel.
    std::memcpy(row, first, 4);
    int x = 1;
    int shift = 0;
    uint8_t p[4];
    while (x < width) {
        if (!in.read(p, 4)) {
            reason = endsAt;
            return false;
        }
        if (p[0] == 1 && p[1] == 1 && p[2] == 1) {
            const int64_t count = shift > 24 ? std::numeric_limits<int64_t>::max() : int64_t(p[3]) << shift;
            if (count > width - x) {
                reason = QStringLiteral("an old-style run of %1 pixels overflows row %2 at x = %3")
                             .arg(std::min<int64_t>(count, 1LL << 40))
                             .arg(y)
                             .arg(x);
                return false;
            }
            for (int64_t i = 0; i < count; ++i, ++x)
                std::memcpy(row + size_t(x) * 4, row + size_t(x - 1) * 4, 4);
            shift += 8;
        } else {
            std::memcpy(row + size_t(x) * 4, p, 4);
            ++x;
            shift = 0;
        }
    }
    return true;
}

/// One part of the conversion of a band of decoded rows to floats.
struct rgbeToFloat_threadParams_t {
    const uint8_t* rgbe = nullptr; // band, width × rows × 4
    float* target = nullptr;       // the picture
    int width = 0;
    int height = 0;
    int firstRow = 0; // file row of the band's first row
    bool flipX = false;
    bool flipY = false;
    int64_t begin = 0, end = 0; // pixels of the band
    float minimum = std::numeric_limits<float>::max();
    float maximum = 0.0f;
};

// 2^(e − 128) for every exponent byte; exact in double (2^−128 … 2^127).
struct exponentTable {
    double f[256];
    exponentTable() {
        for (int e = 0; e < 256; ++e)
            f[e] = std::ldexp(1.0, e - 128);
    }
};

void rgbeToFloat(rgbeToFloat_threadParams_t& p) {
    static const exponentTable table;
    constexpr double kFloatMax = std::numeric_limits<float>::max();
    for (int64_t i = p.begin; i < p.end; ++i) {
        const uint8_t* px = p.rgbe + i * 4;
        const int64_t fileRow = p.firstRow + i / p.width;
        const int64_t fileCol = i % p.width;
        const int64_t row = p.flipY ? p.height - 1 - fileRow : fileRow;
        const int64_t col = p.flipX ? p.width - 1 - fileCol : fileCol;
        float* out = p.target + (row * p.width + col) * 3;
        const double f = table.f[px[3]];
        for (int c = 0; c < 3; ++c) {
            // 255 × 2^127 does not fit a float; such values are kept at the largest float.
            const float v = float(std::min(px[c] * f, kFloatMax));
            out[c] = v;
            p.minimum = std::min(p.minimum, v);
            p.maximum = std::max(p.maximum, v);
        }
    }
}

} // namespace

namespace halvora {

bool getRGBEinfo(const QString& fileName, int& width, int& height, double primaries[8],
                 bool& primariesPresent, QString* error) {
    rgbeHeader h;
    std::unique_ptr<rgbeByteReader> reader;
    halvora::fileHandle file = openRgbe(fileName, h, reader, "getRGBEinfo", error);
    if (!file) return false;
    width = h.width;
    height = h.height;
    primariesPresent = h.primariesPresent;
    if (primaries) std::copy(h.primaries, h.primaries + 8, primaries);
    return true;
}

} // namespace halvora

bool imageLoader::loadRadianceRGBE(const QString& fileName, int width, int height, float* rgbFloat,
                                   float& maximum, float& minimum, QString* error) {
    static const char* const caller = "imageLoader::loadRadianceRGBE";
    rgbeHeader h;
    std::unique_ptr<rgbeByteReader> reader;
    halvora::fileHandle file = openRgbe(fileName, h, reader, caller, error);
    if (!file) return false;
    if (!rgbFloat) return halvora::fail(error, caller, fileName, "no picture to load into");
    if (h.width != width || h.height != height)
        return halvora::fail(error, caller, fileName,
                             QStringLiteral("now holds a %1 × %2 picture instead of %3 × %4")
                                 .arg(h.width)
                                 .arg(h.height)
                                 .arg(width)
                                 .arg(height));

    // Rows are decoded one band at a time (about 1 MiB of RGBE bytes), then converted in parallel.
    const int bandRows = std::max(1, std::min(height, (256 * 1024) / width));
    std::vector<uint8_t> band(size_t(bandRows) * size_t(width) * 4);
    float lo = std::numeric_limits<float>::max();
    float hi = 0.0f;
    for (int first = 0; first < height; first += bandRows) {
        if (halvora::cancelRequested())
            return halvora::fail(error, caller, fileName, "loading was interrupted");
        const int rows = std::min(bandRows, height - first);
        for (int r = 0; r < rows; ++r) {
            QString reason;
            if (!decodeScanline(*reader, width, band.data() + size_t(r) * width * 4, first + r, reason))
                return halvora::fail(error, caller, fileName, "corrupt pixel data: " + reason);
        }
        const auto parts = halvora::parallelRecords<rgbeToFloat_threadParams_t>(
            int64_t(rows) * width,
            [&](int, int64_t begin, int64_t end) {
                rgbeToFloat_threadParams_t p;
                p.rgbe = band.data();
                p.target = rgbFloat;
                p.width = width;
                p.height = height;
                p.firstRow = first;
                p.flipX = h.flipX;
                p.flipY = h.flipY;
                p.begin = begin;
                p.end = end;
                return p;
            },
            rgbeToFloat);
        for (const rgbeToFloat_threadParams_t& p : parts) {
            lo = std::min(lo, p.minimum);
            hi = std::max(hi, p.maximum);
        }
    }
    // Nothing to normalise or tone-map (the picture would divide by a zero maximum later).
    if (!(hi > 0.0f)) return halvora::fail(error, caller, fileName, "every pixel is black");
    minimum = lo;
    maximum = hi;
    return true;
}
