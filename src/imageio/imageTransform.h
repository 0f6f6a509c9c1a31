#pragma once
// The resampling and transform helpers used on whole buffers: box downscaling (previews), turning,
// mirroring and cropping. All loops run through the threading helper; results do not depend on
// the number of threads.

#include <QImage>
#include <cstdint>

namespace halvora {

/// A rectangle in picture coordinates; right and bottom are exclusive.
struct cropRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};

enum transformMode : int {
    turnCounterClockwise = 0,
    turn180 = 1,
    turnClockwise = 2,
    mirrorLeftRight = 3,
    mirrorTopBottom = 4,
    cropToRect = 5,
};

/// Destination size of transforming a w × h picture; false for an unknown mode or a crop rectangle
/// that is empty or not inside the picture.
bool transformedSize(int mode, int w, int h, const cropRect& crop, int& outWidth, int& outHeight);

/// Transforms a picture in place: the result (of transformedSize) replaces the source from the first
/// sample on. The 90° turns need a scratch block of the destination's size: `scratch` when given, else one
/// is allocated; the other modes work in place.
/// False, with nothing changed, for an invalid mode or rectangle or when memory is short.
bool transformRgb16(uint16_t* pixels, int w, int h, int mode, const cropRect& crop,
                    uint16_t* scratch = nullptr);
bool transformPlane16(uint16_t* plane, int w, int h, int mode, const cropRect& crop,
                      uint16_t* scratch = nullptr);
bool transformPlane8(uint8_t* plane, int w, int h, int mode, const cropRect& crop,
                     uint8_t* scratch = nullptr);
/// Channel `channel` of an interleaved 3 × float picture: copied out, transformed, written back to the
/// same channel with the destination's layout. A whole picture takes three calls (channel 0, 1, 2).
bool transformFloatChannel(float* rgb, int w, int h, int channel, int mode, const cropRect& crop);

/// Size of a box-downscaled side: ceil(side ÷ k).
inline int downscaledSide(int side, int k) {
    return (side + k - 1) / k;
}

/// Box downscale by k: each output sample is the truncated mean of the source samples of its k × k
/// block that lie inside the picture, clamped to 32640.
void downscaleRgb16(const uint16_t* src, int w, int h, int k, uint16_t* dst);
/// Box downscale of a radiance picture into the working scale: mean of (sample × scale), × 32640,
/// truncated and clamped to 0 … 32640 (NaN reads as 0).
void downscaleFloat(const float* src, int w, int h, int k, double scale, uint16_t* dst);

/// Thumbnail of a preview: (pw ÷ 4) × (ph ÷ 4) 8-bit RGB pixels, each the integer mean of a 4 × 4
/// block shifted right by 7. `meanBrightness` is the mean over the thumbnail of (R + G + B) ÷ 3 of the
/// unshifted block means (0 for an empty thumbnail).
QImage buildThumbnail(const uint16_t* preview, int pw, int ph, double& meanBrightness);

} // namespace halvora
