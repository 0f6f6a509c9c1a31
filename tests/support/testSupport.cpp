#include "support/testSupport.h"

#include "base/debugLog.h"

#include <cstdio>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <memory>
#include <mutex>

namespace halvora::test {

std::unique_ptr<QTemporaryDir> prepareTestEnvironment() {
    auto root = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/halvora-test-XXXXXX");
    if (!root->isValid())
        return nullptr;
    const QString base = root->path();
    for (const char* sub : {"config", "home", "tmp", "runtime"})
        QDir().mkpath(base + "/" + sub);
    QFile::setPermissions(base + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HALVORA_TEST_ROOT", base.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (base + "/config").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", (base + "/runtime").toLocal8Bit());
    qputenv("HOME", (base + "/home").toLocal8Bit());
    qputenv("TMPDIR", (base + "/tmp").toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return root;
}

QString scratchRoot() { return qEnvironmentVariable("HALVORA_TEST_ROOT"); }

QString makeTempDir(const QString& name) {
    const QString path = scratchRoot() + "/" + name + "-" + QUuid::createUuid().toString(QUuid::Id128).left(12);
    QDir().mkpath(path);
    return path;
}

QString dataDir() {
    // HALVORA_DATA_DIR in the environment serves checkouts that do not sit beside ../shared.
    const QString override = qEnvironmentVariable("HALVORA_DATA_DIR");
    const QString dir = QDir::cleanPath(override.isEmpty() ? QStringLiteral(HALVORA_DATA_DIR) : override);
    return QFileInfo(dir).isDir() ? dir : QString();
}

QString dataFile(const QString& relative) { return dataDir() + "/" + relative; }

QString halvoraBinary() { return HALVORA_BINARY; }

struct logCapture::state {
    std::mutex mutex;
    std::string text;
};

logCapture::logCapture() : state_(std::make_shared<state>()) {
    auto s = state_;
    halvora::setDebugLogListener([s](const char* line) {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->text += line;
    });
}

logCapture::~logCapture() { halvora::setDebugLogListener(nullptr); }

std::string logCapture::text() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->text;
}

} // namespace halvora::test
