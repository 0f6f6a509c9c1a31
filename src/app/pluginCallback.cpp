#include "app/pluginCallback.h"

#include "base/debugLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace halvora {

QString pluginCallbackPath(const QString& pluginSrcDir) {
    return pluginSrcDir.isEmpty() ? QString(kPluginCallbackName) : pluginSrcDir + "/" + kPluginCallbackName;
}

static QString doubledPath(const QString& savedFile) {
    const QFileInfo info(savedFile);
    QString path = QDir::toNativeSeparators(QDir::cleanPath(info.absolutePath()) + "/" + info.fileName());
    return path.replace("\\", "\\\\");
}

QString pluginCallbackContent(const QString& savedFile) { return "\"" + doubledPath(savedFile) + "\""; }

bool writePluginCallback(const QString& pluginSrcDir, const QString& savedFile) {
    const QString path = pluginCallbackPath(pluginSrcDir);
    debugLog("Saving %s... ", path.toLocal8Bit().constData());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        debugLog(" failed\n");
        return false;
    }
    const QByteArray content = pluginCallbackContent(savedFile).toLocal8Bit();
    const bool ok = file.write(content) == content.size();
    file.close();
    if (!ok) {
        debugLog(" failed\n");
        return false;
    }
    debugLog(" ok\n");
    debugLog("path=%s\n", doubledPath(savedFile).toLocal8Bit().constData());
    return true;
}

} // namespace halvora
