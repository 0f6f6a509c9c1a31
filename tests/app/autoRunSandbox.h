#pragma once
// A scratch home for one run of the built program: its settings, home, temporary and output folders,
// and a runner that starts it without a display, as a script on a server would.

#include "support/testSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

namespace halvora::test {

struct autoRunSandbox {
    QString root = makeTempDir("autorun");
    QString config = root + "/config", home = root + "/home", tmp = root + "/tmp", out = root + "/out";

    explicit autoRunSandbox(const QString& extraSettings = QString()) {
        for (const QString& d : {config, home, tmp, out})
            QDir().mkpath(d);
        QDir().mkpath(config + "/Vantrelle");
        QFile ini(config + "/Vantrelle/Halvora 3.conf");
        EXPECT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(("[General]\nLogToFile=2\n" + extraSettings).toUtf8());
    }
    QString logText() const {
        QFile f(home + "/Halvora 3/Halvora3_debug_log.txt");
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
    }
    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config);
        env.insert("HOME", home);
        env.insert("TMPDIR", tmp);
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        return env;
    }
    /// Runs the program without a display; false when it did not end within `ms` (four times that in a
    /// sanitizer run, which is slower, not stuck). What it wrote to standard error goes to `errors`
    /// when given.
    bool run(const QStringList& arguments, int& exitCode, int ms = 30000, QString* errors = nullptr) const {
        if (!childSanitizerReportDir().isEmpty()) ms *= 4;
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(halvoraBinary(), arguments);
        if (!p.waitForFinished(ms)) {
            p.kill();
            p.waitForFinished(5000);
            return false;
        }
        const QString standardError = QString::fromLocal8Bit(p.readAllStandardError());
        if (errors) *errors = standardError;
        exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -999;
        // A sanitizer report would pass unseen in tests that expect the run to fail.
        EXPECT_NE(exitCode, sanitizerExitCode) << standardError.toStdString();
        return true;
    }
    QStringList sessions() const {
        return QDir(tmp).entryList({"~halvoratmp*"}, QDir::Dirs | QDir::NoDotAndDotDot);
    }
};

} // namespace halvora::test
