// The merge kernel on hand-made chunks: weighted True HDR, the fallbacks for pixels no photo weighs,
// the anti-ghosting blend with and without repair, Smart Merge, Stack, extremes, progress and
// cancellation, hostile samples, and the same picture whatever the chunks are.

#include "hdr/exposureMerge.h"
#include "base/rgbBuffers.h"
#include "base/runContext.h"
#include "support/testSupport.h"

#include <QImage>
#include <cfloat>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using namespace halvora;

namespace {

constexpr int kTable = 32640;

std::vector<double> constantTable(double v) {
    return std::vector<double>(kTable, v);
}

// Response curves that tell the channels apart: R(x) = x, G(x) = 2x, B(x) = 3x.
struct curves {
    std::vector<double> c[3];
    curves() {
        for (int ch = 0; ch < 3; ++ch) {
            c[ch].resize(kTable);
            for (int x = 0; x < kTable; ++x)
                c[ch][size_t(x)] = double(x) * (ch + 1);
        }
    }
};

// A merge of `n` photos with weight 1 everywhere, exposures 1 and wide limits.
struct mergeSetup {
    curves curve;
    std::vector<std::vector<double>> weights;
    std::vector<double> bright = constantTable(0.0), dark = constantTable(0.0), balanced = constantTable(1.0);
    exposureMergeInputs_t in;

    mergeSetup(int n, int method = mergeTrueHDR) : weights(size_t(n), constantTable(1.0)) {
        in.method = method;
        in.photoCount = n;
        for (int i = 0; i < n; ++i) {
            in.invExposure[i] = 1.0;
            in.lnExposure[i] = 0.0;
            in.ghostExposure[i] = 1.0;
            in.lowLimit[i] = 0;
            in.highLimit[i] = kTable - 1;
        }
        for (int ch = 0; ch < 3; ++ch)
            in.responseCurve[ch] = curve.c[ch].data();
    }
    /// The inputs, pointing at the tables as they are now (a test may have replaced one).
    const exposureMergeInputs_t& inputs() {
        for (int i = 0; i < in.photoCount; ++i)
            in.weightTable[i] = weights[size_t(i)].data();
        in.closenessBright = bright.data();
        in.closenessDark = dark.data();
        in.inconsistencyWeight = balanced.data();
        return in;
    }
};

// One chunk over `pixels` (photo after photo, each pixels.size() / n samples) into `out`.
struct chunk {
    std::vector<std::vector<uint16_t>> samples;
    std::vector<std::vector<uint16_t>> maps;
    std::vector<std::vector<uint8_t>> ghost;
    std::vector<float> out;
    HDRgeneration_threadParams_t p;

    chunk(const exposureMergeInputs_t& in, std::vector<std::vector<uint16_t>> photoSamples, int width = 1000)
        : samples(std::move(photoSamples)) {
        const int pixels = int(samples[0].size() / 3);
        out.assign(size_t(pixels) * 3, -1.0f);
        p.inputs = &in;
        p.pixelCount = pixels;
        p.width = width;
        p.output = out.data();
        for (size_t i = 0; i < samples.size(); ++i)
            p.pixels[i] = samples[i].data();
    }
    void setMaps(std::vector<std::vector<uint16_t>> m) {
        maps = std::move(m);
        for (size_t i = 0; i < maps.size(); ++i)
            p.smartMergeMask[i] = maps[i].data();
    }
    void setGhost(size_t photo, std::vector<uint8_t> weights) {
        ghost.resize(samples.size());
        ghost[photo] = std::move(weights);
        p.antiGhostMask[photo] = ghost[photo].data();
    }
    void run() { HDRgeneration(p); }
};

TEST(exposureMerge, trueHdrIsTheWeightedMeanOfLinearisedSamples) {
    mergeSetup s(2);
    s.weights[0] = constantTable(0.75);
    s.weights[1] = constantTable(0.25);
    s.in.invExposure[1] = 0.25;
    // Photo 1 is four times as exposed: linearised, both see 1000, 2000 × 2, 3000 × 3.
    chunk c(s.inputs(), {{1000, 2000, 3000}, {4000, 8000, 12000}});
    c.run();
    EXPECT_DOUBLE_EQ(c.out[0], 1000.0);
    EXPECT_DOUBLE_EQ(c.out[1], 4000.0);
    EXPECT_DOUBLE_EQ(c.out[2], 9000.0);
    EXPECT_EQ(c.p.minValue, 1000.0);
    EXPECT_EQ(c.p.maxValue, 9000.0);

    // The weight is looked up at the integer mean of the three samples: (1000 + 2000 + 3002) / 3
    // = 2000.67 reads entry 2000.
    s.weights[0] = constantTable(0.0);
    s.weights[0][2000] = 0.5;
    s.weights[0][2001] = 0.9;
    s.weights[1] = constantTable(0.0);
    s.weights[1][8000] = 0.5; // (4000 + 8000 + 12000) / 3
    chunk d(s.inputs(), {{1000, 2000, 3002}, {4000, 8000, 12000}});
    d.run();
    EXPECT_DOUBLE_EQ(d.out[0], (0.5 * 1000 + 0.5 * 4000 * 0.25) / 1.0);
    EXPECT_DOUBLE_EQ(d.out[2], (0.5 * 3 * 3002 + 0.5 * 3 * 12000 * 0.25) / 1.0);
}

TEST(exposureMerge, withoutAnyWeightTheBrightestUnderexposedElseTheDarkestOverexposedPhoto) {
    mergeSetup s(3);
    const double ln[3] = {-1.0, 0.0, 1.0}; // photo 2 is the brightest exposure
    for (int i = 0; i < 3; ++i) {
        s.weights[size_t(i)] = constantTable(0.0);
        s.in.lnExposure[i] = ln[i];
        s.in.invExposure[i] = std::exp(-ln[i]);
        s.in.lowLimit[i] = 1000;
        s.in.highLimit[i] = 30000;
    }
    // Pixel 0: photos 0 and 1 under-exposed, photo 2 over-exposed → photo 1.
    // Pixel 1: every photo over-exposed (one channel is enough) → photo 0.
    // Pixel 2: every photo well exposed, still no weight → black.
    // Pixel 3: samples above full scale read the last table entry.
    chunk c(s.inputs(), {{100, 200, 300, 31000, 5, 5, 5000, 5000, 5000, 40000, 0, 0},
                         {500, 600, 900, 5, 31000, 5, 5000, 5000, 5000, 40000, 0, 0},
                         {32000, 32000, 32000, 5, 5, 31000, 5000, 5000, 5000, 40000, 0, 0}});
    c.run();
    EXPECT_DOUBLE_EQ(c.out[0], 500.0 * std::exp(0.0));
    EXPECT_DOUBLE_EQ(c.out[1], 2.0 * 600.0);
    EXPECT_DOUBLE_EQ(c.out[2], 3.0 * 900.0);
    EXPECT_FLOAT_EQ(c.out[3], float(31000.0 * std::exp(1.0)));
    EXPECT_FLOAT_EQ(c.out[4], float(2.0 * 5.0 * std::exp(1.0)));
    EXPECT_EQ(c.out[6], 0.0f);
    EXPECT_EQ(c.out[8], 0.0f);
    // Over-exposed everywhere (40000 > 30000): the darkest photo 0, at the clamped sample 32639.
    EXPECT_FLOAT_EQ(c.out[9], float(32639.0 * std::exp(1.0)));
}

TEST(exposureMerge, ghostWeightsReplaceTheMeanAndAreScaledTo255) {
    mergeSetup s(2);
    s.in.ghostRemoval = true;
    // Linearised R: photo 0 sees 1000, photo 1 sees 3000; the normal mean is 2000.
    chunk c(s.inputs(), {{1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000},
                         {3000, 3000, 3000, 3000, 3000, 3000, 3000, 3000, 3000}});
    c.setGhost(0, {255, 200, 0});
    c.setGhost(1, {0, 200, 0});
    c.run();
    EXPECT_DOUBLE_EQ(c.out[0], 1000.0);                // photo 0 alone
    EXPECT_DOUBLE_EQ(c.out[3], (1000.0 + 3000.0) / 2); // 400 > 255: both scaled to 127.5
    EXPECT_DOUBLE_EQ(c.out[5], 3.0 * (1000.0 + 3000.0) / 2);
    EXPECT_DOUBLE_EQ(c.out[6], 2000.0); // no weight here: the normal mean

    // Weight 100 on photo 0: 100/255 of it and 155/255 of the normal mean.
    chunk d(s.inputs(), {{1000, 1000, 1000}, {3000, 3000, 3000}});
    d.setGhost(0, {100});
    d.run();
    EXPECT_NEAR(d.out[0], (100.0 * 1000.0 + 155.0 * 2000.0) / 255.0, 1e-6 * 2000);

    // Without ghost removal the weights are ignored.
    s.in.ghostRemoval = false;
    chunk e(s.inputs(), {{1000, 1000, 1000}, {3000, 3000, 3000}});
    e.setGhost(0, {255});
    e.run();
    EXPECT_DOUBLE_EQ(e.out[0], 2000.0);
}

TEST(exposureMerge, repairBlendsAClippedGhostPhotoTowardsTheMeanUnlessThePhotosDisagree) {
    // Photo 0 (sample 8000) is chosen for a ghost region and counts as near clipping (d = 0.4);
    // photo 1 (sample 16000) is not. Both are merged with the same exposure, so the normal mean is
    // 12000.
    mergeSetup s(2);
    s.in.ghostRemoval = true;
    s.in.repair = true;
    s.bright[8000] = 0.4;
    // The inconsistency measure sees photo 1 twice as exposed as photo 0: √(8000 / 1) and
    // √(16000 / 2) agree, so the photos are consistent (g = 0, t = 0) and the clipped photo is
    // blended: 0.6 × 8000 + 0.4 × 12000.
    s.in.ghostExposure[1] = 2.0;
    s.in.lnExposure[1] = std::log(2.0);
    chunk c(s.inputs(), {{8000, 8000, 8000}, {16000, 16000, 16000}});
    c.setGhost(0, {255});
    c.run();
    EXPECT_NEAR(c.out[0], 0.6 * 8000 + 0.4 * 12000, 1e-6 * 9600);
    EXPECT_NEAR(c.out[1], 2 * (0.6 * 8000 + 0.4 * 12000), 1e-6 * 19200);

    // The same exposure for the measure: √8000 against √16000 disagree by far more than the
    // blend allows (t = 1), so the photo is kept as it is.
    s.in.ghostExposure[1] = 1.0;
    s.in.lnExposure[1] = 0.0;
    chunk d(s.inputs(), {{8000, 8000, 8000}, {16000, 16000, 16000}});
    d.setGhost(0, {255});
    d.run();
    EXPECT_NEAR(d.out[0], 8000.0, 1e-6 * 8000);

    // Without repair the photo is taken as it is, consistent or not.
    s.in.repair = false;
    s.in.ghostExposure[1] = 2.0;
    chunk e(s.inputs(), {{8000, 8000, 8000}, {16000, 16000, 16000}});
    e.setGhost(0, {255});
    e.run();
    EXPECT_NEAR(e.out[0], 8000.0, 1e-6 * 8000);
}

TEST(exposureMerge, smartMergeWeightsByTheMapWithOffsetAndStackAverages) {
    mergeSetup s(2, mergeSmartMerge);
    s.weights[0] = constantTable(0.0);
    s.weights[1] = constantTable(0.0);
    s.weights[0][100] = 0.3;
    s.weights[1][200] = 0.95;
    s.weights[1][32639] = 0.5; // a map value above full scale reads the last entry
    s.in.smartMergeOffset = 0.1;
    chunk c(s.inputs(),
            {{1000, 2000, 3000, 1000, 2000, 3000, 7, 8, 9}, {5000, 6000, 7000, 5000, 6000, 7000, 1, 2, 3}});
    c.setMaps({{100, 100, 50}, {200, 40000, 50}});
    c.run();
    // Pixel 0: weights 0.4 and 1 (0.95 + 0.1 clamped); raw samples, no curve.
    EXPECT_NEAR(c.out[0], (0.4 * 1000 + 1.0 * 5000) / 1.4, 1e-6 * 5000);
    EXPECT_NEAR(c.out[2], (0.4 * 3000 + 1.0 * 7000) / 1.4, 1e-6 * 7000);
    // Pixel 1: weights 0.4 and 0.6.
    EXPECT_NEAR(c.out[3], (0.4 * 1000 + 0.6 * 5000) / 1.0, 1e-6 * 5000);
    // Pixel 2: weights 0.1 each.
    EXPECT_NEAR(c.out[6], (7.0 + 1.0) / 2, 1e-12);

    // A negative offset can take every weight to 0: the plain mean.
    s.in.smartMergeOffset = -1.0;
    chunk d(s.inputs(), {{1000, 2000, 3000}, {5000, 6000, 7000}});
    d.setMaps({{100}, {200}});
    d.run();
    EXPECT_DOUBLE_EQ(d.out[0], 3000.0);
    EXPECT_DOUBLE_EQ(d.out[2], 5000.0);

    mergeSetup t(3, mergeStack);
    chunk e(t.inputs(), {{1, 2, 40000}, {2, 4, 32640}, {6, 9, 0}});
    e.run();
    EXPECT_DOUBLE_EQ(e.out[0], 3.0);
    EXPECT_DOUBLE_EQ(e.out[1], 5.0);
    EXPECT_FLOAT_EQ(e.out[2], float((32639.0 + 32639.0 + 0.0) / 3));
    EXPECT_EQ(e.p.minValue, 3.0);
    EXPECT_EQ(e.p.maxValue, float((32639.0 + 32639.0) / 3));
}

TEST(exposureMerge, hugeValuesStayFiniteAndEmptyChunksKeepTheStartExtremes) {
    mergeSetup s(1);
    std::vector<double> huge(kTable, 1e300);
    for (int ch = 0; ch < 3; ++ch)
        s.in.responseCurve[ch] = huge.data();
    s.in.invExposure[0] = 1e10;
    chunk c(s.inputs(), {{10, 20, 30}});
    c.run();
    EXPECT_EQ(c.out[0], FLT_MAX);
    EXPECT_EQ(c.p.maxValue, double(FLT_MAX));

    mergeSetup t(2);
    chunk e(t.inputs(), {{1, 2, 3}, {1, 2, 3}});
    e.p.pixelCount = 0;
    e.run();
    EXPECT_EQ(e.out[0], -1.0f);
    EXPECT_EQ(e.p.minValue, 9000000000.0);
    EXPECT_EQ(e.p.maxValue, 0.0);
}

TEST(exposureMerge, progressPerRowAndCancellation) {
    mergeSetup s(1, mergeStack);
    std::vector<uint16_t> samples(30, 100);
    {
        runContext run(1);
        runContext::scope bind(run);
        chunk c(s.inputs(), {samples}, 4); // 10 pixels of rows of 4: rows start at pixels 0, 4 and 8
        c.run();
        EXPECT_EQ(run.progressDone(), 30u);
        EXPECT_EQ(c.out[27], 100.0f);
    }
    for (int method : {mergeTrueHDR, mergeSmartMerge, mergeStack}) {
        mergeSetup m(1, method);
        runContext run(1);
        runContext::scope bind(run);
        run.cancel();
        chunk c(m.inputs(), {samples}, 4);
        c.setMaps({std::vector<uint16_t>(10, 0)});
        c.run();
        EXPECT_EQ(c.out[0], -1.0f) << method << ": a cancelled run writes nothing";
        EXPECT_EQ(c.p.minValue, 9000000000.0);
    }
}

// The merge of a real bracket (the three frames of ghost_horse_3exp) as one chunk and as chunks of
// odd sizes: the pixels and the extremes do not depend on where the chunks end.
TEST(exposureMerge, sameResultWhateverTheChunks) {
    HALVORA_REQUIRE_DATA();
    std::vector<std::vector<uint16_t>> photos;
    int w = 0, h = 0;
    for (const char* name : {"1.png", "2.png", "3.png"}) {
        QImage image(test::dataFile(QString("brackets/ghost_horse_3exp/") + name));
        ASSERT_FALSE(image.isNull()) << name;
        image = image.convertToFormat(QImage::Format_RGB888);
        w = image.width();
        h = image.height();
        std::vector<uint16_t> samples(size_t(w) * h * 3);
        for (int y = 0; y < h; ++y)
            for (int i = 0; i < w * 3; ++i)
                samples[size_t(y) * w * 3 + i] = uint16_t(image.constScanLine(y)[i] * 128);
        photos.push_back(std::move(samples));
    }
    const size_t pixels = size_t(w) * h;
    std::vector<uint8_t> ghost(pixels), other(pixels);
    std::vector<uint16_t> maps[3];
    for (size_t i = 0; i < pixels; ++i) {
        ghost[i] = uint8_t(i % 7 == 0 ? 255 : (i % 11 == 0 ? 90 : 0));
        other[i] = uint8_t(i % 5 == 0 ? 200 : 0);
        for (int k = 0; k < 3; ++k)
            maps[k].push_back(uint16_t(photos[size_t(k)][i * 3 + 1]));
    }
    for (int method : {mergeTrueHDR, mergeSmartMerge, mergeStack}) {
        mergeSetup s(3, method);
        s.in.ghostRemoval = method == mergeTrueHDR;
        s.in.repair = true;
        s.in.smartMergeOffset = 0.2;
        for (int k = 0; k < 3; ++k) {
            s.in.invExposure[k] = std::exp2(-k);
            s.in.lnExposure[k] = k * std::log(2.0);
            s.in.ghostExposure[k] = std::exp2(k);
            s.in.lowLimit[k] = 1200;
            s.in.highLimit[k] = 31000;
            for (int x = 0; x < kTable; ++x) // a tent per photo, 0 at its ends
                s.weights[size_t(k)][size_t(x)] =
                    std::max(0.0, 1.0 - std::fabs(x - 8000.0 * (k + 1)) / 9000.0);
        }
        for (int x = 0; x < kTable; ++x) {
            s.bright[size_t(x)] = x > 31000 ? 1.0 : 0.0;
            s.dark[size_t(x)] = x < 500 ? 1.0 : 0.0;
        }
        std::vector<float> result[2];
        double extremes[2][2];
        for (int split = 0; split < 2; ++split) {
            result[split].assign(pixels * 3, -1.0f);
            extremes[split][0] = 9000000000.0;
            extremes[split][1] = 0;
            const size_t step = split == 0 ? pixels : 65537;
            for (size_t first = 0; first < pixels; first += step) {
                HDRgeneration_threadParams_t p;
                p.inputs = &s.inputs();
                p.firstPixel = int32_t(first);
                p.pixelCount = int32_t(std::min(step, pixels - first));
                p.width = w;
                p.output = result[split].data() + first * 3;
                for (int k = 0; k < 3; ++k) {
                    p.pixels[k] = photos[size_t(k)].data() + first * 3;
                    p.smartMergeMask[k] = maps[k].data() + first;
                }
                p.antiGhostMask[0] = ghost.data() + first;
                p.antiGhostMask[2] = other.data() + first;
                HDRgeneration(p);
                extremes[split][0] = std::min(extremes[split][0], p.minValue);
                extremes[split][1] = std::max(extremes[split][1], p.maxValue);
            }
        }
        EXPECT_TRUE(result[0] == result[1]) << method;
        EXPECT_EQ(extremes[0][0], extremes[1][0]) << method;
        EXPECT_EQ(extremes[0][1], extremes[1][1]) << method;
        EXPECT_GT(extremes[0][1], extremes[0][0]) << method;
        for (float v : result[0])
            ASSERT_TRUE(std::isfinite(v) && v >= 0.0f) << method;
    }
}

} // namespace
