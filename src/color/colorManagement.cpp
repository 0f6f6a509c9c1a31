#include "color/colorManagement.h"

#include "base/debugLog.h"
#include "base/failure.h"
#include "base/parallelFor.h"
#include "base/runContext.h"

#include <QImage>
#include <algorithm>
#include <lcms2.h>

namespace halvora {

namespace {

// Radiance files declare only primaries; their profile takes the common display gamma.
constexpr double kCustomProfileGamma = 2.2;
struct toSrgbRows_threadParams_t {
    const colorManagement* owner = nullptr;
    uint16_t* picture = nullptr;
    int width = 0;
    int64_t firstRow = 0, endRow = 0;
    bool cancelled = false;
};

void toSrgbRows(toSrgbRows_threadParams_t& p) {
    for (int64_t y = p.firstRow; y < p.endRow; ++y) {
        if (cancelRequested()) {
            p.cancelled = true;
            return;
        }
        p.owner->toSrgbWorkingScale(p.picture + size_t(y) * size_t(p.width) * 3, size_t(p.width));
        addProgress(1);
    }
}

} // namespace

colorManagement::colorManagement() = default;
colorManagement::~colorManagement() = default;

bool colorManagement::setupForPhoto(const colorSetupRequest_t& request, colorSetupResult_t& result,
                                    QString* error) {
    result = colorSetupResult_t();
    active_ = false;
    iccProfile working = openPhotoProfile(request, error);
    if (!working.valid()) {
        result.failedStage = colorSetupResult_t::stageInputProfile;
        deleteTransforms();
        return false;
    }
    iccProfile monitor, srgb;
    if (!openOutputProfiles(request.options, request.profileDir, monitor, srgb, result, error)) {
        result.failedStage = colorSetupResult_t::stageMonitorProfile;
        deleteTransforms();
        return false;
    }
    if (!createTransforms(std::move(working), monitor, srgb, request.options, request.profileDir,
                          &result.notice, error)) {
        result.failedStage = colorSetupResult_t::stageTransforms;
        return false;
    }
    return true;
}

iccProfile colorManagement::openPhotoProfile(const colorSetupRequest_t& request, QString* error) {
    const int choice = request.forceEmbedded ? 0 : request.options.inputProfile;
    if (choice == 0 && request.hasCustomPrimaries) {
        const QByteArray copy = request.photoProfilePath.toLocal8Bit();
        profileInfo_t texts;
        texts.description = "Custom RGB from radiance file primaries";
        texts.manufacturer = "Halvora";
        texts.model = "Custom primaries, gamma 2.2";
        texts.copyright = "No copyright";
        QString reason;
        const iccProfile custom = iccProfile::fromChromaticities(
            request.customPrimaries, transferCurve_t::gamma(kCustomProfileGamma), texts, &reason);
        if (!custom.valid())
            debugLog("Error! Failed to create custom profile.\n");
        else if (request.photoProfilePath.isEmpty() || !custom.saveToFile(request.photoProfilePath, &reason))
            debugLog("Error! Failed to save custom profile to file (%s).\n", copy.constData());
        else
            debugLog("Custom profile saved to file (%s).\n", copy.constData());
    }
    const QString path = choosePhotoProfile(choice, request.photoProfilePath, request.profileDir);
    debugLog("Input profile: %s\n", path.toLocal8Bit().constData());
    return iccProfile::fromFile(path, error);
}

bool colorManagement::openOutputProfiles(const colorManagementOptions_t& options, const QString& profileDir,
                                         iccProfile& monitor, iccProfile& srgb, colorSetupResult_t& result,
                                         QString* error) {
    const monitorChoice_t choice = chooseMonitorProfile(options, profileDir);
    if (choice.choiceReset) result.resetMonitorChoice = true;
    debugLog("Output profile: %s\n", choice.path.toLocal8Bit().constData());
    monitor = iccProfile::fromFile(choice.path, error);
    if (!monitor.valid()) return false;
    srgb = iccProfile::fromFile(shippedProfilePath(profileDir, standardSpace::sRGB), error);
    if (!srgb.valid()) {
        monitor = iccProfile();
        return false;
    }
    if (!monitor.isRgb()) {
        debugLog("cs_signature=0x%08x (cmsSigRgbData=0x%08x)\n", monitor.colorSpace(),
                 unsigned(cmsSigRgbData));
        result.resetMonitorChoice = true;
        result.clearCustomMonitorProfile = true;
        monitor = iccProfile();
        srgb = iccProfile();
        return fail(error, "colorManagement::openOutputProfiles", choice.path,
                    "The color profile is not RGB.");
    }
    return true;
}

bool colorManagement::makeFour(const iccProfile& working, const iccProfile& monitor, const iccProfile& srgb,
                               int intent, bool bpc, QString* error) {
    auto display = colorTransform::create(working, monitor, pixelLayout::rgb8, intent, bpc, error);
    if (!display) return false;
    auto display32 = colorTransform::create(working, monitor, pixelLayout::argb32, intent, bpc, error);
    if (!display32) return false;
    auto reverse = colorTransform::create(monitor, working, pixelLayout::rgb8, intent, bpc, error);
    if (!reverse) return false;
    auto toSrgb = colorTransform::create(working, srgb, pixelLayout::rgb16, intent, bpc, error);
    if (!toSrgb) return false;
    auto toSrgbWorking = colorTransform::create(working, srgb, pixelLayout::working16, intent, bpc, error);
    if (!toSrgbWorking) return false;
    display_ = std::move(display);
    display32_ = std::move(display32);
    reverseDisplay_ = std::move(reverse);
    toSrgb_ = std::move(toSrgb);
    toSrgbWorking_ = std::move(toSrgbWorking);
    return true;
}

bool colorManagement::createTransforms(iccProfile working, const iccProfile& monitor, const iccProfile& srgb,
                                       const colorManagementOptions_t& options, const QString& profileDir,
                                       QString* notice, QString* error) {
    debugLog("Creating color profile transform...\n");
    deleteTransforms();
    intent_ = renderingIntentOf(options.intent);
    blackPointCompensation_ = options.blackPointCompensation;
    monitorDescription_ = profileDescription(monitor);
    srgbPath_ = srgb.origin();

    QString cause;
    if (makeFour(working, monitor, srgb, intent_, blackPointCompensation_, &cause)) {
        fallback_ = false;
        lastFallbackCause_.clear();
    } else {
        // The chosen profiles cannot be linked: sRGB stands in for all of them, and the user is told
        // that what the screen and the saved file show is not colour managed.
        iccProfile standIn = iccProfile::fromFile(shippedProfilePath(profileDir, standardSpace::sRGB), error);
        if (!standIn.valid() ||
            !makeFour(standIn, standIn, standIn, intent_, blackPointCompensation_, error)) {
            deleteTransforms();
            return false;
        }
        if (cause != lastFallbackCause_)
            fail(notice, "colorManagement::createTransforms", QString(),
                 "colour management is off for this photo: " + cause);
        lastFallbackCause_ = cause;
        fallback_ = true;
        working = std::move(standIn);
        monitorDescription_ = profileDescription(working);
        srgbPath_ = working.origin();
    }
    workingDescription_ = profileDescription(working);
    workingPath_ = working.origin();
    working_ = std::move(working);
    active_ = true;
    debugLog("Color profile transform generated.\n");
    return true;
}

void colorManagement::deleteTransforms() {
    debugLog("Deleting profile transform\n");
    display_.reset();
    display32_.reset();
    reverseDisplay_.reset();
    toSrgb_.reset();
    toSrgbWorking_.reset();
    working_ = iccProfile();
    active_ = false;
}

void colorManagement::toMonitor(uint8_t* rgb, size_t pixels) const {
    if (active_) display_->apply(rgb, pixels);
}

void colorManagement::toMonitor32(uint32_t* argb, size_t pixels) const {
    if (active_) display32_->apply(argb, pixels);
}

bool colorManagement::toMonitor(QImage& image) const {
    const QImage::Format format = image.format();
    const bool rgb888 = format == QImage::Format_RGB888;
    if (!rgb888 && format != QImage::Format_RGB32 && format != QImage::Format_ARGB32) return false;
    if (!active_ || image.isNull()) return true;
    const colorTransform& transform = rgb888 ? *display_ : *display32_;
    if (transform.identity()) return true;
    // bits() detaches a shared picture here, once, before the threads write into it.
    uchar* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    const size_t width = size_t(image.width());
    parallelFor(image.height(), [&](int, int64_t begin, int64_t end) {
        for (int64_t y = begin; y < end; ++y)
            transform.apply(bits + y * stride, width);
    });
    return true;
}

void colorManagement::fromMonitor(uint8_t* rgb, size_t pixels) const {
    if (active_) reverseDisplay_->apply(rgb, pixels);
}

void colorManagement::toSrgb16(uint16_t* rgb, size_t pixels) const {
    if (active_) toSrgb_->apply(rgb, pixels);
}

void colorManagement::toSrgbWorkingScale(uint16_t* rgb, size_t pixels) const {
    if (active_) toSrgbWorking_->apply(rgb, pixels);
}

bool colorManagement::toSrgbWorkingScale(uint16_t* rgb, int width, int height) const {
    if (!active_ || toSrgbWorking_->identity() || !rgb || width <= 0 || height <= 0)
        return !cancelRequested();
    const auto records = parallelRecords<toSrgbRows_threadParams_t>(
        height,
        [&](int, int64_t begin, int64_t end) {
            toSrgbRows_threadParams_t p;
            p.owner = this;
            p.picture = rgb;
            p.width = width;
            p.firstRow = begin;
            p.endRow = end;
            return p;
        },
        [](toSrgbRows_threadParams_t& p) { toSrgbRows(p); });
    return std::none_of(records.begin(), records.end(),
                        [](const toSrgbRows_threadParams_t& p) { return p.cancelled; });
}

std::unique_ptr<colorTransform> colorManagement::photoToWorking(const iccProfile& photo,
                                                                QString* error) const {
    if (!active_) {
        fail(error, "colorManagement::photoToWorking", photo.origin(), "colour management is not set up");
        return nullptr;
    }
    return colorTransform::create(photo, working_, pixelLayout::working16, intent_, blackPointCompensation_,
                                  error);
}

} // namespace halvora
