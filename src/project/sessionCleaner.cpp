#include "project/sessionCleaner.h"

#include "base/debugLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace halvora {

QString sessionNameFor(const QDateTime& start) {
    return QString(kSessionPrefix) + start.toString("yyyyMMddhhmmss_zzz");
}

void cleanSession(const QString& sessionDir, double ageLimitHours, bool removeDir, const QDateTime& now) {
    if (sessionDir.isEmpty())
        return;
    QString dirPath = QDir::cleanPath(sessionDir);
    const QString name = QFileInfo(dirPath).fileName();
    // Never touch a directory that is not a session directory, whatever the caller passes.
    if (!name.startsWith(kSessionPrefix))
        return;
    double ageHours = 0;
    {
        const QDateTime stamp = QDateTime::fromString(name.mid(qsizetype(strlen(kSessionPrefix)), 14),
                                                      "yyyyMMddhhmmss");
        if (stamp.isValid())
            ageHours = double(stamp.secsTo(now)) / 3600.0;
    }
    const QByteArray path = QDir::toNativeSeparators(dirPath).toLocal8Bit();
    if (ageLimitHours == 0 || ageHours >= ageLimitHours) {
        debugLog("Cleaning up session: %s (delDir=%d)\n", path.constData(), int(removeDir));
        QDir dir(dirPath);
        // The store never makes subdirectories; anything but plain files and links is left alone.
        const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo& entry : entries)
            QFile::remove(entry.absoluteFilePath());
        if (removeDir)
            QDir().rmdir(dirPath);
    } else {
        debugLog("Found session: %s (no cleaning)\n", path.constData());
    }
}

void cleanOldSessions(const QString& tempDir, double ageLimitHours, const QDateTime& now) {
    if (tempDir.isEmpty())
        return;
    QDir dir(tempDir);
    const QFileInfoList sessions = dir.entryInfoList({QString(kSessionPrefix) + "*"},
                                                     QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QFileInfo& session : sessions)
        cleanSession(session.absoluteFilePath(), ageLimitHours, true, now);
}

} // namespace halvora
