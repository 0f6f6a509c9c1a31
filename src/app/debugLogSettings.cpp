#include "app/debugLogSettings.h"

#include "app/programOptionsSettings.h"
#include "app/settingsStore.h"
#include "base/debugLog.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>

namespace halvora {
namespace {

QMutex questionMutex;
std::function<bool(const QString&)> questionHandler;

// Runs under the log's own lock, on the thread of the first message.
QString firstUse() {
    auto settings = openSettings();
    bool ok = false;
    const int level = settings->value("LogToFile", 1).toInt(&ok);
    if (!ok || level != 2) return QString();
    const QString path = debugLogPath();
    std::function<bool(const QString&)> ask;
    {
        QMutexLocker lock(&questionMutex);
        ask = questionHandler;
    }
    if (ask) {
        const QString text = QStringLiteral("Logging to: %1. Press \"Yes\" to continue, or \"No\" to disable "
                                            "logging permanently.\n")
                                 .arg(path);
        if (!ask(text)) settings->setValue("LogToFile", 1); // this run keeps logging; the next one does not
    }
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.close();
    return path;
}

} // namespace

QString debugLogPath() {
    return programOptionsSettings::userFolderFromStore() + "/Halvora3_debug_log.txt";
}

void setDebugLogQuestion(std::function<bool(const QString&)> ask) {
    QMutexLocker lock(&questionMutex);
    questionHandler = std::move(ask);
}

void installDebugLogSettings() {
    setDebugLogTarget(firstUse);
}

} // namespace halvora
