#pragma once
// One transform between two profiles for one pixel layout, converting rows in place.
//
// Between matrix/TRC RGB profiles (the shipped ones, profiles built from primaries, most monitor
// profiles) the conversion runs through tables (matrixShaper); anything else goes through a
// LittleCMS transform. Between identical profiles nothing is made and apply() leaves the pixels as
// they are.
//
// Made on one thread (the set-up of colour management); apply() is then called from any number of
// threads at once, each with its own pixels (neither path keeps state across calls; LittleCMS has
// kept its cache per call since version 2.3).

#include "color/iccProfile.h"

#include <QString>
#include <cstddef>
#include <memory>

namespace halvora {

class matrixShaper;

/// Pixel layouts of the transforms (the same on both sides).
enum class pixelLayout {
    rgb8,     ///< R, G, B bytes (TYPE_RGB_8): previews, thumbnails
    argb32,   ///< QImage::Format_RGB32 / Format_ARGB32 pixels (0xAARRGGBB words in machine order); A is kept
    rgb16,    ///< R, G, B as 0 … 65535 (TYPE_RGB_16): result rows on their way to a file
    working16 ///< R, G, B on the working scale 0 … 32640; larger samples count as 32640
};

class colorTransform {
public:
    /// A transform that leaves pixels as they are.
    explicit colorTransform(pixelLayout layout);
    ~colorTransform();
    colorTransform(const colorTransform&) = delete;
    colorTransform& operator=(const colorTransform&) = delete;

    /// `from` → `to` with the rendering intent (LittleCMS numbering) and black-point compensation;
    /// null with "<from>: <reason>" when the two cannot be linked.
    static std::unique_ptr<colorTransform> create(const iccProfile& from, const iccProfile& to,
                                                  pixelLayout layout, int intent, bool blackPointCompensation,
                                                  QString* error);

    /// True when both profiles are the same and apply() changes nothing.
    bool identity() const { return !handle_ && !shaper_; }
    /// True when the conversion runs through tables rather than LittleCMS.
    bool usesTables() const { return shaper_ != nullptr; }
    pixelLayout layout() const { return layout_; }
    /// Converts `count` pixels in place. Any thread, concurrently with other calls.
    void apply(void* pixels, size_t count) const;

private:
    struct deleter {
        void operator()(void* handle) const;
    };
    pixelLayout layout_;
    std::unique_ptr<void, deleter> handle_;
    std::unique_ptr<matrixShaper> shaper_;
};

} // namespace halvora
