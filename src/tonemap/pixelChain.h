#pragma once
// The per-pixel tone-mapping chain: global compression, local contrast, micro details, output tables
// (curves and gamma), local tone mapping, white balance, selective and global saturation, hue,
// sharpening, black and white levels. One function serves the preview (8-bit output, optional
// histogram pass) and the full-resolution pass (16-bit output on the 0 … 32639 scale).

#include "tonemap/toneMappingSettings.h"

#include <cstdint>

/// One thread's share of a tone mapping: pixels [firstPixel, endPixel) of the image.
struct toneMapping_threadParams_t {
    int32_t firstPixel = 0;
    int32_t endPixel = 0;
    int32_t pixelCount = 0;
    int32_t width = 0;
    int32_t height = 0;
    double hdrMean = 0.4;
    double lcCorrection = 1.0;
    const float* hdr = nullptr; ///< 3 floats per pixel, 0 … 1
    const uint16_t* lcPlaneMedium = nullptr;
    const uint16_t* lcPlaneCoarse = nullptr;
    const uint16_t* lcPlaneFine = nullptr;
    const uint16_t* maskPlane = nullptr;
    uint16_t* out16 = nullptr; ///< 3 samples per pixel, or null
    uint8_t* out8 = nullptr;   ///< 3 bytes per pixel, used when out16 is null; may be null too
    /// Pixel whose samples out16 / out8 start with (0: the whole picture; a band's first pixel when
    /// the output holds that band only).
    int32_t outFirstPixel = 0;
    const int16_t* detailPlane = nullptr;
    const toneMappingSettings_t* settings = nullptr;
    /// Histogram targets (luminance, R, G, B; 4096 bins each), or null. Each thread gets its own set,
    /// summed by the driver after the wait, so the pixel loop takes no lock.
    uint32_t* histogram[4] = {nullptr, nullptr, nullptr, nullptr};
    double detailScale = 1.0;
    /// Histogram pass only, or null: receives every pixel's colour as it stands before sharpening,
    /// levels and clamping (3 doubles per pixel), so that toneMappingFinish can render the picture
    /// without running the chain a second time.
    double* keptColor = nullptr;
};

/// Which local-contrast planes the chain reads at a Range setting. The fine plane is always read (micro
/// details, and the fine rank lifts L where it is higher); the medium and coarse planes only where
/// the Range blend gives them a weight that is not exactly zero (Range 0 reads the fine plane alone,
/// 0.5 the medium one, 1 the coarse one).
struct localContrastPlanesRead_t {
    bool medium = true;
    bool coarse = true;
};
localContrastPlanesRead_t localContrastPlanesRead(double range);

/// Tone-maps the thread's pixel range. Planes that the settings do not read (see
/// localContrastPlanesRead) may be null. Runs on a
/// pool thread; reads only the settings and the inputs, writes only its own pixels and histograms.
void toneMapping(const toneMapping_threadParams_t& p);

/// The render pass from the colours a histogram pass kept (p.keptColor, read here): sharpening by
/// p.detailPlane, black and white levels, clamping and the 8-bit or 16-bit output of the thread's
/// pixel range; gives exactly what toneMapping would. Runs on a pool thread.
void toneMappingFinish(const toneMapping_threadParams_t& p);
