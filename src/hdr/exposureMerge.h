#pragma once
// The per-pixel exposure merge of one chunk of consecutive pixels: "True HDR" (each photo's samples
// linearised by the response curves and weighted by its weight table, with the fallbacks for pixels
// that no photo weighs and the blend by anti-ghosting weights), "Smart Merge" (raw samples weighted
// through each photo's brightness map) and "Stack" (the plain mean).
//
// The kernel sees only what it is handed: the shared inputs of the merge (exposureMergeInputs_t) and,
// per chunk, pointers to the photos' samples, maps and masks. The HDR worker gathers the inputs from
// the project, maps each chunk of the photos' temporary files and runs one HDRgeneration per chunk
// on the thread pool. A thread reads the shared inputs, writes only its chunk of the output and its
// own extremes, polls halvora::cancelRequested() and counts progress; any pool thread.

#include <cstdint>

namespace halvora {

/// The most photos one merge takes.
inline constexpr int kMaxMergePhotos = 32;

/// The merge methods, as the HDR dialog numbers them.
enum exposureMergeMethod : int32_t { mergeTrueHDR = 0, mergeSmartMerge = 1, mergeStack = 2 };

/// What every chunk of one merge shares. Photo arrays are indexed by the photo's place among the
/// included photos (0 … photoCount − 1); tables have 32640 entries indexed by a working sample.
struct exposureMergeInputs_t {
    int32_t method = mergeTrueHDR;
    int32_t photoCount = 0;      ///< 1 … kMaxMergePhotos
    bool ghostRemoval = false;   ///< True HDR: blend by the chunk's anti-ghosting weights
    bool repair = false;         ///< ... and repair photos near clipping inside ghost regions
    double smartMergeOffset = 0; ///< (5 − Smart Merge strength) / 10, added to every Smart Merge weight

    const double* weightTable[kMaxMergePhotos] = {}; ///< True HDR: by mean sample; Smart Merge: by map value
    double invExposure[kMaxMergePhotos] = {};   ///< 1 / exp(lnExposure − reference + exposureCorrection)
    double lnExposure[kMaxMergePhotos] = {};    ///< orders the under- and over-exposed photos
    double ghostExposure[kMaxMergePhotos] = {}; ///< exp(lnExposure − ln 2 × evMin + exposureCorrection)
    uint16_t lowLimit[kMaxMergePhotos] = {};    ///< first sample with weight above 0
    uint16_t highLimit[kMaxMergePhotos] = {};   ///< last sample with weight above 0

    const double* responseCurve[3] = {};         ///< R, G, B (True HDR and the ghost blend)
    const double* closenessBright = nullptr;     ///< 1 near white, for the repair
    const double* closenessDark = nullptr;       ///< 1 near black, for the repair
    const double* inconsistencyWeight = nullptr; ///< "Balanced" table of the pixel inconsistency measure
};

/// One merge thread: one chunk of consecutive pixels of the picture.
struct HDRgeneration_threadParams_t {
    const exposureMergeInputs_t* inputs = nullptr;
    int32_t firstPixel = 0; ///< the chunk's place in the picture
    int32_t pixelCount = 0;
    int32_t width = 0;                                    ///< picture width: progress counts rows
    const uint16_t* pixels[kMaxMergePhotos] = {};         ///< each photo's R, G, B samples of the chunk
    const uint16_t* smartMergeMask[kMaxMergePhotos] = {}; ///< each photo's Smart Merge map of the chunk
    const uint8_t* antiGhostMask[kMaxMergePhotos] = {};   ///< each photo's ghost weights (null: none)
    float* output = nullptr;                              ///< the chunk's first output sample
    bool mapped = false; ///< pixels and masks are memory-mapped windows: their page tables are filled first
    double minValue = 0; ///< out: smallest channel value written
    double maxValue = 0; ///< out: largest channel value written
};

/// Merges the chunk of `p` into its output and sets its extremes (start values 9e9 and 0, so an
/// empty or cancelled chunk keeps them). Every `width` pixels, from the chunk's first, adds 10 to
/// the progress and stops when the run is cancelled. Pool thread.
void HDRgeneration(HDRgeneration_threadParams_t& p);

} // namespace halvora
