#pragma once
// Per-photo camera record filled by the EXIF reader (JPEG and TIFF) or the metadata tool, and the
// TIFF structure fields the TIFF reader uses. Zeroed (clear()) before each read.

#include <cstdint>
#include <vector>

struct exifInfo_t {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bitsPerSample = 0;
    int32_t compression = 0;
    int32_t samplesPerPixel = 0;
    int32_t rowsPerStrip = 0;
    int32_t predictor = 0;
    int32_t stripCount = 0;
    int32_t sampleFormat = 0; ///< SampleFormat (0x0153), first value: 1 unsigned, 2 signed, 3 float; 0 absent
    int32_t photometric = -1; ///< PhotometricInterpretation (0x0106); -1 absent
    int32_t planarConfig = 0; ///< PlanarConfiguration (0x011C); 0 absent
    bool tiled = false;       ///< TileWidth (0x0142) present: the picture is stored in tiles
    std::vector<uint32_t> stripOffsets;
    std::vector<uint32_t> stripByteCounts;
    bool bigEndian = false;
    uint64_t largestOffset = 0;
    char cameraMake[32] = {};
    char cameraModel[40] = {};
    char dateTime[32] = {};
    float fNumber = 0;
    float focalLength = 0;
    float exposureTime = 0;
    uint32_t exposureTimeNum = 0;
    uint32_t exposureTimeDen = 0;
    float exposureBias = 0;
    int32_t orientation = 0;
    int32_t whiteBalance = 0;
    int32_t exposureMode = 0;
    int32_t meteringMode = 0;
    int32_t lightSource = 0;
    int32_t exposureProgram = 0;
    int32_t iso = 0;
    float focalLength35mm = 0;
    float sensorWidth = 0;
    float focalPlaneUnit = 0;
    float focalPlaneXResolution = 0;
    int32_t exifImageWidth = 0;

    void clear() { *this = exifInfo_t{}; }
};
