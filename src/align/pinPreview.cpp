#include "align/pinPreview.h"

#include "align/transformedImage.h"
#include "base/failure.h"
#include "base/parallelFor.h"

#include <cstdlib>

namespace halvora {

alignTransform scaledTransform(const alignTransform& t, double sx, double sy) {
    // Conjugation with the scaling S = diag(sx, sy): S⁻¹ ∘ t ∘ S.
    alignTransform s = t;
    s.a[1] = t.a[1] * sy / sx;
    s.a[2] = t.a[2] / sx;
    s.a[3] = t.a[3] * sx / sy;
    s.a[5] = t.a[5] / sy;
    s.a[6] = t.a[6] * sx;
    s.a[7] = t.a[7] * sy;
    return s;
}

bool renderPinPreview(const rgb16Buffer& base, const rgb16Buffer& photo, const alignTransform& transform,
                      int model, int mode, rgb16Buffer& out, QString* error) {
    const char* const who = "manualAlignment::renderPreview";
    if (!base.data || !photo.data || base.width <= 0 || base.height <= 0 || base.width != photo.width ||
        base.height != photo.height)
        return fail(error, who, QString(), "the base photo and the photo to align differ in size");
    if (mode != previewAverage && mode != previewDifference && mode != previewResult)
        return fail(error, who, QString(), QString("unknown preview mode %1").arg(mode));
    alignCropRect whole;
    whole.right = base.width;
    whole.bottom = base.height;
    if (!getTransformedImage(photo, transform, model, whole, out, error)) return false;
    if (mode == previewResult) return true;
    const int64_t rowSamples = int64_t(base.width) * 3;
    parallelFor(base.height, [&](int, int64_t begin, int64_t end) {
        for (int64_t y = begin; y < end; ++y) {
            const uint16_t* b = base.pixels() + y * rowSamples;
            uint16_t* o = out.pixels() + y * rowSamples;
            if (mode == previewAverage)
                for (int64_t i = 0; i < rowSamples; ++i)
                    o[i] = uint16_t((unsigned(o[i]) + unsigned(b[i]) + 1) / 2);
            else
                for (int64_t i = 0; i < rowSamples; ++i)
                    o[i] = uint16_t(std::abs(int(o[i]) - int(b[i])));
        }
    });
    return true;
}

} // namespace halvora
