// The option records of the dialogs and runs, filled from and remembered in the program options and
// the command line. The records themselves live with the code that uses them; only this layer reads
// the options store.

#include "app/storedOptions.h"

#include "app/commandLineOptions.h"
#include "app/programOptionsSettings.h"

#include <QDir>
#include <algorithm>
#include <cmath>

namespace halvora {

genHDR_options genHDRoptionsFromSettings(const programOptionsSettings& s, bool ldrEnhancement) {
    genHDR_options o;
    o.ldrEnhancement = ldrEnhancement;
    o.autoAlign = s.generateHdrAutoAlign;
    o.method = s.generateHdrMethod;
    o.selectivity = s.generateHdrTrueHdrSelectivity;
    o.smartMergeStrength = s.generateHdrSmartMergeStrength;
    o.ghostRemoval = s.generateHdrGhostRemoval;
    o.ghostRemovalMode = s.generateHdrGhostRemovalMode;
    o.repairOverUnder = s.generateHdrGhostRemovalRepair;
    if (ldrEnhancement) {
        o.noiseFilter = s.enhanceLdrNoiseFilter;
        o.noiseStrength = s.enhanceLdrNoiseFilterStrength;
        o.noiseSoftness = s.enhanceLdrNoiseFilterSoftness;
    } else {
        o.noiseFilter = s.generateHdrNoiseFilter;
        o.noiseStrength = s.generateHdrNoiseFilterStrength;
        o.noiseSoftness = s.generateHdrNoiseFilterSoftness;
    }
    o.normalize();
    return o;
}

genHDR_options genHDRoptionsForAutomaticRun(const commandLineOptions& cl, bool ldrEnhancement) {
    genHDR_options o;
    o.ldrEnhancement = ldrEnhancement;
    o.autoAlign = cl.autoAlign;
    o.method = 0;
    o.selectivity = 2;
    o.ghostRemoval = cl.autoDeghost;
    o.ghostRemovalMode = 0;
    o.repairOverUnder = true;
    o.noiseFilter = cl.noiseFilter;
    o.noiseStrength = cl.noiseStrength1;
    o.noiseSoftness = cl.noiseStrength2;
    o.normalize();
    return o;
}

bool storeGenHDRoptions(const genHDR_options& chosen, programOptionsSettings& s, bool automaticRun) {
    if (automaticRun) return false;
    genHDR_options o = chosen;
    o.normalize();
    if (o.ldrEnhancement) {
        s.enhanceLdrNoiseFilter = o.noiseFilter;
        s.enhanceLdrNoiseFilterStrength = o.noiseStrength;
        s.enhanceLdrNoiseFilterSoftness = o.noiseSoftness;
        return true;
    }
    s.generateHdrAutoAlign = o.autoAlign;
    s.generateHdrMethod = o.method;
    s.generateHdrTrueHdrSelectivity = o.selectivity;
    s.generateHdrSmartMergeStrength = o.smartMergeStrength;
    s.generateHdrGhostRemoval = o.ghostRemoval;
    s.generateHdrGhostRemovalMode = o.ghostRemovalMode;
    s.generateHdrGhostRemovalRepair = o.repairOverUnder;
    s.generateHdrNoiseFilter = o.noiseFilter;
    s.generateHdrNoiseFilterStrength = o.noiseStrength;
    s.generateHdrNoiseFilterSoftness = o.noiseSoftness;
    return true;
}

hdrLoadOptions hdrLoadOptionsFromSettings(const programOptionsSettings& settings) {
    hdrLoadOptions o;
    o.colorSpace = settings.loadHdrColorSpace;
    o.noiseFilter = settings.loadHdrNoiseFilter;
    o.noiseFilterStrength = settings.loadHdrNoiseFilterStrength;
    o.noiseFilterSoftness = settings.loadHdrNoiseFilterSoftness;
    o.panoramaMode = settings.panoramaMode;
    o.normalize();
    return o;
}

void storeHdrLoadOptions(const hdrLoadOptions& chosen, programOptionsSettings& settings) {
    hdrLoadOptions o = chosen;
    o.normalize();
    settings.loadHdrColorSpace = o.colorSpace;
    settings.loadHdrNoiseFilter = o.noiseFilter;
    settings.loadHdrNoiseFilterStrength = o.noiseFilterStrength;
    settings.loadHdrNoiseFilterSoftness = o.noiseFilterSoftness;
}

hdrLoadOptions hdrLoadOptionsFromCommandLine(const commandLineOptions& commandLine,
                                             const programOptionsSettings& settings) {
    hdrLoadOptions o = hdrLoadOptionsFromSettings(settings);
    o.noiseFilter = commandLine.noiseFilter;
    o.noiseFilterStrength = commandLine.noiseStrength1;
    o.noiseFilterSoftness = commandLine.noiseStrength2;
    o.panoramaMode = commandLine.panoramaMode;
    o.normalize();
    return o;
}

hdrLoadOptions hdrLoadOptionsForUnattendedRun(const commandLineOptions& commandLine,
                                              const programOptionsSettings& settings) {
    return commandLine.autoProcess ? hdrLoadOptionsFromCommandLine(commandLine, settings)
                                   : hdrLoadOptionsFromSettings(settings);
}

rawLoadOptions rawLoadOptionsFromSettings(const programOptionsSettings& settings) {
    rawLoadOptions o;
    const int space = settings.loadRawColorSpace;
    o.colorSpace = space >= 1 && space <= 4 ? space - 1 : rawLoadOptions::sRGB;
    o.recoverHighlights = settings.loadRawRecoverHighlights;
    o.noiseFilter = settings.loadRawNoiseFilter;
    o.waveletThreshold = std::max(0, settings.loadRawNoiseFilterWavelet);
    o.medianPasses = std::max(0, settings.loadRawNoiseFilterMedian);
    o.fourColors = settings.loadRawRGGB;
    o.sameForRemaining = settings.loadRawLoadAllWithTheSameSettings;
    return o;
}

void storeRawLoadOptions(const rawLoadOptions& chosen, programOptionsSettings& settings) {
    settings.loadRawColorSpace = std::clamp(chosen.colorSpace, 0, 3) + 1;
    settings.loadRawRecoverHighlights = chosen.recoverHighlights;
    settings.loadRawNoiseFilter = chosen.noiseFilter;
    settings.loadRawNoiseFilterWavelet = std::max(0, int(std::lround(chosen.waveletThreshold)));
    settings.loadRawNoiseFilterMedian = std::max(0, chosen.medianPasses);
    settings.loadRawRGGB = chosen.fourColors;
    settings.loadRawLoadAllWithTheSameSettings = chosen.sameForRemaining;
}

colorManagementOptions_t colorManagementOptionsFromSettings(const programOptionsSettings& settings) {
    colorManagementOptions_t o;
    o.enabled = settings.colorManagementEnabled;
    o.inputProfile = settings.colorManagementInputProfile;
    o.outputProfile = settings.colorManagementOutputProfile;
    o.customMonitorProfile = settings.colorManagementCustomMonitorProfile;
    o.intent = settings.colorManagementIntent;
    o.blackPointCompensation = settings.colorManagementBpCompensation;
    return o;
}

void storeColorSetupCorrections(bool resetMonitorChoice, bool clearCustomMonitorProfile,
                                programOptionsSettings& settings) {
    if (resetMonitorChoice) settings.colorManagementOutputProfile = 1;
    if (clearCustomMonitorProfile) settings.colorManagementCustomMonitorProfile.clear();
}

saveResultOptions_t saveResultOptionsFromSettings(const programOptionsSettings& settings) {
    saveResultOptions_t o;
    o.format = settings.saveFormat;
    o.jpegQuality = settings.jpegQuality;
    o.tiffCompression = settings.tiffCompression;
    o.tiffBitDepth = settings.tiffBitDepth;
    o.convertToSrgb = settings.convertToSrgb;
    o.transferExif = settings.transferExif;
    o.dpi = settings.dpi;
    o.normalize();
    return o;
}

void storeSaveResultOptions(const saveResultOptions_t& chosen, programOptionsSettings& settings) {
    saveResultOptions_t o = chosen;
    o.normalize();
    settings.saveFormat = o.format;
    settings.jpegQuality = o.jpegQuality;
    settings.tiffCompression = o.tiffCompression;
    settings.tiffBitDepth = o.tiffBitDepth;
    settings.convertToSrgb = o.convertToSrgb;
    settings.transferExif = o.transferExif;
    settings.dpi = o.dpi;
}

QString defaultOutputName(const QStringList& inputs, bool batch) {
    const programOptionsSettings& s = programOptionsSettings::instance();
    return defaultOutputNameWithSuffix(inputs, batch ? s.savingSuffixBatch : s.savingSuffix);
}

saveResultRequest externalEditorRequest(const QString& tempDir, const programOptionsSettings& settings) {
    saveResultRequest r;
    r.fileName = QDir::cleanPath(tempDir + "/Halvora_export.tif");
    r.options.format = saveResultOptions_t::formatTiff;
    r.options.jpegQuality = 100;
    r.options.tiffCompression = settings.externalEditorCompression;
    r.options.tiffBitDepth = settings.externalEditorBitDepth;
    r.options.transferExif = settings.externalEditorTransferExif;
    r.options.convertToSrgb = settings.externalEditorConvertToSrgb;
    r.options.dpi = settings.externalEditorDpi;
    r.options.normalize();
    r.openInExternalEditor = true;
    return r;
}

} // namespace halvora
