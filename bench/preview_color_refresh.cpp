// What colour management adds to a preview refresh: an 807 × 605 tone-mapped preview drawn at 100 %
// into a viewport of its size as the workspace does it, without and with the display transform
// (Adobe RGB working profile → sRGB monitor, set up as for a photo). First argument: 0 unmanaged,
// 1 colour-managed; the difference of the two is the added time per refresh. Second argument: 0 on
// the program's threads, 1 on one thread, whose CPU time stays meaningful on a loaded machine.

#include "app/displayCache.h"
#include "app/workspaceRenderer.h"
#include "base/parallelFor.h"
#include "color/colorManagement.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 807, kHeight = 605;

const halvora::colorManagement& adobeToMonitor() {
    static halvora::colorManagement cm;
    static const bool ready = [] {
        halvora::colorSetupRequest_t r;
        r.options.enabled = true;
        r.options.inputProfile = 2;  // Adobe RGB
        r.options.outputProfile = 1; // sRGB monitor
        r.profileDir = QStringLiteral(HALVORA_PROFILE_DIR);
        halvora::colorSetupResult_t result;
        QString error;
        const bool ok = cm.setupForPhoto(r, result, &error);
        if (!ok) std::fprintf(stderr, "set-up failed: %s\n", error.toLocal8Bit().constData());
        return ok;
    }();
    (void)ready;
    return cm;
}

void refresh(benchmark::State& state) {
    std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 3);
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = uint8_t((i * 2654435761u) >> 24);
    halvora::displayCache cache;
    cache.setRgb8(rgb.data(), kWidth, kHeight, kWidth * 3);
    halvora::workspaceDrawing d;
    d.cache = &cache;
    d.view.pictureWidth = kWidth;
    d.view.pictureHeight = kHeight;
    d.view.viewWidth = kWidth;
    d.view.viewHeight = kHeight;
    d.view.scale = 1.0;
    if (state.range(0)) {
        const halvora::colorManagement* cm = &adobeToMonitor();
        if (!cm->active()) state.SkipWithError("no colour transform");
        d.displayTransform = [cm](uint8_t* row, int pixels) { cm->toMonitor(row, size_t(pixels)); };
    }
    QImage target;
    halvora::setThreadCountOverride(state.range(1) ? 1 : 0);
    for (auto _ : state) {
        halvora::drawWorkspace(d, target);
        benchmark::DoNotOptimize(target.constBits());
    }
    halvora::setThreadCountOverride(0);
    state.SetLabel(std::string(state.range(0) ? "colour-managed" : "unmanaged") +
                   (state.range(1) ? ", one thread" : ""));
}
BENCHMARK(refresh)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
