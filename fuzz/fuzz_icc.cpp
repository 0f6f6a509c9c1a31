// libFuzzer target of colour-profile loading: the input is opened as an ICC profile (as a photo's
// embedded profile or a monitor profile would be), described, and, when it opens, linked both ways
// with sRGB in every pixel layout the program uses, and a row of each layout converted.
// Seeds: the shipped profiles the build writes ("color profiles" in the build folder).

#include "color/colorTransform.h"
#include "color/iccProfile.h"
#include "color/standardProfiles.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdlib>

namespace {
const halvora::iccProfile* srgb = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("XDG_CONFIG_HOME", "/tmp/halvora-fuzz-config", 1);
    static const halvora::iccProfile built =
        halvora::buildStandardProfile(halvora::standardProfile(halvora::standardSpace::sRGB), nullptr);
    srgb = &built;
    return built.valid() ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QString error;
    const halvora::iccProfile profile = halvora::iccProfile::fromData(
        QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), "fuzz", &error);
    if (!profile.valid()) return 0;
    profile.info();
    profile.isRgb();
    uint8_t bytes[16 * 4];
    uint16_t words[16 * 3];
    for (int i = 0; i < 64; ++i)
        bytes[i] = uint8_t(i * 17);
    for (int i = 0; i < 48; ++i)
        words[i] = uint16_t(i * 1400);
    for (halvora::pixelLayout layout : {halvora::pixelLayout::rgb8, halvora::pixelLayout::argb32,
                                        halvora::pixelLayout::rgb16, halvora::pixelLayout::working16}) {
        for (int intent : {0, 3}) {
            for (bool forward : {true, false}) {
                auto t = forward
                             ? halvora::colorTransform::create(profile, *srgb, layout, intent, true, &error)
                             : halvora::colorTransform::create(*srgb, profile, layout, intent, false, &error);
                if (!t) continue;
                const bool eightBit =
                    layout == halvora::pixelLayout::rgb8 || layout == halvora::pixelLayout::argb32;
                t->apply(eightBit ? static_cast<void*>(bytes) : static_cast<void*>(words), 16);
            }
        }
    }
    return 0;
}
