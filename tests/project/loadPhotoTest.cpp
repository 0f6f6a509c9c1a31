// Photo preparation and loading: sequence rules, decoding to the working scale, orientation,
// strips, preview, thumbnail, temporary store, malformed files, wave and progress rules.

#include "base/parallelFor.h"
#include "imageio/imageFormat.h"
#include "imageio/imageLoader.h"
#include "imageio/stripConversion.h"
#include "loadPhotoTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <cstring>
#include <gtest/gtest.h>

using namespace halvora::test;

namespace {

struct loadPhotoTest : ::testing::Test {
    void SetUp() override {
        dir = makeTempDir("load");
        project = std::make_unique<processingProject>(nullptr, makeTempDir("scratch"));
        ASSERT_FALSE(project->createFailed);
    }
    void TearDown() override { halvora::setThreadCountOverride(0); }
    QString dir;
    std::unique_ptr<processingProject> project;
};

} // namespace

// ---- preparation: the rules of a sequence

TEST_F(loadPhotoTest, PreparationEnforcesTheSequenceRules) {
    QString error;
    const QString first = savedImage(patternImage(60, 40), dir, "a.png");
    const QString portrait = savedImage(patternImage(40, 60), dir, "b.png");
    const QString other = savedImage(patternImage(50, 40), dir, "c.png");

    logCapture log;
    auto p0 = preparePhoto(*project, first, 0);
    ASSERT_TRUE(p0);
    EXPECT_EQ(p0->id, 0);
    EXPECT_EQ(p0->bitDepthClass, 1);
    EXPECT_TRUE(p0->included);
    EXPECT_EQ(project->width, 60);
    EXPECT_EQ(project->height, 40);
    EXPECT_TRUE(log.contains("Allocating memory for new project. Image size: 60 x 40.\n"));
    EXPECT_TRUE(log.contains("Image info taken successfully, id=0\n"));

    // Either way round passes (the orientation may still turn it); another size does not.
    auto p1 = preparePhoto(*project, portrait, 1);
    ASSERT_TRUE(p1);
    EXPECT_EQ(p1->id, 1);
    EXPECT_FALSE(preparePhoto(*project, other, 2, false, &error));
    EXPECT_EQ(error, other + ": Wrong image dimensions. All photos must be the same size. (this one is "
                             "50 × 40, the sequence 60 × 40)");

    // Position 31 is the 32nd photo; 32 is one too many.
    EXPECT_TRUE(preparePhoto(*project, first, 31, false, &error));
    EXPECT_FALSE(preparePhoto(*project, first, 32, false, &error));
    const QString tooMany = first + ": Too many images! (a sequence holds at most 32 photos)";
    EXPECT_EQ(error, tooMany);
    // Photos already in the project count as well.
    project->photos.push_back(std::make_unique<photoEntry>());
    EXPECT_FALSE(preparePhoto(*project, first, 31, false, &error));
    EXPECT_EQ(error, tooMany);

    // A radiance image opened before refuses every further photo.
    EXPECT_FALSE(preparePhoto(*project, first, 1, true, &error));
    EXPECT_EQ(error, first + ": You can load only one HDR image. (a radiance image is already open)");
    // Failed preparations consume no id.
    auto next = preparePhoto(*project, first, 2);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->id, 3);
}

TEST_F(loadPhotoTest, FormatIsTakenFromTheSuffixOnly) {
    QString error;
    const QImage img = patternImage(32, 24);
    const QString upper = savedImage(img, dir, "IMG.JPG");
    // Written as JPEG first, then renamed: the suffix alone must decide.
    const QString raw = dir + "/photo.CR2";
    QFile::copy(upper, raw);

    EXPECT_TRUE(preparePhoto(*project, upper, 0, false, &error));

    // A JPEG under a RAW name goes to the RAW converter, which does not know it.
    EXPECT_FALSE(preparePhoto(*project, raw, 1, false, &error));
    EXPECT_TRUE(error.startsWith(raw + ": ")) << error.toStdString();
    EXPECT_TRUE(error.contains("RAW converter")) << error.toStdString();
}

TEST_F(loadPhotoTest, UnreadableAndImpossibleFilesAreRefusedBeforeAnyMemoryIsReserved) {
    // Each refusal names the file and the cause, and is logged once by the preparation.
    logCapture log;
    QString error;
    photoEntry missing;
    missing.fileName = dir + "/missing.jpg";
    EXPECT_FALSE(project->loadPhotoPrepare(missing, 0, false, &error));
    EXPECT_EQ(error, dir + "/missing.jpg: no such file or directory");
    EXPECT_TRUE(log.contains("processingProject::loadPhotoPrepare: " + error.toStdString() + "\n"));

    const QString garbage = dir + "/garbage.bmp";
    QFile f(garbage);
    f.open(QIODevice::WriteOnly);
    f.write(QByteArray(500, 'x'));
    f.close();
    EXPECT_FALSE(preparePhoto(*project, garbage, 0, false, &error));
    EXPECT_TRUE(error.startsWith(garbage + ": is not a BMP picture")) << error.toStdString();

    // A file long enough for a million × a million pixels (16 bytes a row, as few as a Radiance row
    // of a million pixels can take): its size is possible, the memory for it is not there.
    const QString vast = dir + "/vast.hdr";
    {
        QFile out(vast);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 1000000 +X 1000000\n");
        const QByteArray row("\x80\x80\x80\x81\x01\x01\x01\xff\x01\x01\x01\xff\x01\x01\x01\x0f", 16);
        const QByteArray rows = row.repeated(1000);
        for (int i = 0; i < 1000; ++i)
            out.write(rows);
    }
    EXPECT_FALSE(preparePhoto(*project, vast, 0, false, &error));
    EXPECT_TRUE(error.startsWith(vast + ": Not enough memory! (a project of 1000000 × 1000000 pixels"))
        << error.toStdString();
    EXPECT_EQ(project->width, 0);
    EXPECT_FALSE(project->hdrImage.allocated());
}

TEST_F(loadPhotoTest, ColourProfileStepRunsOnlyWithColourManagement) {
    const QString file = savedImage(patternImage(40, 30), dir, "p.jpg");
    int calls = 0, position = -1;
    project->colorProfileHook = [&](processingProject&, photoEntry&, int p, int, QString*) {
        ++calls;
        position = p;
        return true;
    };

    project->colorManagementEnabled = false;
    auto photo = preparePhoto(*project, file, 0);
    ASSERT_TRUE(photo);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(photo->profilePath.isEmpty());
    EXPECT_TRUE(QDir(project->sessionDir).entryList({"~profile*"}, QDir::Files).isEmpty());

    project->colorManagementEnabled = true;
    EXPECT_TRUE(preparePhoto(*project, file, 1));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(position, 1);
    // A failing profile step fails the preparation with its message.
    project->colorProfileHook = [](processingProject&, photoEntry& photo, int, int, QString* error) {
        *error = photo.fileName + ": Color profiles of all photos in the sequence must be the same.";
        return false;
    };
    QString error;
    EXPECT_FALSE(preparePhoto(*project, file, 2, false, &error));
    EXPECT_EQ(error.toStdString(),
              (file + ": Color profiles of all photos in the sequence must be the same.").toStdString());
}

// ---- decoding to the working scale

TEST_F(loadPhotoTest, GreyJpegGivesEqualChannelsAndWhiteIsFullScale) {
    QImage grey(48, 32, QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < grey.width(); ++x)
            grey.scanLine(y)[x] = uchar(x < 16 ? 255 : (x * 5 + y * 3) & 255);
    const QString file = savedImage(grey, dir, "grey.jpg", 100);
    const QImage decoded(file);
    ASSERT_EQ(decoded.format(), QImage::Format_Grayscale8); // the 8-bit grey path is what is tested

    std::vector<uint16_t> buffer;
    const auto outcome = loadSequence(*project, {file}, &buffer);
    ASSERT_EQ(outcome.size(), 1u);
    ASSERT_EQ(outcome[0].code, 0);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x) {
            const uint16_t* px = &buffer[(size_t(y) * 48 + x) * 3];
            const int g = decoded.constScanLine(y)[x] * 128;
            ASSERT_EQ(px[0], g) << x << "," << y;
            ASSERT_EQ(px[1], g);
            ASSERT_EQ(px[2], g);
        }
    // A flat white block decodes exactly: full scale in every channel.
    EXPECT_EQ(buffer[0], 32640);
    EXPECT_EQ(buffer[1], 32640);
    EXPECT_EQ(buffer[2], 32640);
}

TEST_F(loadPhotoTest, ColourPaletteAndTruecolourPicturesKeepTheirColours) {
    QImage indexed(20, 10, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(255, 0, 0), qRgb(0, 200, 10), qRgb(1, 2, 3)});
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x)
            indexed.scanLine(y)[x] = uchar((x + y) % 3);
    const QString bmp = savedImage(indexed, dir, "palette.bmp");
    const QImage decoded(bmp);
    ASSERT_EQ(decoded.format(), QImage::Format_Indexed8);
    std::vector<uint16_t> buffer;
    ASSERT_EQ(loadSequence(*project, {bmp}, &buffer)[0].code, 0);
    EXPECT_EQ(buffer, expectedSamples(decoded, -1));
    EXPECT_EQ(buffer[0], 255 * 128); // index 0 is red, not grey 0
    EXPECT_EQ(buffer[1], 0);

    // A PNG with transparency (32-bit with alpha) and a 16-bit PNG take the generic paths.
    auto other = std::make_unique<processingProject>(nullptr, makeTempDir("scratch"));
    QImage alpha = patternImage(30, 20).convertToFormat(QImage::Format_ARGB32);
    alpha.setPixel(3, 4, qRgba(10, 20, 30, 0));
    const QString png = savedImage(alpha, dir, "alpha.png");
    ASSERT_EQ(loadSequence(*other, {png}, &buffer)[0].code, 0);
    EXPECT_EQ(buffer, expectedSamples(QImage(png), -1));

    auto deep = std::make_unique<processingProject>(nullptr, makeTempDir("scratch"));
    const QString png16 =
        savedImage(patternImage(30, 20).convertToFormat(QImage::Format_RGBX64), dir, "deep.png");
    ASSERT_EQ(loadSequence(*deep, {png16}, &buffer)[0].code, 0);
    EXPECT_EQ(buffer, expectedSamples(QImage(png16), -1));
}

// ---- strips

TEST(loadPhotoStrips, StripCountAndRowsCoverThePictureOnce) {
    EXPECT_EQ(loadPhotoWorker::stripCount(4032, 3024), 1);
    EXPECT_EQ(loadPhotoWorker::stripCount(5000, 5000), 2); // 25 megapixels
    EXPECT_EQ(loadPhotoWorker::stripCount(4000, 4999), 1); // 19,996,000 pixels
    EXPECT_EQ(loadPhotoWorker::stripCount(5000, 4000), 2); // exactly 20,000,000
    EXPECT_EQ(loadPhotoWorker::stripCount(10000, 6001), 4);
    for (int height : {5001, 5000, 7, 6001}) {
        const int count = loadPhotoWorker::stripCount(5000, height);
        int next = 0;
        for (int i = 0; i < count; ++i) {
            int first = -1, rows = -1;
            loadPhotoWorker::stripRows(height, count, i, first, rows);
            EXPECT_EQ(first, next);
            EXPECT_GT(rows, 0);
            next = first + rows;
        }
        EXPECT_EQ(next, height) << "the last strip must reach the bottom row";
    }
    int first = 0, rows = 0;
    loadPhotoWorker::stripRows(5001, 2, 1, first, rows);
    EXPECT_EQ(first, 2500);
    EXPECT_EQ(rows, 2501);
}

TEST_F(loadPhotoTest, LargePictureIsDecodedInTwoStripsDownToTheBottomRow) {
    // 5000 × 4001 = 20,005,000 pixels: two strips of 2000 and 2001 rows.
    const int w = 5000, h = 4001;
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = qRgb(y & 255, (y >> 8) & 255, (x >> 5) & 255);
    }
    const QString file = dir + "/large.png";
    ASSERT_TRUE(img.save(file, "PNG", 90));
    ASSERT_EQ(loadPhotoWorker::stripCount(w, h), 2);

    logCapture log;
    std::vector<uint16_t> buffer;
    const auto outcome = loadSequence(*project, {file}, &buffer);
    ASSERT_EQ(outcome.size(), 1u);
    ASSERT_EQ(outcome[0].code, 0);
    // Every row, the last one included, holds its own row number.
    for (int y : {0, 1, 1999, 2000, 2001, 4000})
        for (int x : {0, 2500, 4999}) {
            const uint16_t* px = &buffer[(size_t(y) * w + x) * 3];
            EXPECT_EQ(px[0], (y & 255) * 128) << y;
            EXPECT_EQ(px[1], ((y >> 8) & 255) * 128) << y;
            EXPECT_EQ(px[2], ((x >> 5) & 255) * 128) << x;
        }
}

// ---- orientation

TEST_F(loadPhotoTest, OrientationTurnsThePhotoAndTheProjectOnce) {
    const QImage img = patternImage(90, 50, 3);
    const QString a = savedImage(img, dir, "a.png");
    const QString b = savedImage(img, dir, "b.png");
    auto pa = preparePhoto(*project, a, 0);
    auto pb = preparePhoto(*project, b, 1);
    ASSERT_TRUE(pa && pb);
    pa->exif.orientation = 6; // as the EXIF reader would report it
    pb->exif.orientation = 6;

    logCapture log;
    std::vector<uint16_t> buffer;
    ASSERT_EQ(loadPrepared(*project, std::move(pa), buffer).code, 0);
    EXPECT_EQ(project->width, 50);
    EXPECT_EQ(project->height, 90);
    EXPECT_EQ(project->decodeWidth, 90);
    EXPECT_EQ(project->decodeHeight, 50);
    EXPECT_EQ(project->orientationMode, int(halvora::turnClockwise));
    EXPECT_EQ(buffer, expectedSamples(QImage(a), halvora::turnClockwise));
    EXPECT_EQ(project->previewWidth, 50);
    EXPECT_EQ(project->previewHeight, 90);
    EXPECT_TRUE(log.contains("Orientation = 6, mode = 2\n- first\n"));

    // The second photo of the same orientation does not swap the size back.
    ASSERT_EQ(loadPrepared(*project, std::move(pb), buffer).code, 0);
    EXPECT_EQ(project->width, 50);
    EXPECT_EQ(project->height, 90);
    EXPECT_TRUE(log.contains("- next\n"));
    EXPECT_EQ(project->photos[1]->preview.width, 50);
}

TEST_F(loadPhotoTest, PhotosOfAnotherOrientationOrShapeAreRefused) {
    const QImage img = patternImage(80, 60);
    const QString a = savedImage(img, dir, "a.png");
    const QString b = savedImage(img, dir, "b.png");
    auto pa = preparePhoto(*project, a, 0);
    auto pb = preparePhoto(*project, b, 1);
    ASSERT_TRUE(pa && pb);
    pa->exif.orientation = 6;
    pb->exif.orientation = 1;
    logCapture log;
    std::vector<uint16_t> buffer;
    ASSERT_EQ(loadPrepared(*project, std::move(pa), buffer).code, 0);
    const auto second = loadPrepared(*project, std::move(pb), buffer);
    EXPECT_EQ(second.code, 1);
    EXPECT_EQ(second.message, b + ": All photos must have the same orientation. (EXIF orientation 1)");
    EXPECT_TRUE(log.contains("Not all photos have the same orientation!\n"));
    EXPECT_EQ(project->width, 60); // swapped once only
    EXPECT_EQ(project->height, 80);

    // A portrait photo passes the either-way size check but, left unturned, does not fit a landscape
    // sequence: refused instead of being loaded with the wrong shape.
    processingProject other(nullptr, makeTempDir("scratch"));
    const QString portrait = savedImage(patternImage(60, 80), dir, "portrait.png");
    auto first = preparePhoto(other, a, 0);
    auto turned = preparePhoto(other, portrait, 1);
    ASSERT_TRUE(first && turned);
    ASSERT_EQ(loadPrepared(other, std::move(first), buffer).code, 0);
    const auto wrong = loadPrepared(other, std::move(turned), buffer);
    EXPECT_EQ(wrong.code, 1);
    EXPECT_EQ(wrong.message, portrait +
                                 ": Wrong image dimensions. All photos must be the same size. (this one is "
                                 "60 × 80 after its EXIF turn, the sequence 80 × 60)");
}

TEST_F(loadPhotoTest, OutputDoesNotDependOnTheThreadCount) {
    const QImage img = patternImage(300, 170, 5);
    const QString file = savedImage(img, dir, "threads.jpg", 90);
    std::vector<std::vector<uint16_t>> results;
    std::vector<double> brightness;
    for (int threads : {1, 2, 3}) {
        halvora::setThreadCountOverride(threads);
        for (int orientation : {1, 8}) {
            processingProject pr(nullptr, makeTempDir("scratch"));
            auto photo = preparePhoto(pr, file, 0);
            photo->exif.orientation = orientation;
            std::vector<uint16_t> buffer;
            ASSERT_EQ(loadPrepared(pr, std::move(photo), buffer).code, 0);
            results.push_back(buffer);
            results.push_back(
                std::vector<uint16_t>(pr.photos[0]->preview.pixels(),
                                      pr.photos[0]->preview.pixels() + pr.photos[0]->preview.sampleCount()));
            brightness.push_back(pr.photos[0]->meanBrightness);
        }
    }
    for (size_t i = 4; i < results.size(); ++i)
        EXPECT_EQ(results[i], results[i % 4]) << i;
    for (size_t i = 2; i < brightness.size(); ++i)
        EXPECT_EQ(brightness[i], brightness[i % 2]);
}

// ---- preview, thumbnail, temporary store, work block

TEST_F(loadPhotoTest, PreviewThumbnailBrightnessAndTemporaryFileAgreeWithAnIndependentComputation) {
    const int w = 2100, h = 1100; // divisor 3: a 700 × 367 preview, a 175 × 91 thumbnail
    const QImage img = patternImage(w, h, 11);
    const QString file = savedImage(img, dir, "big.png");
    std::vector<uint16_t> buffer;
    ASSERT_EQ(loadSequence(*project, {file}, &buffer)[0].code, 0);
    const photoEntry& photo = *project->photos[0];
    ASSERT_EQ(project->previewDivisor, 3);
    ASSERT_EQ(photo.preview.width, 700);
    ASSERT_EQ(photo.preview.height, 367);

    // The block means themselves are the downscale kernel's; here the divisor reaching it: preview
    // pixel (5, 7) is the truncated mean of picture pixels (15…17, 21…23).
    for (int c = 0; c < 3; ++c) {
        int sum = 0;
        for (int y = 21; y < 24; ++y)
            for (int x = 15; x < 18; ++x) {
                const QRgb v = img.pixel(x, y);
                sum += (c == 0 ? qRed(v) : c == 1 ? qGreen(v) : qBlue(v)) * 128;
            }
        EXPECT_EQ(photo.preview.pixels()[(7 * 700 + 5) * 3 + c], sum / 9) << c;
    }
    ASSERT_EQ(photo.thumbnail.size(), QSize(175, 91));
    EXPECT_GT(photo.meanBrightness, 0.0);

    // The temporary file holds exactly the full-size samples; the work block is there.
    ASSERT_TRUE(photo.tempFiles[0]);
    EXPECT_EQ(QFileInfo(photo.tempFiles[0]->fileName()).size(), qint64(w) * h * 6);
    std::vector<uint16_t> back(size_t(w) * h * 3);
    ASSERT_TRUE(project->readFromTempFile(*project->photos[0], 0, back.data(), back.size() * 2));
    EXPECT_EQ(back, expectedSamples(img, -1));
    EXPECT_TRUE(photo.weightTable);
    EXPECT_TRUE(photo.previewPlane);
    for (int slot = 1; slot < 4; ++slot)
        EXPECT_FALSE(photo.tempFiles[size_t(slot)]);
}

// ---- malformed files

TEST_F(loadPhotoTest, TruncatedCorruptOrVanishedFilesFailToDecodeCleanly) {
    const QString good = savedImage(patternImage(64, 48), dir, "good.jpg", 90);
    QFile in(good);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    in.close();
    EXPECT_TRUE(loadPhotoWorker::jpegIsComplete(good));

    const QString truncated = dir + "/truncated.jpg";
    {
        QFile f(truncated);
        f.open(QIODevice::WriteOnly);
        f.write(bytes.left(bytes.size() * 2 / 3));
    }
    EXPECT_FALSE(loadPhotoWorker::jpegIsComplete(truncated));
    const QString corrupt = dir + "/corrupt.jpg"; // a valid header, then noise instead of the scan
    {
        QByteArray damaged = bytes;
        const int sos = damaged.indexOf("\xff\xda");
        ASSERT_GT(sos, 0);
        for (int i = sos + 20; i < damaged.size(); ++i)
            damaged[i] = char((i * 37) & 0xFE);
        QFile f(corrupt);
        f.open(QIODevice::WriteOnly);
        f.write(damaged);
    }

    for (const QString& file : {truncated, corrupt}) {
        processingProject pr(nullptr, makeTempDir("scratch"));
        auto photo = preparePhoto(pr, file, 0);
        ASSERT_TRUE(photo) << file.toStdString(); // the header is intact: the damage shows only when loading
        logCapture log;
        std::vector<uint16_t> buffer;
        const auto outcome = loadPrepared(pr, std::move(photo), buffer);
        EXPECT_EQ(outcome.code, 2);
        // The reason travels with the result: the file, then what is wrong with its data.
        EXPECT_TRUE(outcome.message.startsWith(file + ": damaged picture data"))
            << outcome.message.toStdString();
        EXPECT_TRUE(log.contains("loadPhotoWorker::loadPhoto: ")) << log.text();
        EXPECT_TRUE(QDir(pr.sessionDir).entryList(QDir::Files).isEmpty()); // no temporary file left behind
    }

    // A file that disappears between preparation and loading.
    const QString vanishing = savedImage(patternImage(64, 48), dir, "gone.png");
    processingProject pr(nullptr, makeTempDir("scratch"));
    auto photo = preparePhoto(pr, vanishing, 0);
    ASSERT_TRUE(photo);
    QFile::remove(vanishing);
    std::vector<uint16_t> buffer;
    const auto gone = loadPrepared(pr, std::move(photo), buffer);
    EXPECT_EQ(gone.code, 2);
    EXPECT_EQ(gone.message, vanishing + ": no such file or directory");
}

TEST_F(loadPhotoTest, JpegCompletenessAcceptsProgressiveScansAndTrailingData) {
    // Progressive JPEGs have several scans; trailing bytes after the end marker are allowed.
    const QString file = dir + "/progressive.jpg";
    QImageWriter writer(file, "jpeg");
    writer.setProgressiveScanWrite(true);
    ASSERT_TRUE(writer.write(patternImage(100, 80)));
    EXPECT_TRUE(loadPhotoWorker::jpegIsComplete(file));
    QFile f(file);
    f.open(QIODevice::Append);
    f.write("trailing data");
    f.close();
    EXPECT_TRUE(loadPhotoWorker::jpegIsComplete(file));
}

// ---- waves and progress

TEST_F(loadPhotoTest, WaveSizeFollowsMegapixelsThreadsAndFileSizes) {
    QStringList small;
    for (int i = 0; i < 8; ++i)
        small << savedImage(patternImage(8, 8), dir, QString("s%1.png").arg(i));
    halvora::setThreadCountOverride(16);
    EXPECT_EQ(loadPhotoWorker::waveSize(4000, 2500, small), 5); // 10 MP
    EXPECT_EQ(loadPhotoWorker::waveSize(3500, 3142, small), 5); // 10.997 MP truncates to 10
    EXPECT_EQ(loadPhotoWorker::waveSize(4000, 2750, small), 3); // 11 MP
    EXPECT_EQ(loadPhotoWorker::waveSize(5000, 4000, small), 3); // 20 MP
    EXPECT_EQ(loadPhotoWorker::waveSize(7000, 3000, small), 2); // 21 MP
    EXPECT_EQ(loadPhotoWorker::waveSize(100, 100, small.mid(0, 2)), 2);
    halvora::setThreadCountOverride(2);
    EXPECT_EQ(loadPhotoWorker::waveSize(100, 100, small), 2);
    halvora::setThreadCountOverride(1);
    EXPECT_EQ(loadPhotoWorker::waveSize(100, 100, small), 1);

    // A file above 30 MiB among the first n brings the wave down to two; beyond them it does not count.
    halvora::setThreadCountOverride(16);
    const QString big = dir + "/big.png";
    {
        QFile f(big);
        f.open(QIODevice::WriteOnly);
        f.resize(31457281);
    }
    QStringList withBig = small;
    withBig.insert(4, big);
    EXPECT_EQ(loadPhotoWorker::waveSize(100, 100, withBig), 2);
    withBig = small;
    withBig.insert(5, big);
    EXPECT_EQ(loadPhotoWorker::waveSize(100, 100, withBig), 5);
    {
        QFile f(big);
        f.resize(31457280); // exactly 30 MiB is not larger
    }
    withBig = small;
    withBig.insert(0, big);
    EXPECT_EQ(loadPhotoWorker::waveSize(100, 100, withBig), 5);
}

// ---- real photographs

TEST_F(loadPhotoTest, EveryRealBracketLoads) {
    HALVORA_REQUIRE_DATA();
    const std::pair<const char*, QSize> sets[] = {
        {"brackets/desk_canon_s45_13exp", QSize(1024, 768)},
        {"brackets/mysore_palace_fuji_xt1_7exp", QSize(640, 427)},
        {"brackets/xperia_library_handheld_7exp", QSize(4032, 2268)},
        {"brackets/ghost_horse_3exp", QSize(1024, 690)}}; // the turned iPhone bracket: the next test
    for (const auto& [folder, size] : sets) {
        QDir d(dataFile(folder));
        QStringList files;
        for (const QString& name : d.entryList({"*.jpg", "*.jpeg", "*.png"}, QDir::Files, QDir::Name))
            files << d.filePath(name);
        ASSERT_FALSE(files.isEmpty()) << folder;
        processingProject pr(nullptr, makeTempDir("scratch"));
        QString error;
        const auto outcomes = loadSequence(pr, files, nullptr, &error);
        ASSERT_EQ(outcomes.size(), size_t(files.size())) << folder << ": " << error.toStdString();
        for (const auto& o : outcomes)
            EXPECT_EQ(o.code, 0) << folder << " " << o.message.toStdString();
        EXPECT_EQ(QSize(pr.width, pr.height), size) << folder;
        for (const auto& photo : pr.photos) {
            ASSERT_TRUE(photo->tempFiles[0]);
            EXPECT_EQ(QFileInfo(photo->tempFiles[0]->fileName()).size(), qint64(pr.width) * pr.height * 6);
            EXPECT_GT(photo->meanBrightness, 0.0);
        }
    }
}

TEST_F(loadPhotoTest, IphoneBracketIsTurnedByItsExifOrientation) {
    HALVORA_REQUIRE_DATA();
    const QString dirName = dataFile("brackets/iphone_xr_night_9exp");
    const QStringList files = {dirName + "/IMG_3869.jpeg", dirName + "/IMG_3872.jpeg",
                               dirName + "/IMG_3875.jpeg"};
    QString error;
    const auto outcomes = loadSequence(*project, files, nullptr, &error);
    ASSERT_EQ(outcomes.size(), 3u) << error.toStdString();
    for (const auto& o : outcomes)
        ASSERT_EQ(o.code, 0) << o.message.toStdString();
    // Stored 3024 × 4032 with orientation 8: the project stands the right way, 4032 × 3024.
    EXPECT_EQ(project->width, 4032);
    EXPECT_EQ(project->height, 3024);
    EXPECT_EQ(project->decodeWidth, 3024);
    EXPECT_EQ(project->orientationMode, int(halvora::turnCounterClockwise));
    EXPECT_EQ(project->photos[0]->exif.orientation, 8);
    for (const auto& photo : project->photos)
        EXPECT_EQ(QFileInfo(photo->tempFiles[0]->fileName()).size(), qint64(4032) * 3024 * 6);
}

TEST_F(loadPhotoTest, ExifOrientationSamplesAreTurnedOnlyForTurningModes) {
    HALVORA_REQUIRE_DATA();
    for (const char* shape : {"landscape", "portrait"})
        for (int orientation = 1; orientation <= 8; ++orientation) {
            const QString file =
                dataFile(QString("formats/exif/orientation/%1_%2.jpg").arg(shape).arg(orientation));
            processingProject pr(nullptr, makeTempDir("scratch"));
            std::vector<uint16_t> samples;
            const auto outcomes = loadSequence(pr, {file}, &samples);
            ASSERT_EQ(outcomes.size(), 1u);
            ASSERT_EQ(outcomes[0].code, 0) << file.toStdString();
            EXPECT_EQ(pr.photos[0]->exif.orientation, orientation) << file.toStdString();
            QImageReader reader(file);
            reader.setAutoTransform(false);
            const QImage stored = reader.read();
            // 3 → 180°, 6 → clockwise, 8 → counter-clockwise; the mirrored ones are left as stored.
            const int mode = orientation == 3 ? 1 : orientation == 6 ? 2 : orientation == 8 ? 0 : -1;
            EXPECT_EQ(samples, expectedSamples(stored, mode)) << file.toStdString();
        }
}

TEST_F(loadPhotoTest, RadianceFileBecomesTheProjectsRadiancePicture) {
    HALVORA_REQUIRE_DATA();
    const QString file = dataFile("radiance/polyhaven_hdri_1k/venice_sunset_1k.hdr");
    QString error;
    auto photo = preparePhoto(*project, file, 0, false, &error);
    ASSERT_TRUE(photo) << error.toStdString();
    EXPECT_TRUE(photo->isRadiance);
    EXPECT_EQ(project->currentInputFormat, int(formatRadianceRgbe));
    std::vector<uint16_t> unused;
    ASSERT_EQ(loadPrepared(*project, std::move(photo), unused).code, 0);
    const photoEntry& loaded = *project->photos[0];
    const int w = project->width, h = project->height;
    ASSERT_EQ(w, 1024);
    ASSERT_EQ(h, 512);

    // The picture equals what the reader gives on its own.
    std::vector<float> direct(size_t(w) * h * 3);
    float maximum = 0, minimum = 0;
    ASSERT_TRUE(imageLoader::loadRadianceRGBE(file, w, h, direct.data(), maximum, minimum, nullptr));
    EXPECT_EQ(0, std::memcmp(direct.data(), project->rgbFloatBuffer(), direct.size() * sizeof(float)));
    // Preview: exposure factor 1, mean of the 2 × 2 blocks (divisor 2), × 32640, truncated, clamped.
    ASSERT_EQ(project->previewDivisor, 2);
    for (const QPoint at : {QPoint(0, 0), QPoint(300, 100), QPoint(511, 255)})
        for (int c = 0; c < 3; ++c) {
            double sum = 0;
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 2; ++x)
                    sum += direct[(size_t(at.y() * 2 + y) * w + at.x() * 2 + x) * 3 + c];
            const double v = sum / 4 * 32640;
            const int expected = v >= 32640 ? 32640 : (v > 0 ? int(v) : 0);
            EXPECT_EQ(loaded.preview.pixels()[(size_t(at.y()) * 512 + at.x()) * 3 + c], expected);
        }
    EXPECT_EQ(loaded.thumbnail.size(), QSize(128, 64));
    EXPECT_FALSE(loaded.tempFiles[0]) << "a radiance picture stays in the project, not in the store";
    EXPECT_TRUE(loaded.weightTable);

    // Nothing may join it, and it may not join photos.
    const QString jpeg = savedImage(patternImage(1024, 512), dir, "after.jpg");
    EXPECT_FALSE(preparePhoto(*project, jpeg, 0, true, &error));
    EXPECT_EQ(error, jpeg + ": You can load only one HDR image. (a radiance image is already open)");
    processingProject photos(nullptr, makeTempDir("scratch"));
    ASSERT_TRUE(preparePhoto(photos, jpeg, 0));
    const QString rightNow =
        ": Cannot load the HDR image right now. (a radiance image must be the only picture of a "
        "project)";
    EXPECT_FALSE(preparePhoto(photos, file, 1, false, &error));
    EXPECT_EQ(error, file + rightNow);
    const QString exr = dataFile("radiance/openexr_images/ScanLines/Desk.exr");
    EXPECT_FALSE(preparePhoto(photos, exr, 1, false, &error));
    EXPECT_EQ(error, exr + rightNow);
}

TEST_F(loadPhotoTest, OpenExrAndDamagedRadianceFiles) {
    QString error;
    HALVORA_REQUIRE_DATA();
    const QString exr = dataFile("radiance/openexr_images/ScanLines/Desk.exr");
    std::vector<uint16_t> unused;
    const auto outcomes = loadSequence(*project, {exr}, &unused, &error);
    ASSERT_EQ(outcomes.size(), 1u) << error.toStdString();
    ASSERT_EQ(outcomes[0].code, 0);
    EXPECT_TRUE(project->photos[0]->isRadiance);
    EXPECT_EQ(project->currentInputFormat, int(formatOpenExr));
    EXPECT_GT(project->photos[0]->meanBrightness, 0.0);

    // A damaged file whose header reads fine fails to decode cleanly (code 2) with its log line.
    processingProject pr(nullptr, makeTempDir("scratch"));
    auto photo = preparePhoto(pr, dataFile("formats/rgbe/memorial_DAMAGED_crlf.hdr"), 0, false, &error);
    ASSERT_TRUE(photo) << error.toStdString();
    {
        logCapture log;
        const auto damaged = loadPrepared(pr, std::move(photo), unused);
        EXPECT_EQ(damaged.code, 2);
        EXPECT_TRUE(damaged.message.startsWith(dataFile("formats/rgbe/memorial_DAMAGED_crlf.hdr") +
                                               ": corrupt pixel data: "))
            << damaged.message.toStdString();
        EXPECT_TRUE(log.contains("loadPhotoWorker::loadPhoto: Failed to load Radiance RGBE image: " +
                                 damaged.message.toStdString()));
    }
}

TEST_F(loadPhotoTest, FitsPictureLoadsAsSixteenBitPhoto) {
    QString error;
    HALVORA_REQUIRE_DATA();
    const QString file = dataFile("formats/fits/HorseHead.fits");
    std::vector<uint16_t> samples;
    const auto outcomes = loadSequence(*project, {file}, &samples, &error);
    ASSERT_EQ(outcomes.size(), 1u) << error.toStdString();
    ASSERT_EQ(outcomes[0].code, 0);
    EXPECT_EQ(project->photos[0]->bitDepthClass, 2);
    // The stored samples are what the FITS reader delivers.
    std::vector<uint16_t> direct(size_t(project->width) * project->height * 3);
    ASSERT_TRUE(imageLoader::loadFITS(file, project->width, project->height, direct.data(), nullptr));
    EXPECT_EQ(samples, direct);
}

TEST_F(loadPhotoTest, SixteenBitAndFloatTiffs) {
    QString error;
    HALVORA_REQUIRE_DATA();
    const QString deep = dataFile("formats/float_tiff_pfm_gainmap/imagers_rgb-3c-16b.tiff");
    std::vector<uint16_t> samples;
    const auto outcomes = loadSequence(*project, {deep}, &samples, &error);
    ASSERT_EQ(outcomes.size(), 1u) << error.toStdString();
    ASSERT_EQ(outcomes[0].code, 0);
    EXPECT_EQ(project->photos[0]->bitDepthClass, 2);
    EXPECT_FALSE(project->photos[0]->isRadiance);
    std::vector<uint16_t> direct(size_t(project->width) * project->height * 3);
    float lo = 0, hi = 0;
    exifInfo_t exif;
    ASSERT_TRUE(imageLoader::loadTIFF(deep, direct.data(), nullptr, lo, hi, exif, nullptr));
    EXPECT_EQ(samples, direct);

    // 32-bit float: the project's radiance picture, not a temporary file.
    const QString flt = dataFile("formats/float_tiff_pfm_gainmap/imagers_rgb32f_color.tiff");
    processingProject pr(nullptr, makeTempDir("scratch"));
    auto photo = preparePhoto(pr, flt, 0, false, &error);
    ASSERT_TRUE(photo) << error.toStdString();
    EXPECT_TRUE(photo->isRadiance);
    std::vector<uint16_t> unused;
    ASSERT_EQ(loadPrepared(pr, std::move(photo), unused).code, 0);
    std::vector<float> floats(size_t(32) * 32 * 3);
    ASSERT_TRUE(imageLoader::loadTIFF(flt, nullptr, floats.data(), lo, hi, exif, nullptr));
    EXPECT_EQ(0, std::memcmp(floats.data(), pr.rgbFloatBuffer(), floats.size() * sizeof(float)));
    EXPECT_FALSE(pr.photos[0]->tempFiles[0]);
    EXPECT_EQ(pr.photos[0]->thumbnail.size(), QSize(8, 8));
}

TEST(loadPhotoTempRecord, PiecewiseWritesReadBackExactlyWithOrWithoutDirectTransfers) {
    // Odd piece sizes cross the 8 MiB staging block and the 4 KiB alignment of direct writes.
    std::vector<uint8_t> data(size_t(19) * 1024 * 1024 + 1234);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t((i * 131) ^ (i >> 11));
    QStringList dirs = {makeTempDir("record") + "/"};
    if (QFileInfo(QStringLiteral("/dev/shm")).isWritable()) // tmpfs refuses direct transfers
        dirs << QDir(QStringLiteral("/dev/shm")).filePath(QFileInfo(makeTempDir("shm")).fileName()) + "/";
    for (const QString& dir : dirs) {
        QDir().mkpath(dir);
        tempFileRecord record(dir);
        ASSERT_TRUE(record.isOpen()) << dir.toStdString();
        size_t at = 0;
        for (size_t piece : {size_t(1), size_t(4095), size_t(3u << 20), size_t(9u << 20) + 7})
            if (at < data.size()) {
                const size_t n = std::min(piece, data.size() - at);
                ASSERT_TRUE(record.append(data.data() + at, n, "test"));
                at += n;
            }
        ASSERT_TRUE(record.append(data.data() + at, data.size() - at, "test"));
        ASSERT_TRUE(record.finish(data.size(), "test"));
        EXPECT_EQ(record.size(), qint64(data.size()));
        std::vector<uint8_t> back(data.size());
        ASSERT_TRUE(record.read(back.data(), back.size(), "test"));
        EXPECT_TRUE(back == data) << dir.toStdString();
        // A wrong total is reported, not taken as success.
        tempFileRecord shortRecord(dir);
        ASSERT_TRUE(shortRecord.append(data.data(), 100, "test"));
        logCapture log;
        EXPECT_FALSE(shortRecord.finish(200, "test"));
        EXPECT_TRUE(log.contains("test: write() failed (size=100/200)\n"));
        if (dir.startsWith("/dev/shm")) QDir(dir).removeRecursively();
    }

    // A whole-buffer write takes the direct path for its aligned front and reads back the same.
    tempFileRecord whole(makeTempDir("whole") + "/");
    ASSERT_TRUE(whole.write(data.data(), data.size(), "test"));
    std::vector<uint8_t> back(data.size());
    ASSERT_TRUE(whole.read(back.data(), back.size(), "test"));
    EXPECT_TRUE(back == data);
}
