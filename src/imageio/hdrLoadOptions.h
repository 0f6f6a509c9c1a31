#pragma once
// The choices applied when a radiance file (Radiance RGBE, OpenEXR) is opened directly: the output
// colour space chosen in the HDR load options dialog and the noise filtering run after loading.
// Interactive runs show the dialog (src/ui/hdrLoadOptionsDialog.h) and store its choice as the
// LoadHDR/* options; unattended runs take it from the command line and the stored options. Plain value type,
// built and read on the main thread, then copied to the workers that need it.

#include <QString>
#include <QStringList>

struct hdrLoadOptions {
    /// Index of the output colour space, in the order of the dialog's list.
    enum colorSpaceIndex : int { asEmbedded = 0, sRGB = 1, adobeRGB = 2, wideGamut = 3, proPhoto = 4 };
    static constexpr int kColorSpaceCount = 5;

    int colorSpace = asEmbedded;
    bool noiseFilter = true;
    int noiseFilterStrength = 2;
    int noiseFilterSoftness = 2; ///< softness index 1 … 10
    bool panoramaMode = false;

    /// The dialog's entries in index order: "As embedded", "sRGB", "AdobeRGB", "WideGamut", "ProPhoto".
    static QStringList colorSpaceNames();
    /// Profile file of the colour space below the application directory ("/color profiles/sRGB.icm");
    /// empty for "As embedded", which keeps the file's own colours.
    QString profileFile() const;

    /// Values a run can use: colour space 0 … 4 (else 0), strength 1 … 10 and softness 1 … 10
    /// (clamped), so a hand-edited setting or a command-line value never reaches a table out of range.
    void normalize();
};
