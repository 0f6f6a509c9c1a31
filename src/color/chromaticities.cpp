#include "color/chromaticities.h"

#include <cmath>

namespace halvora {

chromaticities_t chromaticities_t::fromArray(const double v[8]) {
    chromaticities_t c;
    c.redX = v[0];
    c.redY = v[1];
    c.greenX = v[2];
    c.greenY = v[3];
    c.blueX = v[4];
    c.blueY = v[5];
    c.whiteX = v[6];
    c.whiteY = v[7];
    return c;
}

namespace {

// Twice the signed area of the triangle (a, b, c).
double cross(double ax, double ay, double bx, double by, double cx, double cy) {
    return (bx - ax) * (cy - ay) - (by - ay) * (cx - ax);
}

// Spectral primaries at the long-wave end lie on the line x + y = 1 (no Z at all), so it counts.
bool insideDiagram(double x, double y) {
    return std::isfinite(x) && std::isfinite(y) && x > 0.0 && y > 0.0 && x + y <= 1.0 + 1e-9;
}

} // namespace

QString chromaticitiesProblem(const chromaticities_t& c) {
    struct point {
        const char* name;
        double x, y;
    };
    const point points[4] = {{"red", c.redX, c.redY},
                             {"green", c.greenX, c.greenY},
                             {"blue", c.blueX, c.blueY},
                             {"white", c.whiteX, c.whiteY}};
    for (const point& p : points) {
        if (!insideDiagram(p.x, p.y))
            return QString("the %1 chromaticity (%2, %3) lies outside the chromaticity diagram")
                .arg(p.name)
                .arg(p.x)
                .arg(p.y);
    }
    const double area = cross(c.redX, c.redY, c.greenX, c.greenY, c.blueX, c.blueY);
    // Below this the colorant matrix is too close to singular to be inverted meaningfully.
    if (std::fabs(area) < 1e-4) return "the three primaries lie on one line";
    // The white point is inside when it lies on the same side of every edge as the opposite corner.
    const double s = area > 0 ? 1.0 : -1.0;
    const double e1 = s * cross(c.redX, c.redY, c.greenX, c.greenY, c.whiteX, c.whiteY);
    const double e2 = s * cross(c.greenX, c.greenY, c.blueX, c.blueY, c.whiteX, c.whiteY);
    const double e3 = s * cross(c.blueX, c.blueY, c.redX, c.redY, c.whiteX, c.whiteY);
    if (!(e1 > 0 && e2 > 0 && e3 > 0)) return "the white point lies outside the triangle of the primaries";
    return QString();
}

} // namespace halvora
