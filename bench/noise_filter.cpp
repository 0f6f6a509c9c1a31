// Noise filter on a 12-megapixel radiance picture (4032 × 3024, the size of the phone bracket in
// the test data): a deterministic synthetic scene with sensor-like noise.

#include "hdr/noiseFilter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

/// CPU seconds of the whole process (all threads): unlike the wall clock, not inflated when other
/// programs share the cores.
double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

constexpr int kWidth = 4032, kHeight = 3024;

std::vector<float> makeScene() {
    std::vector<float> pic(size_t(kWidth) * kHeight * 3);
    uint64_t state = 0x9e3779b97f4a7c15ull;
    auto uniform = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return float(state >> 40) * (1.0f / 16777216.0f);
    };
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const float gx = float(x) / kWidth, gy = float(y) / kHeight;
            float base[3] = {0.05f + 0.4f * gx * gx, 0.1f + 0.3f * gy, 0.2f * (1 - gx) + 0.1f};
            if ((x / 512 + y / 512) % 2 == 0)
                for (float& b : base)
                    b *= 1.8f;
            const float* end = base + 3;
            float* p = &pic[(size_t(y) * kWidth + x) * 3];
            for (const float* b = base; b != end; ++b, ++p) {
                const float n = (uniform() + uniform() + uniform() - 1.5f) * 0.02f;
                *p = std::clamp(*b + n * std::sqrt(*b), 0.0f, 1.0f);
            }
        }
    return pic;
}

void BM_noiseFilter(benchmark::State& state) {
    const std::vector<float> scene = makeScene();
    std::vector<float> pic(scene.size());
    halvora::noiseFilterOptions_t options;
    options.strength = 2;
    options.softness = 2;
    options.photoIso = {100, 100, 100};
    double seconds = 0, cpuSeconds = 0;
    int runs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(pic.data(), scene.data(), scene.size() * sizeof(float));
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = processCpuSeconds();
        if (!halvora::noiseFilter(pic.data(), kWidth, kHeight, options))
            state.SkipWithError("noise filter failed");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpuSeconds += processCpuSeconds() - cpuStart;
        ++runs;
        benchmark::DoNotOptimize(pic.data());
    }
    const double megapixels = double(kWidth) * kHeight / 1e6;
    state.counters["MP/s"] =
        benchmark::Counter(megapixels * double(state.iterations()), benchmark::Counter::kIsRate);
    if (runs > 0)
        std::printf("noise filter %dx%d: %.3f s per picture, %.1f MP/s (%.3f CPU s per picture)\n", kWidth,
                    kHeight, seconds / runs, megapixels * runs / seconds, cpuSeconds / runs);
}

} // namespace

BENCHMARK(BM_noiseFilter)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();
BENCHMARK_MAIN();
