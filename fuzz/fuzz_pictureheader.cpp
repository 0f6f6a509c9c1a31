// libFuzzer target: the header readers that bound the size of JPEG, PNG and BMP pictures by their
// file length before the toolkit decodes them, the PNG chunk check (layout and data) and the JPEG
// completeness scan of the load worker.

#include "base/parallelFor.h"
#include "imageio/pngChunks.h"
#include "imageio/qtImageReader.h"
#include "project/loadPhotoWorker.h"

#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include <sys/mman.h>

namespace {
int memoryFile = -1;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("XDG_CONFIG_HOME", "/tmp/halvora-fuzz-config", 1);
    halvora::setThreadCountOverride(1);
    memoryFile = memfd_create("fuzz_pictureheader", 0);
    return memoryFile < 0 ? 1 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (imageFormat format : {formatJpeg, formatPng, formatBmp}) {
        FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
        if (!file) return 0;
        const halvora::declaredPicture d = halvora::declaredQtPicture(file, format);
        std::fclose(file);
        // A known picture has a size; its floor never exceeds what its samples could take stored.
        if (d.known && (d.width <= 0 || d.height <= 0)) std::abort();
    }
    // A file whose data passes must pass its layout check too; both say why they refuse.
    for (halvora::pngCheck depth : {halvora::pngCheck::data, halvora::pngCheck::layout}) {
        FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
        if (!file) return 0;
        const QString reason = halvora::pngDamage(file, size, depth);
        std::fclose(file);
        if (depth == halvora::pngCheck::data && !reason.isEmpty()) break;
        if (depth == halvora::pngCheck::layout && !reason.isEmpty()) std::abort();
    }
    if (ftruncate(memoryFile, 0) != 0 || pwrite(memoryFile, data, size, 0) != ssize_t(size)) return 0;
    loadPhotoWorker::jpegIsComplete(QString("/proc/self/fd/%1").arg(memoryFile));
    return 0;
}
