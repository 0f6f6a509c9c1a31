#pragma once
// State of the HDR dialog's options panel ("HDR image generation options"): what one generation run
// uses. The dialog, the automatic run and the batch share it; the widgets only edit it, and the
// application fills it from and remembers it in the GenerateHDR/* (and EnhanceLDR/*) options.

#include <QString>

struct genHDR_options {
    bool autoAlign = true;
    int method = 0;             ///< 0 "True HDR", 1 "Smart Merge", 2 "Stack"
    int selectivity = 2;        ///< 0 "None", 1 "Cut off…", 2 "Balanced", 3 "Get best exposed"
    int smartMergeStrength = 1; ///< 0 … 5
    bool ghostRemoval = true;
    int ghostRemovalMode = 0; ///< 0 automatic, 1 manual
    bool repairOverUnder = true;
    bool noiseFilter = true;
    int noiseStrength = 2;       ///< 1 … 10
    int noiseSoftness = 2;       ///< 1 … 10
    bool saveHDR = false;        ///< not remembered
    QString hdrFileName;         ///< not remembered
    bool ldrEnhancement = false; ///< one photo: the EnhanceLDR/* noise options apply

    /// Brings every field into its valid range (unknown choices take the defaults, strengths are clamped).
    void normalize();
};
