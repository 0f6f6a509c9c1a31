#pragma once
// The HDR generation worker: created on the main thread with the run's options, moved to a thread of
// its own, where its stage slot runs. This file holds the preparation (weight tables, response
// recovery), the merge of the included photos into the project's radiance picture, the HDR preprocess
// and the LDR enhancement preprocess. The worker gathers what the kernels of src/hdr need from the
// project, maps the photos' temporary files chunk by chunk and runs the kernels on the thread pool;
// it only reads the photos and writes the project's radiance picture and tables.

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
struct exposureMergeInputs_t;
} // namespace halvora

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
    // The steps of generateHDR_core.
    /// Every included photo's samples (preview or temporary file), ghost map and weight table are there.
    bool checkMergeSources(const std::vector<int>& photos, int width, int height);
    /// The picture the merge writes: previewResult (allocated here) or the project's radiance picture.
    float* mergeTarget(int width, int height);
    /// The shared inputs of the merge kernel: method, per-photo tables and exposures, curves.
    bool gatherMergeInputs(const std::vector<int>& photos, halvora::exposureMergeInputs_t& inputs);
    bool buildSmartMergeMasks(const std::vector<int>& photos,
                              std::vector<std::unique_ptr<uint16_t[]>>& masks);
    /// Maps the photos chunk by chunk and merges the chunks on the thread pool; sets hdrMin and hdrMax.
    bool mergeChunks(const std::vector<int>& photos, const halvora::exposureMergeInputs_t& inputs,
                     const std::vector<std::unique_ptr<uint16_t[]>>& smartMasks, float* output, int width,
                     int height);
    processingProject* project_;
};
