#pragma once
// Camera response recovery: the response is a polynomial g(t) in the normalised sample t = x / 32640
// giving relative radiance. Recovery starts from a built-in standard polynomial and searches a grid
// of 10 000 perturbations of four of its coefficients for the one under which the same scene points,
// seen in differently exposed photos, agree best; then derives a per-photo exposure correction.
//
// The steps run on the HDR worker's thread, split their loops with halvora::parallelRecords and give
// the same result for any thread count. The project's recovery (project/responseRecovery.h) drives
// them.

#include "base/rgbBuffers.h"

#include <array>
#include <cstdint>
#include <vector>

namespace halvora {

/// g(t) = Σ c[j] t^j for j < n.
struct responsePolynomial {
    double c[20] = {};
    int32_t n = 0;
    /// Horner evaluation at t.
    double value(double t) const;
};

/// The built-in starting polynomial (six coefficients).
responsePolynomial standardResponsePolynomial();

/// The standard polynomial at x / 32640 for every working sample x (32640 entries).
std::vector<double> standardCurveTable();

/// Small deterministic generator (PCG32) for the sample positions: the same seed gives the same
/// positions, so the same photos give the same curve run after run.
class sampleRandom {
public:
    explicit sampleRandom(uint64_t seed = 0x853c49e6748fea9bULL);
    uint32_t next();

private:
    uint64_t state_ = 0;
};

/// One photo as seen by the pixel inconsistency measure at one pixel.
struct inconsistencyPhoto {
    const uint16_t* rgb; ///< the photo's three samples at the pixel (clamped to 32639 inside)
    double exposure;     ///< X
    double lnExposure;   ///< orders the pairs
};
/// Largest weighted relative disagreement of √(curve / X) over photo pairs and channels; 0 without a
/// pair. `curves` are three 32640-entry tables, `weight` the project's "Balanced" table.
double pixelInconsistency(const inconsistencyPhoto* photos, int count, const double* const curves[3],
                          const double* weight);

/// 1024 sample positions, one 8-bit luminance per sampled photo each (position after position).
struct curveSampleSet {
    static constexpr int kPositions = 1024;
    int photoCount = 0;
    std::vector<uint8_t> luminance;
    std::vector<int32_t> x, y;   ///< positions in the preview (for tests and diagnostics)
    bool forced = false;         ///< forced mode was reached
    int forcedFrom = kPositions; ///< index of the first position taken in forced mode
};

/// At most this many photos take part in one recovery.
inline constexpr int kMaxCurvePhotos = 32;

/// One photo of the recovery: its preview and its exposure.
struct curvePhoto {
    const rgb16Buffer* preview = nullptr;
    double lnExposure = 0;
    int index = 0; ///< the photo's number, for log lines
};

/// Tables the sample choice reads: the standard curve, the "Balanced" weight table (32640 entries
/// each) and the preview-size anti-ghosting mask (null, or used only when its size is the previews').
struct curveSampleTables {
    const double* standardCurve = nullptr;
    const double* weightTable = nullptr;
    const uint8_t* ghostMask = nullptr;
    int ghostMaskWidth = 0, ghostMaskHeight = 0;
};

/// Chooses the positions on the previews of `photos` (all of one size) with exposures `exposures`.
/// False when a preview is missing or of another size.
bool selectCurveSamples(const std::vector<curvePhoto>& photos, const std::vector<double>& exposures,
                        const curveSampleTables& tables, sampleRandom& random, curveSampleSet& out);

/// The grid search. `used` and `b` (exp(lnExposure)) are per sampled photo. Returns the best
/// candidate, or `start` when no candidate is non-negative and non-decreasing with a finite error.
/// `offsets` receives the kept offsets of coefficients 1…4.
responsePolynomial searchResponsePolynomial(const curveSampleSet& samples, const responsePolynomial& start,
                                            const std::vector<bool>& used, const std::vector<double>& b,
                                            int offsets[4]);

/// True when the polynomial, evaluated at k / 256 for k = 0…255, is non-negative and non-decreasing.
bool monotoneOnGrid(const responsePolynomial& poly);

/// Exposure factor of one photo relative to the reference from its preview: the mean of the bins
/// around the median of √(relative radiance) ÷ 128, with `g256` the curve at k / 256 and `relative`
/// the photo's exposure ratio to the reference. `reliable` is false when the pixels around the median
/// are clipped, so their level says nothing about the exposure.
double exposureFactor(const rgb16Buffer& preview, const std::array<double, 256>& g256, double relative,
                      bool& reliable);

} // namespace halvora
