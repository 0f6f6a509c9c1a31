// Throughput of the whole-buffer helpers on a 24-megapixel picture (6000 × 4000), against a plain
// copy of the same bytes in the same run. Bytes processed = bytes of the source picture.

#include "base/rgbBuffers.h"
#include "imageio/imageTransform.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <vector>

namespace {

constexpr int kWidth = 6000, kHeight = 4000;
constexpr size_t kPixels = size_t(kWidth) * kHeight;

std::vector<uint16_t>& rgb16() {
    static std::vector<uint16_t> buffer = [] {
        std::vector<uint16_t> b(kPixels * 3);
        for (size_t i = 0; i < b.size(); ++i)
            b[i] = uint16_t((i * 2654435761u) % 32641);
        return b;
    }();
    return buffer;
}

void copyRgb16(benchmark::State& state) {
    auto& src = rgb16();
    std::vector<uint16_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size() * 2);
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size() * 2));
}
BENCHMARK(copyRgb16)->Unit(benchmark::kMillisecond)->UseRealTime();

void transformRgb16InPlace(benchmark::State& state) {
    auto buffer = rgb16();
    std::vector<uint16_t> scratch(buffer.size());
    const int mode = int(state.range(0));
    int w = kWidth, h = kHeight;
    for (auto _ : state) {
        halvora::transformRgb16(buffer.data(), w, h, mode, {}, scratch.data());
        if (mode == halvora::turnClockwise || mode == halvora::turnCounterClockwise) std::swap(w, h);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buffer.size() * 2));
    state.SetLabel(mode == 0   ? "turn ccw"
                   : mode == 1 ? "turn 180"
                   : mode == 2 ? "turn cw"
                   : mode == 3 ? "mirror lr"
                               : "mirror tb");
}
BENCHMARK(transformRgb16InPlace)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->UseRealTime();

void cropRgb16(benchmark::State& state) {
    auto buffer = rgb16();
    std::vector<uint16_t> scratch(buffer.size());
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(buffer.data(), rgb16().data(), buffer.size() * 2);
        state.ResumeTiming();
        halvora::transformRgb16(buffer.data(), kWidth, kHeight, halvora::cropToRect,
                                {100, 100, kWidth - 100, kHeight - 100}, scratch.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t((kWidth - 200) * (kHeight - 200) * 6));
}
BENCHMARK(cropRgb16)->Unit(benchmark::kMillisecond)->UseRealTime();

void transformPlane16(benchmark::State& state) {
    std::vector<uint16_t> plane(kPixels);
    for (size_t i = 0; i < plane.size(); ++i)
        plane[i] = uint16_t(i);
    std::vector<uint16_t> scratch(plane.size());
    int w = kWidth, h = kHeight;
    for (auto _ : state) {
        halvora::transformPlane16(plane.data(), w, h, halvora::turnClockwise, {}, scratch.data());
        std::swap(w, h);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(plane.size() * 2));
}
BENCHMARK(transformPlane16)->Unit(benchmark::kMillisecond)->UseRealTime();

void transformPlane8(benchmark::State& state) {
    std::vector<uint8_t> plane(kPixels);
    std::vector<uint8_t> scratch(plane.size());
    int w = kWidth, h = kHeight;
    for (auto _ : state) {
        halvora::transformPlane8(plane.data(), w, h, halvora::turnClockwise, {}, scratch.data());
        std::swap(w, h);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(plane.size()));
}
BENCHMARK(transformPlane8)->Unit(benchmark::kMillisecond)->UseRealTime();

void transformFloatPicture(benchmark::State& state) {
    std::vector<float> rgb(kPixels * 3, 0.5f);
    int w = kWidth, h = kHeight;
    for (auto _ : state) {
        for (int c = 0; c < 3; ++c)
            halvora::transformFloatChannel(rgb.data(), w, h, c, halvora::turnClockwise, {});
        std::swap(w, h);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(rgb.size() * 4));
}
BENCHMARK(transformFloatPicture)->Unit(benchmark::kMillisecond)->UseRealTime();

void downscaleRgb16(benchmark::State& state) {
    const int k = int(state.range(0));
    auto& src = rgb16();
    std::vector<uint16_t> dst(size_t(halvora::downscaledSide(kWidth, k)) *
                              halvora::downscaledSide(kHeight, k) * 3);
    for (auto _ : state) {
        halvora::downscaleRgb16(src.data(), kWidth, kHeight, k, dst.data());
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size() * 2));
}
BENCHMARK(downscaleRgb16)->Arg(2)->Arg(7)->Unit(benchmark::kMillisecond)->UseRealTime();

void downscaleFloat(benchmark::State& state) {
    std::vector<float> src(kPixels * 3, 0.25f);
    const int k = 7;
    std::vector<uint16_t> dst(size_t(halvora::downscaledSide(kWidth, k)) *
                              halvora::downscaledSide(kHeight, k) * 3);
    for (auto _ : state) {
        halvora::downscaleFloat(src.data(), kWidth, kHeight, k, 1.0, dst.data());
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size() * 4));
}
BENCHMARK(downscaleFloat)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
