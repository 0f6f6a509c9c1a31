#include "base/failure.h"

#include "base/debugLog.h"

#include <QDir>
#include <cstring>

namespace halvora {

QString failureText(const QString& file, const QString& reason) {
    return file.isEmpty() ? reason : QDir::toNativeSeparators(file) + ": " + reason;
}

bool fail(QString* error, const char* caller, const QString& file, const QString& reason) {
    const QString text = failureText(file, reason);
    debugLog("%s: %s\n", caller, text.toLocal8Bit().constData());
    if (error)
        *error = text;
    return false;
}

QString systemReason(int errorNumber) {
    QString reason = QString::fromLocal8Bit(std::strerror(errorNumber));
    if (!reason.isEmpty())
        reason[0] = reason[0].toLower();
    return reason;
}

} // namespace halvora
