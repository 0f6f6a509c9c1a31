// Runs the built program as a user or a host program would, with its settings, home and temporary
// folders inside a scratch folder.

#include "autoRunSandbox.h"
#include "project/sessionCleaner.h"
#include "support/testSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <cmath>
#include <gtest/gtest.h>

namespace {

// The scratch home of the automatic-run tests; these runs may also have an offscreen display.
struct displaySandbox : halvora::test::autoRunSandbox {
    QProcessEnvironment environment(bool display = true) const {
        QProcessEnvironment env = autoRunSandbox::environment();
        if (display) env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    }
};

bool waitFor(const std::function<bool()>& condition, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > ms) return false;
        QThread::msleep(50);
    }
    return true;
}

TEST(halvoraProcess, helpAndVersionWithoutDisplayOrSession) {
    displaySandbox box;
    QProcess p;
    p.setProcessEnvironment(box.environment(false));
    p.start(halvora::test::halvoraBinary(), {"--help"});
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    const QString usage = QString::fromLocal8Bit(p.readAllStandardOutput());
    EXPECT_TRUE(usage.contains("--output_fn=FILE"));
    EXPECT_TRUE(usage.contains("--tm_settings"));

    p.start(halvora::test::halvoraBinary(), {"--version"});
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(p.readAllStandardOutput(), "Halvora 3.0.1\n");
    EXPECT_TRUE(box.sessions().isEmpty());
    EXPECT_TRUE(box.logText().isEmpty());
}

TEST(halvoraProcess, startAndOrderlyShutdown) {
    displaySandbox box;
    const QDateTime now = QDateTime::currentDateTime();
    const QString oldSession = box.tmp + "/" + halvora::sessionNameFor(now.addSecs(-73 * 3600));
    const QString youngSession = box.tmp + "/" + halvora::sessionNameFor(now.addSecs(-71 * 3600));
    for (const QString& d : {oldSession, youngSession}) {
        QDir().mkpath(d);
        QFile f(d + "/XXXXXX");
        f.open(QIODevice::WriteOnly);
    }
    // Decoys beside the sessions: nothing outside the session directories may disappear.
    QDir().mkpath(box.tmp + "/decoy");
    QFile(box.tmp + "/decoy/photo.jpg").open(QIODevice::WriteOnly);
    QFile(box.tmp + "/halvoratmp_notes.txt").open(QIODevice::WriteOnly);

    QProcess p;
    p.setProcessEnvironment(box.environment());
    p.start(halvora::test::halvoraBinary(), {"--hide", "-x", "--plugin"});
    ASSERT_TRUE(p.waitForStarted(20000));
    ASSERT_TRUE(waitFor([&] { return box.logText().contains("maxThreadCount="); }, 30000))
        << box.logText().toStdString();
    EXPECT_EQ(box.sessions().size(), 2) << "the old session is cleaned, the young one kept, ours created";
    EXPECT_FALSE(QDir(oldSession).exists());

    p.terminate(); // SIGTERM runs the ordered shutdown, and the exit status says how the run ended
    ASSERT_TRUE(p.waitForFinished(30000)) << box.logText().toStdString();
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 143);
    EXPECT_TRUE(QString::fromLocal8Bit(p.readAllStandardError()).contains("halvora: interrupted"));

    const QString log = box.logText();
    for (const char* line :
         {"Starting: Halvora 3.0.1 ", "Timestamp: ", "OS: ", "CPU core count: ", "Screen count = ",
          "User folder: '", "Preparing environment...\n", "Environment ready.\n", "argv[1] = --hide\n",
          "argv[2] = -x\n", "PARAMS: autoProcess=0\n", "PARAMS: plugin=1\n",
          "PARAMS: outputFormat=0 (tiff bit depth: 1)\n", "\nClosing...\n",
          "loadPhoto.worker[31]=", "transformWorker.worker=", "Waiting for threads to terminate...\n",
          "Threads should be terminated now\n", "\nTerminated (ret=143)\n"})
        EXPECT_TRUE(log.contains(line)) << "missing: " << line;
    EXPECT_EQ(box.sessions(), QStringList{QFileInfo(youngSession).fileName()})
        << "our session directory is gone";
    EXPECT_TRUE(QFile::exists(box.tmp + "/decoy/photo.jpg"));
    EXPECT_TRUE(QFile::exists(box.tmp + "/halvoratmp_notes.txt"));
    EXPECT_TRUE(QFile::exists(youngSession + "/XXXXXX"));
    EXPECT_FALSE(QFile::exists(box.home + "/Halvora3_pluginCallback")) << "nothing was saved";
    // Options and the window placement were written at the normal end.
    QFile ini(box.config + "/Vantrelle/Halvora 3.conf");
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    const QByteArray settings = ini.readAll();
    EXPECT_TRUE(settings.contains("WindowGeometry"));
    EXPECT_TRUE(settings.contains("JpegQuality=100"));
}

TEST(halvoraProcess, missingTemporaryDirectoryIsAStartError) {
    displaySandbox box;
    QProcessEnvironment env = box.environment();
    env.insert("TMPDIR", box.root + "/missing");
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(halvora::test::halvoraBinary(), {"--hide"});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 255) << "-1 as a process exit status";
    const QString log = box.logText();
    EXPECT_TRUE(log.contains("Failed to create session dir: '"));
    EXPECT_TRUE(log.contains("Failed to create project!\n"));
    EXPECT_TRUE(log.contains("Error on startup. Please contact support."));
}

// How well the edges of `picture` lie where the edges of `source` (its region at `corner`) lie:
// the correlation of the two gradient magnitudes. Ghost copies of a misaligned merge add edges the
// photo does not have and weaken the ones it has.
double edgeAgreement(const QImage& picture, const QImage& source, QPoint corner) {
    const QImage a = picture.convertToFormat(QImage::Format_Grayscale8);
    const QImage b = source.copy(QRect(corner, picture.size())).convertToFormat(QImage::Format_Grayscale8);
    const auto magnitude = [](const QImage& g, int x, int y) {
        const double dx = g.constScanLine(y)[x + 1] - g.constScanLine(y)[x];
        const double dy = g.constScanLine(y + 1)[x] - g.constScanLine(y)[x];
        return std::sqrt(dx * dx + dy * dy);
    };
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0, n = 0;
    for (int y = 0; y + 1 < a.height(); ++y)
        for (int x = 0; x + 1 < a.width(); ++x) {
            const double u = magnitude(a, x, y), v = magnitude(b, x, y);
            sa += u, sb += v, saa += u * u, sbb += v * v, sab += u * v, n += 1;
        }
    const double cov = sab / n - sa / n * sb / n;
    return cov / std::sqrt((saa / n - sa / n * sa / n) * (sbb / n - sb / n * sb / n));
}

// A tripod bracket made hand-held: each frame cut 960 × 700 from its own corner, with the camera's
// EXIF copied back by the metadata tool so the exposures are known.
QStringList handHeldBracket(const QString& folder) {
    const QString source = halvora::test::dataDir() + "/brackets/desk_canon_s45_13exp/";
    const char* const files[3] = {"img05.jpg", "img07.jpg", "img08.jpg"};
    const QPoint corners[3] = {{30, 34}, {12, 20}, {52, 8}};
    QStringList out;
    for (int i = 0; i < 3; ++i) {
        const QString name = folder + "/" + files[i];
        if (!QImage(source + files[i]).copy(QRect(corners[i], QSize(960, 700))).save(name, "JPG", 95))
            return {};
        QProcess tool;
        tool.start("exiftool",
                   {"-q", "-overwrite_original", "-TagsFromFile", source + files[i], "-exif:all", name});
        if (!tool.waitForFinished(30000) || tool.exitCode() != 0) return {};
        out << name;
    }
    return out;
}

} // namespace

TEST(halvoraProcess, automaticAlignmentLinesUpAHandHeldBracket) {
    HALVORA_REQUIRE_DATA();
    if (QStandardPaths::findExecutable("exiftool").isEmpty()) GTEST_SKIP() << "exiftool is not installed";
    displaySandbox box;
    const QStringList photos = handHeldBracket(box.root);
    ASSERT_EQ(photos.size(), 3);
    // The middle exposure (img07, cut at (12, 20)) is the reference: the aligned merge shows it from
    // (12, 20) + (40, 14), where the cuts' common area starts.
    const QImage middle(halvora::test::dataDir() + "/brackets/desk_canon_s45_13exp/img07.jpg");
    const QPoint corners[2] = {{12, 20}, {52, 34}};
    double agreement[2] = {0, 0};
    QSize sizes[2];
    for (int aligned = 0; aligned < 2; ++aligned) {
        const QString out = box.root + (aligned ? "/aligned.jpg" : "/plain.jpg");
        QStringList args{"--auto", "--output_fn=" + out};
        if (aligned) args << "--auto_align";
        QProcess p;
        p.setProcessEnvironment(box.environment(false));
        p.start(halvora::test::halvoraBinary(), args + photos);
        ASSERT_TRUE(p.waitForFinished(180000)) << "must not hang";
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        const QImage result(out);
        ASSERT_FALSE(result.isNull());
        sizes[aligned] = result.size();
        if (result.width() + corners[aligned].x() <= middle.width() &&
            result.height() + corners[aligned].y() <= middle.height())
            agreement[aligned] = edgeAgreement(result, middle, corners[aligned]);
    }
    const QString log = box.logText();
    EXPECT_TRUE(log.contains("Auto alignment prior to HDR generation (midId=")) << log.toStdString();
    EXPECT_TRUE(log.contains("Alignment done\n"));
    // The cuts overlap in 960 − 40 × 700 − 26 pixels; the aligned result is cut to that.
    EXPECT_EQ(sizes[0], QSize(960, 700));
    EXPECT_NEAR(sizes[1].width(), 920, 2);
    EXPECT_NEAR(sizes[1].height(), 674, 2);
    // The unaligned merge shows three copies of every edge; the aligned one the photo's own.
    EXPECT_GT(agreement[1], 0.6) << agreement[1];
    EXPECT_GT(agreement[1], agreement[0] + 0.2) << agreement[1] << " vs " << agreement[0];
}
