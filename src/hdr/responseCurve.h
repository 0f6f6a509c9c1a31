#pragma once
// Camera response recovery: the response is a polynomial g(t) in the normalised sample t = x / 32640
// giving relative radiance. Recovery starts from a built-in standard polynomial and searches a grid
// of 10 000 perturbations of four of its coefficients for the one under which the same scene points,
// seen in differently exposed photos, agree best; then derives a per-photo exposure correction.
//
// recoverResponseCurve() runs on the HDR worker's thread; the steps split their loops with
// halvora::parallelFor and give the same result for any thread count.

#include <cstdint>
#include <vector>

class processingProject;

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

/// Fills project.standardCurve (32640 entries, standard polynomial at x / 32640) when still empty.
void ensureStandardCurve(processingProject& project);

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
    const uint16_t* rgb;   ///< the photo's three samples at the pixel (clamped to 32639 inside)
    double exposure;       ///< X
    double lnExposure;     ///< orders the pairs
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
    std::vector<int32_t> x, y; ///< positions in the preview (for tests and diagnostics)
    bool forced = false;       ///< forced mode was reached
    int forcedFrom = kPositions; ///< index of the first position taken in forced mode
};

/// Chooses the positions on the previews of `photos` (project indices) with exposures `exposures`.
/// False when the previews are missing or of different sizes.
bool selectCurveSamples(processingProject& project, const std::vector<int>& photos,
                        const std::vector<double>& exposures, sampleRandom& random, curveSampleSet& out);

/// The grid search. `used` and `b` (exp(lnExposure)) are per sampled photo. Returns the best
/// candidate, or `start` when no candidate is non-negative and non-decreasing with a finite error.
/// `offsets` receives the kept offsets of coefficients 1…4.
responsePolynomial searchResponsePolynomial(const curveSampleSet& samples, const responsePolynomial& start,
                                            const std::vector<bool>& used, const std::vector<double>& b,
                                            int offsets[4]);

/// True when the polynomial, evaluated at k / 256 for k = 0…255, is non-negative and non-decreasing.
bool monotoneOnGrid(const responsePolynomial& poly);

/// Worker operation: recovers project.responseCurve and every photo's exposureCorrection and sets
/// responseCurveValid; does nothing while the curve is valid. Falls back to the standard curve
/// (valid flag left clear) when fewer than two photos can be used. False only when the project
/// cannot take part at all (no tables, previews missing); the standard curve is then in place.
bool recoverResponseCurve(processingProject& project);

} // namespace halvora
