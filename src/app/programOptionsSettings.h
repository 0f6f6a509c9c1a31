#pragma once
// The persisted program options: one field per key of the settings location, with the defaults,
// the valid values and the normalisation rules. One record per process (instance()), created
// before the main window and written back when the options dialog is accepted and at normal exit.
//
// Read from worker threads (core counts, paths, flags); written only on the main thread while no
// worker reading the changed fields runs, so no lock is used.

#include <QString>

class programOptionsSettings {
public:
    /// The process-wide record; the first call computes max cores and reads every key.
    static programOptionsSettings& instance();

    programOptionsSettings();

    /// Reads the always-read groups (Installer … NewProject, SavingResult) and, when `full`, the rest;
    /// missing or malformed keys take their defaults; then normalises. The first full read also fixes
    /// the temporary directory in effect for this run.
    void read(bool full);
    /// Normalises, then writes every key except the Installer group.
    void write();
    /// The valid-value column of the tables, the temporary-directory rule and the AutoCreate rule.
    void normalize();

    /// Free space of the volume holding `path` in megabytes; -1.0 when the query fails.
    static double freeDiskSpaceMB(const QString& path);
    /// Translation code for an installer language id (0x415 → "pl"; unknown → "en").
    static QString languageForInstallerId(int id);
    /// Installer/UserFolder as stored (or its default), without reading the whole record.
    static QString userFolderFromStore();
    /// The machine's ideal thread count, at most 64.
    static int computeMaxCores();
    /// Where a file dialog should start for `preferred` (a folder, or a file whose folder counts): the
    /// nearest folder on its path that exists, else the home folder.
    static QString existingFolder(const QString& preferred);

    /// Limit of the core-count options on this machine.
    int maxCores = 1;
    /// Temporary directory used by the running program: the configured path, or the system
    /// temporary directory when Scratchpad/Standard is set. Fixed by the first read.
    QString tempDirInEffect;

    // Installer
    QString userFolder;
    int installerLanguage = 0;
    // Scratchpad
    QString scratchPath;
    bool scratchStandard = false;
    // Performance
    int coreCount = 0;
    int coreCountBatch = 0;
    bool liveAntiAliasing = false;
    bool liveToneMapping = false;
    bool liveToneMappingWhileZooming = false;
    // ExternalEditor
    bool externalEditorEnabled = false;
    QString externalEditorPath;
    int externalEditorCompression = 0;
    int externalEditorBitDepth = 0;
    bool externalEditorTransferExif = false;
    bool externalEditorConvertToSrgb = false;
    int externalEditorDpi = 0;
    // SavingResult
    QString savingSuffix;
    QString savingSuffixBatch;
    bool saveToSourceDirByDefault = false;
    // NewProject
    bool newProjectShowFileOpen = false;
    bool newProjectResetColorAdjustment = false;
    bool newProjectAutoLDR = false;
    // SavingResult
    int jpegQuality = 0;
    int tiffBitDepth = 0;
    int tiffCompression = 0;
    bool transferExif = false;
    bool convertToSrgb = false;
    int dpi = 0;
    int saveFormat = 0;
    // Alignment
    int alignmentMethod = 0;
    QString alignmentPrefixSuffix;
    bool alignmentPrefix = false;
    int alignmentFormat = 0;
    bool alignmentAutoContrast = false;
    // Batch
    bool batchAutoCreateLDR = false;
    bool batchAutoCreateFixed = false;
    int batchAutoCreateFixedCount = 0;
    bool batchAutoCreateAutomatic = false;
    int batchAutoCreateAutomaticMaxCount = 0;
    bool batchAutoCreateAutomaticAEB = false;
    int batchSavePolicy = 0;
    bool batchSkipExisting = false;
    QString batchCreateTaskLastDir;
    QString batchSaveToLastDir;
    // OpenSaveDialogs
    QString openSavePhotoLastDir;
    QString savePhotoLastDir;
    QString openSaveSettingsLastDir;
    // Misc
    QString language;
    bool autoCheckUpdates = false;
    QString updateCheckUrl; ///< the version service's address (empty: no update check)
    int backgroundColor = 0;
    // GenerateHDR
    bool generateHdrAutoAlign = false;
    int generateHdrMethod = 0;
    int generateHdrTrueHdrSelectivity = 0;
    int generateHdrSmartMergeStrength = 0;
    bool generateHdrGhostRemoval = false;
    int generateHdrGhostRemovalMode = 0;
    bool generateHdrGhostRemovalRepair = false;
    bool generateHdrNoiseFilter = false;
    int generateHdrNoiseFilterStrength = 0;
    int generateHdrNoiseFilterSoftness = 0;
    // LoadHDR
    int loadHdrColorSpace = 0;
    bool loadHdrNoiseFilter = false;
    int loadHdrNoiseFilterStrength = 0;
    int loadHdrNoiseFilterSoftness = 0;
    // LoadRAW
    int loadRawColorSpace = 0;
    bool loadRawRecoverHighlights = false;
    bool loadRawNoiseFilter = false;
    int loadRawNoiseFilterWavelet = 0;
    int loadRawNoiseFilterMedian = 0;
    bool loadRawRGGB = false;
    bool loadRawLoadAllWithTheSameSettings = false;
    // EnhanceLDR
    bool enhanceLdrNoiseFilter = false;
    int enhanceLdrNoiseFilterStrength = 0;
    int enhanceLdrNoiseFilterSoftness = 0;
    // Processing
    bool panoramaMode = false;
    // ColorManagement
    bool colorManagementEnabled = false;
    bool colorManagementBpCompensation = false;
    int colorManagementInputProfile = 0;
    int colorManagementOutputProfile = 0;
    int colorManagementIntent = 0;
    QString colorManagementCustomMonitorProfile;

private:
    template <class Visitor> void visitKeys(Visitor&& v, bool full);
    bool tempDirFixed_ = false;
};
