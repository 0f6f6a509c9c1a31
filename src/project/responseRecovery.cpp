// The project's response recovery: which photos take part, the reference, the samples, the search,
// the exposure corrections and the curve tables, built from the kernels of hdr/responseCurve.h.

#include "project/responseRecovery.h"

#include "base/debugLog.h"
#include "base/rgbBuffers.h"
#include "hdr/mergeWeights.h"
#include "hdr/responseCurve.h"
#include "project/processingProject.h"

#include <array>
#include <cmath>

namespace halvora {

void ensureStandardCurve(processingProject& project) {
    if (project.standardCurve.size() != size_t(kSampleTableSize))
        project.standardCurve = standardCurveTable();
}

void ensureClosenessTables(processingProject& project) {
    if (project.closenessTableBright.size() == size_t(kSampleTableSize) &&
        project.closenessTableDark.size() == size_t(kSampleTableSize))
        return;
    project.closenessTableBright.resize(kSampleTableSize);
    project.closenessTableDark.resize(kSampleTableSize);
    buildClosenessTables(project.closenessTableBright.data(), project.closenessTableDark.data());
}

void ensureProjectWeightTable(processingProject& project) {
    if (project.weightTable.size() == size_t(kSampleTableSize)) return;
    project.weightTable.resize(kSampleTableSize);
    buildSelectivityTable(selectivityBalanced, 0.0, 0.0, project.weightTable.data());
}

bool exifEVtrusted(const processingProject& project, const photoEntry& photo) {
    return project.exifEVvalid && std::fabs(photo.ev - photo.exifEV) < 1e-9;
}

bool recoverResponseCurve(processingProject& project) {
    if (project.responseCurveValid) return true;
    debugLog("Recover response curve...\n");
    ensureStandardCurve(project);
    ensureProjectWeightTable(project);
    const auto useStandard = [&project]() {
        for (auto& table : project.responseCurve)
            table = project.standardCurve;
    };

    // Included photos take part; an excluded photo must not shape the curve.
    std::vector<int> sampled;
    for (size_t i = 0; i < project.photos.size(); ++i) {
        project.photos[i]->exposureCorrection = 0;
        if (project.photos[i]->included) sampled.push_back(int(i));
    }

    int ref = -1;
    double bestDistance = 1000000;
    const double lnMean = std::log(2.0) * project.evMean;
    for (int i : sampled) {
        const double d = std::fabs(project.photos[size_t(i)]->lnExposure - lnMean);
        if (d < bestDistance) {
            bestDistance = d;
            ref = i;
        }
    }

    if (ref < 0) {
        debugLog("  Too few photos can be used for curve recovery. Using standard curve.\n");
        useStandard();
        return true;
    }
    std::vector<bool> used(sampled.size(), false);
    std::vector<double> b(sampled.size()), exposures(sampled.size());
    int usedCount = 0;
    for (size_t k = 0; k < sampled.size(); ++k) {
        const photoEntry& photo = *project.photos[size_t(sampled[k])];
        b[k] = std::exp(photo.lnExposure);
        exposures[k] = std::exp(photo.lnExposure - std::log(2.0) * project.evMin + photo.exposureCorrection);
        const photoEntry& reference = *project.photos[size_t(ref)];
        if (sampled[k] == ref || std::fabs(photo.lnExposure - reference.lnExposure) >= 0.5 * std::log(2.0)) {
            used[k] = true;
            ++usedCount;
        } else {
            debugLog("  %d: too small EV difference, skipping this photo\n", sampled[k]);
        }
    }
    if (usedCount < 2) {
        debugLog("  Too few photos can be used for curve recovery. Using standard curve.\n");
        useStandard();
        return true;
    }

    std::vector<curvePhoto> photos;
    for (int i : sampled)
        photos.push_back({&project.photos[size_t(i)]->preview, project.photos[size_t(i)]->lnExposure, i});
    curveSampleTables tables;
    tables.standardCurve = project.standardCurve.data();
    tables.weightTable = project.weightTable.data();
    tables.ghostMask = project.antiGhostMask();
    tables.ghostMaskWidth = project.previewWidth;
    tables.ghostMaskHeight = project.previewHeight;
    sampleRandom random;
    curveSampleSet samples;
    if (!selectCurveSamples(photos, exposures, tables, random, samples)) {
        debugLog("%s: no usable previews. Using standard curve.\n", "recoverResponseCurve");
        useStandard();
        return false;
    }

    int offsets[4];
    const responsePolynomial poly =
        searchResponsePolynomial(samples, standardResponsePolynomial(), used, b, offsets);
    for (int j = 0; j < 4; ++j)
        debugLog("--- %d: %d\n", j + 1, offsets[j]);

    // Exposure correction from the content of each used photo, relative to the reference.
    std::array<double, 256> g256;
    for (int k = 0; k < 256; ++k)
        g256[size_t(k)] = poly.value(k / 256.0);
    if (g256[255] > 0) {
        std::vector<double> factor(sampled.size(), 1.0);
        std::vector<bool> reliable(sampled.size(), false);
        size_t refK = 0;
        for (size_t k = 0; k < sampled.size(); ++k) {
            const photoEntry& photo = *project.photos[size_t(sampled[k])];
            if (sampled[k] == ref) refK = k;
            if (used[k]) {
                bool ok = false;
                factor[k] =
                    exposureFactor(photo.preview, g256,
                                   std::exp(photo.lnExposure - project.photos[size_t(ref)]->lnExposure), ok);
                reliable[k] = ok;
            }
        }
        for (size_t k = 0; k < sampled.size(); ++k) {
            if (!used[k]) continue;
            const photoEntry& photo = *project.photos[size_t(sampled[k])];
            // The content estimate compares the medians of two differently clipped pictures; on
            // brackets with exactly known exposures it is off by up to a third of a stop even
            // through the camera's true curve, more than a camera's rounded exposure data
            // (a sixth of a stop at most). So an EV taken from the photo's exposure data stays as
            // it is; only EVs from AEB values, even steps or typed values are corrected.
            if (exifEVtrusted(project, photo)) continue;
            if (reliable[k] && reliable[refK])
                project.photos[size_t(sampled[k])]->exposureCorrection = std::log(factor[k] / factor[refK]);
            else
                debugLog("  %d: median clipped, no exposure correction\n", sampled[k]);
        }
    }

    for (auto& table : project.responseCurve)
        table.resize(kSampleTableSize);
    for (int x = 0; x < kSampleTableSize; ++x) {
        double v = poly.value(x / 32640.0);
        if (!(v > 0)) v = 0.001;
        for (auto& table : project.responseCurve)
            table[size_t(x)] = v;
    }
    project.responseCurveValid = true;
    return true;
}

} // namespace halvora
