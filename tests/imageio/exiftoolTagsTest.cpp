// Reading the metadata tool's answers and building its argument lists.

#include "imageio/exiftoolTags.h"
#include "imageio/exiftoolCommands.h"

#include <QDateTime>
#include <gtest/gtest.h>

TEST(exiftoolTags, answerLinesFillTheirFields) {
    exiftoolTags tags;
    halvora::parseExiftoolAnswer(
        {"======== /photos/a.cr2",
         "Comment                         : HDR created and tone mapped with Halvora 3.0.1 .",
         "Bracket Mode                    : AEB", "Bracket Shot Number             : 2",
         "Date/Time Original              : 2019:06:06 07:29:51", "Image Height                    : 816",
         "Image Width                     : 1224", "Aperture Value                  : 5.6",
         "Exposure Time                   : 1/60", "ISO                             : 1000",
         "Shooting Mode                   : Manual", "AEB Bracket Value               : -0.67"},
        tags);
    EXPECT_TRUE(tags.madeByHalvora);
    EXPECT_TRUE(tags.bracketModeAEB);
    EXPECT_EQ(tags.bracketShotNumber, 2);
    EXPECT_EQ(tags.height, 816);
    EXPECT_EQ(tags.width, 1224);
    EXPECT_DOUBLE_EQ(tags.fNumber, 5.6);
    EXPECT_DOUBLE_EQ(tags.exposureTime, 1.0 / 60);
    EXPECT_EQ(tags.iso, 1000);
    EXPECT_EQ(tags.shootingMode, "Manual");
    EXPECT_DOUBLE_EQ(tags.aebValue, -0.67);
    EXPECT_EQ(tags.timeStamp, QDateTime(QDate(2019, 6, 6), QTime(7, 29, 51), Qt::UTC).toSecsSinceEpoch());

    exiftoolTags other;
    halvora::parseExiftoolAnswer({"Exposure Time : 0.5", "Exposure Time : 13", "Bracket Mode : Off"}, other);
    EXPECT_DOUBLE_EQ(other.exposureTime, 13); // the last line wins
    EXPECT_FALSE(other.bracketModeAEB);
    halvora::parseExiftoolAnswer({"Exposure Time : 0.5"}, other);
    EXPECT_DOUBLE_EQ(other.exposureTime, 0.5);
}

TEST(exiftoolTags, labelsAreMatchedWholeAndBadValuesChangeNothing) {
    exiftoolTags tags;
    tags.iso = 200;
    tags.exposureTime = 0.25;
    tags.fNumber = 8;
    halvora::parseExiftoolAnswer(
        {// Another label's word inside a value or a longer label is not that label.
         "Comment                         : shot at ISO : 6400", "User Comment : made with Halvora",
         "ISO Setting                     : 100", "Exposure Time : 1/0", "Exposure Time : fast", "ISO : high",
         "Aperture Value : inf", "Date/Time Original : 2019:13:40 99:00:00", "no colon on this line"},
        tags);
    EXPECT_EQ(tags.iso, 200);
    EXPECT_DOUBLE_EQ(tags.exposureTime, 0.25);
    EXPECT_DOUBLE_EQ(tags.fNumber, 8);
    EXPECT_EQ(tags.timeStamp, 0);
    EXPECT_FALSE(tags.madeByHalvora); // "User Comment" is not the comment
}

TEST(exiftoolTags, timeStampsOrderDatesAndCountSecondsExactly) {
    // Checked against Qt's own calendar, across leap days, centuries and the 32-bit limit of 2038.
    const QDateTime dates[] = {
        QDateTime(QDate(1970, 1, 1), QTime(0, 0, 0), Qt::UTC),
        QDateTime(QDate(1899, 12, 31), QTime(23, 59, 59), Qt::UTC),
        QDateTime(QDate(2000, 2, 29), QTime(12, 0, 1), Qt::UTC),
        QDateTime(QDate(2038, 1, 19), QTime(3, 14, 8), Qt::UTC),
        QDateTime(QDate(2100, 3, 1), QTime(0, 0, 0), Qt::UTC),
        QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::UTC),
    };
    for (const QDateTime& d : dates) {
        int64_t seconds = 0;
        const QString text = d.toString("yyyy:MM:dd HH:mm:ss");
        ASSERT_TRUE(halvora::exiftoolTimeStamp(text, seconds)) << text.toStdString();
        EXPECT_EQ(seconds, d.toSecsSinceEpoch()) << text.toStdString();
    }
    int64_t before = 0, after = 0;
    ASSERT_TRUE(halvora::exiftoolTimeStamp("1999:12:31 23:59:59", before));
    ASSERT_TRUE(halvora::exiftoolTimeStamp("2000:01:01 00:00:00", after));
    EXPECT_EQ(after - before, 1);
    int64_t ignored = 0;
    EXPECT_FALSE(halvora::exiftoolTimeStamp("0000:00:00 00:00:00", ignored));
    EXPECT_FALSE(halvora::exiftoolTimeStamp("yesterday", ignored));
}

TEST(exiftoolTags, knownExposureValuesReplaceThoseOfTheRecord) {
    exifInfo_t exif;
    exif.iso = 100;
    exif.fNumber = 4;
    exiftoolTags tags;
    tags.exposureTime = 1.0 / 250;
    halvora::applyExiftoolExposure(tags, exif);
    EXPECT_EQ(exif.iso, 100);
    EXPECT_FLOAT_EQ(exif.fNumber, 4);
    EXPECT_EQ(exif.exposureTimeNum, 1u);
    EXPECT_EQ(exif.exposureTimeDen, 250u);
    tags.exposureTime = 2.5;
    tags.iso = 800;
    tags.fNumber = 11;
    halvora::applyExiftoolExposure(tags, exif);
    EXPECT_FLOAT_EQ(exif.exposureTime, 2.5f);
    EXPECT_EQ(exif.exposureTimeDen, 0u);
    EXPECT_EQ(exif.iso, 800);
    EXPECT_FLOAT_EQ(exif.fNumber, 11);
}

TEST(exiftoolCommands, transferNamesTheResultAndCleansMergedExposureTags) {
    EXPECT_EQ(halvora::exiftoolSoftwareTag(), "Halvora 3.0.1  (Linux)");
    EXPECT_EQ(halvora::exiftoolUsedPhotoList({"a.jpg", "b.jpg", "c.jpg"}), "[1] a.jpg, [2] b.jpg, [3] c.jpg");

    const QStringList merged = halvora::exiftoolTransferExifArguments(
        "/in/a.jpg", "/out/r.jpg", "[1] a.jpg, [2] b.jpg", exifResultKind::hdrToneMapped, 300);
    const QStringList expected{
        "-v0",
        "-overwrite_original",
        "-tagsfromfile",
        "/in/a.jpg",
        "-Software=Halvora 3.0.1  (Linux)",
        "-CreatorTool=Halvora 3.0.1  (Linux)",
        "-HistorySoftwareAgent=Halvora 3.0.1  (Linux)",
        "-Orientation=Horizontal (normal)",
        "-ExposureTime=",
        "-TargetExposureTime=",
        "-ShutterSpeed=",
        "-ShutterSpeedValue=",
        "-comment=HDR created and tone mapped with Halvora 3.0.1 : [1] a.jpg, [2] b.jpg",
        "-thumbnailimage=",
        "-XResolution=300",
        "-YResolution=300",
        "/out/r.jpg"};
    EXPECT_EQ(merged, expected);

    const QStringList single = halvora::exiftoolTransferExifArguments("/in/a.jpg", "/out/r.tif", QString(),
                                                                      exifResultKind::singlePhotoEnhanced, 0);
    EXPECT_FALSE(single.contains("-ExposureTime="));
    EXPECT_TRUE(single.contains("-comment=Single photo enhanced with Halvora 3.0.1 ."));
    EXPECT_FALSE(single.join(' ').contains("Resolution"));
    EXPECT_TRUE(halvora::exiftoolTransferExifArguments("a", "b", QString(), exifResultKind::alignedPhoto, 0)
                    .contains("-comment=Image aligned with Halvora 3.0.1 ."));

    // Relative names become absolute, so "-x.jpg" stays a file, not an option.
    const QStringList query = halvora::exiftoolTagQueryArguments("-overwrite_original.jpg");
    EXPECT_TRUE(query.last().startsWith('/'));
    EXPECT_TRUE(query.last().endsWith("/-overwrite_original.jpg"));
    const QStringList withProfile = halvora::exiftoolTransferExifArguments(
        "/in/a.jpg", "/out/r.jpg", QString(), exifResultKind::singlePhotoEnhanced, 0, "/p.icc");
    EXPECT_EQ(withProfile.mid(withProfile.size() - 2), QStringList({"-icc_profile<=/p.icc", "/out/r.jpg"}));
    EXPECT_EQ(halvora::exiftoolEmbedIccArguments("/r.jpg", "/p.icc"),
              QStringList({"-v0", "-icc_profile<=/p.icc", "/r.jpg", "-overwrite_original"}));
}
