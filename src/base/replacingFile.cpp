#include "base/replacingFile.h"

#include "base/failure.h"
#include "base/fileHandle.h"

#include <QFileInfo>
#include <QUuid>
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvora {
namespace {

QByteArray procPath(int fd) {
    return "/proc/self/fd/" + QByteArray::number(fd);
}

QByteArray lastComponent(const QByteArray& path) {
    return path.mid(path.lastIndexOf('/') + 1);
}

QByteArray hiddenName(const QByteArray& folder, const QByteArray& name) {
    return folder + "/." + name + "." + QUuid::createUuid().toString(QUuid::Id128).left(12).toLatin1() +
           ".part";
}

} // namespace

replacingFile::replacingFile(const QString& fileName) : fileName_(fileName) {}

replacingFile::~replacingFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && !namedTemp_.isEmpty()) ::unlink(namedTemp_.constData());
}

bool replacingFile::open(const char* caller, QString* error) {
    int matches = 0;
    finalPath_ = localFileName(fileName_, &matches);
    if (fileName_.contains(QChar(0xFFFD)) && matches != 1)
        return fail(error, caller, fileName_,
                    "the name is not valid UTF-8; the file would be saved under another name");
    const QFileInfo info(fileName_);
    folder_ = localFileName(info.absolutePath());

    // An unnamed file needs /proc to be given its name at the end.
    if (::access("/proc/self/fd", X_OK) == 0)
        fd_ = ::open(folder_.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        const int unnamedError = errno;
        if (unnamedError == ENOENT || unnamedError == EACCES || unnamedError == EROFS ||
            unnamedError == ENOSPC || unnamedError == ENOTDIR)
            return fail(error, caller, fileName_, systemReason(unnamedError));
        namedTemp_ = hiddenName(folder_, lastComponent(finalPath_));
        fd_ = ::open(namedTemp_.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            const int namedError = errno;
            namedTemp_.clear();
            return fail(error, caller, fileName_, systemReason(namedError));
        }
    }
    return true;
}

bool replacingFile::remember(int errorNumber) {
    if (writeReason_.isEmpty()) writeReason_ = systemReason(errorNumber);
    return false;
}

bool replacingFile::write(const void* data, size_t bytes) {
    if (fd_ < 0 || !writeReason_.isEmpty()) return false;
    const char* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = ::write(fd_, p, bytes);
        if (n < 0) {
            if (errno == EINTR) continue;
            return remember(errno);
        }
        if (n == 0) return remember(ENOSPC);
        p += n;
        bytes -= size_t(n);
    }
    return true;
}

bool replacingFile::writeAt(int64_t offset, const void* data, size_t bytes) {
    if (fd_ < 0 || !writeReason_.isEmpty()) return false;
    const char* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = ::pwrite(fd_, p, bytes, off_t(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return remember(errno);
        }
        if (n == 0) return remember(ENOSPC);
        p += n;
        offset += n;
        bytes -= size_t(n);
    }
    return true;
}

QByteArray replacingFile::path() const {
    return namedTemp_.isEmpty() ? procPath(fd_) : namedTemp_;
}

bool replacingFile::linkInPlace(QString& reason) {
    if (namedTemp_.isEmpty()) {
        // A new name is created in one step; an existing file is replaced through a hidden name.
        if (::linkat(AT_FDCWD, procPath(fd_).constData(), AT_FDCWD, finalPath_.constData(),
                     AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno != EEXIST) {
            reason = systemReason(errno);
            return false;
        }
        const QByteArray hidden = hiddenName(folder_, lastComponent(finalPath_));
        if (::linkat(AT_FDCWD, procPath(fd_).constData(), AT_FDCWD, hidden.constData(), AT_SYMLINK_FOLLOW) !=
            0) {
            reason = systemReason(errno);
            return false;
        }
        namedTemp_ = hidden;
    }
    if (std::rename(namedTemp_.constData(), finalPath_.constData()) != 0) {
        reason = systemReason(errno);
        return false;
    }
    namedTemp_.clear();
    return true;
}

bool replacingFile::commit(const char* caller, QString* error) {
    if (fd_ < 0) return fail(error, caller, fileName_, "the file was not opened");
    if (!writeReason_.isEmpty()) return fail(error, caller, fileName_, writeReason_);
    // Delayed allocation reports a full disk only when the data reach it.
    if (::fdatasync(fd_) != 0 && errno != EINVAL) return fail(error, caller, fileName_, systemReason(errno));
    QString reason;
    if (!linkInPlace(reason)) return fail(error, caller, fileName_, reason);
    committed_ = true;
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) return fail(error, caller, fileName_, systemReason(errno));
    return true;
}

} // namespace halvora
