// Per-pixel tone mapping: the preview (histogram pass + render pass) of an 807 × 605 preview with
// local contrast, Mask and sharpening on, and the full-resolution pass of a 4032 × 3024 picture
// into the 16-bit result (detail plane included). Planes are synthetic (smooth, picture-like).

#include "base/parallelFor.h"
#include "tonemap/detailPlane.h"
#include "tonemap/picturePasses.h"
#include "tonemap/rebuildOnChange.h"

#include <QtGlobal>
#include <benchmark/benchmark.h>
#include <cmath>
#include <vector>

using namespace halvora;

namespace {

struct workload {
    int w, h;
    std::vector<float> hdr;
    std::vector<uint16_t> fine, medium, coarse, mask;
    std::vector<int16_t> detail;
    std::vector<uint16_t> scratch;
    toneMappingSettings_t settings;
    toneMapSource_t source;

    workload(int width, int height) : w(width), h(height) {
        const size_t n = size_t(w) * h;
        hdr.resize(n * 3);
        fine.resize(n);
        medium.resize(n);
        coarse.resize(n);
        mask.resize(n);
        detail.resize(n);
        scratch.resize(n);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const size_t i = size_t(y) * w + x;
                const float u = float(x) / w, v = float(y) / h;
                const float base = 0.002f + 0.9f * std::pow(0.5f + 0.5f * std::sin(9 * u + 4 * v), 4.0f) * v;
                hdr[i * 3] = base * (0.8f + 0.2f * std::sin(30 * u));
                hdr[i * 3 + 1] = base;
                hdr[i * 3 + 2] = base * (0.7f + 0.3f * std::cos(20 * v));
                fine[i] = uint16_t(16320 + 16000 * std::sin(60 * u + 50 * v));
                medium[i] = uint16_t(16320 + 15000 * std::sin(20 * u + 15 * v));
                coarse[i] = uint16_t(16320 + 14000 * std::sin(5 * u + 3 * v));
                // The mask is an edge-preserving smoothing (σ = 10 pixels) of the luminance: it
                // changes slowly across the picture.
                mask[i] = uint16_t(16320 + 12000 * std::sin(2.5f * u + 1.5f * v));
            }
        settings.tables.allocate();
        settings.localContrastEnabled = !qEnvironmentVariableIsSet("TMC_NO_LC");
        settings.maskEnabled = !qEnvironmentVariableIsSet("TMC_NO_MASK");
        settings.sharpness = 0.3;
        settings.autoClipping = true;
        settings.blackClip = 0.1;
        settings.whiteClip = 0.2;
        rebuildToneMappingTables(settings, toneMappingChange::everything);
        source.width = w;
        source.height = h;
        source.hdr = hdr.data();
        source.lcPlaneFine = fine.data();
        source.lcPlaneMedium = medium.data();
        source.lcPlaneCoarse = coarse.data();
        source.maskPlane = mask.data();
        source.hdrMean = 0.08;
        source.lcCorrection = 0.8;
    }
};

workload& fullSize() {
    static workload wl(4032, 3024);
    return wl;
}

void previewToneMapping(benchmark::State& state) {
    workload wl(807, 605);
    computeDetailPlane(4032, 3024, wl.hdr.data(), wl.detail.data(), wl.scratch.data(), wl.w, wl.h, false,
                       wl.source.detailScale, 807.0 / 4032);
    wl.source.detailPlane = wl.detail.data();
    std::vector<uint8_t> display(size_t(wl.w) * wl.h * 3);
    for (auto _ : state) {
        toneMapPreviewPasses(wl.settings, wl.source, nullptr, display.data(), false);
        benchmark::DoNotOptimize(display.data());
    }
}
BENCHMARK(previewToneMapping)->Unit(benchmark::kMillisecond)->UseRealTime();

// The full-resolution pass as toneMapFullImage runs it: detail plane, then the chain into 16 bits.
void fullResolutionToneMapping(benchmark::State& state) {
    workload& wl = fullSize();
    std::vector<uint16_t> result(size_t(wl.w) * wl.h * 3);
    for (auto _ : state) {
        computeDetailPlane(wl.w, wl.h, wl.hdr.data(), wl.detail.data(), result.data(), wl.w, wl.h, false,
                           wl.source.detailScale, 1.0);
        wl.source.detailPlane = wl.detail.data();
        runToneMapping(wl.settings, wl.source, result.data(), nullptr, false);
        benchmark::DoNotOptimize(result.data());
    }
    state.counters["MP_per_s"] =
        benchmark::Counter(double(state.iterations()) * wl.w * wl.h / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(fullResolutionToneMapping)->Unit(benchmark::kMillisecond)->UseRealTime();

// The two parts of the full-resolution pass separately, to see what bounds it.
void fullResolutionChainOnly(benchmark::State& state) {
    workload& wl = fullSize();
    std::vector<uint16_t> result(size_t(wl.w) * wl.h * 3);
    wl.source.detailPlane = wl.detail.data();
    for (auto _ : state) {
        runToneMapping(wl.settings, wl.source, result.data(), nullptr, false);
        benchmark::DoNotOptimize(result.data());
    }
    state.counters["MP_per_s"] =
        benchmark::Counter(double(state.iterations()) * wl.w * wl.h / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(fullResolutionChainOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

void fullResolutionDetailPlane(benchmark::State& state) {
    workload& wl = fullSize();
    std::vector<uint16_t> scratch(size_t(wl.w) * wl.h);
    for (auto _ : state) {
        computeDetailPlane(wl.w, wl.h, wl.hdr.data(), wl.detail.data(), scratch.data(), wl.w, wl.h, false,
                           wl.source.detailScale, 1.0);
        benchmark::DoNotOptimize(wl.detail.data());
    }
    state.counters["MP_per_s"] =
        benchmark::Counter(double(state.iterations()) * wl.w * wl.h / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(fullResolutionDetailPlane)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    // HALVORA_BENCH_THREADS=1 measures one thread (its CPU time is then the whole cost).
    if (qEnvironmentVariableIsSet("HALVORA_BENCH_THREADS"))
        halvora::setThreadCountOverride(qEnvironmentVariableIntValue("HALVORA_BENCH_THREADS"));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
