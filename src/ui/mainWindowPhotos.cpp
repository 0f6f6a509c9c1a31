// Photo input of the main window: the "Add images" flow and its load workers.
#include "ui/mainWindow.h"

#include "app/commandLineOptions.h"
#include "app/programOptionsSettings.h"
#include "app/storedOptions.h"
#include "base/debugLog.h"
#include "hdr/genHDR_options.h"
#include "project/exposureValues.h"
#include "project/loadRun.h"
#include "project/processingProject.h"
#include "project/projectColor.h"
#include "tonemap/rebuildOnChange.h"
#include "tonemap/toneMappingSettingsFile.h"
#include "ui/imageItem.h"
#include "ui/styledMessageBox.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

void mainWindow::loadOnStartupSlot() {
    disconnect(this, &mainWindow::loadOnStartup, this, &mainWindow::loadOnStartupSlot);
    const commandLineOptions& cl = commandLineOptions::current();
    if (cl.autoProcess) {
        startAutomaticRun();
        return;
    }
    const QString settingsFile = cl.settings;
    if (project_ && !settingsFile.isEmpty()) {
        QString error;
        if (halvora::loadSettingsFile(settingsFile, project_->tmSettings.parameters(), false, &error) ==
            halvora::settingsLoadOk) {
            halvora::rebuildToneMappingTables(project_->tmSettings, halvora::toneMappingChange::everything);
            attachToneMappingControls();
            appendLog(logInfo,
                      tr("Tone mapping settings loaded: %1").arg(QDir::toNativeSeparators(settingsFile)));
        } else {
            // A file that cannot be used must not pass silently for the chosen look.
            appendLog(logWarning, tr("Cannot load the tone mapping settings file %1").arg(error));
        }
    }
    addImages(cl.inputPhotos);
}

QString mainWindow::addImagesFilters() {
    const QStringList filters = {
        tr("All supported formats") + " (*.jpg *.jpeg *.tif *.tiff *.exr *.hdr *.bmp *.png *.fit *.fits "
                                      "*.fts *.hvp *.3fr *.raw *.rw2 *.crw "
                                      "*.cr2 *.mrw *.nef *.orf *.dng *.pef *.arw *.dcr *.kdc *.srf *.sr2 "
                                      "*.raf *.mdc *.erf *.x3f *.dcs *.rwl "
                                      "*.nrw *.srw)",
        "Halvora (*.hvp)",
        "JPEG (*.jpg *.jpeg)",
        "TIFF 8/16/32-bit (*.tif *.tiff)",
        "PNG (*.png)",
        "BMP (*.bmp)",
        "OpenEXR (*.exr)",
        "Radiance RGBE (*.hdr)",
        "FITS (*.fts *.fit *.fits)",
        "Canon RAW (*.crw *.cr2)",
        "Nikon RAW (*.nef *.nrw)",
        "Fuji RAW (*.raf)",
        "Olympus RAW (*.orf)",
        "Sony RAW (*.srf *.sr2 *.arw)",
        "Samsung RAW (*.srw)",
        "Pentax RAW (*.pef)",
        "Minolta RAW (*.mrw *.mdc)",
        "Kodak RAW (*.dcr *.dcs *.kdc)",
        "Leica RAW (*.raw *.dng)",
        "Sigma RAW (*.x3f)",
        "Hasselblad RAW (*.3fr)",
        "Epson RAW (*.erf)",
        "Panasonic RAW (*.raw *.rw2 *.rwl)",
        "Adobe Digital Negative (*.dng)",
        tr("All files") + " (*.*)",
    };
    return filters.join(";;");
}

bool mainWindow::loadingPhotos() const {
    return loadRun_ && loadRun_->running();
}

bool mainWindow::addImages() {
    return addImages(QStringList());
}

bool mainWindow::addImages(const QStringList& fileNames) {
    if (!project_ || projectBusy() || closing_) return false;
    QStringList files = fileNames;
    programOptionsSettings& options = programOptionsSettings::instance();
    if (files.isEmpty()) {
        files = QFileDialog::getOpenFileNames(
            this, tr("Add images"), programOptionsSettings::existingFolder(options.openSavePhotoLastDir),
            addImagesFilters());
        if (files.isEmpty()) return false;
        options.openSavePhotoLastDir = QFileInfo(files.front()).absolutePath();
    }

    // Every file is prepared before any is loaded; the first failure ends the action.
    auto run = std::make_unique<loadRun>(*project_, currentRunSettings());
    QString error;
    if (!run->prepare(files, error)) {
        if (!error.isEmpty()) {
            appendLog(logError, error);
            debugLog("%s\n", error.toLocal8Bit().constData());
            // The text names the file and what was wrong with it; the second line says what became of
            // the rest of the choice, which is otherwise a surprise.
            if (!styledMessageBox::unattended())
                styledMessageBox::showPlain(
                    this, styledMessageBox::error,
                    error + "\n\n" +
                        tr("No photo was added. Remove or replace this file and add the "
                           "photos again."));
        }
        return false;
    }
    loadRun_ = std::move(run);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    leftTabs_->setCurrentIndex(0);
    rightTabs_->setCurrentIndex(0);
    setControlsEnabled(false);
    connect(loadRun_.get(), &loadRun::photoLoaded, this, &mainWindow::photoLoaded);
    connect(loadRun_.get(), &projectRun::finished, this, &mainWindow::addImagesFinished,
            Qt::QueuedConnection);
    observeRun(loadRun_.get());
    return loadRun_->start();
}

void mainWindow::photoLoaded(int row) {
    if (project_ && row >= 0 && row < int(project_->photos.size()))
        insertPhotoItem(row, *project_->photos[size_t(row)]);
}

void mainWindow::addImagesFinished(bool ok, QString error) {
    Q_UNUSED(ok);
    Q_UNUSED(error);
    if (!loadRun_) return;
    const int loaded = loadRun_->requested() - loadRun_->failed();
    const QStringList failures = loadRun_->failures();
    loadRun_.reset();
    if (closing_) return;
    QApplication::restoreOverrideCursor();
    setControlsEnabled(true);
    const bool havePhotos = project_ && !project_->photos.empty();
    for (QAction* action : std::as_const(transformActions_))
        action->setEnabled(havePhotos);
    if (havePhotos && photoList_->currentRow() < 0) photoList_->setCurrentRow(0);
    if (project_) workspace_->area()->setDisplayTransform(halvora::monitorRowTransform(*project_));
    if (havePhotos && !project_->hdrPresent) showSelectedPhoto();
    updateStatusArea();
    if (!failures.isEmpty() && !styledMessageBox::unattended()) {
        // Shown after the handler returns: a modal box must not run inside the run's report.
        const QString text = failures.join("\n");
        QTimer::singleShot(
            0, this, [this, text] { styledMessageBox::showPlain(this, styledMessageBox::error, text); });
    }
    if (loaded > 0) assignEVsAfterLoading();
    // An opened radiance picture needs no merge: it is prepared and tone-mapped at once, and the user
    // lands on the tone-mapping step with a real preview, as an automatic run does.
    if (loaded > 0 && project_->photos.size() == 1 && project_->photos.front()->isRadiance)
        QTimer::singleShot(0, this, &mainWindow::startRadianceRun);
    // One photo and the option to enhance it at once: the HDR dialog is skipped.
    if (loaded > 0 && project_->photos.size() == 1 && !project_->photos.front()->isRadiance &&
        programOptionsSettings::instance().newProjectAutoLDR)
        QTimer::singleShot(0, this, [this] {
            if (project_ && project_->photos.size() == 1 && !closing_)
                startGenerationRun(
                    halvora::genHDRoptionsFromSettings(programOptionsSettings::instance(), true), false);
        });
}

// ---- the photo list and its EV controls

QWidget* mainWindow::buildPhotoPanel(QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(2, 2, 2, 2);
    photoList_ = new QListWidget(page);
    photoList_->setObjectName("photoList");
    photoList_->setSelectionMode(QAbstractItemView::SingleSelection);
    photoList_->setMinimumWidth(260);
    connect(photoList_, &QListWidget::currentRowChanged, this, [this](int row) {
        for (int i = 0; i < photoList_->count(); ++i)
            if (auto* item = photoItemAt(i)) item->setSelected(i == row);
        // The chosen photo goes on show (a load in progress shows its photos when it ends).
        if (const imageItem* item = photoItemAt(row); item && !loadingPhotos()) showPhoto(item->id());
    });
    layout->addWidget(photoList_, 1);

    ldrLabel_ = new QLabel(tr("LDR enhancement"), page);
    ldrLabel_->setObjectName("ldrEnhancementLabel");
    ldrLabel_->setAlignment(Qt::AlignCenter);
    ldrLabel_->setVisible(false);
    layout->addWidget(ldrLabel_);

    auto* evRow = new QHBoxLayout;
    exifButton_ = new QPushButton(tr("EXIF"), page);
    exifButton_->setObjectName("evExifButton");
    exifButton_->setCheckable(true);
    exifButton_->setToolTip(tr("Take the EVs from exposure time, F-number and ISO"));
    aebButton_ = new QPushButton(tr("EXIF (AEB EV)"), page);
    aebButton_->setObjectName("evAebButton");
    aebButton_->setCheckable(true);
    aebButton_->setToolTip(tr("Take the EVs from the exposure bias the camera wrote while bracketing"));
    evStepCombo_ = new QComboBox(page);
    evStepCombo_->setObjectName("evStepCombo");
    evStepCombo_->addItems(halvora::evStepEntries());
    evStepCombo_->setToolTip(tr("Even EV steps between the photos, brightest first"));
    evRow->addWidget(exifButton_);
    evRow->addWidget(aebButton_);
    evRow->addWidget(new QLabel(tr("Step:"), page));
    evRow->addWidget(evStepCombo_);
    layout->addLayout(evRow);
    connect(exifButton_, &QPushButton::clicked, this, &mainWindow::EVsetFromExifSlot);
    connect(aebButton_, &QPushButton::clicked, this, &mainWindow::EVsetFromExifAEBslot);
    connect(evStepCombo_, &QComboBox::activated, this, &mainWindow::EVmanualSelectSlot);

    auto* buttons = new QHBoxLayout;
    auto* add = new QPushButton(tr("Add"), page);
    add->setObjectName("addPhotosButton");
    removeButton_ = new QPushButton(tr("Remove"), page);
    removeButton_->setObjectName("removePhotoButton");
    connect(add, &QPushButton::clicked, this, qOverload<>(&mainWindow::addImages));
    connect(removeButton_, &QPushButton::clicked, this, &mainWindow::removeImages);
    buttons->addWidget(add);
    buttons->addWidget(removeButton_);
    layout->addLayout(buttons);
    updatePhotoControls();
    return page;
}

imageItem* mainWindow::photoItemAt(int row) const {
    QListWidgetItem* item = photoList_->item(row);
    return item ? qobject_cast<imageItem*>(photoList_->itemWidget(item)) : nullptr;
}

imageItem* mainWindow::photoItem(int id) const {
    for (int i = 0; i < photoList_->count(); ++i)
        if (imageItem* item = photoItemAt(i); item && item->id() == id) return item;
    return nullptr;
}

void mainWindow::insertPhotoItem(int row, const photoEntry& photo) {
    // Check boxes only make sense when there is a choice: a radiance picture stands alone.
    auto* widget = new imageItem(photo, !photo.isRadiance, photoList_);
    auto* item = new QListWidgetItem;
    item->setData(Qt::UserRole, photo.id);
    item->setSizeHint(widget->sizeHint());
    photoList_->insertItem(row, item);
    photoList_->setItemWidget(item, widget);
    connect(widget, &imageItem::evEdited, this, &mainWindow::evChanged);
    connect(widget, &imageItem::stateChanged, this, &mainWindow::imageItemStateChanged);
    connect(widget, &imageItem::clicked, this, [this](int id) {
        for (int i = 0; i < photoList_->count(); ++i)
            if (imageItem* it = photoItemAt(i); it && it->id() == id) photoList_->setCurrentRow(i);
    });
}

bool mainWindow::evControlsUsable() const {
    // A running generation reads the EVs: they stay as they are until it ends.
    return project_ && !project_->photos.empty() && !project_->photos.front()->isRadiance && !projectBusy();
}

void mainWindow::updatePhotoControls() {
    const int n = project_ ? int(project_->photos.size()) : 0;
    const bool ev = evControlsUsable() && n > 1;
    exifButton_->setEnabled(ev);
    aebButton_->setEnabled(ev);
    evStepCombo_->setEnabled(ev);
    removeButton_->setEnabled(n > 0);
    ldrLabel_->setVisible(n == 1 && !project_->photos.front()->isRadiance);
    for (int i = 0; i < photoList_->count(); ++i)
        if (imageItem* item = photoItemAt(i)) item->setEVEditable(ev);
    for (QAction* action : {removeAction_})
        if (action) action->setEnabled(n > 0);
}

void mainWindow::refreshPhotoList(bool renormalise) {
    if (!project_) return;
    if (renormalise) {
        project_->normalizeEV();
        project_->invalidateResponseCurve();
        // The picture on screen was made from other EVs: say so on every photo.
        if (project_->hdrPresent)
            for (int i = 0; i < photoList_->count(); ++i)
                if (imageItem* item = photoItemAt(i)) item->setOutdated(true);
    }
    for (const auto& photo : project_->photos)
        if (imageItem* item = photoItem(photo->id)) item->setEV(photo->ev);
    updatePhotoControls();
}

void mainWindow::setEVbuttons(bool exif, bool aeb, int comboIndex) {
    exifButton_->setChecked(exif);
    aebButton_->setChecked(aeb);
    const QSignalBlocker block(evStepCombo_);
    evStepCombo_->setCurrentIndex(comboIndex);
}

void mainWindow::assignEVsAfterLoading() {
    if (!evControlsUsable()) {
        refreshPhotoList(false);
        return;
    }
    const halvora::evChoice choice = halvora::chooseEVsAfterLoading(*project_);
    setEVbuttons(choice.chosen == halvora::evChoice::fromExif, choice.chosen == halvora::evChoice::fromAEB,
                 choice.comboIndex);
    refreshPhotoList(false);
    imageItemChanged(-1);
    if (!choice.warning.isEmpty() && project_->photos.size() > 1) {
        appendLog(logWarning, choice.warning);
        if (!styledMessageBox::unattended())
            QTimer::singleShot(0, this, [this, text = choice.warning] {
                styledMessageBox::show(this, styledMessageBox::warning, text);
            });
    }
}

void mainWindow::EVsetFromExifSlot() {
    if (!evControlsUsable() || !halvora::setEVsFromExif(*project_)) {
        exifButton_->setChecked(false);
        return;
    }
    setEVbuttons(true, false, 0);
    refreshPhotoList(true);
}

void mainWindow::EVsetFromExifAEBslot() {
    if (!evControlsUsable() || !halvora::setEVsFromAEB(*project_)) {
        aebButton_->setChecked(false);
        return;
    }
    setEVbuttons(false, true, 0);
    refreshPhotoList(true);
}

void mainWindow::EVmanualSelectSlot(int idx) {
    if (!evControlsUsable() || !halvora::setEVsEvenSteps(*project_, idx)) return;
    setEVbuttons(false, false, idx);
    refreshPhotoList(true);
}

void mainWindow::evChanged() {
    if (!evControlsUsable()) return;
    std::vector<double> values;
    for (const auto& photo : project_->photos) {
        const imageItem* item = photoItem(photo->id);
        values.push_back(item ? item->ev() : photo->ev);
    }
    if (!halvora::setEVsManual(*project_, values)) return;
    setEVbuttons(false, false, 0);
    refreshPhotoList(true);
}

void mainWindow::imageItemStateChanged(int id, int state) {
    Q_UNUSED(state);
    imageItemChanged(id);
}

void mainWindow::imageItemChanged(int id) {
    Q_UNUSED(id);
    if (!project_) return;
    if (projectBusy()) {
        // Undo the click: the photos taking part cannot change under a running generation.
        for (const auto& photo : project_->photos)
            if (imageItem* item = photoItem(photo->id)) item->setChecked(photo->included);
        return;
    }
    int included = 0;
    for (const auto& photo : project_->photos) {
        const imageItem* item = photoItem(photo->id);
        photo->included = !item || item->isChecked();
        included += photo->included ? 1 : 0;
    }
    includedPhotos_ = included;
    if (project_->hdrPresent && id >= 0)
        if (imageItem* item = photoItem(id)) item->setOutdated(true);
}

void mainWindow::removeImages() {
    if (!project_ || projectBusy()) return;
    const int row = photoList_->currentRow();
    const imageItem* item = row >= 0 ? photoItemAt(row) : nullptr;
    if (!item) {
        styledMessageBox::show(this, styledMessageBox::information, tr("Choose an image to be removed."));
        return;
    }
    const int id = item->id();
    if (!styledMessageBox::question(this, tr("Are you sure you want to remove <b>%1</b> from the sequence?")
                                              .arg(QFileInfo(item->fileName()).fileName())))
        return;
    if (project_->photos.size() == 1) {
        // The last photo: the project's size and sequence rules start afresh.
        newProject(true);
        return;
    }
    const QString name = item->fileName();
    if (!project_->removePhoto(id)) return;
    delete photoList_->takeItem(row);
    appendLog(logInfo, tr("Removed %1.").arg(QDir::toNativeSeparators(name)));
    if (evControlsUsable()) {
        project_->computeEV();
        // Keep the EV source the user chose; even steps are recomputed for the new count.
        if (exifButton_->isChecked())
            halvora::setEVsFromExif(*project_);
        else if (aebButton_->isChecked())
            halvora::setEVsFromAEB(*project_);
        else if (evStepCombo_->currentIndex() > 0)
            halvora::setEVsEvenSteps(*project_, evStepCombo_->currentIndex());
    }
    refreshPhotoList(true);
    imageItemChanged(-1);
}

void mainWindow::newProject() {
    newProject(false);
}

void mainWindow::newProject(bool justClose) {
    if (!project_ || closing_ || projectBusy()) return;
    if (!justClose && !project_->photos.empty() &&
        !styledMessageBox::question(this, tr("Are you sure you want to start a new project?")))
        return;
    programOptionsSettings& options = programOptionsSettings::instance();
    const double freeMB = programOptionsSettings::freeDiskSpaceMB(options.tempDirInEffect);
    if (freeMB >= 0 && freeMB < 1024.0 && !justClose)
        styledMessageBox::show(
            this, styledMessageBox::warning,
            tr("There is little free disk space for temporary data ('%1': %2 MB). Please consider "
               "selecting a different location.")
                .arg(QDir::toNativeSeparators(options.tempDirInEffect), QString::number(freeMB, 'f', 0)));

    // The look carries over to the next photos; colour adjustment only when the options say so.
    toneMappingParameters_t look = project_->tmSettings.parameters();
    if (options.newProjectResetColorAdjustment) look.temperature = look.tint = look.hue = 1.0;
    photoList_->clear();
    project_.reset();
    if (!createProject()) {
        appendLog(logError, tr("Failed to create a new project."));
        return;
    }
    project_->tmSettings.parameters() = look;
    halvora::rebuildToneMappingTables(project_->tmSettings, halvora::toneMappingChange::everything);
    setEVbuttons(false, false, 0);
    includedPhotos_ = 0;
    resultSaved = false;
    lastSavedPath.clear();
    lastSaveRequest_ = saveResultRequest{};
    rightTabs_->setCurrentIndex(0);
    emit projectReplaced();
    updatePhotoControls();
    updateStatusArea();
    for (QAction* action : std::as_const(transformActions_))
        action->setEnabled(false);
    if (!justClose) {
        appendLog(logInfo, tr("New project."));
        if (options.newProjectShowFileOpen && !styledMessageBox::unattended())
            QTimer::singleShot(0, this, qOverload<>(&mainWindow::addImages));
    }
}
