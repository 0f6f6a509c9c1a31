#include "base/debugLog.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <cstdarg>
#include <cstdio>

namespace {

QMutex logMutex;
bool decided = false;
QString logFile; // empty: logging to a file is off
char formatBuffer[2048];
std::function<QString()> targetRule;
std::function<void(const char*)> listener;

} // namespace

void debugLog(const char* format, ...) {
    QMutexLocker lock(&logMutex);
    if (!decided) {
        decided = true;
        logFile = targetRule ? targetRule() : QString();
    }
    if (logFile.isEmpty() && !listener) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(formatBuffer, sizeof formatBuffer, format, args);
    va_end(args);
    if (listener) listener(formatBuffer);
    if (logFile.isEmpty()) return;
    QFile file(logFile);
    if (file.open(QIODevice::Append | QIODevice::Text)) {
        file.write(formatBuffer);
        file.close();
    }
}

namespace halvora {

void setDebugLogTarget(std::function<QString()> firstUse) {
    QMutexLocker lock(&logMutex);
    targetRule = std::move(firstUse);
    decided = false;
}

void setDebugLogListener(std::function<void(const char*)> fn) {
    QMutexLocker lock(&logMutex);
    listener = std::move(fn);
}

void resetDebugLogForTests() {
    QMutexLocker lock(&logMutex);
    decided = false;
    logFile.clear();
}

} // namespace halvora
