#include "imageio/rawLoadOptions.h"

namespace {

// The dialog's numbers in their shortest general form ("1.5", "2", "0.25").
QString number(double value) {
    return QString("%1").arg(value);
}

} // namespace

namespace halvora {

QStringList buildDcrawArgs(const rawLoadOptions& options, bool preview) {
    QStringList args;
    switch (options.whiteBalance) {
    case rawLoadOptions::manual:
        args << "-r";
        for (double m : options.multipliers)
            args << number(m);
        break;
    case rawLoadOptions::automatic:
        args << "-a";
        break;
    case rawLoadOptions::automaticSelection:
        if (options.hasSelection) {
            // The selection's centre is picked on the half-size preview; the square is given in full-size
            // pixels by its corner.
            const int size = options.selectionSize;
            args << "-A" << QString::number(2 * options.selectionX - size / 2)
                 << QString::number(2 * options.selectionY - size / 2) << QString::number(size)
                 << QString::number(size);
        } else {
            args << "-a";
        }
        break;
    default:
        args << "-w";
        break;
    }
    if (options.fourColors) args << "-f";
    if (options.noiseFilter)
        args << "-n" << number(options.waveletThreshold * 10) << "-m"
             << QString::number(options.medianPasses);
    if (options.colorSpaceEnabled && options.colorSpace != rawLoadOptions::sRGB && !preview)
        args << "-o" << QString::number(options.colorSpace + 1);
    if (options.halfSize || preview) args << "-h";
    if (options.recoverHighlights)
        args << "-H"
             << "2"
             << "-g"
             << "5"
             << "7";
    args << "-c"
         << "-W";
    if (preview)
        args << "-q"
             << "0";
    else
        args << "-q"
             << "2"
             << "-6";
    args << "-s"
         << "-0";
    return args;
}

} // namespace halvora
