// EXIF reader: derivations from crafted directories, hostile structures, the JPEG section walk,
// and real camera files cross-checked with the metadata tool.

#include "imageio/exifReader.h"
#include "support/testSupport.h"
#include "support/tiffTestBuilder.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <cmath>
#include <gtest/gtest.h>
#include <map>

using halvora::test::exifApp1;
using halvora::test::jpegWithSections;
using halvora::test::logCapture;
using halvora::test::tiffBuilder;
using halvora::test::writeBytes;

namespace {

exifInfo_t walk(const std::vector<uint8_t>& tiff) {
    exifInfo_t exif;
    halvora::processExifStart(tiff.data(), tiff.size(), exif);
    return exif;
}

// IFD0 with Make/Model/Orientation and an EXIF directory holding the exposure fields.
std::vector<uint8_t> cameraExif(bool bigEndian) {
    tiffBuilder b(bigEndian);
    const int ifd0 = b.addIfd();
    const int sub = b.addIfd();
    b.ascii(ifd0, 0x010F, "NIKON CORPORATION");
    b.ascii(ifd0, 0x0110, "NIKON D300   ");
    b.shorts(ifd0, 0x0112, {6});
    b.ascii(ifd0, 0x0132, "2012:07:14 16:30:12");
    b.link(ifd0, 0x8769, sub);
    b.rational(sub, 0x829A, 1, 200);
    b.rational(sub, 0x829D, 28, 10);
    b.shorts(sub, 0x8827, {400});
    b.rational(sub, 0x9204, uint32_t(-2), 3, tiffBuilder::tSRational);
    b.shorts(sub, 0x9208, {4});
    b.shorts(sub, 0xA403, {1});
    return b.build();
}

} // namespace

TEST(exifReader, cameraFieldsInBothByteOrders) {
    for (bool be : {false, true}) {
        SCOPED_TRACE(be ? "MM" : "II");
        const exifInfo_t e = walk(cameraExif(be));
        EXPECT_EQ(e.bigEndian, be);
        EXPECT_STREQ(e.cameraMake, "NIKON CORPORATION");
        EXPECT_STREQ(e.cameraModel, "NIKON D300"); // trailing spaces trimmed
        EXPECT_STREQ(e.dateTime, "2012:07:14 16:30:12");
        EXPECT_EQ(e.orientation, 6);
        EXPECT_FLOAT_EQ(e.exposureTime, 0.005f);
        EXPECT_EQ(e.exposureTimeNum, 1u);
        EXPECT_EQ(e.exposureTimeDen, 200u);
        EXPECT_FLOAT_EQ(e.fNumber, 2.8f);
        EXPECT_EQ(e.iso, 400);
        EXPECT_NEAR(e.exposureBias, -2.0 / 3.0, 1e-6);
        EXPECT_EQ(e.lightSource, 4);
        EXPECT_EQ(e.whiteBalance, 1);
    }
}

TEST(exifReader, apexFallbacksAndOddValues) {
    {
        // Only ApertureValue 6 and ShutterSpeedValue 7: f/2^(6/2) = f/8, 2^-7 s = 1/128 s.
        tiffBuilder b(false);
        const int d = b.addIfd();
        b.rational(d, 0x9201, 7, 1, tiffBuilder::tSRational);
        b.rational(d, 0x9202, 6, 1);
        const exifInfo_t e = walk(b.build());
        EXPECT_FLOAT_EQ(e.fNumber, 8.0f);
        EXPECT_FLOAT_EQ(e.exposureTime, 1.0f / 128.0f);
        EXPECT_EQ(e.orientation, 0); // absent
    }
    {
        // MaxApertureValue 5 (f/2^2.5 = 5.657) when nothing better exists; ExposureTime wins over
        // ShutterSpeedValue; FNumber wins over ApertureValue.
        tiffBuilder b(true);
        const int d = b.addIfd();
        b.rational(d, 0x829A, 1, 60);
        b.rational(d, 0x9201, 10, 1, tiffBuilder::tSRational);
        b.rational(d, 0x9205, 5, 1);
        const exifInfo_t e = walk(b.build());
        EXPECT_NEAR(e.fNumber, std::pow(2.0, 2.5), 1e-5);
        EXPECT_NEAR(e.exposureTime, 1.0 / 60.0, 1e-8);

        tiffBuilder c(true);
        const int d2 = c.addIfd();
        c.rational(d2, 0x829D, 40, 10);
        c.rational(d2, 0x9202, 2, 1);
        EXPECT_FLOAT_EQ(walk(c.build()).fNumber, 4.0f);
    }
    {
        // A zero denominator gives 0; FNumber 0 becomes 1.0; ISO 0 falls back to ExposureIndex.
        tiffBuilder b(false);
        const int d = b.addIfd();
        b.rational(d, 0x829A, 1, 0);
        b.rational(d, 0x829D, 0, 10);
        b.shorts(d, 0x8827, {0});
        b.rational(d, 0xA215, 320, 1);
        const exifInfo_t e = walk(b.build());
        EXPECT_EQ(e.exposureTime, 0.0f);
        EXPECT_EQ(e.exposureTimeNum, 1u);
        EXPECT_EQ(e.exposureTimeDen, 0u);
        EXPECT_EQ(e.fNumber, 1.0f);
        EXPECT_EQ(e.iso, 320);
    }
    {
        // Old cameras' single-digit ISO codes are scaled by 200; real low ratings (iPhone ISO 32) stay.
        auto isoOf = [](uint16_t v) {
            tiffBuilder b(true);
            b.shorts(b.addIfd(), 0x8827, {v});
            return walk(b.build()).iso;
        };
        EXPECT_EQ(isoOf(2), 400);
        EXPECT_EQ(isoOf(32), 32);
        EXPECT_EQ(isoOf(65535), 65535);
    }
    {
        // Orientation 9 is undefined: logged and stored as 0. Only the first orientation counts.
        logCapture log;
        tiffBuilder b(false);
        const int d = b.addIfd();
        const int n = b.addIfd();
        b.shorts(d, 0x0112, {9});
        b.setNext(d, n);
        b.shorts(n, 0x0112, {3});
        const exifInfo_t e = walk(b.build());
        EXPECT_EQ(e.orientation, 0);
        EXPECT_TRUE(log.contains("EXIF: Undefined rotation value 9 in Exif\n"));
    }
}

TEST(exifReader, focalLength35mmFromFocalPlane) {
    // 3000 px over a plane of 5000 px/cm: a sensor 6 mm wide; 10 mm × 36 / 6 = 60 mm.
    tiffBuilder b(false);
    const int d = b.addIfd();
    b.rational(d, 0x920A, 100, 10);
    b.longs(d, 0xA002, {3000});
    b.longs(d, 0xA003, {2000});
    b.rational(d, 0xA20E, 5000, 1);
    b.shorts(d, 0xA210, {3});
    exifInfo_t e = walk(b.build());
    EXPECT_FLOAT_EQ(e.sensorWidth, 6.0f);
    EXPECT_FLOAT_EQ(e.focalLength35mm, 60.0f);
    EXPECT_EQ(e.exifImageWidth, 3000);

    // Inches: 2272 px at 8000 px/in → 7.2136 mm; 7.2 mm × 36 / 7.2136 = 35.93 → 36 mm.
    tiffBuilder c(true);
    const int d2 = c.addIfd();
    c.rational(d2, 0x920A, 72, 10);
    c.shorts(d2, 0xA002, {2272});
    c.rational(d2, 0xA20E, 8000, 1);
    c.shorts(d2, 0xA210, {2});
    e = walk(c.build());
    EXPECT_NEAR(e.sensorWidth, 2272 * 25.4 / 8000, 1e-5);
    EXPECT_FLOAT_EQ(e.focalLength35mm, 36.0f);

    // A stored 35 mm value is kept.
    c.shorts(d2, 0xA405, {50});
    EXPECT_FLOAT_EQ(walk(c.build()).focalLength35mm, 50.0f);
}

TEST(exifReader, textFieldsAreBounded) {
    tiffBuilder b(false);
    const int d = b.addIfd();
    const std::string longMake(45, 'M');
    const std::string longModel(60, 'X');
    b.ascii(d, 0x010F, longMake);
    b.ascii(d, 0x0110, longModel);
    b.raw(d, 0x0132, tiffBuilder::tAscii, 3, {'2', '0', 0}); // shorter than a date: no read beyond it
    b.ascii(d, 0x9003, "2001:02:03 04:05:06 extra");
    const exifInfo_t e = walk(b.build());
    EXPECT_EQ(std::string(e.cameraMake), std::string(31, 'M'));
    EXPECT_EQ(std::string(e.cameraModel), std::string(39, 'X'));
    EXPECT_STREQ(e.dateTime, "20");

    tiffBuilder c(false);
    c.ascii(c.addIfd(), 0x9003, "2001:02:03 04:05:06 extra");
    EXPECT_STREQ(walk(c.build()).dateTime, "2001:02:03 04:05:06");
}

TEST(exifReader, badHeadersAreReported) {
    struct row {
        std::vector<uint8_t> bytes;
        const char* message;
        bool ok;
    };
    std::vector<uint8_t> suspicious(200, 0);
    suspicious[0] = suspicious[1] = 'I';
    suspicious[2] = 42;
    suspicious[4] = 100; // directory of 0 entries at 100
    const std::vector<row> rows = {
        {{'X', 'X', 42, 0, 8, 0, 0, 0, 0, 0}, "EXIF: Invalid Exif alignment marker.\n", false},
        {{'I', 'I', 43, 0, 8, 0, 0, 0, 0, 0}, "EXIF: Invalid Exif start (1)\n", false},
        {{'M', 'M', 0, 42, 0, 0, 0, 4, 0, 0}, "EXIF: Invalid offset for first Exif IFD value\n", false},
        {{'M', 'M', 0, 42, 0, 0, 0, 40, 0, 0}, "EXIF: Invalid offset for first Exif IFD value\n", false},
        {{'I', 'I', 42}, "EXIF: Invalid Exif alignment marker.\n", false},
        {suspicious, "EXIF: Suspicious offset of first Exif IFD value\n", true},
        // Directory offset 8 of a 9-byte structure: the entry count itself is missing.
        {{'I', 'I', 42, 0, 8, 0, 0, 0, 5}, "EXIF: Illegal subdirectory link in Exif header\n", true},
        // Five entries announced, none present.
        {{'I', 'I', 42, 0, 8, 0, 0, 0, 5, 0, 1, 2, 3},
         "EXIF: Illegally sized Exif subdirectory (5 entries)\n",
         true},
    };
    for (const row& r : rows) {
        logCapture log;
        exifInfo_t e;
        EXPECT_EQ(halvora::processExifStart(r.bytes.data(), r.bytes.size(), e), r.ok) << r.message;
        EXPECT_TRUE(log.contains(r.message)) << r.message << " got: " << log.text();
        EXPECT_EQ(e.orientation, 0);
    }
}

TEST(exifReader, badEntriesAreSkippedAndTheWalkGoesOn) {
    tiffBuilder b(true);
    const int d = b.addIfd();
    b.raw(d, 0x0110, 13, 1, {0, 0, 0, 0});                       // no such type
    b.raw(d, 0x0111, tiffBuilder::tLong, 70000, {0, 0, 0, 0});   // absurd count
    b.raw(d, 0x010F, tiffBuilder::tAscii, 400, {0, 0, 0x10, 0}); // value far beyond the end
    b.raw(d, 0x0112, tiffBuilder::tShort, 0, {0, 8, 0, 0});      // empty entry: nothing to read
    b.raw(d, 0x0116, tiffBuilder::tUndefined, 1, {5, 0, 0, 0});  // not a number type
    b.shorts(d, 0x8827, {100});
    logCapture log;
    const std::vector<uint8_t> bytes = b.build();
    exifInfo_t e;
    EXPECT_TRUE(halvora::processExifStart(bytes.data(), bytes.size(), e));
    EXPECT_TRUE(log.contains("EXIF: Illegal number format 13 for tag 0110 in Exif\n"));
    EXPECT_TRUE(log.contains("EXIF: Too many components 70000 for tag 0111 in Exif\n"));
    EXPECT_TRUE(log.contains("EXIF: Illegal value pointer for tag 010f in Exif\n"));
    EXPECT_TRUE(log.contains("EXIF: Illegal format code 7 in Exif header\n"));
    EXPECT_EQ(e.iso, 100);
    EXPECT_EQ(e.cameraMake[0], 0);
    EXPECT_EQ(e.orientation, 0);
    EXPECT_EQ(e.stripCount, 0);
}

TEST(exifReader, nestingLimitAndDirectoryLoops) {
    // A chain of EXIF directories: levels 0 … 4 are walked, the link from level 4 is refused.
    tiffBuilder b(false);
    std::vector<int> dirs;
    for (int i = 0; i < 7; ++i)
        dirs.push_back(b.addIfd());
    for (int i = 0; i < 6; ++i)
        b.link(dirs[i], 0x8769, dirs[i + 1]);
    b.shorts(dirs[4], 0x8827, {200});
    b.shorts(dirs[5], 0x9207, {5});
    {
        logCapture log;
        const exifInfo_t e = walk(b.build());
        EXPECT_TRUE(log.contains("Maximum Exif directory nesting exceeded (corrupt Exif header)\n"));
        EXPECT_EQ(e.iso, 200);
        EXPECT_EQ(e.meteringMode, 0);
    }
    {
        // Next-directory link back to itself, and an EXIF link back to the first directory.
        tiffBuilder c(true);
        const int d0 = c.addIfd();
        const int d1 = c.addIfd();
        c.link(d0, 0x8769, d1);
        c.link(d1, 0xA005, d0);
        c.setNext(d1, d1);
        c.setNext(d0, d0);
        c.shorts(d1, 0x8827, {800});
        logCapture log;
        const exifInfo_t e = walk(c.build());
        EXPECT_EQ(e.iso, 800);
        EXPECT_TRUE(log.contains("(corrupt Exif header)"));
    }
    {
        // Hundreds of links to distinct directories: bounded work, no exponential walk.
        tiffBuilder c(false);
        std::vector<int> all;
        for (int i = 0; i < 120; ++i)
            all.push_back(c.addIfd());
        for (int i = 0; i < 120; ++i)
            for (int j = 1; j < 120; ++j)
                c.link(all[i], 0x8769, all[(i + j) % 120]);
        logCapture log;
        walk(c.build());
        EXPECT_TRUE(log.contains("EXIF: Too many Exif directories (corrupt Exif header)\n"));
    }
    {
        // A link far beyond the end is reported; one just past it is tolerated silently.
        tiffBuilder c(false);
        const int d = c.addIfd();
        c.shorts(d, 0x8827, {100});
        c.setNextRaw(d, 10000);
        logCapture log;
        walk(c.build());
        EXPECT_TRUE(log.contains("EXIF: Illegal subdirectory link in Exif header\n"));
        const std::vector<uint8_t> bytes = c.build();
        c.setNextRaw(d, uint32_t(bytes.size() + 3));
        logCapture quiet;
        walk(c.build());
        EXPECT_FALSE(quiet.contains("Illegal subdirectory"));
    }
}

TEST(exifReader, everyTruncationOfAValidStructureIsSafe) {
    const std::vector<uint8_t> full = cameraExif(true);
    for (size_t n = 0; n <= full.size(); ++n) {
        std::vector<uint8_t> cut(full.begin(), full.begin() + n);
        exifInfo_t e;
        halvora::processExifStart(cut.data(), cut.size(), e);
        if (n == full.size()) {
            EXPECT_EQ(e.iso, 400);
        }
    }
}

TEST(exifReader, jpegSectionWalk) {
    const QString dir = halvora::test::makeTempDir("exifjpeg");
    auto run = [&](const std::vector<uint8_t>& bytes, exifInfo_t& e) {
        const QString path = dir + "/t.jpg";
        EXPECT_TRUE(writeBytes(path, bytes));
        e.clear();
        return halvora::readJpegExif(path, e, nullptr);
    };
    exifInfo_t e;
    {
        // No EXIF at all but a start of scan: true, fields zero.
        logCapture log;
        EXPECT_TRUE(run(jpegWithSections({{0xE0, {'J', 'F', 'I', 'F', 0}}}), e));
        EXPECT_EQ(e.orientation, 0);
        EXPECT_EQ(e.iso, 0);
        EXPECT_EQ(e.exposureTime, 0.0f);
    }
    {
        // An XMP packet first, then the EXIF section, separated by fill bytes.
        const std::string xmp = "http://ns.adobe.com/xap/1.0/";
        std::vector<uint8_t> bytes = jpegWithSections(
            {{0xE1, std::vector<uint8_t>(xmp.begin(), xmp.end())}, {0xE1, exifApp1(cameraExif(false))}});
        logCapture log;
        EXPECT_TRUE(run(bytes, e));
        EXPECT_TRUE(log.contains("EXIF: found other EXIF header (XMP?)\n"));
        EXPECT_EQ(e.iso, 400);
        EXPECT_EQ(e.orientation, 6);
    }
    {
        // Up to nine fill bytes before a marker are fine; ten are not.
        std::vector<uint8_t> ok = {0xFF, 0xD8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                   0xFF, 0xFF, 0xFF, 0xFF, 0xDA, 0,    2};
        EXPECT_TRUE(run(ok, e));
        std::vector<uint8_t> bad = {0xFF, 0xD8, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0xFF, 0xDA, 0, 2};
        logCapture log;
        const QString path = dir + "/t.jpg";
        ASSERT_TRUE(writeBytes(path, bad));
        QString error;
        EXPECT_FALSE(halvora::readJpegExif(path, e, &error));
        EXPECT_TRUE(
            log.contains("EXIF: Extraneous 9 padding bytes before section 0A (no EXIF header found)\n"));
        EXPECT_EQ(error, path + ": no EXIF data: the file has no JPEG section where one should begin");
    }
    {
        logCapture log;
        EXPECT_FALSE(run({0x89, 'P', 'N', 'G'}, e));
        EXPECT_TRUE(log.contains("EXIF: not a JPEG file\n"));
    }
    {
        logCapture log;
        EXPECT_FALSE(run({0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x01}, e));
        EXPECT_TRUE(log.contains("EXIF: invalid marker\n"));
    }
    {
        // Every truncation of a real-looking stream fails cleanly (no start of scan reached).
        const std::vector<uint8_t> full = jpegWithSections({{0xE1, exifApp1(cameraExif(true))}});
        for (size_t n = 0; n + 8 < full.size(); ++n) {
            logCapture log;
            EXPECT_FALSE(run(std::vector<uint8_t>(full.begin(), full.begin() + n), e)) << n;
            if (n > 6) {
                EXPECT_TRUE(log.contains("EXIF: Premature end of file\n")) << n;
            }
        }
    }
    {
        // The reason names the file and the cause, as the system words it.
        QString error;
        EXPECT_FALSE(halvora::readJpegExif(dir + "/missing.jpg", e, &error));
        EXPECT_EQ(error, dir + "/missing.jpg: no such file or directory");
    }
}

namespace {

// One row of `exiftool -n -T` output per file: tag name → value text ("-" when absent).
std::map<QString, std::map<QString, QString>> exiftoolTable(const QStringList& files,
                                                            const QStringList& tags) {
    std::map<QString, std::map<QString, QString>> table;
    QStringList args = {"-n", "-T", "-f", "-Directory", "-FileName"};
    for (const QString& t : tags)
        args << "-" + t;
    args << files;
    QProcess p;
    p.start("exiftool", args);
    if (!p.waitForFinished(120000)) return table;
    const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QStringList cols = line.split('\t');
        if (cols.size() != tags.size() + 2) continue;
        auto& row = table[QDir(cols[0]).filePath(cols[1])];
        for (int i = 0; i < tags.size(); ++i)
            row[tags[i]] = cols[i + 2].trimmed();
    }
    return table;
}

QStringList jpegsBelow(const QString& folder) {
    QStringList files;
    for (const QFileInfo& sub : QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        for (const QFileInfo& f : QDir(sub.filePath()).entryInfoList(QDir::Files, QDir::Name)) {
            const QString s = f.suffix().toLower();
            if (s == "jpg" || s == "jpeg") files << f.filePath();
        }
    return files;
}

} // namespace

TEST(exifReader, realPhotosMatchTheMetadataTool) {
    HALVORA_REQUIRE_DATA();
    if (QStandardPaths::findExecutable("exiftool").isEmpty()) GTEST_SKIP() << "exiftool is not installed";
    const QStringList tags = {
        "EXIF:ExposureTime",  "EXIF:FNumber",  "EXIF:ISO",          "EXIF:ExposureCompensation",
        "EXIF:Orientation",   "EXIF:Make",     "EXIF:Model",        "EXIF:ShutterSpeedValue",
        "EXIF:ApertureValue", "ExifByteOrder", "EXIF:ExposureIndex"};
    QStringList files = jpegsBelow(halvora::test::dataFile("brackets"));
    const int bracketFiles = int(files.size());
    ASSERT_GE(bracketFiles, 36);
    files << jpegsBelow(halvora::test::dataFile("formats/exif"));
    const auto table = exiftoolTable(files, tags);
    ASSERT_EQ(table.size(), size_t(files.size()));

    auto number = [](const QString& s, double fallback) { return s == "-" ? fallback : s.toDouble(); };
    int checked = 0;
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        const auto& t = table.at(QDir::cleanPath(file));
        exifInfo_t e;
        ASSERT_TRUE(halvora::readJpegExif(file, e, nullptr));
        const double time = number(t.at("EXIF:ExposureTime"), number(t.at("EXIF:ShutterSpeedValue"), 0));
        EXPECT_NEAR(e.exposureTime, time, time * 1e-6);
        const double f = number(t.at("EXIF:FNumber"), number(t.at("EXIF:ApertureValue"), 0));
        EXPECT_NEAR(e.fNumber, f, 1e-5);
        EXPECT_EQ(e.iso, int(number(t.at("EXIF:ISO"), number(t.at("EXIF:ExposureIndex"), 0))));
        EXPECT_NEAR(e.exposureBias, number(t.at("EXIF:ExposureCompensation"), 0), 1e-6);
        EXPECT_EQ(e.orientation, int(number(t.at("EXIF:Orientation"), 0)));
        EXPECT_EQ(e.bigEndian, t.at("ExifByteOrder") == "MM");
        const QString make = t.at("EXIF:Make") == "-" ? QString() : t.at("EXIF:Make");
        const QString model = t.at("EXIF:Model") == "-" ? QString() : t.at("EXIF:Model");
        EXPECT_EQ(QString(e.cameraMake), make.left(31));
        EXPECT_EQ(QString(e.cameraModel), model.left(39));
        ++checked;
    }
    EXPECT_EQ(checked, files.size());
}

TEST(exifReader, theFirstDirectorysDateComesFirst) {
    HALVORA_REQUIRE_DATA();
    // The other fields of the data set's odd files are checked against exiftool above.
    exifInfo_t e;
    ASSERT_TRUE(halvora::readJpegExif(halvora::test::dataFile("formats/exif/hdr_pairs/canon_hdr_NO.jpg"), e,
                                      nullptr));
    EXPECT_STREQ(e.dateTime, "2015:02:26 04:20:03");
}
