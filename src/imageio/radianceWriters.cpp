// Writers of the merged radiance picture: Radiance RGBE (flat pixels) and OpenEXR (half RGBA, PIZ).
// Both write a file that gets its name only when every byte of it is on disk (base/replacingFile.h),
// so an existing file of that name survives any failure and no partial file is left behind.

#include "imageio/imageSaver.h"

#include "base/appIdentity.h"
#include "base/debugLog.h"
#include "base/failure.h"
#include "base/parallelFor.h"
#include "base/replacingFile.h"
#include "base/rgbBuffers.h"
#include "base/runContext.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <ImfCRgbaFile.h>

namespace {

bool validPicture(int width, int height, const float* rgbFloat) {
    return rgbFloat && halvora::pictureElements(width, height, 3) != 0;
}

/// One part of the RGBE encoding of a band of rows.
struct rgbeEncode_threadParams_t {
    const float* source = nullptr; // first pixel of the band
    uint8_t* target = nullptr;     // 4 bytes per pixel
    int64_t begin = 0, end = 0;    // pixels of the band
};

// Negative and NaN values carry no light; infinity is kept at the largest float.
inline float encodable(float v) {
    if (!(v > 0.0f)) return 0.0f;
    return std::min(v, std::numeric_limits<float>::max());
}

void rgbeEncode(const rgbeEncode_threadParams_t& p) {
    for (int64_t i = p.begin; i < p.end; ++i) {
        const float c[3] = {encodable(p.source[i * 3]), encodable(p.source[i * 3 + 1]),
                            encodable(p.source[i * 3 + 2])};
        uint8_t* out = p.target + i * 4;
        const double v = std::max({double(c[0]), double(c[1]), double(c[2])});
        if (v < 3e-38) {
            out[0] = out[1] = out[2] = out[3] = 0;
            continue;
        }
        int e = 0;
        double m = std::frexp(v, &e);
        if (e > 127) { // only the very top of the float range: keep the largest RGBE value
            e = 127;
            m = 255.0 / 256.0;
        }
        const double scale = m * 256.0 / v;
        for (int k = 0; k < 3; ++k)
            out[k] = uint8_t(std::min(255.0, double(c[k]) * scale));
        out[3] = uint8_t(e + 128);
    }
}

} // namespace

bool imageSaver::saveRadianceRGBE(const QString& fileName, int width, int height, const float* rgbFloat,
                                  QString* error) {
    static const char* const caller = "imageSaver::saveRadianceRGBE";
    debugLog("Save Radiance RGBE format...\n");
    if (!validPicture(width, height, rgbFloat))
        return halvora::fail(
            error, caller, fileName,
            QStringLiteral("cannot write an invalid picture of %1 x %2").arg(width).arg(height));
    halvora::replacingFile target(fileName);
    if (!target.open(caller, error)) return false;
    const QByteArray header =
        QStringLiteral("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nSOFTWARE=%1 %2 \n\n-Y %3 +X %4\n")
            .arg(halvora::kApplicationName, halvora::kApplicationVersion)
            .arg(height)
            .arg(width)
            .toLatin1();
    bool ok = target.write(header.constData(), size_t(header.size()));

    const int bandRows = std::max(1, std::min(height, (256 * 1024) / width));
    std::vector<uint8_t> band(size_t(bandRows) * size_t(width) * 4);
    for (int first = 0; ok && first < height; first += bandRows) {
        if (halvora::cancelRequested())
            return halvora::fail(error, caller, fileName, "saving was interrupted");
        const int rows = std::min(bandRows, height - first);
        const float* source = rgbFloat + size_t(first) * size_t(width) * 3;
        halvora::parallelFor(int64_t(rows) * width, [&](int, int64_t begin, int64_t end) {
            rgbeEncode({source, band.data(), begin, end});
        });
        for (int r = 0; r < rows && ok; ++r) {
            const size_t rowBytes = size_t(width) * 4;
            ok = target.write(band.data() + size_t(r) * rowBytes, rowBytes);
            halvora::addProgress(1);
        }
    }
    return target.commit(caller, error);
}

bool imageSaver::saveOpenEXR(const QString& fileName, int width, int height, const float* rgbFloat,
                             QString* error) {
    static const char* const caller = "imageSaver::saveOpenEXR";
    debugLog("Saving OpenEXR image format...\n");
    if (!validPicture(width, height, rgbFloat))
        return halvora::fail(
            error, caller, fileName,
            QStringLiteral("cannot write an invalid picture of %1 x %2").arg(width).arg(height));
    halvora::replacingFile target(fileName);
    if (!target.open(caller, error)) return false;
    ImfHeader* header = ImfNewHeader();
    if (!header) return halvora::fail(error, caller, fileName, "not enough memory for an OpenEXR header");
    ImfHeaderSetDataWindow(header, 0, 0, width - 1, height - 1);
    ImfHeaderSetDisplayWindow(header, 0, 0, width - 1, height - 1);
    ImfHeaderSetCompression(header, IMF_PIZ_COMPRESSION);
    ImfHeaderSetLineOrder(header, IMF_INCREASING_Y);
    // The library writes through the temporary file's own path; it never names the final file.
    ImfOutputFile* out = ImfOpenOutputFile(target.path().constData(), header, IMF_WRITE_RGBA);
    ImfDeleteHeader(header);
    if (!out) return halvora::fail(error, caller, fileName, QString::fromLocal8Bit(ImfErrorMessage()));

    // Planar R, G, B, A of one row, converted to half in one call, then interleaved.
    std::vector<float> planar(size_t(width) * 4);
    std::vector<ImfHalf> halves(size_t(width) * 4);
    std::vector<ImfRgba> line(static_cast<size_t>(width));
    constexpr float kHalfMax = 65504.0f;
    bool ok = true;
    bool interrupted = false;
    for (int r = 0; r < height && ok; ++r) {
        if (halvora::cancelRequested()) {
            interrupted = true;
            break;
        }
        const float* src = rgbFloat + size_t(r) * size_t(width) * 3;
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                // Beyond the half range a value would become infinity.
                const float v = src[size_t(x) * 3 + c];
                planar[size_t(c) * width + x] = std::isnan(v) ? 0.0f : std::clamp(v, -kHalfMax, kHalfMax);
            }
            // Opaque, so that other programs show the picture rather than a transparent one.
            planar[size_t(3) * width + x] = 1.0f;
        }
        ImfFloatToHalfArray(width * 4, planar.data(), halves.data());
        for (int x = 0; x < width; ++x) {
            line[x].r = halves[x];
            line[x].g = halves[size_t(width) + x];
            line[x].b = halves[size_t(width) * 2 + x];
            line[x].a = halves[size_t(width) * 3 + x];
        }
        // The frame buffer addresses pixel (x, r) at base + x (y stride 0): one row at a time.
        ok = ImfOutputSetFrameBuffer(out, line.data(), 1, 0) && ImfOutputWritePixels(out, 1);
        halvora::addProgress(1);
    }
    QString reason = ok ? QString() : QString::fromLocal8Bit(ImfErrorMessage());
    if (!ImfCloseOutputFile(out) && reason.isEmpty()) reason = QString::fromLocal8Bit(ImfErrorMessage());
    if (interrupted) return halvora::fail(error, caller, fileName, "saving was interrupted");
    if (!reason.isEmpty()) return halvora::fail(error, caller, fileName, reason);
    return target.commit(caller, error);
}
