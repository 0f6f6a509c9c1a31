// libFuzzer target of the Radiance RGBE reader: the input becomes an in-memory file that goes
// through the information call and, when that accepts it, the load call.

#include "base/parallelFor.h"
#include "imageio/imageLoader.h"

#include <QByteArray>
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
    // One thread unless HALVORA_FUZZ_THREADS asks for more (to cover the split pixel loops).
    const char* threads = getenv("HALVORA_FUZZ_THREADS");
    halvora::setThreadCountOverride(threads ? std::max(1, atoi(threads)) : 1);
    memoryFile = memfd_create("fuzz_rgbe", 0);
    return memoryFile < 0 ? 1 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (ftruncate(memoryFile, 0) != 0 || pwrite(memoryFile, data, size, 0) != ssize_t(size)) return 0;
    const QString path = QString("/proc/self/fd/%1").arg(memoryFile);
    int width = 0, height = 0;
    double primaries[8];
    bool primariesPresent = false;
    // Every refusal must say why.
    QString error;
    if (!halvora::getRGBEinfo(path, width, height, primaries, primariesPresent, &error)) {
        if (error.isEmpty()) std::abort();
        return 0;
    }
    // The information call already bounds the size by the file length; keep runs quick.
    if (int64_t(width) * height > (int64_t(1) << 22)) return 0;
    std::vector<float> pixels(size_t(width) * height * 3);
    float maximum = 0, minimum = 0;
    if (!imageLoader::loadRadianceRGBE(path, width, height, pixels.data(), maximum, minimum, &error) &&
        error.isEmpty())
        std::abort();
    return 0;
}
