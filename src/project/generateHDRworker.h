#pragma once
// The HDR generation worker: created on the main thread with the run's options, moved to a thread of
// its own, where its stage slot runs. This file holds the preparation (weight tables, response
// recovery), the merge of the included photos into the project's radiance picture, the HDR preprocess
// and the LDR enhancement preprocess. Pixel loops are split with halvora::parallelFor; the worker
// only reads the photos and writes the project's radiance picture and tables.

#include "base/rgbBuffers.h"
#include "hdr/genHDR_options.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class processingProject;
namespace halvora {
struct noiseFilterOptions_t;
}

/// One merge thread: one chunk of consecutive pixels.
struct HDRgeneration_threadParams_t {
    processingProject* project = nullptr;
    double referenceLnExposure = 0;
    int32_t method = 0;
    uint8_t ghostRemoval = 0;
    uint8_t repair = 0;
    double smartMergeOffset = 0;
    int32_t firstPixel = 0;
    int32_t pixelCount = 0;
    int32_t width = 0;
    const uint16_t* pixels[32] = {};         ///< each photo's RGB samples of the chunk
    const uint16_t* smartMergeMask[32] = {}; ///< each photo's Smart Merge map of the chunk
    const uint8_t* antiGhostMask[32] = {};   ///< each photo's ghost weights of the chunk (null: none)
    float* output = nullptr;                 ///< the chunk's first output sample
    const struct mergeContext* context = nullptr;
    uint8_t mapped = 0;  ///< pixels are memory-mapped windows (prefaulted by the thread)
    double minValue = 0; ///< out
    double maxValue = 0; ///< out
};

class generateHDRworker : public QObject {
    Q_OBJECT
public:
    enum mergeMethod { trueHDR = 0, smartMerge = 1, stack = 2 };
    static constexpr int kChunkPixels = 524288;
    static constexpr int kPreviewChunkPixels = 65536;

    /// Built on the main thread; fills the project's closeness tables.
    explicit generateHDRworker(processingProject* project, QObject* parent = nullptr);

    // Options of the run (the HDR dialog's state).
    bool noiseFilterEnabled = false;
    int noiseFilterStrength = 2;
    int noiseFilterSoftness = 2;
    int method = trueHDR;
    int selectivity = 2;
    int smartMergeStrength = 1;
    bool ghostRemovalEnabled = false;
    int ghostRemovalMode = 0;
    bool repairOverUnder = true;
    bool saveHDR = false;
    QString hdrOutputFileName;
    bool preview = false;           ///< merge the in-memory previews into previewResult
    double referenceLnExposure = 0; ///< 0 for a generation

    double hdrMin = 0, hdrMax = 0;         ///< extreme channel values of the last merge
    halvora::rgbFloatBuffer previewResult; ///< the merged preview (preview mode)
    QString lastError;                     ///< why the last step failed (empty on success)

    /// Takes the run's options (an LDR enhancement takes the noise options only). Before the start.
    void setOptions(const genHDR_options& options);

    /// Weight tables of the included photos and, for True HDR, the response recovery. Worker thread.
    bool prepareWeightTables();
    /// Merges the included photos into the radiance picture (or previewResult). Worker thread.
    bool generateHDR_core();
    /// Normalises the merged picture and sets the project's lcCorrection and hdrMean. Worker thread.
    bool hdrPreprocess();
    /// Single photo: converts the first included photo into the radiance picture. Worker thread.
    bool ldrPreprocess();

    /// Project facts the noise filter needs (photo ISOs, RAW photos left unfiltered). Worker thread.
    halvora::noiseFilterOptions_t noiseOptions(bool calibrated) const;

public slots:
    /// Stage "prepare": prepareWeightTables(), then finished(ok).
    void generateHDR_prepare();
    /// Stage "generate": merge, optional HDR file, HDR preprocess, noise filter, picture levels;
    /// then finished(ok). Defined in generateHDRstages.cpp.
    void generateHDR_function();
    /// Single photo: LDR preprocess, noise filter, picture levels; then finished(ok).
    void generateLDR_function();
    /// An opened radiance file: HDR preprocess of the loaded picture, noise filter, picture levels;
    /// then finished(ok).
    void prepareRadiance_function();

signals:
    void finished(bool ok);

private:
    /// Marks the project after a new picture: present, planes to be prepared, tone mapping stale.
    void pictureReady();
    bool fail(const char* caller, const QString& message);
    bool buildSmartMergeMasks(const std::vector<int>& photos,
                              std::vector<std::unique_ptr<uint16_t[]>>& masks);
    processingProject* project_;
};
