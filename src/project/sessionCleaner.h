#pragma once
// The session directories of the temporary store: "~halvoratmp" + start time
// ("yyyyMMddhhmmss_zzz"). Old sessions (of crashed runs) are cleaned at start; only files directly
// inside "~halvoratmp*" directories are ever deleted.

#include <QDateTime>
#include <QString>

namespace halvora {

inline const char* const kSessionPrefix = "~halvoratmp";

/// "~halvoratmp" followed by `start` formatted "yyyyMMddhhmmss_zzz".
QString sessionNameFor(const QDateTime& start);

/// Cleans one session directory: when `ageLimitHours` is 0 or the age from its name's time stamp is at
/// least the limit, deletes every file in it and, with `removeDir`, the directory itself. A name whose
/// time stamp does not parse counts as age 0. Symbolic links are removed, never followed.
void cleanSession(const QString& sessionDir, double ageLimitHours, bool removeDir,
                  const QDateTime& now = QDateTime::currentDateTime());

/// Treats every "~halvoratmp*" directory of `tempDir` with cleanSession(…, ageLimitHours, true).
void cleanOldSessions(const QString& tempDir, double ageLimitHours, const QDateTime& now = QDateTime::currentDateTime());

} // namespace halvora
