#include "project/projectColor.h"

#include "base/debugLog.h"
#include "base/failure.h"
#include "imageio/embeddedIcc.h"
#include "imageio/imageFormat.h"
#include "imageio/imageTransform.h"
#include "imageio/saveResultWorker.h"
#include "project/processingProject.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr const char* kSettle = "processingProject::colorProfile";

/// The photo's profile copy: the embedded profile of a JPEG or TIFF, or the shipped file a radiance
/// file's colour choice names. Leaves no copy when the photo is to be taken as sRGB (or its own
/// primaries are used). A damaged embedded profile is reported through `warning`.
void writeProfileCopy(const processingProject& project, const photoEntry& photo, int format,
                      const QString& profileDir, const QString& copy, QString& warning) {
    QFile::remove(copy);
    if (format == formatJpeg || format == formatTiff) {
        QByteArray icc;
        QString reason;
        if (!halvora::readEmbeddedIcc(photo.fileName, format == formatTiff, icc, &reason)) {
            warning =
                QCoreApplication::translate("processingProject", "Failed to get color profile embedded in") +
                ": " + reason + ". " + QCoreApplication::translate("processingProject", "Assuming sRGB") +
                ".";
            return;
        }
        if (icc.isEmpty()) {
            debugLog("No color profile embedded in '%s': sRGB is assumed\n",
                     QDir::toNativeSeparators(photo.fileName).toLocal8Bit().constData());
            return;
        }
        QFile out(copy);
        if (!out.open(QIODevice::WriteOnly) || out.write(icc) != icc.size()) {
            warning =
                halvora::failureText(copy, "the colour profile copy cannot be written: " + out.errorString());
            QFile::remove(copy);
        }
        return;
    }
    if (format == formatRadianceRgbe || format == formatOpenExr ||
        (format == formatTiff && photo.isRadiance)) {
        const int index = project.hdrOptions.colorSpace;
        halvora::standardSpace space;
        if (!halvora::workingSpaceOfChoice(index, space)) return; // as embedded: primaries or sRGB
        const QString shipped = halvora::shippedProfilePath(profileDir, space);
        QFile::copy(shipped, copy);
        debugLog("Color profile for photo (RAW/HDR): %d - %s\n", index, shipped.toLocal8Bit().constData());
    }
}

/// The request of a set-up for `photo`, whose profile copy is `copy`.
halvora::colorSetupRequest_t requestFor(const processingProject& project,
                                        const projectColorSettings_t& settings, const photoEntry& photo,
                                        const QString& copy) {
    halvora::colorSetupRequest_t request;
    request.options = settings.options;
    request.profileDir = settings.profileDir;
    request.photoProfilePath = copy;
    request.hasCustomPrimaries = photo.isRadiance && project.customPrimaries && !QFileInfo::exists(copy);
    if (request.hasCustomPrimaries)
        request.customPrimaries = halvora::chromaticities_t::fromArray(project.primaries);
    return request;
}

/// Makes the project's transforms for the first photo of a sequence; the failed step's box text and
/// the reason on failure. `warning` is told with the report when nothing else is.
bool setupWorkingProfile(processingProject& project, const projectColorSettings_t& settings,
                         const halvora::colorSetupRequest_t& request, const QString& file,
                         const QString& warning, QString* error) {
    QMutexLocker lock(&project.mutex);
    halvora::colorSetupResult_t result;
    QString reason;
    const bool ok = project.color.setupForPhoto(request, result, &reason);
    if (!warning.isEmpty() && result.notice.isEmpty()) result.notice = warning;
    lock.unlock();
    if (settings.report) settings.report(result);
    if (ok) return true;
    const char* box = result.failedStage == halvora::colorSetupResult_t::stageInputProfile
                          ? "Error while loading input color profile."
                      : result.failedStage == halvora::colorSetupResult_t::stageMonitorProfile
                          ? "Error while loading monitor color profile."
                          : "Failed to create color profile transform.";
    return halvora::fail(error, kSettle, file,
                         QCoreApplication::translate("processingProject", box) + " (" + reason + ")");
}

bool settlePhotoProfile(processingProject& project, const projectColorSettings_t& settings, photoEntry& photo,
                        int position, int format, QString* error) {
    const int p = int(project.photos.size()) + position;
    const QString copy = project.sessionDir + QStringLiteral("~profile%1.icc").arg(project.photoIdCounter);
    QString warning;
    // TIFF is read as a photo here only when it is not a 32-bit radiance picture.
    writeProfileCopy(project, photo, photo.isRadiance && format == formatTiff ? formatOpenExr : format,
                     settings.profileDir, copy, warning);
    photo.profilePath = copy;

    const halvora::colorSetupRequest_t request = requestFor(project, settings, photo, copy);
    if (p == 0) {
        if (!setupWorkingProfile(project, settings, request, photo.fileName, warning, error)) return false;
        debugLog("Using color profile: %s\n", project.color.workingDescription().toLocal8Bit().constData());
        return true;
    }

    QString reason;
    const halvora::iccProfile profile = halvora::colorManagement::openPhotoProfile(request, &reason);
    if (!profile.valid())
        return halvora::fail(
            error, kSettle, photo.fileName,
            QCoreApplication::translate("processingProject", "Error while loading input color profile.") +
                " (" + reason + ")");
    QMutexLocker lock(&project.mutex);
    const QString description = halvora::profileDescription(profile);
    if (description != project.color.workingDescription()) {
        debugLog("Color profile of currently loaded photo is wrong: %s / %s\n",
                 description.toLocal8Bit().constData(),
                 project.color.workingDescription().toLocal8Bit().constData());
        // A photo in another space joins the sequence converted into the working profile on load.
        QString why;
        photo.toWorkingSpace = project.color.photoToWorking(profile, &why);
        if (!photo.toWorkingSpace)
            return halvora::fail(
                error, kSettle, photo.fileName,
                QCoreApplication::translate(
                    "processingProject", "Color profiles of all photos in the sequence must be the same.") +
                    " (" + why + ")");
        debugLog("Photo '%s' is converted from '%s' into the working profile\n",
                 QDir::toNativeSeparators(photo.fileName).toLocal8Bit().constData(),
                 description.toLocal8Bit().constData());
    }
    if (!warning.isEmpty() && settings.report) {
        halvora::colorSetupResult_t result;
        result.notice = warning;
        settings.report(result);
    }
    return true;
}

/// The whole file; empty when it cannot be read.
QByteArray fileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() > halvora::kMaxEmbeddedIccBytes) return {};
    return f.readAll();
}

} // namespace

namespace halvora {

QString shippedProfileFolder() {
    const QString beside = QCoreApplication::applicationDirPath() + "/color profiles";
    if (QFileInfo(beside).isDir()) return beside;
    // Test programs run one folder below the program in the build tree.
    const QString above = QCoreApplication::applicationDirPath() + "/../color profiles";
    if (QFileInfo(above).isDir()) return above;
    return QCoreApplication::applicationDirPath() + "/../share/halvora/color profiles";
}

void installColorManagement(processingProject& project, const projectColorSettings_t& settings) {
    project.colorManagementEnabled = settings.options.enabled;
    if (!settings.options.enabled) {
        project.colorProfileHook = nullptr;
        return;
    }
    project.colorProfileHook = [settings](processingProject& pr, photoEntry& photo, int position, int format,
                                          QString* error) {
        return settlePhotoProfile(pr, settings, photo, position, format, error);
    };
}

void prepareColorOutput(const processingProject& project, saveResultRequest& request,
                        saveResultWorker& worker) {
    const halvora::colorManagement& color = project.color;
    if (!project.colorManagementEnabled || !color.active()) return;
    const bool convert = request.options.convertToSrgb;
    if (convert) {
        const halvora::colorManagement* c = &color;
        worker.outputTransform = [c](uint16_t* row, int pixels) { c->toSrgb16(row, size_t(pixels)); };
    }
    const QString profile = convert ? color.srgbProfilePath() : color.workingProfilePath();
    request.iccProfile = fileBytes(profile);
    if (request.iccProfile.isEmpty())
        debugLog("%s: '%s' cannot be read: the result is saved without a colour profile\n",
                 "prepareColorOutput", QDir::toNativeSeparators(profile).toLocal8Bit().constData());
}

void rebuildThumbnails(processingProject& project) {
    const bool managed = project.colorManagementEnabled && project.color.active();
    for (const auto& photo : project.photos) {
        if (photo->preview.empty()) continue;
        double mean = 0; // the photo keeps the value its load measured
        photo->thumbnail = halvora::buildThumbnail(photo->preview.pixels(), photo->preview.width,
                                                   photo->preview.height, mean);
        if (managed) project.color.toMonitor(photo->thumbnail);
    }
}

bool reapplyColorManagement(processingProject& project, const projectColorSettings_t& settings,
                            QString* error) {
    installColorManagement(project, settings);
    bool ok = true;
    if (!project.photos.empty()) {
        if (settings.options.enabled) {
            const photoEntry& first = *project.photos.front();
            ok = setupWorkingProfile(project, settings,
                                     requestFor(project, settings, first, first.profilePath), first.fileName,
                                     QString(), error);
        } else {
            QMutexLocker lock(&project.mutex);
            project.color.deleteTransforms();
        }
    }
    rebuildThumbnails(project);
    return ok;
}

QString sequenceProfilePath(const processingProject& project) {
    if (!project.colorManagementEnabled || !project.color.active()) return QString();
    return project.color.workingProfilePath();
}

QByteArray sequenceProfileBytes(const processingProject& project) {
    const QString path = sequenceProfilePath(project);
    return path.isEmpty() ? QByteArray() : fileBytes(path);
}

std::function<void(uint8_t* row, int pixels)> monitorRowTransform(const processingProject& project) {
    if (!project.colorManagementEnabled || !project.color.active()) return {};
    const halvora::colorManagement* c = &project.color;
    return [c](uint8_t* row, int pixels) { c->toMonitor(row, size_t(pixels)); };
}

std::function<void(QImage& image)> monitorImageTransform(const processingProject& project) {
    if (!project.colorManagementEnabled || !project.color.active()) return {};
    const halvora::colorManagement* c = &project.color;
    return [c](QImage& image) { c->toMonitor(image); };
}

} // namespace halvora
