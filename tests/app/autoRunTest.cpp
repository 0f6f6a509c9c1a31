// The unattended run end to end, as a host program or a script would start it: real photos in, a
// saved picture out, and a plain non-zero exit for every way it can fail.

#include "autoRunSandbox.h"
#include "imageio/imageLoader.h"
#include "imageio/tiffReader.h"
#include "support/radianceFiles.h"
#include "support/testSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numeric>
#include <vector>

namespace {

using halvora::test::sandbox;

// Three frames of the desk bracket two stops apart (4 s, 1 s, 1/4 s).
QStringList deskBracket() {
    const QString d = halvora::test::dataFile("brackets/desk_canon_s45_13exp/");
    return {d + "img03.jpg", d + "img05.jpg", d + "img08.jpg"};
}

struct spread {
    double mean = 0, stddev = 0;
    int p1 = 0, p99 = 0; ///< 1st and 99th percentile of the 8-bit luminance
};

spread lumaSpread(const QImage& image) {
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    std::vector<double> l;
    for (int y = 0; y < grey.height(); ++y)
        l.insert(l.end(), grey.constScanLine(y), grey.constScanLine(y) + grey.width());
    std::sort(l.begin(), l.end());
    spread s;
    s.mean = std::accumulate(l.begin(), l.end(), 0.0) / double(l.size());
    const double squares = std::inner_product(l.begin(), l.end(), l.begin(), 0.0) / double(l.size());
    s.stddev = std::sqrt(std::max(0.0, squares - s.mean * s.mean));
    s.p1 = int(l[l.size() / 100]);
    s.p99 = int(l[l.size() * 99 / 100]);
    return s;
}

// A tone-mapped photograph uses most of the value range; a flat, black or white picture does not.
void expectPhotographicJpeg(const QString& fileName, int width, int height) {
    ASSERT_TRUE(QFileInfo::exists(fileName)) << fileName.toStdString();
    QFile f(fileName);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray head = f.read(3);
    EXPECT_EQ(head, QByteArray("\xFF\xD8\xFF", 3)) << "not a JPEG stream";
    QImage image;
    ASSERT_TRUE(image.load(fileName, "JPEG"));
    EXPECT_EQ(image.width(), width);
    EXPECT_EQ(image.height(), height);
    const spread s = lumaSpread(image);
    EXPECT_GT(s.stddev, 20.0);
    EXPECT_GT(s.p99 - s.p1, 120);
    EXPECT_GT(s.mean, 15.0);
    EXPECT_LT(s.mean, 240.0);
}

// Luminance ratio between the brightest and darkest half percent of a radiance picture.
double radianceRange(const std::vector<float>& rgb) {
    std::vector<float> l;
    l.reserve(rgb.size() / 3);
    for (size_t i = 0; i + 2 < rgb.size(); i += 3)
        l.push_back(0.2126f * rgb[i] + 0.7152f * rgb[i + 1] + 0.0722f * rgb[i + 2]);
    std::sort(l.begin(), l.end());
    const float lo = l[l.size() / 200], hi = l[l.size() - 1 - l.size() / 200];
    return lo > 0 ? double(hi) / lo : 1e9;
}

TEST(autoRun, bracketToJpegWithPluginCallbackAndRadianceFile) {
    HALVORA_REQUIRE_DATA();
    sandbox box;
    const QString jpg = box.out + "/desk.jpg", hdr = box.out + "/desk.hdr";
    int code = -1;
    QStringList args = {"--auto", "--plugin", "--output_fn=" + jpg, "--save_hdr=" + hdr};
    args << deskBracket();
    ASSERT_TRUE(box.run(args, code)) << "must not hang";
    EXPECT_EQ(code, 0) << box.logText().toStdString();
    expectPhotographicJpeg(jpg, 1024, 768);

    // The host learns the saved file from the callback next to it.
    QFile callback(box.out + "/Halvora3_pluginCallback");
    ASSERT_TRUE(callback.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromLocal8Bit(callback.readAll()), "\"" + QDir::toNativeSeparators(jpg) + "\"");

    // The merged picture holds more range than any one 8-bit frame could (255 : 1 at best): the
    // frames were merged (how well is the merge tests' matter).
    const halvora::test::radianceFile merged = halvora::test::loadRadianceFile(hdr);
    ASSERT_TRUE(merged.loadOk) << merged.error.toStdString();
    ASSERT_EQ(QSize(merged.width, merged.height), QSize(1024, 768));
    const std::vector<float>& rgb = merged.pixels;
    EXPECT_GT(radianceRange(rgb), 300.0);

    const QString log = box.logText();
    EXPECT_TRUE(log.contains("Loading setings: ")) << "the default look is loaded at start";
    EXPECT_FALSE(log.contains("Failed to load default tone mapping settings"));
    EXPECT_TRUE(box.sessions().isEmpty()) << "the temporary store is removed at the end";
}

// The writers' samples are checked in the image I/O tests; here the options reach them.
TEST(autoRun, tiffOutputsInBothDepthsAndOpenExrFile) {
    HALVORA_REQUIRE_DATA();
    sandbox box;
    int code = -1;
    // A bare output name goes into --output_dir; options the program cannot honour are reported.
    QStringList args = {"--auto",
                        "--output_fn=desk16.tif",
                        "--output_dir=" + box.out,
                        "--tiff16",
                        "--save_hdr=" + box.out + "/desk.exr",
                        "--noise_filter=2,2",
                        "--output_to_srgb"};
    args << deskBracket();
    ASSERT_TRUE(box.run(args, code));
    EXPECT_EQ(code, 0) << box.logText().toStdString();
    // Colour management is off in this sandbox: the colours of the photos are not known.
    EXPECT_TRUE(box.logText().contains("Color management is off: the result is saved as it is"));
    int w = 0, h = 0, bits = 0;
    ASSERT_TRUE(halvora::tiffQuickInfo(box.out + "/desk16.tif", w, h, bits, nullptr));
    EXPECT_EQ(QSize(w, h), QSize(1024, 768));
    EXPECT_EQ(bits, 16);
    ASSERT_TRUE(halvora::getEXRinfo(box.out + "/desk.exr", w, h, nullptr));
    EXPECT_EQ(QSize(w, h), QSize(1024, 768));

    ASSERT_TRUE(box.run(
        QStringList{"--auto", "--output_fn=" + box.out + "/desk8.tif", "--tiff8"} + deskBracket(), code));
    EXPECT_EQ(code, 0);
    ASSERT_TRUE(halvora::tiffQuickInfo(box.out + "/desk8.tif", w, h, bits, nullptr));
    EXPECT_EQ(bits, 8);
}

TEST(autoRun, singlePhotoAndRadianceFileProduceResults) {
    HALVORA_REQUIRE_DATA();
    sandbox box;
    int code = -1;
    const QString one = box.out + "/one.jpg";
    ASSERT_TRUE(box.run({"--auto", "--output_fn=" + one, deskBracket()[1]}, code));
    EXPECT_EQ(code, 0) << box.logText().toStdString();
    expectPhotographicJpeg(one, 1024, 768);
    EXPECT_TRUE(box.logText().contains("LDR preprocess"));

    const QString fromHdr = box.out + "/forest.jpg";
    ASSERT_TRUE(box.run({"--auto", "--output_fn=" + fromHdr,
                         halvora::test::dataFile("radiance/polyhaven_hdri_1k/forest_slope_1k.hdr")},
                        code));
    EXPECT_EQ(code, 0) << box.logText().toStdString();
    expectPhotographicJpeg(fromHdr, 1024, 512);
}

// That a settings file gives the look is seen in the rendered-look test.
TEST(autoRun, aSettingsFileThatCannotBeReadEndsTheRun) {
    HALVORA_REQUIRE_DATA();
    sandbox box;
    // It exists but is no settings file: the run ends instead of using another look.
    QFile junk(box.root + "/junk.hvsx");
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("<not xml");
    junk.close();
    int code = -1;
    ASSERT_TRUE(box.run(QStringList{"--auto", "--tm_settings=" + box.root + "/junk.hvsx",
                                    "--output_fn=" + box.out + "/junk.jpg"} +
                            deskBracket(),
                        code, 20000));
    EXPECT_NE(code, 0);
    EXPECT_FALSE(QFileInfo::exists(box.out + "/junk.jpg"));
}

TEST(autoRun, runsAreRepeatableAcrossThreadCounts) {
    HALVORA_REQUIRE_DATA();
    sandbox one("[Performance]\nCoreCount=1\n"), many;
    int code = -1;
    ASSERT_TRUE(one.run(QStringList{"--auto", "--output_fn=" + one.out + "/a.tif"} + deskBracket(), code));
    ASSERT_EQ(code, 0);
    ASSERT_TRUE(many.run(QStringList{"--auto", "--output_fn=" + many.out + "/a.tif"} + deskBracket(), code));
    ASSERT_EQ(code, 0);
    QFile a(one.out + "/a.tif"), b(many.out + "/a.tif");
    ASSERT_TRUE(a.open(QIODevice::ReadOnly));
    ASSERT_TRUE(b.open(QIODevice::ReadOnly));
    EXPECT_TRUE(a.readAll() == b.readAll()) << "the result depends on the thread count";
}

TEST(autoRun, failuresEndNonZeroWithAReason) {
    HALVORA_REQUIRE_DATA();
    sandbox box;
    int code = 0;
    // Photos that are missing or no pictures are the hostile-input runs' cases.
    QFile junk(box.root + "/junk.jpg");
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.close();

    // An output folder that cannot exist (its parent is a file): refused before any merging.
    ASSERT_TRUE(box.run(
        QStringList{"--auto", "--output_fn=" + box.root + "/junk.jpg/out.jpg"} + deskBracket(), code, 20000));
    EXPECT_NE(code, 0);
    const QString log = box.logText();
    EXPECT_TRUE(log.contains("output folder does not exist or cannot be written")) << log.toStdString();
    EXPECT_FALSE(log.contains("Generate HDR...")) << "the run must fail before the merge";

    // A --save_hdr folder that does not exist: the reason reaches the terminal.
    QString errors;
    ASSERT_TRUE(box.run(QStringList{"--auto", "--output_fn=" + box.out + "/z.jpg",
                                    "--save_hdr=" + box.root + "/nowhere/m.hdr"} +
                            deskBracket(),
                        code, 20000, &errors));
    EXPECT_NE(code, 0);
    EXPECT_TRUE(errors.contains("halvora: " + QDir::toNativeSeparators(box.root + "/nowhere") +
                                ": the folder for --save_hdr does not exist or cannot be written"))
        << errors.toStdString();
    EXPECT_FALSE(errors.contains("HDR save disabled")) << "the run does not go on without it";
    EXPECT_TRUE(box.sessions().isEmpty());
}

// What a script sees: nothing on standard error when all goes well (the stages with --verbose), and
// for every refusal a line naming the file and the reason, with a non-zero exit.
TEST(autoRun, theTerminalShowsStagesWhenAskedAndAlwaysTheReason) {
    HALVORA_REQUIRE_DATA();
    sandbox box;
    int code = -1;
    QString errors;
    ASSERT_TRUE(box.run(QStringList{"--auto", "--output_fn=" + box.out + "/quiet.jpg"} + deskBracket(), code,
                        60000, &errors));
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(errors.trimmed().isEmpty()) << "a quiet run says nothing: " << errors.toStdString();
    ASSERT_TRUE(
        box.run(QStringList{"--auto", "--verbose", "--output_fn=" + box.out + "/loud.jpg"} + deskBracket(),
                code, 60000, &errors));
    EXPECT_EQ(code, 0);
    for (const char* stage :
         {"halvora: Loading 3 photo", "halvora: HDR generation...", "halvora: HDR generation done (",
          "halvora: Preparing for tone mapping done (", "halvora: saved "})
        EXPECT_TRUE(errors.contains(stage)) << "missing: " << stage << "\n" << errors.toStdString();

    struct refusal {
        QStringList arguments;
        QString expected;
    };
    const QString missingLook = box.root + "/no-such-look.hvsx";
    const refusal refusals[] = {
        {QStringList{"--tm_settings=" + missingLook, "--output_fn=" + box.out + "/a.jpg"} + deskBracket(),
         QDir::toNativeSeparators(missingLook) + ": no such file"},
        {QStringList{"--output_fn=" + box.out + "/a.jpg"}, "an automatic run needs at least one input file"},
    };
    for (const refusal& r : refusals) {
        ASSERT_TRUE(box.run(QStringList{"--auto"} + r.arguments, code, 30000, &errors));
        EXPECT_NE(code, 0) << r.expected.toStdString();
        EXPECT_TRUE(errors.contains("halvora: ") && errors.contains(r.expected))
            << "expected " << r.expected.toStdString() << " in: " << errors.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(box.out + "/a.jpg"));
    EXPECT_TRUE(box.sessions().isEmpty());
}

// A name that is not valid UTF-8 cannot be written under exactly its bytes through the toolkit: the
// run refuses it clearly instead of saving under another name.
TEST(autoRun, anOutputNameThatIsNotUtf8IsRefused) {
    HALVORA_REQUIRE_DATA();
    sandbox box;
    // QProcess passes arguments as text: a script file hands over the raw bytes, as a shell would.
    const QByteArray name = QFile::encodeName(box.out) + "/r\xe9sultat.jpg";
    QFile script(box.root + "/run.sh");
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("exec '" + QFile::encodeName(halvora::test::halvoraBinary()) +
                 "' --auto '--output_fn=" + name + "' '" + QFile::encodeName(deskBracket()[0]) + "' '" +
                 QFile::encodeName(deskBracket()[1]) + "'\n");
    script.close();
    QProcess p;
    p.setProcessEnvironment(box.environment());
    p.start("/bin/sh", {script.fileName()});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_NE(p.exitCode(), 0);
    const QString errors = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_TRUE(errors.contains("not valid in the system's file-name encoding")) << errors.toStdString();
    EXPECT_TRUE(QDir(box.out).entryList(QDir::Files).isEmpty()) << "nothing is written under any name";
}

} // namespace

namespace {

// SIGTERM (a service manager's stop, or kill) in the middle of the work: the run stops in order and
// says so — exit status 143, "interrupted" on standard error, no result and no session left behind.
TEST(autoRun, aTerminatedRunEndsWith143AndLeavesNothing) {
    HALVORA_REQUIRE_DATA();
    const QString night = halvora::test::dataFile("brackets/iphone_xr_night_9exp/");
    const QStringList photos = {night + "IMG_3869.jpeg", night + "IMG_3872.jpeg", night + "IMG_3875.jpeg"};
    // The moments: while the photos load, and while the picture is prepared for tone mapping.
    for (const char* moment : {"Starting image load threads", "Local Contrast"}) {
        sandbox box;
        QProcess p;
        p.setProcessEnvironment(box.environment());
        p.start(halvora::test::halvoraBinary(),
                QStringList{"--auto", "--output_fn=" + box.out + "/n.jpg"} + photos);
        ASSERT_TRUE(p.waitForStarted(20000));
        QElapsedTimer guard;
        guard.start();
        while (!box.logText().contains(moment) && p.state() == QProcess::Running && guard.elapsed() < 60000)
            QThread::msleep(2);
        ASSERT_EQ(p.state(), QProcess::Running) << "the run ended before " << moment;
        p.terminate();
        ASSERT_TRUE(p.waitForFinished(30000)) << "the ordered shutdown must be prompt";
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 143) << moment;
        EXPECT_TRUE(QString::fromLocal8Bit(p.readAllStandardError()).contains("halvora: interrupted"))
            << moment;
        EXPECT_FALSE(QFileInfo::exists(box.out + "/n.jpg")) << moment;
        EXPECT_TRUE(QDir(box.out).entryList(QDir::Files | QDir::Hidden).isEmpty()) << moment;
        EXPECT_TRUE(box.sessions().isEmpty()) << "no session directory is left behind: " << moment;
    }
}

} // namespace

// ---- camera RAW photos and the metadata of results

namespace {

// Every tag exiftool finds in `file`, as numbers where it can (-n).
QJsonObject exiftoolTags(const QString& file) {
    QProcess p;
    p.start("exiftool", {"-j", "-n", file});
    if (!p.waitForFinished(30000)) return {};
    const QJsonArray all = QJsonDocument::fromJson(p.readAllStandardOutput()).array();
    return all.isEmpty() ? QJsonObject() : all.first().toObject();
}

bool haveExiftool() {
    return !QStandardPaths::findExecutable("exiftool").isEmpty();
}

} // namespace

// A real bracket merged unattended: the result carries the reference photo's camera, lens and date and
// the comment listing the photos, read back with exiftool itself (which tags a transfer writes and
// removes is the metadata tool's own test).
TEST(autoRun, aMergedResultCarriesTheReferencePhotosExif) {
    HALVORA_REQUIRE_DATA();
    if (!haveExiftool()) GTEST_SKIP() << "exiftool is not installed";
    sandbox box;
    QStringList photos;
    for (const char* name : {"AJAZ0816.jpg", "AJAZ0818.jpg", "AJAZ0820.jpg"})
        photos << QFileInfo(halvora::test::dataFile(QString("brackets/mysore_palace_fuji_xt1_7exp/") + name))
                      .canonicalFilePath();
    // The reference is the photo whose EV (light collected: t / N² × ISO) is closest to the mean.
    std::vector<QJsonObject> sources;
    std::vector<double> evs;
    for (const QString& photo : photos) {
        sources.push_back(exiftoolTags(photo));
        const QJsonObject& t = sources.back();
        evs.push_back(std::log2(t["ExposureTime"].toDouble() / std::pow(t["FNumber"].toDouble(), 2) *
                                t["ISO"].toDouble() / 100.0));
    }
    const double mean = (evs[0] + evs[1] + evs[2]) / 3;
    size_t reference = 0;
    for (size_t i = 1; i < evs.size(); ++i)
        if (std::abs(evs[i] - mean) <= std::abs(evs[reference] - mean)) reference = i;

    const QString result = box.out + "/merged.jpg";
    int code = -1;
    ASSERT_TRUE(box.run(QStringList{"--auto", "--output_fn=" + result} + photos, code, 60000));
    ASSERT_EQ(code, 0) << box.logText().toStdString();
    const QJsonObject tags = exiftoolTags(result);
    const QJsonObject& source = sources[reference];
    for (const char* copied :
         {"Make", "Model", "LensModel", "DateTimeOriginal", "GPSLatitude", "GPSLongitude"})
        EXPECT_EQ(tags[copied], source[copied]) << copied;
    EXPECT_EQ(tags["Make"].toString(), "FUJIFILM");
    EXPECT_EQ(tags["Comment"].toString(), "HDR created and tone mapped with Halvora 3.0.1 : [1] " +
                                              photos[0] + ", [2] " + photos[1] + ", [3] " + photos[2]);
    EXPECT_EQ(tags["ImageWidth"].toInt(), 640); // the picture is still the one written
    EXPECT_TRUE(QDir(box.out).entryList(QDir::Files) == QStringList{"merged.jpg"}) << "no temporary left";
}

// One RAW photo is enhanced, as a JPEG would be (cut RAW files are the converter tests' cases).
TEST(autoRun, aRawPhotoIsEnhanced) {
    HALVORA_REQUIRE_DATA();
    sandbox box;
    const QString dng =
        QFileInfo(halvora::test::dataFile("formats/raw/canon_eos_6d_lossy.dng")).canonicalFilePath();
    const QString result = box.out + "/raw.jpg";
    int code = -1;
    QString errors;
    ASSERT_TRUE(box.run({"--auto", "--output_fn=" + result, dng}, code, 60000, &errors));
    ASSERT_EQ(code, 0) << errors.toStdString();
    const QImage picture(result);
    EXPECT_EQ(picture.size(), QSize(1224, 816));
    // Not a black or white field: the tone-mapped photo has a spread of brightness.
    const spread s = lumaSpread(picture);
    EXPECT_GT(s.stddev, 10.0);
    EXPECT_GT(s.p99 - s.p1, 60);
    if (haveExiftool()) {
        const QJsonObject tags = exiftoolTags(result);
        EXPECT_EQ(tags["Model"].toString(), "Canon EOS 6D");
        EXPECT_EQ(tags["Comment"].toString(), "Single photo enhanced with Halvora 3.0.1 .");
        EXPECT_NEAR(tags["ExposureTime"].toDouble(), 1.0 / 60.0, 1e-9); // one photo keeps its exposure
    }
}

// Without exiftool the program works on: the result is saved, the missing tool is reported once, and
// the failed transfer is said at the terminal.
TEST(autoRun, aMissingExiftoolIsReportedOnceAndTheResultSaved) {
    HALVORA_REQUIRE_DATA();
    sandbox box;
    box.path = box.root + "/no-tools";
    QDir().mkpath(box.path);
    const QString result = box.out + "/single.jpg";
    int code = -1;
    QString errors;
    ASSERT_TRUE(box.run({"--auto", "--output_fn=" + result,
                         halvora::test::dataFile("brackets/mysore_palace_fuji_xt1_7exp/AJAZ0816.jpg")},
                        code, 60000, &errors));
    EXPECT_EQ(code, 0) << errors.toStdString();
    EXPECT_TRUE(QImage(result).size() == QSize(640, 427));
    const QString log = box.logText();
    EXPECT_EQ(
        log.count("Exiftool failed to initialize. EXIF transfer and color space extraction are disabled!"), 1)
        << log.toStdString();
    EXPECT_TRUE(errors.contains("halvora: EXIF transfer failed.")) << errors.toStdString();
}

TEST(autoRun, colourManagedPhotoIsSavedInSrgbOnRequestAndKeepsItsProfileOtherwise) {
    HALVORA_REQUIRE_DATA();
    if (QStandardPaths::findExecutable("exiftool").isEmpty()) GTEST_SKIP() << "exiftool is not installed";
    sandbox box("[ColorManagement]\nEnabled=true\nInputProfile=0\nOutputProfile=1\n");
    const QString profiles = QFileInfo(halvora::test::halvoraBinary()).absolutePath() + "/color profiles/";
    const QString photo = box.root + "/desk_adobe.jpg";
    ASSERT_TRUE(QFile::copy(deskBracket()[1], photo));
    QProcess embed;
    embed.start("exiftool",
                {"-q", "-overwrite_original", "-icc_profile<=" + profiles + "AdobeRGB1998.icc", photo});
    ASSERT_TRUE(embed.waitForFinished(30000) && embed.exitCode() == 0);
    auto profileOf = [](const QString& file) {
        QProcess p;
        p.start("exiftool", {"-b", "-icc_profile", file});
        p.waitForFinished(30000);
        return p.readAllStandardOutput();
    };
    auto fileBytes = [](const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    for (const bool convert : {true, false}) {
        const QString out = box.out + (convert ? "/srgb.jpg" : "/kept.jpg");
        QStringList args = {"--auto", "--output_fn=" + out, photo};
        if (convert) args << "--output_to_srgb";
        int code = -1;
        QString errors;
        ASSERT_TRUE(box.run(args, code, 30000, &errors));
        EXPECT_EQ(code, 0) << errors.toStdString();
        EXPECT_FALSE(errors.contains("colour management is off")) << errors.toStdString();
        EXPECT_EQ(profileOf(out), fileBytes(profiles + (convert ? "sRGB.icm" : "AdobeRGB1998.icc")))
            << out.toStdString();
        // Each run writes its own debug log.
        const QString log = box.logText();
        EXPECT_TRUE(log.contains("Using color profile: Adobe RGB")) << log.toStdString();
        EXPECT_EQ(log.count("Converting to sRGB..."), convert ? 1 : 0);
    }
}
