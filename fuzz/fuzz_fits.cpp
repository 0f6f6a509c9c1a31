// libFuzzer target of the FITS reader: the input becomes an in-memory file that goes through the
// information call (with a camera record) and, when that accepts it, the load call.

#include "base/parallelFor.h"
#include "imageio/exifInfo.h"
#include "imageio/imageLoader.h"

#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>
#include <vector>

#include <sys/mman.h>

namespace {
int memoryFile = -1;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("XDG_CONFIG_HOME", "/tmp/halvora-fuzz-config", 1);
    // One thread unless HALVORA_FUZZ_THREADS asks for more (to cover the split pixel loops).
    const char* threads = getenv("HALVORA_FUZZ_THREADS");
    halvora::setThreadCountOverride(threads ? std::max(1, atoi(threads)) : 1);
    memoryFile = memfd_create("fuzz_fits", 0);
    return memoryFile < 0 ? 1 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (ftruncate(memoryFile, 0) != 0 || pwrite(memoryFile, data, size, 0) != ssize_t(size)) return 0;
    const QString path = QString("/proc/self/fd/%1").arg(memoryFile);
    int width = 0, height = 0, channels = 0, bitsPerPixel = 0;
    qint64 dataPosition = 0;
    exifInfo_t exif;
    // Every refusal must say why.
    QString error;
    if (!imageLoader::getFITSinfo(path, width, height, channels, bitsPerPixel, dataPosition, &exif, &error)) {
        if (error.isEmpty()) std::abort();
        return 0;
    }
    std::vector<uint16_t> pixels(size_t(width) * height * 3);
    if (!imageLoader::loadFITS(path, width, height, pixels.data(), &error) && error.isEmpty()) std::abort();
    return 0;
}
