#include "base/pyramid.h"

#include "base/debugLog.h"
#include "base/parallelFor.h"
#include "base/rgbBuffers.h"
#include "base/tempFileRecord.h"

namespace {

struct buildLevel_threadParams_t {
    const void* src;
    void* dst;
    int srcWidth, dstWidth, channels;
};

// One output row range of the 2 × 2 reduction; columns and rows 2x−1 clamp to 0.
template <class T> void reduceRows(const buildLevel_threadParams_t& p, int64_t y0, int64_t y1) {
    const T* src = static_cast<const T*>(p.src);
    T* dst = static_cast<T*>(p.dst);
    const int c = p.channels;
    for (int64_t y = y0; y < y1; ++y) {
        const T* r0 = src + size_t(y == 0 ? 0 : 2 * y - 1) * p.srcWidth * c;
        const T* r1 = src + size_t(2 * y) * p.srcWidth * c;
        T* out = dst + size_t(y) * p.dstWidth * c;
        for (int x = 0; x < p.dstWidth; ++x) {
            const int xa = (x == 0 ? 0 : 2 * x - 1) * c, xb = 2 * x * c;
            for (int ch = 0; ch < c; ++ch) {
                if constexpr (std::is_floating_point_v<T>)
                    out[x * c + ch] = (r0[xa + ch] + r0[xb + ch] + r1[xa + ch] + r1[xb + ch]) * 0.25f;
                else
                    out[x * c + ch] =
                        T((uint32_t(r0[xa + ch]) + r0[xb + ch] + r1[xa + ch] + r1[xb + ch]) >> 2);
            }
        }
    }
}

} // namespace

bool pyramid::init(int w, int h, int levels, int bytesPerSample, int channels, bool allocate) {
    release();
    if (levels < 1 || levels > kMaxLevels || !halvora::pictureElements(w, h, channels) ||
        (bytesPerSample != 1 && bytesPerSample != 2 && bytesPerSample != 4))
        return false;
    bytesPerSample_ = bytesPerSample;
    channels_ = channels;
    levelCount_ = levels;
    for (int k = 0; k < levels; ++k) {
        levels_[k].isFirst = (k == 0);
        levels_[k].width = k == 0 ? w : levels_[k - 1].width / 2;
        levels_[k].height = k == 0 ? h : levels_[k - 1].height / 2;
        if (allocate) {
            const size_t bytes = levelBytes(k);
            levels_[k].block = bytes ? halvora::allocateBlock<uint8_t>(bytes) : nullptr;
            if (bytes && !levels_[k].block) {
                release();
                return false;
            }
        }
    }
    return true;
}

bool pyramid::reshape(int w, int h, int levels) {
    if (!allocated() || levels < 1 || levels > kMaxLevels || !halvora::pictureElements(w, h, channels_) ||
        size_t(w) * size_t(h) * size_t(channels_) * size_t(bytesPerSample_) > levelBytes(0))
        return false;
    std::unique_ptr<uint8_t[]> first = std::move(levels_[0].block);
    const int bytes = bytesPerSample_, channels = channels_;
    if (!init(w, h, levels, bytes, channels, false)) return false;
    levels_[0].block = std::move(first);
    for (int k = 1; k < levels; ++k) {
        const size_t n = levelBytes(k);
        levels_[k].block = n ? halvora::allocateBlock<uint8_t>(n) : nullptr;
        if (n && !levels_[k].block) {
            release();
            return false;
        }
    }
    return true;
}

void pyramid::release() {
    for (level& l : levels_)
        l = level{};
    levelCount_ = bytesPerSample_ = channels_ = 0;
}

size_t pyramid::levelBytes(int k) const {
    return size_t(levels_[k].width) * size_t(levels_[k].height) * size_t(channels_) * size_t(bytesPerSample_);
}

void pyramid::dropSmallerLevels() {
    if (levelCount_ <= 1) return;
    for (int k = 1; k < levelCount_; ++k)
        levels_[k] = level{};
    levelCount_ = 1;
}

void pyramid::releaseSmallerLevelsExcept(int kept) {
    for (int k = 1; k < levelCount_; ++k)
        if (k != kept) levels_[k].block.reset();
}

void pyramid::buildLevels() {
    for (int k = 1; k < levelCount_; ++k) {
        if (!levels_[k].block || !levels_[k - 1].block || levels_[k].width == 0 || levels_[k].height == 0)
            return;
        buildLevel_threadParams_t p{levels_[k - 1].block.get(), levels_[k].block.get(), levels_[k - 1].width,
                                    levels_[k].width, channels_};
        halvora::parallelFor(levels_[k].height, [&](int, int64_t y0, int64_t y1) {
            if (bytesPerSample_ == 1)
                reduceRows<uint8_t>(p, y0, y1);
            else if (bytesPerSample_ == 2)
                reduceRows<uint16_t>(p, y0, y1);
            else
                reduceRows<float>(p, y0, y1);
        });
    }
}

bool pyramid::readFromTempFile(tempFileRecord* file) {
    if (!file || !file->isOpen() || !allocated()) return false;
    return file->read(levels_[0].block.get(), levelBytes(0), "pyramid::readFromTempFile");
}

bool pyramid::writeToTempFile(tempFileRecord* file) {
    if (!file || !file->isOpen() || !allocated()) return false;
    return file->write(levels_[0].block.get(), levelBytes(0), "pyramid::writeToTempFile");
}
