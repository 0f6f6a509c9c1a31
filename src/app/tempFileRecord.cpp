#include "app/tempFileRecord.h"

#include "app/debugLog.h"

tempFileRecord::tempFileRecord(const QString& directory) : file_(directory + "XXXXXX") {
    file_.setAutoRemove(true);
    file_.open();
}

bool tempFileRecord::write(const void* data, size_t bytes, const char* caller) {
    if (!file_.isOpen() || !file_.seek(0)) {
        debugLog("%s: file not open\n", caller);
        return false;
    }
    const qint64 written = file_.write(static_cast<const char*>(data), qint64(bytes));
    if (written != qint64(bytes) || !file_.flush()) {
        debugLog("%s: write() failed (size=%lld/%lld)\n", caller, (long long)written, (long long)bytes);
        return false;
    }
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
    if (!file_.isOpen() || offset < 0 || bytes <= 0 || offset + bytes > file_.size())
        return nullptr;
    return file_.map(offset, bytes, QFileDevice::NoOptions);
}

void tempFileRecord::unmap(const uint8_t* address) {
    if (address)
        file_.unmap(const_cast<uint8_t*>(address));
}
