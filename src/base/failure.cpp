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
    if (error) *error = text;
    return false;
}

QString asReason(QString message) {
    if (!message.isEmpty() && (message.size() == 1 || message[1].isLower()))
        message[0] = message[0].toLower();
    return message;
}

QString systemReason(int errorNumber) {
    return asReason(QString::fromLocal8Bit(std::strerror(errorNumber)));
}

} // namespace halvora
