// The .hvsx settings file: format, reader rules, hostile content.

#include "support/testSupport.h"
#include "tonemap/picturePasses.h"
#include "tonemap/rebuildOnChange.h"
#include "tonemap/toneMappingSettingsFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <gtest/gtest.h>

using namespace halvora;

namespace {

QString writeFile(const QString& name, const QByteArray& content) {
    const QString path = test::makeTempDir("hvsx") + "/" + name;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size()) return QString();
    return path;
}

int loadText(const QByteArray& content, toneMappingParameters_t& p, bool locked = false) {
    return loadSettingsText(content, p, locked);
}

// A file made of the root with the given children.
QByteArray document(const QByteArray& children, const QByteArray& version = "4.0") {
    return "<Halvorasettings SettingsFileVersion=\"" + version + "\" ProgramVersion=\"3.0.1 \">\n" +
           children + "</Halvorasettings>\n";
}

toneMappingParameters_t unusualSettings() {
    toneMappingParameters_t s;
    s.compression = 2.5;
    s.gamma = 1.7;
    s.localContrastEnabled = true;
    s.lcStrength = 0.45;
    s.highlights = 0.12;
    s.shadows = 0.87;
    s.blackness = 0.05;
    s.range = 0.75;
    s.micro = 0.66;
    s.maskEnabled = true;
    s.maskStrength = 0.58;
    s.autoClipping = false;
    s.whiteClip = 0.2346;
    s.blackClip = 1.5;
    s.whiteLevel = 0.9123;
    s.blackLevel = 0.0456;
    s.sharpness = 0.91;
    s.temperature = 0.35;
    s.tint = 1.65;
    s.hue = 1.26;
    s.saturation = 1.35;
    s.brightnessSelective = {{0.1, 0.2, 0.5}, {0.9, 0.75, 1.5}};
    s.hueSelective = {{0.333, 0.6, 1.0}};
    s.curves[0].type = curveSettings_t::kSpline;
    s.curves[0].kneePoints = {{0, 0}, {0.25, 0.3}, {1, 1}};
    s.curves[0].identity = false;
    s.curves[2].type = curveSettings_t::kLinear;
    s.curves[2].kneePoints = {{0, 0.1}, {0.5, 0.45}, {0.8, 0.9}, {1, 0.95}};
    s.curves[2].identity = false;
    return s;
}

} // namespace

// The writer's byte format, checked against a file written by hand from the format rules:
// element order, attribute order, 2/3/4 significant digits, "Count" 0 for unmodified curves.
TEST(settingsFileFormat, matchesHandWrittenGoldenFile) {
    const QByteArray golden =
        "<Halvorasettings SettingsFileVersion=\"4.0\" ProgramVersion=\"3.0.1 \">\n"
        "    <GlobalOp Compression=\"2.5\" Gamma=\"1.7\"/>\n"
        "    <LocalContrastOp Enabled=\"1\" Strength=\"0.45\" Highlights=\"0.12\" Shadows=\"0.87\" "
        "Blackness=\"0.05\" Range=\"0.75\" Micro=\"0.66\"/>\n"
        "    <MaskOp Enabled=\"1\" Strength=\"0.58\"/>\n"
        "    <HistogramClip AutoClipping=\"0\" WhitePoint=\"0.2346\" BlackPoint=\"1.5\" "
        "WhitePointValue=\"0.9123\" BlackPointValue=\"0.0456\"/>\n"
        "    <Other Sharpness=\"0.91\"/>\n"
        "    <ColorAdjust Temperature=\"0.35\" Tint=\"1.6\" Hue=\"1.3\"/>\n"
        "    <Saturation Saturation=\"1.4\" BrightnessSelectivePointCount=\"2\" "
        "HueSelectivePointCount=\"1\">\n"
        "        <BrightnessSelectivePoint1 X=\"0.1\" Y=\"0.2\" Sigma=\"0.5\"/>\n"
        "        <BrightnessSelectivePoint2 X=\"0.9\" Y=\"0.75\" Sigma=\"1.5\"/>\n"
        "        <HueSelectivePoint1 X=\"0.333\" Y=\"0.6\" Sigma=\"1\"/>\n"
        "    </Saturation>\n"
        "    <Curve Type=\"0\" Count=\"3\">\n"
        "        <KneePoint1 X=\"0\" Y=\"0\"/>\n"
        "        <KneePoint2 X=\"0.25\" Y=\"0.3\"/>\n"
        "        <KneePoint3 X=\"1\" Y=\"1\"/>\n"
        "    </Curve>\n"
        "    <Curve_R Type=\"0\" Count=\"0\"/>\n"
        "    <Curve_G Type=\"1\" Count=\"4\">\n"
        "        <KneePoint1 X=\"0\" Y=\"0.1\"/>\n"
        "        <KneePoint2 X=\"0.5\" Y=\"0.45\"/>\n"
        "        <KneePoint3 X=\"0.8\" Y=\"0.9\"/>\n"
        "        <KneePoint4 X=\"1\" Y=\"0.95\"/>\n"
        "    </Curve_G>\n"
        "    <Curve_B Type=\"0\" Count=\"0\"/>\n"
        "</Halvorasettings>\n";
    EXPECT_EQ(std::string(settingsFileContent(unusualSettings()).constData()),
              std::string(golden.constData()));

    // Under auto clipping the levels are not written.
    toneMappingParameters_t autoClip;
    autoClip.autoClipping = true;
    autoClip.whiteClip = 0.2;
    autoClip.blackClip = 0.1;
    EXPECT_TRUE(settingsFileContent(autoClip).contains(
        "<HistogramClip AutoClipping=\"1\" WhitePoint=\"0.2\" BlackPoint=\"0.1\"/>\n"));
}

// Every field survives a save and a load: the reloaded record writes the same bytes again (so each
// written field was read back), and single-precision parsing gives the float nearest to the text.
TEST(settingsFileFormat, roundTripOfEveryField) {
    const toneMappingParameters_t saved = unusualSettings();
    const QString path = test::makeTempDir("roundtrip") + "/look.hvsx";
    ASSERT_TRUE(saveSettingsFile(path, saved));
    toneMappingParameters_t loaded;
    ASSERT_EQ(loadSettingsFile(path, loaded), settingsLoadOk);
    EXPECT_EQ(settingsFileContent(loaded), settingsFileContent(saved));
    EXPECT_EQ(loaded.tint, double(1.6f)); // 1.65 is stored with two digits
    EXPECT_NE(loaded.tint, 1.6);
    EXPECT_FLOAT_EQ(loaded.whiteClipResult, 0.2346f);
    EXPECT_FLOAT_EQ(loaded.blackClipResult, 1.5f);
    EXPECT_TRUE(loaded.curves[1].identity);
    EXPECT_EQ(loaded.curves[2].type, curveSettings_t::kLinear);
}

TEST(settingsFileReader, versionCheck) {
    for (const char* version : {"3.9", "3.99", "0", "abc", "", "nan", "-4.0"}) {
        toneMappingParameters_t p;
        p.compression = 3.3;
        test::logCapture log;
        EXPECT_EQ(loadText(document("    <GlobalOp Compression=\"2\" Gamma=\"1\"/>\n", version), p),
                  settingsWrongVersion)
            << version;
        EXPECT_TRUE(log.contains("Unsupported version of settings file\n"));
        EXPECT_EQ(p.compression, 3.3) << "the record is untouched";
    }
    for (const char* version : {"4.0", "4", "4.5", "5.1"}) {
        toneMappingParameters_t p;
        EXPECT_EQ(loadText(document("    <GlobalOp Compression=\"2\" Gamma=\"1\"/>\n", version), p),
                  settingsLoadOk)
            << version;
        EXPECT_EQ(p.compression, 2.0);
    }
}

TEST(settingsFileReader, leadingCommentLineIsRemoved) {
    const QByteArray comment = "<!--*[ written by hand ]*-->\n";
    toneMappingParameters_t p;
    EXPECT_EQ(loadText(comment + document("    <GlobalOp Compression=\"2\" Gamma=\"3\"/>\n"), p),
              settingsLoadOk);
    EXPECT_EQ(p.compression, 2.0);
    EXPECT_EQ(p.gamma, 3.0);
    // Every occurrence of the line's text goes, also inside the document.
    toneMappingParameters_t q;
    EXPECT_EQ(
        loadText(comment + document("    " + comment + "    <GlobalOp Compression=\"2\" Gamma=\"3\"/>\n"), q),
        settingsLoadOk);
    EXPECT_EQ(q.gamma, 3.0);
    // A comment line without a line feed leaves nothing to parse.
    toneMappingParameters_t r;
    EXPECT_EQ(loadText("<!--*[ only this", r), settingsUnreadable);
}

TEST(settingsFileReader, curvesWithFewerThanTwoPointsAreIdentity) {
    toneMappingParameters_t p;
    p.curves[1].identity = false;
    p.curves[1].kneePoints = {{0, 0.5}, {1, 0.5}};
    const QByteArray children = "    <Curve_R Type=\"1\" Count=\"1\">\n"
                                "        <KneePoint1 X=\"0.5\" Y=\"0.9\"/>\n"
                                "    </Curve_R>\n"
                                "    <CurveX Type=\"1\" Count=\"2\">\n"
                                "        <A X=\"0.2\" Y=\"0.9\"/>\n"
                                "        <B X=\"0.1\" Y=\"0.3\"/>\n"
                                "    </CurveX>\n";
    ASSERT_EQ(loadText(document(children), p), settingsLoadOk);
    EXPECT_TRUE(p.curves[1].identity);
    EXPECT_EQ(p.curves[1].type, curveSettings_t::kLinear);
    ASSERT_EQ(p.curves[1].kneePoints.size(), 2u);
    EXPECT_EQ(p.curves[1].kneePoints[0].x, 0.0);
    EXPECT_EQ(p.curves[1].kneePoints[1].y, 1.0);
    // Any other "Curve…" name is the master curve; points by position whatever their names,
    // ordered by x.
    EXPECT_FALSE(p.curves[0].identity);
    ASSERT_EQ(p.curves[0].kneePoints.size(), 2u);
    EXPECT_FLOAT_EQ(p.curves[0].kneePoints[0].x, 0.1f);
    EXPECT_FLOAT_EQ(p.curves[0].kneePoints[1].y, 0.9f);
}

TEST(settingsFileReader, saturationChildrenArePositional) {
    // The first n children are brightness points whatever their names.
    const QByteArray children = "    <Saturation Saturation=\"1.5\" BrightnessSelectivePointCount=\"1\" "
                                "HueSelectivePointCount=\"2\">\n"
                                "        <HueSelectivePoint1 X=\"0.1\" Y=\"0.2\" Sigma=\"0.3\"/>\n"
                                "        <BrightnessSelectivePoint1 X=\"0.7\" Y=\"0.8\" Sigma=\"0.9\"/>\n"
                                "        <Whatever X=\"0.4\" Y=\"0.5\" Sigma=\"0.6\"/>\n"
                                "    </Saturation>\n";
    toneMappingParameters_t p;
    ASSERT_EQ(loadText(document(children), p), settingsLoadOk);
    EXPECT_EQ(p.saturation, 1.5);
    ASSERT_EQ(p.brightnessSelective.size(), 1u);
    EXPECT_FLOAT_EQ(p.brightnessSelective[0].x, 0.1f);
    ASSERT_EQ(p.hueSelective.size(), 2u);
    EXPECT_FLOAT_EQ(p.hueSelective[0].x, 0.4f); // ordered by x
    EXPECT_FLOAT_EQ(p.hueSelective[1].x, 0.7f);
    EXPECT_FLOAT_EQ(p.hueSelective[1].sigma, 0.9f);
}

TEST(settingsFileReader, histogramClipRules) {
    toneMappingParameters_t p;
    ASSERT_EQ(loadText(document("    <HistogramClip AutoClipping=\"1\" WhitePoint=\"0.2\" BlackPoint=\"0.1\" "
                                "WhitePointValue=\"0.5\" BlackPointValue=\"0.4\"/>\n"),
                       p),
              settingsLoadOk);
    EXPECT_TRUE(p.autoClipping);
    EXPECT_EQ(p.blackLevel, 0.0);
    EXPECT_EQ(p.whiteLevel, 1.0);
    EXPECT_FLOAT_EQ(p.whiteClip, 0.2f);
    EXPECT_FLOAT_EQ(p.whiteClipResult, 0.2f);
    EXPECT_FLOAT_EQ(p.blackClipResult, 0.1f);

    ASSERT_EQ(loadText(document("    <HistogramClip AutoClipping=\"0\" WhitePoint=\"0\" BlackPoint=\"0\" "
                                "WhitePointValue=\"0.5\" BlackPointValue=\"0.25\"/>\n"),
                       p),
              settingsLoadOk);
    EXPECT_FALSE(p.autoClipping);
    EXPECT_EQ(p.whiteLevel, 0.5);
    EXPECT_EQ(p.blackLevel, 0.25);

    // A white level at or below the black level would divide by zero: no levels instead.
    ASSERT_EQ(loadText(document("    <HistogramClip AutoClipping=\"0\" WhitePointValue=\"0.3\" "
                                "BlackPointValue=\"0.3\"/>\n"),
                       p),
              settingsLoadOk);
    EXPECT_EQ(p.blackLevel, 0.0);
    EXPECT_EQ(p.whiteLevel, 1.0);
}

TEST(settingsFileReader, absentAttributesReadAsZeroAndAbsentElementsKeepValues) {
    toneMappingParameters_t p;
    p.sharpness = 0.77;
    p.hue = 1.5;
    ASSERT_EQ(
        loadText(document("    <LocalContrastOp Strength=\"0.6\"/>\n    <Unknown Sharpness=\"1\"/>\n"), p),
        settingsLoadOk);
    EXPECT_FLOAT_EQ(p.lcStrength, 0.6f);
    EXPECT_EQ(p.highlights, 0.0);
    EXPECT_FALSE(p.localContrastEnabled);
    EXPECT_EQ(p.sharpness, 0.77);
    EXPECT_EQ(p.hue, 1.5);
    // A repeated element overwrites the first.
    ASSERT_EQ(loadText(document("    <Other Sharpness=\"0.1\"/>\n    <Other Sharpness=\"0.2\"/>\n"), p),
              settingsLoadOk);
    EXPECT_FLOAT_EQ(p.sharpness, 0.2f);
}

TEST(settingsFileReader, whiteBalanceLockKeepsTemperatureTintAndHue) {
    toneMappingParameters_t p;
    p.temperature = 0.4;
    p.tint = 1.3;
    p.hue = 0.7;
    const QByteArray file = document("    <GlobalOp Compression=\"3\" Gamma=\"2\"/>\n"
                                     "    <ColorAdjust Temperature=\"1.9\" Tint=\"0.1\" Hue=\"1.8\"/>\n"
                                     "    <Saturation Saturation=\"0.5\"/>\n");
    ASSERT_EQ(loadText(file, p, true), settingsLoadOk);
    EXPECT_EQ(p.temperature, 0.4);
    EXPECT_EQ(p.tint, 1.3);
    EXPECT_EQ(p.hue, 0.7);
    EXPECT_EQ(p.compression, 3.0); // everything else is loaded
    EXPECT_EQ(p.saturation, 0.5);
    ASSERT_EQ(loadText(file, p, false), settingsLoadOk);
    EXPECT_FLOAT_EQ(p.temperature, 1.9f);
    EXPECT_FLOAT_EQ(p.tint, 0.1f);
    EXPECT_FLOAT_EQ(p.hue, 1.8f);
}

TEST(settingsFileReader, missingFileAndUnwritablePlace) {
    toneMappingParameters_t p;
    test::logCapture log;
    EXPECT_EQ(loadSettingsFile(test::makeTempDir("none") + "/absent.hvsx", p), settingsUnreadable);
    EXPECT_TRUE(log.contains("Loading setings: "));
    EXPECT_TRUE(log.contains("Error! File not found: "));
    EXPECT_FALSE(saveSettingsFile(test::makeTempDir("none") + "/no/such/folder/x.hvsx", p));
    EXPECT_TRUE(log.contains("Error! Cannot open file for writing: "));
}

// Hostile and damaged files: a clear result, no crash, a record that stays usable.
TEST(settingsFileReader, malformedContent) {
    const toneMappingParameters_t defaults;
    struct badCase {
        const char* name;
        QByteArray content;
        int expected;
    };
    const badCase cases[] = {
        {"empty", "", settingsUnreadable},
        {"not XML", "GlobalOp Compression=2", settingsUnreadable},
        {"binary", QByteArray("\x00\xff\xfe<\x01", 5), settingsUnreadable},
        {"unclosed", "<Halvorasettings SettingsFileVersion=\"4.0\"><GlobalOp Compression=\"2\"/>",
         settingsUnreadable},
        {"other XML", "<html><body/></html>", settingsWrongVersion},
    };
    for (const badCase& c : cases) {
        toneMappingParameters_t p;
        test::logCapture log;
        EXPECT_EQ(loadText(c.content, p), c.expected) << c.name;
        if (c.expected == settingsUnreadable) {
            EXPECT_TRUE(log.contains("Error! Failed to parse XML\n")) << c.name;
        }
        EXPECT_EQ(settingsFileContent(p), settingsFileContent(defaults)) << c.name << ": record changed";
    }
}

TEST(settingsFileReader, hostileNumbersStayInRange) {
    const QByteArray children =
        "    <GlobalOp Compression=\"nan\" Gamma=\"-inf\"/>\n"
        "    <LocalContrastOp Enabled=\"99999999999999999999\" Strength=\"1e39\" Highlights=\"-5\" "
        "Shadows=\"inf\" Blackness=\"7\" Range=\"0x10\" Micro=\"1e-50\"/>\n"
        "    <MaskOp Enabled=\"-1\" Strength=\"NaN\"/>\n"
        "    <HistogramClip AutoClipping=\"0\" WhitePoint=\"1000\" BlackPoint=\"-3\" WhitePointValue=\"inf\" "
        "BlackPointValue=\"nan\"/>\n"
        "    <Other Sharpness=\"3.4e38\"/>\n"
        "    <ColorAdjust Temperature=\"-1\" Tint=\"5\" Hue=\"nan\"/>\n";
    toneMappingParameters_t p;
    ASSERT_EQ(loadText(document(children), p), settingsLoadOk);
    for (double v : {p.compression, p.gamma, p.lcStrength, p.highlights, p.shadows, p.blackness, p.range,
                     p.micro, p.maskStrength, p.whiteClip, p.blackClip, p.whiteLevel, p.blackLevel,
                     p.sharpness, p.temperature, p.tint, p.hue})
        EXPECT_TRUE(std::isfinite(v));
    EXPECT_EQ(p.compression, tmRange::kCompressionMin); // NaN reads as 0, then the control's range
    EXPECT_EQ(p.gamma, tmRange::kGammaMin);
    EXPECT_EQ(p.lcStrength, 0.0); // 1e39 overflows single precision: unreadable
    EXPECT_EQ(p.highlights, 0.0);
    EXPECT_EQ(p.blackness, 1.0);
    EXPECT_TRUE(p.localContrastEnabled);
    EXPECT_TRUE(p.maskEnabled);
    EXPECT_EQ(p.whiteClip, tmRange::kClipMax);
    EXPECT_EQ(p.blackClip, 0.0);
    EXPECT_GT(p.whiteLevel, p.blackLevel);
    EXPECT_EQ(p.sharpness, 1.0);
    EXPECT_EQ(p.tint, 2.0);
    EXPECT_EQ(p.temperature, 0.0);
}

TEST(settingsFileReader, absurdCounts) {
    // More points named than children: the missing ones are absent.
    QByteArray children = "    <Saturation Saturation=\"1\" BrightnessSelectivePointCount=\"5\" "
                          "HueSelectivePointCount=\"2147483647\">\n"
                          "        <B1 X=\"0.5\" Y=\"0.5\" Sigma=\"nan\"/>\n"
                          "    </Saturation>\n"
                          "    <Curve Type=\"0\" Count=\"10\">\n"
                          "        <KneePoint1 X=\"0\" Y=\"0\"/>\n"
                          "        <KneePoint2 X=\"2\" Y=\"-1\"/>\n"
                          "    </Curve>\n"
                          "    <Curve_R Type=\"7\" Count=\"-3\"/>\n"
                          "    <Curve_G Type=\"1\" Count=\"99999999999\"/>\n";
    // 10 000 knee points: more than the spline can take; the curve is refused (identity).
    children += "    <Curve_B Type=\"0\" Count=\"10000\">\n";
    for (int i = 0; i < 10000; ++i)
        children += "        <KneePoint" + QByteArray::number(i + 1) + " X=\"" +
                    QByteArray::number(i / 9999.0) + "\" Y=\"0.5\"/>\n";
    children += "    </Curve_B>\n";
    // And a hue list far longer than the editor holds: kept to its first 31 points.
    children += "    <Saturation Saturation=\"1\" BrightnessSelectivePointCount=\"0\" "
                "HueSelectivePointCount=\"500\">\n";
    for (int i = 0; i < 500; ++i)
        children += "        <P X=\"" + QByteArray::number(i / 500.0) + "\" Y=\"0.7\" Sigma=\"1\"/>\n";
    children += "    </Saturation>\n";

    toneMappingParameters_t p;
    test::logCapture log;
    ASSERT_EQ(loadText(document(children), p), settingsLoadOk);
    EXPECT_FALSE(p.curves[0].identity);
    ASSERT_EQ(p.curves[0].kneePoints.size(), 2u);
    EXPECT_EQ(p.curves[0].kneePoints[1].x, 1.0); // clamped into 0 … 1
    EXPECT_EQ(p.curves[0].kneePoints[1].y, 0.0);
    EXPECT_TRUE(p.curves[1].identity);
    EXPECT_EQ(p.curves[1].type, curveSettings_t::kSpline); // unknown type
    EXPECT_TRUE(p.curves[2].identity);
    EXPECT_TRUE(p.curves[3].identity);
    EXPECT_TRUE(log.contains("Curve_B has 10000 knee points, more than 32; loaded as no curve"));
    EXPECT_TRUE(p.brightnessSelective.empty()); // the second Saturation element replaced the lists
    EXPECT_EQ(int(p.hueSelective.size()), tmRange::kMaxSelectivePoints);
}

TEST(settingsFileReader, oversizedFileIsRefusedBeforeParsing) {
    QByteArray big = document("");
    big.append(QByteArray(int(kMaxSettingsFileBytes), ' '));
    const QString path = writeFile("big.hvsx", big);
    ASSERT_FALSE(path.isEmpty());
    toneMappingParameters_t p;
    EXPECT_EQ(loadSettingsFile(path, p), settingsUnreadable);
}

// Hostile inputs kept by name: each loads or is refused with a result code, leaves a usable record,
// and renders a small picture through tables built from it.
TEST(settingsFileReader, regressionFiles) {
    const QDir dir(QString(HALVORA_SOURCE_DIR) + "/tests/tonemap/regressions");
    const QStringList names = dir.entryList({"*.hvsx"}, QDir::Files);
    ASSERT_GE(names.size(), 5);
    const QStringList unreadable{"empty.hvsx", "binary_garbage.hvsx", "comment_line_without_line_feed.hvsx",
                                 "comment_line_then_nothing.hvsx"};
    std::vector<float> picture(8 * 8 * 3);
    for (size_t i = 0; i < picture.size(); ++i)
        picture[i] = float(i % 11) / 10.0f;
    const std::vector<uint16_t> plane(64, 30000);
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        toneMappingSettings_t s;
        ASSERT_TRUE(s.tables.allocate());
        const int result = loadSettingsFile(dir.filePath(name), s);
        if (unreadable.contains(name))
            EXPECT_EQ(result, settingsUnreadable);
        else
            EXPECT_EQ(result, settingsLoadOk);
        for (double v : {s.compression, s.gamma, s.lcStrength, s.highlights, s.shadows, s.blackness, s.range,
                         s.micro, s.maskStrength, s.whiteLevel, s.blackLevel, s.saturation, s.temperature,
                         s.tint, s.hue, s.whiteClip, s.blackClip})
            EXPECT_TRUE(std::isfinite(v));
        EXPECT_GT(s.whiteLevel, s.blackLevel);
        for (const curveSettings_t& c : s.curves) {
            EXPECT_LE(int(c.kneePoints.size()), curveSettings_t::kMaxKneePoints);
            EXPECT_TRUE(c.type == 0 || c.type == 1);
        }
        rebuildToneMappingTables(s, toneMappingChange::everything);
        for (const auto& lut : s.tables.outputLUT)
            for (double v : lut)
                ASSERT_TRUE(v >= 0 && v <= 1);
        toneMapSource_t source;
        source.width = source.height = 8;
        source.hdr = picture.data();
        source.lcPlaneFine = source.lcPlaneMedium = source.lcPlaneCoarse = source.maskPlane = plane.data();
        std::vector<uint16_t> out(64 * 3, 0xffff);
        ASSERT_TRUE(runToneMapping(s, source, out.data(), nullptr, false));
        for (uint16_t v : out)
            ASSERT_LE(v, 32639);
    }
}
