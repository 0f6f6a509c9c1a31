// Colour management of a project: which profiles the options lead to, refusing what cannot be a
// monitor profile, saying once when colour management has to be switched off for a photo, and that
// the set-up's conversions follow the published curves.

#include "color/colorManagement.h"
#include "base/parallelFor.h"
#include "base/runContext.h"
#include "colorMath.h"
#include "colorTestSupport.h"
#include "support/testSupport.h"

#include <QFile>
#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace halvora;
using namespace colorMath;

namespace {

colorSetupRequest_t request(int input, int monitor, const QString& photoCopy = QString()) {
    colorSetupRequest_t r;
    r.options.enabled = true;
    r.options.inputProfile = input;
    r.options.outputProfile = monitor;
    r.profileDir = colorTest::profileDir();
    r.photoProfilePath = photoCopy;
    return r;
}

/// Sets colour management up and fails the test when that does not work.
void setUp(colorManagement& cm, const colorSetupRequest_t& r) {
    colorSetupResult_t result;
    QString error;
    ASSERT_TRUE(cm.setupForPhoto(r, result, &error)) << error.toStdString();
    ASSERT_TRUE(cm.active());
}

} // namespace

TEST(colorManagement, optionsChooseTheProfiles) {
    const QString dir = halvora::test::makeTempDir("choices");
    const QString copy = dir + "/~profile3.icc";
    ASSERT_TRUE(halvora::test::writeBytes(copy, colorTest::shippedBytes("AdobeRGB1998.icc")));
    colorManagement cm;
    colorSetupResult_t result;
    QString error;

    // The photo's own profile, or the chosen space whatever the photo embeds.
    setUp(cm, request(0, 1, copy));
    EXPECT_EQ(cm.workingProfilePath(), copy);
    EXPECT_EQ(cm.workingDescription(), "Adobe RGB (1998) compatible (Halvora)");
    setUp(cm, request(3, 1, copy));
    EXPECT_EQ(cm.workingProfilePath(), colorTest::profileDir() + "/WideGamutRGB.icc");
    colorSetupRequest_t forced = request(3, 1, copy);
    forced.forceEmbedded = true;
    setUp(cm, forced);
    EXPECT_EQ(cm.workingProfilePath(), copy);
    setUp(cm, request(0, 1, dir + "/~profile9.icc"));
    EXPECT_EQ(cm.workingProfilePath(), colorTest::profileDir() + "/sRGB.icm");
    setUp(cm, request(4, 1));
    EXPECT_EQ(cm.workingProfilePath(), colorTest::profileDir() + "/ProPhotoRGB.icm");
    EXPECT_EQ(cm.srgbProfilePath(), colorTest::profileDir() + "/sRGB.icm");

    // Monitor choices; a custom file that was deleted and unknown indices become sRGB and the
    // option is to be reset to 1.
    halvora::test::logCapture log;
    ASSERT_TRUE(cm.setupForPhoto(request(1, 3), result, &error));
    EXPECT_TRUE(log.contains("/AppleRGB.icc\n"));
    EXPECT_FALSE(result.resetMonitorChoice);
    EXPECT_TRUE(cm.monitorDescription().startsWith("Apple RGB"));
    colorSetupRequest_t custom = request(1, 0);
    custom.options.customMonitorProfile = dir + "/deleted.icc";
    ASSERT_TRUE(cm.setupForPhoto(custom, result, &error));
    EXPECT_TRUE(result.resetMonitorChoice);
    EXPECT_FALSE(result.clearCustomMonitorProfile);
    EXPECT_TRUE(cm.monitorDescription().startsWith("sRGB"));
    ASSERT_TRUE(cm.setupForPhoto(request(1, 9), result, &error));
    EXPECT_TRUE(result.resetMonitorChoice);
    ASSERT_TRUE(
        halvora::test::writeBytes(dir + "/monitor.icc", colorTest::shippedBytes("ColorMatchRGB.icc")));
    custom.options.customMonitorProfile = dir + "/monitor.icc";
    ASSERT_TRUE(cm.setupForPhoto(custom, result, &error));
    EXPECT_FALSE(result.resetMonitorChoice);
    EXPECT_TRUE(cm.monitorDescription().startsWith("ColorMatch"));
}

TEST(colorManagement, aMonitorProfileThatIsNotRgbIsRefused) {
    const QString dir = halvora::test::makeTempDir("monitors");
    struct kind {
        const char* file;
        QByteArray bytes;
        const char* signature;
    };
    const kind kinds[] = {{"cmyk.icc", colorTest::cmykProfile(), "cs_signature=0x434d594b"},
                          {"grey.icc", colorTest::greyProfile(), "cs_signature=0x47524159"}};
    for (const kind& k : kinds) {
        ASSERT_FALSE(k.bytes.isEmpty());
        ASSERT_TRUE(halvora::test::writeBytes(dir + "/" + k.file, k.bytes));
        colorSetupRequest_t r = request(1, 0);
        r.options.customMonitorProfile = dir + "/" + k.file;
        colorManagement cm;
        colorSetupResult_t result;
        QString error;
        halvora::test::logCapture log;
        EXPECT_FALSE(cm.setupForPhoto(r, result, &error));
        EXPECT_EQ(error, dir + "/" + k.file + ": The color profile is not RGB.");
        EXPECT_EQ(result.failedStage, colorSetupResult_t::stageMonitorProfile);
        EXPECT_TRUE(result.resetMonitorChoice);
        EXPECT_TRUE(result.clearCustomMonitorProfile);
        EXPECT_TRUE(log.contains(std::string(k.signature) + " (cmsSigRgbData=0x52474220)\n")) << log.text();
        EXPECT_FALSE(cm.active());
        std::vector<uint8_t> row = {10, 200, 30};
        cm.toMonitor(row.data(), 1);
        EXPECT_EQ(row, (std::vector<uint8_t>{10, 200, 30})) << "inactive colour management changes nothing";
    }
}

TEST(colorManagement, brokenProfilesStopTheSetUpAtTheirStep) {
    const QString dir = halvora::test::makeTempDir("broken");
    ASSERT_TRUE(
        halvora::test::writeBytes(dir + "/~profile0.icc", colorTest::shippedBytes("sRGB.icm").left(200)));
    colorManagement cm;
    setUp(cm, request(1, 1));
    colorSetupResult_t result;
    QString error;
    EXPECT_FALSE(cm.setupForPhoto(request(0, 1, dir + "/~profile0.icc"), result, &error));
    EXPECT_EQ(result.failedStage, colorSetupResult_t::stageInputProfile);
    EXPECT_TRUE(error.startsWith(dir + "/~profile0.icc: truncated")) << error.toStdString();
    EXPECT_FALSE(cm.active()) << "a failed set-up leaves colour management off";

    colorSetupRequest_t noShipped = request(1, 1);
    noShipped.profileDir = dir;
    EXPECT_FALSE(cm.setupForPhoto(noShipped, result, &error));
    EXPECT_EQ(result.failedStage, colorSetupResult_t::stageInputProfile);
    EXPECT_EQ(error, dir + "/sRGB.icm: no such file");
}

TEST(colorManagement, unlinkableProfilesTurnColourManagementOffAndSaySoOnce) {
    const QString dir = halvora::test::makeTempDir("fallback");
    const QString copy = dir + "/~profile0.icc";
    ASSERT_TRUE(halvora::test::writeBytes(copy, colorTest::taglessRgbProfile()));
    colorManagement cm;
    colorSetupResult_t result;
    QString error;
    halvora::test::logCapture log;
    ASSERT_TRUE(cm.setupForPhoto(request(0, 2, copy), result, &error)) << error.toStdString();
    EXPECT_TRUE(result.notice.startsWith("colour management is off for this photo: " + copy +
                                         ": cannot be converted"))
        << result.notice.toStdString();
    EXPECT_TRUE(log.contains("colorManagement::createTransforms: colour management is off for this photo: "));
    EXPECT_TRUE(cm.usingFallback());
    EXPECT_TRUE(cm.active());
    EXPECT_EQ(cm.workingProfilePath(), colorTest::profileDir() + "/sRGB.icm");
    EXPECT_TRUE(cm.workingDescription().startsWith("sRGB"));

    // sRGB → sRGB stands in for every transform: pixels stay as they are.
    std::vector<uint8_t> row = {0, 1, 2, 100, 150, 200, 255, 254, 253};
    const std::vector<uint8_t> before = row;
    cm.toMonitor(row.data(), 3);
    cm.fromMonitor(row.data(), 3);
    EXPECT_EQ(row, before);
    std::vector<uint16_t> row16 = {0, 1000, 32640, 7, 32639, 16000};
    const std::vector<uint16_t> before16 = row16;
    cm.toSrgbWorkingScale(row16.data(), 2);
    EXPECT_EQ(row16, before16);

    // The same cause again (the next photo of the sequence, a redraw) is not repeated...
    ASSERT_TRUE(cm.setupForPhoto(request(0, 2, copy), result, &error));
    EXPECT_TRUE(result.notice.isEmpty()) << result.notice.toStdString();
    EXPECT_TRUE(cm.usingFallback());
    // ...but after colour management worked, a new failure is told again.
    setUp(cm, request(2, 1));
    EXPECT_FALSE(cm.usingFallback());
    ASSERT_TRUE(cm.setupForPhoto(request(0, 2, copy), result, &error));
    EXPECT_FALSE(result.notice.isEmpty());

    // A monitor profile that cannot be linked is told the same way.
    colorSetupRequest_t badMonitor = request(2, 0);
    badMonitor.options.customMonitorProfile = copy;
    ASSERT_TRUE(cm.setupForPhoto(badMonitor, result, &error));
    EXPECT_TRUE(result.notice.startsWith("colour management is off for this photo: "))
        << result.notice.toStdString();
}

TEST(colorManagement, whiteStaysFullAndGreysFollowThePublishedCurves) {
    colorManagement cm;
    // Adobe RGB and sRGB share their white (D65); ProPhoto and Wide Gamut are D50 spaces.
    for (int input : {2, 3, 4}) {
        setUp(cm, request(input, 1));
        uint16_t px[6] = {32640, 32640, 32640, 0, 0, 0};
        cm.toSrgbWorkingScale(px, 2);
        EXPECT_EQ(std::vector<uint16_t>(px, px + 6), (std::vector<uint16_t>{32640, 32640, 32640, 0, 0, 0}))
            << "input choice " << input;
        uint16_t over[3] = {40000, 65535, 32641};
        cm.toSrgbWorkingScale(over, 1);
        EXPECT_EQ(std::vector<uint16_t>(over, over + 3), (std::vector<uint16_t>{32640, 32640, 32640}))
            << "samples above full scale count as full scale";
    }

    // Every Adobe RGB grey level, against the published curves: sRGB(Adobe⁻¹(v)).
    setUp(cm, request(2, 1));
    std::vector<uint16_t> ramp(32641 * 3);
    for (int v = 0; v <= 32640; ++v)
        ramp[3 * v] = ramp[3 * v + 1] = ramp[3 * v + 2] = uint16_t(v);
    cm.toSrgbWorkingScale(ramp.data(), 32641);
    double worst = 0;
    for (int v = 0; v <= 32640; ++v) {
        const double expected = srgbEncode(adobeDecode(v / 32640.0)) * 32640.0;
        EXPECT_LE(std::abs(ramp[3 * v] - ramp[3 * v + 1]), 1) << "greys stay grey";
        EXPECT_LE(std::abs(ramp[3 * v] - ramp[3 * v + 2]), 1) << "greys stay grey";
        worst = std::max(worst, std::fabs(ramp[3 * v] - expected));
    }
    std::printf("Adobe RGB grey ramp -> sRGB: worst error %.1f of 32640\n", worst);
    EXPECT_LE(worst, 0.002 * 32640); // a fifth of a per cent of full scale, half an 8-bit step

    // The preview takes the same way to an sRGB monitor (the pairs' arithmetic is the transform tests').
    std::vector<uint8_t> row(256 * 3);
    for (int v = 0; v < 256; ++v)
        row[3 * v] = row[3 * v + 1] = row[3 * v + 2] = uint8_t(v);
    cm.toMonitor(row.data(), 256);
    for (int v = 0; v < 256; ++v)
        EXPECT_NEAR(row[3 * v + 1], srgbEncode(adobeDecode(v / 255.0)) * 255.0, 1.0) << v;
}

TEST(colorManagement, intentAndBlackPointCompensationReachTheTransforms) {
    // Display profiles are adapted to the connection space's white, so every intent keeps their
    // white white. A scanner profile declares the white of its own medium (D65 here): only the
    // absolute intent keeps that white as it is, which an sRGB screen shows bluish.
    const QString dir = halvora::test::makeTempDir("intents");
    const QString copy = dir + "/~profile0.icc";
    ASSERT_TRUE(halvora::test::writeBytes(copy, colorTest::scannerProfileD65White()));
    colorManagement cm;
    colorSetupRequest_t r = request(0, 1, copy);
    for (int intent : {0, 1, 2, 3, 7}) {
        r.options.intent = intent;
        setUp(cm, r);
        uint8_t white[3] = {255, 255, 255};
        cm.toMonitor(white, 1);
        if (intent == 3)
            EXPECT_GE(int(white[2]) - int(white[0]), 10)
                << int(white[0]) << " " << int(white[1]) << " " << int(white[2]);
        else
            EXPECT_EQ(std::vector<int>(white, white + 3), (std::vector<int>{255, 255, 255}))
                << "intent " << intent;
    }

    // A monitor whose black is not black: its darkest colour read back into sRGB is a grey, unless
    // black-point compensation maps black to black.
    ASSERT_TRUE(halvora::test::writeBytes(dir + "/raised.icc", colorTest::raisedBlackRgbProfile()));
    colorSetupRequest_t raised = request(1, 0);
    raised.options.customMonitorProfile = dir + "/raised.icc";
    raised.options.intent = 1;
    for (bool bpc : {false, true}) {
        raised.options.blackPointCompensation = bpc;
        setUp(cm, raised);
        uint8_t black[3] = {0, 0, 0};
        cm.fromMonitor(black, 1);
        if (bpc)
            EXPECT_LE(black[1], 2);
        else
            EXPECT_GE(black[1], 20) << "a luminance of 2 % is about sRGB 39";
    }
}

TEST(colorManagement, wholePicturesDoNotDependOnTheThreadCount) {
    const int w = 807, h = 605;
    QImage rgb(w, h, QImage::Format_RGB888);
    std::vector<uint16_t> working(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * 3; ++x) {
            const uint32_t v = uint32_t(x * 7919 + y * 104729) % 65521;
            rgb.scanLine(y)[x] = uchar(v);
            working[size_t(y) * w * 3 + x] = uint16_t(v % 32641);
        }
    QImage argb = rgb.convertToFormat(QImage::Format_ARGB32);
    colorManagement cm;
    setUp(cm, request(3, 4)); // Wide Gamut photo, ColorMatch monitor

    std::vector<QImage> shown, shown32;
    std::vector<std::vector<uint16_t>> saved;
    for (int threads : {1, 2, 5}) {
        setThreadCountOverride(threads);
        QImage a = rgb.copy(), b = argb.copy();
        std::vector<uint16_t> c = working;
        EXPECT_TRUE(cm.toMonitor(a));
        EXPECT_TRUE(cm.toMonitor(b));
        EXPECT_TRUE(cm.toSrgbWorkingScale(c.data(), w, h));
        shown.push_back(a);
        shown32.push_back(b);
        saved.push_back(std::move(c));
    }
    setThreadCountOverride(0);
    for (size_t i = 1; i < shown.size(); ++i) {
        EXPECT_TRUE(shown[i] == shown[0]);
        EXPECT_TRUE(shown32[i] == shown32[0]);
        EXPECT_TRUE(saved[i] == saved[0]);
    }
    EXPECT_FALSE(shown[0] == rgb) << "the conversion changed the picture";
    EXPECT_FALSE(saved[0] == working);

    // Each 32-bit pixel converts like the same pixel of the byte picture, and keeps its alpha.
    for (int y = 0; y < h; y += 17)
        for (int x = 0; x < w; x += 13) {
            const QRgb p = shown32[0].pixel(x, y);
            const uchar* q = shown[0].constScanLine(y) + 3 * x;
            EXPECT_EQ(qRed(p), q[0]);
            EXPECT_EQ(qGreen(p), q[1]);
            EXPECT_EQ(qBlue(p), q[2]);
            EXPECT_EQ(qAlpha(p), 255);
        }

    QImage grey(4, 4, QImage::Format_Grayscale8);
    EXPECT_FALSE(cm.toMonitor(grey)) << "formats the transforms do not know are refused";

    runContext cancelled;
    cancelled.cancel();
    runContext::scope bound(cancelled);
    std::vector<uint16_t> c = working;
    EXPECT_FALSE(cm.toSrgbWorkingScale(c.data(), w, h));
}

TEST(colorManagement, photosConvertIntoTheWorkingProfile) {
    colorManagement cm;
    QString error;
    EXPECT_EQ(cm.photoToWorking(iccProfile(), &error), nullptr);
    setUp(cm, request(2, 1)); // Adobe RGB working space
    const iccProfile adobe =
        iccProfile::fromData(colorTest::shippedBytes("AdobeRGB1998.icc"), "Adobe", &error);
    const iccProfile srgb = iccProfile::fromData(colorTest::shippedBytes("sRGB.icm"), "sRGB", &error);
    ASSERT_TRUE(adobe.valid() && srgb.valid());

    auto same = cm.photoToWorking(adobe, &error);
    ASSERT_NE(same, nullptr);
    EXPECT_TRUE(same->identity());

    auto fromSrgb = cm.photoToWorking(srgb, &error);
    ASSERT_NE(fromSrgb, nullptr) << error.toStdString();
    EXPECT_FALSE(fromSrgb->identity());
    EXPECT_TRUE(fromSrgb->usesTables());
    // sRGB's green in Adobe RGB coordinates, from the two sets of primaries (same white).
    const double sr[2] = {0.64, 0.33}, sg[2] = {0.30, 0.60}, sb[2] = {0.15, 0.06}, w[2] = {0.3127, 0.3290};
    const double ag[2] = {0.21, 0.71};
    const vec3 linear = mul(inverse(rgbToXYZ(sr, ag, sb, w)), mul(rgbToXYZ(sr, sg, sb, w), vec3{0, 1, 0}));
    uint16_t green[3] = {0, 32640, 0};
    fromSrgb->apply(green, 1);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(green[c], std::pow(std::max(linear[c], 0.0), 256.0 / 563.0) * 32640.0, 0.003 * 32640)
            << "channel " << c;
}
