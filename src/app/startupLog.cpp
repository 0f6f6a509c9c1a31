#include "app/startupLog.h"

#include "app/programOptionsSettings.h"
#include "base/appIdentity.h"
#include "base/debugLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSysInfo>
#include <QThread>

namespace {

QByteArray cpuModel() {
    QFile cpuinfo("/proc/cpuinfo");
    if (!cpuinfo.open(QIODevice::ReadOnly | QIODevice::Text)) return QByteArray();
    while (!cpuinfo.atEnd()) {
        const QByteArray line = cpuinfo.readLine();
        if (line.startsWith("model name")) {
            const qsizetype colon = line.indexOf(':');
            return line.mid(colon + 1).trimmed();
        }
    }
    return QByteArray();
}

} // namespace

void halvora::logStartupInfo() {
    const programOptionsSettings& options = programOptionsSettings::instance();
    debugLog("Starting: %s %s %s\n", kApplicationName, kApplicationVersion,
             QSysInfo::buildCpuArchitecture().toLocal8Bit().constData());
    debugLog("Timestamp: %s\n",
             QDateTime::currentDateTime().toString("yyyy.MM.dd hh:mm:ss").toLocal8Bit().constData());
    debugLog("OS: %s\n", QSysInfo::prettyProductName().toLocal8Bit().constData());
    debugLog("SystemRoot = '%s'\n", "");
    debugLog("CPU: %s\n", cpuModel().constData());
    debugLog("CPU core count: %d (user defined - normal mode: %d, batch mode: %d)\n",
             QThread::idealThreadCount(), options.coreCount, options.coreCountBatch);
    const QList<QScreen*> screens = QGuiApplication::screens();
    const int primary = int(screens.indexOf(QGuiApplication::primaryScreen()));
    debugLog("Screen count = %d (main screen = %d)\n", int(screens.size()), primary);
    for (int i = 0; i < screens.size(); ++i) {
        const QRect full = screens[i]->geometry(), available = screens[i]->availableGeometry();
        debugLog("- Screen %d: %d x %d (available: %d x %d), (position: %d, %d)\n", i, full.width(),
                 full.height(), available.width(), available.height(), full.left(), full.top());
    }
    debugLog("User folder: '%s'\n", QDir::toNativeSeparators(options.userFolder).toLocal8Bit().constData());
}
