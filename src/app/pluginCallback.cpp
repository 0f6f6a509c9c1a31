#include "app/pluginCallback.h"

#include "base/debugLog.h"
#include "base/replacingFile.h"

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

QString pluginCallbackContent(const QString& savedFile) {
    return "\"" + doubledPath(savedFile) + "\"";
}

bool writePluginCallback(const QString& pluginSrcDir, const QString& savedFile) {
    const QString path = pluginCallbackPath(pluginSrcDir);
    debugLog("Saving %s... ", path.toLocal8Bit().constData());
    // The host reads the file as soon as it appears: it appears whole, or not at all.
    replacingFile file(path);
    const QByteArray content = pluginCallbackContent(savedFile).toLocal8Bit();
    QString error;
    if (!file.open("writePluginCallback", &error) ||
        !file.write(content.constData(), size_t(content.size())) ||
        !file.commit("writePluginCallback", &error)) {
        debugLog(" failed\n");
        return false;
    }
    debugLog(" ok\n");
    debugLog("path=%s\n", doubledPath(savedFile).toLocal8Bit().constData());
    return true;
}

} // namespace halvora
