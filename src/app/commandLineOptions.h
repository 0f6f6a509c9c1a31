#pragma once
// The process-wide command-line record: filled once by parse() before the main window is built and
// read-only afterwards.

#include <QString>
#include <QStringList>

struct commandLineOptions {
    QStringList inputPhotos;
    bool autoProcess = false;
    bool plugin = false;
    bool hideWindow = false;
    QString pluginSrcDir;
    QString outputFn;
    QString settings;
    bool autoAlign = false;
    bool autoDeghost = false;
    bool noiseFilter = false;
    int noiseStrength1 = 2;
    int noiseStrength2 = 2;
    bool panoramaMode = false;
    int outputFormat = 0; ///< 0 JPEG, 1 TIFF
    int tiffBitDepth = 1; ///< 1 = 8-bit, 2 = 16-bit
    bool outputToSrgb = false;
    QString outputDir;
    QString saveHdr; ///< --save_hdr: also write the merged radiance picture here
    bool showHelp = false;
    bool showVersion = false;
    bool verbose = false; ///< --verbose: stage lines of an unattended run on standard error
    QStringList
        undecodableArguments; ///< arguments not valid in the system's file-name encoding (set by the caller)

    /// Parses the arguments from the second one on. Options are looked up by substring in the list of
    /// "--" arguments (first match wins), in a fixed order where later lookups override earlier ones.
    static commandLineOptions parse(const QStringList& arguments);
    /// Directory part of a path: all components but the last when the last contains ".", else the
    /// whole path; cleaned and in native separators.
    static QString directoryPart(const QString& path);
    /// The usage text of --help.
    static QString usageText();
    /// The "argv[%d]" and "PARAMS:" lines of the debug log.
    void logParameters(const QStringList& arguments) const;

    /// The record of this process.
    static commandLineOptions& current();
};
