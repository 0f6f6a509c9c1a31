// The editors of the tone-mapping tab in the main window (tone curve, histogram with black and white
// points, colour saturation, colour adjustment), the samples their eyedroppers take, export to the
// external editor, and the Language and Help menus.
#include "ui/mainWindow.h"

#include "app/programOptionsSettings.h"
#include "app/updateCheck.h"
#include "base/debugLog.h"
#include "base/runContext.h"
#include "project/processingProject.h"
#include "tonemap/colorAdjustment.h"
#include "tonemap/colorUnits.h"
#include "tonemap/histogramEditing.h"
#include "ui/colorAdjustGroup.h"
#include "ui/colorSaturationGroup.h"
#include "ui/histogramTool.h"
#include "ui/programOptions.h"
#include "ui/selectiveCurveTool.h"
#include "ui/styledMessageBox.h"
#include "ui/toneCurveTool.h"
#include "ui/tonemappingGroup.h"
#include "ui/toolBox.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMetaMethod>
#include <QUrl>

namespace {

struct language_t {
    const char* name; // in its own language, as the menu shows it
    const char* code; // of the translation file "lang_<code>.qm"
};

const language_t kLanguages[] = {
    {"Deutsch", "de"},  {"English", "en"},   {"Español", "es"},
    {"Français", "fr"}, {"Italiano", "it"},  {"Magyar", "hu"},
    {"Polski", "pl"},   {"Português", "pt"}, {"Português Brasileiro", "br"},
    {"Română", "ro"},   {"Русский", "ru"},   {"Slovenský", "sk"},
};

} // namespace

QStringList mainWindow::languageCodes() {
    QStringList codes;
    for (const language_t& l : kLanguages)
        codes << QString::fromLatin1(l.code);
    return codes;
}

void mainWindow::buildEditorBoxes(QWidget* column) {
    auto addBox = [&](const QString& title, const char* name, QWidget* content) {
        auto* box = new toolBox(title, column);
        box->setObjectName(name);
        box->setContent(content);
        column->layout()->addWidget(box);
        toneBoxes_ << box;
        connect(box, &toolBox::toggled, this, qOverload<>(&mainWindow::doToneMapping));
        return box;
    };
    curveTool_ = new toneCurveTool;
    histogramTool_ = new histogramTool;
    saturationGroup_ = new colorSaturationGroup;
    colorGroup_ = new colorAdjustGroup;
    addBox(tr("Tone curve"), "toneCurveToolBox", curveTool_);
    addBox(tr("Histogram, black && white point"), "histogramToolBox", histogramTool_);
    addBox(tr("Color saturation"), "colorSaturationToolBox", saturationGroup_);
    addBox(tr("Color adjustment"), "colorAdjustToolBox", colorGroup_);

    // A change that is complete always renders; one under the mouse only with live tone mapping.
    auto live = [this] {
        if (programOptionsSettings::instance().liveToneMapping) doToneMapping();
    };
    auto render = qOverload<>(&mainWindow::doToneMapping);
    connect(curveTool_, &toneCurveTool::curvesChanged, this, render);
    connect(curveTool_, &toneCurveTool::curvesChangedLive, this, live);
    connect(histogramTool_, &histogramTool::pointsMoved, this, render);
    connect(histogramTool_, &histogramTool::pointsMovedLive, this, live);
    connect(histogramTool_, &histogramTool::clipPercentageChanged, this, render);
    connect(histogramTool_, &histogramTool::lockChanged, this, render);
    // While a level handle moves, the picture marks what the levels clip.
    connect(histogramTool_, &histogramTool::pointsMovedLive, this, [this] { setMarkOverUnder(true); });
    connect(histogramTool_, &histogramTool::pointsMoved, this, [this] { setMarkOverUnder(false); });
    connect(histogramTool_, &histogramTool::sampleModeChanged, this, &mainWindow::requestSampleMode);
    connect(saturationGroup_, &colorSaturationGroup::paramsChanged, this, render);
    connect(saturationGroup_, &colorSaturationGroup::paramsChangedLive, this, live);
    connect(colorGroup_, &colorAdjustGroup::valueChanged, this, render);
    connect(colorGroup_, &colorAdjustGroup::valueChangedLive, this, live);
    connect(colorGroup_, &colorAdjustGroup::sampleModeChanged, this, &mainWindow::requestSampleMode);
}

void mainWindow::applySettingsToControls() {
    toneMappingSettings_t* record = project_ ? &project_->tmSettings : nullptr;
    curveTool_->setSettings(record);
    histogramTool_->setSettings(record);
    saturationGroup_->setSettings(record);
    colorGroup_->setSettings(record);
    if (record) curveTool_->setWBpoints(record->blackLevel, record->whiteLevel);
    // Last: its one paramsChanged() asks for the one preview of the new values.
    tmGroup_->setSettings(record);
    tmGroup_->setControlsFromSettings();
}

void mainWindow::requestSampleMode(int mode) {
    sampleMode_ = mode;
    // One eyedropper at a time.
    if (mode != histogramTool::blackPointSample && mode != histogramTool::whitePointSample)
        histogramTool_->endSampleMode();
    if (mode != colorAdjustGroup::kWhiteBalanceSample) colorGroup_->endSampleMode();
    toggleSampleMode(mode);
}

void mainWindow::showSampleInEditors(bool inImg, rgbDouble_t value) {
    saturationGroup_->hueTool()->setSampleValue(inImg, value);
    saturationGroup_->brightnessTool()->setSampleValue(inImg, value);
}

void mainWindow::sampleTakenSlot(int mode, int extra, rgbDouble_t sampleValue) {
    debugLog("Sample taken, mode=%d, src=%d, value = %lf %lf %lf %lf\n", mode, extra, sampleValue.r,
             sampleValue.g, sampleValue.b, sampleValue.l);
    requestSampleMode(0);
    emit sampleReady(mode, extra, sampleValue);
    // The record may only change while the tone-mapping controls are usable.
    if (!project_ || !tmGroup_->isEnabled()) return;
    if (mode == colorAdjustGroup::kWhiteBalanceSample) {
        colorGroup_->applyWhiteBalance(
            halvora::whiteBalanceFromSample(sampleValue.r, sampleValue.g, sampleValue.b));
        appendLog(logInfo, tr("White balance from the sample: %1, %2.")
                               .arg(halvora::temperatureText(project_->tmSettings.temperature),
                                    halvora::tintText(project_->tmSettings.tint)));
    } else if (mode == histogramTool::blackPointSample || mode == histogramTool::whitePointSample) {
        takeLevelSample(mode, extra, sampleValue);
    }
}

void mainWindow::takeLevelSample(int mode, int source, const rgbDouble_t& value) {
    toneMappingSettings_t& s = project_->tmSettings;
    double level;
    if (source == sampleFromInput) {
        const runSettings settings = currentRunSettings();
        halvora::runContext context(settings.threads, settings.panoramaMode);
        halvora::runContext::scope bind(context);
        level = halvora::levelOfRadianceColor(s, value, project_->hdrMean, project_->lcCorrection);
    } else {
        level = halvora::levelOfShownColor(value, s.blackLevel, s.whiteLevel);
    }
    if (level < 0) return;
    // A level picked by hand; automatic clipping would replace it at once.
    s.autoClipping = false;
    if (mode == histogramTool::blackPointSample)
        halvora::setBlackLevel(s, level);
    else
        halvora::setWhiteLevel(s, level);
    histogramTool_->setControlsFromSettings();
    emit histogramTool_->pointsChanged();
    doToneMapping();
}

QString mainWindow::externalEditorExportName() const {
    return project_ ? QDir(project_->sessionDir).filePath(QStringLiteral("Halvora_export.tif")) : QString();
}

void mainWindow::exportToExternalEditorSlot() {
    if (!resultAvailable() || !externalEditorReady()) return;
    const programOptionsSettings& options = programOptionsSettings::instance();
    saveResultRequest request;
    request.fileName = externalEditorExportName();
    request.options.format = saveResultOptions_t::formatTiff;
    request.options.jpegQuality = 100;
    request.options.tiffCompression = options.externalEditorCompression;
    request.options.tiffBitDepth = options.externalEditorBitDepth;
    request.options.transferExif = options.externalEditorTransferExif;
    request.options.convertToSrgb = options.externalEditorConvertToSrgb;
    request.options.dpi = options.externalEditorDpi;
    request.options.normalize();
    request.openInExternalEditor = true;
    saveResultSlot(request);
}

void mainWindow::buildLanguageMenu() {
    QMenu* menu = menuBar_->addMenu(tr("Language"));
    menu->setObjectName("languageMenu");
    auto* group = new QActionGroup(menu);
    const QString current = programOptionsSettings::instance().language;
    for (const language_t& l : kLanguages) {
        QAction* action = menu->addAction(QString::fromUtf8(l.name));
        action->setData(QString::fromLatin1(l.code));
        action->setCheckable(true);
        action->setChecked(current == QLatin1String(l.code));
        group->addAction(action);
        connect(action, &QAction::triggered, this, &mainWindow::languageChanged);
    }
}

void mainWindow::languageChanged() {
    auto* action = qobject_cast<QAction*>(sender());
    if (!action) return;
    programOptionsSettings& options = programOptionsSettings::instance();
    const QString code = action->data().toString();
    if (code == options.language) return;
    options.language = code;
    options.write();
    styledMessageBox::show(this, styledMessageBox::information,
                           tr("The language change will be applied after the program is restarted."));
}

void mainWindow::buildHelpMenu() {
    QMenu* help = menuBar_->addMenu(tr("Help"));
    help->setObjectName("helpMenu");
    connect(help->addAction(tr("On-line documentation")), &QAction::triggered, this,
            &mainWindow::openWebHelp);
    QAction* about = help->addAction(tr("About"));
    connect(about, &QAction::triggered, this, [this] {
        styledMessageBox::show(this, styledMessageBox::information,
                               tr("<b>Halvora %1</b><br><br>HDR photography: merging exposure brackets and "
                                  "tone mapping.")
                                   .arg(QStringLiteral(HALVORA_VERSION)));
    });
    QAction* updates = help->addAction(tr("Check for updates"));
    updates->setObjectName("checkUpdatesAction");
    // Usable when a version service is set up (Misc/UpdateCheckUrl or HALVORA_UPDATE_URL).
    connect(help, &QMenu::aboutToShow, this, [updates] {
        updates->setEnabled(!checkUpdates::configuredBase(programOptionsSettings::instance().updateCheckUrl)
                                 .trimmed()
                                 .isEmpty());
    });
    connect(updates, &QAction::triggered, this, [this] { checkForUpdates(true); });
}

void mainWindow::openWebHelp() {
    // The user guide installed with the program (or beside the build).
    const QString appDir = QCoreApplication::applicationDirPath();
    for (const QString& candidate :
         {appDir + "/../share/doc/halvora/README.md", appDir + "/../README.md", appDir + "/README.md"}) {
        if (QFileInfo::exists(candidate)) {
            QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(candidate).absoluteFilePath()));
            return;
        }
    }
    appendLog(logWarning, tr("The user guide was not found next to the program."));
}
