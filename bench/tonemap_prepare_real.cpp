// Preparation passes (mask plane, prepared plane, the three local-contrast planes) on a real radiance
// picture: an OpenEXR file as `halvora --save_hdr=FILE.exr` writes it, normalised the way an opened
// radiance picture is. Prints the wall and CPU seconds of each pass, and a checksum of every plane so
// two builds can be compared for identical output.
//
//   tonemap_prepare_real FILE.exr [threads] [repeats] [--panorama]
// A real picture matters here: the local-contrast filter's cost follows the picture's values.

#include "base/parallelFor.h"
#include "base/runContext.h"
#include "hdr/hdrPreprocess.h"
#include "imageio/imageLoader.h"
#include "tonemap/localContrast.h"
#include "tonemap/maskPlane.h"

#include "benchClock.h"

#include <QCoreApplication>
#include <QString>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using halvora::bench::clock_type;
using halvora::bench::cpuSeconds;
using halvora::bench::seconds;

// FNV-1a over a plane: equal sums on two builds mean (practically) equal planes.
uint64_t checksum(const std::vector<uint16_t>& plane) {
    uint64_t h = 1469598103934665603ull;
    for (uint16_t v : plane) {
        h = (h ^ (v & 0xFF)) * 1099511628211ull;
        h = (h ^ (v >> 8)) * 1099511628211ull;
    }
    return h;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString file;
    int threads = 0, repeats = 1, number = 0;
    bool panorama = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--panorama") == 0)
            panorama = true;
        else if (number == 0 && file.isEmpty() && std::strchr(argv[i], '.'))
            file = QString::fromLocal8Bit(argv[i]);
        else if (number++ == 0)
            threads = std::atoi(argv[i]);
        else
            repeats = std::max(1, std::atoi(argv[i]));
    }
    if (file.isEmpty()) {
        std::fprintf(stderr, "usage: tonemap_prepare_real FILE.exr [threads] [repeats] [--panorama]\n");
        return 2;
    }
    halvora::setThreadCountOverride(threads);
    int w = 0, h = 0;
    QString error;
    if (!halvora::getEXRinfo(file, w, h, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::vector<float> hdr(size_t(w) * size_t(h) * 3);
    float lo = 0, hi = 0;
    if (!halvora::loadEXR(file, w, h, hdr.data(), lo, hi, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    double rlo = 0, rhi = 0;
    halvora::radianceRange(hdr.data(), size_t(w) * size_t(h), rlo, rhi);
    const halvora::hdrStatistics stats =
        halvora::applyGammaHDR(hdr.data(), size_t(w) * size_t(h), 0, rlo, rhi);
    std::printf("picture %dx%d, threads %d, panorama %d, lcCorrection %g\n", w, h,
                halvora::usableThreadCount(), int(panorama), stats.lcCorrection);

    const size_t pixels = size_t(w) * size_t(h);
    std::vector<uint16_t> mask(pixels), scratch(pixels), prepared(pixels), fine(pixels), medium(pixels),
        coarse(pixels);
    std::vector<uint16_t> samples(size_t((w + 1) / 2) * size_t((h + 1) / 2));
    const halvora::localContrastWindows_t k = halvora::localContrastWindowSizes(w, h);
    for (int rep = 0; rep < repeats; ++rep) {
        double wallSum = 0, cpuSum = 0;
        auto timed = [&](const char* name, auto&& fn) {
            const auto t0 = clock_type::now();
            const double c0 = cpuSeconds();
            fn();
            const double wall = seconds(t0), cpu = cpuSeconds() - c0;
            wallSum += wall;
            cpuSum += cpu;
            std::printf("  %-16s %7.3f s wall %7.3f s cpu\n", name, wall, cpu);
        };
        timed("mask", [&] { halvora::computeMaskPlane(hdr.data(), w, h, mask.data(), scratch.data()); });
        timed("prepare", [&] {
            halvora::runLocalContrastPrepare(hdr.data(), w, h, stats.lcCorrection, prepared.data());
        });
        char label[64];
        std::snprintf(label, sizeof label, "medium (k=%d)", k.medium);
        timed(label, [&] {
            halvora::runLocalContrast(prepared.data(), w, h, k.medium, panorama, false, samples.data(),
                                      medium.data());
        });
        std::snprintf(label, sizeof label, "fine (k=%d)", k.fine);
        timed(label, [&] {
            halvora::runLocalContrast(prepared.data(), w, h, k.fine, panorama, true, samples.data(),
                                      fine.data());
        });
        std::snprintf(label, sizeof label, "coarse (k=%d)", k.coarse);
        timed(label, [&] {
            halvora::runLocalContrast(prepared.data(), w, h, k.coarse, panorama, false, samples.data(),
                                      coarse.data());
        });
        std::printf("total %.3f s wall, %.3f s cpu\n", wallSum, cpuSum);
    }
    std::printf("checksums mask %016llx prepared %016llx medium %016llx fine %016llx coarse %016llx\n",
                (unsigned long long)checksum(mask), (unsigned long long)checksum(prepared),
                (unsigned long long)checksum(medium), (unsigned long long)checksum(fine),
                (unsigned long long)checksum(coarse));
    return 0;
}
