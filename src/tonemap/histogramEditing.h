#pragma once
// The rules of the histogram editor: the black and white levels it moves (white always above black,
// so the levels' stretch never divides by zero or turns the picture over), the no-clip and default
// clipping, and the level a colour sampled with its eyedroppers stands for. Called on the thread
// that owns the settings record (the main thread) while no tone mapping reads it.

#include "base/rgbDouble.h"
#include "tonemap/toneMappingSettings.h"

namespace halvora {

/// Clip percentages of the "default" button (darkest, brightest).
inline constexpr double kDefaultBlackClip = 0.1;
inline constexpr double kDefaultWhiteClip = 0.2;
/// Smallest distance of the white level above the black level: one step of the 8-bit preview.
inline constexpr double kMinLevelGap = 1.0 / 255.0;

/// Sets the black level to `level`, kept within 0 … white level − kMinLevelGap.
void setBlackLevel(toneMappingParameters_t& s, double level);
/// Sets the white level to `level`, kept within black level + kMinLevelGap … 1.
void setWhiteLevel(toneMappingParameters_t& s, double level);

/// "No clipping": automatic clipping off, both percentages (requested and resulting) 0, levels 0 and 1.
void applyNoClip(toneMappingParameters_t& s);
/// "Default": automatic clipping on with 0.1 % (darkest) and 0.2 % (brightest); the next tone mapping
/// finds the levels.
void applyDefaultClip(toneMappingParameters_t& s);

/// Luminance (weights 0.3086, 0.6094, 0.082, as the histogram counts it) of a colour.
double histogramLuminance(const rgbDouble_t& c);

/// Level, before the black and white stretch, of a colour sampled from the shown result (which was
/// stretched by `blackLevel` … `whiteLevel`).
double levelOfShownColor(const rgbDouble_t& shown, double blackLevel, double whiteLevel);

/// Level, before the black and white stretch, of a radiance colour: the colour run through the
/// settings' per-pixel chain without local planes and sharpening (their values at the sampled spot
/// are not known). −1 when the settings' tables are not allocated.
double levelOfRadianceColor(toneMappingSettings_t& s, const rgbDouble_t& radiance, double hdrMean,
                            double lcCorrection);

} // namespace halvora
