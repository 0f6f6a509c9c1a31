// libFuzzer target: the EXIF reader — the JPEG section walk and, on the same bytes, the TIFF
// directory walker.

#include "imageio/exifReader.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    exifInfo_t jpeg;
    readJpegExifFromMemory(data, size, jpeg, nullptr);
    exifInfo_t tiff;
    processExifStart(data, size, tiff);
    return 0;
}
