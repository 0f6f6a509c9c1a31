// Preparation of a 4032 × 3024 radiance picture for tone mapping: mask plane, prepared plane, the
// three local-contrast planes and all pyramids. Prints the seconds of each pass and the peak RSS.
//
//   tonemap_prepare [threads] [repeats] [--panorama]

#include "base/parallelFor.h"
#include "base/runContext.h"
#include "project/processingProject.h"
#include "project/toneMappingPreprocessWorker.h"
#include "tonemap/localContrast.h"
#include "tonemap/maskPlane.h"

#include "benchClock.h"

#include <QCoreApplication>
#include <QDir>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

using halvora::bench::clock_type;
using halvora::bench::cpuSeconds;
using halvora::bench::seconds;

uint32_t hash(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

// A deterministic scene: sky gradient, a bright sun, a dark foreground with windows, blobs of a few
// hundred pixels, stripes of tens of pixels and per-pixel grain — about 16 stops, normalised to 0 … 1.
void fillScene(float* rgb, int w, int h) {
    const double sunX = 0.72 * w, sunY = 0.18 * h, sunR = 0.02 * w;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double u = double(x) / w, v = double(y) / h;
            double lum;
            if (v < 0.55 + 0.05 * std::sin(u * 9.0)) {
                lum = 0.02 * (1.2 - v) + 0.004 * (1 + std::sin(u * 31.0 + v * 17.0)); // sky with clouds
                const double d = std::hypot(x - sunX, y - sunY);
                lum += d < sunR ? 1.0 : 0.3 * std::exp(-d / (6 * sunR)); // sun and glare
            } else {
                lum = 2e-4 * (1.5 + std::sin(u * 60.0) * std::cos(v * 45.0)); // ground, large blobs
                if ((x / 40) % 7 == 3 && (y / 60) % 5 == 2) lum += 0.05;      // lit windows
                lum *= 1.0 + 0.3 * std::sin(x * 0.7) * std::sin(y * 0.5);     // fine stripes
            }
            const double grain =
                1.0 + 0.04 * ((hash(uint32_t(y) * 8191u + uint32_t(x)) & 1023) / 1023.0 - 0.5);
            lum = std::min(1.0, lum * grain);
            float* px = rgb + 3 * (size_t(y) * w + x);
            px[0] = float(lum * (1.0 + 0.1 * u));
            px[1] = float(lum);
            px[2] = float(lum * (1.1 - 0.2 * v));
        }
    }
}

long peakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int threads = 0, repeats = 1;
    bool panorama = false;
    for (int i = 1, n = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--panorama") == 0)
            panorama = true;
        else if (n++ == 0)
            threads = std::atoi(argv[i]);
        else
            repeats = std::max(1, std::atoi(argv[i]));
    }
    halvora::setThreadCountOverride(threads);
    const int w = 4032, h = 3024;

    processingProject project(nullptr, QDir::tempPath());
    if (project.createFailed || !project.setImageSize(w, h)) {
        std::fprintf(stderr, "cannot set up a %dx%d project\n", w, h);
        return 1;
    }
    fillScene(project.rgbFloatBuffer(), w, h);
    project.lcCorrection = 0.8;
    std::printf("picture %dx%d, threads %d, panorama %d, pyramid levels %d\n", w, h,
                halvora::usableThreadCount(), int(panorama), project.pyramidLevels);

    const halvora::localContrastWindows_t k = halvora::localContrastWindowSizes(w, h);
    uint16_t* prepared = project.resultBuffer();
    uint16_t* samples = prepared + size_t(w) * h;
    for (int rep = 0; rep < repeats; ++rep) {
        auto timed = [](const char* name, auto&& fn) {
            const auto t0 = clock_type::now();
            const double c0 = cpuSeconds();
            fn();
            std::printf("  %-22s %7.3f s wall %7.3f s cpu\n", name, seconds(t0), cpuSeconds() - c0);
        };
        timed("mask", [&] {
            halvora::computeMaskPlane(project.rgbFloatBuffer(), w, h, project.maskPlane.data<uint16_t>(),
                                      prepared);
        });
        timed("prepare", [&] {
            halvora::runLocalContrastPrepare(project.rgbFloatBuffer(), w, h, project.lcCorrection, prepared);
        });
        char label[64];
        std::snprintf(label, sizeof label, "medium (k=%d)", k.medium);
        timed(label, [&] {
            halvora::runLocalContrast(prepared, w, h, k.medium, panorama, false, samples,
                                      project.lcPlaneMedium.data<uint16_t>());
        });
        std::snprintf(label, sizeof label, "fine (k=%d)", k.fine);
        timed(label, [&] {
            halvora::runLocalContrast(prepared, w, h, k.fine, panorama, true, samples,
                                      project.lcPlaneFine.data<uint16_t>());
        });
        std::snprintf(label, sizeof label, "coarse (k=%d)", k.coarse);
        timed(label, [&] {
            halvora::runLocalContrast(prepared, w, h, k.coarse, panorama, false, samples,
                                      project.lcPlaneCoarse.data<uint16_t>());
        });
        timed("pyramids", [&] {
            for (pyramid* p :
                 {&project.maskPlane, &project.lcPlaneFine, &project.lcPlaneMedium, &project.lcPlaneCoarse})
                p->buildLevels();
        });

        project.maskPlaneValid = project.lcPlanesValid = false;
        toneMappingPrepareOptions_t options;
        options.panoramaMode = panorama;
        toneMappingPreprocessWorker worker(&project, options);
        const auto t0 = clock_type::now();
        const double c0 = cpuSeconds();
        worker.doIt();
        const double total = seconds(t0), cpu = cpuSeconds() - c0;
        std::printf("tonemap_prepare: %.3f s wall, %.3f s cpu (worker, ok=%d), peak RSS %.1f MiB\n", total,
                    cpu, int(worker.succeeded()), peakRssKiB() / 1024.0);
    }
    return 0;
}
