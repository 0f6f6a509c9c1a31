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

/// Bins of the log-luminance histogram of a normalised picture: 64 per stop (even steps inside each
/// stop) over the 32 stops below 1; bin 0 also holds everything darker (and black), the last bin 1.
constexpr int kLogLuminanceBins = 32 * 64 + 1;

/// Bin of a normalised luminance 0…1 in the log-luminance histogram.
int logLuminanceBin(float y);

/// Exposure normalisation of a picture normalised to its maximum: when a small, very bright area
/// (the sun, a lamp) sets the maximum far above the rest of the scene, the picture is brightened by
/// `gain` so that all but that area stays linear below `knee`, and the brightest channel of each
/// pixel above the knee rolls off logarithmically, so those highlights keep their detail and hue
/// and the maximum (`gain`) still maps to 1. gain 1 leaves the picture as it is.
struct exposureNormalisation {
    float gain = 1.0f;
    float knee = 1.0f;
    float rolloff = 0.0f; ///< a in knee + (1 − knee) ln(1 + a (m − knee)) / ln(1 + a (gain − knee))
    float invLogTop = 0.0f;

    /// Multiplies one normalised pixel (channels 0…1) by the gain and rolls it off above the knee.
    void apply(float c[3]) const;
};

/// The normalisation for a picture with this log-luminance histogram of `pixels` pixels: the gain
/// puts the luminance below which all but the brightest 2 % lie at the knee 0.8 (at most 4096);
/// gain 1 (no change) when that luminance is already at or above the knee.
exposureNormalisation exposureNormalisationFor(const uint64_t* logHistogram, uint64_t pixels);

/// Smallest and largest finite channel value of an interleaved RGB float picture (0 and 0 when
/// there is none).
void radianceRange(const float* rgb, size_t pixels, double& lo, double& hi);

/// Normalises `rgb` (pixels × 3 floats) in place: v = (v − hdrMin) / (hdrMax − hdrMin), for True HDR
/// and Smart Merge the exposure normalisation (above), then the curve of `method` (0 True HDR, 1 Smart Merge,
/// 2 Stack), clamped to 0…1; returns the statistics. A range that is empty or below float resolution (a
/// uniform picture) is normalised by hdrMax alone (so a uniform lit picture becomes white and a black one
/// stays black). Non-finite samples become 0.
hdrStatistics applyGammaHDR(float* rgb, size_t pixels, int method, double hdrMin, double hdrMax);

/// LDR enhancement of a single photo: each of `count` working samples becomes min(sample / 32640, 1)
/// as a radiance sample.
void LDRenhancementPreprocess(const uint16_t* samples, float* radiance, size_t count);

/// Gamma search and median from a 16384-bin luminance histogram of `pixels` pixels.
hdrStatistics statisticsFromHistogram(const uint64_t* histogram, uint64_t pixels);

/// The curve of the HDR preprocess for `method` at a normalised value v (reference form, for tests).
double preprocessCurve(int method, double v);

} // namespace halvora
