#include "base/tempFileRecord.h"

#include "base/debugLog.h"
#include "base/hugePageBlock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr size_t kDirectAlign = 4096;
constexpr size_t kDirectChunk = size_t(8) << 20;

// Writes the 4 KiB-aligned front of `data` past the page cache: the scratch data is read back much
// later (or never), and filling the cache with it costs more than writing it. Returns the bytes
// written (0 when the file system refuses direct writes); the caller writes the rest normally.
size_t writeDirect(int fd, const void* data, size_t bytes) {
    const size_t aligned = bytes / kDirectAlign * kDirectAlign;
    if (fd < 0 || aligned < kDirectChunk) return 0;
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_DIRECT) != 0) return 0;
    // Direct transfers need an aligned source: copy through a bounce block.
    halvora::hugePageBlock bounce(kDirectChunk);
    size_t done = 0;
    while (bounce && done < aligned) {
        const size_t n = std::min(kDirectChunk, aligned - done);
        std::memcpy(bounce.data(), static_cast<const char*>(data) + done, n);
        const ssize_t w = pwrite(fd, bounce.data(), n, off_t(done));
        if (w != ssize_t(n)) break;
        done += n;
    }
    fcntl(fd, F_SETFL, flags);
    return done;
}

} // namespace

tempFileRecord::tempFileRecord(const QString& directory) : file_(directory + "XXXXXX") {
    file_.setAutoRemove(true);
    file_.open();
}

bool tempFileRecord::write(const void* data, size_t bytes, const char* caller) {
    if (!file_.isOpen() || !file_.seek(0)) {
        debugLog("%s: file not open\n", caller);
        return false;
    }
    const size_t direct = writeDirect(file_.handle(), data, bytes);
    if (direct > 0 && !file_.seek(qint64(direct))) {
        debugLog("%s: write() failed (size=%lld/%lld)\n", caller, (long long)direct, (long long)bytes);
        return false;
    }
    const qint64 rest = file_.write(static_cast<const char*>(data) + direct, qint64(bytes - direct));
    const qint64 written = qint64(direct) + rest;
    if (rest < 0 || written != qint64(bytes) || !file_.flush() || !file_.resize(qint64(bytes))) {
        debugLog("%s: write() failed (size=%lld/%lld)\n", caller, (long long)written, (long long)bytes);
        return false;
    }
    return true;
}

bool tempFileRecord::append(const void* data, size_t bytes, const char* caller) {
    if (!file_.isOpen()) {
        debugLog("%s: file not open\n", caller);
        return false;
    }
    if (!pending_) {
        pending_ = halvora::hugePageBlock(kDirectChunk);
        if (!pending_) return false;
    }
    const char* in = static_cast<const char*>(data);
    while (bytes > 0) {
        const size_t n = std::min(bytes, kDirectChunk - pendingFill_);
        std::memcpy(pending_.data() + pendingFill_, in, n);
        pendingFill_ += n;
        in += n;
        bytes -= n;
        if (pendingFill_ == kDirectChunk && !flushPending(false, caller)) return false;
    }
    return true;
}

bool tempFileRecord::finish(size_t totalBytes, const char* caller) {
    const bool ok = file_.isOpen() && flushPending(true, caller);
    pending_ = halvora::hugePageBlock();
    if (!ok || appended_ != totalBytes || file_.size() != qint64(totalBytes)) {
        debugLog("%s: write() failed (size=%lld/%lld)\n", caller, (long long)appended_,
                 (long long)totalBytes);
        return false;
    }
    return file_.seek(0);
}

bool tempFileRecord::flushPending(bool last, const char* caller) {
    const int fd = file_.handle();
    size_t done = 0;
    // Whole 4 KiB blocks past the page cache where the file system allows it; the tail normally.
    const size_t aligned = pendingFill_ / kDirectAlign * kDirectAlign;
    const int flags = fcntl(fd, F_GETFL);
    if (aligned > 0 && flags >= 0 && appended_ % kDirectAlign == 0 &&
        fcntl(fd, F_SETFL, flags | O_DIRECT) == 0) {
        const ssize_t w = pwrite(fd, pending_.data(), aligned, off_t(appended_));
        fcntl(fd, F_SETFL, flags);
        if (w > 0) done = size_t(w);
    }
    while (done < pendingFill_ && (last || done < aligned)) {
        const ssize_t w = pwrite(fd, pending_.data() + done, pendingFill_ - done, off_t(appended_ + done));
        if (w <= 0) {
            if (w < 0 && errno == EINTR) continue;
            debugLog("%s: write() failed (size=%lld/%lld)\n", caller, (long long)(appended_ + done),
                     (long long)(appended_ + pendingFill_));
            return false;
        }
        done += size_t(w);
    }
    appended_ += done;
    std::memmove(pending_.data(), pending_.data() + done, pendingFill_ - done);
    pendingFill_ -= done;
    return true;
}

bool tempFileRecord::read(void* data, size_t bytes, const char* caller) {
    if (!file_.isOpen() || !file_.seek(0)) {
        debugLog("%s: file not open\n", caller);
        return false;
    }
    const qint64 got = file_.read(static_cast<char*>(data), qint64(bytes));
    if (got != qint64(bytes)) {
        debugLog("%s: read() failed (size=%lld/%lld)\n", caller, (long long)got, (long long)bytes);
        return false;
    }
    return true;
}

const uint8_t* tempFileRecord::map(qint64 offset, qint64 bytes) {
    if (!file_.isOpen() || offset < 0 || bytes <= 0 || offset + bytes > file_.size()) return nullptr;
    return file_.map(offset, bytes, QFileDevice::NoOptions);
}

void tempFileRecord::unmap(const uint8_t* address) {
    if (address) file_.unmap(const_cast<uint8_t*>(address));
}
