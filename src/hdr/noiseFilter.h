#pragma once
// Noise filtering of the radiance picture: the picture is taken to square-root YCbCr and each of the
// three planes is denoised by soft-thresholding the detail bands of a five-level à trous wavelet
// transform, then taken back to linear RGB.
//
// Runs on the worker that generates or loads the picture (generateHDRworker, a load worker); the
// pixel loops are split over the thread pool with halvora::parallelRecords. The picture is borrowed,
// filtered in place, and never copied; working memory is two float planes of the picture size
// plus a few rows per thread.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace halvora {

/// Levels of the à trous transform.
inline constexpr int kDenoiseLevels = 5;

/// What the filter needs to know about the run and the photos behind the picture.
struct noiseFilterOptions_t {
    int strength = 2;             ///< "Strength"; 0 or less leaves the picture unchanged
    int softness = 2;             ///< "Softness" index 1 … 10 (clamped into that range)
    bool calibrated = false;      ///< an opened radiance file: no ISO and RAW adjustment
    std::vector<double> photoIso; ///< EXIF ISO of every photo of the project (0 or less: unknown)
    bool rawNotDenoised = false;  ///< some photo is a RAW file loaded without the converter's filter
};

/// Softness value s of a "Softness" index (1 → 10.0 … 10 → 0.36; out-of-range indices are clamped).
double noiseSoftnessValue(int index);

/// Mean ISO of the photos, counting a photo without ISO as 100 (100 when there are none).
double noiseMeanIso(const std::vector<double>& photoIso);

/// Median bin m of a 256-bin histogram of ⌊Y × 255⌋: the first bin where the running count exceeds
/// half of `pixelCount`, at least 16.
int noiseMedianBin(const uint64_t histogram[256], uint64_t pixelCount);

/// Base threshold σ for a w × h picture with median bin m, with the ISO, RAW and photo-count
/// adjustments of `options` (skipped when calibrated). Never negative.
double noiseSigma(int width, int height, int medianBin, const noiseFilterOptions_t& options);

/// Threshold of transform level `level` (0 … 4) for base threshold σ and softness value s.
double noiseLevelThreshold(double sigma, double softness, int level);

/// Converts `pixels` interleaved RGB samples in place to square-root YCbCr (full-range JPEG
/// matrix); negative, NaN and huge samples are clamped into 0 … 1e30 first. When `histogram` is
/// given, it receives the 256-bin histogram of ⌊Y × 255⌋ (clamped to 0 … 255).
void convertToSqrtYCbCr(float* rgb, size_t pixels, uint64_t histogram[256] = nullptr);

/// Converts square-root YCbCr back to linear RGB in place (values below zero become 0 before squaring).
void convertFromSqrtYCbCr(float* rgb, size_t pixels);

/// Denoises channel `channel` (0 … 2) of the interleaved w × h × 3 picture with base threshold σ and
/// softness value s. False when aborted (the plane is then only partly filtered) or short of memory.
/// Adds (w + 2 × h) × 5 progress units.
bool waveletDenoisePlane(float* picture, int width, int height, int channel, double sigma, double softness);

/// Filters the radiance picture in place (logs "Noise filtering..."). False when aborted through
/// a cancelled run or short of memory — the picture is then not usable and should be discarded.
/// Adds (w + 2 × h) × 15 progress units when it runs to the end.
bool noiseFilter(float* rgb, int width, int height, const noiseFilterOptions_t& options);

} // namespace halvora
