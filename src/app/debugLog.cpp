#include "app/debugLog.h"

#include "app/appIdentity.h"
#include "app/programOptionsSettings.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <cstdarg>
#include <cstdio>

namespace {

QMutex logMutex;
int logLevel = 0; // 0 = not read yet, 1 = off, 2 = on
char formatBuffer[2048];
std::function<bool(const QString&)> questionHandler;
std::function<void(const char*)> listener;

// First call: read the level, ask when it is 2, create the file empty. Runs under logMutex.
void readLevel() {
    auto settings = halvora::openSettings();
    bool ok = false;
    int level = settings->value("LogToFile", 1).toInt(&ok);
    logLevel = (ok && level == 2) ? 2 : 1;
    if (logLevel != 2)
        return;
    const QString path = halvora::debugLogPath();
    if (questionHandler) {
        const QString text = QStringLiteral("Logging to: %1. Press \"Yes\" to continue, or \"No\" to disable "
                                            "logging permanently.\n")
                                 .arg(path);
        if (!questionHandler(text))
            settings->setValue("LogToFile", 1); // this run keeps logging; the next one does not
    }
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.close();
}

} // namespace

void debugLog(const char* format, ...) {
    QMutexLocker lock(&logMutex);
    if (logLevel == 0)
        readLevel();
    if (logLevel != 2 && !listener)
        return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(formatBuffer, sizeof formatBuffer, format, args);
    va_end(args);
    if (listener)
        listener(formatBuffer);
    if (logLevel != 2)
        return;
    QFile file(halvora::debugLogPath());
    if (file.open(QIODevice::Append | QIODevice::Text)) {
        file.write(formatBuffer);
        file.close();
    }
}

namespace halvora {

QString debugLogPath() { return programOptionsSettings::userFolderFromStore() + "/Halvora3_debug_log.txt"; }

void setDebugLogQuestion(std::function<bool(const QString&)> ask) {
    QMutexLocker lock(&logMutex);
    questionHandler = std::move(ask);
}

void setDebugLogListener(std::function<void(const char*)> fn) {
    QMutexLocker lock(&logMutex);
    listener = std::move(fn);
}

void resetDebugLogForTests() {
    QMutexLocker lock(&logMutex);
    logLevel = 0;
}

} // namespace halvora
