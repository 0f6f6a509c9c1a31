#include "imageio/imageTransform.h"
#include "base/parallelFor.h"
#include "base/rgbBuffers.h"

#include <gtest/gtest.h>
#include <vector>

using namespace halvora;

namespace {

// Independent description of each mode: where destination (x, y) of a W × H result comes from,
// as (column, row) of the w × h source, written from the geometry rather than the index formulas.
std::pair<int, int> sourceOf(int mode, int x, int y, int w, int h, const cropRect& r) {
    switch (mode) {
    case turnCounterClockwise:
        return {w - 1 - y, x}; // top-right corner goes to top-left
    case turn180:
        return {w - 1 - x, h - 1 - y};
    case turnClockwise:
        return {y, h - 1 - x}; // bottom-left corner goes to top-left
    case mirrorLeftRight:
        return {w - 1 - x, y};
    case mirrorTopBottom:
        return {x, h - 1 - y};
    default:
        return {x + r.left, y + r.top};
    }
}

template <class T> std::vector<T> pattern(size_t n, int salt) {
    std::vector<T> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = T((i * 2654435761u + salt) % 251);
    return v;
}

struct transformCase {
    int mode;
    cropRect rect;
};

const transformCase kCases[] = {{turnCounterClockwise, {}}, {turn180, {}},         {turnClockwise, {}},
                                {mirrorLeftRight, {}},      {mirrorTopBottom, {}}, {cropToRect, {2, 1, 6, 4}},
                                {cropToRect, {0, 0, 7, 5}}};

class transformTest : public ::testing::TestWithParam<int> {};

TEST_P(transformTest, everyModeAndVariantMatchesTheGeometry) {
    setThreadCountOverride(GetParam());
    const int w = 7, h = 5; // odd sizes catch off-by-one in the turns
    for (const transformCase& tc : kCases) {
        int W = 0, H = 0;
        ASSERT_TRUE(transformedSize(tc.mode, w, h, tc.rect, W, H));
        const auto rgb = pattern<uint16_t>(size_t(w) * h * 3, 1);
        const auto p16 = pattern<uint16_t>(size_t(w) * h, 2);
        const auto p8 = pattern<uint8_t>(size_t(w) * h, 3);
        auto rgbOut = rgb;
        auto p16Out = p16;
        auto p8Out = p8;
        std::vector<float> flt(size_t(w) * h * 3);
        for (size_t i = 0; i < flt.size(); ++i)
            flt[i] = float(rgb[i]) + 0.5f;
        auto fltOut = flt;
        ASSERT_TRUE(transformRgb16(rgbOut.data(), w, h, tc.mode, tc.rect));
        ASSERT_TRUE(transformPlane16(p16Out.data(), w, h, tc.mode, tc.rect));
        ASSERT_TRUE(transformPlane8(p8Out.data(), w, h, tc.mode, tc.rect));
        for (int c = 0; c < 3; ++c)
            ASSERT_TRUE(transformFloatChannel(fltOut.data(), w, h, c, tc.mode, tc.rect));
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const auto [sx, sy] = sourceOf(tc.mode, x, y, w, h, tc.rect);
                const size_t d = size_t(y) * W + x, s = size_t(sy) * w + sx;
                EXPECT_EQ(p16Out[d], p16[s]) << "mode " << tc.mode;
                EXPECT_EQ(p8Out[d], p8[s]) << "mode " << tc.mode;
                for (int c = 0; c < 3; ++c) {
                    EXPECT_EQ(rgbOut[d * 3 + c], rgb[s * 3 + c]) << "mode " << tc.mode;
                    EXPECT_EQ(fltOut[d * 3 + c], flt[s * 3 + c]) << "mode " << tc.mode;
                }
            }
    }
    setThreadCountOverride(0);
}

INSTANTIATE_TEST_SUITE_P(threads, transformTest, ::testing::Values(1, 3));

TEST(imageTransform, largePictureCrossesTileBorders) {
    const int w = 131, h = 70;
    const auto src = pattern<uint16_t>(size_t(w) * h, 9);
    auto out = src;
    ASSERT_TRUE(transformPlane16(out.data(), w, h, turnCounterClockwise, {}));
    for (int y = 0; y < w; ++y)
        for (int x = 0; x < h; ++x)
            ASSERT_EQ(out[size_t(y) * h + x], src[size_t(x) * w + (w - 1 - y)]);
}

TEST(imageTransform, invalidModesAndRectanglesChangeNothing) {
    auto buf = pattern<uint16_t>(20 * 10 * 3, 4);
    const auto copy = buf;
    int W, H;
    EXPECT_FALSE(transformRgb16(buf.data(), 20, 10, 6, {}));
    EXPECT_FALSE(transformRgb16(buf.data(), 20, 10, cropToRect, {0, 0, 21, 10}));
    EXPECT_FALSE(transformRgb16(buf.data(), 20, 10, cropToRect, {3, 3, 3, 5}));
    EXPECT_FALSE(transformRgb16(buf.data(), 20, 10, cropToRect, {-1, 0, 5, 5}));
    EXPECT_FALSE(transformFloatChannel(nullptr, 20, 10, 0, turn180, {}));
    EXPECT_FALSE(transformedSize(turn180, 0, 10, {}, W, H));
    EXPECT_EQ(buf, copy);
}

TEST(boxDownscale, rgb16MeansCountOnlyPixelsInside) {
    // 5 × 3 picture, k = 2: output 3 × 2; the right column and bottom row blocks are partial.
    const int w = 5, h = 3, k = 2;
    std::vector<uint16_t> src(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                src[(size_t(y) * w + x) * 3 + c] = uint16_t(1000 * (c + 1) + 100 * y + 10 * x + (x * y) % 3);
    std::vector<uint16_t> dst(3 * 2 * 3, 0xFFFF);
    downscaleRgb16(src.data(), w, h, k, dst.data());
    for (int oy = 0; oy < 2; ++oy)
        for (int ox = 0; ox < 3; ++ox)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                int n = 0;
                for (int y = oy * k; y < std::min(h, oy * k + k); ++y)
                    for (int x = ox * k; x < std::min(w, ox * k + k); ++x, ++n)
                        sum += src[(size_t(y) * w + x) * 3 + c];
                EXPECT_EQ(dst[(size_t(oy) * 3 + ox) * 3 + c], uint16_t(sum / n)) << ox << "," << oy;
            }
    // The corner block holds one pixel only: its mean is that pixel.
    EXPECT_EQ(dst[(1 * 3 + 2) * 3], src[(2 * w + 4) * 3]);
}

TEST(boxDownscale, clampsToFullScale) {
    std::vector<uint16_t> src(4 * 3, 65535);
    std::vector<uint16_t> dst(3);
    downscaleRgb16(src.data(), 2, 2, 2, dst.data());
    EXPECT_EQ(dst[0], kFullScale);
}

TEST(boxDownscale, floatScaledTruncatedAndClamped) {
    // 3 × 1 picture, k = 2 → 2 × 1.
    const float src[] = {0.25f, 0.5f, 2.0f, 0.75f, -1.0f, 0.0f, 0.1f, std::numeric_limits<float>::quiet_NaN(),
                         0.3f};
    uint16_t dst[6];
    downscaleFloat(src, 3, 1, 2, 2.0, dst);
    EXPECT_EQ(dst[0], uint16_t((0.25 + 0.75) * 2.0 / 2 * kFullScale)); // 32640
    EXPECT_EQ(dst[1], 0) << "negative mean reads as 0";
    EXPECT_EQ(dst[2], kFullScale) << "above full scale is clamped";
    EXPECT_EQ(dst[3], uint16_t(0.1 * 2.0 * kFullScale));
    EXPECT_EQ(dst[4], 0) << "NaN reads as 0";
    EXPECT_EQ(dst[5], uint16_t(double(0.3f) * 2.0 * kFullScale));
}

TEST(thumbnail, blockMeansAndMeanBrightness) {
    const int pw = 9, ph = 6; // thumbnail 2 × 1; the last column and rows are left out
    std::vector<uint16_t> preview(size_t(pw) * ph * 3);
    for (size_t i = 0; i < preview.size(); ++i)
        preview[i] = uint16_t((i * 37) % 32641);
    double mean = -1;
    const QImage thumb = buildThumbnail(preview.data(), pw, ph, mean);
    ASSERT_EQ(thumb.width(), 2);
    ASSERT_EQ(thumb.height(), 1);
    double expected = 0;
    for (int tx = 0; tx < 2; ++tx) {
        uint32_t avg[3] = {0, 0, 0};
        for (int c = 0; c < 3; ++c) {
            uint32_t sum = 0;
            for (int y = 0; y < 4; ++y)
                for (int x = 4 * tx; x < 4 * tx + 4; ++x)
                    sum += preview[(size_t(y) * pw + x) * 3 + c];
            avg[c] = sum / 16;
            EXPECT_EQ(thumb.constScanLine(0)[tx * 3 + c], avg[c] >> 7);
        }
        expected += (avg[0] + avg[1] + avg[2]) / 3.0;
    }
    EXPECT_DOUBLE_EQ(mean, expected / 2 / 1);
    double none = -1;
    EXPECT_TRUE(buildThumbnail(preview.data(), 3, 3, none).isNull());
    EXPECT_EQ(none, 0);
}

} // namespace
