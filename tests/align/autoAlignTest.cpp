// Automatic alignment end to end on real photographs and generated scenes: identical photos, known
// camera motions with an exposure change, pictures too small for a pyramid, featureless pictures,
// the estimator on matches with outliers, determinism and thread-count independence, and applying
// the transforms through the worker's callbacks.

#include "align/autoAlign.h"
#include "align/alignTestSupport.h"
#include "base/parallelFor.h"
#include "base/runContext.h"
#include "support/testSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace halvora;
using aligntest::matrix3;

namespace {

const rgb16Buffer& deskPhoto() {
    static const rgb16Buffer photo =
        aligntest::loadPhoto(test::dataFile("brackets/desk_canon_s45_13exp/img05.jpg"));
    return photo;
}

/// The identity as a 3 × 3 matrix, to measure a transform against "no motion".
const matrix3 kStill{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

} // namespace

TEST(autoAlign, identicalPhotosGiveTheIdentity) {
    HALVORA_REQUIRE_DATA();
    const rgb16Buffer& photo = deskPhoto();
    ASSERT_FALSE(photo.empty());
    test::logCapture log;
    autoAlignRequest request = aligntest::requestFor({&photo, &photo, &photo}, 1, {0, 0, 0});
    autoAlignResult result;
    QString error;
    ASSERT_TRUE(autoAlign(request, result, &error)) << qPrintable(error);
    for (int i : {0, 2}) {
        EXPECT_TRUE(result.aligned[size_t(i)]);
        EXPECT_LT(aligntest::cornerError(result.transforms[size_t(i)], kStill, photo.width, photo.height),
                  0.05);
    }
    EXPECT_TRUE(result.transforms[1].isIdentity());
    for (const char* line :
         {"- auto align: init...\n", "- auto align: step 1...\n", "- auto align: step 2 (toAlign=-1)...\n",
          "- auto align: step 3...\n", "- auto align: step 4...\n", "0: ox=0, oy=0\n", "2: ox=0, oy=0\n"})
        EXPECT_TRUE(log.contains(line)) << line << log.text();
    EXPECT_TRUE(log.contains("maxc = ")) << log.text();
}

TEST(autoAlign, aKnownCameraMotionOfARealPhotoIsRecovered) {
    HALVORA_REQUIRE_DATA();
    // Moved by (−23.4, 11.7) pixels, turned 1.3°, tilted 0.5 %, and two stops darker through the sRGB
    // curve; the photo is what such a camera records, the reference the same scene unmoved.
    rgb16Buffer reference, photo;
    const matrix3 motion = aligntest::cameraMotion(824, 568, -23.4, 11.7, 1.3, 0.005);
    aligntest::makeWarpedPair(deskPhoto(), 100, motion, -2, reference, photo);
    autoAlignRequest request = aligntest::requestFor({&reference, &photo}, 0, {0, -2});
    autoAlignResult result;
    QString error;
    ASSERT_TRUE(autoAlign(request, result, &error)) << qPrintable(error);
    EXPECT_LT(aligntest::cornerError(result.transforms[1], motion, 824, 568), 0.5);

    // The best pin set found for manual alignment is one the transform agrees with.
    ASSERT_TRUE(result.pinsFound[1]);
    for (int k = 0; k < 4; ++k) {
        const alignPoint q =
            result.transforms[1].map(result.pins[1].reference[k].x, result.pins[1].reference[k].y);
        EXPECT_LT(std::hypot(q.x - result.pins[1].photo[k].x, q.y - result.pins[1].photo[k].y), 1.5) << k;
    }
}

TEST(autoAlign, sameResultEveryRunAndForAnyThreadCount) {
    test::threadCountGuard guard;
    const rgb16Buffer scene = aligntest::texturedScene(700, 460, 21);
    rgb16Buffer reference, photo;
    aligntest::makeWarpedPair(scene, 50, aligntest::cameraMotion(600, 360, 7.3, -4.1, -0.8, 0.01), 1,
                              reference, photo);
    std::vector<alignTransform> runs;
    for (const int threads : {1, 4, 4, 2}) {
        setThreadCountOverride(threads);
        autoAlignResult result;
        ASSERT_TRUE(autoAlign(aligntest::requestFor({&reference, &photo}, 0, {0, 1}), result, nullptr));
        runs.push_back(result.transforms[1]);
    }
    for (size_t r = 1; r < runs.size(); ++r)
        EXPECT_EQ(std::memcmp(runs[0].a, runs[r].a, sizeof runs[0].a), 0) << "run " << r;
}

TEST(autoAlign, picturesTooSmallForAPyramidAlignOnFullSize) {
    // 160 × 120 has a one-level pyramid (120 halves once to 60): matching must stay on level 0.
    const rgb16Buffer scene = aligntest::texturedScene(180, 140, 8);
    rgb16Buffer reference, photo;
    const matrix3 motion = aligntest::cameraMotion(160, 120, 3, -2, 0, 0);
    aligntest::makeWarpedPair(scene, 10, motion, 0, reference, photo);
    autoAlignResult result;
    QString error;
    ASSERT_TRUE(autoAlign(aligntest::requestFor({&reference, &photo}, 0, {0, 0}), result, &error))
        << qPrintable(error);
    EXPECT_LT(aligntest::cornerError(result.transforms[1], motion, 160, 120), 0.5);

    // 40 × 30 (already below 64): whatever it finds, it ends cleanly.
    const rgb16Buffer tiny = aligntest::texturedScene(40, 30, 9);
    error.clear();
    if (autoAlign(aligntest::requestFor({&tiny, &tiny}, 0, {0, 0}), result, &error))
        EXPECT_LT(aligntest::cornerError(result.transforms[1], kStill, 40, 30), 0.5);
    else
        EXPECT_FALSE(error.isEmpty());
}

TEST(autoAlign, featurelessPicturesAndBadRequestsFailWithAReason) {
    rgb16Buffer flat;
    flat.allocate(320, 240);
    std::fill(flat.pixels(), flat.pixels() + flat.sampleCount(), uint16_t(100 * 128));
    test::logCapture log;
    autoAlignResult result;
    QString error;
    EXPECT_FALSE(autoAlign(aligntest::requestFor({&flat, &flat}, 0, {0, 0}), result, &error));
    EXPECT_TRUE(log.contains("  base corners < 12\n")) << log.text();
    EXPECT_TRUE(error.contains("too few corners")) << qPrintable(error);
    EXPECT_TRUE(result.transforms[1].isIdentity());

    // A photo of another size, and a photo that cannot be read: the reader's reason comes through.
    const rgb16Buffer scene = aligntest::texturedScene(320, 240, 3),
                      other = aligntest::texturedScene(300, 240, 3);
    autoAlignRequest request = aligntest::requestFor({&scene, &other}, 0, {0, 0});
    request.names = {"a.jpg", "b.jpg"};
    error.clear();
    EXPECT_FALSE(autoAlign(request, result, &error));
    EXPECT_TRUE(error.contains("b.jpg") && error.contains("300 × 240")) << qPrintable(error);
    request.readPhoto = [](int, QString* e) -> const rgb16Buffer* {
        *e = "b.tmp: read() failed";
        return nullptr;
    };
    EXPECT_FALSE(autoAlign(request, result, &error));
    EXPECT_EQ(error, "b.tmp: read() failed");
    request = aligntest::requestFor({&scene, &scene}, 5, {0, 0});
    EXPECT_FALSE(autoAlign(request, result, &error));
}

TEST(autoAlign, onlyTheChosenPhotoIsReadAndAligned) {
    const rgb16Buffer scene = aligntest::texturedScene(500, 360, 12);
    rgb16Buffer reference, photo;
    aligntest::makeWarpedPair(scene, 30, aligntest::cameraMotion(440, 300, 2, 1, 0, 0), 0, reference, photo);
    autoAlignRequest request = aligntest::requestFor({&reference, &photo, &photo, &photo}, 0, {0, 0, 0, 0});
    request.toAlign = 2;
    std::vector<int> read;
    const auto inner = request.readPhoto;
    request.readPhoto = [&](int i, QString* e) {
        read.push_back(i);
        return inner(i, e);
    };
    runContext context;
    runContext::scope bound(context);
    autoAlignResult result;
    ASSERT_TRUE(autoAlign(request, result, nullptr));
    EXPECT_EQ(read, (std::vector<int>{0, 2}));
    EXPECT_TRUE(result.transforms[1].isIdentity() && result.transforms[3].isIdentity());
    EXPECT_FALSE(result.transforms[2].isIdentity());
    EXPECT_EQ(context.progressDone(), autoAlignProgressUnits(request));
}

TEST(findTransform, theSearchSeesThroughOutliersAndFailsWithTheRightLine) {
    // 300 corners of a 1200 × 900 picture whose matches follow a known map, every third one thrown
    // far off: the search must settle on the map the two thirds agree on.
    const matrix3 truth = aligntest::cameraMotion(1200, 900, 5.5, -3.25, 0.7, 0.01);
    std::vector<alignCorner> corners;
    std::vector<alignMatch> matches;
    for (int k = 0; k < 300; ++k) {
        const alignCorner c{int32_t(20 + (k * 379) % 1160), int32_t(20 + (k * 211) % 860)};
        alignPoint q = aligntest::apply(truth, c.x, c.y);
        if (k % 3 == 0) q = {q.x + 15 + k % 7, q.y - 9};
        corners.push_back(c);
        matches.push_back({int32_t(std::lround(c.x - q.x)), int32_t(std::lround(c.y - q.y)), q.x, q.y, true});
    }
    findTransform_threadParams_t p;
    p.photoIndex = 1;
    p.width = 1200;
    p.height = 900;
    p.corners = &corners;
    p.matches = &matches;
    p.inlierTolerance = 0.6;
    ASSERT_TRUE(findTransform(p)) << qPrintable(p.reason);
    EXPECT_LT(aligntest::cornerError(p.transform, truth, 1200, 900), 0.01);
    EXPECT_EQ(p.maxInliers, 200);
    ASSERT_EQ(p.logLines.size(), 1u);
    EXPECT_EQ(p.logLines[0].rfind("maxc = 200 / 300, n = ", 0), 0u) << p.logLines[0];

    // The same search again gives the same bits: the generator is seeded by the photo, not the clock.
    findTransform_threadParams_t again = p;
    again.logLines.clear();
    ASSERT_TRUE(findTransform(again));
    EXPECT_EQ(std::memcmp(p.transform.a, again.transform.a, sizeof p.transform.a), 0);

    // Every tile unusable: no pin set can be drawn.
    for (alignMatch& m : matches)
        m.usable = false;
    findTransform_threadParams_t none = p;
    none.logLines.clear();
    EXPECT_FALSE(findTransform(none));
    EXPECT_EQ(none.logLines.back(), "Error! Failed to align images (#2): 0/30\n");
    EXPECT_TRUE(none.transform.isIdentity());

    // Matches that agree on nothing (each thrown its own way): no transform has a tenth of them.
    for (size_t k = 0; k < matches.size(); ++k)
        matches[k] = {0, 0, corners[k].x + 40.0 * std::sin(k * 1.7), corners[k].y + 40.0 * std::cos(k * 2.3),
                      true};
    findTransform_threadParams_t scattered = p;
    scattered.logLines.clear();
    EXPECT_FALSE(findTransform(scattered));
    EXPECT_EQ(scattered.logLines.back().rfind("Error! No matches are good enough (#3): ", 0), 0u);
    EXPECT_TRUE(scattered.reason.contains("30 needed")) << qPrintable(scattered.reason);

    // All corners within a few pixels of each other: no spread-out pin set exists.
    for (size_t k = 0; k < corners.size(); ++k) {
        corners[k] = {int32_t(600 + k % 5), int32_t(450 + k % 3)};
        matches[k] = {0, 0, double(corners[k].x), double(corners[k].y), true};
    }
    findTransform_threadParams_t clustered = p;
    clustered.logLines.clear();
    EXPECT_FALSE(findTransform(clustered));
    EXPECT_EQ(clustered.logLines.back(), "Error! Failed to align images (#1)\n");
}

TEST(applyAlignment, photosAreResampledIntoTheCommonCropAndFailuresComeThrough) {
    const rgb16Buffer a = aligntest::texturedScene(200, 100, 31), b = aligntest::texturedScene(200, 100, 32);
    applyAlignmentRequest apply;
    apply.width = 200;
    apply.height = 100;
    apply.transforms.resize(2);
    apply.transforms[1].a[2] = 10; // photo 1 shows reference x at x + 10
    apply.readPhoto = [&](int i, QString*) { return i == 0 ? &a : &b; };
    std::vector<rgb16Buffer> written(2);
    apply.writePhoto = [&](int i, rgb16Buffer& picture, QString*) {
        written[size_t(i)].allocate(picture.width, picture.height);
        std::memcpy(written[size_t(i)].pixels(), picture.pixels(), picture.byteSize());
        return true;
    };
    test::logCapture log;
    alignCropRect crop;
    QString error;
    runContext context;
    runContext::scope bound(context);
    ASSERT_TRUE(applyAlignmentCrop(apply, crop, &error)) << qPrintable(error);
    ASSERT_TRUE(applyAlignment(apply, crop, &error)) << qPrintable(error);
    EXPECT_TRUE(log.contains("- align: apply...\n"));
    EXPECT_EQ(context.progressDone(), applyAlignmentProgressUnits(apply, crop));
    EXPECT_EQ(crop.left, 0);
    EXPECT_EQ(crop.right, 190);
    ASSERT_EQ(written[1].width, 190);
    EXPECT_EQ(std::memcmp(written[0].pixels(), a.pixels(), 190 * 6), 0); // reference: its own pixels
    EXPECT_EQ(std::memcmp(written[1].pixels(), b.pixels() + 10 * 3, 190 * 6), 0);

    apply.autoCrop = false;
    ASSERT_TRUE(applyAlignmentCrop(apply, crop, &error));
    ASSERT_TRUE(applyAlignment(apply, crop, &error));
    EXPECT_EQ(crop.right, 200);
    EXPECT_EQ(written[1].width, 200);

    // A writer that fails stops the run with its reason; photos with nothing in common fail at the
    // crop, before any photo is read or written.
    apply.writePhoto = [](int, rgb16Buffer&, QString* e) {
        *e = "session: no space left on device";
        return false;
    };
    EXPECT_FALSE(applyAlignment(apply, crop, &error));
    EXPECT_EQ(error, "session: no space left on device");
    apply.autoCrop = true;
    apply.transforms[1].a[2] = 500;
    int reads = 0;
    apply.readPhoto = [&](int, QString*) {
        ++reads;
        return &a;
    };
    EXPECT_FALSE(applyAlignmentCrop(apply, crop, &error));
    EXPECT_TRUE(error.contains("no area in common")) << qPrintable(error);
    EXPECT_EQ(crop.right, 200); // left as it was
    EXPECT_EQ(reads, 0);
}
