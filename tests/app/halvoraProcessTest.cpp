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

// How well the frames are lined up is the alignment tests' matter; here --auto_align reaches the run:
// the result is cut to the area the three shifted frames share.
TEST(halvoraProcess, automaticAlignmentLinesUpAHandHeldBracket) {
    HALVORA_REQUIRE_DATA();
    if (QStandardPaths::findExecutable("exiftool").isEmpty()) GTEST_SKIP() << "exiftool is not installed";
    displaySandbox box;
    const QStringList photos = handHeldBracket(box.root);
    ASSERT_EQ(photos.size(), 3);
    const QString out = box.root + "/aligned.jpg";
    QProcess p;
    p.setProcessEnvironment(box.environment(false));
    p.start(halvora::test::halvoraBinary(),
            QStringList{"--auto", "--output_fn=" + out, "--auto_align"} + photos);
    ASSERT_TRUE(p.waitForFinished(180000)) << "must not hang";
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const QString log = box.logText();
    EXPECT_TRUE(log.contains("Auto alignment prior to HDR generation (midId=")) << log.toStdString();
    EXPECT_TRUE(log.contains("Alignment done\n"));
    // The cuts overlap in 960 − 40 × 700 − 26 pixels.
    const QImage result(out);
    EXPECT_NEAR(result.width(), 920, 2);
    EXPECT_NEAR(result.height(), 674, 2);
}
