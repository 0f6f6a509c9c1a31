#pragma once
// The passes of the per-pixel chain over a whole picture that the tone-mapping drivers run: the
// preview (histogram pass, automatic clipping, render pass or stretch) and the full-resolution pass.
// The processing project's drivers toneMapPreview and toneMapFullImage run these with the project's
// own buffers. Called from the thread that drives tone mapping (the
// main thread or a worker); each pass splits the pixels over the thread pool and waits.

#include "tonemap/toneMappingSettings.h"

#include <cstdint>

namespace halvora {

/// The inputs of one tone mapping at one picture level (all planes width × height).
struct toneMapSource_t {
    int width = 0;
    int height = 0;
    const float* hdr = nullptr;
    const uint16_t* lcPlaneFine = nullptr;
    const uint16_t* lcPlaneMedium = nullptr;
    const uint16_t* lcPlaneCoarse = nullptr;
    const uint16_t* maskPlane = nullptr;
    const int16_t* detailPlane = nullptr; ///< used by the render pass only
    double detailScale = 1.0;
    double hdrMean = 0.4;
    double lcCorrection = 1.0;
};

/// Runs toneMapping over every pixel of `source` into `out16` or `out8` (either may be null). With
/// `histograms` the four histograms of the settings are cleared and filled (levels not applied) and
/// the detail plane is left out. Returns false (nothing done) when the inputs are missing.
/// A histogram pass may also keep every pixel's colour before sharpening and levels in `keptColor`
/// (3 doubles per pixel), for finishToneMapping.
bool runToneMapping(toneMappingSettings_t& settings, const toneMapSource_t& source, uint16_t* out16,
                    uint8_t* out8, bool histograms, double* keptColor = nullptr);

/// The full-resolution pass (no histograms) over rows [firstRow, endRow) of `source` into the same rows
/// of `out16`; the pixels are exactly those runToneMapping gives. False (nothing done) when the inputs
/// are missing or the rows do not lie in the picture, or when the run was cancelled.
bool runToneMappingRows(const toneMappingSettings_t& settings, const toneMapSource_t& source, int firstRow,
                        int endRow, uint16_t* out16);
/// The same pass with the rows written from the start of `band` (endRow − firstRow rows of width × 3
/// samples), for a caller that keeps only the bands still being worked on.
bool runToneMappingBand(const toneMappingSettings_t& settings, const toneMapSource_t& source, int firstRow,
                        int endRow, uint16_t* band);

/// The render pass from the colours a histogram pass kept: the same output as runToneMapping without
/// histograms, at a fraction of its cost. False (nothing done) when the inputs are missing.
bool finishToneMapping(const toneMappingSettings_t& settings, const toneMapSource_t& source,
                       const double* keptColor, uint16_t* out16, uint8_t* out8);

/// What the clip step asks of its caller.
struct clipOutcome_t {
    bool disableBlack = false; ///< AutoClipping is on but the black clip percentage is below 0.0001
    bool disableWhite = false;
};

/// From the histograms of the settings: the cumulative percentages, the automatic black and white
/// levels (when AutoClipping is on) and the resulting clip percentages. Logs "disableAutoClipping\n"
/// for each side whose requested percentage is below 0.0001 (that level is then kept).
clipOutcome_t updateClipLevels(toneMappingSettings_t& settings, int64_t pixelCount);

/// Stretches an 8-bit picture in place by the settings' black and white levels.
void stretchLevels(uint8_t* pixels, int64_t sampleCount, double blackLevel, double whiteLevel);

/// Outcome of a preview tone mapping.
struct previewOutcome_t {
    bool renderedDisplay = false;     ///< the render pass wrote `display`
    bool disableAutoClipping = false; ///< the caller should switch automatic clipping off
};

/// The preview: unless `skipHistogram`, the histogram pass (into `callerTarget` when given) with
/// automatic clipping; then either the in-place stretch of `callerTarget` or the render pass into
/// `display` (with the source's detail plane). Both targets are width × height × 3 bytes.
previewOutcome_t toneMapPreviewPasses(toneMappingSettings_t& settings, const toneMapSource_t& source,
                                      uint8_t* callerTarget, uint8_t* display, bool skipHistogram);

} // namespace halvora
