#include "app/automaticRun.h"

#include "app/commandLineOptions.h"
#include "app/programOptionsSettings.h"
#include "app/storedOptions.h"
#include "base/debugLog.h"
#include "project/exposureValues.h"
#include "project/generationRun.h"
#include "project/loadRun.h"
#include "project/processingProject.h"
#include "project/saveRun.h"
#include "project/toneMappingPrepareRun.h"
#include "tonemap/rebuildOnChange.h"
#include "tonemap/toneMappingSettingsFile.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>

namespace halvora {

namespace {

bool writableFolder(const QString& dir) {
    const QFileInfo info(dir);
    return info.exists() && info.isDir() && info.isWritable();
}

} // namespace

saveResultRequest automaticSaveRequest(const commandLineOptions& cl, const saveResultOptions_t& persisted,
                                       const QStringList& inputs, QString& error) {
    error.clear();
    saveResultRequest request;
    request.options = persisted;
    if (cl.outputFormat == saveResultOptions_t::formatTiff) request.options.tiffBitDepth = cl.tiffBitDepth;
    if (cl.outputToSrgb) request.options.convertToSrgb = true;

    QString fileName;
    if (!cl.outputFn.isEmpty()) {
        fileName = cl.outputFn;
        // A bare name has no folder of its own: --output_dir supplies it.
        if (!cl.outputDir.isEmpty() && !fileName.contains('/') && !fileName.contains('\\'))
            fileName = cl.outputDir + "/" + fileName;
        fileName = QFileInfo(fileName).absoluteFilePath();
        const QString suffix = QFileInfo(fileName).suffix().toLower();
        // The writers make JPEG and TIFF only: a name promising another format is refused rather than
        // filled with JPEG bytes. A name without a suffix gets JPEG.
        if (!suffix.isEmpty() && suffix != "jpg" && suffix != "jpeg" && suffix != "tif" && suffix != "tiff") {
            error =
                QString(
                    "%1: cannot save .%2; the result is saved as JPEG (.jpg, .jpeg) or TIFF (.tif, .tiff)")
                    .arg(QDir::toNativeSeparators(fileName), QFileInfo(fileName).suffix());
            debugLog("%s: %s\n", "halvora::automaticSaveRequest", error.toLocal8Bit().constData());
            return request;
        }
        request.options.format = (suffix == "tif" || suffix == "tiff") ? saveResultOptions_t::formatTiff
                                                                       : saveResultOptions_t::formatJpeg;
    } else {
        request.options.format = cl.outputFormat == saveResultOptions_t::formatTiff
                                     ? saveResultOptions_t::formatTiff
                                     : saveResultOptions_t::formatJpeg;
        QString dir = cl.outputDir;
        if (dir.isEmpty() && !inputs.isEmpty()) dir = QFileInfo(inputs.front()).absolutePath();
        dir = QFileInfo(dir).absoluteFilePath();
        fileName = uniqueOutputName(dir, halvora::defaultOutputName(inputs, false),
                                    request.options.extension(), false);
    }
    request.options.normalize();

    const QString folder = QFileInfo(fileName).absolutePath();
    if (!writableFolder(folder)) {
        error = QString("%1: the output folder does not exist or cannot be written")
                    .arg(QDir::toNativeSeparators(folder));
        debugLog("%s: %s\n", "halvora::automaticSaveRequest", error.toLocal8Bit().constData());
        return request;
    }
    request.fileName = fileName;
    return request;
}

QString automaticHdrOutputPath(const commandLineOptions& cl, QString& error) {
    error.clear();
    if (cl.saveHdr.isEmpty()) return QString();
    const QString fileName = QFileInfo(cl.saveHdr).absoluteFilePath();
    if (!writableFolder(QFileInfo(fileName).absolutePath())) {
        // The run stops here: "HDR save disabled" would promise a run that goes on.
        error = QString("%1: the folder for --save_hdr does not exist or cannot be written")
                    .arg(QDir::toNativeSeparators(QFileInfo(fileName).absolutePath()));
        debugLog("%s: %s\n", "halvora::automaticHdrOutputPath", error.toLocal8Bit().constData());
        return QString();
    }
    return fileName;
}

} // namespace halvora

// ---- the run

using namespace halvora;

automaticRun::automaticRun(processingProject& project, const commandLineOptions& commandLine,
                           const programOptionsSettings& options, QObject* parent)
    : QObject(parent), project_(project), commandLine_(std::make_unique<commandLineOptions>(commandLine)),
      persistedSave_(saveResultOptionsFromSettings(options)) {
    runSettings_.threads = options.coreCount;
    runSettings_.panoramaMode = options.panoramaMode || commandLine.panoramaMode;
    project_.unattendedHdrOptions = hdrLoadOptionsFromCommandLine(commandLine, options);
    project_.unattendedRawOptions = rawLoadOptionsFromSettings(options);
}

automaticRun::~automaticRun() {
    stopNow();
}

void automaticRun::terminalLine(const QString& text) const {
    std::fprintf(stderr, "halvora: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void automaticRun::beginStage(projectRun* run, const QString& stage) {
    endStage();
    stage_ = stage;
    stageTimer_.start();
    if (verbose_) terminalLine(stage + "...");
    current_ = run;
    if (run) {
        connect(run, &projectRun::logLine, this, &automaticRun::logLine);
        emit runStarted(run);
    }
}

void automaticRun::endStage() {
    if (!stage_.isEmpty() && verbose_)
        terminalLine(
            QStringLiteral("%1 done (%2 s)").arg(stage_).arg(stageTimer_.elapsed() / 1000.0, 0, 'f', 2));
    stage_.clear();
    current_ = nullptr;
}

void automaticRun::warn(const QString& text) {
    debugLog("%s\n", text.toLocal8Bit().constData());
    emit logLine(projectRun::warning, text);
    if (verbose_) terminalLine(text);
}

void automaticRun::fail(const QString& error) {
    if (!running_) return;
    running_ = false;
    current_ = nullptr;
    stage_.clear();
    project_.forgetPlanesLeftOut();
    const QString text = error.isEmpty() ? tr("The automatic run failed.") : error;
    debugLog("%s\n", text.toLocal8Bit().constData());
    emit logLine(projectRun::error, text);
    if (terminal_) terminalLine(text);
    emit finished(1, text);
}

void automaticRun::start() {
    if (running_) return;
    running_ = true;
    totalTimer_.start();
    // A name that is not valid UTF-8 would be opened or written under another name: refuse it.
    if (!commandLine_->undecodableArguments.isEmpty()) {
        fail(tr("%1: the name is not valid in the system's file-name encoding (UTF-8); rename the file")
                 .arg(commandLine_->undecodableArguments.front()));
        return;
    }
    loadSettings();
}

void automaticRun::loadSettings() {
    const QString file = commandLine_->settings;
    if (!file.isEmpty()) {
        // A named look that cannot be used must not pass silently for the default one.
        QString error;
        if (loadSettingsFile(file, project_.tmSettings.parameters(), false, &error) != settingsLoadOk) {
            fail(tr("Cannot load the tone mapping settings file %1").arg(error));
            return;
        }
        rebuildToneMappingTables(project_.tmSettings, toneMappingChange::everything);
        emit logLine(projectRun::info,
                     tr("Tone mapping settings loaded: %1").arg(QDir::toNativeSeparators(file)));
        emit settingsLoaded();
    }
    loadPhotos();
}

void automaticRun::loadPhotos() {
    if (commandLine_->inputPhotos.isEmpty()) {
        fail(tr("No photos to process: an automatic run needs at least one input file."));
        return;
    }
    load_ = std::make_unique<loadRun>(project_, runSettings_);
    QString error;
    if (!load_->prepare(commandLine_->inputPhotos, error)) {
        fail(error.isEmpty() ? tr("No photos could be loaded.") : error);
        return;
    }
    connect(load_.get(), &loadRun::photoLoaded, this, &automaticRun::photoLoaded);
    connect(load_.get(), &loadRun::finished, this, &automaticRun::photosLoaded, Qt::QueuedConnection);
    beginStage(load_.get(), tr("Loading %n photo(s)", "", int(commandLine_->inputPhotos.size())));
    load_->start();
}

void automaticRun::photosLoaded(bool ok, const QString& error) {
    if (!running_) return;
    const QStringList failures = load_->failures();
    const bool havePhotos = !project_.photos.empty();
    load_.reset();
    if (!ok || !havePhotos) {
        // Each failure names its file and reason (the log has them already); the count ends the run.
        if (terminal_)
            for (const QString& failure : failures)
                terminalLine(failure);
        fail(error);
        return;
    }
    endStage();
    generate();
}

void automaticRun::generate() {
    QStringList inputs;
    for (const auto& photo : project_.photos)
        inputs << photo->fileName;
    // The targets are checked before the long work: a run that cannot save must not merge first.
    QString error;
    request_ = automaticSaveRequest(*commandLine_, persistedSave_, inputs, error);
    if (request_.fileName.isEmpty()) {
        fail(error);
        return;
    }
    hdrOutput_ = automaticHdrOutputPath(*commandLine_, error);
    if (!error.isEmpty()) {
        fail(error);
        return;
    }
    // Without colour management the photos' colours are not known: say so rather than pretend the
    // file was converted.
    if (request_.options.convertToSrgb && !(project_.colorManagementEnabled && project_.color.active()))
        warn(tr("Color management is off: the result is saved as it is, without conversion to sRGB."));

    const bool radiance = project_.photos.front()->isRadiance;
    const bool ldrEnhancement = !radiance && project_.photos.size() == 1;
    if (radiance && !hdrOutput_.isEmpty()) {
        warn(tr("The input is a radiance picture already: --save_hdr writes nothing."));
        hdrOutput_.clear();
    }
    if (ldrEnhancement && !hdrOutput_.isEmpty()) {
        warn(tr("One photo is enhanced, not merged: --save_hdr writes nothing."));
        hdrOutput_.clear();
    }
    if (!radiance) {
        const evChoice choice = chooseEVsAfterLoading(project_);
        if (!choice.warning.isEmpty()) warn(choice.warning);
        if (!ldrEnhancement) {
            bool switchedToAEB = false;
            for (const QString& w :
                 evChecksBeforeGeneration(project_, choice.chosen == evChoice::fromExif, switchedToAEB))
                warn(w);
            for (const auto& photo : project_.photos)
                debugLog("EV: %s = %g\n", QFileInfo(photo->fileName).fileName().toLocal8Bit().constData(),
                         photo->ev);
        }
    }
    genHDR_options options = genHDRoptionsForAutomaticRun(*commandLine_, ldrEnhancement);
    options.saveHDR = !hdrOutput_.isEmpty();
    options.hdrFileName = hdrOutput_;
    generation_ = std::make_unique<generationRun>(&project_, options, radiance, true, runSettings_);
    connect(generation_.get(), &generationRun::finished, this, &automaticRun::generated,
            Qt::QueuedConnection);
    beginStage(generation_.get(), radiance         ? tr("Preparing the HDR image")
                                  : ldrEnhancement ? tr("LDR enhancement")
                                                   : tr("HDR generation"));
    generation_->start();
}

void automaticRun::generated(bool ok, const QString& error) {
    if (!running_) return;
    generation_.reset();
    if (!ok) {
        fail(error);
        return;
    }
    endStage();
    prepare();
}

void automaticRun::prepare() {
    emit logLine(projectRun::info, tr("Tone mapping..."));
    // The preview is the only smaller picture this run makes: the other levels go before the planes
    // are made, which is when the run needs the most memory.
    project_.releaseLevelsBesidesPreview();
    preparation_ = std::make_unique<toneMappingPrepareRun>(project_, runSettings_);
    connect(preparation_.get(), &projectRun::finished, this, &automaticRun::prepared, Qt::QueuedConnection);
    beginStage(preparation_.get(), tr("Preparing for tone mapping"));
    // The look was read before the merge and stays as it is: planes it does not read are not made.
    preparation_->start(&project_.tmSettings);
}

void automaticRun::prepared(bool ok, const QString& error) {
    if (!running_) return;
    preparation_.reset();
    if (!ok) {
        fail(error);
        return;
    }
    endStage();
    // The preview's histogram sets the automatic clip levels the full-size picture is made with.
    beginStage(nullptr, tr("Tone mapping the preview"));
    {
        runContext preview(runSettings_.threads, runSettings_.panoramaMode);
        runContext::scope bind(preview);
        project_.toneMapPreview(project_.tmSettings, nullptr, false);
    }
    if (!project_.previewValid) {
        fail(tr("Tone mapping the preview failed."));
        return;
    }
    emit previewReady();
    endStage();
    // Only the full-size pass reads the picture from here on.
    project_.releasePreviewLevels();
    save();
}

void automaticRun::save() {
    emit logLine(projectRun::info, tr("Saving result..."));
    save_ = std::make_unique<saveRun>(project_, runSettings_);
    connect(save_.get(), &projectRun::finished, this, &automaticRun::saved, Qt::QueuedConnection);
    beginStage(save_.get(),
               tr("Tone mapping and saving %1").arg(QDir::toNativeSeparators(request_.fileName)));
    save_->start(request_);
}

void automaticRun::saved(bool ok, const QString& error) {
    if (!running_) return;
    const saveResultRequest request = save_->request();
    const metadataTransfer_t transfer = save_->exifTransfer();
    const QString transferError = save_->exifTransferError();
    save_.reset();
    if (transfer == metadataTransfer_t::failed) {
        // The picture is saved, but without what a script may rely on: say why at the terminal too.
        emit logLine(projectRun::warning, transferError);
        if (terminal_) terminalLine(tr("EXIF transfer failed.") + " " + transferError);
    }
    for (const saveResultMessage_t& m : saveResultFinishedMessages(&request, true, transfer)) {
        const int kind = m.color == "#60a060"   ? projectRun::success
                         : m.color == "#b06060" ? projectRun::error
                         : m.color == "#b0b060" ? projectRun::warning
                                                : projectRun::info;
        if (kind != projectRun::error) emit logLine(kind, m.text);
    }
    if (!ok) {
        fail(error.isEmpty() ? tr("Saving the result failed.") : error);
        return;
    }
    endStage();
    savedFile_ = request.fileName;
    debugLog("Automatic run finished: '%s'\n",
             QDir::toNativeSeparators(savedFile_).toLocal8Bit().constData());
    if (verbose_)
        terminalLine(tr("saved %1 (%2 s in all)")
                         .arg(QDir::toNativeSeparators(savedFile_))
                         .arg(totalTimer_.elapsed() / 1000.0, 0, 'f', 2));
    running_ = false;
    project_.forgetPlanesLeftOut();
    emit finished(0, QString());
}

void automaticRun::stopNow() {
    running_ = false;
    current_ = nullptr;
    for (projectRun* run :
         std::initializer_list<projectRun*>{load_.get(), generation_.get(), preparation_.get(), save_.get()})
        if (run) run->stopNow();
    load_.reset();
    generation_.reset();
    preparation_.reset();
    save_.reset();
}
