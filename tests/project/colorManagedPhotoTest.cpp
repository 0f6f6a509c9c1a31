// Colour management of a project end to end: a real photograph carrying the Adobe RGB profile
// (embedded by exiftool, not by this program) is loaded, its thumbnail and preview rows are shown
// through the monitor transform and its result saved with "Convert to sRGB"; every colour is
// compared in CIELAB with LittleCMS's own conversion of the same pixels. Also the profile a saved
// file carries (read back by exiftool), a monitor profile that is not RGB, and the one notice when
// the chosen profiles cannot be linked.

#include "base/parallelFor.h"
#include "imageio/embeddedIcc.h"
#include "imageio/imageLoader.h"
#include "imageio/saveResultWorker.h"
#include "loadPhotoTestSupport.h"
#include "project/projectColor.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace halvora;
using namespace halvora::test;

namespace {

QString profileFile(const char* name) {
    return QStringLiteral(HALVORA_PROFILE_DIR) + "/" + name;
}

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool haveExiftool() {
    return !QStandardPaths::findExecutable("exiftool").isEmpty();
}

/// exiftool's answer (standard output) to `arguments`; empty when it failed.
QByteArray exiftool(const QStringList& arguments) {
    QProcess p;
    p.start("exiftool", arguments);
    if (!p.waitForFinished(30000) || p.exitCode() != 0) return {};
    return p.readAllStandardOutput();
}

/// A copy of the desk photograph with `profile` embedded by exiftool.
QString deskPhotoWith(const QString& dir, const QString& name, const QString& profile) {
    const QString copy = dir + "/" + name;
    QFile::remove(copy);
    if (!QFile::copy(dataFile("brackets/desk_canon_s45_13exp/img05.jpg"), copy)) return {};
    QProcess p;
    p.start("exiftool", {"-q", "-overwrite_original", "-icc_profile<=" + profile, copy});
    return p.waitForFinished(30000) && p.exitCode() == 0 ? copy : QString();
}

QString adobeRgbPhoto(const QString& dir) {
    return deskPhotoWith(dir, "desk_adobe.jpg", profileFile("AdobeRGB1998.icc"));
}

/// LittleCMS's conversion and CIELAB distances, independent of the program's transforms.
class reference {
public:
    reference(const QString& from, const QString& to, cmsUInt32Number format) {
        from_ = cmsOpenProfileFromFile(from.toLocal8Bit().constData(), "r");
        to_ = cmsOpenProfileFromFile(to.toLocal8Bit().constData(), "r");
        lab_ = cmsCreateLab4Profile(nullptr);
        if (from_ && to_) {
            t_ = cmsCreateTransform(from_, format, to_, format, INTENT_PERCEPTUAL, cmsFLAGS_NOOPTIMIZE);
            toLab_ = cmsCreateTransform(to_, format, lab_, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC,
                                        cmsFLAGS_NOOPTIMIZE);
        }
    }
    ~reference() {
        for (cmsHTRANSFORM t : {t_, toLab_})
            if (t) cmsDeleteTransform(t);
        for (cmsHPROFILE p : {from_, to_, lab_})
            if (p) cmsCloseProfile(p);
    }
    bool valid() const { return t_ && toLab_; }
    void convert(void* pixels, size_t n) const { cmsDoTransform(t_, pixels, pixels, cmsUInt32Number(n)); }
    /// ΔE76 between two pixels of the destination space.
    double deltaE(const void* a, const void* b) const {
        cmsCIELab la, lb;
        cmsDoTransform(toLab_, a, &la, 1);
        cmsDoTransform(toLab_, b, &lb, 1);
        return cmsDeltaE(&la, &lb);
    }

private:
    cmsHPROFILE from_ = nullptr, to_ = nullptr, lab_ = nullptr;
    cmsHTRANSFORM t_ = nullptr, toLab_ = nullptr;
};

struct colorProject {
    std::unique_ptr<processingProject> project =
        std::make_unique<processingProject>(nullptr, makeTempDir("color"));
    std::vector<colorSetupResult_t> reports;

    explicit colorProject(const colorManagementOptions_t& options) {
        projectColorSettings_t settings;
        settings.options = options;
        settings.profileDir = QStringLiteral(HALVORA_PROFILE_DIR);
        settings.report = [this](const colorSetupResult_t& r) { reports.push_back(r); };
        installColorManagement(*project, settings);
    }
};

colorManagementOptions_t managed(int monitor = 1, const QString& monitorFile = QString()) {
    colorManagementOptions_t o;
    o.enabled = true;
    o.inputProfile = 0;
    o.outputProfile = monitor;
    o.customMonitorProfile = monitorFile;
    return o;
}

/// Writes a LittleCMS profile to `path`.
bool saveProfile(cmsHPROFILE h, const QString& path) {
    const bool ok = h && cmsSaveProfileToFile(h, path.toLocal8Bit().constData());
    if (h) cmsCloseProfile(h);
    return ok;
}

/// The largest ΔE between two working-scale pictures read as 16-bit sRGB after `ref` converted the
/// second from its own space.
double worstAfterReference(const reference& ref, const std::vector<uint16_t>& got,
                           std::vector<uint16_t> source) {
    std::vector<uint16_t> a(got.size());
    for (size_t i = 0; i < got.size(); ++i) {
        a[i] = uint16_t(std::lround(std::min<int>(got[i], 32640) * 65535.0 / 32640.0));
        source[i] = uint16_t(std::lround(std::min<int>(source[i], 32640) * 65535.0 / 32640.0));
    }
    ref.convert(source.data(), source.size() / 3);
    double worst = 0;
    for (size_t i = 0; i + 2 < got.size(); i += 3)
        worst = std::max(worst, ref.deltaE(&a[i], &source[i]));
    return worst;
}

/// The largest ΔE between a thumbnail and LittleCMS's conversion of the unmanaged one (`ref` may be
/// null: the two must then agree without conversion).
double thumbnailError(const QImage& shown, const QImage& unmanaged, const reference& ref, bool convert) {
    const QImage a = shown.convertToFormat(QImage::Format_RGB888);
    QImage b = unmanaged.convertToFormat(QImage::Format_RGB888);
    if (a.size() != b.size()) return 1e9;
    double worst = 0;
    for (int y = 0; y < b.height(); ++y) {
        if (convert) ref.convert(b.scanLine(y), size_t(b.width()));
        for (int x = 0; x < b.width(); ++x)
            worst = std::max(worst, ref.deltaE(a.constScanLine(y) + 3 * x, b.constScanLine(y) + 3 * x));
    }
    return worst;
}

/// An RGB display profile without any tag: it opens but cannot be linked to anything.
QString taglessProfile(const QString& dir) {
    const QString path = dir + "/tagless.icc";
    cmsHPROFILE h = cmsCreateProfilePlaceholder(nullptr);
    cmsSetDeviceClass(h, cmsSigDisplayClass);
    cmsSetColorSpace(h, cmsSigRgbData);
    cmsSetPCS(h, cmsSigXYZData);
    return saveProfile(h, path) ? path : QString();
}

} // namespace

TEST(colorManagedPhoto, adobeRgbPhotoIsShownAndSavedAsLittleCmsConvertsIt) {
    HALVORA_REQUIRE_DATA();
    if (!haveExiftool()) GTEST_SKIP() << "exiftool is not installed";
    const QString dir = makeTempDir("adobe");
    const QString photo = adobeRgbPhoto(dir);
    ASSERT_FALSE(photo.isEmpty());

    colorProject cm(managed());
    std::vector<uint16_t> samples;
    const auto outcomes = loadSequence(*cm.project, {photo}, &samples);
    ASSERT_EQ(outcomes.size(), 1u);
    ASSERT_EQ(outcomes[0].code, 0) << outcomes[0].message.toStdString();
    processingProject& pr = *cm.project;
    ASSERT_TRUE(pr.color.active());
    EXPECT_FALSE(pr.color.usingFallback());
    EXPECT_TRUE(cm.reports.size() == 1 && cm.reports[0].notice.isEmpty());
    // The profile copy is exactly what exiftool embedded.
    EXPECT_EQ(bytesOf(pr.photos[0]->profilePath), bytesOf(profileFile("AdobeRGB1998.icc")));

    // The same photo without colour management gives the unconverted thumbnail.
    colorManagementOptions_t off;
    colorProject plain(off);
    std::vector<uint16_t> plainSamples;
    ASSERT_EQ(loadSequence(*plain.project, {photo}, &plainSamples).at(0).code, 0);
    EXPECT_EQ(plainSamples, samples) << "the stored pixels stay in the photo's own space";

    // The converted thumbnail: changedSettingsRemakeTheTransformsAndThumbnailsAtOnce.
    const reference display(profileFile("AdobeRGB1998.icc"), profileFile("sRGB.icm"), TYPE_RGB_8);
    ASSERT_TRUE(display.valid());

    // Preview rows as the workspace draws them (8-bit, then the monitor transform).
    const auto toMonitor = monitorRowTransform(pr);
    ASSERT_TRUE(bool(toMonitor));
    const halvora::rgb16Buffer& preview = pr.photos[0]->preview;
    const int pw = pr.previewWidth;
    double worst = 0;
    std::vector<uint8_t> row(size_t(pw) * 3), want(size_t(pw) * 3);
    for (int y = 0; y < pr.previewHeight; ++y) {
        for (size_t i = 0; i < row.size(); ++i)
            row[i] = want[i] = uint8_t(preview.pixels()[size_t(y) * row.size() + i] >> 7);
        toMonitor(row.data(), pw);
        display.convert(want.data(), size_t(pw));
        for (int x = 0; x < pw; ++x)
            worst = std::max(worst, display.deltaE(&row[3 * size_t(x)], &want[3 * size_t(x)]));
    }
    EXPECT_LE(worst, 1.0) << "preview";

    // Saved with "Convert to sRGB" as a 16-bit TIFF: converted pixels, the sRGB profile embedded.
    const int w = pr.width, h = pr.height;
    saveResultRequest request;
    request.fileName = dir + "/converted.tif";
    request.options.format = saveResultOptions_t::formatTiff;
    request.options.tiffBitDepth = 2;
    request.options.convertToSrgb = true;
    saveResultWorker worker(request, samples.data(), w, h);
    prepareColorOutput(pr, worker.request, worker);
    worker.doSaveResult();
    ASSERT_TRUE(worker.request.success) << worker.request.error.toStdString();
    QByteArray icc;
    ASSERT_TRUE(readEmbeddedIcc(request.fileName, true, icc, nullptr));
    EXPECT_EQ(icc, bytesOf(profileFile("sRGB.icm")));
    std::vector<uint16_t> saved(samples.size());
    float mn = 0, mx = 0;
    exifInfo_t exif;
    ASSERT_TRUE(imageLoader::loadTIFF(request.fileName, saved.data(), nullptr, mn, mx, exif, nullptr));
    const reference toSrgb(profileFile("AdobeRGB1998.icc"), profileFile("sRGB.icm"), TYPE_RGB_16);
    ASSERT_TRUE(toSrgb.valid());
    EXPECT_LE(worstAfterReference(toSrgb, saved, samples), 1.0) << "saved, converted";

    // Without conversion a JPEG keeps the photo's Adobe RGB profile, as exiftool reads it back.
    saveResultRequest keep;
    keep.fileName = dir + "/kept.jpg";
    saveResultWorker keeper(keep, samples.data(), w, h);
    prepareColorOutput(pr, keeper.request, keeper);
    EXPECT_FALSE(bool(keeper.outputTransform));
    keeper.doSaveResult();
    ASSERT_TRUE(keeper.request.success) << keeper.request.error.toStdString();
    EXPECT_EQ(exiftool({"-b", "-icc_profile", keep.fileName}), bytesOf(profileFile("AdobeRGB1998.icc")));
    QImage decoded(keep.fileName);
    EXPECT_EQ(decoded.size(), QSize(w, h)) << "the profile segments leave the JPEG readable";
}

TEST(colorManagedPhoto, monitorProfileThatIsNotRgbIsRefusedAndTheChoiceReset) {
    const QString dir = makeTempDir("grey");
    const QString grey = dir + "/grey.icc";
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
    ASSERT_TRUE(saveProfile(cmsCreateGrayProfile(cmsD50_xyY(), curve), grey));
    cmsFreeToneCurve(curve);
    const QString photo = savedImage(patternImage(48, 32), dir, "p.png");

    colorProject cm(managed(0, grey));
    QString error;
    auto entry = std::make_unique<photoEntry>();
    entry->fileName = photo;
    EXPECT_FALSE(cm.project->loadPhotoPrepare(*entry, 0, false, &error));
    EXPECT_TRUE(error.contains("The color profile is not RGB.")) << error.toStdString();
    EXPECT_TRUE(error.contains("grey.icc")) << "the file is named";
    ASSERT_EQ(cm.reports.size(), 1u);
    EXPECT_TRUE(cm.reports[0].resetMonitorChoice);
    EXPECT_TRUE(cm.reports[0].clearCustomMonitorProfile);
    EXPECT_FALSE(cm.project->color.active());
}

TEST(colorManagedPhoto, unlinkableProfilesAreSaidOnceAndTheSequenceStillLoads) {
    const QString dir = makeTempDir("tagless");
    const QString tagless = taglessProfile(dir);
    ASSERT_FALSE(tagless.isEmpty());
    const QStringList photos = {savedImage(patternImage(48, 32, 1), dir, "a.png"),
                                savedImage(patternImage(48, 32, 2), dir, "b.png")};

    colorProject cm(managed(0, tagless));
    const auto outcomes = loadSequence(*cm.project, photos);
    ASSERT_EQ(outcomes.size(), 2u);
    for (const auto& o : outcomes)
        EXPECT_EQ(o.code, 0) << o.message.toStdString();
    EXPECT_TRUE(cm.project->color.usingFallback());
    int notices = 0;
    for (const colorSetupResult_t& r : cm.reports)
        if (!r.notice.isEmpty()) {
            ++notices;
            EXPECT_TRUE(r.notice.startsWith("colour management is off for this photo: "))
                << r.notice.toStdString();
        }
    EXPECT_EQ(notices, 1);
}

TEST(colorManagedPhoto, radianceFileTakesItsPrimariesOrTheChosenSpace) {
    const QString dir = makeTempDir("rgbe");
    auto rgbe = [&](const QString& name, bool primaries) {
        QByteArray f("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n");
        if (primaries) f += "PRIMARIES= 0.7 0.3 0.2 0.75 0.15 0.05 0.3127 0.329\n";
        f += "\n-Y 4 +X 4\n";
        for (int i = 0; i < 16; ++i)
            f += QByteArray::fromRawData(i % 2 ? "\x80\x40\x20\x81" : "\x40\x80\x60\x80", 4);
        const QString path = dir + "/" + name;
        QFile out(path);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly) && out.write(f) == f.size());
        return path;
    };

    // "As embedded" with declared primaries: a profile built from them is the working profile.
    {
        colorProject cm(managed());
        auto photo = std::make_unique<photoEntry>();
        photo->fileName = rgbe("primaries.hdr", true);
        QString error;
        ASSERT_TRUE(cm.project->loadPhotoPrepare(*photo, 0, false, &error)) << error.toStdString();
        EXPECT_TRUE(QFileInfo::exists(photo->profilePath));
        EXPECT_TRUE(cm.project->color.active());
        EXPECT_FALSE(cm.project->color.usingFallback());
        EXPECT_EQ(cm.project->color.workingDescription(), "Custom RGB from radiance file primaries");
    }
    // Without primaries, "As embedded" means sRGB; a chosen space is copied and used.
    {
        colorProject cm(managed());
        ASSERT_TRUE(preparePhoto(*cm.project, rgbe("plain.hdr", false)));
        EXPECT_EQ(cm.project->color.workingProfilePath(), profileFile("sRGB.icm"));
    }
    {
        colorProject cm(managed());
        cm.project->unattendedHdrOptions.colorSpace = hdrLoadOptions::adobeRGB;
        auto photo = preparePhoto(*cm.project, rgbe("adobe.hdr", true));
        ASSERT_TRUE(photo);
        EXPECT_EQ(bytesOf(photo->profilePath), bytesOf(profileFile("AdobeRGB1998.icc")));
        EXPECT_TRUE(cm.project->color.workingDescription().startsWith("Adobe RGB"));
    }
}

TEST(colorManagedPhoto, photoInAnotherProfileIsConvertedIntoTheSequencesProfileOnLoad) {
    HALVORA_REQUIRE_DATA();
    if (!haveExiftool()) GTEST_SKIP() << "exiftool is not installed";
    const QString dir = makeTempDir("mixed");
    const QString srgb = deskPhotoWith(dir, "desk_srgb.jpg", profileFile("sRGB.icm"));
    const QString adobe = deskPhotoWith(dir, "desk_adobe.jpg", profileFile("AdobeRGB1998.icc"));
    ASSERT_FALSE(srgb.isEmpty());
    ASSERT_FALSE(adobe.isEmpty());

    // The Adobe RGB photo's own samples, as an unmanaged project stores them.
    colorProject plain(colorManagementOptions_t{});
    std::vector<uint16_t> own;
    ASSERT_EQ(loadSequence(*plain.project, {adobe}, &own).at(0).code, 0);

    std::vector<uint16_t> converted[2];
    for (int threads : {1, 3}) {
        setThreadCountOverride(threads);
        colorProject cm(managed());
        std::vector<uint16_t> samples;
        const auto outcomes = loadSequence(*cm.project, {srgb, adobe}, &samples);
        setThreadCountOverride(0);
        ASSERT_EQ(outcomes.size(), 2u);
        for (const loadOutcome& o : outcomes)
            ASSERT_EQ(o.code, 0) << o.message.toStdString();
        EXPECT_TRUE(cm.project->color.workingDescription().startsWith("sRGB"))
            << cm.project->color.workingDescription().toStdString();
        EXPECT_FALSE(cm.project->photos[0]->toWorkingSpace) << "the first photo sets the working profile";
        EXPECT_TRUE(cm.project->photos[1]->toWorkingSpace);
        converted[threads == 1 ? 0 : 1] = std::move(samples);
    }
    EXPECT_EQ(converted[0], converted[1]) << "the conversion does not depend on the thread count";
    ASSERT_EQ(converted[0].size(), own.size());
    EXPECT_NE(converted[0], own);
    const reference toSrgb(profileFile("AdobeRGB1998.icc"), profileFile("sRGB.icm"), TYPE_RGB_16);
    ASSERT_TRUE(toSrgb.valid());
    EXPECT_LE(worstAfterReference(toSrgb, converted[0], own), 1.0);
}

TEST(colorManagedPhoto, photoWhoseProfileCannotBeLinkedIsRefused) {
    if (!haveExiftool()) GTEST_SKIP() << "exiftool is not installed";
    const QString dir = makeTempDir("unlinkable");
    const QString tagless = taglessProfile(dir);
    ASSERT_FALSE(tagless.isEmpty());
    const QString first = savedImage(patternImage(48, 32, 1), dir, "a.jpg");
    const QString second = savedImage(patternImage(48, 32, 2), dir, "b.jpg");
    QProcess p;
    p.start("exiftool", {"-q", "-overwrite_original", "-icc_profile<=" + tagless, second});
    ASSERT_TRUE(p.waitForFinished(30000) && p.exitCode() == 0);

    colorProject cm(managed());
    ASSERT_TRUE(preparePhoto(*cm.project, first));
    QString error;
    EXPECT_FALSE(preparePhoto(*cm.project, second, 1, false, &error));
    EXPECT_TRUE(error.contains("Color profiles of all photos in the sequence must be the same."))
        << error.toStdString();
    EXPECT_TRUE(error.contains("b.jpg")) << "the file is named";
}

TEST(colorManagedPhoto, changedSettingsRemakeTheTransformsAndThumbnailsAtOnce) {
    HALVORA_REQUIRE_DATA();
    if (!haveExiftool()) GTEST_SKIP() << "exiftool is not installed";
    const QString dir = makeTempDir("reapply");
    const QString photo = adobeRgbPhoto(dir);
    ASSERT_FALSE(photo.isEmpty());
    colorProject plain(colorManagementOptions_t{});
    ASSERT_EQ(loadSequence(*plain.project, {photo}).at(0).code, 0);
    const QImage unmanaged = plain.project->photos[0]->thumbnail;

    colorProject cm(managed());
    ASSERT_EQ(loadSequence(*cm.project, {photo}).at(0).code, 0);
    processingProject& pr = *cm.project;
    const reference adobeToSrgb(profileFile("AdobeRGB1998.icc"), profileFile("sRGB.icm"), TYPE_RGB_8);
    const reference srgbOnly(profileFile("sRGB.icm"), profileFile("sRGB.icm"), TYPE_RGB_8);
    ASSERT_TRUE(adobeToSrgb.valid() && srgbOnly.valid());
    ASSERT_LE(thumbnailError(pr.photos[0]->thumbnail, unmanaged, adobeToSrgb, true), 1.0);

    auto reapply = [&](const colorManagementOptions_t& options, QString* error = nullptr) {
        projectColorSettings_t settings;
        settings.options = options;
        settings.profileDir = QStringLiteral(HALVORA_PROFILE_DIR);
        return reapplyColorManagement(pr, settings, error);
    };
    // An Adobe RGB monitor shows the Adobe RGB photo as it is.
    ASSERT_TRUE(reapply(managed(2)));
    EXPECT_TRUE(pr.color.monitorDescription().startsWith("Adobe RGB"));
    EXPECT_LE(thumbnailError(pr.photos[0]->thumbnail, unmanaged, srgbOnly, false), 1.0);
    // The photo taken as sRGB whatever it embeds: shown unchanged on an sRGB monitor.
    colorManagementOptions_t asSrgb = managed(1);
    asSrgb.inputProfile = 1;
    ASSERT_TRUE(reapply(asSrgb));
    EXPECT_TRUE(pr.color.workingDescription().startsWith("sRGB"));
    EXPECT_LE(thumbnailError(pr.photos[0]->thumbnail, unmanaged, srgbOnly, false), 1.0);
    // Back to the first settings: converted once from the preview, not from the shown thumbnail.
    ASSERT_TRUE(reapply(managed(1)));
    EXPECT_LE(thumbnailError(pr.photos[0]->thumbnail, unmanaged, adobeToSrgb, true), 1.0);
    EXPECT_TRUE(bool(monitorRowTransform(pr)));
    // Views drawing 32-bit pictures of their own get the same conversion.
    const auto toMonitor32 = monitorImageTransform(pr);
    ASSERT_TRUE(bool(toMonitor32));
    QImage drawn = unmanaged.convertToFormat(QImage::Format_RGB32);
    toMonitor32(drawn);
    EXPECT_LE(thumbnailError(drawn, unmanaged, adobeToSrgb, true), 1.0);

    // A grey monitor profile: refused, colour management off, thumbnails as the photo is.
    const QString grey = dir + "/grey.icc";
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
    ASSERT_TRUE(saveProfile(cmsCreateGrayProfile(cmsD50_xyY(), curve), grey));
    cmsFreeToneCurve(curve);
    QString error;
    EXPECT_FALSE(reapply(managed(0, grey), &error));
    EXPECT_TRUE(error.contains("The color profile is not RGB.")) << error.toStdString();
    EXPECT_FALSE(pr.color.active());
    EXPECT_FALSE(bool(monitorRowTransform(pr)));
    EXPECT_FALSE(bool(monitorImageTransform(pr)));
    EXPECT_LE(thumbnailError(pr.photos[0]->thumbnail, unmanaged, srgbOnly, false), 1.0);

    // Switched off: no transforms for the photos of this project.
    ASSERT_TRUE(reapply(colorManagementOptions_t{}));
    EXPECT_FALSE(pr.colorManagementEnabled);
    EXPECT_FALSE(pr.color.active());
}
