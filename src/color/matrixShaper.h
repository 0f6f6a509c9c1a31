#pragma once
// The conversion between two matrix/TRC RGB profiles (every shipped profile, profiles built from
// primaries, most monitor profiles), done with tables: each channel through its profile's tone
// curve to linear light, the 3 × 3 matrix of the two profiles' colorants, and the destination's
// inverse curves. It computes the ICC matrix/TRC model directly, in single precision, where
// LittleCMS interpolates a sampled grid, and is several times faster.
//
// Used for the relative intents (perceptual, relative colorimetric and saturation are one and the
// same mapping for such profiles) and black-point compensation between profiles whose black is
// zero (where it changes nothing). Other cases are left to LittleCMS. Built on one thread, then
// apply() may run on any number of threads at once.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace halvora {

class iccProfile;

/// Sample layouts the tables serve.
enum class shaperSamples {
    bytes,       ///< 8-bit samples
    sixteenBit,  ///< 0 … 65535
    workingScale ///< 0 … 32640 (larger values count as 32640)
};

class matrixShaper {
public:
    /// The conversion `from` → `to`, or null when one of the profiles is not a matrix/TRC RGB profile
    /// or the intent and black-point compensation need more than the matrix model.
    static std::unique_ptr<matrixShaper> create(const iccProfile& from, const iccProfile& to,
                                                shaperSamples samples, int intent,
                                                bool blackPointCompensation);

    /// Converts `count` pixels of `stride` bytes in place (tables made for bytes); red, green and blue
    /// are at the offsets `r`, `g`, `b` of each pixel and other bytes are kept. Any thread.
    void apply(uint8_t* pixels, size_t count, int stride, int r, int g, int b) const;
    /// Converts `count` interleaved R, G, B pixels of 16-bit samples in place (tables made for
    /// sixteenBit or workingScale). Any thread.
    void apply(uint16_t* pixels, size_t count) const;

private:
    struct key {
        explicit key() = default;
    };

public:
    /// Made by create() only.
    explicit matrixShaper(key) {}

private:
    shaperSamples samples_ = shaperSamples::bytes;
    float matrix_[9] = {};
    int inputMax_ = 255;           ///< highest input index
    std::vector<float> input_[3];  ///< sample → linear light
    std::vector<float> output_[3]; ///< 16-bit layouts: √linear on an even grid → output sample, unrounded
    std::vector<uint8_t> outputBytes_[3]; ///< bytes: linear on an even grid → output byte
};

} // namespace halvora
