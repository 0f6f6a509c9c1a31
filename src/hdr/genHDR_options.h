#pragma once
// State of the HDR dialog's options panel ("HDR image generation options"): what one generation run
// uses, read from and remembered in the GenerateHDR/* (and EnhanceLDR/*) options. Lives in core so
// that the dialog, the automatic run and the batch share it; the widgets only edit it.
// Main thread.

#include <QString>

class generateHDRworker;
class programOptionsSettings;
struct commandLineOptions;

struct genHDR_options {
    bool autoAlign = true;
    int method = 0;             ///< 0 "True HDR", 1 "Smart Merge", 2 "Stack"
    int selectivity = 2;        ///< 0 "None", 1 "Cut off…", 2 "Balanced", 3 "Get best exposed"
    int smartMergeStrength = 1; ///< 0 … 5
    bool ghostRemoval = true;
    int ghostRemovalMode = 0;   ///< 0 automatic, 1 manual
    bool repairOverUnder = true;
    bool noiseFilter = true;
    int noiseStrength = 2;      ///< 1 … 10
    int noiseSoftness = 2;      ///< 1 … 10
    bool saveHDR = false;       ///< not remembered
    QString hdrFileName;        ///< not remembered
    bool ldrEnhancement = false; ///< one photo: the EnhanceLDR/* noise options apply

    /// The stored options (GenerateHDR/*, or EnhanceLDR/* noise options for one photo), normalised.
    static genHDR_options fromSettings(const programOptionsSettings& settings, bool ldrEnhancement);
    /// The automatic run's choices: alignment, ghost removal (automatic mode) and noise filter from
    /// the command line, "True HDR" with "Balanced" selectivity, repair forced on.
    static genHDR_options forAutomaticRun(const commandLineOptions& options, bool ldrEnhancement);
    /// Remembers the choices in the settings (the caller writes the store). An automatic run leaves
    /// the stored options alone: returns false and changes nothing.
    bool storeTo(programOptionsSettings& settings, bool automaticRun) const;
    /// Brings every field into its valid range (unknown choices take the defaults, strengths are clamped).
    void normalize();
    /// Sets a worker's run options (an LDR enhancement gets the noise options only).
    void applyTo(generateHDRworker& worker) const;
};
