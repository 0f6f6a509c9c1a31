#pragma once
// Deterministic pictures the tests of several layers share.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace halvora::test {

// A deterministic picture: smooth gradients, saturated patches, greys, near-black and white.
inline std::vector<float> testPicture(int w, int h, uint32_t seed = 7) {
    std::vector<float> rgb(size_t(w) * h * 3);
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> noise(0.0f, 0.05f);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            float* p = &rgb[(size_t(y) * w + x) * 3];
            const float base = std::pow(float(x + 1) / w, 3.0f) * (0.3f + 0.7f * float(y) / h);
            p[0] = std::min(1.0f, base * (1.0f + 0.8f * std::sin(0.05f * y)) + noise(gen) * base);
            p[1] = std::min(1.0f, base * (1.0f + 0.8f * std::cos(0.07f * x)));
            p[2] = std::min(1.0f, base * 0.6f + noise(gen) * 0.1f);
            if ((x / 7 + y / 5) % 11 == 0) p[0] = p[1] = p[2] = base; // grey
        }
    return rgb;
}

} // namespace halvora::test
