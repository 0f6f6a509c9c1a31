// The full-size save of a real night bracket made the fast way (tone mapping in bands, each finished
// band encoded by the streaming JPEG writer while the next is tone-mapped) against the plain way kept
// as the reference (the whole picture tone-mapped first, then encoded by Qt's own JPEG writer): the
// decoded pictures agree within one code value on 99.9 % of the samples and never by more than 3, and
// the fast way gives the same file whatever the number of threads.

#include "base/parallelFor.h"
#include "base/runContext.h"
#include "imageio/saveResultWorker.h"
#include "project/exposureValues.h"
#include "project/generateHDRworker.h"
#include "project/hdrTestSupport.h"
#include "project/toneMappingPreprocessWorker.h"
#include "support/testSupport.h"
#include "tonemap/rebuildOnChange.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

struct bandedSave : ::testing::Test {
    std::unique_ptr<processingProject> project;
    QString dir;

    // Merges, prepares and previews the bracket as an automatic run does.
    void SetUp() override {
        HALVORA_REQUIRE_DATA();
        const QString folder = halvora::test::dataFile("brackets/iphone_xr_night_9exp");
        const std::pair<const char*, float> frames[] = {
            {"IMG_3869.jpeg", 1.0f / 250}, {"IMG_3872.jpeg", 1.0f / 29}, {"IMG_3875.jpeg", 1.0f / 4}};
        std::vector<hdrtest::photoData> photos(3);
        int w = 0, h = 0;
        // Reduced four times while decoding (1008 × 756: several bands of rows, quick to merge), with
        // the exposure the camera recorded (SOURCE.txt of the folder).
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(hdrtest::decodePhoto(folder + "/" + frames[i].first, 4, photos[size_t(i)], w, h));
            photos[size_t(i)].exposureTime = frames[i].second;
            photos[size_t(i)].fNumber = 1.8f;
            photos[size_t(i)].iso = 1000;
        }
        project = hdrtest::makeProject();
        ASSERT_TRUE(hdrtest::addPhotos(*project, w, h, photos));
        ASSERT_EQ(halvora::chooseEVsAfterLoading(*project).chosen, halvora::evChoice::fromExif);
        generateHDRworker merge(project.get());
        ASSERT_TRUE(merge.prepareWeightTables());
        ASSERT_TRUE(merge.generateHDR_core()) << merge.lastError.toStdString();
        ASSERT_TRUE(merge.hdrPreprocess()) << merge.lastError.toStdString();
        project->hdrImage.buildLevels();
        toneMappingPreprocessWorker prepare(project.get(), toneMappingPrepareOptions_t{});
        prepare.doIt();
        ASSERT_TRUE(prepare.succeeded());
        halvora::rebuildToneMappingTables(project->tmSettings, halvora::toneMappingChange::everything);
        project->toneMapPreview(project->tmSettings, nullptr, false);
        ASSERT_TRUE(project->previewValid);
        ASSERT_GT(project->tmSettings.sharpness, 0.0); // the detail plane takes part
        dir = halvora::test::makeTempDir("banded");
    }

    // The fast way, as saveRun sets it up, with `threads` threads.
    QByteArray fastSave(const QString& name, int threads) {
        halvora::runContext context(threads);
        halvora::runContext::scope bind(context);
        saveResultRequest r;
        r.fileName = dir + "/" + name;
        r.options.jpegQuality = 100;
        saveResultWorker worker(r, project->resultBuffer(), project->width, project->height);
        processingProject* p = project.get();
        int bands = 0;
        worker.toneMapEntirePhotoInBands = [&](const saveResultWorker::rowsReady_t& rowsReady) {
            return p->toneMapFullImage([&](int first, int end, const uint16_t* rows) {
                ++bands;
                return rowsReady(first, end, rows);
            });
        };
        worker.doSaveResult();
        EXPECT_TRUE(worker.request.success) << worker.request.error.toStdString();
        EXPECT_GE(bands, 16);
        return halvora::test::readBytes(r.fileName);
    }
};

TEST_F(bandedSave, matchesTheWholePictureReferenceAndIgnoresTheThreadCount) {
    const QByteArray one = fastSave("one.jpg", 1);
    const QByteArray two = fastSave("two.jpg", 2);
    ASSERT_FALSE(one.isEmpty());
    EXPECT_TRUE(one == two) << "1 thread and 2 threads wrote different files";

    // Reference: the whole picture at once, then Qt's encoder on an 8-bit copy (sample >> 7).
    ASSERT_TRUE(project->toneMapFullImage());
    const int w = project->width, h = project->height;
    QImage reference(w, h, QImage::Format_RGB888);
    const uint16_t* result = project->resultBuffer();
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < w * 3; ++i)
            reference.scanLine(y)[i] = uchar(std::min<int>(result[size_t(y) * w * 3 + i], 32640) >> 7);
    QImageWriter writer(dir + "/reference.jpg", "jpg");
    writer.setQuality(100);
    ASSERT_TRUE(writer.write(reference));

    const QImage fast = QImage(dir + "/one.jpg").convertToFormat(QImage::Format_RGB888);
    const QImage exact = QImage(dir + "/reference.jpg").convertToFormat(QImage::Format_RGB888);
    ASSERT_EQ(fast.size(), QSize(w, h));
    ASSERT_EQ(exact.size(), QSize(w, h));
    int64_t above1 = 0, samples = 0;
    int worst = 0;
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < w * 3; ++i) {
            const int d = std::abs(int(fast.constScanLine(y)[i]) - int(exact.constScanLine(y)[i]));
            worst = std::max(worst, d);
            above1 += d > 1;
            ++samples;
        }
    EXPECT_LE(worst, 3);
    EXPECT_LE(double(above1), 0.001 * double(samples));
    // A night scene, but neither black nor flat: the comparison says something.
    double sum = 0, sum2 = 0;
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < w * 3; ++i) {
            const double v = fast.constScanLine(y)[i];
            sum += v;
            sum2 += v * v;
        }
    const double mean = sum / double(samples);
    EXPECT_GT(mean, 8.0);
    EXPECT_GT(std::sqrt(sum2 / double(samples) - mean * mean), 10.0);

    // An automatic run frees the smaller levels after its preview: the full-size pass does not read them,
    // and a later preview falls back to the full-size picture.
    project->releasePreviewLevels();
    EXPECT_EQ(project->hdrImage.levelCount(), 1);
    EXPECT_EQ(project->lcPlaneCoarse.levelCount(), 1);
    EXPECT_TRUE(fastSave("three.jpg", 2) == one);
    project->toneMapPreview(project->tmSettings, nullptr, false);
    EXPECT_TRUE(project->previewValid);
    EXPECT_EQ(project->toneMappedWidth, project->width);
}

TEST_F(bandedSave, aFailingHandOverStopsTheToneMapping) {
    int handed = 0;
    const bool ok = project->toneMapFullImage([&](int first, int end, const uint16_t*) {
        EXPECT_EQ(first, handed * ((project->height + 15) / 16));
        EXPECT_GT(end, first);
        return ++handed < 3;
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(handed, 3);
}

} // namespace
