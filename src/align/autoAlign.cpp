#include "align/autoAlign.h"

#include "align/alignSizes.h"
#include "align/alignmentTile.h"
#include "align/coarseShift.h"
#include "align/fastCorners.h"
#include "align/greyPicture.h"
#include "base/debugLog.h"
#include "base/failure.h"
#include "base/parallelFor.h"
#include "base/runContext.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace halvora {
namespace {

std::vector<int> photosToAlign(const autoAlignRequest& r) {
    std::vector<int> list;
    const int n = int(r.lnExposure.size());
    for (int i = 0; i < n; ++i)
        if (i != r.reference && (r.toAlign < 0 || r.toAlign == i)) list.push_back(i);
    return list;
}

QString nameOf(const std::vector<QString>& names, int index) {
    return index >= 0 && size_t(index) < names.size() ? names[size_t(index)] : QString();
}

/// Reads photo `index` and checks its size against the request's; null with the reason in *error.
const rgb16Buffer* readChecked(const alignReadPhoto& read, int index, int width, int height,
                               const QString& name, QString* error) {
    const rgb16Buffer* photo = read(index, error);
    if (!photo) return nullptr;
    if (photo->empty() || photo->width != width || photo->height != height) {
        fail(error, "alignmentWorker::autoAlign", name,
             QString("the photo is %1 × %2 pixels, the bracket %3 × %4")
                 .arg(photo->width)
                 .arg(photo->height)
                 .arg(width)
                 .arg(height));
        return nullptr;
    }
    return photo;
}

/// Tile radius of the closer looks, and how little (pixels at the picture's corners) a look must
/// move the transform for the next one to be skipped.
constexpr int kCloseLookRadius = 24;
constexpr double kSettled = 0.1;

/// Largest distance between where two transforms put the picture's four corners.
double cornerMovement(const alignTransform& a, const alignTransform& b, int width, int height) {
    double largest = 0;
    for (const alignPoint c :
         {alignPoint{0, 0}, alignPoint{double(width - 1), 0}, alignPoint{0, double(height - 1)},
          alignPoint{double(width - 1), double(height - 1)}}) {
        const alignPoint p = a.map(c.x, c.y), q = b.map(c.x, c.y);
        largest = std::max(largest, std::hypot(p.x - q.x, p.y - q.y));
    }
    return largest;
}

} // namespace

uint64_t autoAlignProgressUnits(const autoAlignRequest& request) {
    const uint64_t aligned = photosToAlign(request).size();
    return (aligned + 1) * uint64_t(std::max(0, request.height)) + aligned * kPinSets;
}

bool autoAlign(const autoAlignRequest& request, autoAlignResult& result, QString* error) {
    debugLog("- auto align: init...\n");
    const int n = int(request.lnExposure.size());
    result.transforms.assign(size_t(n), alignTransform::identity());
    result.pins.assign(size_t(n), alignPinSet{});
    result.pinsFound.assign(size_t(n), false);
    result.aligned.assign(size_t(n), false);
    if (n == 0 || request.reference < 0 || request.reference >= n || request.toAlign >= n ||
        request.width <= 0 || request.height <= 0 || !request.readPhoto)
        return fail(error, "alignmentWorker::autoAlign", QString(),
                    QString("nothing to align (%1 photos, reference %2)").arg(n).arg(request.reference));
    result.aligned[size_t(request.reference)] = true;
    const std::vector<int> targets = photosToAlign(request);
    if (targets.empty()) return true;
    const alignSizes sizes = alignSizesFor(request.width, request.height);

    // Grey pyramids of the reference and of every photo to align.
    std::vector<std::unique_ptr<pyramid>> grey(static_cast<size_t>(n));
    std::vector<int> needed{request.reference};
    needed.insert(needed.end(), targets.begin(), targets.end());
    for (const int i : needed) {
        const rgb16Buffer* photo =
            readChecked(request.readPhoto, i, request.width, request.height, nameOf(request.names, i), error);
        if (!photo) return false;
        greyCalibration_t calibration;
        calibration.photoIndex = i;
        calibration.lnExposure = request.lnExposure[size_t(i)];
        calibration.lnExposureReference = request.lnExposure[size_t(request.reference)];
        calibration.lnEvMin = request.lnEvMin;
        calibration.lnEvMax = request.lnEvMax;
        calibration.standardCurve = request.standardCurve;
        calibration.closenessBright = request.closenessBright;
        calibration.closenessDark = request.closenessDark;
        grey[size_t(i)] = std::make_unique<pyramid>();
        if (!getCalibratedImage(*photo, calibration, *grey[size_t(i)], error)) return false;
    }
    const pyramid& reference = *grey[size_t(request.reference)];

    debugLog("- auto align: step 1...\n");
    std::vector<alignCorner> corners;
    if (!detectReferenceCorners(reference, sizes, corners, error)) return false;

    debugLog("- auto align: step 2 (toAlign=%d)...\n", request.toAlign);
    std::vector<alignTransform> guides(static_cast<size_t>(n));
    for (const int i : targets) {
        guides[size_t(i)] =
            coarseGuide(reference, *grey[size_t(i)], coarseShift(reference, *grey[size_t(i)], i));
        if (cancelRequested()) return false;
    }

    // The tiles of one photo at a time (about 12 KB per corner); only their matches are kept.
    debugLog("- auto align: step 3...\n");
    std::vector<std::vector<alignMatch>> matches(static_cast<size_t>(n));
    {
        std::vector<alignmentTile> tiles;
        for (const int i : targets) {
            extractTiles(*grey[size_t(i)], corners, guides[size_t(i)], sizes, true, tiles);
            if (!matchTiles(reference, corners, guides[size_t(i)], sizes, sizes.matchStartLevel,
                            sizes.searchRadius, nullptr, tiles, matches[size_t(i)]))
                return false;
        }
    }

    debugLog("- auto align: step 4...\n");
    // One thread per photo; each draws from its own generator, so the split does not matter.
    std::vector<findTransform_threadParams_t> searches(targets.size());
    for (size_t k = 0; k < targets.size(); ++k) {
        findTransform_threadParams_t& p = searches[k];
        p.photoIndex = targets[k];
        p.width = request.width;
        p.height = request.height;
        p.corners = &corners;
        p.matches = &matches[size_t(targets[k])];
        p.inlierTolerance = sizes.inlierTolerance;
    }
    parallelFor(int64_t(searches.size()), [&searches](int, int64_t begin, int64_t end) {
        for (int64_t k = begin; k < end; ++k)
            findTransform(searches[size_t(k)]);
    });
    // Closer looks: tiles cut along the found transform match the reference almost exactly, so their
    // offsets are small and measured without the distortion the coarse guide left in them. Half the
    // tile radius is plenty with the transform this close; a second look only when the first moved
    // the picture's corners noticeably.
    {
        alignSizes close = sizes;
        close.tileRadius = std::min(sizes.tileRadius, kCloseLookRadius);
        std::vector<alignmentTile> tiles;
        std::vector<alignMatch> closer;
        const std::vector<uint8_t> clipped = clippedMask(reference);
        for (findTransform_threadParams_t& p : searches) {
            for (int look = 0; look < 2 && p.ok; ++look) {
                extractTiles(*grey[size_t(p.photoIndex)], corners, p.transform, close, false, tiles);
                if (!matchTiles(reference, corners, p.transform, close, 0, 1, &clipped, tiles, closer))
                    return false;
                const alignTransform before = p.transform;
                p.transform = refineTransform(p.transform, corners, closer, sizes.inlierTolerance);
                if (cornerMovement(before, p.transform, request.width, request.height) < kSettled) break;
            }
        }
    }

    bool ok = true;
    for (const findTransform_threadParams_t& p : searches) {
        for (const std::string& line : p.logLines)
            debugLog("%s", line.c_str());
        if (p.cancelled) return false;
        const size_t i = size_t(p.photoIndex);
        result.transforms[i] = p.transform;
        result.pins[i] = p.pins;
        result.pinsFound[i] = p.pinsFound;
        result.aligned[i] = p.ok;
        if (!p.ok) {
            QString reason;
            fail(&reason, "alignmentWorker::findTransform", nameOf(request.names, p.photoIndex), p.reason);
            if (ok && error) *error = reason;
            ok = false;
        }
    }
    return ok;
}

bool applyAlignmentCrop(const applyAlignmentRequest& request, alignCropRect& crop, QString* error) {
    debugLog("- align: apply...\n");
    if (request.width <= 0 || request.height <= 0 || !request.readPhoto || !request.writePhoto)
        return fail(error, "alignmentWorker::apply", QString(), "nothing to apply the alignment to");
    alignCropRect rect{0, 0, request.width, request.height};
    if (request.autoCrop &&
        !autoCropRect(request.width, request.height, request.transforms, request.model, rect, error))
        return false;
    crop = rect;
    return true;
}

uint64_t applyAlignmentProgressUnits(const applyAlignmentRequest& request, const alignCropRect& crop) {
    return uint64_t(request.transforms.size()) * uint64_t(std::max(0, crop.height()));
}

bool applyAlignment(const applyAlignmentRequest& request, const alignCropRect& crop, QString* error) {
    if (!request.readPhoto || !request.writePhoto)
        return fail(error, "alignmentWorker::apply", QString(), "nothing to apply the alignment to");
    rgb16Buffer aligned; // one output block for every photo, unless the writer keeps it
    for (size_t i = 0; i < request.transforms.size(); ++i) {
        const rgb16Buffer* photo = readChecked(request.readPhoto, int(i), request.width, request.height,
                                               nameOf(request.names, int(i)), error);
        if (!photo ||
            !getTransformedImage(*photo, request.transforms[i], request.model, crop, aligned, error))
            return false;
        if (!request.writePhoto(int(i), aligned, error)) return false;
    }
    return true;
}

} // namespace halvora
