#include "imageio/exifSummary.h"

#include "imageio/exifInfo.h"
#include "imageio/exifReader.h"

#include <QCoreApplication>
#include <QStringList>
#include <cmath>

namespace halvora {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("imageItem", text);
}

QString number(double v) {
    return QString::number(v, 'g', 4);
}

// The fixed-size text fields are not always terminated by the writer of the file.
QString fixedText(const char* field, size_t size) {
    size_t n = 0;
    while (n < size && field[n])
        ++n;
    return QString::fromLatin1(field, qsizetype(n)).trimmed();
}

} // namespace

QString exposureTimeText(const exifInfo_t& exif) {
    const double t = exif.exposureTime;
    if (!(t > 0) || !std::isfinite(t)) return {};
    if (t < 1.0) {
        // A fraction with numerator 1 reads the way cameras print it; other fractions are reduced to 1/x.
        if (exif.exposureTimeNum == 1 && exif.exposureTimeDen > 1)
            return QStringLiteral("1/%1 s").arg(exif.exposureTimeDen);
        return QStringLiteral("1/%1 s").arg(number(std::round(1.0 / t * 10.0) / 10.0));
    }
    return QStringLiteral("%1 s").arg(number(t));
}

QString exifSummary(const exifInfo_t& exif, bool hasAeb) {
    QStringList lines;
    auto add = [&](const char* label, const QString& value) {
        if (!value.isEmpty()) lines << tr(label) + ": " + value;
    };
    const QString make = fixedText(exif.cameraMake, sizeof exif.cameraMake);
    QString model = fixedText(exif.cameraModel, sizeof exif.cameraModel);
    // Most cameras repeat the maker in the model name ("Canon" / "Canon EOS 5D").
    const QString camera = model.startsWith(make, Qt::CaseInsensitive) || make.isEmpty()
                               ? model
                               : (model.isEmpty() ? make : make + " " + model);
    add("Camera", camera);
    add("Exposure time", exposureTimeText(exif));
    if (exif.fNumber > 0 && std::isfinite(exif.fNumber))
        add("F-number", tr("F %1").arg(number(exif.fNumber)));
    if (exif.iso > 0) add("ISO", tr("ISO %1").arg(exif.iso));
    if (hasAeb && std::isfinite(exif.exposureBias)) add("AEB EV", number(exif.exposureBias));
    add("Timestamp", fixedText(exif.dateTime, sizeof exif.dateTime));
    if (exif.focalLength > 0 && std::isfinite(exif.focalLength)) {
        // Without the sensor size there is no honest equivalent to show.
        if (exif.focalLength35mm > 0 && std::isfinite(exif.focalLength35mm))
            add("Focal length", tr("%1 mm (35mm equivalent: %2 mm)")
                                    .arg(number(exif.focalLength), number(exif.focalLength35mm)));
        else
            add("Focal length", tr("%1 mm").arg(number(exif.focalLength)));
    }
    if (exif.whiteBalance == 0 || exif.whiteBalance == 1) {
        // Only photos that carry EXIF at all say anything about white balance.
        if (!lines.isEmpty()) add("White balance", exif.whiteBalance == 0 ? tr("Auto") : tr("Manual"));
    }
    // 0 means the camera did not say.
    if (exif.lightSource != 0) add("Light source", tr(lightSourceName(exif.lightSource)));
    return lines.join('\n');
}

} // namespace halvora
