// The main window's workspace and status area: which picture is on show (a photo before processing
// or the tone-mapped result) and which one that is, zoom, crop, sampling, over/under marks, the
// background, the colour buttons, "Dimensions" and "Panorama mode".
#include "ui/mainWindow.h"

#include "app/commandLineOptions.h"
#include "app/programOptionsSettings.h"
#include "app/storedOptions.h"
#include "app/workspaceGeometry.h"
#include "base/debugLog.h"
#include "imageio/hdrLoadOptions.h"
#include "project/processingProject.h"
#include "project/projectColor.h"
#include "project/transformRun.h"
#include "ui/colorSettingsMenu.h"
#include "ui/imageItem.h"
#include "ui/styledMessageBox.h"
#include "ui/zoomWidget.h"

#include <QAction>
#include <QBoxLayout>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

// The radiance picture as linear light seen through a plain 2.2 display gamma: what an opened
// radiance file looks like before any tone mapping.
QImage radianceView(const float* rgb, int w, int h) {
    if (!rgb || w <= 0 || h <= 0) return QImage();
    static const std::vector<uint8_t> table = [] {
        std::vector<uint8_t> t(4096);
        for (size_t i = 0; i < t.size(); ++i)
            t[i] = uint8_t(std::lround(std::pow(double(i) / 4095.0, 1.0 / 2.2) * 255.0));
        return t;
    }();
    QImage image(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y) {
        const float* in = rgb + size_t(y) * size_t(w) * 3;
        uchar* out = image.scanLine(y);
        for (int i = 0; i < w * 3; ++i) {
            const float v = in[i];
            out[i] = v > 0.0f ? table[size_t(std::min(4095.0f, v * 4095.0f))] : 0;
        }
    }
    return image;
}

QString inputProfileName(int index) {
    static const char* const names[] = {QT_TRANSLATE_NOOP("mainWindow", "As embedded"), "sRGB", "Adobe RGB",
                                        "Wide Gamut", "Pro Photo"};
    return mainWindow::tr(names[std::clamp(index, 0, 4)]);
}

// The status buttons have room for short names only.
QString monitorProfileName(int index) {
    static const char* const names[] = {QT_TRANSLATE_NOOP("mainWindow", "From file"), "sRGB", "Adobe RGB",
                                        "Apple RGB", "Color Match"};
    return mainWindow::tr(names[std::clamp(index, 0, 4)]);
}

} // namespace

void mainWindow::buildStatusArea(QBoxLayout* outer) {
    programOptionsSettings& options = programOptionsSettings::instance();
    auto* status = new QHBoxLayout;
    status->setSpacing(8);
    progressBar_ = new QProgressBar(this);
    progressBar_->setObjectName("progressBar");
    progressBar_->setRange(0, 100);
    progressBar_->setValue(0);
    progressBar_->setTextVisible(false);
    progressBar_->setMinimumWidth(160);
    progressBar_->setMaximumWidth(260);
    breakButton_ = new QPushButton(tr("Break"), this);
    breakButton_->setObjectName("breakButton");
    breakButton_->setEnabled(false);
    // "Break" stops the run on show, and no other.
    connect(breakButton_, &QPushButton::clicked, this, [this] {
        if (progressRun_) progressRun_->cancel();
    });
    status->addWidget(progressBar_);
    status->addWidget(breakButton_);

    zoom_ = new zoomWidget(this);
    workspace_->attachZoom(zoom_);
    status->addWidget(zoom_);

    auto* background = new QToolButton(this);
    background->setObjectName("toggleBackgroundButton");
    background->setText(QStringLiteral("\u25a8"));
    background->setToolTip(tr("Toggle background color"));
    background->setAutoRaise(true);
    connect(background, &QToolButton::clicked, this, &mainWindow::setBackgroundSlot);
    status->addWidget(background);
    status->addStretch(1);
    workspace_->setBackground(options.backgroundColor == 0 ? 1 : 0);

    photoSpaceButton_ = new QPushButton(this);
    photoSpaceButton_->setObjectName("photoColorSpaceButton");
    monitorButton_ = new QPushButton(this);
    monitorButton_->setObjectName("monitorProfileButton");
    for (QPushButton* b : {photoSpaceButton_, monitorButton_}) {
        b->setFlat(true);
        connect(b, &QPushButton::clicked, this, &mainWindow::showColorSpaceMenu);
        status->addWidget(b);
    }

    sampleLabel_ = new QLabel(halvora::sampleReadout(false, rgbDouble_t{}), this);
    sampleLabel_->setObjectName("sampleReadout");
    sampleLabel_->setToolTip(tr("Color under the pointer"));
    sampleLabel_->setMinimumWidth(sampleLabel_->fontMetrics().horizontalAdvance("[R:100%, G:100%, B:100%]") +
                                  4);
    status->addWidget(sampleLabel_);

    status->addWidget(new QLabel(tr("Dimensions"), this));
    dimensionsLabel_ = new QLabel(this);
    dimensionsLabel_->setObjectName("dimensionsLabel");
    status->addWidget(dimensionsLabel_);

    shownLabel_ = new QLabel(this);
    shownLabel_->setObjectName("shownPictureLabel");
    shownLabel_->setToolTip(tr("The picture in the workspace"));
    status->addWidget(shownLabel_);

    panoramaBox_ = new QCheckBox(tr("Panorama mode"), this);
    panoramaBox_->setObjectName("panoramaModeBox");
    panoramaBox_->setToolTip(
        tr("The picture is a 360° panorama: local contrast continues across its left and "
           "right edges."));
    panoramaBox_->setChecked(options.panoramaMode);
    connect(panoramaBox_, &QCheckBox::toggled, this, [this](bool on) {
        programOptionsSettings::instance().panoramaMode = on;
        // The planes were made with the other setting: they are made again for the picture on show.
        if (project_ && project_->hdrPresent && project_->lcPlanesValid && !anyWorkerRunning()) {
            project_->lcPlanesValid = false;
            project_->maskPlaneValid = false;
            toneMappingPrepare();
        }
    });
    status->addWidget(panoramaBox_);
    outer->addLayout(status);

    connect(workspace_, &mainWorkspace::imagesDropped, this, &mainWindow::addDroppedImages);
    connect(workspace_, &mainWorkspace::cropApplied, this, &mainWindow::applyCrop);
    connect(workspace_, &mainWorkspace::cropAbandoned, this, &mainWindow::toggleCropMode);
    connect(workspace_, &mainWorkspace::sampleTaken, this, &mainWindow::sampleTakenSlot);
    connect(workspace_, &mainWorkspace::sampleAbandoned, this, [this] { requestSampleMode(0); });
    connect(workspace_, &mainWorkspace::mouseMoved, this, &mainWindow::showSampleValues);
    connect(workspace_, &mainWorkspace::mouseMoved, this, &mainWindow::showSampleInEditors);
    workspace_->setSmooth(options.liveAntiAliasing);
    zoomDetailTimer_.setSingleShot(true);
    zoomDetailTimer_.setInterval(150);
    connect(&zoomDetailTimer_, &QTimer::timeout, this, &mainWindow::followZoomWithDetail);
    connect(workspace_, &mainWorkspace::scaleChanged, this, [this] { zoomDetailTimer_.start(); });
    workspace_->area()->inputSampler = [this](QPointF p, rgbDouble_t& value) {
        // The radiance picture is read only while no run may be writing it.
        if (!project_ || !project_->hdrPresent || anyWorkerRunning() || !project_->hdrImage.allocated())
            return false;
        const int x = int(p.x()), y = int(p.y());
        if (x < 0 || y < 0 || x >= project_->width || y >= project_->height) return false;
        const float* px = project_->rgbFloatBuffer() + (size_t(y) * size_t(project_->width) + size_t(x)) * 3;
        value = halvora::sampleOf(px[0], px[1], px[2]);
        return true;
    };
    updateStatusArea();
}

void mainWindow::buildWorkspaceActions(QMenu* view, QMenu* transform) {
    if (view) {
        view->addSeparator();
        const struct {
            const char* text;
            QKeySequence key;
            void (zoomWidget::*slot)();
        } entries[] = {{QT_TR_NOOP("Original size"), QKeySequence(Qt::Key_F1), &zoomWidget::set100},
                       {QT_TR_NOOP("Fit to workspace"), QKeySequence(Qt::Key_F2), &zoomWidget::setFit},
                       {QT_TR_NOOP("Zoom out"), QKeySequence(Qt::Key_F5), &zoomWidget::decZoom},
                       {QT_TR_NOOP("Zoom in"), QKeySequence(Qt::Key_F6), &zoomWidget::incZoom}};
        for (const auto& e : entries) {
            QAction* action = view->addAction(tr(e.text));
            action->setShortcut(e.key);
            action->setShortcutContext(Qt::WindowShortcut);
            // std::invoke rather than ->*: GCC's vptr sanitizer checks a stray object in the latter.
            connect(action, &QAction::triggered, this, [this, slot = e.slot] {
                if (workspace_->hasPicture()) std::invoke(slot, *zoom_);
            });
            zoomActions_ << action;
        }
        QAction* background = view->addAction(tr("Toggle background color"));
        connect(background, &QAction::triggered, this, &mainWindow::setBackgroundSlot);
    }
    if (transform) {
        transform->addSeparator();
        cropAction_ = transform->addAction(tr("Crop"));
        cropAction_->setObjectName("cropAction");
        cropAction_->setCheckable(true);
        cropAction_->setEnabled(false);
        cropAction_->setToolTip(
            tr("Drag a rectangle on the picture, drag inside it to move it, then press Enter "
               "or double-click it to crop; Esc leaves without cropping."));
        connect(cropAction_, &QAction::triggered, this, &mainWindow::toggleCropMode);
    }
}

void mainWindow::updateStatusArea() {
    if (!dimensionsLabel_) return;
    const bool sized = project_ && project_->width > 0 && project_->height > 0 && !project_->photos.empty();
    dimensionsLabel_->setText(sized ? halvora::dimensionsText(project_->width, project_->height)
                                    : tr("none"));
    QString shown;
    if (shown_ == shownResult) {
        shown = tr("Showing: Result");
    } else if (shown_ == shownPhoto && project_) {
        if (const photoEntry* photo = project_->photoById(shownPhotoId_))
            shown = tr("Showing: %1").arg(QFileInfo(photo->fileName).fileName());
    }
    shownLabel_->setText(shown);

    const programOptionsSettings& options = programOptionsSettings::instance();
    const bool managed = options.colorManagementEnabled;
    photoSpaceButton_->setText(
        colorNotice_.isEmpty()
            ? tr("Photo colors: %1").arg(inputProfileName(options.colorManagementInputProfile))
            : tr("Photo colors: not managed"));
    monitorButton_->setText(tr("Monitor: %1").arg(monitorProfileName(options.colorManagementOutputProfile)));
    // The buttons belong to colour management: without it they have nothing to offer.
    for (QPushButton* b : {photoSpaceButton_, monitorButton_}) {
        b->setVisible(managed);
        b->setToolTip(tr("Color settings"));
    }
    if (!colorNotice_.isEmpty()) photoSpaceButton_->setToolTip(colorNotice_);
    const bool picture = workspace_->hasPicture();
    for (QAction* action : std::as_const(zoomActions_))
        action->setEnabled(picture);
    if (cropAction_)
        cropAction_->setEnabled(picture && project_ && !project_->photos.empty() && !anyWorkerRunning() &&
                                menuBar_->isEnabled());
}

void mainWindow::showSelectedPhoto() {
    if (!project_ || project_->photos.empty()) {
        workspace_->clearPicture();
        shown_ = shownNothing;
        updateStatusArea();
        return;
    }
    const imageItem* item = photoItemAt(photoList_->currentRow());
    showPhoto(item ? item->id() : project_->photos.front()->id);
}

void mainWindow::showPhoto(int id) {
    const photoEntry* photo = project_ ? project_->photoById(id) : nullptr;
    if (!photo) return;
    if (photo->isRadiance && project_->hdrPresent && !anyWorkerRunning()) {
        // The opened radiance picture as it is, not its clipped load preview.
        const int level = project_->previewToneMapLevel();
        if (level >= 0)
            workspace_->showPicture(radianceView(project_->hdrImage.data<float>(level),
                                                 project_->hdrImage.width(level),
                                                 project_->hdrImage.height(level)),
                                    project_->width, project_->height);
    } else {
        workspace_->showPicture(photo->preview, project_->width, project_->height);
    }
    workspace_->setMarkOverUnder(false); // the marks belong to the tone-mapped picture
    shown_ = shownPhoto;
    shownPhotoId_ = id;
    updateStatusArea();
}

void mainWindow::refreshThumbnails() {
    if (!project_) return;
    for (const auto& photo : project_->photos) {
        imageItem* item = photoItem(photo->id);
        if (!item) continue;
        if (photo->isRadiance && project_->previewValid && project_->toneMappedWidth > 0) {
            const QImage result(project_->toneMappedPreview.data(), project_->toneMappedWidth,
                                project_->toneMappedHeight, project_->toneMappedWidth * 3,
                                QImage::Format_RGB888);
            QImage thumbnail = result.scaled(160, 160, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            if (project_->colorManagementEnabled && project_->color.active())
                project_->color.toMonitor(thumbnail);
            item->setThumbnail(thumbnail);
        } else {
            item->setThumbnail(photo->thumbnail);
        }
    }
}

void mainWindow::followZoomWithDetail() {
    if (!project_ || shown_ != shownResult || anyWorkerRunning() || !project_->hdrPresent ||
        !project_->lcPlanesValid)
        return;
    const int levels = project_->hdrImage.levelCount();
    const int chosen = project_->toneMapLevel;
    project_->toneMapLevel = -1;
    const int previewLevel = project_->previewToneMapLevel();
    project_->toneMapLevel = chosen;
    // Fitted, the preview level keeps every slider quick. Zoomed in to look closer, the finest level
    // whose pixels are not smaller than a screen pixel, never coarser than the preview.
    const int wanted = workspace_->fitting()
                           ? previewLevel
                           : std::min(previewLevel, halvora::cacheLevelFor(workspace_->scale(), levels));
    if (wanted < 0 || wanted == project_->previewToneMapLevel()) return;
    project_->toneMapLevel = wanted == previewLevel ? -1 : wanted;
    doToneMapping(true);
}

void mainWindow::toggleCropMode() {
    const bool entering = workspace_->area()->currentMode() != mainImageArea::cropMode;
    if (entering && (!workspace_->hasPicture() || projectBusy() || !project_ || project_->photos.empty())) {
        if (cropAction_) cropAction_->setChecked(false);
        return;
    }
    if (entering) sampleMode_ = 0;
    workspace_->setCropMode(entering);
    if (cropAction_) cropAction_->setChecked(entering);
    if (entering)
        appendLog(logInfo,
                  tr("Crop: drag a rectangle on the picture, then press Enter or double-click it. Esc "
                     "leaves without cropping."));
}

void mainWindow::applyCrop(halvora::cropRect rect) {
    workspace_->setCropMode(false);
    if (cropAction_) cropAction_->setChecked(false);
    if (!project_ || !halvora::cropUsable(rect, project_->width, project_->height)) return;
    debugLog("applyCrop: %d,%d; %d,%d\n", rect.left, rect.top, rect.right, rect.bottom);
    startTransform(halvora::cropToRect, rect);
}

void mainWindow::toggleSampleMode() {
    toggleSampleMode(0);
}

void mainWindow::toggleSampleMode(int mode) {
    if (mode != 0 && !workspace_->hasPicture()) mode = 0;
    sampleMode_ = mode;
    if (cropAction_) cropAction_->setChecked(false);
    workspace_->setSampleMode(mode);
}

void mainWindow::setMarkOverUnder(bool en) {
    markOverUnder_ = en;
    workspace_->setMarkOverUnder(en && shown_ == shownResult);
}

void mainWindow::showSampleValues(bool inImg, rgbDouble_t rgb) {
    sampleLabel_->setText(halvora::sampleReadout(inImg, rgb));
}

void mainWindow::setBackgroundSlot() {
    workspace_->toggleBackgroundColor();
    // 0 is the light pair; any other value (the default 2 too) the dark one.
    programOptionsSettings::instance().backgroundColor = workspace_->background() == 1 ? 0 : 1;
}

void mainWindow::colorSetupReported(const halvora::colorSetupResult_t& result) {
    halvora::storeColorSetupCorrections(result.resetMonitorChoice, result.clearCustomMonitorProfile,
                                        programOptionsSettings::instance());
    if (result.notice.isEmpty()) return;
    colorNotice_ = result.notice;
    appendLog(logWarning, result.notice);
    // An unattended run has no window to read: the line goes to standard error as well.
    if (commandLineOptions::current().autoProcess) {
        std::fprintf(stderr, "halvora: %s\n", result.notice.toLocal8Bit().constData());
        std::fflush(stderr);
    }
    updateStatusArea();
}

void mainWindow::showColorSpaceMenu() {
    colorMenu_->setFromOptions(
        halvora::colorManagementOptionsFromSettings(programOptionsSettings::instance()));
    auto* source = qobject_cast<QWidget*>(sender());
    colorMenu_->popup(source ? source->mapToGlobal(QPoint(0, 0)) : QCursor::pos());
}

void mainWindow::setupColorManagement() {
    programOptionsSettings& options = programOptionsSettings::instance();
    const halvora::colorManagementOptions_t before = halvora::colorManagementOptionsFromSettings(options);
    halvora::colorManagementOptions_t wanted = colorMenu_->checkedOptions(before);
    auto putBack = [this, &before] { colorMenu_->setFromOptions(before); };
    // Every run that draws or saves reads the transforms: they are made again only while none works.
    if (!project_ || projectBusy()) {
        putBack();
        appendLog(logWarning, tr("The color settings cannot change while the program is working."));
        return;
    }
    const bool havePhotos = !project_->photos.empty();
    const bool switching = wanted.enabled != before.enabled;
    if (switching && havePhotos &&
        !styledMessageBox::question(
            this,
            wanted.enabled ? tr("Enabling color management requires closing the current project. Continue?")
                           : tr("Disabling color management requires closing the current project. Continue?"),
            false)) {
        putBack();
        return;
    }
    wanted.blackPointCompensation = true;
    if (colorChoice_ && colorChoice_ == colorMenu_->fromFileAction()) {
        const QString file = chooseMonitorProfileFile
                                 ? chooseMonitorProfileFile()
                                 : QFileDialog::getOpenFileName(this, tr("Monitor color profile"),
                                                                QFileInfo(before.customMonitorProfile).path(),
                                                                tr("Color profile") + " (*.icm *.icc)");
        // Cancelling the file dialog keeps the monitor profile in use.
        if (file.isEmpty()) {
            putBack();
            return;
        }
        wanted.customMonitorProfile = file;
        wanted.outputProfile = QFileInfo::exists(file) ? 0 : 1;
    }
    if (wanted.enabled && (wanted.outputProfile != before.outputProfile ||
                           wanted.customMonitorProfile != before.customMonitorProfile)) {
        // A monitor profile is checked when it is chosen, not first when a photo arrives.
        halvora::iccProfile monitor, srgb;
        halvora::colorSetupResult_t checked;
        QString error;
        if (!halvora::colorManagement::openOutputProfiles(wanted, halvora::shippedProfileFolder(), monitor,
                                                          srgb, checked, &error)) {
            if (checked.resetMonitorChoice) wanted.outputProfile = 1;
            if (checked.clearCustomMonitorProfile) wanted.customMonitorProfile.clear();
            debugLog("%s\n", error.toLocal8Bit().constData());
            styledMessageBox::showPlain(this, styledMessageBox::error, error);
        }
    }
    options.colorManagementEnabled = wanted.enabled;
    options.colorManagementBpCompensation = wanted.blackPointCompensation;
    options.colorManagementInputProfile = wanted.inputProfile;
    options.colorManagementOutputProfile = wanted.outputProfile;
    options.colorManagementIntent = wanted.intent;
    options.colorManagementCustomMonitorProfile = wanted.customMonitorProfile;
    colorMenu_->setFromOptions(wanted);
    debugLog("Color settings: enabled=%d input=%d monitor=%d intent=%d\n", int(wanted.enabled),
             wanted.inputProfile, wanted.outputProfile, wanted.intent);
    if (switching && havePhotos)
        newProject(true);
    else
        applyColorSettings();
    updateStatusArea();
}

void mainWindow::applyColorSettings() {
    QString error;
    const bool ok = halvora::reapplyColorManagement(*project_, projectColorSettings(), &error);
    if (!project_->color.usingFallback()) colorNotice_.clear();
    workspace_->area()->setDisplayTransform(halvora::monitorRowTransform(*project_));
    refreshThumbnails();
    if (!ok) {
        debugLog("%s\n", error.toLocal8Bit().constData());
        appendLog(logError, error);
        styledMessageBox::showPlain(this, styledMessageBox::error, error);
    } else if (!project_->photos.empty() && project_->colorManagementEnabled) {
        appendLog(logInfo,
                  tr("Color settings applied: %1 → %2.")
                      .arg(project_->color.workingDescription(), project_->color.monitorDescription()));
    }
}
