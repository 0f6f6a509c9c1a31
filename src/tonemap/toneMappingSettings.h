#pragma once
// All tone-mapping parameters of one look, with their derived tables.
//
// The record is plain data: the main thread edits it (controls, settings files, presets) while no
// tone mapping runs; the tone-mapping threads only read it (and the drivers write back the clip
// results after their threads have finished).

#include "tonemap/selKneePoints.h"
#include "tonemap/tableStorage.h"

#include <cstdint>
#include <vector>

/// One knee point of a tone curve; both coordinates in 0 … 1.
struct curvePoint_t {
    double x = 0;
    double y = 0;
};

/// One tone curve: index 0 master, 1 red, 2 green, 3 blue.
struct curveSettings_t {
    static constexpr int32_t kSpline = 0;
    static constexpr int32_t kLinear = 1;
    /// The spline's working arrays have room for this many knee points; longer curves are refused.
    static constexpr int kMaxKneePoints = 32;

    int32_t type = kSpline;
    std::vector<curvePoint_t> kneePoints{{0, 0}, {1, 1}};
    bool identity = true; ///< the straight line (0, 0) – (1, 1) that stands for "no curve"

    /// Back to the identity line, spline type.
    void reset() { *this = curveSettings_t(); }
};

/// Control ranges of the parameters: the settings reader keeps loaded values inside them.
namespace halvora::tmRange {
inline constexpr double kCompressionMin = 0.1, kCompressionMax = 4.0;
inline constexpr double kGammaMin = 0.1, kGammaMax = 4.0;
inline constexpr double kColorMax = 2.0; ///< Temperature, Tint, Hue and Saturation: 0 … 2
inline constexpr double kClipMax = 99.9999;
inline constexpr double kSigmaMin = 0.1, kSigmaMax = 2.0;
/// The selective-saturation editors hold at most this many points per curve.
inline constexpr int kMaxSelectivePoints = 31;
} // namespace halvora::tmRange

/// The persisted parameters (and the resulting clip shares) without the derived tables: cheap to copy.
struct toneMappingParameters_t {
    // Global operator
    double compression = 1.4;
    double gamma = 0.9;
    // "Local Contrast" operator
    bool localContrastEnabled = false;
    double lcStrength = 0.3;
    double highlights = 0.3;
    double shadows = 0.3;
    double blackness = 0.3;
    double range = 0.5;
    double micro = 0.3;
    // Local tone-mapping operator ("Mask")
    bool maskEnabled = false;
    double maskStrength = 0.3;
    // Histogram clipping. Percentages are kept as requested and as resulting from the last pass.
    bool autoClipping = false;
    double blackClip = 0;       ///< requested share of pixels clipped to black, percent
    double whiteClip = 0;       ///< requested share of pixels clipped to white, percent
    double blackClipResult = 0; ///< share actually clipped by blackLevel (last tone mapping)
    double whiteClipResult = 0;
    double blackLevel = 0; ///< output level mapped to black, 0 … 1
    double whiteLevel = 1; ///< output level mapped to white, 0 … 1
    // Other
    double sharpness = 0.3;
    // Colour
    double temperature = 1.0;
    double tint = 1.0;
    double hue = 1.0;
    double saturation = 1.0;
    std::vector<selKneePoints_t> brightnessSelective;
    std::vector<selKneePoints_t> hueSelective;
    // Tone curves: master, R, G, B
    curveSettings_t curves[4];
};

/// One look: its parameters with the tables derived from them (two live in the processing project).
struct toneMappingSettings_t : toneMappingParameters_t {
    toneMappingTables_t tables;

    toneMappingParameters_t& parameters() { return *this; }
    const toneMappingParameters_t& parameters() const { return *this; }
};
