// Redraw of a 1600 × 1000 viewport of a 12-megapixel picture (4000 × 3000) at the zooms a user
// meets: 1 %, fit, 25 %, 50 %, 100 % and 400 %, viewport centred on the picture. Each iteration is
// one full redraw as the workspace does it (cache level choice, banded drawing on the pool). The
// display cache is filled once, outside the timing, as it is when a picture is shown. Arguments:
// zoom in percent (0 = fit), smooth magnification (the anti-aliasing option), over/under marks.

#include "app/displayCache.h"
#include "app/workspaceRenderer.h"

#include <benchmark/benchmark.h>
#include <vector>

namespace {

constexpr int kWidth = 4000, kHeight = 3000, kViewWidth = 1600, kViewHeight = 1000;

const halvora::displayCache& picture() {
    static const halvora::displayCache cache = [] {
        std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 3);
        for (size_t i = 0; i < rgb.size(); ++i)
            rgb[i] = uint8_t((i * 2654435761u) >> 24);
        halvora::displayCache c;
        c.setRgb8(rgb.data(), kWidth, kHeight, kWidth * 3);
        return c;
    }();
    return cache;
}

void redraw(benchmark::State& state) {
    const halvora::displayCache& cache = picture();
    halvora::workspaceDrawing d;
    d.cache = &cache;
    d.view.pictureWidth = kWidth;
    d.view.pictureHeight = kHeight;
    d.view.viewWidth = kViewWidth;
    d.view.viewHeight = kViewHeight;
    d.view.scale = state.range(0) == 0 ? halvora::fitScale(kWidth, kHeight, kViewWidth, kViewHeight)
                                       : state.range(0) / 100.0;
    d.view.offsetX = d.view.maxOffsetX() / 2;
    d.view.offsetY = d.view.maxOffsetY() / 2;
    d.smooth = state.range(1) != 0;
    d.markOverUnder = state.range(2) != 0;
    QImage target;
    halvora::drawingStats stats;
    for (auto _ : state) {
        stats = halvora::drawWorkspace(d, target);
        benchmark::DoNotOptimize(target.constBits());
    }
    state.SetLabel(QStringLiteral("zoom %1%, level %2 (%3x%4)%5%6")
                       .arg(d.view.scale * 100.0, 0, 'f', 1)
                       .arg(stats.level)
                       .arg(stats.levelWidth)
                       .arg(stats.levelHeight)
                       .arg(stats.bilinear ? ", bilinear" : "")
                       .arg(d.markOverUnder ? ", marks" : "")
                       .toStdString());
}
BENCHMARK(redraw)
    ->ArgsProduct({{1, 0, 25, 50, 100, 400}, {0, 1}, {0}})
    ->Args({100, 0, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
