#include "ui/generateHDR.h"

#include "app/programOptionsSettings.h"
#include "app/storedOptions.h"
#include "base/debugLog.h"
#include "project/alignmentRun.h"
#include "project/alignmentWorker.h"
#include "project/generationRun.h"
#include "project/processingProject.h"
#include "ui/manualAlignment.h"
#include "ui/styledMessageBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const char* const kNotYet = QT_TRANSLATE_NOOP("generateHDR", "Not available in this version yet.");

// "Manual" and "Undo" of a tool that this version does not have: shown, but disabled.
void addUnavailableButtons(QBoxLayout* layout, QWidget* parent, const QString& why) {
    for (const QString& label : {generateHDR::tr("Manual"), generateHDR::tr("Undo")}) {
        auto* b = new QPushButton(label, parent);
        b->setEnabled(false);
        b->setToolTip(why);
        layout->addWidget(b);
    }
}

const char* const kSelectivityHints[] = {
    QT_TRANSLATE_NOOP("generateHDR", "Every exposure counts with the same weight."),
    QT_TRANSLATE_NOOP("generateHDR", "Over- and underexposed samples are left out of the merge."),
    QT_TRANSLATE_NOOP("generateHDR", "Well exposed samples weigh most; the usual choice."),
    QT_TRANSLATE_NOOP("generateHDR", "Each sample comes mostly from its best exposed photo.")};

} // namespace

generateHDR::generateHDR(processingProject* project, bool hidden, const runSettings& settings,
                         QWidget* parent)
    : styledDialog(parent), project_(project), hidden_(hidden), settings_(settings) {
    setObjectName("generateHDR");
    ldr_ = project_ && project_->photos.size() == 1;
    shown_ = halvora::genHDRoptionsFromSettings(programOptionsSettings::instance(), ldr_);
    buildUi();
    setOptions(shown_);
}

generateHDR::~generateHDR() {
    blockSignals(true); // whoever listens may be going away too
    stopRun();
    if (cursorSet_) QApplication::restoreOverrideCursor();
}

void generateHDR::buildUi() {
    setWindowTitle(ldr_ ? tr("LDR enhancement") : tr("Generate HDR"));
    const QString notYet = tr(kNotYet);

    auto* cac = new QGroupBox(tr("Chromatic aberration correction"), this);
    auto* cacLayout = new QHBoxLayout(cac);
    addUnavailableButtons(cacLayout, cac, notYet);
    cac->setToolTip(notYet);

    auto* align = new QGroupBox(tr("Alignment"), this);
    auto* alignLayout = new QHBoxLayout(align);
    autoAlign_ = new QCheckBox(tr("Automatic"), align);
    autoAlign_->setObjectName("autoAlign");
    autoAlign_->setToolTip(tr("Line the photos up before merging them (for photos taken without a tripod)."));
    alignLayout->addWidget(autoAlign_);
    manualAlign_ = new QPushButton(tr("Manual"), align);
    manualAlign_->setObjectName("manualAlign");
    manualAlign_->setToolTip(tr("Line the photos up by pins placed by hand."));
    manualAlign_->setEnabled(!ldr_);
    alignLayout->addWidget(manualAlign_);
    alignUndo_ = new QPushButton(tr("Undo"), align);
    alignUndo_->setObjectName("alignUndo");
    alignUndo_->setToolTip(tr("Give back the photos as they were before the alignment."));
    alignLayout->addWidget(alignUndo_);

    auto* opts = new QGroupBox(tr("HDR image generation options"), this);
    opts->setObjectName("genHDR_options");
    auto* optsLayout = new QVBoxLayout(opts);

    auto* methodRow = new QFormLayout;
    method_ = new QComboBox(opts);
    method_->setObjectName("method");
    method_->addItems({tr("True HDR"), tr("Smart Merge"), tr("Stack")});
    methodRow->addRow(tr("Method"), method_);
    optsLayout->addLayout(methodRow);

    trueHdrSelectivity_ = new QWidget(opts);
    trueHdrSelectivity_->setObjectName("genHDR_trueHDRselectivity");
    auto* selLayout = new QFormLayout(trueHdrSelectivity_);
    selLayout->setContentsMargins(0, 0, 0, 0);
    selectivity_ = new QComboBox(trueHdrSelectivity_);
    selectivity_->setObjectName("selectivity");
    selectivity_->addItems(
        {tr("None"), tr("Cut off over and under exposures"), tr("Balanced"), tr("Get best exposed")});
    selectivityHint_ = new QLabel(trueHdrSelectivity_);
    selectivityHint_->setWordWrap(true);
    selLayout->addRow(tr("Selectivity"), selectivity_);
    selLayout->addRow(selectivityHint_);
    optsLayout->addWidget(trueHdrSelectivity_);

    smartMergeOptions_ = new QGroupBox(tr("Options"), opts);
    smartMergeOptions_->setObjectName("genHDR_smartMergeOptions");
    auto* smLayout = new QHBoxLayout(smartMergeOptions_);
    smartMergeStrength_ = new QSlider(Qt::Horizontal, smartMergeOptions_);
    smartMergeStrength_->setObjectName("smartMergeStrength");
    smartMergeStrength_->setRange(0, 5);
    smartMergeStrength_->setPageStep(1);
    smartMergeStrength_->setTickPosition(QSlider::TicksBelow);
    smartMergeValue_ = new QLabel(smartMergeOptions_);
    smLayout->addWidget(new QLabel(tr("Strength"), smartMergeOptions_));
    smLayout->addWidget(smartMergeStrength_, 1);
    smLayout->addWidget(smartMergeValue_);
    optsLayout->addWidget(smartMergeOptions_);

    denoise_ = new QGroupBox(tr("Noise filtering"), opts);
    denoise_->setObjectName("genHDR_denoise");
    denoise_->setCheckable(true);
    auto* dnLayout = new QFormLayout(denoise_);
    noiseStrength_ = new QSpinBox(denoise_);
    noiseStrength_->setObjectName("noiseStrength");
    noiseStrength_->setRange(1, 10);
    noiseSoftness_ = new QSpinBox(denoise_);
    noiseSoftness_->setObjectName("noiseSoftness");
    noiseSoftness_->setRange(1, 10);
    dnLayout->addRow(tr("Strength"), noiseStrength_);
    dnLayout->addRow(tr("Softness"), noiseSoftness_);
    optsLayout->addWidget(denoise_);

    ghostRemoval_ = new QCheckBox(tr("Ghost removal"), opts);
    ghostRemoval_->setObjectName("ghostRemoval");
    ghostRemoval_->setEnabled(false);
    ghostRemoval_->setToolTip(notYet);
    optsLayout->addWidget(ghostRemoval_);

    saveHdr_ = new QCheckBox(tr("Save output HDR to file"), opts);
    saveHdr_->setObjectName("saveHdr");
    saveHdr_->setToolTip(tr("A name ending in .hdr is written as Radiance RGBE, any other as OpenEXR."));
    auto* pathRow = new QHBoxLayout;
    hdrPath_ = new QLineEdit(opts);
    hdrPath_->setObjectName("hdrPath");
    browse_ = new QToolButton(opts);
    browse_->setText(QStringLiteral("..."));
    pathRow->addWidget(hdrPath_, 1);
    pathRow->addWidget(browse_);
    optsLayout->addWidget(saveHdr_);
    optsLayout->addLayout(pathRow);

    runButton_ = new QPushButton(ldr_ ? tr("LDR enhancement") : tr("Generate HDR"), this);
    runButton_->setObjectName("runButton");
    runButton_->setDefault(true);
    cancel_ = new QPushButton(tr("Cancel"), this);
    cancel_->setObjectName("cancelButton");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(runButton_);
    buttons->addWidget(cancel_);

    auto* layout = new QVBoxLayout(contentArea());
    layout->addWidget(cac);
    layout->addWidget(align);
    layout->addWidget(opts);
    layout->addLayout(buttons);

    if (ldr_) {
        // One photo is not merged: only the noise filter applies.
        for (QWidget* w : std::initializer_list<QWidget*>{method_, trueHdrSelectivity_, smartMergeOptions_,
                                                          saveHdr_, hdrPath_, browse_})
            w->setEnabled(false);
    }
    autoAlign_->setEnabled(!ldr_); // one photo has nothing to be aligned to
    updateAlignUndo();

    connect(method_, &QComboBox::currentIndexChanged, this, &generateHDR::methodChanged);
    connect(selectivity_, &QComboBox::currentIndexChanged, this, &generateHDR::selectivityChanged);
    connect(smartMergeStrength_, &QSlider::valueChanged, smartMergeValue_,
            [this](int v) { smartMergeValue_->setNum(v); });
    connect(ghostRemoval_, &QCheckBox::toggled, this, &generateHDR::deghostToggled);
    connect(saveHdr_, &QCheckBox::toggled, this, &generateHDR::saveHDRtoggled);
    connect(alignUndo_, &QPushButton::clicked, this, &generateHDR::doAlignUndoSlot);
    connect(manualAlign_, &QPushButton::clicked, this, &generateHDR::doManualAlignSlot);
    connect(browse_, &QToolButton::clicked, this, &generateHDR::browseHdrPath);
    connect(runButton_, &QPushButton::clicked, this,
            ldr_ ? &generateHDR::enhanceLDRslot : &generateHDR::generateHDRslot);
    connect(cancel_, &QPushButton::clicked, this, &generateHDR::reject);
}

void generateHDR::setOptions(const genHDR_options& options) {
    shown_ = options;
    shown_.ldrEnhancement = ldr_;
    shown_.normalize();
    autoAlign_->setChecked(!ldr_ && shown_.autoAlign);
    method_->setCurrentIndex(shown_.method);
    selectivity_->setCurrentIndex(shown_.selectivity);
    smartMergeStrength_->setValue(shown_.smartMergeStrength);
    smartMergeValue_->setNum(shown_.smartMergeStrength);
    denoise_->setChecked(shown_.noiseFilter);
    noiseStrength_->setValue(shown_.noiseStrength);
    noiseSoftness_->setValue(shown_.noiseSoftness);
    ghostRemoval_->setChecked(false); // not available: the run merges without it
    hdrPath_->setText(shown_.hdrFileName);
    saveHdr_->setChecked(!ldr_ && shown_.saveHDR);
    methodChanged(method_->currentIndex());
    selectivityChanged();
    saveHDRtoggled();
}

genHDR_options generateHDR::options() const {
    genHDR_options o = shown_;
    o.ldrEnhancement = ldr_;
    o.noiseFilter = denoise_->isChecked();
    o.noiseStrength = noiseStrength_->value();
    o.noiseSoftness = noiseSoftness_->value();
    if (!ldr_) {
        o.autoAlign = autoAlign_->isChecked();
        o.method = method_->currentIndex();
        o.selectivity = selectivity_->currentIndex();
        o.smartMergeStrength = smartMergeStrength_->value();
        o.saveHDR = saveHdr_->isChecked();
        o.hdrFileName = hdrPath_->text().trimmed();
    } else {
        o.saveHDR = false;
        o.hdrFileName.clear();
    }
    o.normalize();
    return o;
}

void generateHDR::methodChanged(int method) {
    trueHdrSelectivity_->setVisible(method == 0);
    smartMergeOptions_->setVisible(method == 1);
}

void generateHDR::selectivityChanged() {
    const int i = selectivity_->currentIndex();
    selectivityHint_->setText(i >= 0 && i < 4 ? tr(kSelectivityHints[i]) : QString());
}

void generateHDR::deghostToggled() {
    // Ghost removal cannot be chosen yet; a box checked by other means is taken back.
    if (ghostRemoval_->isChecked()) ghostRemoval_->setChecked(false);
}

void generateHDR::saveHDRtoggled() {
    const bool on = !ldr_ && saveHdr_->isChecked();
    hdrPath_->setEnabled(on);
    browse_->setEnabled(on);
}

void generateHDR::browseHdrPath() {
    // Start where the file would go, or in the nearest folder that exists (the photos' by default).
    const QString typed = QDir::fromNativeSeparators(hdrPath_->text());
    const QString near = !typed.isEmpty()                        ? typed
                         : project_ && !project_->photos.empty() ? project_->photos.front()->fileName
                                                                 : QString();
    const QString folder = programOptionsSettings::existingFolder(QFileInfo(near).absolutePath());
    const QString start = typed.isEmpty() ? folder : folder + "/" + QFileInfo(typed).fileName();
    const QString fn =
        QFileDialog::getSaveFileName(this, tr("Save output HDR to file"), start,
                                     tr("Radiance RGBE (*.hdr)") + ";;" + tr("OpenEXR (*.exr)"));
    if (!fn.isEmpty()) hdrPath_->setText(QDir::toNativeSeparators(fn));
}

void generateHDR::report(int kind, const QString& text) {
    debugLog("%s\n", text.toLocal8Bit().constData());
    emit logLine(kind, text);
    if (hidden_) return;
    const styledMessageBox::kind box = kind == generationRun::error     ? styledMessageBox::error
                                       : kind == generationRun::warning ? styledMessageBox::warning
                                                                        : styledMessageBox::information;
    styledMessageBox::show(this, box, text);
}

bool generateHDR::checkHdrPath() {
    if (ldr_ || !saveHdr_->isChecked()) return true;
    const QString path = hdrPath_->text().trimmed();
    if (!path.isEmpty() && QFileInfo(QFileInfo(path).absolutePath()).isDir()) return true;
    saveHdr_->setChecked(false);
    report(generationRun::warning, tr("Directory does not exist. HDR save disabled."));
    return false;
}

void generateHDR::generateHDRslot() {
    if (ldr_) {
        enhanceLDRslot();
        return;
    }
    // An interactive user sees the unchecked box and decides; an unattended run goes on without the file.
    if (!checkHdrPath() && !hidden_) return;
    startRun();
}

void generateHDR::enhanceLDRslot() {
    if (!ldr_) {
        generateHDRslot();
        return;
    }
    startRun();
}

void generateHDR::startRun() {
    if (run_ || !project_ || project_->photos.empty()) return;
    genHDR_options o = options();
    run_ = std::make_unique<generationRun>(project_, o, false, hidden_, settings_);
    setEnabled(false);
    if (!cursorSet_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        cursorSet_ = true;
    }
    // Observers of the run (the window's progress bar and "Break") connect first.
    emit runActive(true);
    connect(run_.get(), &generationRun::startProgress, this, &generateHDR::startProgress);
    connect(run_.get(), &generationRun::finishProgress, this, &generateHDR::finishProgress);
    connect(run_.get(), &generationRun::logLine, this, &generateHDR::logLine);
    connect(run_.get(), &generationRun::photosChanged, this, &generateHDR::photosChanged);
    connect(run_.get(), &generationRun::message, this,
            [this](int kind, const QString& text) { report(kind, text); });
    // Queued: the run is released here, never inside its own signal.
    connect(run_.get(), &generationRun::finished, this, &generateHDR::generateHDRfinished,
            Qt::QueuedConnection);
    run_->start();
}

void generateHDR::generateHDRfinished(bool ok, const QString& error) {
    if (!run_) return;
    endRun();
    if (!ok) {
        report(generationRun::error, error.isEmpty() ? tr("HDR generation failed.") : error);
        return;
    }
    const genHDR_options o = options();
    if (halvora::storeGenHDRoptions(o, programOptionsSettings::instance(), hidden_))
        debugLog("generateHDR: options stored\n");
    accept();
}

void generateHDR::stopRun() {
    if (manualDialog_) manualDialog_->stopRun();
    if (!run_ && !undoRun_) return;
    if (run_) run_->stopNow();
    if (undoRun_) undoRun_->stopNow();
    endRun();
}

projectRun* generateHDR::activeRun() const {
    if (run_) return run_.get();
    return undoRun_.get();
}

void generateHDR::updateAlignUndo() {
    alignUndo_->setEnabled(!ldr_ && project_ && alignmentWorker::canUndo(*project_));
}

void generateHDR::doAlignUndoSlot() {
    if (run_ || undoRun_ || !project_ || !alignmentWorker::canUndo(*project_)) return;
    if (!hidden_ && !styledMessageBox::question(this, tr("Are you sure you want to undo the alignment?")))
        return;
    startAlignUndo();
}

void generateHDR::doManualAlignSlot() {
    if (ldr_ || run_ || undoRun_ || manualDialog_ || !project_ || project_->photos.size() < 2) return;
    if (project_->aligned && alignmentWorker::canUndo(*project_) &&
        styledMessageBox::question(
            this, tr("The photos have already been aligned. Undo the current alignment first?"), false)) {
        manualAfterUndo_ = true; // the dialog opens on the restored photos
        startAlignUndo();
        return;
    }
    openManualAlignment();
}

void generateHDR::openManualAlignment() {
    auto* dialog = new manualAlignment(project_, settings_, this);
    dialog->setWindowFlag(Qt::Dialog);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (!dialog->ready()) {
        delete dialog;
        return;
    }
    manualDialog_ = dialog;
    connect(dialog, &manualAlignment::photosChanged, this, &generateHDR::photosChanged);
    connect(dialog, &QDialog::finished, this, [this] {
        manualDialog_ = nullptr;
        updateAlignUndo();
    });
    dialog->open();
}

void generateHDR::startAlignUndo() {
    undoRun_ = std::make_unique<alignmentRun>(*project_, settings_);
    setEnabled(false);
    if (!cursorSet_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        cursorSet_ = true;
    }
    emit runActive(true);
    connect(undoRun_.get(), &alignmentRun::startProgress, this, &generateHDR::startProgress);
    connect(undoRun_.get(), &alignmentRun::finishProgress, this, &generateHDR::finishProgress);
    connect(undoRun_.get(), &alignmentRun::finished, this, &generateHDR::alignUndoFinished,
            Qt::QueuedConnection);
    undoRun_->startUndo();
}

void generateHDR::alignUndoFinished(bool ok, const QString& error) {
    if (!undoRun_) return;
    endRun();
    emit photosChanged(); // the photos are whole again, or (after a failure) as the undo left them
    const bool openManual = manualAfterUndo_;
    manualAfterUndo_ = false;
    if (ok)
        emit logLine(generationRun::info, tr("Alignment undone."));
    else
        report(generationRun::error, error);
    if (ok && openManual) openManualAlignment();
}

void generateHDR::endRun() {
    run_.reset();
    undoRun_.reset();
    if (alignUndo_) updateAlignUndo();
    setEnabled(true);
    if (cursorSet_) {
        QApplication::restoreOverrideCursor();
        cursorSet_ = false;
    }
    emit runActive(false);
}

void generateHDR::reject() {
    if (run_ || undoRun_) return; // a running generation is stopped with "Break", not by closing its dialog
    QDialog::reject();
}
