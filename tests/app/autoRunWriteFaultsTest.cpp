// What an unattended run leaves when its writing goes wrong: a run killed while it saves the merged
// radiance picture leaves nothing of ours in the user's folder once the program has started again
// (and an older file of that name intact), and a file-size limit is a reported write error.

#include "autoRunSandbox.h"
#include "support/radianceFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <cstdlib>
#include <gtest/gtest.h>
#include <vector>

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace halvora::test;

namespace {

QStringList nightBracket() {
    const QString d = dataFile("brackets/iphone_xr_night_9exp/");
    return {d + "IMG_3869.jpeg", d + "IMG_3872.jpeg", d + "IMG_3875.jpeg"};
}

// True while the process holds a file of `folder` open: an unnamed file shows as "<folder>/#<n> (deleted)".
bool writesInto(qint64 pid, const QByteArray& folder) {
    const QByteArray fds = "/proc/" + QByteArray::number(pid) + "/fd";
    DIR* d = opendir(fds.constData());
    if (!d) return false;
    bool found = false;
    while (const dirent* e = readdir(d)) {
        char target[4096];
        const ssize_t n = readlink((fds + "/" + e->d_name).constData(), target, sizeof target);
        if (n > 0 && QByteArray(target, n).startsWith(folder + "/")) found = true;
    }
    closedir(d);
    return found;
}

/// Processes started by `parent` whose command line names the metadata tool.
std::vector<pid_t> metadataToolsOf(qint64 parent) {
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    if (!proc) return found;
    while (dirent* e = readdir(proc)) {
        const pid_t pid = pid_t(std::atoi(e->d_name));
        if (pid <= 0) continue;
        QFile stat(QString("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly)) continue;
        // "pid (name) state ppid …": the name may hold spaces, so the fields are counted after ')'.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 2 || fields[1].toLongLong() != parent) continue;
        QFile cmd(QString("/proc/%1/cmdline").arg(pid));
        if (cmd.open(QIODevice::ReadOnly) && cmd.readAll().contains("exiftool")) found.push_back(pid);
    }
    closedir(proc);
    return found;
}

bool processGone(pid_t pid, int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QFile stat(QString("/proc/%1/stat").arg(pid));
        // A zombie no longer runs; it waits only for its new parent to collect it.
        if (!stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ")) return true;
        QThread::msleep(20);
    }
    return false;
}

QStringList everything(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

// kill -9 while the radiance picture is written, with and without an older file of that name; the
// next start removes the killed run's session, and the folder holds only what the user had.
TEST(autoRunWriteFaults, aRunKilledWhileSavingTheRadiancePictureLeavesNothingBehind) {
    HALVORA_REQUIRE_DATA();
    for (const char* name : {"merged.hdr", "merged.exr"})
        for (const bool older : {false, true}) {
            SCOPED_TRACE(std::string(name) + (older ? " over an older file" : ""));
            sandbox box;
            const QString target = box.out + "/" + name;
            const QByteArray olderBytes = "an older picture the user keeps";
            if (older) {
                QFile f(target);
                ASSERT_TRUE(f.open(QIODevice::WriteOnly));
                f.write(olderBytes);
            }
            QProcess p;
            p.setProcessEnvironment(box.environment());
            p.start(halvoraBinary(),
                    QStringList{"--auto", "--output_fn=" + box.out + "/n.jpg", "--save_hdr=" + target} +
                        nightBracket());
            ASSERT_TRUE(p.waitForStarted(20000));
            QElapsedTimer guard;
            guard.start();
            bool caught = false;
            const QByteArray out = QFile::encodeName(box.out);
            while (!caught && guard.elapsed() < 120000 && !p.waitForFinished(0))
                if (!(caught = writesInto(p.processId(), out))) QThread::usleep(200);
            const std::vector<pid_t> tools = caught ? metadataToolsOf(p.processId()) : std::vector<pid_t>();
            if (caught) p.kill();
            ASSERT_TRUE(p.waitForFinished(30000));
            ASSERT_TRUE(caught) << "the run ended before it wrote the radiance picture";
            // The stay-open metadata tool ends with the killed program instead of running on for good.
            EXPECT_FALSE(tools.empty()) << "the run had no metadata tool running";
            for (pid_t tool : tools)
                EXPECT_TRUE(processGone(tool, 10000)) << "metadata tool " << tool << " outlived the program";
            EXPECT_EQ(p.exitStatus(), QProcess::CrashExit);
            ASSERT_EQ(box.sessions().size(), 1) << "the killed run's session is there until the next start";

            // The next start: a small run of its own into another folder.
            const QString other = box.root + "/other";
            QDir().mkpath(other);
            int code = -1;
            ASSERT_TRUE(box.run({"--auto", "--output_fn=" + other + "/small.jpg",
                                 dataFile("brackets/desk_canon_s45_13exp/img05.jpg")},
                                code, 60000));
            EXPECT_EQ(code, 0);
            EXPECT_TRUE(box.sessions().isEmpty()) << "the killed run's session is removed";

            // The write is either not there at all or whole; an older file is never damaged.
            const QStringList left = everything(box.out);
            if (left.isEmpty()) {
                EXPECT_FALSE(older) << "the older file was removed";
                continue;
            }
            EXPECT_EQ(left, QStringList{name}) << left.join(", ").toStdString();
            QFile f(target);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            const QByteArray bytes = f.readAll();
            f.close();
            if (!(older && bytes == olderBytes)) {
                EXPECT_TRUE(loadRadianceFile(target).loadOk) << "a partial picture under the final name";
            }
        }
}

// A file-size limit (as `ulimit -f` sets it) refuses the result's write: the run ends non-zero with
// the system's reason for the result file, and nothing is left under any name.
TEST(autoRunWriteFaults, aFileSizeLimitIsAReportedWriteError) {
    HALVORA_REQUIRE_DATA();
    sandbox box;
    const QString result = box.out + "/forest.tif";
    QProcess p;
    p.setProcessEnvironment(box.environment());
    // The 16-bit result (1024 × 512 × 6 bytes) is over the limit; the radiance input is held in memory.
    p.setChildProcessModifier([] {
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 2 << 20;
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    p.start(halvoraBinary(), {"--auto", "--tiff16", "--output_fn=" + result,
                              dataFile("radiance/polyhaven_hdri_1k/forest_slope_1k.hdr")});
    ASSERT_TRUE(p.waitForFinished(120000));
    ASSERT_EQ(p.exitStatus(), QProcess::NormalExit) << "the limit's signal must not end the program";
    EXPECT_NE(p.exitCode(), 0);
    const QString errors = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_TRUE(errors.startsWith("halvora: " + result + ": file too large\n")) << errors.toStdString();
    EXPECT_TRUE(everything(box.out).isEmpty()) << everything(box.out).join(", ").toStdString();
    EXPECT_TRUE(box.sessions().isEmpty());
}
