#include "tonemap/kneePointEditing.h"

#include <algorithm>

namespace halvora {

double curveFrame_t::curveX(double px) const {
    const double x = (px - left) / std::max(width - 1, 1);
    return std::isfinite(x) ? std::clamp(x, 0.0, 1.0) : 0.0;
}

double curveFrame_t::curveY(double py) const {
    const double y = 1.0 - (py - top) / std::max(height - 1, 1);
    return std::isfinite(y) ? std::clamp(y, 0.0, 1.0) : 0.0;
}

} // namespace halvora
