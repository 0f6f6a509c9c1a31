// libFuzzer target of the OpenEXR reader: the input becomes an in-memory file that goes through the
// information call and, when that accepts it, the load call.

#include "base/parallelFor.h"
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
    // Settings reads (log level, core count) must not touch the user's configuration.
    setenv("XDG_CONFIG_HOME", "/tmp/halvora-fuzz-config", 1);
    const char* threads = getenv("HALVORA_FUZZ_THREADS");
    halvora::setThreadCountOverride(threads ? std::max(1, atoi(threads)) : 1);
    memoryFile = memfd_create("fuzz_exr", 0);
    return memoryFile < 0 ? 1 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (ftruncate(memoryFile, 0) != 0 || pwrite(memoryFile, data, size, 0) != ssize_t(size)) return 0;
    const QString path = QString("/proc/self/fd/%1").arg(memoryFile);
    int width = 0, height = 0;
    // Every refusal must say why.
    QString error;
    if (!halvora::getEXRinfo(path, width, height, &error)) {
        if (error.isEmpty()) std::abort();
        return 0;
    }
    if (width <= 0 || height <= 0) std::abort();
    // Large pictures are decoded by the library at a few per second: the header path covers them.
    if (int64_t(width) * height > (int64_t(1) << 16)) return 0;
    std::vector<float> pixels(size_t(width) * height * 3);
    float minimum = 0, maximum = 0;
    if (!halvora::loadEXR(path, width, height, pixels.data(), minimum, maximum, &error) && error.isEmpty())
        std::abort();
    return 0;
}
