#include "base/fileHandle.h"

#include "base/failure.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvora {
namespace {

constexpr QChar kReplacement(0xFFFD);

/// Folder entries of `folderBytes` whose decoded name is `name`; the last one found in `found`.
int matchingEntries(const QByteArray& folderBytes, const QString& name, QByteArray& found) {
    DIR* dir = opendir(folderBytes.isEmpty() ? "." : folderBytes.constData());
    if (!dir) return 0;
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (QFile::decodeName(entry->d_name) == name) {
            found = entry->d_name;
            ++count;
        }
    }
    closedir(dir);
    return count;
}

QString typeReason(mode_t mode) {
    if (S_ISDIR(mode)) return QStringLiteral("is a directory, not a file");
    if (S_ISFIFO(mode)) return QStringLiteral("is a named pipe (FIFO), not a regular file");
    if (S_ISCHR(mode) || S_ISBLK(mode)) return QStringLiteral("is a device, not a regular file");
    if (S_ISSOCK(mode)) return QStringLiteral("is a socket, not a regular file");
    return QStringLiteral("is not a regular file");
}

/// Why `fileName` could not be opened, from errno of the failed open().
QString openReason(const QString& fileName, int errorNumber) {
    if (errorNumber == ENOENT && fileName.contains(kReplacement)) {
        int matches = 0;
        localFileName(fileName, &matches);
        if (matches > 1)
            return QStringLiteral("the name is not valid UTF-8 and %1 files of its folder match it")
                .arg(matches);
        return QStringLiteral("the name is not valid UTF-8 and no file of its folder matches it");
    }
    return systemReason(errorNumber);
}

/// An open descriptor of a regular, non-empty file, or -1 with the reason given.
int openInputDescriptor(const QString& fileName, const char* caller, QString* error, int64_t* size) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const int fd = ::open(localFileName(fileName).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int errorNumber = errno;
        fail(error, caller, fileName, openReason(fileName, errorNumber));
        return -1;
    }
    struct stat st {};
    QString reason;
    if (fstat(fd, &st) != 0)
        reason = systemReason(errno);
    else if (!S_ISREG(st.st_mode))
        reason = typeReason(st.st_mode);
    else if (st.st_size == 0)
        reason = QStringLiteral("is empty (0 bytes)");
    else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        reason = systemReason(errno);
    if (!reason.isEmpty()) {
        ::close(fd);
        fail(error, caller, fileName, reason);
        return -1;
    }
    if (size) *size = int64_t(st.st_size);
    return fd;
}

} // namespace

QByteArray localFileName(const QString& fileName, int* matches) {
    const QByteArray encoded = QFile::encodeName(fileName);
    if (matches) *matches = 1;
    if (!fileName.contains(kReplacement)) return encoded;
    struct stat st {};
    if (lstat(encoded.constData(), &st) == 0) return encoded; // a name that really holds U+FFFD
    const QFileInfo info(fileName);
    const QString folder = fileName.contains('/') ? info.path() : QString();
    const QByteArray folderBytes = folder.isEmpty() ? QByteArray() : localFileName(folder);
    QByteArray entry;
    const int count = matchingEntries(folderBytes, info.fileName(), entry);
    if (matches) *matches = count;
    if (count != 1) return encoded;
    return folderBytes.isEmpty() ? entry
                                 : (folderBytes.endsWith('/') ? folderBytes : folderBytes + '/') + entry;
}

fileHandle openFile(const QString& fileName, const char* mode) {
    return fileHandle(std::fopen(localFileName(fileName).constData(), mode));
}

fileHandle openInputFile(const QString& fileName, const char* caller, QString* error, int64_t* size) {
    const int fd = openInputDescriptor(fileName, caller, error, size);
    if (fd < 0) return nullptr;
    fileHandle file(fdopen(fd, "rb"));
    if (!file) {
        const int errorNumber = errno;
        ::close(fd);
        fail(error, caller, fileName, systemReason(errorNumber));
    }
    return file;
}

bool openInputFile(const QString& fileName, QFile& file, const char* caller, QString* error, int64_t* size) {
    const int fd = openInputDescriptor(fileName, caller, error, size);
    if (fd < 0) return false;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(error, caller, fileName, file.errorString());
    }
    return true;
}

bool checkInputFile(const QString& fileName, const char* caller, QString* error, int64_t* size) {
    const int fd = openInputDescriptor(fileName, caller, error, size);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

} // namespace halvora
