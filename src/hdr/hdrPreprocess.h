#pragma once
// The HDR preprocess: normalises a merged (or loaded) radiance picture to 0…1 per channel with the
// merge method's curve, and measures it for tone mapping (lcCorrection from a gamma search over the
// luminance histogram, hdrMean from its median); and the LDR enhancement's conversion of a single
// photo. Runs on the HDR worker's thread; the pixel loops are split over the thread pool and their
// results do not depend on the thread count.

#include <cstddef>
#include <cstdint>

namespace halvora {

/// The two statistics the tone mapping reads.
struct hdrStatistics {
    double lcCorrection = 1.0;
    double hdrMean = 0.4;
};

/// Smallest and largest finite channel value of an interleaved RGB float picture (0 and 0 when
/// there is none).
void radianceRange(const float* rgb, size_t pixels, double& lo, double& hi);

/// Normalises `rgb` (pixels × 3 floats) in place: v = (v − hdrMin) / (hdrMax − hdrMin), then the
/// curve of `method` (0 True HDR, 1 Smart Merge, 2 Stack), clamped to 0…1; returns the statistics.
/// A range that is empty or below float resolution (a uniform picture) is normalised by hdrMax
/// alone (so a uniform lit picture becomes white and a black one stays black). Non-finite samples
/// become 0.
hdrStatistics applyGammaHDR(float* rgb, size_t pixels, int method, double hdrMin, double hdrMax);

/// LDR enhancement of a single photo: each of `count` working samples becomes min(sample / 32640, 1)
/// as a radiance sample.
void LDRenhancementPreprocess(const uint16_t* samples, float* radiance, size_t count);

/// Gamma search and median from a 16384-bin luminance histogram of `pixels` pixels.
hdrStatistics statisticsFromHistogram(const uint64_t* histogram, uint64_t pixels);

/// The curve of the HDR preprocess for `method` at a normalised value v (reference form, for tests).
double preprocessCurve(int method, double v);

} // namespace halvora
