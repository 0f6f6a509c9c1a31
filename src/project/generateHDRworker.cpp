#include "project/generateHDRworker.h"

#include "base/debugLog.h"
#include "base/parallelFor.h"
#include "base/runContext.h"
#include "hdr/exposureMerge.h"
#include "hdr/hdrPreprocess.h"
#include "hdr/mergeWeights.h"
#include "hdr/responseCurve.h"
#include "hdr/smartMergeMask.h"
#include "project/processingProject.h"
#include "project/responseRecovery.h"

#include <algorithm>
#include <cmath>
#include <limits>

using halvora::kSampleTableSize;

namespace {

constexpr int kMaxSample = kSampleTableSize - 1;
static_assert(int(generateHDRworker::trueHDR) == halvora::mergeTrueHDR &&
              int(generateHDRworker::smartMerge) == halvora::mergeSmartMerge &&
              int(generateHDRworker::stack) == halvora::mergeStack);
// The merge's steps report under the name of the step that runs them.
constexpr const char* kCoreCaller = "generateHDRworker::generateHDR_core";

// Keeps a mapped window of a temporary file and unmaps it when done.
struct mappedWindow {
    tempFileRecord* file = nullptr;
    const uint8_t* address = nullptr;
    mappedWindow() = default;
    mappedWindow(const mappedWindow&) = delete;
    mappedWindow& operator=(const mappedWindow&) = delete;
    ~mappedWindow() {
        if (file && address) file->unmap(address);
    }
    const uint8_t* map(tempFileRecord* f, qint64 offset, qint64 bytes) {
        file = f;
        address = f ? f->map(offset, bytes) : nullptr;
        return address;
    }
};

std::vector<int> includedPhotos(const processingProject& project) {
    std::vector<int> list;
    for (size_t i = 0; i < project.photos.size(); ++i)
        if (project.photos[i]->included) list.push_back(int(i));
    return list;
}

// Points a chunk's record at every photo's samples (and ghost weights and Smart Merge map) of its
// pixels: the previews in memory, or windows of the photos' temporary files, which `windows` keeps
// mapped until the chunk is merged. False with the reason in `error` when a window cannot be mapped.
bool pointChunkAtPhotos(processingProject& pr, bool preview, const std::vector<int>& photos,
                        const std::vector<std::unique_ptr<uint16_t[]>>& smartMasks,
                        halvora::HDRgeneration_threadParams_t& p,
                        std::vector<std::unique_ptr<mappedWindow>>& windows, QString& error) {
    const int64_t first = p.firstPixel, count = p.pixelCount;
    for (int n = 0; n < p.inputs->photoCount; ++n) {
        photoEntry& photo = *pr.photos[size_t(photos[size_t(n)])];
        if (preview) {
            p.pixels[n] = photo.preview.pixels() + first * 3;
            if (p.inputs->ghostRemoval && photo.previewPlane)
                p.antiGhostMask[n] = photo.previewPlane.get() + first;
        } else {
            windows.push_back(std::make_unique<mappedWindow>());
            p.pixels[n] = reinterpret_cast<const uint16_t*>(
                windows.back()->map(photo.tempFiles[photoEntry::slotCurrent].get(), first * 6, count * 6));
            if (!p.pixels[n]) {
                debugLog("Mapping failed #1!\n");
                error = QString("Cannot map the temporary file of photo %1.").arg(photos[size_t(n)]);
                return false;
            }
            tempFileRecord* ghostFile = photo.tempFiles[photoEntry::slotGhostMap].get();
            if (p.inputs->ghostRemoval && ghostFile) {
                windows.push_back(std::make_unique<mappedWindow>());
                p.antiGhostMask[n] = windows.back()->map(ghostFile, first, count);
                if (!p.antiGhostMask[n]) {
                    debugLog("Mapping failed #2!\n");
                    error = QString("Cannot map the ghost map of photo %1.").arg(photos[size_t(n)]);
                    return false;
                }
            }
        }
        if (p.inputs->method == halvora::mergeSmartMerge)
            p.smartMergeMask[n] = smartMasks[size_t(n)].get() + first;
    }
    return true;
}

} // namespace

generateHDRworker::generateHDRworker(processingProject* project, QObject* parent)
    : QObject(parent), project_(project) {
    if (project_) {
        halvora::ensureClosenessTables(*project_);
        halvora::ensureStandardCurve(*project_);
    }
}

bool generateHDRworker::fail(const char* caller, const QString& message) {
    lastError = message;
    debugLog("%s: %s\n", caller, message.toLocal8Bit().constData());
    return false;
}

void generateHDRworker::setOptions(const genHDR_options& o) {
    noiseFilterEnabled = o.noiseFilter;
    noiseFilterStrength = o.noiseStrength;
    noiseFilterSoftness = o.noiseSoftness;
    if (o.ldrEnhancement) return;
    method = o.method;
    selectivity = o.selectivity;
    smartMergeStrength = o.smartMergeStrength;
    ghostRemovalEnabled = o.ghostRemoval;
    ghostRemovalMode = o.ghostRemovalMode;
    repairOverUnder = o.repairOverUnder;
    saveHDR = o.saveHDR && !o.hdrFileName.isEmpty();
    hdrOutputFileName = o.hdrFileName;
}

void generateHDRworker::generateHDR_prepare() {
    emit finished(prepareWeightTables());
}

bool generateHDRworker::prepareWeightTables() {
    const char* const caller = "generateHDRworker::generateHDR_prepare";
    lastError.clear();
    debugLog("Preparing to HDR generation...\n");
    if (!project_) return fail(caller, "No project.");
    processingProject& pr = *project_;
    if (method < trueHDR || method > stack)
        return fail(caller, QString("Unknown HDR method %1.").arg(method));
    std::vector<int> order = includedPhotos(pr);
    if (order.empty()) return fail(caller, "No photos are selected for HDR generation.");
    if (order.size() > size_t(processingProject::kMaxPhotos)) return fail(caller, "Too many images!");
    if (method == stack) return true;
    // Brightest exposure first.
    std::stable_sort(order.begin(), order.end(),
                     [&pr](int a, int b) { return pr.photos[size_t(a)]->ev > pr.photos[size_t(b)]->ev; });
    for (int i : order) {
        auto& table = pr.photos[size_t(i)]->weightTable;
        if (!table) table = halvora::allocateBlock<double>(kSampleTableSize);
        if (!table) return fail(caller, "Not enough memory!");
    }

    if (method == trueHDR) {
        int shape = selectivity;
        if (shape < halvora::selectivityNone || shape > halvora::selectivityBestExposed) {
            debugLog("%s: unknown selectivity %d, using \"Balanced\"\n", caller, selectivity);
            shape = halvora::selectivityBalanced;
        }
        const double D = (pr.lnEvMax - pr.lnEvMin) / std::log(2.0);
        const double N = double(pr.photos.size());
        double p = std::min(0.5, 0.04 * D * D / N);
        if (shape == halvora::selectivityCutOff || !std::isfinite(p)) p = 0;
        const double q = 0.2;
        pr.weightTable.resize(kSampleTableSize);
        halvora::buildSelectivityTable(halvora::selectivityBalanced, 0.0, 0.0, pr.weightTable.data());
        for (int i : order)
            halvora::buildSelectivityTable(shape, p, q, pr.photos[size_t(i)]->weightTable.get());
        std::fill_n(pr.photos[size_t(order.front())]->weightTable.get(), 16320, 1.0);
        std::fill_n(pr.photos[size_t(order.back())]->weightTable.get() + 16320, kSampleTableSize - 16320,
                    1.0);
    } else {
        double evHigh = pr.photos[size_t(order.front())]->ev, evLow = evHigh;
        for (int i : order) {
            evHigh = std::max(evHigh, pr.photos[size_t(i)]->ev);
            evLow = std::min(evLow, pr.photos[size_t(i)]->ev);
        }
        for (int i : order)
            halvora::buildSmartMergeTable(pr.photos[size_t(i)]->ev, evLow, evHigh,
                                          pr.photos[size_t(i)]->weightTable.get());
    }
    for (int i : order) {
        photoEntry& photo = *pr.photos[size_t(i)];
        halvora::weightLimits(photo.weightTable.get(), photo.lowLimit, photo.highLimit);
    }
    if (method == trueHDR) halvora::recoverResponseCurve(pr);
    return !halvora::cancelRequested();
}

bool generateHDRworker::buildSmartMergeMasks(const std::vector<int>& photos,
                                             std::vector<std::unique_ptr<uint16_t[]>>& masks) {
    const char* const caller = kCoreCaller;
    processingProject& pr = *project_;
    const int W = preview ? pr.previewWidth : pr.width, H = preview ? pr.previewHeight : pr.height;
    const size_t area = size_t(W) * size_t(H);
    const halvora::smartMergeKernel kernel = halvora::makeSmartMergeKernel(W, H);
    auto scratch = halvora::allocateBlock<uint16_t>(area);
    masks.clear();
    for (size_t n = 0; n < photos.size(); ++n) {
        masks.push_back(halvora::allocateBlock<uint16_t>(area));
        if (!masks.back() || !scratch) {
            debugLog("%s: Failed to allocate memory for Smart Merge mask #%d.\n", caller, int(n));
            lastError = "Not enough memory!";
            return false;
        }
        photoEntry& photo = *pr.photos[size_t(photos[n])];
        uint16_t* mask = masks.back().get();
        const int64_t run = 262144;
        for (int64_t first = 0; first < int64_t(area); first += run) {
            const int64_t count = std::min<int64_t>(run, int64_t(area) - first);
            mappedWindow window;
            const uint16_t* src = nullptr;
            if (preview)
                src = photo.preview.pixels() + first * 3;
            else
                src = reinterpret_cast<const uint16_t*>(
                    window.map(photo.tempFiles[photoEntry::slotCurrent].get(), first * 6, count * 6));
            if (!src) {
                debugLog("Mapping failed #1!\n");
                return fail(caller, QString("Cannot read the temporary file of photo %1.").arg(photos[n]));
            }
            halvora::parallelFor(count, [&](int, int64_t a, int64_t b) {
                for (int64_t i = a; i < b; ++i)
                    mask[first + i] = halvora::smartMergeLuminance(src + i * 3);
            });
        }
        halvora::smartMergeFilter(mask, scratch.get(), W, H, kernel);
        if (halvora::cancelRequested()) return fail(caller, "Aborted.");
    }
    return true;
}

bool generateHDRworker::generateHDR_core() {
    const char* const caller = kCoreCaller;
    lastError.clear();
    hdrMin = hdrMax = 0;
    if (!preview) debugLog("Generate HDR...\n");
    if (!project_) return fail(caller, "No project.");
    processingProject& pr = *project_;
    if (method < trueHDR || method > stack)
        return fail(caller, QString("Unknown HDR method %1.").arg(method));
    const std::vector<int> photos = includedPhotos(pr);
    if (photos.empty()) return fail(caller, "No photos are selected for HDR generation.");
    if (photos.size() > size_t(processingProject::kMaxPhotos)) return fail(caller, "Too many images!");

    const int W = preview ? pr.previewWidth : pr.width, H = preview ? pr.previewHeight : pr.height;
    const int64_t area = int64_t(W) * int64_t(H);
    if (W <= 0 || H <= 0 || area > std::numeric_limits<int32_t>::max())
        return fail(caller, QString("Invalid picture size %1 x %2.").arg(W).arg(H));
    if (!checkMergeSources(photos, W, H)) return false;
    float* output = mergeTarget(W, H);
    if (!output) return false;
    halvora::exposureMergeInputs_t inputs;
    if (!gatherMergeInputs(photos, inputs)) return false;
    std::vector<std::unique_ptr<uint16_t[]>> smartMasks;
    if (method == smartMerge && !buildSmartMergeMasks(photos, smartMasks)) return false;
    return mergeChunks(photos, inputs, smartMasks, output, W, H);
}

bool generateHDRworker::checkMergeSources(const std::vector<int>& photos, int W, int H) {
    const char* const caller = kCoreCaller;
    const processingProject& pr = *project_;
    const int64_t area = int64_t(W) * int64_t(H);
    const bool ghosts = ghostRemovalEnabled && method == trueHDR;
    // Every photo's samples must be there before the first pixel is written.
    for (int i : photos) {
        const photoEntry& photo = *pr.photos[size_t(i)];
        if (preview) {
            if (photo.preview.empty() || photo.preview.width != W || photo.preview.height != H)
                return fail(caller, QString("Photo %1 has no preview.").arg(i));
        } else {
            tempFileRecord* file = photo.tempFiles[photoEntry::slotCurrent].get();
            if (!file || !file->isOpen()) {
                debugLog("tfInput=NULL\n");
                return fail(caller, QString("The temporary file of photo %1 is missing.").arg(i));
            }
            if (file->size() != area * 6)
                return fail(caller, QString("The temporary file of photo %1 has %2 bytes instead of %3.")
                                        .arg(i)
                                        .arg(file->size())
                                        .arg(area * 6));
            tempFileRecord* ghostFile = photo.tempFiles[photoEntry::slotGhostMap].get();
            if (ghosts && !ghostFile) debugLog("tfAGmask=NULL\n");
            if (ghosts && ghostFile && ghostFile->size() != area)
                return fail(caller, QString("The ghost map of photo %1 has %2 bytes instead of %3.")
                                        .arg(i)
                                        .arg(ghostFile->size())
                                        .arg(area));
        }
        if (method != stack && !photo.weightTable)
            return fail(caller,
                        QString("Photo %1 has no weight table (generation was not prepared).").arg(i));
    }
    return true;
}

float* generateHDRworker::mergeTarget(int W, int H) {
    const char* const caller = kCoreCaller;
    processingProject& pr = *project_;
    if (preview) {
        if (!previewResult.allocate(W, H)) {
            fail(caller, "Not enough memory!");
            return nullptr;
        }
        return previewResult.pixels();
    }
    if (!pr.rgbFloatBuffer() || pr.hdrImage.width() != W || pr.hdrImage.height() != H) {
        fail(caller, "The radiance picture is not allocated for the image size.");
        return nullptr;
    }
    return pr.rgbFloatBuffer();
}

bool generateHDRworker::gatherMergeInputs(const std::vector<int>& photos,
                                          halvora::exposureMergeInputs_t& in) {
    static_assert(processingProject::kMaxPhotos <= halvora::kMaxMergePhotos);
    const char* const caller = kCoreCaller;
    processingProject& pr = *project_;
    in.method = method;
    in.photoCount = int32_t(photos.size());
    in.ghostRemoval = ghostRemovalEnabled && method == trueHDR;
    in.repair = repairOverUnder;
    in.smartMergeOffset = (5 - std::clamp(smartMergeStrength, 0, 5)) / 10.0;
    halvora::ensureClosenessTables(pr);
    halvora::ensureProjectWeightTable(pr);
    halvora::ensureStandardCurve(pr);
    in.closenessBright = pr.closenessTableBright.data();
    in.closenessDark = pr.closenessTableDark.data();
    in.inconsistencyWeight = pr.weightTable.data();
    bool curveReady = true;
    for (const auto& table : pr.responseCurve)
        curveReady = curveReady && table.size() == size_t(kSampleTableSize);
    for (int ch = 0; ch < 3; ++ch)
        in.responseCurve[ch] = curveReady ? pr.responseCurve[size_t(ch)].data() : pr.standardCurve.data();
    if (method == trueHDR && !curveReady)
        debugLog("%s: no recovered response curve, using the standard curve\n", caller);
    for (int n = 0; n < in.photoCount; ++n) {
        const photoEntry& photo = *pr.photos[size_t(photos[size_t(n)])];
        in.weightTable[n] = photo.weightTable.get();
        in.invExposure[n] = 1.0 / std::exp(photo.lnExposure - referenceLnExposure + photo.exposureCorrection);
        in.lnExposure[n] = photo.lnExposure;
        in.ghostExposure[n] = std::exp(photo.lnExposure - pr.lnEvMin + photo.exposureCorrection);
        in.lowLimit[n] = photo.lowLimit;
        in.highLimit[n] = photo.highLimit;
        if (!std::isfinite(in.invExposure[n]) || !std::isfinite(in.ghostExposure[n]))
            return fail(caller, QString("Photo %1 has an unusable exposure value.").arg(photos[size_t(n)]));
    }
    return true;
}

bool generateHDRworker::mergeChunks(const std::vector<int>& photos,
                                    const halvora::exposureMergeInputs_t& inputs,
                                    const std::vector<std::unique_ptr<uint16_t[]>>& smartMasks, float* output,
                                    int W, int H) {
    const char* const caller = kCoreCaller;
    processingProject& pr = *project_;
    const int64_t area = int64_t(W) * int64_t(H);
    const auto clearOutput = [&] {
        // Never leave a half-merged picture behind.
        std::fill_n(output, size_t(area) * 3, 0.0f);
        hdrMin = hdrMax = 0;
    };
    const int64_t chunk = preview ? kPreviewChunkPixels : kChunkPixels;
    const int64_t chunks = (area + chunk - 1) / chunk;
    // As many chunks at a time as the run has threads, one each: memory holds one mapped chunk per
    // thread and photo.
    const int64_t batch = halvora::usableThreadCount();
    double lo = 9000000000.0, hi = 0;
    for (int64_t firstChunk = 0; firstChunk < chunks; firstChunk += batch) {
        const int64_t count = std::min(batch, chunks - firstChunk);
        std::vector<std::unique_ptr<mappedWindow>> windows;
        bool mapped = true;
        QString mapError;
        const auto parts = halvora::parallelRecords<halvora::HDRgeneration_threadParams_t>(
            count,
            [&](int, int64_t begin, int64_t end) {
                const int64_t first = (firstChunk + begin) * chunk;
                halvora::HDRgeneration_threadParams_t p;
                p.inputs = &inputs;
                p.firstPixel = int32_t(first);
                p.pixelCount = int32_t(std::min((end - begin) * chunk, area - first));
                p.width = W;
                p.output = output + first * 3;
                p.mapped = !preview;
                mapped = mapped && pointChunkAtPhotos(pr, preview, photos, smartMasks, p, windows, mapError);
                return p;
            },
            [&mapped](halvora::HDRgeneration_threadParams_t& p) {
                if (mapped) halvora::HDRgeneration(p);
            },
            int(count));
        windows.clear();
        if (!mapped) {
            clearOutput();
            return fail(caller, mapError);
        }
        for (const auto& p : parts) {
            lo = std::min(lo, p.minValue);
            hi = std::max(hi, p.maxValue);
        }
        if (halvora::cancelRequested()) {
            clearOutput();
            return fail(caller, "Aborted.");
        }
    }
    hdrMin = lo;
    hdrMax = hi;
    return true;
}

bool generateHDRworker::hdrPreprocess() {
    lastError.clear();
    if (!project_ || !project_->rgbFloatBuffer())
        return fail("generateHDRworker::hdrPreprocess", "The radiance picture is not allocated.");
    processingProject& pr = *project_;
    double lo = hdrMin, hi = hdrMax;
    if (!(hi - lo > 1e-6 * std::fabs(hi))) {
        // A uniform merge (every photo white, or black, or a blank wall) has no range of its own; it
        // is placed against the brightest value the photos could have recorded, so white stays
        // white and black stays black.
        double fullScale = 32639.0;
        if (method == trueHDR) {
            fullScale = 0;
            for (auto& photo : pr.photos)
                if (photo->included && pr.responseCurve[0].size() == size_t(kSampleTableSize))
                    for (int ch = 0; ch < 3; ++ch)
                        fullScale = std::max(fullScale, pr.responseCurve[size_t(ch)][kMaxSample] /
                                                            std::exp(photo->lnExposure - referenceLnExposure +
                                                                     photo->exposureCorrection));
        }
        lo = 0;
        hi = std::max(hi, fullScale);
        debugLog("%s: uniform picture (hdrMin=%g, hdrMax=%g), normalising by %g\n",
                 "generateHDRworker::hdrPreprocess", hdrMin, hdrMax, hi);
    }
    const halvora::hdrStatistics s = halvora::applyGammaHDR(
        pr.rgbFloatBuffer(), size_t(pr.hdrImage.width()) * size_t(pr.hdrImage.height()), method, lo, hi);
    pr.lcCorrection = s.lcCorrection;
    pr.hdrMean = s.hdrMean;
    return true;
}

bool generateHDRworker::ldrPreprocess() {
    const char* const caller = "generateHDRworker::ldrPreprocess";
    lastError.clear();
    debugLog("LDR preprocess...\n");
    if (!project_) return fail(caller, "No project.");
    processingProject& pr = *project_;
    const std::vector<int> photos = includedPhotos(pr);
    if (photos.empty()) return fail(caller, "No photo is selected.");
    photoEntry& photo = *pr.photos[size_t(photos.front())];
    const int64_t area = int64_t(pr.width) * int64_t(pr.height);
    float* output = pr.rgbFloatBuffer();
    if (!output || area <= 0 || pr.hdrImage.width() != pr.width || pr.hdrImage.height() != pr.height)
        return fail(caller, "The radiance picture is not allocated for the image size.");
    tempFileRecord* file = photo.tempFiles[photoEntry::slotCurrent].get();
    if (!file || file->size() != area * 6) {
        debugLog("tfInput=NULL\n");
        return fail(caller, "The temporary file of the photo is missing or has the wrong size.");
    }
    for (int64_t first = 0; first < area; first += kChunkPixels) {
        const int64_t count = std::min<int64_t>(kChunkPixels, area - first);
        mappedWindow window;
        const auto* src = reinterpret_cast<const uint16_t*>(window.map(file, first * 6, count * 6));
        if (!src) {
            debugLog("Mapping failed #1!\n");
            std::fill_n(output, size_t(area) * 3, 0.0f);
            return fail(caller, "Cannot map the temporary file of the photo.");
        }
        halvora::LDRenhancementPreprocess(src, output + first * 3, size_t(count) * 3);
    }
    pr.lcCorrection = 1.0;
    pr.hdrMean = 0.4;
    return true;
}
