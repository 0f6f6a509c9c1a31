// Camera RAW photos through the project's preparation and load worker: real files decoded exactly as
// LibRaw itself decodes them (set up here by hand, not through our option mapping), on 1 and N threads;
// the load-options hook and "the same settings for the remaining RAW images"; half size; damaged and
// truncated files refused with the file and the reason.

#include "base/parallelFor.h"
#include "loadPhotoTestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <libraw/libraw.h>

using namespace halvora::test;

namespace {

struct rawReference {
    int width = 0, height = 0;
    std::vector<uint16_t> samples; ///< working scale
};

// The picture as LibRaw gives it for "camera white balance, no brightening, AHD, 16 bits, sRGB",
// brought to the working scale by halving (the TIFF reader's rule: 65535 → 32640 at most).
rawReference libRawReference(const QString& file) {
    rawReference ref;
    auto raw = std::make_unique<LibRaw>();
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return ref;
    QByteArray bytes = f.readAll();
    raw->imgdata.params.use_camera_wb = 1;
    raw->imgdata.params.no_auto_bright = 1;
    raw->imgdata.params.user_qual = 2;
    raw->imgdata.params.output_bps = 16;
    raw->imgdata.params.output_color = 1;
    if (raw->open_buffer(bytes.data(), size_t(bytes.size())) != LIBRAW_SUCCESS) return ref;
    if (raw->unpack() != LIBRAW_SUCCESS || raw->dcraw_process() != LIBRAW_SUCCESS) return ref;
    int code = 0;
    libraw_processed_image_t* img = raw->dcraw_make_mem_image(&code);
    if (!img) return ref;
    ref.width = img->width;
    ref.height = img->height;
    const auto* in = reinterpret_cast<const uint16_t*>(img->data);
    const size_t n = size_t(img->width) * img->height;
    ref.samples.resize(n * 3);
    for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c) {
            const uint16_t v = in[i * img->colors + (img->colors == 3 ? c : 0)];
            ref.samples[i * 3 + c] = uint16_t(std::min(v / 2, 32640));
        }
    LibRaw::dcraw_clear_mem(img);
    return ref;
}

struct rawLoadTest : ::testing::Test {
    void SetUp() override {
        dir = makeTempDir("raw");
        project = std::make_unique<processingProject>(nullptr, makeTempDir("scratch"));
        ASSERT_FALSE(project->createFailed);
    }
    void TearDown() override { halvora::setThreadCountOverride(0); }
    QString copyOf(const QString& source, const QString& name) {
        const QString target = dir + "/" + name;
        QFile::copy(source, target);
        return target;
    }
    QString dir;
    std::unique_ptr<processingProject> project;
};

class realRawFile : public rawLoadTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(realRawFile, LoadsAsLibRawDecodesItOnOneAndManyThreads) {
    HALVORA_REQUIRE_DATA();
    const QString file = dataFile(QString("formats/raw/") + QString::fromUtf8(GetParam()));
    ASSERT_TRUE(QFileInfo(file).isFile()) << file.toStdString();
    const rawReference ref = libRawReference(file);
    ASSERT_GT(ref.width, 0);

    for (int threads : {1, 3}) {
        halvora::setThreadCountOverride(threads);
        auto fresh = std::make_unique<processingProject>(nullptr, makeTempDir("scratch"));
        QString error;
        auto photo = preparePhoto(*fresh, file, 0, false, &error);
        ASSERT_TRUE(photo) << error.toStdString();
        EXPECT_TRUE(photo->isRaw);
        EXPECT_EQ(photo->bitDepthClass, 2);
        EXPECT_EQ(photo->exif.orientation, 0); // LibRaw has turned it already
        EXPECT_NE(photo->exif.cameraMake[0], 0);
        EXPECT_EQ(fresh->width, ref.width);
        EXPECT_EQ(fresh->height, ref.height);
        std::vector<uint16_t> samples;
        const loadOutcome outcome = loadPrepared(*fresh, std::move(photo), samples);
        ASSERT_EQ(outcome.code, 0) << outcome.message.toStdString();
        ASSERT_EQ(samples.size(), ref.samples.size());
        EXPECT_TRUE(samples == ref.samples) << "threads=" << threads;
        // A real picture rather than a black or white field.
        const photoEntry& loaded = *fresh->photos.back();
        EXPECT_GT(loaded.meanBrightness, 100.0);
        EXPECT_LT(loaded.meanBrightness, 32000.0);
    }
}

INSTANTIATE_TEST_SUITE_P(shared, realRawFile,
                         ::testing::Values("RAW_KODAK_DC50_é.KDC", "canon_eos_6d_lossy.dng"));

TEST_F(rawLoadTest, ExposureDataOfTheCameraReachTheEVs) {
    HALVORA_REQUIRE_DATA();
    const QString dng = dataFile("formats/raw/canon_eos_6d_lossy.dng");
    QString error;
    auto photo = preparePhoto(*project, dng, 0, false, &error);
    ASSERT_TRUE(photo) << error.toStdString();
    // What the camera wrote (exiftool -n: ExposureTime 1/60, FNumber 5.6, ISO 1000).
    EXPECT_NEAR(photo->exif.exposureTime, 1.0 / 60.0, 1e-6);
    EXPECT_EQ(photo->exif.exposureTimeNum, 1u);
    EXPECT_EQ(photo->exif.exposureTimeDen, 60u);
    EXPECT_NEAR(photo->exif.fNumber, 5.6, 1e-3);
    EXPECT_EQ(photo->exif.iso, 1000);
    EXPECT_STREQ(photo->exif.cameraMake, "Canon");
    std::vector<uint16_t> samples;
    ASSERT_EQ(loadPrepared(*project, std::move(photo), samples).code, 0);
    project->computeEV();
    EXPECT_TRUE(project->exifEVvalid);
}

TEST_F(rawLoadTest, TheDialogIsAskedOnceForABracketWhenTheSameSettingsAreKept) {
    HALVORA_REQUIRE_DATA();
    const QString dng = dataFile("formats/raw/canon_eos_6d_lossy.dng");
    const QStringList files{copyOf(dng, "a.dng"), copyOf(dng, "b.dng"), copyOf(dng, "c.dng")};
    int asked = 0;
    bool keep = true;
    project->rawLoadOptionsHook = [&](const QString& file, const rawInfo_t& info, rawLoadOptions& o) {
        ++asked;
        EXPECT_TRUE(file.endsWith(".dng"));
        EXPECT_GT(info.halfWidth, 0);
        o.colorSpace = rawLoadOptions::adobeRGB;
        o.noiseFilter = true;
        o.sameForRemaining = keep;
        return true;
    };
    for (int i = 0; i < 3; ++i) {
        auto photo = preparePhoto(*project, files[i], i);
        ASSERT_TRUE(photo);
        EXPECT_EQ(photo->rawOptions.colorSpace, rawLoadOptions::adobeRGB);
        EXPECT_TRUE(photo->rawNoiseFilter);
    }
    EXPECT_EQ(asked, 1);

    // Without the check box every file asks; a new action asks again even with it.
    keep = false;
    asked = 0;
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(preparePhoto(*project, files[i], i));
    EXPECT_EQ(asked, 2);
    keep = true;
    asked = 0;
    ASSERT_TRUE(preparePhoto(*project, files[0], 0));
    ASSERT_TRUE(preparePhoto(*project, files[1], 1));
    ASSERT_TRUE(preparePhoto(*project, files[2], 0));
    EXPECT_EQ(asked, 2);
}

TEST_F(rawLoadTest, CancelIsSilentAndHalfSizeHalvesThePicture) {
    HALVORA_REQUIRE_DATA();
    // A mosaic sensor's file (the lossy DNG holds already interpolated pixels).
    const QString dng = dataFile("formats/raw/RAW_KODAK_DC50_é.KDC");
    project->rawLoadOptionsHook = [](const QString&, const rawInfo_t&, rawLoadOptions&) { return false; };
    QString error = "untouched";
    photoEntry cancelled;
    cancelled.fileName = dng;
    EXPECT_FALSE(project->loadPhotoPrepare(cancelled, 0, false, &error));
    EXPECT_TRUE(error.isEmpty());
    EXPECT_EQ(project->width, 0);

    const rawReference full = libRawReference(dng);
    project->rawLoadOptionsHook = [](const QString&, const rawInfo_t&, rawLoadOptions& o) {
        o.halfSize = true;
        return true;
    };
    auto photo = preparePhoto(*project, dng);
    ASSERT_TRUE(photo);
    // LibRaw's half size takes one pixel per 2 × 2 block of the mosaic.
    EXPECT_EQ(project->width, full.width / 2);
    EXPECT_EQ(project->height, full.height / 2);
    std::vector<uint16_t> samples;
    const loadOutcome outcome = loadPrepared(*project, std::move(photo), samples);
    ASSERT_EQ(outcome.code, 0) << outcome.message.toStdString();
    EXPECT_GT(project->photos.back()->meanBrightness, 100.0);
}

TEST_F(rawLoadTest, DamagedAndTruncatedRawFilesAreRefusedWithFileAndReason) {
    HALVORA_REQUIRE_DATA();
    const QString dng = dataFile("formats/raw/canon_eos_6d_lossy.dng");
    QFile source(dng);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();
    struct damaged {
        const char* name;
        QByteArray bytes;
    };
    // The reader's own refusals are walked in tests/imageio rawConverterTest; here one at the
    // preparation, one while loading and an empty file reach the caller with the file and reason.
    const damaged cases[] = {{"header_only.dng", bytes.left(4096)},
                             {"tail_cut.dng", bytes.left(bytes.size() - 4096)},
                             {"empty.kdc", QByteArray()}};
    for (const damaged& c : cases) {
        const QString file = dir + "/" + c.name;
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(c.bytes);
        out.close();
        auto fresh = std::make_unique<processingProject>(nullptr, makeTempDir("scratch"));
        QString error;
        auto photo = preparePhoto(*fresh, file, 0, false, &error);
        if (!photo) {
            EXPECT_TRUE(error.startsWith(file + ": ")) << error.toStdString();
            EXPECT_GT(error.size(), file.size() + 4);
            continue;
        }
        std::vector<uint16_t> samples;
        const loadOutcome outcome = loadPrepared(*fresh, std::move(photo), samples);
        EXPECT_EQ(outcome.code, loadPhotoWorker::failedToDecode) << c.name;
        EXPECT_TRUE(outcome.message.startsWith(file + ": ")) << outcome.message.toStdString();
    }
}

} // namespace
