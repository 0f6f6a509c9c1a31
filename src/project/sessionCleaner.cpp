#include "project/sessionCleaner.h"

#include "base/debugLog.h"
#include "base/replacingFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace halvora {

QString sessionNameFor(const QDateTime& start) {
    return QString(kSessionPrefix) + start.toString("yyyyMMddhhmmss_zzz");
}

namespace {

// Hours since the time stamp in the session's name; 0 when it does not parse.
double sessionAgeHours(const QString& dirPath, const QDateTime& now) {
    const QString name = QFileInfo(dirPath).fileName();
    const QDateTime stamp =
        QDateTime::fromString(name.mid(qsizetype(strlen(kSessionPrefix)), 14), "yyyyMMddhhmmss");
    return stamp.isValid() ? double(stamp.secsTo(now)) / 3600.0 : 0.0;
}

} // namespace

void cleanSession(const QString& sessionDir, double ageLimitHours, bool removeDir, const QDateTime& now) {
    if (sessionDir.isEmpty()) return;
    QString dirPath = QDir::cleanPath(sessionDir);
    const QString name = QFileInfo(dirPath).fileName();
    // Never touch a directory that is not a session directory, whatever the caller passes.
    if (!name.startsWith(kSessionPrefix)) return;
    const double ageHours = sessionAgeHours(dirPath, now);
    const QByteArray path = QDir::toNativeSeparators(dirPath).toLocal8Bit();
    if (ageLimitHours == 0 || ageHours >= ageLimitHours) {
        debugLog("Cleaning up session: %s (delDir=%d)\n", path.constData(), int(removeDir));
        QDir dir(dirPath);
        // The store never makes subdirectories; anything but plain files and links is left alone.
        const QFileInfoList entries =
            dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo& entry : entries)
            // A session that stays keeps the records of its owner and of its partial files.
            if (removeDir || (entry.fileName() != QLatin1String(kSessionOwnerFile) &&
                              entry.fileName() != QLatin1String(kSessionPartialsFile)))
                QFile::remove(entry.absoluteFilePath());
        if (removeDir) QDir().rmdir(dirPath);
    } else {
        debugLog("Found session: %s (no cleaning)\n", path.constData());
    }
}

namespace {

// The start time of a process in clock ticks since boot (field 22 of /proc/<pid>/stat), or empty
// when the process does not exist. Together with the id it names one process: ids are reused.
QByteArray processStartTime(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return QByteArray();
    const QByteArray line = stat.readAll();
    // The command name (field 2) may hold spaces and parentheses: count fields after its last ')'.
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0) return QByteArray();
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    return fields.size() > 19 ? fields[19] : QByteArray();
}

} // namespace

QString createSessionDirectory(const QString& tempDir, const QDateTime& start, QString& error) {
    error.clear();
    if (tempDir.isEmpty() || !QFileInfo(tempDir).isDir()) {
        error =
            QStringLiteral("%1: the temporary folder does not exist").arg(QDir::toNativeSeparators(tempDir));
        return QString();
    }
    const qint64 pid = QCoreApplication::applicationPid();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const QString dir = tempDir + "/" + sessionNameFor(start.addMSecs(attempt)) + "/";
        // mkdir fails when the directory exists: a session is never shared with another run.
        if (!QDir().mkdir(dir)) {
            if (QFileInfo::exists(dir)) continue;
            error = QStringLiteral("%1: cannot create the session folder").arg(QDir::toNativeSeparators(dir));
            return QString();
        }
        QFile owner(dir + kSessionOwnerFile);
        if (owner.open(QIODevice::WriteOnly))
            owner.write(QByteArray::number(pid) + ' ' + processStartTime(pid) + '\n');
        return dir;
    }
    error = QStringLiteral("%1: no free session folder name").arg(QDir::toNativeSeparators(tempDir));
    return QString();
}

bool sessionOwnerGone(const QString& sessionDir) {
    QFile owner(QDir::cleanPath(sessionDir) + "/" + kSessionOwnerFile);
    if (!owner.open(QIODevice::ReadOnly)) return false;
    const QList<QByteArray> fields = owner.readAll().trimmed().split(' ');
    bool ok = false;
    const qint64 pid = fields.value(0).toLongLong(&ok);
    if (!ok || pid <= 0) return false;
    const QByteArray started = processStartTime(pid);
    return started.isEmpty() || (fields.size() > 1 && !fields[1].isEmpty() && fields[1] != started);
}

void cleanOldSessions(const QString& tempDir, double ageLimitHours, const QDateTime& now) {
    if (tempDir.isEmpty()) return;
    QDir dir(tempDir);
    const QFileInfoList sessions = dir.entryInfoList(
        {QString(kSessionPrefix) + "*"}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QFileInfo& session : sessions) {
        const QString path = session.absoluteFilePath();
        if (QFileInfo::exists(path + "/" + kSessionOwnerFile)) {
            // A recorded owner decides: ended — the session is left over; running — it is in use.
            if (sessionOwnerGone(path)) {
                removeListedPartialFiles(path + "/" + kSessionPartialsFile);
                cleanSession(path, 0, true, now);
            } else
                debugLog("Found session: %s (its process still runs)\n",
                         QDir::toNativeSeparators(path).toLocal8Bit().constData());
            continue;
        }
        const double ageHours = sessionAgeHours(path, now);
        if (ageLimitHours == 0 || ageHours >= ageLimitHours)
            removeListedPartialFiles(path + "/" + kSessionPartialsFile);
        cleanSession(path, ageLimitHours, true, now);
    }
}

} // namespace halvora
