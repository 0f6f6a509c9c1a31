#include "app/commandLineOptions.h"

#include "base/appIdentity.h"
#include "base/debugLog.h"

#include <QDir>

namespace {

// First "--" argument containing `name`, or an empty string.
QString lookup(const QStringList& options, const char* name) {
    for (const QString& option : options)
        if (option.contains(QLatin1String(name))) return option;
    return QString();
}

// Value of a "--name=value" option: the text after the first "="; null when there is no "=".
QString valueOf(const QString& option) {
    const qsizetype eq = option.indexOf('=');
    return eq < 0 ? QString() : option.mid(eq + 1);
}

QByteArray local(const QString& s) {
    return s.toLocal8Bit();
}

} // namespace

commandLineOptions& commandLineOptions::current() {
    static commandLineOptions options;
    return options;
}

QString commandLineOptions::directoryPart(const QString& path) {
    QStringList parts = QDir::fromNativeSeparators(path).split('/');
    if (!parts.isEmpty() && parts.last().contains('.')) parts.removeLast();
    QString dir = parts.join('/');
    if (dir.isEmpty() && path.startsWith('/')) dir = "/";
    return QDir::toNativeSeparators(QDir::cleanPath(dir));
}

commandLineOptions commandLineOptions::parse(const QStringList& arguments) {
    commandLineOptions o;
    QStringList options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (!arg.startsWith('-'))
            o.inputPhotos << arg;
        else if (arg.startsWith("--"))
            options << arg;
        // a single "-" followed by anything else is ignored
    }

    if (!lookup(options, "--auto").isEmpty()) o.autoProcess = true;
    if (!lookup(options, "--plugin").isEmpty()) o.plugin = true;
    if (!lookup(options, "--hide").isEmpty()) o.hideWindow = true;
    if (const QString v = valueOf(lookup(options, "--output_fn")); !v.isNull()) {
        o.outputFn = v;
        o.pluginSrcDir = directoryPart(v);
    }
    if (const QString v = valueOf(lookup(options, "--tm_settings")); !v.isNull()) o.settings = v;
    if (!lookup(options, "--auto_align").isEmpty()) o.autoAlign = true;
    if (!lookup(options, "--auto_deghost").isEmpty()) o.autoDeghost = true;
    if (const QString v = valueOf(lookup(options, "--noise_filter")); !v.isNull()) {
        o.noiseFilter = true;
        // Fewer than two numbers (or one that does not read) keeps that strength's default.
        const QStringList parts = v.split(',');
        if (parts.size() >= 2) {
            bool ok1 = false, ok2 = false;
            const int s1 = parts[0].trimmed().toInt(&ok1), s2 = parts[1].trimmed().toInt(&ok2);
            if (ok1) o.noiseStrength1 = s1;
            if (ok2) o.noiseStrength2 = s2;
        }
    }
    if (!lookup(options, "--panorama").isEmpty()) o.panoramaMode = true;
    if (!lookup(options, "--output_to_srgb").isEmpty()) o.outputToSrgb = true;
    if (const QString v = valueOf(lookup(options, "--output_dir")); !v.isNull()) {
        o.outputDir = v;
        o.pluginSrcDir = v;
    }
    if (!lookup(options, "--jpeg").isEmpty()) o.outputFormat = 0;
    if (!lookup(options, "--tiff8").isEmpty()) {
        o.outputFormat = 1;
        o.tiffBitDepth = 1;
    }
    if (!lookup(options, "--tiff16").isEmpty()) {
        o.outputFormat = 1;
        o.tiffBitDepth = 2;
    }
    if (const QString v = valueOf(lookup(options, "--save_hdr")); !v.isNull()) o.saveHdr = v;
    // Exact names: "--help" and "--version" must not be switched on by substrings of other options.
    o.showHelp = options.contains("--help");
    o.showVersion = options.contains("--version");
    o.verbose = options.contains("--verbose");
    return o;
}

QString commandLineOptions::usageText() {
    return QStringLiteral(
               "Usage: halvora [options] [photo ...]\n"
               "\n"
               "Halvora %1 - high-dynamic-range photography: merges a bracket of up to 32 photos (or opens "
               "one\n"
               "photo or one .hdr/.exr radiance file) and tone-maps it into a finished JPEG or TIFF.\n"
               "Photos named without --auto are opened in an interactive session.\n"
               "\n"
               "Options (a value is given as --option=value):\n"
               "  --auto                 process the photos unattended: generate, tone-map, save and exit\n"
               "  --output_fn=FILE       file to save the result to: .jpg/.jpeg (or no suffix) saves JPEG,\n"
               "                         .tif/.tiff saves TIFF; any other suffix is refused\n"
               "  --output_dir=DIR       folder for the result when --output_fn names no folder, and for "
               "the\n"
               "                         plug-in callback file\n"
               "  --tm_settings=FILE     tone-mapping settings file (.hvsx) to use instead of the defaults\n"
               "  --auto_align           align the photos before merging (also implies --auto)\n"
               "  --auto_deghost         remove ghosts of moving objects (also implies --auto)\n"
               "  --noise_filter=S1,S2   filter noise with strengths S1 and S2 (default 2,2)\n"
               "  --panorama             treat the picture as a 360-degree panorama (wraps at the edges)\n"
               "  --jpeg                 save JPEG\n"
               "  --tiff8                save an 8-bit TIFF\n"
               "  --tiff16               save a 16-bit TIFF (wins over --tiff8 and --jpeg)\n"
               "  --output_to_srgb       convert the result to sRGB when saving\n"
               "  --save_hdr=FILE        also save the merged radiance picture (.hdr: Radiance RGBE, else "
               "OpenEXR)\n"
               "  --plugin               plug-in mode: write the saved file's path to "
               "\"Halvora3_pluginCallback\"\n"
               "                         in the output folder at exit\n"
               "  --hide                 keep the window minimized\n"
               "  --verbose              with --auto: print each stage on standard error as it starts and "
               "ends,\n"
               "                         with its time (\"halvora: Loading 3 photos...\", \"halvora: ... "
               "done (0.45 s)\")\n"
               "  --help                 print this text and exit\n"
               "  --version              print the version and exit\n"
               "\n"
               "An unattended run prints nothing but its failure, as \"halvora: <file>: <reason>\" on "
               "standard error.\n"
               "Exit code: 0 after a normal close, -1 when the start fails, 1 when an unattended run "
               "fails.\n")
        .arg(halvora::kApplicationVersion);
}

void commandLineOptions::logParameters(const QStringList& arguments) const {
    debugLog("\n");
    for (qsizetype i = 1; i < arguments.size(); ++i)
        debugLog("argv[%d] = %s\n", int(i), local(arguments[i]).constData());
    debugLog("\n");
    for (const QString& photo : inputPhotos)
        debugLog("PARAMS: inputPhoto='%s'\n", local(photo).constData());
    debugLog("PARAMS: autoProcess=%d\n", int(autoProcess));
    debugLog("PARAMS: plugin=%d\n", int(plugin));
    debugLog("PARAMS: pluginSrcDir=%s\n", local(pluginSrcDir).constData());
    debugLog("PARAMS: outputFn=%s\n", local(outputFn).constData());
    debugLog("PARAMS: outputDir=%s\n", local(outputDir).constData());
    debugLog("PARAMS: settings=%s\n", local(settings).constData());
    debugLog("PARAMS: autoAlign=%d\n", int(autoAlign));
    debugLog("PARAMS: autoDeghost=%d\n", int(autoDeghost));
    debugLog("PARAMS: noiseFilter=%d (%d, %d)\n", int(noiseFilter), noiseStrength1, noiseStrength2);
    debugLog("PARAMS: panoramaMode=%d\n", int(panoramaMode));
    debugLog("PARAMS: outputToSrgb=%d\n", int(outputToSrgb));
    debugLog("PARAMS: outputFormat=%d (tiff bit depth: %d)\n", outputFormat, tiffBitDepth);
    debugLog("\n");
}
