#pragma once
// A headerless temporary file holding one picture's samples exactly as they lie in memory, so its
// length is width × height × channels × bytes per sample. Created in the session directory from the
// template "<session dir>XXXXXX" and removed when the record is destroyed.

#include "base/hugePageBlock.h"

#include <QString>
#include <QTemporaryFile>
#include <cstddef>
#include <cstdint>

class tempFileRecord {
public:
    /// Creates the file in `directory` (which ends with "/"); check isOpen() afterwards.
    explicit tempFileRecord(const QString& directory);

    bool isOpen() const { return file_.isOpen(); }
    QString fileName() const { return file_.fileName(); }
    QString errorString() const { return file_.errorString(); }
    qint64 size() const { return file_.size(); }

    /// Writes `bytes` from offset 0 in one transfer; false (and logged by `caller`) on a short write.
    bool write(const void* data, size_t bytes, const char* caller);
    /// Sequential writing in pieces from offset 0, for a writer that never holds the whole picture:
    /// append() as often as needed, then finish() with the expected total; false (logged) on a
    /// short write. Not mixed with write() on the same record.
    bool append(const void* data, size_t bytes, const char* caller);
    bool finish(size_t totalBytes, const char* caller);
    /// Reads exactly `bytes` from offset 0 in one transfer; false (logged) on a short read.
    bool read(void* data, size_t bytes, const char* caller);
    /// Maps `bytes` at `offset` read-only; null when the range lies outside the file or mapping fails.
    const uint8_t* map(qint64 offset, qint64 bytes);
    void unmap(const uint8_t* address);

private:
    bool flushPending(bool last, const char* caller);

    QTemporaryFile file_;
    halvora::hugePageBlock pending_; ///< appended bytes not yet written
    size_t pendingFill_ = 0;
    size_t appended_ = 0; ///< bytes written to the file by append()
};
