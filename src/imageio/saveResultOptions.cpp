// Save options record, output names and the texts shown after a save.

#include "imageio/saveResultOptions.h"

#include "base/debugLog.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <algorithm>

namespace {

const char* const kInfoColor = "#c8c8c8";
const char* const kWarningColor = "#b0b060";
const char* const kErrorColor = "#b06060";
const char* const kSuccessColor = "#60a060";

constexpr int kMaxNameLength = 64;

/// File name without folder and without its last extension ("a.b.jpg" → "a.b"; "name" stays whole).
QString withoutLastExtension(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf('.');
    return dot < 0 ? name : name.left(dot);
}

/// Characters that may continue a common prefix: letters, "_" and most from "A" up, and "-".
inline bool prefixCharacter(QChar c) {
    return c.unicode() >= 0x41 || c == QLatin1Char('-');
}

} // namespace

void saveResultOptions_t::normalize() {
    if (format != formatJpeg && format != formatTiff) format = formatJpeg;
    if (jpegQuality < minJpegQuality || jpegQuality > maxJpegQuality) jpegQuality = maxJpegQuality;
    // Older stores may hold 2 (a second compressed kind); Deflate is the compressed kind we write.
    if (tiffCompression == 2) tiffCompression = compressionDeflate;
    if (tiffCompression != compressionNone && tiffCompression != compressionDeflate)
        tiffCompression = compressionNone;
    if (tiffBitDepth != 1 && tiffBitDepth != 2) tiffBitDepth = 1;
    dpi = std::clamp(dpi, minDpi, maxDpi);
}

QString saveResultOptions_t::extension() const {
    return format == formatTiff ? ".tif" : ".jpg";
}

namespace halvora {

QString uniqueOutputName(const QString& dir, const QString& baseName, const QString& extension,
                         bool overwrite) {
    const QString stem = QDir::cleanPath(dir + "/" + baseName);
    QString name = stem + extension;
    if (overwrite) return name;
    for (int counter = 1; QFileInfo::exists(name) && counter < 1000000; ++counter)
        name = stem + QString("_%1").arg(counter) + extension;
    return name;
}

QString defaultOutputNameWithSuffix(const QStringList& inputs, const QString& suffix) {
    if (inputs.isEmpty()) return QString();
    QStringList names;
    for (const QString& in : inputs)
        names << withoutLastExtension(in);
    names.sort();

    QString result;
    if (names.size() == 1) {
        result = names.first();
    } else {
        const QString& first = names.first();
        qsizetype prefixLength = first.size();
        for (qsizetype n = 1; n < names.size(); ++n) {
            const QString& other = names[n];
            qsizetype count = 0;
            while (count < first.size() && count < other.size() && first[count] == other[count] &&
                   prefixCharacter(first[count]))
                ++count;
            prefixLength = std::min(prefixLength, count);
        }
        if (prefixLength > 0) {
            result = first.left(prefixLength);
            if (result.endsWith('_') || result.endsWith('-')) result.chop(1);
            for (const QString& name : names) {
                QString rest = name.mid(prefixLength);
                if (rest.startsWith('_')) rest.remove(0, 1);
                if (!rest.isEmpty()) result += "_" + rest;
            }
        } else {
            result = first;
            for (qsizetype n = 1; n < names.size(); ++n)
                result += "_" + names[n];
        }
        if (result.size() > kMaxNameLength) result = result.left(kMaxNameLength) + "_and_more";
    }
    // An empty suffix adds nothing rather than a dangling "_".
    if (!suffix.isEmpty()) result += "_" + suffix;
    return result;
}

saveResultRequest unattendedSaveRequest(const QString& dir, const QString& baseName,
                                        const saveResultOptions_t& options, bool overwrite) {
    saveResultRequest r;
    r.options = options;
    r.options.normalize();
    r.fileName = uniqueOutputName(dir, baseName, r.options.extension(), overwrite);
    return r;
}

bool startExternalEditor(const QString& editor, const QString& fileName) {
    if (editor.isEmpty() || !QProcess::startDetached(editor, {fileName})) {
        debugLog("%s: cannot start '%s'\n", "startExternalEditor", qPrintable(editor));
        return false;
    }
    debugLog("Export to external editor: '%s'\n", qPrintable(fileName));
    return true;
}

std::vector<saveResultMessage_t> saveResultFinishedMessages(const saveResultRequest* request, bool batchRun,
                                                            metadataTransfer_t transfer) {
    using msg = saveResultMessage_t;
    std::vector<msg> out;
    if (!request || !request->success) {
        if (request)
            debugLog("Saving failed: %s\n", qPrintable(request->fileName));
        else
            debugLog("Saving failed\n");
        if (batchRun) {
            out.push_back({msg::batchLog, "Saving failed.", kErrorColor});
        } else {
            out.push_back({msg::errorBox, "Saving failed.", kErrorColor});
            if (request && !request->error.isEmpty())
                out.push_back({msg::logPanel, request->error, kErrorColor});
        }
        return out;
    }

    if (batchRun) {
        out.push_back({msg::batchLog, "Saved as " + request->fileName, kSuccessColor});
    } else {
        debugLog("Saved: %s\n", qPrintable(request->fileName));
        out.push_back({msg::logPanel, "Saved: " + request->fileName, kSuccessColor});
    }
    switch (transfer) {
    case metadataTransfer_t::failed:
        out.push_back({batchRun ? msg::batchLog : msg::warningBox, "EXIF transfer failed.", kWarningColor});
        break;
    case metadataTransfer_t::unavailable:
        // Nothing was copied; say so rather than let the user assume the file carries EXIF and profile.
        debugLog("%s: EXIF and colour profile were not transferred: the metadata tool is not available\n",
                 "saveResultFinished");
        out.push_back({batchRun ? msg::batchLog : msg::logPanel,
                       "EXIF and colour profile were not transferred (metadata tool not available).",
                       kWarningColor});
        break;
    case metadataTransfer_t::notRequested:
    case metadataTransfer_t::done:
        break;
    }
    if (request->openInExternalEditor)
        out.push_back({msg::logPanel, "Opening in external editor: " + request->fileName, kInfoColor});
    return out;
}

QString sourcePhotoList(const QStringList& fileNames) {
    QStringList entries;
    for (int i = 0; i < fileNames.size(); ++i)
        entries << QString("[%1] ").arg(i + 1) + fileNames[i];
    return entries.join(", ");
}

QString outputNameForFormat(const QString& fileName, int format) {
    const bool tiff = format == saveResultOptions_t::formatTiff;
    const QFileInfo info(fileName);
    const QString suffix = info.suffix().toLower();
    const bool isJpeg = suffix == "jpg" || suffix == "jpeg";
    const bool isTiff = suffix == "tif" || suffix == "tiff";
    if ((tiff && isTiff) || (!tiff && isJpeg)) return fileName;
    const QString wanted = tiff ? QStringLiteral(".tif") : QStringLiteral(".jpg");
    if (isJpeg || isTiff) return fileName.left(fileName.size() - suffix.size() - 1) + wanted;
    // "photo.v2" keeps its dot part: only a known picture suffix is replaced.
    return fileName + wanted;
}

} // namespace halvora
