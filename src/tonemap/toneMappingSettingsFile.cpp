#include "tonemap/toneMappingSettingsFile.h"

#include "base/debugLog.h"
#include "base/failure.h"
#include "base/replacingFile.h"

#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamWriter>
#include <algorithm>
#include <cmath>
#include <limits>

namespace halvora {
namespace {

const char* const kRootName = "Halvorasettings";
const char* const kCurveNames[4] = {"Curve", "Curve_R", "Curve_G", "Curve_B"};

// Numbers are single precision in the file. Missing, unparsable and non-finite values read as 0,
// like an absent attribute.
double readNumber(const QDomElement& e, const char* name) {
    bool ok = false;
    const float v = e.attribute(name).toFloat(&ok);
    return (ok && std::isfinite(v)) ? double(v) : 0.0;
}

// Integers (booleans, counts, types); a hand-written "1.0" is accepted, huge values saturate.
int64_t readInteger(const QDomElement& e, const char* name) {
    const QString text = e.attribute(name);
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok);
    if (ok) return v;
    const double d = text.toDouble(&ok);
    if (!ok || !std::isfinite(d)) return 0;
    return int64_t(std::clamp(d, -9e15, 9e15));
}

bool readBool(const QDomElement& e, const char* name) {
    return readInteger(e, name) != 0;
}

double inRange(double v, double lo, double hi) {
    return std::clamp(v, lo, hi);
}

void readCurve(const QDomElement& e, curveSettings_t& curve, const QString& name) {
    const char* const caller = "loadSettingsFile";
    curveSettings_t loaded;
    const int64_t type = readInteger(e, "Type");
    if (type != curveSettings_t::kSpline && type != curveSettings_t::kLinear) {
        debugLog("%s: %s has an unknown curve type %lld; using the spline\n", caller,
                 name.toUtf8().constData(), (long long)type);
    } else {
        loaded.type = int32_t(type);
    }
    const int64_t count = readInteger(e, "Count");
    if (count > curveSettings_t::kMaxKneePoints) {
        debugLog("%s: %s has %lld knee points, more than %d; loaded as no curve\n", caller,
                 name.toUtf8().constData(), (long long)count, curveSettings_t::kMaxKneePoints);
        loaded.type = curveSettings_t::kSpline;
        curve = loaded;
        return;
    }
    if (count >= 2) {
        const QDomNodeList children = e.childNodes();
        std::vector<curvePoint_t> points;
        for (int i = 0; i < int(count) && i < children.count(); ++i) {
            const QDomElement p = children.item(i).toElement();
            points.push_back({inRange(readNumber(p, "X"), 0, 1), inRange(readNumber(p, "Y"), 0, 1)});
        }
        std::stable_sort(points.begin(), points.end(),
                         [](const curvePoint_t& a, const curvePoint_t& b) { return a.x < b.x; });
        if (points.size() >= 2) {
            loaded.kneePoints = std::move(points);
            loaded.identity = false;
        }
    }
    curve = loaded;
}

selKneePoints_t readSelectivePoint(const QDomNode& node) {
    const QDomElement p = node.toElement();
    selKneePoints_t k;
    k.x = inRange(readNumber(p, "X"), 0, 1);
    k.y = inRange(readNumber(p, "Y"), 0, 1);
    k.sigma = inRange(readNumber(p, "Sigma"), tmRange::kSigmaMin, tmRange::kSigmaMax);
    return k;
}

// Children [first, first + count) that exist, at most the editor's number of points, ordered by x.
std::vector<selKneePoints_t> readSelectiveList(const QDomNodeList& children, int64_t first, int64_t count) {
    std::vector<selKneePoints_t> list;
    const int64_t end = std::min<int64_t>(first + std::max<int64_t>(count, 0), children.count());
    for (int64_t i = first; i < end && int(list.size()) < tmRange::kMaxSelectivePoints; ++i)
        list.push_back(readSelectivePoint(children.item(int(i))));
    std::stable_sort(list.begin(), list.end(),
                     [](const selKneePoints_t& a, const selKneePoints_t& b) { return a.x < b.x; });
    return list;
}

void readSaturation(const QDomElement& e, toneMappingParameters_t& s) {
    s.saturation = inRange(readNumber(e, "Saturation"), 0, tmRange::kColorMax);
    const int64_t n = std::clamp<int64_t>(readInteger(e, "BrightnessSelectivePointCount"), 0, 1 << 30);
    const int64_t m = std::clamp<int64_t>(readInteger(e, "HueSelectivePointCount"), 0, 1 << 30);
    const QDomNodeList children = e.childNodes();
    if (n > children.count() || n + m > children.count())
        debugLog("%s: Saturation names %lld + %lld points but holds %d; the missing ones are left out\n",
                 "loadSettingsFile", (long long)n, (long long)m, children.count());
    s.brightnessSelective = readSelectiveList(children, 0, n);
    s.hueSelective = readSelectiveList(children, n, m);
}

void readHistogramClip(const QDomElement& e, toneMappingParameters_t& s) {
    s.autoClipping = readBool(e, "AutoClipping");
    s.whiteClip = s.whiteClipResult = inRange(readNumber(e, "WhitePoint"), 0, tmRange::kClipMax);
    s.blackClip = s.blackClipResult = inRange(readNumber(e, "BlackPoint"), 0, tmRange::kClipMax);
    if (s.autoClipping) {
        s.blackLevel = 0;
        s.whiteLevel = 1;
        return;
    }
    s.whiteLevel = inRange(readNumber(e, "WhitePointValue"), 0, 1);
    s.blackLevel = inRange(readNumber(e, "BlackPointValue"), 0, 1);
    // The tone mapping divides by their difference; a white level at or below black means "no levels".
    if (!(s.whiteLevel > s.blackLevel)) {
        debugLog("%s: white level %g is not above black level %g; using 0 and 1\n", "loadSettingsFile",
                 s.whiteLevel, s.blackLevel);
        s.blackLevel = 0;
        s.whiteLevel = 1;
    }
}

void readElement(const QDomElement& e, toneMappingParameters_t& s) {
    const QString name = e.tagName();
    if (name == "GlobalOp") {
        s.compression =
            inRange(readNumber(e, "Compression"), tmRange::kCompressionMin, tmRange::kCompressionMax);
        s.gamma = inRange(readNumber(e, "Gamma"), tmRange::kGammaMin, tmRange::kGammaMax);
    } else if (name == "LocalContrastOp") {
        s.localContrastEnabled = readBool(e, "Enabled");
        s.lcStrength = inRange(readNumber(e, "Strength"), 0, 1);
        s.highlights = inRange(readNumber(e, "Highlights"), 0, 1);
        s.shadows = inRange(readNumber(e, "Shadows"), 0, 1);
        s.blackness = inRange(readNumber(e, "Blackness"), 0, 1);
        s.range = inRange(readNumber(e, "Range"), 0, 1);
        s.micro = inRange(readNumber(e, "Micro"), 0, 1);
    } else if (name == "MaskOp") {
        s.maskEnabled = readBool(e, "Enabled");
        s.maskStrength = inRange(readNumber(e, "Strength"), 0, 1);
    } else if (name == "HistogramClip") {
        readHistogramClip(e, s);
    } else if (name == "Other") {
        s.sharpness = inRange(readNumber(e, "Sharpness"), 0, 1);
    } else if (name == "ColorAdjust") {
        s.temperature = inRange(readNumber(e, "Temperature"), 0, tmRange::kColorMax);
        s.tint = inRange(readNumber(e, "Tint"), 0, tmRange::kColorMax);
        s.hue = inRange(readNumber(e, "Hue"), 0, tmRange::kColorMax);
    } else if (name == "Saturation") {
        readSaturation(e, s);
    } else if (name.left(5) == "Curve") {
        const int index = name == "Curve_R" ? 1 : name == "Curve_G" ? 2 : name == "Curve_B" ? 3 : 0;
        readCurve(e, s.curves[index], name);
    }
}

QString number(double v, int digits) {
    return QString::number(v, 'g', digits);
}

} // namespace

int loadSettingsFile(const QString& fileName, toneMappingParameters_t& target, bool whiteBalanceLocked,
                     QString* error) {
    const QByteArray name = fileName.toLocal8Bit();
    debugLog("Loading setings: %s\n", name.constData());
    const QFileInfo info(fileName);
    if (!info.exists()) {
        debugLog("Error! File not found: %s\n", name.constData());
        if (error) *error = failureText(fileName, QStringLiteral("no such file"));
        return settingsUnreadable;
    }
    // A directory, pipe or device is refused before it is opened (a pipe would block the read).
    if (!info.isFile()) {
        fail(error, "loadSettingsFile", fileName, QStringLiteral("not a regular file"));
        return settingsUnreadable;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(error, "loadSettingsFile", fileName, QStringLiteral("cannot be opened: ") + file.errorString());
        return settingsUnreadable;
    }
    // Read one byte more than allowed so that an oversized file (or endless device) is noticed.
    const QByteArray content = file.read(kMaxSettingsFileBytes + 1);
    if (content.size() > kMaxSettingsFileBytes) {
        fail(error, "loadSettingsFile", fileName,
             QStringLiteral("larger than %1 bytes; not a settings file").arg(kMaxSettingsFileBytes));
        return settingsUnreadable;
    }
    QString reason;
    const int result = loadSettingsText(content, target, whiteBalanceLocked, &reason);
    if (result != settingsLoadOk && error) *error = failureText(fileName, reason);
    return result;
}

int loadSettingsText(const QByteArray& content, toneMappingParameters_t& target, bool whiteBalanceLocked,
                     QString* reason) {
    if (content.size() > kMaxSettingsFileBytes) {
        debugLog("Error! Failed to parse XML\n");
        if (reason) *reason = QStringLiteral("too large for a settings file");
        return settingsUnreadable;
    }
    QString text = QString::fromUtf8(content);
    // A leading comment line is removed wherever its text occurs.
    if (text.startsWith(QLatin1String("<!--*["))) {
        const qsizetype lineFeed = text.indexOf(QLatin1Char('\n'));
        const QString firstLine = lineFeed < 0 ? text : text.left(lineFeed + 1);
        text.remove(firstLine);
    }

    QDomDocument doc;
    if (text.isEmpty() || !doc.setContent(text)) {
        debugLog("Error! Failed to parse XML\n");
        if (reason)
            *reason = text.isEmpty() ? QStringLiteral("empty; not a settings file")
                                     : QStringLiteral("not a settings file (no valid XML)");
        return settingsUnreadable;
    }
    const QDomElement root = doc.elementsByTagName(kRootName).item(0).toElement();
    bool ok = false;
    const float version = root.attribute("SettingsFileVersion").toFloat(&ok);
    // NaN and missing versions fail the comparison too.
    if (!ok || !(version * 10.0f >= 40.0f)) {
        debugLog("Unsupported version of settings file\n");
        if (reason) *reason = QStringLiteral("unsupported settings file version (4.0 or later is needed)");
        return settingsWrongVersion;
    }

    toneMappingParameters_t loaded = target;
    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling())
        if (node.isElement()) readElement(node.toElement(), loaded);

    if (whiteBalanceLocked)
        for (auto field : kWhiteBalanceLockedFields)
            loaded.*field = target.*field;
    target = std::move(loaded);
    return settingsLoadOk;
}

QByteArray settingsFileContent(const toneMappingParameters_t& s) {
    QByteArray bytes;
    QXmlStreamWriter w(&bytes);
    w.setAutoFormatting(true);
    w.setAutoFormattingIndent(4);

    w.writeStartElement(kRootName);
    w.writeAttribute("SettingsFileVersion", "4.0");
    w.writeAttribute("ProgramVersion", "3.0.1 ");

    w.writeEmptyElement("GlobalOp");
    w.writeAttribute("Compression", number(s.compression, 2));
    w.writeAttribute("Gamma", number(s.gamma, 2));

    w.writeEmptyElement("LocalContrastOp");
    w.writeAttribute("Enabled", QString::number(int(s.localContrastEnabled)));
    w.writeAttribute("Strength", number(s.lcStrength, 2));
    w.writeAttribute("Highlights", number(s.highlights, 2));
    w.writeAttribute("Shadows", number(s.shadows, 2));
    w.writeAttribute("Blackness", number(s.blackness, 2));
    w.writeAttribute("Range", number(s.range, 2));
    w.writeAttribute("Micro", number(s.micro, 2));

    w.writeEmptyElement("MaskOp");
    w.writeAttribute("Enabled", QString::number(int(s.maskEnabled)));
    w.writeAttribute("Strength", number(s.maskStrength, 2));

    w.writeEmptyElement("HistogramClip");
    w.writeAttribute("AutoClipping", QString::number(int(s.autoClipping)));
    w.writeAttribute("WhitePoint", number(s.whiteClip, 4));
    w.writeAttribute("BlackPoint", number(s.blackClip, 4));
    if (!s.autoClipping) {
        w.writeAttribute("WhitePointValue", number(s.whiteLevel, 4));
        w.writeAttribute("BlackPointValue", number(s.blackLevel, 4));
    }

    w.writeEmptyElement("Other");
    w.writeAttribute("Sharpness", number(s.sharpness, 2));

    w.writeEmptyElement("ColorAdjust");
    w.writeAttribute("Temperature", number(s.temperature, 2));
    w.writeAttribute("Tint", number(s.tint, 2));
    w.writeAttribute("Hue", number(s.hue, 2));

    auto writeSaturationAttributes = [&] {
        w.writeAttribute("Saturation", number(s.saturation, 2));
        w.writeAttribute("BrightnessSelectivePointCount", QString::number(s.brightnessSelective.size()));
        w.writeAttribute("HueSelectivePointCount", QString::number(s.hueSelective.size()));
    };
    if (s.brightnessSelective.empty() && s.hueSelective.empty()) {
        w.writeEmptyElement("Saturation");
        writeSaturationAttributes();
    } else {
        w.writeStartElement("Saturation");
        writeSaturationAttributes();
        auto writePoints = [&](const std::vector<selKneePoints_t>& list, const char* pattern) {
            for (size_t i = 0; i < list.size(); ++i) {
                w.writeEmptyElement(QString::fromLatin1(pattern).arg(i + 1));
                w.writeAttribute("X", number(list[i].x, 3));
                w.writeAttribute("Y", number(list[i].y, 3));
                w.writeAttribute("Sigma", number(list[i].sigma, 2));
            }
        };
        writePoints(s.brightnessSelective, "BrightnessSelectivePoint%1");
        writePoints(s.hueSelective, "HueSelectivePoint%1");
        w.writeEndElement();
    }

    for (int c = 0; c < 4; ++c) {
        const curveSettings_t& curve = s.curves[c];
        // An unmodified curve is stored without points.
        const size_t count = curve.identity ? 0 : curve.kneePoints.size();
        if (count == 0)
            w.writeEmptyElement(kCurveNames[c]);
        else
            w.writeStartElement(kCurveNames[c]);
        w.writeAttribute("Type", QString::number(curve.type));
        w.writeAttribute("Count", QString::number(count));
        for (size_t i = 0; i < count; ++i) {
            w.writeEmptyElement(QString("KneePoint%1").arg(i + 1));
            w.writeAttribute("X", number(curve.kneePoints[i].x, 3));
            w.writeAttribute("Y", number(curve.kneePoints[i].y, 3));
        }
        if (count != 0) w.writeEndElement();
    }
    w.writeEndElement();
    w.writeEndDocument();
    // Without a declaration the stream writer still opens with a line feed; the file starts with the root.
    while (bytes.startsWith('\n'))
        bytes.remove(0, 1);
    return bytes;
}

bool saveSettingsFile(const QString& fileName, const toneMappingParameters_t& settings) {
    // No named partial file is left in the user's folder, even when the process is killed.
    replacingFile file(fileName);
    const QByteArray content = settingsFileContent(settings);
    QString error;
    if (!file.open("saveSettingsFile", &error) || !file.write(content.constData(), size_t(content.size())) ||
        !file.commit("saveSettingsFile", &error)) {
        debugLog("Error! Cannot open file for writing: %s\n", fileName.toLocal8Bit().constData());
        return false;
    }
    return true;
}

} // namespace halvora
