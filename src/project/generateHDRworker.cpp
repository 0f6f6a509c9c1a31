#include "project/generateHDRworker.h"

#include "base/debugLog.h"
#include "base/parallelFor.h"
#include "base/runContext.h"
#include "hdr/hdrPreprocess.h"
#include "hdr/mergeWeights.h"
#include "hdr/responseCurve.h"
#include "hdr/smartMergeMask.h"
#include "project/processingProject.h"
#include "project/responseRecovery.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <sys/mman.h>
#include <unistd.h>

using halvora::kSampleTableSize;

/// Per-photo values every merge thread reads; built once per merge.
struct mergeContext {
    int count = 0;
    const double* weight[32] = {};
    double invX[32] = {}; ///< 1 / exp(lnExposure − reference + exposureCorrection)
    double lnExposure[32] = {};
    double ghostExposure[32] = {}; ///< exp(lnExposure − ln 2 × evMin + exposureCorrection)
    uint16_t lowLimit[32] = {};
    uint16_t highLimit[32] = {};
    const double* curve[3] = {};
    const double* closenessBright = nullptr;
    const double* closenessDark = nullptr;
    const double* projectWeight = nullptr;
};

namespace {

constexpr int kMaxSample = kSampleTableSize - 1;

inline float finiteSample(double v) {
    return float(std::min(v, double(FLT_MAX)));
}

// Row bookkeeping shared by the three loops: progress every `width` pixels, abort at a row start.
struct rowCounter {
    int left = 0;
    bool step(int width) {
        if (left == 0) {
            halvora::addProgress(10);
            left = width;
            if (halvora::cancelRequested()) return false;
        }
        --left;
        return true;
    }
};

inline void store(float* out, const double c[3], double& lo, double& hi) {
    for (int ch = 0; ch < 3; ++ch) {
        const float v = finiteSample(c[ch]);
        out[ch] = v;
        lo = std::min(lo, double(v));
        hi = std::max(hi, double(v));
    }
}

// Blend with the anti-ghosting weights mᵢ: photos chosen for a ghost region replace the normal mean.
// Returns false (sum untouched) when no photo has a mask byte here; otherwise sum is to be divided by 255.
bool ghostBlend(const HDRgeneration_threadParams_t& p, const mergeContext& c, int k, const int (*rgb)[3],
                double sum[3], double sumW) {
    int S = 0;
    int m[32];
    for (int i = 0; i < c.count; ++i) {
        m[i] = p.antiGhostMask[i] ? p.antiGhostMask[i][k] : 0;
        S += m[i];
    }
    if (S == 0) return false;
    double f = 1.0;
    if (S > 255) {
        f = 255.0 / S;
        S = 255;
    }
    double mean[3], acc[3];
    for (int ch = 0; ch < 3; ++ch) {
        mean[ch] = sum[ch] / sumW;
        acc[ch] = (255 - S) * mean[ch];
    }
    double d[32];
    bool nearClipping = false;
    for (int i = 0; i < c.count; ++i) {
        const int M = std::max({rgb[i][0], rgb[i][1], rgb[i][2]});
        d[i] = c.closenessBright[M] + c.closenessDark[M];
        nearClipping = nearClipping || d[i] > 0.05;
    }
    double g = 0;
    if (nearClipping && p.repair) {
        halvora::inconsistencyPhoto photos[32];
        uint16_t samples[32][3];
        for (int i = 0; i < c.count; ++i) {
            for (int ch = 0; ch < 3; ++ch)
                samples[i][ch] = uint16_t(rgb[i][ch]);
            photos[i] = {samples[i], c.ghostExposure[i], c.lnExposure[i]};
        }
        g = halvora::pixelInconsistency(photos, c.count, c.curve, c.projectWeight) / 0.1;
    }
    for (int i = 0; i < c.count; ++i) {
        const double mf = m[i] * f;
        for (int ch = 0; ch < 3; ++ch) {
            const double lin = c.curve[ch][rgb[i][ch]] * mf * c.invX[i];
            if (!p.repair || d[i] <= 0.05) {
                acc[ch] += lin;
            } else {
                const double t = std::clamp(2.0 * g - d[i], 0.0, 1.0);
                acc[ch] += (lin * (1.0 - d[i]) + mean[ch] * mf * d[i]) * (1.0 - t) + t * lin;
            }
        }
    }
    for (int ch = 0; ch < 3; ++ch)
        sum[ch] = acc[ch];
    return true;
}

void mergeTrueHDR(HDRgeneration_threadParams_t& p) {
    const mergeContext& c = *p.context;
    double lo = 9000000000.0, hi = 0;
    rowCounter rows;
    bool ghosts = false;
    for (int i = 0; i < c.count; ++i)
        ghosts = ghosts || (p.ghostRemoval && p.antiGhostMask[i]);
    int rgb[32][3];
    // Clamped samples of every photo at pixel k, for the rare paths that need them all.
    const auto gather = [&](int k) {
        for (int i = 0; i < c.count; ++i)
            for (int ch = 0; ch < 3; ++ch)
                rgb[i][ch] = std::min<int>(p.pixels[i][size_t(k) * 3 + ch], kMaxSample);
    };
    for (int k = 0; k < p.pixelCount && rows.step(p.width); ++k) {
        double sum[3] = {0, 0, 0}, sumW = 0;
        for (int i = 0; i < c.count; ++i) {
            const uint16_t* px = p.pixels[i] + size_t(k) * 3;
            const int r = std::min<int>(px[0], kMaxSample), g = std::min<int>(px[1], kMaxSample),
                      b = std::min<int>(px[2], kMaxSample);
            const double w = c.weight[i][(r + g + b) / 3];
            const double f = w * c.invX[i];
            sum[0] += c.curve[0][r] * f;
            sum[1] += c.curve[1][g] * f;
            sum[2] += c.curve[2][b] * f;
            sumW += w;
        }
        bool gathered = false;
        if (sumW == 0) {
            // No photo has weight here: the brightest under-exposed one, else the darkest over-exposed.
            gather(k);
            gathered = true;
            int over = -1, under = -1;
            for (int i = 0; i < c.count; ++i) {
                const int* v = rgb[i];
                if (v[0] > c.highLimit[i] || v[1] > c.highLimit[i] || v[2] > c.highLimit[i]) {
                    if (over < 0 || c.lnExposure[i] < c.lnExposure[over]) over = i;
                } else if (!(v[0] >= c.lowLimit[i] && v[1] >= c.lowLimit[i] && v[2] >= c.lowLimit[i])) {
                    if (under < 0 || c.lnExposure[i] > c.lnExposure[under]) under = i;
                }
            }
            const int chosen = under >= 0 ? under : over;
            for (int ch = 0; ch < 3; ++ch)
                sum[ch] = chosen >= 0 ? c.curve[ch][rgb[chosen][ch]] * c.invX[chosen] : 0.0;
            sumW = 1;
        }
        if (ghosts) {
            bool any = false;
            for (int i = 0; i < c.count; ++i)
                any = any || (p.antiGhostMask[i] && p.antiGhostMask[i][k]);
            if (any) {
                if (!gathered) gather(k);
                if (ghostBlend(p, c, k, rgb, sum, sumW)) sumW = 255;
            }
        }
        const double out[3] = {sum[0] / sumW, sum[1] / sumW, sum[2] / sumW};
        store(p.output + size_t(k) * 3, out, lo, hi);
    }
    p.minValue = lo;
    p.maxValue = hi;
}

void mergeSmart(HDRgeneration_threadParams_t& p) {
    const mergeContext& c = *p.context;
    double lo = 9000000000.0, hi = 0;
    rowCounter rows;
    for (int k = 0; k < p.pixelCount && rows.step(p.width); ++k) {
        double sum[3] = {0, 0, 0}, plain[3] = {0, 0, 0}, sumW = 0;
        for (int i = 0; i < c.count; ++i) {
            const uint16_t* px = p.pixels[i] + size_t(k) * 3;
            const int maskValue = std::min<int>(p.smartMergeMask[i][k], kMaxSample);
            const double w = std::clamp(c.weight[i][maskValue] + p.smartMergeOffset, 0.0, 1.0);
            for (int ch = 0; ch < 3; ++ch) {
                const int v = std::min<int>(px[ch], kMaxSample);
                sum[ch] += v * w;
                plain[ch] += v;
            }
            sumW += w;
        }
        double out[3];
        for (int ch = 0; ch < 3; ++ch) // every weight 0 (strength 5 at a tent's end): the plain mean
            out[ch] = sumW > 0 ? sum[ch] / sumW : plain[ch] / c.count;
        store(p.output + size_t(k) * 3, out, lo, hi);
    }
    p.minValue = lo;
    p.maxValue = hi;
}

void mergeStack(HDRgeneration_threadParams_t& p) {
    const mergeContext& c = *p.context;
    double lo = 9000000000.0, hi = 0;
    rowCounter rows;
    for (int k = 0; k < p.pixelCount && rows.step(p.width); ++k) {
        double sum[3] = {0, 0, 0};
        for (int i = 0; i < c.count; ++i) {
            const uint16_t* px = p.pixels[i] + size_t(k) * 3;
            for (int ch = 0; ch < 3; ++ch)
                sum[ch] += std::min<int>(px[ch], kMaxSample);
        }
        const double out[3] = {sum[0] / c.count, sum[1] / c.count, sum[2] / c.count};
        store(p.output + size_t(k) * 3, out, lo, hi);
    }
    p.minValue = lo;
    p.maxValue = hi;
}

// Fills the page tables of a mapped window in one call: page faults one by one cost more than the
// merge itself in a virtual machine. Only a hint; failure (older kernels) changes nothing.
void prefault(const void* address, size_t bytes) {
    static const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t start = reinterpret_cast<uintptr_t>(address) & ~(page - 1);
    const uintptr_t end = reinterpret_cast<uintptr_t>(address) + bytes;
#ifdef MADV_POPULATE_READ
    madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_READ);
#else
    madvise(reinterpret_cast<void*>(start), end - start, MADV_WILLNEED);
#endif
}

void HDRgeneration(HDRgeneration_threadParams_t& p) {
    if (p.mapped)
        for (int i = 0; i < p.context->count; ++i) {
            prefault(p.pixels[i], size_t(p.pixelCount) * 6);
            if (p.antiGhostMask[i]) prefault(p.antiGhostMask[i], size_t(p.pixelCount));
        }
    if (p.method == generateHDRworker::trueHDR)
        mergeTrueHDR(p);
    else if (p.method == generateHDRworker::smartMerge)
        mergeSmart(p);
    else
        mergeStack(p);
}

struct LDRenhancementPreprocess_threadParams_t {
    const uint16_t* src;
    float* dst;
};

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
    const char* const caller = "generateHDRworker::generateHDR_core";
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
    const char* const caller = "generateHDRworker::generateHDR_core";
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
    const bool ghosts = ghostRemovalEnabled && method == trueHDR;

    // Every photo's samples must be there before the first pixel is written.
    for (int i : photos) {
        photoEntry& photo = *pr.photos[size_t(i)];
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

    float* output = nullptr;
    if (preview) {
        if (!previewResult.allocate(W, H)) return fail(caller, "Not enough memory!");
        output = previewResult.pixels();
    } else {
        output = pr.rgbFloatBuffer();
        if (!output || pr.hdrImage.width() != W || pr.hdrImage.height() != H)
            return fail(caller, "The radiance picture is not allocated for the image size.");
    }

    mergeContext context;
    context.count = int(photos.size());
    halvora::ensureClosenessTables(pr);
    halvora::ensureProjectWeightTable(pr);
    halvora::ensureStandardCurve(pr);
    context.closenessBright = pr.closenessTableBright.data();
    context.closenessDark = pr.closenessTableDark.data();
    context.projectWeight = pr.weightTable.data();
    bool curveReady = true;
    for (const auto& table : pr.responseCurve)
        curveReady = curveReady && table.size() == size_t(kSampleTableSize);
    for (int ch = 0; ch < 3; ++ch)
        context.curve[ch] = curveReady ? pr.responseCurve[size_t(ch)].data() : pr.standardCurve.data();
    if (method == trueHDR && !curveReady)
        debugLog("%s: no recovered response curve, using the standard curve\n", caller);
    for (int n = 0; n < context.count; ++n) {
        const photoEntry& photo = *pr.photos[size_t(photos[size_t(n)])];
        context.weight[n] = photo.weightTable.get();
        context.invX[n] = 1.0 / std::exp(photo.lnExposure - referenceLnExposure + photo.exposureCorrection);
        context.lnExposure[n] = photo.lnExposure;
        context.ghostExposure[n] = std::exp(photo.lnExposure - pr.lnEvMin + photo.exposureCorrection);
        context.lowLimit[n] = photo.lowLimit;
        context.highLimit[n] = photo.highLimit;
        if (!std::isfinite(context.invX[n]) || !std::isfinite(context.ghostExposure[n]))
            return fail(caller, QString("Photo %1 has an unusable exposure value.").arg(photos[size_t(n)]));
    }

    std::vector<std::unique_ptr<uint16_t[]>> smartMasks;
    if (method == smartMerge && !buildSmartMergeMasks(photos, smartMasks)) return false;

    const auto failAndClear = [&](const QString& message) {
        // Never leave a half-merged picture behind.
        std::fill_n(output, size_t(area) * 3, 0.0f);
        hdrMin = hdrMax = 0;
        return fail(caller, message);
    };

    const int64_t chunk = preview ? kPreviewChunkPixels : kChunkPixels;
    const int threads = halvora::usableThreadCount();
    double lo = 9000000000.0, hi = 0;
    for (int64_t batchFirst = 0; batchFirst < area; batchFirst += chunk * threads) {
        const int batch = int(std::min<int64_t>(threads, (area - batchFirst + chunk - 1) / chunk));
        std::vector<HDRgeneration_threadParams_t> params(static_cast<size_t>(batch));
        std::vector<std::unique_ptr<mappedWindow>> windows;
        for (int b = 0; b < batch; ++b) {
            HDRgeneration_threadParams_t& p = params[size_t(b)];
            const int64_t first = batchFirst + b * chunk;
            const int64_t count = std::min(chunk, area - first);
            p.project = &pr;
            p.referenceLnExposure = referenceLnExposure;
            p.method = method;
            p.ghostRemoval = ghosts;
            p.repair = repairOverUnder;
            p.smartMergeOffset = (5 - std::clamp(smartMergeStrength, 0, 5)) / 10.0;
            p.firstPixel = int32_t(first);
            p.pixelCount = int32_t(count);
            p.width = W;
            p.output = output + first * 3;
            p.context = &context;
            p.mapped = !preview;
            for (int n = 0; n < context.count; ++n) {
                photoEntry& photo = *pr.photos[size_t(photos[size_t(n)])];
                if (preview) {
                    p.pixels[n] = photo.preview.pixels() + first * 3;
                    if (ghosts && photo.previewPlane) p.antiGhostMask[n] = photo.previewPlane.get() + first;
                } else {
                    windows.push_back(std::make_unique<mappedWindow>());
                    p.pixels[n] = reinterpret_cast<const uint16_t*>(windows.back()->map(
                        photo.tempFiles[photoEntry::slotCurrent].get(), first * 6, count * 6));
                    if (!p.pixels[n]) {
                        debugLog("Mapping failed #1!\n");
                        windows.clear();
                        return failAndClear(
                            QString("Cannot map the temporary file of photo %1.").arg(photos[size_t(n)]));
                    }
                    tempFileRecord* ghostFile = photo.tempFiles[photoEntry::slotGhostMap].get();
                    if (ghosts && ghostFile) {
                        windows.push_back(std::make_unique<mappedWindow>());
                        p.antiGhostMask[n] = windows.back()->map(ghostFile, first, count);
                        if (!p.antiGhostMask[n]) {
                            debugLog("Mapping failed #2!\n");
                            windows.clear();
                            return failAndClear(
                                QString("Cannot map the ghost map of photo %1.").arg(photos[size_t(n)]));
                        }
                    }
                }
                if (method == smartMerge) p.smartMergeMask[n] = smartMasks[size_t(n)].get() + first;
            }
        }
        halvora::parallelFor(
            batch,
            [&params](int, int64_t b0, int64_t b1) {
                for (int64_t b = b0; b < b1; ++b)
                    HDRgeneration(params[size_t(b)]);
            },
            batch);
        windows.clear();
        for (const auto& p : params) {
            lo = std::min(lo, p.minValue);
            hi = std::max(hi, p.maxValue);
        }
        if (halvora::cancelRequested()) return failAndClear("Aborted.");
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
        LDRenhancementPreprocess_threadParams_t p{src, output + first * 3};
        halvora::parallelFor(count * 3, [&p](int, int64_t a, int64_t b) {
            for (int64_t i = a; i < b; ++i)
                p.dst[i] = std::min(float(p.src[i] * halvora::kInvFullScale), 1.0f);
        });
    }
    pr.lcCorrection = 1.0;
    pr.hdrMean = 0.4;
    return true;
}
