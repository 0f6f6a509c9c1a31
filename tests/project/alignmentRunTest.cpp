// Aligning a project's photos: a real tripod bracket cut at known offsets is lined up (transforms,
// common crop, aligned pixels), undo gives back the photos byte for byte, a failure changes nothing,
// and the generation run aligns first (or warns and merges unaligned).

#include "project/alignmentRun.h"
#include "base/runContext.h"
#include "project/alignmentWorker.h"
#include "project/exposureValues.h"
#include "project/generationRun.h"
#include "project/hdrTestSupport.h"
#include "support/testSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QImageReader>
#include <QRegularExpression>
#include <cmath>
#include <gtest/gtest.h>

namespace {

// Cut of the 1024 × 768 tripod frames: every photo is alignW × alignH from its own corner, so photo i shows
// the scene moved by (ox[i], oy[i]) against the first.
constexpr int alignW = 940, alignH = 680;
const int kOx[3] = {40, 12, 71};
const int kOy[3] = {40, 58, 25};
const char* const kFiles[3] = {"img05.jpg", "img07.jpg", "img08.jpg"};
const double kTimes[3] = {1.0, 1 / 3.3, 1 / 4.0};

// A projective-free cut of the scene with the camera's exposure data.
hdrtest::photoData cutPhoto(const QImage& image, int ox, int oy, double time) {
    hdrtest::photoData p;
    p.pixels.resize(size_t(alignW) * alignH * 3);
    for (int y = 0; y < alignH; ++y) {
        const uchar* line = image.constScanLine(y + oy) + size_t(ox) * 3;
        for (int i = 0; i < alignW * 3; ++i)
            p.pixels[size_t(y) * alignW * 3 + size_t(i)] = uint16_t(line[i] * 128);
    }
    p.exposureTime = float(time);
    p.fNumber = 2.8f;
    p.iso = 50;
    return p;
}

std::vector<hdrtest::photoData> deskBracket() {
    std::vector<hdrtest::photoData> photos;
    const QString folder = halvora::test::dataDir() + "/brackets/desk_canon_s45_13exp/";
    for (int i = 0; i < 3; ++i) {
        QImage image = QImageReader(folder + kFiles[i]).read().convertToFormat(QImage::Format_RGB888);
        EXPECT_EQ(image.size(), QSize(1024, 768)) << kFiles[i];
        if (image.size() != QSize(1024, 768)) return {};
        photos.push_back(cutPhoto(image, kOx[i], kOy[i], kTimes[i]));
    }
    return photos;
}

std::unique_ptr<processingProject> alignmentProject(const std::vector<hdrtest::photoData>& photos,
                                                    int w = alignW, int h = alignH) {
    auto project = hdrtest::makeProject();
    EXPECT_TRUE(hdrtest::addPhotos(*project, w, h, photos));
    halvora::chooseEVsAfterLoading(*project);
    return project;
}

std::vector<uint16_t> currentPixels(processingProject& project, int i) {
    std::vector<uint16_t> pixels(size_t(project.width) * project.height * 3);
    EXPECT_TRUE(project.readFromTempFile(*project.photos[size_t(i)], photoEntry::slotCurrent, pixels.data(),
                                         pixels.size() * 2));
    return pixels;
}

struct runResult {
    int ends = 0;
    bool ok = false;
    QString error;
};

runResult runToEnd(alignmentRun& run, const std::function<bool()>& start) {
    runResult r;
    QObject::connect(&run, &projectRun::finished, [&r](bool ok, const QString& e) {
        ++r.ends;
        r.ok = ok;
        r.error = e;
    });
    EXPECT_TRUE(start());
    EXPECT_TRUE(hdrtest::waitForRun(run));
    return r;
}

// Mean absolute difference of the grey levels of two pictures of the same size over a window that
// leaves out `margin` pixels at every edge.
double meanGreyDifference(const std::vector<uint16_t>& a, const std::vector<uint16_t>& b, int w, int h,
                          int margin) {
    double sum = 0;
    int64_t count = 0;
    for (int y = margin; y < h - margin; ++y)
        for (int x = margin; x < w - margin; ++x) {
            const size_t i = (size_t(y) * w + x) * 3;
            sum += std::abs((a[i] + a[i + 1] + a[i + 2]) - (b[i] + b[i + 1] + b[i + 2])) / 3.0 / 128.0;
            ++count;
        }
    return count ? sum / double(count) : 0;
}

} // namespace

TEST(alignmentRun, tripodBracketCutAtKnownOffsetsLinesUpAndUndoGivesTheBytesBack) {
    HALVORA_REQUIRE_DATA();
    const auto photos = deskBracket();
    ASSERT_EQ(photos.size(), 3u);
    auto project = alignmentProject(photos);
    const int ref = project->midId;
    std::vector<QImage> thumbnails;
    std::vector<std::vector<uint16_t>> previews;
    for (const auto& p : project->photos) {
        thumbnails.push_back(p->thumbnail);
        previews.emplace_back(p->preview.pixels(), p->preview.pixels() + p->preview.sampleCount());
    }

    alignmentRun run(*project, runSettings{});
    halvora::test::logCapture log;
    const runResult r = runToEnd(run, [&] { return run.startAutomatic(ref, true); });
    ASSERT_EQ(r.ends, 1);
    ASSERT_TRUE(r.ok) << qPrintable(r.error);
    EXPECT_TRUE(project->aligned);
    EXPECT_TRUE(log.contains("- align: apply...\n"));

    // Reference position (x, y) shows the scene point that photo i holds at (x + oxr − oxi, …).
    for (int i = 0; i < 3; ++i) {
        const halvora::alignTransform& t = run.transforms()[size_t(i)];
        for (const auto& [x, y] : {std::pair{0.0, 0.0},
                                   {double(alignW - 1), 0.0},
                                   {0.0, double(alignH - 1)},
                                   {alignW - 1.0, alignH - 1.0}}) {
            const halvora::alignPoint p = t.map(x, y);
            EXPECT_NEAR(p.x, x + kOx[ref] - kOx[i], 0.5) << "photo " << i;
            EXPECT_NEAR(p.y, y + kOy[ref] - kOy[i], 0.5) << "photo " << i;
        }
    }
    // The common area of the three cuts: the full size less the spread of the offsets (a rectangle
    // with fractional edges loses at most one more row or column).
    const int spanX = 71 - 12, spanY = 58 - 25;
    EXPECT_LE(project->width, alignW - spanX);
    EXPECT_GE(project->width, alignW - spanX - 2);
    EXPECT_LE(project->height, alignH - spanY);
    EXPECT_GE(project->height, alignH - spanY - 2);
    EXPECT_EQ(project->unalignedWidth, alignW);
    EXPECT_EQ(project->unalignedHeight, alignH);
    for (const auto& p : project->photos) {
        EXPECT_EQ(p->preview.width, project->previewWidth);
        EXPECT_EQ(p->preview.height, project->previewHeight);
        EXPECT_EQ(p->tempFiles[photoEntry::slotCurrent]->size(), qint64(project->photoBytes()));
    }

    // After alignment the same exposure-free scene lies under every pixel: two photos of similar
    // exposure (img07, img08: 1/3.3 s and 1/4 s) differ by little more than their brightness, much
    // less than the unaligned cuts did.
    const auto a7 = currentPixels(*project, 1), a8 = currentPixels(*project, 2);
    const double aligned = meanGreyDifference(a7, a8, project->width, project->height, 2);
    const double unaligned = meanGreyDifference(photos[1].pixels, photos[2].pixels, alignW, alignH, 2);
    EXPECT_LT(aligned, 0.35 * unaligned) << aligned << " vs " << unaligned;

    // Undo: the photos' files hold the original samples again, at the original size.
    alignmentRun undo(*project, runSettings{});
    const runResult u = runToEnd(undo, [&] { return undo.startUndo(); });
    ASSERT_TRUE(u.ok) << qPrintable(u.error);
    EXPECT_TRUE(log.contains("Undoing alignment...\n"));
    EXPECT_FALSE(project->aligned);
    ASSERT_EQ(project->width, alignW);
    ASSERT_EQ(project->height, alignH);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(currentPixels(*project, i) == photos[size_t(i)].pixels) << "photo " << i;
        const photoEntry& p = *project->photos[size_t(i)];
        EXPECT_FALSE(p.tempFiles[photoEntry::slotBeforeAlign]);
        ASSERT_EQ(p.preview.sampleCount(), previews[size_t(i)].size());
        EXPECT_TRUE(std::equal(previews[size_t(i)].begin(), previews[size_t(i)].end(), p.preview.pixels()));
        EXPECT_EQ(p.thumbnail, thumbnails[size_t(i)]);
    }
    EXPECT_FALSE(alignmentWorker::canUndo(*project));
}

TEST(alignmentRun, failuresLeaveEveryPhotoAndTheSizeAsTheyWere) {
    // A featureless bracket: no corners to match.
    std::vector<hdrtest::photoData> flat(3);
    for (int i = 0; i < 3; ++i) {
        flat[size_t(i)].pixels.assign(size_t(200) * 150 * 3, uint16_t(128 * (60 + 50 * i)));
        flat[size_t(i)].exposureTime = float(std::ldexp(1.0, i) / 100);
        flat[size_t(i)].fNumber = 4;
        flat[size_t(i)].iso = 100;
    }
    auto project = alignmentProject(flat, 200, 150);
    {
        alignmentRun run(*project, runSettings{});
        halvora::test::logCapture log;
        const runResult r = runToEnd(run, [&] { return run.startAutomatic(project->midId, true); });
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(log.contains("  base corners < 12\n"));
        EXPECT_FALSE(r.error.isEmpty());
        EXPECT_FALSE(project->aligned);
        EXPECT_FALSE(alignmentWorker::canUndo(*project));
    }
    // A photo whose working copy is gone: apply stops at it, and the photos already resampled keep
    // their old files and the project its size (nothing half-applied).
    project->photos[2]->tempFiles[photoEntry::slotCurrent].reset();
    const QString firstFile = project->photos[0]->tempFiles[photoEntry::slotCurrent]->fileName();
    std::vector<halvora::alignTransform> shifted(3);
    shifted[0].a[2] = 10; // crop would shrink the width to 190
    alignmentRun run(*project, runSettings{});
    const runResult r = runToEnd(run, [&] { return run.startApply(shifted, halvora::alignShift, true); });
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains("cannot be read")) << qPrintable(r.error);
    EXPECT_EQ(project->width, 200);
    EXPECT_EQ(project->photos[0]->tempFiles[photoEntry::slotCurrent]->fileName(), firstFile);
    EXPECT_FALSE(project->photos[0]->tempFiles[photoEntry::slotBeforeAlign]);
    EXPECT_FALSE(project->aligned);
    EXPECT_TRUE(currentPixels(*project, 0) == flat[0].pixels);

    // Nothing to undo is refused with a reason.
    alignmentRun undo(*project, runSettings{});
    const runResult u = runToEnd(undo, [&] { return undo.startUndo(); });
    EXPECT_FALSE(u.ok);
    EXPECT_TRUE(u.error.contains("no unaligned copies")) << qPrintable(u.error);
}

TEST(alignmentRun, generationAlignsFirstOnceAndMergesUnalignedWhenAlignmentFails) {
    HALVORA_REQUIRE_DATA();
    const auto photos = deskBracket();
    ASSERT_EQ(photos.size(), 3u);
    for (bool featureless : {false, true}) {
        std::vector<hdrtest::photoData> input = photos;
        if (featureless)
            for (auto& p : input)
                std::fill(p.pixels.begin(), p.pixels.end(), uint16_t(128 * 100));
        auto project = alignmentProject(input);
        genHDR_options o;
        o.autoAlign = true;
        o.ghostRemoval = false;
        o.noiseFilter = false;
        for (int pass = 0; pass < 2; ++pass) {
            generationRun run(project.get(), o, false, true);
            QStringList logs;
            int changes = 0;
            bool ok = false;
            QObject::connect(&run, &generationRun::logLine, [&](int, const QString& t) { logs << t; });
            QObject::connect(&run, &generationRun::photosChanged, [&] { ++changes; });
            QObject::connect(&run, &generationRun::finished, [&](bool r, const QString&) { ok = r; });
            run.start();
            ASSERT_TRUE(hdrtest::waitForRun(run));
            EXPECT_TRUE(ok) << featureless << " " << qPrintable(logs.join(" | "));
            EXPECT_TRUE(project->hdrPresent);
            // The second generation finds the photos aligned (or, after a failure, tries again).
            const bool aligns = pass == 0 || featureless;
            EXPECT_EQ(logs.contains("Auto alignment..."), aligns) << pass;
            EXPECT_EQ(changes, aligns && !featureless ? 1 : 0);
            EXPECT_EQ(project->aligned, !featureless);
            EXPECT_EQ(logs.filter("Most probably the alignment failed").size(), featureless ? 1 : 0);
            if (!featureless) {
                EXPECT_LT(project->width, alignW);
            }
        }
    }
}
