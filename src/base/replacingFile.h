#pragma once
// A file that appears under its name only once every byte of it is written and on disk. It is
// written as an unnamed file in the target's folder (where the file system offers them; a hidden
// temporary name otherwise) and put in place by commit(), which replaces an older file of that name
// in one step. A failed or interrupted write, a full disk or a killed process never leaves a
// half-written file under the final name, and no named partial file in the user's folder.
//
// Each write failure remembers the system's reason ("no space left on device"). Used by one thread
// at a time.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace halvora {

class replacingFile {
public:
    explicit replacingFile(const QString& fileName);
    /// Abandons a file that was not committed.
    ~replacingFile();
    replacingFile(const replacingFile&) = delete;
    replacingFile& operator=(const replacingFile&) = delete;

    /// Creates the temporary file in the target's folder; false with the reason (see failure.h).
    bool open(const char* caller, QString* error);
    /// Appends all `bytes`; false after a failed write (the reason is kept, see writeReason()).
    bool write(const void* data, size_t bytes);
    /// Writes `bytes` at `offset` without moving the append position.
    bool writeAt(int64_t offset, const void* data, size_t bytes);
    /// A path by which a library can open the temporary file itself (it must not rename it).
    QByteArray path() const;
    /// Flushes the file to disk and puts it under the final name; false with the reason.
    bool commit(const char* caller, QString* error);

    /// The reason of the first failed write, empty while every write succeeded.
    QString writeReason() const { return writeReason_; }
    const QString& fileName() const { return fileName_; }

private:
    bool remember(int errorNumber);
    bool linkInPlace(QString& reason);

    QString fileName_;
    QByteArray finalPath_;
    QByteArray folder_;
    QByteArray namedTemp_; ///< empty for an unnamed file
    int fd_ = -1;
    bool committed_ = false;
    QString writeReason_;
};

} // namespace halvora
