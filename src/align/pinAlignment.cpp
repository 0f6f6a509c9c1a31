#include "align/pinAlignment.h"

#include "base/debugLog.h"
#include "base/failure.h"

#include <algorithm>
#include <cmath>

namespace halvora {

int pinsUsedBy(int model) {
    switch (model) {
    case alignShift:
        return 1;
    case alignShiftRotation:
    case alignShiftRotationAlt:
        return 2;
    case alignPerspective:
        return 4;
    default:
        return 0;
    }
}

bool transformFromPins(int model, const alignPoint base[4], const alignPoint photo[4], int photoIndex,
                       alignTransform& out, QString* error) {
    const int used = pinsUsedBy(model);
    if (used == 0)
        return fail(error, "manualAlignment::transformFromPins", QString(),
                    QString("unknown alignment method %1").arg(model));
    for (int k = 0; k < used; ++k)
        if (!std::isfinite(base[k].x) || !std::isfinite(base[k].y) || !std::isfinite(photo[k].x) ||
            !std::isfinite(photo[k].y))
            return fail(error, "manualAlignment::transformFromPins", QString(),
                        "a pin position is not a number");
    alignTransform t;
    if (model == alignShift) {
        t.a[2] = photo[0].x - base[0].x;
        t.a[5] = photo[0].y - base[0].y;
    } else if (used == 2) {
        const double bx = base[1].x - base[0].x, by = base[1].y - base[0].y;
        const double px = photo[1].x - photo[0].x, py = photo[1].y - photo[0].y;
        if ((bx == 0 && by == 0) || (px == 0 && py == 0))
            return fail(error, "manualAlignment::transformFromPins", QString(),
                        "pins 1 and 2 lie on the same spot, so they show no rotation");
        const double theta = std::atan2(py, px) - std::atan2(by, bx);
        const double c = std::cos(theta), s = std::sin(theta);
        t.a[0] = c;
        t.a[1] = -s;
        t.a[3] = s;
        t.a[4] = c;
        double sx = 0, sy = 0;
        for (int k = 0; k < 2; ++k) {
            sx += photo[k].x - (c * base[k].x - s * base[k].y);
            sy += photo[k].y - (s * base[k].x + c * base[k].y);
        }
        t.a[2] = sx / 2;
        t.a[5] = sy / 2;
    } else if (!projectiveFromPoints(base, photo, t)) {
        return fail(
            error, "manualAlignment::transformFromPins", QString(),
            "three of the pins lie on one line or two pins coincide, so they do not fix a perspective");
    }
    debugLog("AI %d\n", photoIndex);
    for (int k = 0; k < 8; ++k)
        debugLog("ai[%d]=%lf\n", k, t.a[k]);
    out = t;
    return true;
}

int pinLayoutScore(const alignPoint pins[4], int width, int height) {
    alignPoint crossing;
    if (!pinsAroundCrossing(pins, crossing)) return 0;
    const int diagonal = int(std::sqrt(double(width) * width + double(height) * height));
    if (diagonal <= 0) return 0;
    double nearest = std::hypot(pins[0].x - crossing.x, pins[0].y - crossing.y);
    for (int k = 1; k < 4; ++k)
        nearest = std::min(nearest, std::hypot(pins[k].x - crossing.x, pins[k].y - crossing.y));
    const double score = std::floor(nearest / diagonal * 200);
    return score >= 100 ? 100 : int(score);
}

int pinQualityScore(int model, const alignPoint base[4], const alignPoint photo[4], int width, int height) {
    if (model != alignPerspective) return 0;
    return std::min(pinLayoutScore(base, width, height), pinLayoutScore(photo, width, height));
}

} // namespace halvora
