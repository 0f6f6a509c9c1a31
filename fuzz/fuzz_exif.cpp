// libFuzzer target: the EXIF reader — the JPEG section walk and, on the same bytes, the TIFF
// directory walker.

#include "imageio/exifReader.h"

#include <QString>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    exifInfo_t jpeg;
    QString error;
    // A walk that ends without the picture data must say why.
    if (!halvora::readJpegExifFromMemory(data, size, jpeg, &error) && error.isEmpty()) std::abort();
    exifInfo_t tiff;
    halvora::processExifStart(data, size, tiff);
    return 0;
}
