#pragma once
// The signed high-pass detail plane that Sharpness adds to the tone-mapped picture, and the
// recursive (exponential) smoothing it is made with. Called from the thread that drives a tone
// mapping; both split their work over the thread pool and wait for it.

#include <cstdint>

/// Parameters of one thread's share of the detail plane passes.
struct computeDetailPlane_threadParams_t {
    int64_t firstPixel = 0;
    int64_t endPixel = 0;
    const float* hdr = nullptr;
    uint16_t* plane = nullptr;   ///< pass A output (brightness); pass B: smoothed in, detail out
    uint16_t* scratch = nullptr; ///< unsmoothed copy, or null
};

/// Parameters of one thread's share of a smoothing pass (rows or columns first … end−1).
struct recursiveSmooth_threadParams_t {
    uint16_t* plane = nullptr;
    int width = 0;
    int height = 0;
    int first = 0;
    int end = 0;
    bool panorama = false;
    int coefficient = 0; ///< c = ⌊a² × 65536⌋
    int wrap = 0;        ///< panorama: columns the row runs start outside the picture
};

namespace halvora {

/// Smooths a 16-bit plane in place with the recursive filter y ← (y·c + x·(65535 − c)) >> 16 run
/// forwards and backwards along rows, then along columns (a = 0.5^(√2 / σ), c = ⌊a² × 65536⌋); in
/// panorama mode the row runs continue around the left/right seam. The border columns copy their
/// neighbours. Does nothing when a is not strictly between 0 and 1.
void recursiveSmooth(uint16_t* plane, int width, int height, bool panorama, double sigma);

/// Computes the detail plane of a (fullWidth × fullHeight) picture at a level of width × height
/// (`hdr` is that level's picture): ⌊(brightness − smoothed brightness) × 2.5⌋, with brightness
/// ((R + G + B) / 3)^(1/2.2) × 32640. `scratch` (width × height, may be null) holds the unsmoothed
/// copy (without it the unsmoothed value is recomputed); `target` (width × height) is also the working
/// plane. `detailScale` receives the factor that scales the detail when σ is below one pixel.
/// False when a size is impossible.
bool computeDetailPlane(int fullWidth, int fullHeight, const float* hdr, int16_t* target, uint16_t* scratch,
                        int width, int height, bool panorama, double& detailScale, double scaleFactor);

} // namespace halvora
