#include "imageio/exifSummary.h"
#include "imageio/exifInfo.h"
#include "imageio/exifReader.h"
#include "support/testSupport.h"

#include <QStringList>
#include <cstring>
#include <gtest/gtest.h>

namespace {

using halvora::test::dataDir;

QStringList summaryOf(const QString& file) {
    exifInfo_t exif;
    EXPECT_TRUE(halvora::readJpegExif(file, exif, nullptr)) << file.toStdString();
    return halvora::exifSummary(exif, true).split('\n');
}

// Expected values as exiftool -n prints them for the desk bracket (Canon PowerShot S45).
TEST(exifSummary, RealCameraPhotosShowTheirExposureData) {
    HALVORA_REQUIRE_DATA();
    const QString dir = dataDir() + "/brackets/desk_canon_s45_13exp/";
    const QStringList longOne = summaryOf(dir + "img01.jpg");
    EXPECT_TRUE(longOne.contains("Camera: Canon PowerShot S45")) << longOne.join(" | ").toStdString();
    EXPECT_TRUE(longOne.contains("Exposure time: 13 s"));
    EXPECT_TRUE(longOne.contains("F-number: F 2.8"));
    EXPECT_TRUE(longOne.contains("AEB EV: 0"));
    EXPECT_TRUE(longOne.contains("White balance: Auto"));
    // 1024 px × 25.4 mm / 3657.14 px per inch = 7.11 mm sensor width; 7.09 mm × 36 / 7.11 ≈ 36 mm.
    EXPECT_TRUE(longOne.contains("Focal length: 7.094 mm (35mm equivalent: 36 mm)"));
    bool stamp = false;
    for (const QString& line : longOne)
        stamp = stamp ||
                (line.startsWith("Timestamp: 2004:10:0") && line.size() == int(strlen("Timestamp: ")) + 19);
    EXPECT_TRUE(stamp);

    EXPECT_TRUE(summaryOf(dir + "img13.jpg").contains("Exposure time: 1/1000 s"));
    EXPECT_TRUE(summaryOf(dir + "img07.jpg").contains("Exposure time: 1/3.3 s"));
}

TEST(exifSummary, UnknownFieldsAreLeftOutAndTextFieldsNeedNoTerminator) {
    exifInfo_t none;
    EXPECT_TRUE(halvora::exifSummary(none, false).isEmpty()) << "a photo without EXIF has no summary";

    exifInfo_t e;
    std::memset(e.cameraMake, 'N', sizeof e.cameraMake); // a writer that filled the field to the end
    std::memcpy(e.cameraModel, "NNNN X1", 8);
    e.exposureTime = 2.5f;
    e.lightSource = 3;
    e.whiteBalance = 1;
    e.focalLength = 50.0f;
    const QStringList lines = halvora::exifSummary(e, false).split('\n');
    const QString make(32, 'N');
    EXPECT_TRUE(lines.contains("Camera: " + make + " NNNN X1")) << lines.join(" | ").toStdString();
    EXPECT_TRUE(lines.contains("Exposure time: 2.5 s"));
    EXPECT_TRUE(lines.contains("Light source: Incandescent"));
    EXPECT_TRUE(lines.contains("White balance: Manual"));
    EXPECT_TRUE(lines.contains("Focal length: 50 mm")) << "no equivalent without the sensor size";
    for (const QString& line : lines) {
        EXPECT_FALSE(line.startsWith("F-number")) << "an unknown aperture is not shown as F 0";
        EXPECT_FALSE(line.startsWith("ISO"));
        EXPECT_FALSE(line.startsWith("AEB EV"));
    }

    exifInfo_t hostile;
    hostile.exposureTime = -1.0f;
    hostile.fNumber = std::numeric_limits<float>::quiet_NaN();
    hostile.focalLength = std::numeric_limits<float>::infinity();
    hostile.iso = -5;
    EXPECT_TRUE(halvora::exifSummary(hostile, false).isEmpty());
}

} // namespace
