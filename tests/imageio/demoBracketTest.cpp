// The sample-bracket generator: three JPEGs whose EXIF (checked with exiftool) describes a −2/0/+2 EV
// bracket, and whose pictures really form one.

#include "support/testSupport.h"

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

#ifdef HALVORA_DEMO_BRACKET_TOOL

namespace {

const char* const kNames[3] = {"demo_-2.jpg", "demo_0.jpg", "demo_+2.jpg"};

bool runGenerator(const QString& dir) {
    QProcess p;
    p.start(HALVORA_DEMO_BRACKET_TOOL, {dir});
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

/// Mean luma and the share of clipped pixels (any channel at 255) inside a rectangle.
void regionStats(const QImage& img, QRect r, double& mean, double& clipped) {
    double sum = 0;
    int64_t n = 0, clip = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb c = img.pixel(x, y);
            sum += 0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c);
            clip += (qRed(c) == 255 || qGreen(c) == 255 || qBlue(c) == 255);
            ++n;
        }
    mean = sum / double(n);
    clipped = double(clip) / double(n);
}

class demoBracket : public ::testing::Test {
protected:
    // The generator runs once for the whole suite.
    static void SetUpTestSuite() {
        dir_ = halvora::test::makeTempDir("demo");
        ok_ = runGenerator(dir_);
    }
    static inline QString dir_;
    static inline bool ok_ = false;
};

} // namespace

TEST_F(demoBracket, WritesThreeDeterministicPictures) {
    ASSERT_TRUE(ok_);
    const QString again = halvora::test::makeTempDir("demoAgain");
    ASSERT_TRUE(runGenerator(again));
    for (const char* name : kNames) {
        const QByteArray a = halvora::test::readBytes(dir_ + "/" + name);
        ASSERT_GT(a.size(), 50000) << name;
        EXPECT_EQ(a, halvora::test::readBytes(again + "/" + name)) << name << " differs between two runs";
        const QImage img(dir_ + "/" + name);
        EXPECT_EQ(img.size(), QSize(1600, 1067)) << name;
    }
    // A missing argument is a usage error, not a crash.
    QProcess p;
    p.start(HALVORA_DEMO_BRACKET_TOOL, QStringList{});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 2);
}

TEST_F(demoBracket, ExifDescribesTheBracket) {
    ASSERT_TRUE(ok_);
    const double times[3] = {1.0 / 250, 1.0 / 60, 1.0 / 15};
    const int bias[3] = {-2, 0, 2};
    if (QStandardPaths::findExecutable("exiftool").isEmpty()) GTEST_SKIP() << "exiftool is not installed";
    QProcess p;
    QStringList args = {"-n",
                        "-j",
                        "-validate",
                        "-ExposureTime",
                        "-FNumber",
                        "-ISO",
                        "-ExposureCompensation",
                        "-Make",
                        "-Model",
                        "-DateTimeOriginal",
                        "-Orientation",
                        "-ExifByteOrder"};
    for (const char* name : kNames)
        args << dir_ + "/" + name;
    p.start("exiftool", args);
    ASSERT_TRUE(p.waitForFinished(60000));
    const QJsonArray files = QJsonDocument::fromJson(p.readAllStandardOutput()).array();
    ASSERT_EQ(files.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const QJsonObject o = files[i].toObject();
        SCOPED_TRACE(kNames[i]);
        EXPECT_EQ(o["Validate"].toString(), "0 0 0"); // errors, warnings, minor warnings
        EXPECT_NEAR(o["ExposureTime"].toDouble(), times[i], 1e-9);
        EXPECT_EQ(o["FNumber"].toDouble(), 8.0);
        EXPECT_EQ(o["ISO"].toInt(), 100);
        EXPECT_EQ(o["ExposureCompensation"].toInt(), bias[i]);
        EXPECT_EQ(o["Make"].toString(), "Halvora");
        EXPECT_EQ(o["Model"].toString(), "Sample Scene Camera");
        EXPECT_EQ(o["Orientation"].toInt(), 1);
        EXPECT_EQ(o["ExifByteOrder"].toString(), "MM");
        EXPECT_EQ(o["DateTimeOriginal"].toString(), QString("2026:05:16 18:42:0%1").arg(7 + i));
    }
}

TEST_F(demoBracket, PicturesFormARealBracket) {
    ASSERT_TRUE(ok_);
    QImage img[3];
    for (int i = 0; i < 3; ++i)
        img[i] = QImage(dir_ + "/" + kNames[i]).convertToFormat(QImage::Format_RGB32);
    const QRect whole(0, 0, 1600, 1067);
    const QRect window(220, 120, 480, 200); // sky seen through the window
    const QRect shelf(1060, 420, 380, 300); // books in the shadow
    double mean[3], clip[3], winMean[3], winClip[3], shelfMean[3], shelfClip[3];
    for (int i = 0; i < 3; ++i) {
        regionStats(img[i], whole, mean[i], clip[i]);
        regionStats(img[i], window, winMean[i], winClip[i]);
        regionStats(img[i], shelf, shelfMean[i], shelfClip[i]);
    }
    EXPECT_LT(mean[0], mean[1]);
    EXPECT_LT(mean[1], mean[2]);
    // The short exposure holds the sky, the long one has lost it; the shadows open up only in the long one.
    EXPECT_LT(winClip[0], 0.02);
    EXPECT_GT(winClip[2], 0.8); // the rest is the window frame
    EXPECT_LT(shelfMean[0], 20.0);
    EXPECT_GT(shelfMean[2], 3.0 * shelfMean[0]);
    EXPECT_LT(shelfClip[2], 0.01);
    // The scene has texture: neighbouring pixels on the wall differ.
    int differing = 0;
    for (int x = 1000; x < 1040; ++x)
        differing += img[1].pixel(x, 650) != img[1].pixel(x + 1, 650);
    EXPECT_GT(differing, 10);
}

#endif
