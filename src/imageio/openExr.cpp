// OpenEXR reader through the library's C interface (RGBA view of scanline, tiled and
// luminance/chroma files). The data window is read again by the load call, so no state is kept
// between the information and the load call and several files may load at once.

#include "imageio/imageLoader.h"

#include "base/debugLog.h"
#include "base/runContext.h"
#include "base/rgbBuffers.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include <ImfCRgbaFile.h>

namespace {

constexpr float kHalfMax = 65504.0f;

struct inputCloser {
    void operator()(ImfInputFile* f) const { ImfCloseInputFile(f); }
};
using inputPtr = std::unique_ptr<ImfInputFile, inputCloser>;

struct dataWindow {
    int xMin = 0, yMin = 0, xMax = 0, yMax = 0;
    int width = 0, height = 0;
};

/// Opens the file and checks its data window and channels; logs why a file is refused.
inputPtr openExr(const QString& fileName, dataWindow& w, const char* caller) {
    const QByteArray name = QFile::encodeName(fileName);
    inputPtr in(ImfOpenInputFile(name.constData()));
    if (!in) {
        debugLog("%s: Cannot open %s (%s).\n", caller, name.constData(), ImfErrorMessage());
        return nullptr;
    }
    ImfHeaderDataWindow(ImfInputHeader(in.get()), &w.xMin, &w.yMin, &w.xMax, &w.yMax);
    const int64_t width = int64_t(w.xMax) - w.xMin + 1;
    const int64_t height = int64_t(w.yMax) - w.yMin + 1;
    if (width <= 0 || height <= 0 || halvora::pictureElements(width, height, 3) == 0) {
        debugLog("%s: Impossible data window (%d, %d)-(%d, %d) in %s.\n", caller, w.xMin, w.yMin, w.xMax, w.yMax,
                 name.constData());
        return nullptr;
    }
    if (!(ImfInputChannels(in.get()) & (IMF_WRITE_RGB | IMF_WRITE_Y))) {
        debugLog("%s: No colour or luminance channels in %s.\n", caller, name.constData());
        return nullptr;
    }
    w.width = int(width);
    w.height = int(height);
    return in;
}

// Infinity and anything above the half range become the largest half. Radiance is never negative
// and NaN carries no light: both become 0, so later stages always see 0 … 65504.
inline float clampHalfValue(float v) {
    if (!(v > 0.0f))
        return 0.0f;
    return std::min(v, kHalfMax);
}

} // namespace

bool getEXRinfo(const QString& fileName, int& width, int& height) {
    dataWindow w;
    inputPtr in = openExr(fileName, w, "getEXRinfo");
    if (!in)
        return false;
    debugLog("OpenEXR image size: %d x %d\n", w.width, w.height);
    width = w.width;
    height = w.height;
    return true;
}

bool loadEXR(const QString& fileName, int width, int height, float* rgbFloat, float& minimum, float& maximum) {
    static const char* const caller = "loadEXR";
    dataWindow w;
    inputPtr in = openExr(fileName, w, caller);
    if (!in || !rgbFloat)
        return false;
    if (w.width != width || w.height != height) {
        debugLog("%s: Size %d x %d differs from the expected %d x %d.\n", caller, w.width, w.height, width, height);
        return false;
    }

    std::vector<ImfRgba> line(static_cast<size_t>(width));
    std::vector<ImfHalf> halves(size_t(width) * 3);
    std::vector<float> values(size_t(width) * 3);
    float lo = std::numeric_limits<float>::max();
    float hi = 0.0f;
    for (int r = 0; r < height; ++r) {
        if (halvora::cancelRequested()) {
            debugLog("%s: Aborted.\n", caller);
            return false;
        }
        const int y = w.yMin + r;
        // The library addresses pixel (x, y) at base + x (y stride 0), so base is shifted back by
        // xMin pixels; the address is formed as an integer to keep our pointer arithmetic in bounds.
        auto* base = reinterpret_cast<ImfRgba*>(reinterpret_cast<uintptr_t>(line.data()) -
                                                uintptr_t(intptr_t(w.xMin) * intptr_t(sizeof(ImfRgba))));
        if (!ImfInputSetFrameBuffer(in.get(), base, 1, 0) || !ImfInputReadPixels(in.get(), y, y)) {
            debugLog("%s: Cannot read row %d of %s (%s).\n", caller, y, fileName.toLocal8Bit().constData(),
                     ImfErrorMessage());
            return false;
        }
        for (int x = 0; x < width; ++x) {
            halves[x] = line[x].r;
            halves[size_t(width) + x] = line[x].g;
            halves[size_t(width) * 2 + x] = line[x].b;
        }
        ImfHalfToFloatArray(width * 3, halves.data(), values.data());
        float* out = rgbFloat + size_t(r) * size_t(width) * 3;
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const float v = clampHalfValue(values[size_t(c) * width + x]);
                out[size_t(x) * 3 + c] = v;
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
    }
    // Nothing to normalise or tone-map (the picture would divide by a zero maximum later).
    if (!(hi > 0.0f)) {
        debugLog("%s: Every pixel is black in %s.\n", caller, fileName.toLocal8Bit().constData());
        return false;
    }
    minimum = lo;
    maximum = hi;
    return true;
}
