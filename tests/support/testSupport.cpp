#include "support/testSupport.h"

#include "app/debugLog.h"
#include "ui/styledMessageBox.h"

#include <cstdio>

#include <QDir>
#include <QFileInfo>
#include <QUuid>
#include <memory>
#include <mutex>

namespace halvora::test {

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

void halvora::test::restoreBoxGuard() {
    styledMessageBox::setRecorder([](styledMessageBox::kind, const QString& text) {
        fprintf(stderr, "unexpected message box (answered Yes): %s\n", text.toLocal8Bit().constData());
        return true;
    });
}
