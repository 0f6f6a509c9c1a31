#include "imageio/exiftoolTags.h"

#include <QRegularExpression>
#include <cmath>
#include <limits>

namespace {

// Days from 1970-01-01 to the given proleptic Gregorian date (month 1 … 12), counted from the last
// 1 March so that the leap day ends a year.
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool readDouble(const QString& text, double& value) {
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v)) return false;
    value = v;
    return true;
}

bool readInt(const QString& text, int32_t& value) {
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok) return false;
    value = v;
    return true;
}

// "1/60", "0.5" or "13" seconds.
bool readExposureTime(const QString& text, double& seconds) {
    const qsizetype slash = text.indexOf('/');
    if (slash < 0) return readDouble(text, seconds) && seconds >= 0;
    bool okN = false, okD = false;
    const int numerator = text.left(slash).trimmed().toInt(&okN);
    const int denominator = text.mid(slash + 1).trimmed().toInt(&okD);
    if (!okN || !okD || denominator <= 0 || numerator < 0) return false;
    seconds = double(numerator) / denominator;
    return true;
}

} // namespace

namespace halvora {

bool exiftoolTimeStamp(const QString& text, int64_t& seconds) {
    static const QRegularExpression pattern(
        R"(^\s*(\d{1,6}):(\d{1,2}):(\d{1,2})\s+(\d{1,2}):(\d{1,2}):(\d{1,2}))");
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch()) return false;
    const int64_t year = m.captured(1).toLongLong(), month = m.captured(2).toInt(),
                  day = m.captured(3).toInt();
    const int64_t hour = m.captured(4).toInt(), minute = m.captured(5).toInt(),
                  second = m.captured(6).toInt();
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return false;
    seconds = second + 60 * (minute + 60 * (hour + 24 * daysFromCivil(year, month, day)));
    return true;
}

void parseExiftoolAnswer(const QStringList& lines, exiftoolTags& tags) {
    for (const QString& line : lines) {
        // "Exposure Time                   : 1/60": the label is all before the first ": ", so a value
        // that happens to contain another label's words cannot be taken for it.
        const qsizetype colon = line.indexOf(": ");
        if (colon < 0) continue;
        const QString label = line.left(colon).trimmed();
        const QString value = line.mid(colon + 2).trimmed();
        if (label == "ISO") {
            readInt(value, tags.iso);
        } else if (label == "Exposure Time") {
            readExposureTime(value, tags.exposureTime);
        } else if (label == "Aperture Value") {
            readDouble(value, tags.fNumber);
        } else if (label == "Date/Time Original") {
            exiftoolTimeStamp(value, tags.timeStamp);
        } else if (label == "Image Width") {
            readInt(value, tags.width);
        } else if (label == "Image Height") {
            readInt(value, tags.height);
        } else if (label == "Shooting Mode") {
            tags.shootingMode = value.left(63);
        } else if (label == "Bracket Mode") {
            tags.bracketModeAEB = value == "AEB";
        } else if (label == "Bracket Shot Number") {
            readInt(value, tags.bracketShotNumber);
        } else if (label == "AEB Bracket Value") {
            readDouble(value, tags.aebValue);
        } else if (label == "Comment") {
            tags.madeByHalvora = value.contains("Halvora");
        }
    }
}

void applyExiftoolExposure(const exiftoolTags& tags, exifInfo_t& exif) {
    if (tags.exposureTime > 0 && tags.exposureTime < std::numeric_limits<float>::max()) {
        exif.exposureTime = float(tags.exposureTime);
        // A short exposure keeps its fraction, as the EXIF reader gives it.
        const double denominator = tags.exposureTime < 1 ? std::round(1.0 / tags.exposureTime) : 0;
        const bool exactFraction = denominator > 0 && std::abs(1.0 / denominator - tags.exposureTime) < 1e-9;
        exif.exposureTimeNum = exactFraction ? 1 : 0;
        exif.exposureTimeDen = exactFraction ? uint32_t(denominator) : 0;
    }
    if (tags.fNumber > 0 && tags.fNumber < 1e6) exif.fNumber = float(tags.fNumber);
    if (tags.iso > 0) exif.iso = tags.iso;
}

} // namespace halvora
