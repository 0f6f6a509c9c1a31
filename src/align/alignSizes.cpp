#include "align/alignSizes.h"

#include <algorithm>

namespace halvora {

alignSizes alignSizesFor(int width, int height) {
    alignSizes s;
    const int shortSide = std::min(width, height), longSide = std::max(width, height);
    int halvings = 0;
    for (int side = shortSide; side > 64 && halvings < 16; side /= 2)
        ++halvings;
    s.levels = std::max(1, halvings);
    s.tileRadius = std::min(12 + 4 * std::min(9, std::max(0, longSide / 240)), 48);
    s.detectionLevel = std::min(s.levels, 3) - 1;
    s.matchStartLevel = std::min({s.levels, 2, s.levels - 1});
    s.searchRadius = std::min(std::max(shortSide / 300, 3), 8);
    s.inlierTolerance = std::clamp(shortSide / 1500.0, 0.4, 1.2);
    return s;
}

} // namespace halvora
