#include "app/programOptionsSettings.h"

#include "app/settingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QThread>
#include <algorithm>

namespace {

// Values of the wrong type read as absent, so they take the default.
int readInt(const QVariant& value, int fallback) {
    bool ok = false;
    const int v = value.toInt(&ok);
    return ok ? v : fallback;
}

bool readBool(const QVariant& value, bool fallback) {
    if (value.typeId() == QMetaType::Bool) return value.toBool();
    const QString text = value.toString().trimmed().toLower();
    if (text == "true" || text == "1") return true;
    if (text == "false" || text == "0") return false;
    return fallback;
}

struct readVisitor {
    QSettings& settings;
    void operator()(const char* key, int& field, int fallback) {
        field = readInt(settings.value(key), fallback);
    }
    void operator()(const char* key, bool& field, bool fallback) {
        field = readBool(settings.value(key), fallback);
    }
    void operator()(const char* key, QString& field, const QString& fallback) {
        const QVariant v = settings.value(key);
        field = v.isValid() && v.canConvert<QString>() ? v.toString() : fallback;
    }
};

struct writeVisitor {
    QSettings& settings;
    template <class T, class D> void operator()(const char* key, const T& field, const D&) {
        if (QString(key).startsWith("Installer/")) return; // written by the installer only
        settings.setValue(key, field);
    }
};

int clampOrReset(int value, int low, int high, int reset) {
    return (value < low || value > high) ? reset : value;
}

} // namespace

programOptionsSettings& programOptionsSettings::instance() {
    static programOptionsSettings options = [] {
        programOptionsSettings o;
        o.read(true);
        return o;
    }();
    return options;
}

programOptionsSettings::programOptionsSettings() : maxCores(computeMaxCores()) {}

QString programOptionsSettings::existingFolder(const QString& preferred) {
    QString path = QDir::cleanPath(QFileInfo(preferred).absoluteFilePath());
    if (preferred.isEmpty()) return QDir::homePath();
    for (int depth = 0; depth < 256 && !path.isEmpty(); ++depth) {
        if (QFileInfo(path).isDir()) return path;
        const QString parent = QFileInfo(path).absolutePath();
        if (parent == path) break;
        path = parent;
    }
    return QDir::homePath();
}

int programOptionsSettings::computeMaxCores() {
    return std::clamp(QThread::idealThreadCount(), 1, 64);
}

template <class Visitor> void programOptionsSettings::visitKeys(Visitor&& v, bool full) {
    v("Installer/UserFolder", userFolder, QDir::homePath() + "/Halvora 3");
    v("Installer/Language", installerLanguage, 0);
    v("Scratchpad/Path", scratchPath, QString());
    v("Scratchpad/Standard", scratchStandard, true);
    v("Performance/CoreCount", coreCount, maxCores);
    v("Performance/CoreCountBatch", coreCountBatch, maxCores);
    v("Performance/LiveAntiAliasing", liveAntiAliasing, maxCores > 2);
    v("Performance/LiveToneMapping", liveToneMapping, maxCores > 2);
    v("Performance/LiveToneMappingWhileZoomingAndPanning", liveToneMappingWhileZooming, false);
    v("ExternalEditor/Enabled", externalEditorEnabled, false);
    v("ExternalEditor/Path", externalEditorPath, QString());
    v("ExternalEditor/Compression", externalEditorCompression, 0);
    v("ExternalEditor/BitDepth", externalEditorBitDepth, 1);
    v("ExternalEditor/TransferExif", externalEditorTransferExif, true);
    v("ExternalEditor/ConvertToSrgb", externalEditorConvertToSrgb, false);
    v("ExternalEditor/Dpi", externalEditorDpi, 300);
    v("SavingResult/Suffix", savingSuffix, QStringLiteral("Halvora"));
    v("SavingResult/SuffixBatch", savingSuffixBatch, QStringLiteral("Halvora_batch"));
    v("SavingResult/SaveToSourceDirByDefault", saveToSourceDirByDefault, true);
    v("NewProject/ShowFileOpen", newProjectShowFileOpen, true);
    v("NewProject/ResetColorAdjustment", newProjectResetColorAdjustment, true);
    v("NewProject/AutoLDR", newProjectAutoLDR, false);
    v("SavingResult/JpegQuality", jpegQuality, 100);
    v("SavingResult/TiffBitDepth", tiffBitDepth, 1);
    v("SavingResult/TiffCompression", tiffCompression, 0);
    v("SavingResult/TransferExif", transferExif, true);
    v("SavingResult/ConvertToSrgb", convertToSrgb, false);
    v("SavingResult/Dpi", dpi, 300);
    v("SavingResult/Format", saveFormat, 0);
    if (!full) return;
    v("Alignment/Method", alignmentMethod, 3);
    v("Alignment/PrefixSuffix", alignmentPrefixSuffix, QStringLiteral("aligned"));
    v("Alignment/Prefix", alignmentPrefix, false);
    v("Alignment/Format", alignmentFormat, 0);
    v("Alignment/AutoContrast", alignmentAutoContrast, false);
    v("Batch/AutoCreate/LDR", batchAutoCreateLDR, false);
    v("Batch/AutoCreate/Fixed", batchAutoCreateFixed, false);
    v("Batch/AutoCreate/FixedCount", batchAutoCreateFixedCount, 3);
    v("Batch/AutoCreate/Automatic", batchAutoCreateAutomatic, true);
    v("Batch/AutoCreate/AutomaticMaxCount", batchAutoCreateAutomaticMaxCount, 9);
    v("Batch/AutoCreate/AutomaticAEB", batchAutoCreateAutomaticAEB, false);
    v("Batch/SavePolicy", batchSavePolicy, 1);
    v("Batch/SkipExisting", batchSkipExisting, false);
    v("Batch/CreateTask_LastDir", batchCreateTaskLastDir, userFolder + "/examples");
    v("Batch/SaveTo_LastDir", batchSaveToLastDir, userFolder + "/examples");
    v("OpenSaveDialogs/OpenSavePhoto_LastDir", openSavePhotoLastDir, userFolder + "/examples");
    v("OpenSaveDialogs/SavePhoto_LastDir", savePhotoLastDir, userFolder + "/examples");
    v("OpenSaveDialogs/OpenSaveSettings_LastDir", openSaveSettingsLastDir, userFolder + "/presets");
    v("Misc/Language", language, languageForInstallerId(installerLanguage));
    v("Misc/AutoCheckUpdates", autoCheckUpdates, true);
    v("Misc/UpdateCheckUrl", updateCheckUrl, QString());
    v("Misc/BackgroundColor", backgroundColor, 2);
    v("GenerateHDR/AutoAlign", generateHdrAutoAlign, true);
    v("GenerateHDR/Method", generateHdrMethod, 0);
    v("GenerateHDR/TrueHDR_selectivity", generateHdrTrueHdrSelectivity, 2);
    v("GenerateHDR/SmartMerge_strength", generateHdrSmartMergeStrength, 1);
    v("GenerateHDR/GhostRemoval", generateHdrGhostRemoval, true);
    v("GenerateHDR/GhostRemovalMode", generateHdrGhostRemovalMode, 0);
    v("GenerateHDR/GhostRemovalRepair", generateHdrGhostRemovalRepair, true);
    v("GenerateHDR/NoiseFilter", generateHdrNoiseFilter, true);
    v("GenerateHDR/NoiseFilterStrength", generateHdrNoiseFilterStrength, 2);
    v("GenerateHDR/NoiseFilterSoftness", generateHdrNoiseFilterSoftness, 2);
    v("LoadHDR/ColorSpace", loadHdrColorSpace, 0);
    v("LoadHDR/NoiseFilter", loadHdrNoiseFilter, true);
    v("LoadHDR/NoiseFilterStrength", loadHdrNoiseFilterStrength, 2);
    v("LoadHDR/NoiseFilterSoftness", loadHdrNoiseFilterSoftness, 2);
    v("LoadRAW/ColorSpace", loadRawColorSpace, 1);
    v("LoadRAW/RecoverHighlights", loadRawRecoverHighlights, false);
    v("LoadRAW/NoiseFilter", loadRawNoiseFilter, false);
    v("LoadRAW/NoiseFilterWavelet", loadRawNoiseFilterWavelet, 2);
    v("LoadRAW/NoiseFilterMedian", loadRawNoiseFilterMedian, 1);
    v("LoadRAW/RGGB", loadRawRGGB, false);
    v("LoadRAW/LoadAllWithTheSameSettings", loadRawLoadAllWithTheSameSettings, true);
    v("EnhanceLDR/NoiseFilter", enhanceLdrNoiseFilter, true);
    v("EnhanceLDR/NoiseFilterStrength", enhanceLdrNoiseFilterStrength, 2);
    v("EnhanceLDR/NoiseFilterSoftness", enhanceLdrNoiseFilterSoftness, 2);
    v("Processing/PanoramaMode", panoramaMode, false);
    v("ColorManagement/Enabled", colorManagementEnabled, false);
    v("ColorManagement/BpCompensation", colorManagementBpCompensation, false);
    v("ColorManagement/InputProfile", colorManagementInputProfile, 0);
    v("ColorManagement/OutputProfile", colorManagementOutputProfile, 1);
    v("ColorManagement/Intent", colorManagementIntent, 0);
    v("ColorManagement/CustomMonitorProfile", colorManagementCustomMonitorProfile, QString());
}

void programOptionsSettings::read(bool full) {
    auto settings = halvora::openSettings();
    visitKeys(readVisitor{*settings}, full);
    if (!userFolder.isEmpty() && !QDir(userFolder).exists()) QDir().mkpath(userFolder);
    normalize();
}

void programOptionsSettings::write() {
    normalize();
    auto settings = halvora::openSettings();
    visitKeys(writeVisitor{*settings}, true);
    settings->sync();
}

void programOptionsSettings::normalize() {
    if (scratchPath.isEmpty() || !QFileInfo(scratchPath).isDir()) scratchStandard = true;
    if (scratchStandard) scratchPath.clear();
    if (!tempDirFixed_) {
        // A change of the temporary directory takes effect at the next start.
        tempDirInEffect = scratchStandard ? QDir::tempPath() : scratchPath;
        tempDirFixed_ = true;
    }

    if (coreCount < 1 || coreCount > maxCores) coreCount = maxCores;
    if (coreCountBatch < 1 || coreCountBatch > maxCores) coreCountBatch = maxCores;

    externalEditorCompression = clampOrReset(externalEditorCompression, 0, 2, 0);
    externalEditorBitDepth = clampOrReset(externalEditorBitDepth, 1, 2, 1);
    jpegQuality = clampOrReset(jpegQuality, 70, 100, 100);
    tiffBitDepth = clampOrReset(tiffBitDepth, 1, 2, 1);
    tiffCompression = clampOrReset(tiffCompression, 0, 2, 0);
    saveFormat = clampOrReset(saveFormat, 0, 1, 0);
    alignmentMethod = clampOrReset(alignmentMethod, 0, 3, 3);
    alignmentFormat = clampOrReset(alignmentFormat, 0, 1, 0);
    batchAutoCreateFixedCount = clampOrReset(batchAutoCreateFixedCount, 2, 32, 3);
    batchAutoCreateAutomaticMaxCount = clampOrReset(batchAutoCreateAutomaticMaxCount, 2, 32, 9);
    loadHdrColorSpace = clampOrReset(loadHdrColorSpace, 0, 4, 0);
    loadRawColorSpace = clampOrReset(loadRawColorSpace, 1, 4, 1);
    colorManagementInputProfile = clampOrReset(colorManagementInputProfile, 0, 4, 0);
    colorManagementOutputProfile = clampOrReset(colorManagementOutputProfile, 0, 4, 1);
    colorManagementIntent = clampOrReset(colorManagementIntent, 0, 3, 0);

    if (externalEditorEnabled && !QFileInfo(externalEditorPath).isFile()) {
        externalEditorEnabled = false;
        externalEditorPath.clear();
    }
    if (!colorManagementCustomMonitorProfile.isEmpty() &&
        !QFileInfo(colorManagementCustomMonitorProfile).isFile())
        colorManagementCustomMonitorProfile.clear();

    const int autoCreateModes =
        int(batchAutoCreateLDR) + int(batchAutoCreateFixed) + int(batchAutoCreateAutomatic);
    if (autoCreateModes != 1) batchAutoCreateLDR = batchAutoCreateFixed = batchAutoCreateAutomatic = false;
}

double programOptionsSettings::freeDiskSpaceMB(const QString& path) {
    if (path.isEmpty() || !QFileInfo::exists(path)) return -1.0;
    QStorageInfo storage(path);
    if (!storage.isValid() || !storage.isReady()) return -1.0;
    const qint64 bytes = storage.bytesAvailable();
    return bytes < 0 ? -1.0 : double(bytes) / 1024.0 / 1024.0;
}

QString programOptionsSettings::languageForInstallerId(int id) {
    switch (id) {
    case 0x407:
        return "de";
    case 0x40A:
        return "es";
    case 0x40C:
        return "fr";
    case 0x40E:
        return "hu";
    case 0x410:
        return "it";
    case 0x415:
        return "pl";
    case 0x416:
        return "br";
    case 0x418:
        return "ro";
    case 0x419:
        return "ru";
    case 0x41B:
        return "sk";
    case 0x816:
        return "pt";
    default:
        return "en";
    }
}

QString programOptionsSettings::userFolderFromStore() {
    auto settings = halvora::openSettings();
    const QVariant v = settings->value("Installer/UserFolder");
    return v.isValid() ? v.toString() : QDir::homePath() + "/Halvora 3";
}
