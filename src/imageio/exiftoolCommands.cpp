#include "imageio/exiftoolCommands.h"

#include "base/appIdentity.h"

#include <QFileInfo>

namespace {

QString absolute(const QString& fileName) {
    return QFileInfo(fileName).absoluteFilePath();
}

// The version as this program has always written it, with a trailing blank.
QString versionText() {
    return QString::fromLatin1(halvora::kApplicationVersion) + " ";
}

const char* kindText(exifResultKind kind) {
    switch (kind) {
    case exifResultKind::alignedPhoto:
        return "Image aligned with";
    case exifResultKind::singlePhotoEnhanced:
        return "Single photo enhanced with";
    case exifResultKind::hdrToneMapped:
        break;
    }
    return "HDR created and tone mapped with";
}

} // namespace

namespace halvora {

QString exiftoolSoftwareTag() {
    return QString::fromLatin1(halvora::kApplicationName) + " " + versionText() + " (Linux)";
}

QString exiftoolUsedPhotoList(const QStringList& fileNames) {
    QStringList entries;
    for (qsizetype i = 0; i < fileNames.size(); ++i)
        entries << QString("[%1] ").arg(i + 1) + fileNames.at(i);
    return entries.join(", ");
}

QStringList exiftoolTagQueryArguments(const QString& fileName) {
    return {"-comment",     "-bracketMode", "-bracketShotNumber", "-dateTimeOriginal",
            "-imageHeight", "-imageWidth",  "-apertureValue",     "-exposureTime",
            "-iso",         "-v0",          absolute(fileName)};
}

QStringList exiftoolExtractIccArguments(const QString& source, const QString& profile) {
    return {"-v0", "-icc_profile", "-b", "-w", "icc", absolute(source), "-o", absolute(profile)};
}

QStringList exiftoolEmbedIccArguments(const QString& target, const QString& profile) {
    return {"-v0", "-icc_profile<=" + absolute(profile), absolute(target), "-overwrite_original"};
}

QStringList exiftoolTransferExifArguments(const QString& source, const QString& target,
                                          const QString& usedPhotos, exifResultKind kind, int dpi,
                                          const QString& profile) {
    const QString software = exiftoolSoftwareTag();
    QStringList args{"-v0",
                     "-overwrite_original",
                     "-tagsfromfile",
                     absolute(source),
                     "-Software=" + software,
                     "-CreatorTool=" + software,
                     "-HistorySoftwareAgent=" + software,
                     "-Orientation=Horizontal (normal)"};
    if (!usedPhotos.isEmpty())
        args << "-ExposureTime="
             << "-TargetExposureTime="
             << "-ShutterSpeed="
             << "-ShutterSpeedValue=";
    QString comment = QString::fromLatin1(kindText(kind)) + " " +
                      QString::fromLatin1(halvora::kApplicationName) + " " + versionText();
    comment += usedPhotos.isEmpty() ? QString(".") : ": " + usedPhotos;
    args << "-comment=" + comment << "-thumbnailimage=";
    if (dpi > 0) args << QString("-XResolution=%1").arg(dpi) << QString("-YResolution=%1").arg(dpi);
    if (!profile.isEmpty()) args << "-icc_profile<=" + absolute(profile);
    args << absolute(target);
    return args;
}

} // namespace halvora
