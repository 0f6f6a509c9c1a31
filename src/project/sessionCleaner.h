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

/// Name of the file in a session directory that names the process owning it ("<pid> <start time>").
inline const char* const kSessionOwnerFile = ".owner";

/// Name of the file in a session directory that lists the hidden temporary files its run created in
/// other folders (base/replacingFile.h); those still there are removed with a session left behind.
inline const char* const kSessionPartialsFile = ".partial-files";

/// Creates a new session directory in `tempDir` for the running process, exclusively: when a
/// directory of that name exists (another run started in the same millisecond) the next millisecond's
/// name is tried. Records the process in kSessionOwnerFile. Returns the directory ending with "/",
/// or an empty string with `error` set.
QString createSessionDirectory(const QString& tempDir, const QDateTime& start, QString& error);

/// True when the session directory's owner file names a process that no longer runs (its id is gone
/// or belongs to a process started at another time). False without an owner file.
bool sessionOwnerGone(const QString& sessionDir);

/// Treats every "~halvoratmp*" directory of `tempDir`: a session whose owning process has ended is
/// cleaned and removed at once, with the partial files it lists; one whose owner still runs is left alone;
/// one without an owner record (an older run's) follows cleanSession(…, ageLimitHours, true) and, when
/// removed, takes the partial files it lists along.
void cleanOldSessions(const QString& tempDir, double ageLimitHours,
                      const QDateTime& now = QDateTime::currentDateTime());

} // namespace halvora
