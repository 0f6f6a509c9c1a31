// Test main: every test program runs with its settings, home and temporary folders inside one fresh
// scratch directory, so no test reads or writes the real user configuration.

#include "support/testSupport.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QTemporaryDir root(QDir::tempPath() + "/halvora-test-XXXXXX");
    if (!root.isValid())
        return 2;
    const QString base = root.path();
    for (const char* sub : {"config", "home", "tmp"})
        QDir().mkpath(base + "/" + sub);
    qputenv("HALVORA_TEST_ROOT", base.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (base + "/config").toLocal8Bit());
    qputenv("HOME", (base + "/home").toLocal8Bit());
    qputenv("TMPDIR", (base + "/tmp").toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    halvora::test::restoreBoxGuard();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
