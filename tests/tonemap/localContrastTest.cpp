// Local-contrast planes: window sizes, ramp widths, the local-rank filter against a slow per-sample
// reference over the same window, panorama wrap-around, tiny pictures and thread independence.

#include "tonemap/localContrast.h"
#include "base/parallelFor.h"
#include "base/rgbBuffers.h"
#include "base/runContext.h"
#include "support/testSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

using namespace halvora;

namespace {

// Ramp width of value v, written out step by step from the filter's definition.
int referenceRampWidth(int v, bool constantWidth) {
    int w = constantWidth ? 40 : 2 * int(std::floor(0.1 * v));
    if (w < 80) w = 80;
    if (w > 320) w = 320;
    if (v > 1638) w = int(std::floor(double(w) * (2048 - v) / 409.0));
    if (w < 40) w = 40;
    return w;
}

// Local rank of pixel (x, y) by visiting every sample of its window: rows and columns of the window
// are the even ones within k of the pixel's 2 × 2 block origin; with panorama a column c outside the
// picture is read at the even column at or left of (c mod width). Exact rational arithmetic.
uint16_t referenceRank(const std::vector<uint16_t>& plane, int w, int h, int x, int y, int k, bool panorama,
                       bool constantWidth) {
    const int bx = x - (x % 2), by = y - (y % 2);
    const int v = std::min<int>(plane[size_t(y) * w + x], 2048);
    const int rw = referenceRampWidth(v, constantWidth);
    const int lo = std::max(v - rw, 0), hi = std::min(v + rw / 2, 2048);
    int64_t n = 0, below = 0, rampNumerator = 0;
    for (int r = by - k; r <= by + k; r += 2) {
        if (r < 0 || r >= h) continue;
        const int cFirst = panorama ? bx - k : std::max(0, bx - k);
        const int cLast = panorama ? bx + k : std::min(bx + k, w - 1);
        for (int c = cFirst; c <= cLast; c += 2) {
            int col = c;
            if (panorama) {
                col = ((c % w) + w) % w;
                col -= col % 2;
            }
            const int s = std::min<int>(plane[size_t(r) * w + col], 2048);
            ++n;
            if (s < lo)
                ++below;
            else if (s < hi)
                rampNumerator += hi - s; // weight (hi − s) / (hi − lo)
        }
    }
    const int64_t d = hi - lo;
    const int64_t rank = (below * d + rampNumerator) * 32640 / (n * d);
    return rank >= 32639 ? 32640 : uint16_t(rank);
}

std::vector<uint16_t> runFilter(const std::vector<uint16_t>& plane, int w, int h, int k, bool panorama,
                                bool constantWidth) {
    std::vector<uint16_t> out(size_t(w) * h, 0xFFFF), samples(size_t((w + 1) / 2) * ((h + 1) / 2));
    EXPECT_TRUE(runLocalContrast(plane.data(), w, h, k, panorama, constantWidth, samples.data(), out.data()));
    return out;
}

// A prepared-plane test picture: smooth ramp, a few flat patches and noise, values 0 … 2040.
std::vector<uint16_t> texturedPlane(int w, int h, uint32_t seed) {
    std::vector<uint16_t> p(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int v = (x * 1500) / std::max(1, w) + (y * 300) / std::max(1, h) +
                    int(halvora::test::hashMix(seed + y * 977 + x) % 200);
            if ((x / 5 + y / 4) % 7 == 0) v = 1000;
            p[size_t(y) * w + x] = uint16_t(std::min(v, 2040));
        }
    return p;
}

void expectMatchesReference(const std::vector<uint16_t>& plane, int w, int h, int k, bool panorama, bool cw) {
    const std::vector<uint16_t> out = runFilter(plane, w, h, k, panorama, cw);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(out[size_t(y) * w + x], referenceRank(plane, w, h, x, y, k, panorama, cw))
                << "at " << x << "," << y << " of " << w << "x" << h << " k=" << k
                << " panorama=" << panorama;
}

} // namespace

TEST(localContrastWindows, sizesFollowThePictureSize) {
    const localContrastWindows_t a = localContrastWindowSizes(4000, 3000);
    EXPECT_EQ(a.medium, 356);
    EXPECT_EQ(a.fine, 60);
    EXPECT_EQ(a.coarse, 912);
    const localContrastWindows_t b = localContrastWindowSizes(600, 900);
    EXPECT_EQ(b.medium, 64);
    EXPECT_EQ(b.fine, 12);
    EXPECT_EQ(b.coarse, 172);
    // Small pictures get the minimum windows; all sizes stay even.
    const localContrastWindows_t c = localContrastWindowSizes(1, 1);
    EXPECT_EQ(c.fine, 8);
    EXPECT_EQ(c.medium, 10);
    EXPECT_EQ(c.coarse, 10);
    for (int m : {13, 99, 401, 1234, 5001}) {
        const localContrastWindows_t s = localContrastWindowSizes(m, m + 7);
        EXPECT_EQ(s.fine % 2, 0);
        EXPECT_EQ(s.medium % 2, 0);
        EXPECT_EQ(s.coarse % 2, 0);
        EXPECT_LE(s.fine, s.medium);
        EXPECT_LE(s.medium, s.coarse);
    }
}

TEST(localContrastWindows, rampTableMatchesDefinition) {
    int table[2049], constant[2049];
    localContrastRampTable(false, table);
    localContrastRampTable(true, constant);
    for (int v = 0; v <= 2048; ++v) {
        ASSERT_EQ(table[v], referenceRampWidth(v, false)) << v;
        ASSERT_EQ(constant[v], referenceRampWidth(v, true)) << v;
    }
    EXPECT_EQ(table[0], 80);
    EXPECT_EQ(table[1000], 200);
    EXPECT_EQ(table[1600], 320);
    EXPECT_EQ(table[1700], 272); // 320 × 348 / 409
    EXPECT_EQ(table[2040], 40);
}

TEST(localContrastFilter, uniformPictureGivesTheRampShareEverywhere) {
    const int w = 31, h = 17;
    for (int v : {0, 200, 1000, 1700, 2040}) {
        const std::vector<uint16_t> plane(size_t(w) * h, uint16_t(v));
        const int rw = referenceRampWidth(v, false);
        const int lo = std::max(v - rw, 0), hi = std::min(v + rw / 2, 2048);
        // Every sample equals v: nothing below, each weighs (hi − v) / (hi − lo).
        const uint16_t expected = uint16_t(int64_t(32640) * (hi - v) / (hi - lo));
        const std::vector<uint16_t> out = runFilter(plane, w, h, 8, false, false);
        for (uint16_t o : out)
            ASSERT_EQ(o, expected) << "v=" << v;
    }
    EXPECT_EQ(runFilter(std::vector<uint16_t>(64, 1000), 8, 8, 10, true, false)[0], 10880); // 100 / 300
}

TEST(localContrastFilter, stepPictureAtKnownPositions) {
    const int w = 40, h = 20;
    std::vector<uint16_t> plane(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            plane[size_t(y) * w + x] = x < 20 ? 200 : 1000;
    const std::vector<uint16_t> out = runFilter(plane, w, h, 8, false, false);
    // (20, 10): columns 12 … 28 (4 dark, 5 bright), rows 2 … 18 (9): 36 samples below the ramp,
    // 45 on it at weight 100 / 300 → 51 / 81.
    EXPECT_EQ(out[size_t(10) * w + 20], 20551);
    // (19, 10) belongs to the block at 18: columns 10 … 26 (5 dark, 4 bright); the bright samples are
    // above the ramp, the dark ones weigh 40 / 120 → 15 / 81.
    EXPECT_EQ(out[size_t(10) * w + 19], 6044);
    // Far from the step the window is uniform.
    EXPECT_EQ(out[size_t(10) * w + 2], 32640 * 40 / 120);
    EXPECT_EQ(out[size_t(10) * w + 38], 10880);
    expectMatchesReference(plane, w, h, 8, false, false);
    expectMatchesReference(plane, w, h, 8, true, true);
}

TEST(localContrastFilter, matchesReferenceOnTexturedPictures) {
    // Odd and even sizes, windows smaller and larger than the picture, both ramp variants.
    const struct {
        int w, h, k;
    } cases[] = {{37, 23, 8},  {36, 24, 12},  {21, 40, 10}, {17, 9, 40},
                 {64, 33, 30}, {151, 22, 40}, {130, 9, 90}};
    for (const auto& c : cases) {
        const std::vector<uint16_t> plane = texturedPlane(c.w, c.h, uint32_t(c.w * 31 + c.h));
        for (bool panorama : {false, true})
            for (bool cw : {false, true})
                expectMatchesReference(plane, c.w, c.h, c.k, panorama, cw);
    }
}

TEST(localContrastFilter, tinyPictures) {
    const std::vector<uint16_t> one{700};
    for (bool panorama : {false, true}) {
        const std::vector<uint16_t> out = runFilter(one, 1, 1, 8, panorama, false);
        // The only sample is the pixel itself: ramp 560 … 770, share (770 − 700) / (770 − 560).
        EXPECT_EQ(out[0], 10880);
    }
    const std::vector<uint16_t> p32{0, 2040, 5, 1000, 1000, 2048};
    for (bool panorama : {false, true})
        expectMatchesReference(p32, 3, 2, 8, panorama, false);
    expectMatchesReference(texturedPlane(1, 9, 3), 1, 9, 10, false, false);
    expectMatchesReference(texturedPlane(9, 1, 4), 9, 1, 10, true, false);
    expectMatchesReference(texturedPlane(2, 2, 5), 2, 2, 8, false, true);
}

TEST(localContrastFilter, zeroCountsNothingBelow) {
    // A dark pixel among brighter ones: nothing can lie below 0, so only the ramp share of the
    // zero-valued samples (weight 1) counts.
    const int w = 10, h = 10;
    std::vector<uint16_t> plane(size_t(w) * h, 1500);
    plane[0] = 0;
    const std::vector<uint16_t> out = runFilter(plane, w, h, 8, false, false);
    // Window of (0, 0): rows and columns 0, 2, …, 8 → 25 samples, one of them 0.
    EXPECT_EQ(out[0], 32640 / 25);
    // (1, 0) shares the window; for 1500 the ramp is 1200 … 1650: the 0 lies below, the 24 samples of
    // 1500 weigh 150 / 450 each → 9 / 25.
    EXPECT_EQ(out[1], 11750);
}

TEST(localContrastFilter, panoramaEdgesSeeEachOther) {
    const int w = 48, h = 12, k = 10;
    // Bright stripe along the right edge only.
    std::vector<uint16_t> plane(size_t(w) * h, 300);
    for (int y = 0; y < h; ++y)
        for (int x = w - 6; x < w; ++x)
            plane[size_t(y) * w + x] = 1800;
    const std::vector<uint16_t> flat = runFilter(plane, w, h, k, false, false);
    const std::vector<uint16_t> pano = runFilter(plane, w, h, k, true, false);
    // Without panorama the left edge sees only dark samples; with it, the bright stripe beyond the seam
    // is in the window and the dark pixel's ramp share is diluted.
    EXPECT_EQ(flat[size_t(5) * w + 0], flat[size_t(5) * w + 20]);
    EXPECT_LT(pano[size_t(5) * w + 0], flat[size_t(5) * w + 0]);
    // And the bright stripe sees the dark left edge on its right: more samples below it.
    EXPECT_GT(pano[size_t(5) * w + (w - 1)], flat[size_t(5) * w + (w - 1)]);
    expectMatchesReference(plane, w, h, k, true, false);
}

TEST(localContrastFilter, panoramaHasNoSeam) {
    // Turning a 360° picture by an even number of columns turns its planes the same way.
    const int w = 40, h = 14;
    const std::vector<uint16_t> plane = texturedPlane(w, h, 99);
    for (int k : {8, 12, 50}) {
        const std::vector<uint16_t> out = runFilter(plane, w, h, k, true, false);
        for (int shift : {2, 14, 38}) {
            std::vector<uint16_t> turned(plane.size());
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    turned[size_t(y) * w + (x + shift) % w] = plane[size_t(y) * w + x];
            const std::vector<uint16_t> turnedOut = runFilter(turned, w, h, k, true, false);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    ASSERT_EQ(turnedOut[size_t(y) * w + (x + shift) % w], out[size_t(y) * w + x])
                        << "k=" << k << " shift=" << shift << " at " << x << "," << y;
        }
    }
}

TEST(localContrastFilter, sameResultForAnyThreadCount) {
    const int w = 203, h = 57;
    const std::vector<uint16_t> plane = texturedPlane(w, h, 7);
    std::vector<std::vector<uint16_t>> results;
    for (int n : {1, 2, 3, 5}) {
        halvora::test::threadCountGuard t(n);
        results.push_back(runFilter(plane, w, h, 16, false, false));
        results.push_back(runFilter(plane, w, h, 16, true, true));
    }
    for (size_t i = 2; i < results.size(); ++i)
        EXPECT_EQ(results[i], results[i % 2]) << i;
}

TEST(localContrastPrepare, valuesAndHostileInput) {
    // Known luminances: Y = 1 → 2040; Y = 0 → 0; Y = 0.25 with e = 1 → ⌊0.25^0.75 × 32640⌋ >> 4.
    const float pixels[][3] = {{1, 1, 1},
                               {0, 0, 0},
                               {0.25f, 0.25f, 0.25f},
                               {NAN, 0.5f, 0.5f},
                               {INFINITY, INFINITY, INFINITY},
                               {-1, -1, -1},
                               {-INFINITY, 0, 0},
                               {5, 5, 5},
                               {1e-30f, 1e-30f, 1e-30f},
                               {0, 1e-7f, 0}};
    const int n = int(std::size(pixels));
    std::vector<uint16_t> out(size_t(n), 0xFFFF);
    for (double e : {1.0, 0.6, 0.51}) {
        ASSERT_TRUE(runLocalContrastPrepare(&pixels[0][0], n, 1, e, out.data()));
        for (uint16_t v : out)
            EXPECT_LE(v, 2040);
        EXPECT_EQ(out[0], 2040);
        EXPECT_EQ(out[1], 0);
        EXPECT_EQ(out[3], 0);    // NaN
        EXPECT_EQ(out[4], 2040); // +Inf
        EXPECT_EQ(out[5], 0);    // negative
        EXPECT_EQ(out[6], 0);
        EXPECT_EQ(out[7], 2040);
        EXPECT_EQ(out[9], 0); // X + Y + Z below 1e-5
    }
    ASSERT_TRUE(runLocalContrastPrepare(&pixels[0][0], n, 1, 1.0, out.data()));
    // 0.2126729 + 0.7151522 + 0.072175 sums to 1 (to float precision): Y = 0.25.
    EXPECT_NEAR(out[2], int(std::pow(0.25, 0.75) * 32640) >> 4, 1);
    // With e = 0.6 (1.2e < 1) the luminance is first raised to 0.72, then to 0.45: Y^0.324.
    ASSERT_TRUE(runLocalContrastPrepare(&pixels[0][0], n, 1, 0.6, out.data()));
    EXPECT_NEAR(out[2], int(std::pow(0.25, 0.72 * 0.45) * 32640) >> 4, 1);
}

TEST(localContrastPrepare, sameResultForAnyThreadCount) {
    const int w = 101, h = 7;
    std::vector<float> hdr(size_t(w) * h * 3);
    for (size_t i = 0; i < hdr.size(); ++i)
        hdr[i] = float(halvora::test::hashMix(uint32_t(i)) % 10000) / 9000.0f;
    std::vector<uint16_t> a(size_t(w) * h), b(a.size());
    {
        halvora::test::threadCountGuard t(1);
        runLocalContrastPrepare(hdr.data(), w, h, 0.7, a.data());
    }
    {
        halvora::test::threadCountGuard t(3);
        runLocalContrastPrepare(hdr.data(), w, h, 0.7, b.data());
    }
    EXPECT_EQ(a, b);
}

TEST(localContrastFilter, cancelStopsEarly) {
    const int w = 400, h = 300;
    const std::vector<uint16_t> plane = texturedPlane(w, h, 1);
    std::vector<uint16_t> out(plane.size()), samples(size_t(w / 2) * (h / 2));
    runContext run;
    runContext::scope bind(run);
    run.cancel();
    const bool finished = runLocalContrast(plane.data(), w, h, 100, false, false, samples.data(), out.data());
    EXPECT_FALSE(finished);
    // No thread finishes a strip of columns once the flag is up.
    EXPECT_EQ(run.progressDone(), 0u);
}

TEST(localContrastFilter, threadFunctionRefusesBadRanges) {
    const int w = 10, h = 4;
    const std::vector<uint16_t> plane(size_t(w) * h, 500);
    std::vector<uint16_t> samples(size_t(5) * 2), out(plane.size(), 7);
    localContrastSampleGrid(plane.data(), w, h, samples.data());
    localContrast_threadParams_t p;
    p.width = w;
    p.height = h;
    p.source = plane.data();
    p.target = out.data();
    p.samples = samples.data();
    p.k = 8;
    p.firstColumn = 3; // odd: would overlap the block of columns 2 and 3
    p.endColumn = 10;
    EXPECT_FALSE(localContrast(p));
    p.firstColumn = 2;
    p.endColumn = 12; // beyond the picture
    EXPECT_FALSE(localContrast(p));
    EXPECT_EQ(out, std::vector<uint16_t>(plane.size(), 7));
    // Two halves computed separately give the whole.
    p.firstColumn = 0;
    p.endColumn = 4;
    EXPECT_TRUE(localContrast(p));
    p.firstColumn = 4;
    p.endColumn = 10;
    EXPECT_TRUE(localContrast(p));
    EXPECT_EQ(out, runFilter(plane, w, h, 8, false, false));
}

TEST(localContrastFilter, stripsAndThreadRangesJoinSeamlessly) {
    // The filter sweeps 64 block columns at a time (256 for windows of k ≥ 256); threads split the
    // picture elsewhere. Pixels next to every such boundary must see exactly their own window.
    halvora::test::threadCountGuard t(3);
    const int w = 301, h = 20; // 151 block columns: two full strips of 64 and a short one
    const std::vector<uint16_t> plane = texturedPlane(w, h, 11);
    for (bool panorama : {false, true})
        expectMatchesReference(plane, w, h, 16, panorama, true);

    const int wideW = 601, wideH = 14; // 301 block columns: strips of 128, 128 and 45
    const std::vector<uint16_t> wide = texturedPlane(wideW, wideH, 12);
    for (bool panorama : {false, true}) {
        const std::vector<uint16_t> out = runFilter(wide, wideW, wideH, 260, panorama, false);
        for (int x = 0; x < wideW; ++x) {
            const int block = x / 2;
            const bool nearSeam = block % 64 <= 1 || block % 64 >= 62 || x < 4 || x >= wideW - 4 ||
                                  block == 100 || block == 101 || block == 150 || block == 151;
            if (!nearSeam) continue;
            for (int y = 0; y < wideH; ++y)
                ASSERT_EQ(out[size_t(y) * wideW + x],
                          referenceRank(wide, wideW, wideH, x, y, 260, panorama, false))
                    << "at " << x << "," << y << " panorama=" << panorama;
        }
    }
}

TEST(localContrastFilter, hugeWindowCountsStayExact) {
    // A panorama window of 2 × 2^18 + 1 sampled columns on a picture 3 sampled columns wide holds
    // every column 174763 times, and all 270 sampled rows: 141 million samples, beyond what the
    // filter's 32-bit tables hold, so it counts in 64 bits. Every count scales alike, so the ranks are
    // those of the whole picture taken once.
    const int w = 6, h = 540;
    // Textured, and one where two thirds of the samples share the value 1023 (the top of its 64-value
    // bin, where Σ count × value offset within the bin is largest) and the rest, 930, rank against them.
    std::vector<uint16_t> crowded(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            crowded[size_t(y) * w + x] = (x + y) % 3 == 0 ? 930 : 1023;
    for (const std::vector<uint16_t>& plane : {texturedPlane(w, h, 13), crowded}) {
        const std::vector<uint16_t> huge = runFilter(plane, w, h, 1 << 19, true, false);
        expectMatchesReference(plane, w, h, 600, false, false);
        EXPECT_EQ(huge, runFilter(plane, w, h, 600, false, false));
    }
}
