#include "tonemap/colorUnits.h"

#include "tonemap/colorAdjustment.h"

#include <algorithm>
#include <cmath>

namespace halvora {

double tintGreenFactor(double tint) {
    const double u = std::isfinite(tint) ? std::clamp(tint, 0.0, 2.0) : 1.0;
    return 1.4 / (u + 0.4);
}

double hueDegrees(double hue) {
    const double h = std::isfinite(hue) ? std::clamp(hue, 0.0, 2.0) : 1.0;
    return (h - 1.0) * 180.0;
}

QString temperatureText(double temperature) {
    return QStringLiteral("%1 K").arg(temperatureKelvin(temperature));
}

QString tintText(double tint) {
    return QStringLiteral("green \u00d7%1").arg(tintGreenFactor(tint), 0, 'f', 2);
}

QString hueText(double hue) {
    const long degrees = std::lround(hueDegrees(hue));
    return degrees > 0 ? QStringLiteral("+%1\u00b0").arg(degrees) : QStringLiteral("%1\u00b0").arg(degrees);
}

} // namespace halvora

namespace halvora {

double selectiveAxisPosition(double r, double g, double b, bool hueAxis) {
    if (!std::isfinite(r) || !std::isfinite(g) || !std::isfinite(b)) return 0;
    const double mx = std::max({r, g, b}), mn = std::min({r, g, b}), d = mx - mn;
    if (!hueAxis) return std::clamp(mx, 0.0, 1.0);
    if (std::fabs(d) < 1e-5 || mx == 0) return 0;
    double h;
    if (r == mn)
        h = 60.0 * (3.0 - (g - b) / d);
    else if (g == mn)
        h = 60.0 * (5.0 - (b - r) / d);
    else
        h = 60.0 * (1.0 - (r - g) / d);
    h = std::fmod(h, 360.0);
    if (h < 0) h += 360.0;
    return h / 360.0;
}

} // namespace halvora
