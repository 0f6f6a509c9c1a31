#include "color/colorTransform.h"

#include "base/failure.h"
#include "base/rgbBuffers.h"
#include "color/lcmsErrors.h"
#include "color/matrixShaper.h"

#include <QtGlobal>
#include <algorithm>
#include <lcms2.h>

namespace halvora {

namespace {

// A 0xAARRGGBB word lies in memory as B, G, R, A on little-endian machines, A, R, G, B otherwise.
constexpr bool kLittleEndian = Q_BYTE_ORDER == Q_LITTLE_ENDIAN;

// Pixels per LittleCMS call on working-scale rows, which are taken to 16 bits and back around it.
constexpr size_t kScaleChunk = 2048;

cmsUInt32Number lcmsFormat(pixelLayout layout) {
    switch (layout) {
    case pixelLayout::rgb8:
        return TYPE_RGB_8;
    case pixelLayout::argb32:
        return kLittleEndian ? TYPE_BGRA_8 : TYPE_ARGB_8;
    case pixelLayout::rgb16:
    case pixelLayout::working16:
        return TYPE_RGB_16;
    }
    return TYPE_RGB_8;
}

shaperSamples samplesOf(pixelLayout layout) {
    switch (layout) {
    case pixelLayout::rgb8:
    case pixelLayout::argb32:
        return shaperSamples::bytes;
    case pixelLayout::rgb16:
        return shaperSamples::sixteenBit;
    case pixelLayout::working16:
        return shaperSamples::workingScale;
    }
    return shaperSamples::bytes;
}

size_t bytesPerPixel(pixelLayout layout) {
    return layout == pixelLayout::rgb8 ? 3 : layout == pixelLayout::argb32 ? 4 : 6;
}

inline uint16_t workingTo16(uint16_t v) {
    const uint32_t c = std::min<uint32_t>(v, uint32_t(kFullScale));
    return uint16_t((c * 65535u + uint32_t(kFullScale) / 2) / uint32_t(kFullScale));
}

inline uint16_t sixteenToWorking(uint16_t v) {
    return uint16_t((uint32_t(v) * uint32_t(kFullScale) + 32767u) / 65535u);
}

} // namespace

void colorTransform::deleter::operator()(void* handle) const {
    cmsDeleteTransform(handle);
}

colorTransform::colorTransform(pixelLayout layout) : layout_(layout) {}
colorTransform::~colorTransform() = default;

std::unique_ptr<colorTransform> colorTransform::create(const iccProfile& from, const iccProfile& to,
                                                       pixelLayout layout, int intent,
                                                       bool blackPointCompensation, QString* error) {
    static const char* const who = "colorTransform::create";
    if (!from.valid() || !to.valid()) {
        fail(error, who, from.valid() ? to.origin() : from.origin(), "the colour profile is not open");
        return nullptr;
    }
    auto t = std::make_unique<colorTransform>(layout);
    if (from.data() == to.data()) return t;
    t->shaper_ = matrixShaper::create(from, to, samplesOf(layout), intent, blackPointCompensation);
    if (t->shaper_) return t;
    lcmsErrorCapture capture;
    const cmsUInt32Number format = lcmsFormat(layout);
    const cmsUInt32Number flags = blackPointCompensation ? cmsFLAGS_BLACKPOINTCOMPENSATION : 0;
    t->handle_.reset(
        cmsCreateTransform(from.handle(), format, to.handle(), format, cmsUInt32Number(intent), flags));
    if (!t->handle_) {
        fail(error, who, from.origin(),
             QString("cannot be converted to %1: %2")
                 .arg(to.origin(), capture.reason("LittleCMS cannot link the two profiles")));
        return nullptr;
    }
    return t;
}

void colorTransform::apply(void* pixels, size_t count) const {
    if (!pixels || identity()) return;
    if (shaper_) {
        switch (layout_) {
        case pixelLayout::rgb8:
            shaper_->apply(static_cast<uint8_t*>(pixels), count, 3, 0, 1, 2);
            break;
        case pixelLayout::argb32:
            if (kLittleEndian)
                shaper_->apply(static_cast<uint8_t*>(pixels), count, 4, 2, 1, 0);
            else
                shaper_->apply(static_cast<uint8_t*>(pixels), count, 4, 1, 2, 3);
            break;
        case pixelLayout::rgb16:
        case pixelLayout::working16:
            shaper_->apply(static_cast<uint16_t*>(pixels), count);
            break;
        }
        return;
    }
    if (layout_ == pixelLayout::working16) {
        auto* rgb = static_cast<uint16_t*>(pixels);
        for (size_t done = 0; done < count; done += kScaleChunk) {
            const size_t n = std::min(kScaleChunk, count - done);
            uint16_t* p = rgb + done * 3;
            for (size_t i = 0; i < n * 3; ++i)
                p[i] = workingTo16(p[i]);
            cmsDoTransform(handle_.get(), p, p, cmsUInt32Number(n));
            for (size_t i = 0; i < n * 3; ++i)
                p[i] = sixteenToWorking(p[i]);
        }
        return;
    }
    // The library counts pixels in 32 bits.
    constexpr size_t kChunk = size_t(1) << 30;
    auto* bytes = static_cast<unsigned char*>(pixels);
    const size_t stride = bytesPerPixel(layout_);
    for (size_t done = 0; done < count;) {
        const size_t n = std::min(kChunk, count - done);
        cmsDoTransform(handle_.get(), bytes + done * stride, bytes + done * stride, cmsUInt32Number(n));
        done += n;
    }
}

} // namespace halvora
