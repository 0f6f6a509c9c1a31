#pragma once
// The choices of the "Load RAW image" dialog that reach the RAW converter, and the converter
// argument list built from them. The dialog (src/ui) edits this record; unattended runs fill it from
// the stored options. Plain value type, built on the main thread and copied to the load workers.

#include <QStringList>

struct rawLoadOptions {
    /// "White balance" entries in the dialog's order.
    enum whiteBalanceMode : int { asShot = 0, manual = 1, automatic = 2, automaticSelection = 3 };
    /// "Convert to" entries in the dialog's order.
    enum colorSpaceIndex : int { sRGB = 0, adobeRGB = 1, wideGamut = 2, proPhoto = 3 };

    int whiteBalance = asShot;
    /// "Manual" multipliers R, G, B, G2 (preset from the camera's, divided by its green one).
    double multipliers[4] = {1.0, 1.0, 1.0, 1.0};
    /// "DCRAW automatic (selection)": whether a grey square was picked, its centre on the half-size
    /// preview and its side in full-size pixels.
    bool hasSelection = false;
    int selectionX = 0;
    int selectionY = 0;
    int selectionSize = 0;
    /// "Interpolate RGGB as 4 colors".
    bool fourColors = false;

    /// The checkable "Noise filtering" group, its "Wavelet denoising" threshold and "Median filter" passes.
    bool noiseFilter = false;
    double waveletThreshold = 10.0;
    int medianPasses = 0;

    /// "Convert to" combo box, and whether it is enabled.
    bool colorSpaceEnabled = true;
    int colorSpace = sRGB;

    bool recoverHighlights = false;
    bool halfSize = false;
    /// "Use the same settings for the remaining RAW images in the currently loaded sequence".
    bool sameForRemaining = false;
};

namespace halvora {

/// The converter's options for a decode with `options` (the file name is not part of it): white
/// balance, "-f", noise filtering, output colour space, half size, highlight recovery, then "-c", "-W",
/// the quality ("-q 0" for a preview, else "-q 2 -6" for 16-bit output) and "-s -0". A preview is
/// decoded at half size in 8 bits and never converted to another colour space. Any thread.
QStringList buildDcrawArgs(const rawLoadOptions& options, bool preview);

} // namespace halvora
