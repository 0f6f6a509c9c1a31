#include "ui/manualAlignment.h"

#include "align/pinAlignment.h"
#include "align/pinPreview.h"
#include "base/debugLog.h"
#include "project/alignmentRun.h"
#include "project/processingProject.h"
#include "project/projectColor.h"
#include "ui/manualAlignmentWorkspace.h"
#include "ui/styledMessageBox.h"
#include "ui/zoomWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>

using namespace halvora;

namespace {

// "Method" entries and the transform model each stands for.
const int kModels[] = {alignShift, alignShiftRotation, alignPerspective};

std::array<QPointF, 4> toQt(const alignPoint pins[4]) {
    return {QPointF(pins[0].x, pins[0].y), QPointF(pins[1].x, pins[1].y), QPointF(pins[2].x, pins[2].y),
            QPointF(pins[3].x, pins[3].y)};
}

} // namespace

manualAlignment::manualAlignment(processingProject* project, const runSettings& settings, QWidget* parent)
    : styledDialog(parent), project_(project), settings_(settings) {
    setObjectName("manualAlignment");
    setWindowTitle(tr("Manual alignment"));
    const int n = project_ ? int(project_->photos.size()) : 0;
    const int base = project_ ? std::clamp(int(project_->midId), 0, std::max(n - 1, 0)) : 0;
    if (project_) pins_.reset(n, project_->width, project_->height, base);
    buildUi();
    ready_ = n >= 2 &&
             preview_.allocate(std::max(project_->previewWidth, 1), std::max(project_->previewHeight, 1));
    if (n >= 2 && !ready_) styledMessageBox::show(this, styledMessageBox::error, tr("Not enough memory!"));
    if (!ready_) return;
    refreshColor();
    fillPhotoBoxes();
    showPair();
}

manualAlignment::~manualAlignment() {
    progressTimer_.stop();
    if (run_) run_->stopNow();
}

int manualAlignment::model() const {
    const int i = method_ ? method_->currentIndex() : 0;
    return kModels[std::clamp(i, 0, 2)];
}

void manualAlignment::buildUi() {
    auto* choices = new QFormLayout;
    baseBox_ = new QComboBox(this);
    baseBox_->setObjectName("basePhoto");
    toAlignBox_ = new QComboBox(this);
    toAlignBox_->setObjectName("photoToAlign");
    method_ = new QComboBox(this);
    method_->setObjectName("method");
    method_->addItems({tr("Shift"), tr("Shift & rotation"), tr("Shift, rotation & perspective")});
    method_->setCurrentIndex(2);
    previewMode_ = new QComboBox(this);
    previewMode_->setObjectName("preview");
    previewMode_->addItems({tr("Average"), tr("Difference"), tr("Result")});
    previewMode_->setCurrentIndex(previewDifference);
    autoCrop_ = new QCheckBox(tr("Crop automatically"), this);
    autoCrop_->setObjectName("autoCrop");
    autoCrop_->setChecked(true);
    score_ = new QLabel(this);
    score_->setObjectName("pinScore");
    score_->setToolTip(tr("How well the four pins are spread over the photos: pins far from the centre "
                          "and on all sides of it fix the perspective best."));
    choices->addRow(tr("Base photo"), baseBox_);
    choices->addRow(tr("Photo to align"), toAlignBox_);
    choices->addRow(tr("Method"), method_);
    choices->addRow(tr("Preview"), previewMode_);
    centerAt_ = new QComboBox(this);
    centerAt_->setObjectName("centerAt");
    centerAt_->addItem(tr("None"));
    for (int i = 1; i <= 4; ++i)
        centerAt_->addItem(tr("Pin %1").arg(i));
    choices->addRow(tr("Pin quality"), score_);
    choices->addRow(tr("Center at"), centerAt_);
    choices->addRow(autoCrop_);

    baseView_ = new manualAlignmentWorkspace(this);
    baseView_->setObjectName("baseView");
    photoView_ = new manualAlignmentWorkspace(this);
    photoView_->setObjectName("photoView");
    previewView_ = new manualAlignmentWorkspace(this);
    previewView_->setObjectName("previewView");
    previewView_->setActivePins(0);
    auto* views = new QHBoxLayout;
    const std::pair<manualAlignmentWorkspace*, QString> captions[] = {
        {baseView_, tr("Base photo")}, {photoView_, tr("Photo to align")}, {previewView_, tr("Preview")}};
    for (const auto& [view, caption] : captions) {
        view->setMinimumSize(240, 180);
        auto* column = new QVBoxLayout;
        column->addWidget(new QLabel(caption, this));
        column->addWidget(view, 1);
        views->addLayout(column, 1);
    }

    // The two pinned views zoom and scroll together, so a pin pair is compared at one glance.
    pairZoom_ = new zoomWidget(this);
    pairZoom_->setObjectName("pairZoom");
    baseView_->attachZoom(pairZoom_);
    previewZoom_ = new zoomWidget(this);
    previewZoom_->setObjectName("previewZoom");
    previewView_->attachZoom(previewZoom_);
    connect(pairZoom_, &zoomWidget::zoomChanged, photoView_, [this](double scale) {
        photoView_->setFitting(pairZoom_->fitting());
        photoView_->setScale(scale);
    });
    connect(baseView_, &mainWorkspace::offsetsChanged, photoView_, &mainWorkspace::setScrollBars);
    auto* zooms = new QFormLayout;
    zooms->addRow(tr("Zoom (base and photo to align)"), pairZoom_);
    zooms->addRow(tr("Zoom (preview)"), previewZoom_);

    autoPins_ = new QPushButton(tr("Automatic pins"), this);
    autoPins_->setObjectName("autoPins");
    autoPins_->setToolTip(tr("Let the automatic alignment place the pins of the shown pair."));
    autoPinsAll_ = new QPushButton(tr("Automatic pins for all pairs"), this);
    autoPinsAll_->setObjectName("autoPinsAll");
    reset_ = new QPushButton(tr("Reset pins"), this);
    reset_->setObjectName("resetPins");
    resetAll_ = new QPushButton(tr("Reset all pins"), this);
    resetAll_->setObjectName("resetAllPins");
    apply_ = new QPushButton(tr("Apply"), this);
    apply_->setObjectName("apply");
    apply_->setDefault(true);
    close_ = new QPushButton(tr("Close"), this);
    close_->setObjectName("close");
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 100);
    progress_->setVisible(false);
    break_ = new QPushButton(tr("Break"), this);
    break_->setObjectName("break");
    break_->setVisible(false);
    status_ = new QLabel(this);
    status_->setObjectName("status");
    status_->setWordWrap(true);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {autoPins_, autoPinsAll_, reset_, resetAll_})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(progress_);
    buttons->addWidget(break_);
    buttons->addWidget(apply_);
    buttons->addWidget(close_);

    auto* top = new QHBoxLayout;
    top->addLayout(choices);
    top->addStretch(1);
    top->addLayout(zooms);
    auto* layout = new QVBoxLayout(contentArea());
    layout->addLayout(top);
    layout->addLayout(views, 1);
    layout->addWidget(status_);
    layout->addLayout(buttons);

    progressTimer_.setInterval(100);
    connect(&progressTimer_, &QTimer::timeout, this, [this] {
        if (run_) incProgressSlot(run_->context().progressPercent());
    });
    connect(baseView_, &manualAlignmentWorkspace::pinMoved, this,
            [this](int i, QPointF p) { pinMoved(i, p); });
    connect(photoView_, &manualAlignmentWorkspace::pinMoved, this,
            [this](int i, QPointF p) { pinMoved(i + 4, p); });
    connect(baseBox_, &QComboBox::currentIndexChanged, this, &manualAlignment::baseSelectionChanged);
    connect(toAlignBox_, &QComboBox::currentIndexChanged, this, &manualAlignment::toAlignSelectionChanged);
    connect(method_, &QComboBox::currentIndexChanged, this, &manualAlignment::methodChanged);
    connect(previewMode_, &QComboBox::currentIndexChanged, this, &manualAlignment::previewModeChange);
    connect(autoCrop_, &QCheckBox::toggled, this, &manualAlignment::autoCropChanged);
    connect(centerAt_, &QComboBox::currentIndexChanged, this, &manualAlignment::centerToggled);
    connect(autoPins_, &QPushButton::clicked, this, [this] { doAutoAlign(false); });
    connect(autoPinsAll_, &QPushButton::clicked, this, [this] { doAutoAlign(true); });
    connect(reset_, &QPushButton::clicked, this, &manualAlignment::resetPairSlot);
    connect(resetAll_, &QPushButton::clicked, this, &manualAlignment::resetAllSlot);
    connect(apply_, &QPushButton::clicked, this, &manualAlignment::doApplyAlignment);
    connect(close_, &QPushButton::clicked, this, &manualAlignment::reject);
    connect(break_, &QPushButton::clicked, this, [this] {
        if (run_) run_->cancel();
    });
}

void manualAlignment::fillPhotoBoxes() {
    const QSignalBlocker b1(baseBox_), b2(toAlignBox_);
    baseBox_->clear();
    toAlignBox_->clear();
    for (int i = 0; i < pins_.photoCount(); ++i) {
        const QString name = QFileInfo(project_->photos[size_t(i)]->fileName).fileName();
        baseBox_->addItem(name, i);
        if (i != pins_.base()) toAlignBox_->addItem(name, i);
    }
    baseBox_->setCurrentIndex(pins_.base());
    // The photo next to the base (after it when there is one) is shown first.
    const int next = pins_.base() + 1 < pins_.photoCount() ? pins_.base() + 1 : pins_.base() - 1;
    toAlignBox_->setCurrentIndex(std::max(toAlignBox_->findData(next), 0));
    toAlign_ = toAlignBox_->currentData().toInt();
}

void manualAlignment::refreshColor() {
    // The previews are in the photos' working profile, like the main workspace's pictures, and go to
    // the monitor through the same row conversion when they are drawn.
    const auto toMonitor = halvora::monitorRowTransform(*project_);
    for (manualAlignmentWorkspace* view : {baseView_, photoView_, previewView_})
        view->area()->setDisplayTransform(toMonitor);
}

void manualAlignment::showPair() {
    if (!ready_ || toAlign_ < 0) return;
    const photoEntry& base = *project_->photos[size_t(pins_.base())];
    const photoEntry& photo = *project_->photos[size_t(toAlign_)];
    baseView_->showPicture(base.preview, project_->width, project_->height);
    photoView_->showPicture(photo.preview, project_->width, project_->height);
    const pinPair_t& pair = pins_.pair(toAlign_);
    baseView_->setPins(toQt(pair.base));
    photoView_->setPins(toQt(pair.photo));
    baseView_->setActivePins(pinsUsedBy(model()));
    photoView_->setActivePins(pinsUsedBy(model()));
    updateScoreAndPreview();
    centerToggled();
}

void manualAlignment::centerToggled() {
    const int pin = centerAt_->currentIndex() - 1;
    if (!ready_ || toAlign_ < 0 || pin < 0 || pin >= pinsUsedBy(model())) return;
    const pinPair_t& pair = pins_.pair(toAlign_);
    baseView_->centerOn(QPointF(pair.base[pin].x, pair.base[pin].y));
    photoView_->centerOn(QPointF(pair.photo[pin].x, pair.photo[pin].y));
}

bool manualAlignment::currentTransform(alignTransform& t, QString* error) const {
    if (!ready_ || toAlign_ < 0) return false;
    const pinPair_t& pair = pins_.pair(toAlign_);
    return transformFromPins(model(), pair.base, pair.photo, toAlign_, t, error);
}

void manualAlignment::updateScoreAndPreview() {
    if (!ready_ || toAlign_ < 0) return;
    const pinPair_t& pair = pins_.pair(toAlign_);
    score_->setText(
        tr("<b>%1 / 100</b>")
            .arg(pinQualityScore(model(), pair.base, pair.photo, project_->width, project_->height)));
    alignTransform t;
    QString reason;
    if (!currentTransform(t, &reason)) {
        status_->setText(reason);
        return;
    }
    status_->clear();
    const photoEntry& base = *project_->photos[size_t(pins_.base())];
    const photoEntry& photo = *project_->photos[size_t(toAlign_)];
    const double sx = double(project_->width) / std::max(base.preview.width, 1);
    const double sy = double(project_->height) / std::max(base.preview.height, 1);
    if (renderPinPreview(base.preview, photo.preview, scaledTransform(t, sx, sy), model(),
                         previewMode_->currentIndex(), preview_, &reason))
        previewView_->showPicture(preview_, project_->width, project_->height);
    else
        status_->setText(reason);
}

void manualAlignment::pinMoved(int pin, QPointF position) {
    if (!ready_ || toAlign_ < 0 || pin < 0 || pin > 7) return;
    pinPair_t& pair = pins_.pair(toAlign_);
    alignPoint& p = pin < 4 ? pair.base[pin] : pair.photo[pin - 4];
    p = {position.x(), position.y()};
    pair.set = true;
    updateScoreAndPreview();
}

void manualAlignment::baseSelectionChanged() {
    const int chosen = baseBox_->currentIndex();
    if (!ready_ || chosen < 0 || chosen == pins_.base()) return;
    if (pins_.anySet() &&
        !styledMessageBox::question(
            this,
            tr("By changing the base photo you'll reset the current alignment pins. Do you wish to proceed?"),
            false)) {
        const QSignalBlocker block(baseBox_);
        baseBox_->setCurrentIndex(pins_.base());
        return;
    }
    pins_.reset(pins_.photoCount(), project_->width, project_->height, chosen);
    fillPhotoBoxes();
    showPair();
}

void manualAlignment::toAlignSelectionChanged() {
    const QVariant data = toAlignBox_->currentData();
    if (!data.isValid()) return;
    toAlign_ = data.toInt();
    showPair();
}

void manualAlignment::previewModeChange() {
    updateScoreAndPreview();
}

void manualAlignment::methodChanged(int) {
    baseView_->setActivePins(pinsUsedBy(model()));
    photoView_->setActivePins(pinsUsedBy(model()));
    updateScoreAndPreview();
}

void manualAlignment::autoCropChanged() {
    debugLog("manualAlignment: crop automatically %d\n", int(autoCrop_->isChecked()));
}

void manualAlignment::resetPairSlot() {
    if (!ready_ || run_) return;
    if (!styledMessageBox::question(
            this, tr("Are you sure you want to reset pin positions for the currently opened photo pair?"),
            false))
        return;
    pins_.resetPair(toAlign_);
    showPair();
}

void manualAlignment::resetAllSlot() {
    if (!ready_ || run_) return;
    if (!styledMessageBox::question(
            this, tr("Are you sure you want to reset pin positions for all photo pairs?"), false))
        return;
    pins_.reset(pins_.photoCount(), project_->width, project_->height, pins_.base());
    showPair();
}

void manualAlignment::doAutoAlign(bool allPairs) {
    if (!ready_ || run_) return;
    const QString question =
        allPairs
            ? tr("Are you sure you want to automatically set the pins for all the photo pairs? This will "
                 "reset "
                 "your current settings.")
            : tr("Are you sure you want to automatically set the pins for the current pair of photos? This "
                 "will reset your current settings.");
    if (!styledMessageBox::question(this, question, false)) return;
    autoPinsForAll_ = allPairs;
    const int base = pins_.base(), one = allPairs ? -1 : toAlign_;
    startRun([base, one](alignmentRun& r) { return r.startAutoPins(base, one); },
             &manualAlignment::autoPinsFinished);
}

void manualAlignment::autoPinsFinished(bool ok, const QString& error) {
    if (!run_) return;
    const bool cancelled = run_->context().cancelled();
    const std::vector<alignPinSet> found = run_->pins();
    const std::vector<bool> foundFlags = run_->pinsFound();
    endRun();
    bool missing = !ok;
    for (int i = 0; i < pins_.photoCount(); ++i) {
        if (i == pins_.base() || (!autoPinsForAll_ && i != toAlign_)) continue;
        if (size_t(i) >= found.size() || size_t(i) >= foundFlags.size() || !foundFlags[size_t(i)]) {
            missing = true;
            continue;
        }
        pinPair_t& pair = pins_.pair(i);
        std::copy(std::begin(found[size_t(i)].reference), std::end(found[size_t(i)].reference), pair.base);
        std::copy(std::begin(found[size_t(i)].photo), std::end(found[size_t(i)].photo), pair.photo);
        pair.set = true;
    }
    // The estimator's pins fix a perspective.
    {
        const QSignalBlocker block(method_);
        method_->setCurrentIndex(2);
    }
    showPair();
    if (cancelled) return;
    if (missing) {
        if (!error.isEmpty()) debugLog("manualAlignment: %s\n", error.toLocal8Bit().constData());
        styledMessageBox::show(
            this, styledMessageBox::warning,
            tr("Failed to find good enough set of features. Please try to select them manually."));
    }
}

void manualAlignment::doApplyAlignment() {
    if (!ready_ || run_) return;
    if (!pins_.missing().empty() &&
        !styledMessageBox::question(this,
                                    tr("Are you sure you want to apply manual alignment? There are still "
                                       "photos for which the pins were not "
                                       "set."),
                                    false))
        return;
    std::vector<QString> names;
    for (const auto& photo : project_->photos)
        names.push_back(QFileInfo(photo->fileName).fileName());
    std::vector<alignTransform> transforms;
    QString reason;
    if (!pins_.transforms(model(), names, transforms, &reason)) {
        styledMessageBox::showPlain(this, styledMessageBox::error, reason);
        return;
    }
    const int m = model();
    const bool crop = autoCrop_->isChecked();
    startRun([transforms, m, crop](alignmentRun& r) { return r.startApply(transforms, m, crop); },
             &manualAlignment::doAlignmentFinished);
}

void manualAlignment::doAlignmentFinished(bool ok, const QString& error) {
    if (!run_) return;
    const bool cancelled = run_->context().cancelled();
    endRun();
    if (ok) {
        emit photosChanged();
        accept();
        return;
    }
    if (!cancelled) styledMessageBox::showPlain(this, styledMessageBox::error, error);
}

bool manualAlignment::startRun(const std::function<bool(alignmentRun&)>& start,
                               void (manualAlignment::*done)(bool, const QString&)) {
    run_ = std::make_unique<alignmentRun>(*project_, settings_);
    // Queued: the run is released in the slot, never inside its own signal.
    connect(run_.get(), &alignmentRun::finished, this, done, Qt::QueuedConnection);
    setBusy(true);
    if (start(*run_)) return true;
    endRun();
    return false;
}

void manualAlignment::endRun() {
    run_.reset();
    setBusy(false);
}

void manualAlignment::setBusy(bool busy) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{baseBox_, toAlignBox_, method_, autoCrop_, autoPins_, autoPinsAll_,
                                         reset_, resetAll_, apply_, close_, baseView_, photoView_})
        w->setEnabled(!busy);
    progress_->setVisible(busy);
    break_->setVisible(busy);
    progress_->setValue(0);
    if (busy)
        progressTimer_.start();
    else
        progressTimer_.stop();
}

void manualAlignment::incProgressSlot(int percent) {
    progress_->setValue(std::clamp(percent, 0, 100));
}

void manualAlignment::stopRun() {
    if (!run_) return;
    run_->stopNow();
    endRun();
}

projectRun* manualAlignment::activeRun() const {
    return run_.get();
}

void manualAlignment::reject() {
    if (run_) return; // a running estimation or apply is stopped with "Break" first
    QDialog::reject();
}
