#include "color/matrixShaper.h"

#include "color/iccProfile.h"
#include "color/lcmsErrors.h"

#include <algorithm>
#include <cmath>
#include <lcms2.h>

namespace halvora {

namespace {

// Output tables. 16-bit samples: 8192 steps over √linear, interpolated; indexing by the square root
// spends the steps where the inverse curves are steep (near black), and the tables stay within a
// hundredth of an output step of the curves. Bytes: 65535 steps over linear light, taken as they
// are (no square root, no interpolation: this is the preview's path); only the first step of a
// pure power law, below a linear value of 1/65535 (L* 0.01), can be off, by at most one level.
constexpr int kSixteenSteps = 8192;
constexpr int kByteSteps = 65535;

struct toneCurveFree {
    void operator()(cmsToneCurve* c) const { cmsFreeToneCurve(c); }
};

/// Colorant matrix (columns red, green, blue; PCS XYZ relative to D50) and tone curves of a
/// matrix/TRC RGB profile whose conversion for `intent` does not come from a lookup table.
bool readMatrixShaper(void* profile, int intent, double m[9], const cmsToneCurve* curves[3]) {
    if (cmsGetColorSpace(profile) != cmsSigRgbData || cmsGetPCS(profile) != cmsSigXYZData ||
        !cmsIsMatrixShaper(profile))
        return false;
    if (cmsIsCLUT(profile, cmsUInt32Number(intent), LCMS_USED_AS_INPUT) ||
        cmsIsCLUT(profile, cmsUInt32Number(intent), LCMS_USED_AS_OUTPUT))
        return false;
    const cmsTagSignature colorants[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                          cmsSigBlueColorantTag};
    const cmsTagSignature trcs[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    for (int c = 0; c < 3; ++c) {
        const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, colorants[c]));
        curves[c] = static_cast<const cmsToneCurve*>(cmsReadTag(profile, trcs[c]));
        if (!xyz || !curves[c] || !std::isfinite(xyz->X) || !std::isfinite(xyz->Y) || !std::isfinite(xyz->Z))
            return false;
        m[c] = xyz->X;
        m[3 + c] = xyz->Y;
        m[6 + c] = xyz->Z;
    }
    return true;
}

bool invert3(const double m[9], double r[9]) {
    const double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                       m[2] * (m[3] * m[7] - m[4] * m[6]);
    if (!std::isfinite(det) || std::fabs(det) < 1e-9) return false;
    r[0] = (m[4] * m[8] - m[5] * m[7]) / det;
    r[1] = (m[2] * m[7] - m[1] * m[8]) / det;
    r[2] = (m[1] * m[5] - m[2] * m[4]) / det;
    r[3] = (m[5] * m[6] - m[3] * m[8]) / det;
    r[4] = (m[0] * m[8] - m[2] * m[6]) / det;
    r[5] = (m[2] * m[3] - m[0] * m[5]) / det;
    r[6] = (m[3] * m[7] - m[4] * m[6]) / det;
    r[7] = (m[1] * m[6] - m[0] * m[7]) / det;
    r[8] = (m[0] * m[4] - m[1] * m[3]) / det;
    return true;
}

// Clamps into 0 … 1, NaN to 0: damaged curves evaluate to anything, and table indices come from this.
inline float unitClamp(float v) {
    return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
}

bool blackIsZero(const cmsToneCurve* const curves[3]) {
    for (int c = 0; c < 3; ++c)
        if (std::fabs(cmsEvalToneCurveFloat(curves[c], 0.0f)) > 1e-6f) return false;
    return true;
}

} // namespace

std::unique_ptr<matrixShaper> matrixShaper::create(const iccProfile& from, const iccProfile& to,
                                                   shaperSamples samples, int intent,
                                                   bool blackPointCompensation) {
    // The absolute intent scales by media white points, which the matrix alone does not carry.
    if (!from.valid() || !to.valid() || intent < 0 || intent > 2) return nullptr;
    lcmsErrorCapture quiet; // a profile that is not read here goes to LittleCMS, which reports it
    double in[9], out[9], outInverse[9];
    const cmsToneCurve* inCurves[3];
    const cmsToneCurve* outCurves[3];
    if (!readMatrixShaper(from.handle(), intent, in, inCurves) ||
        !readMatrixShaper(to.handle(), intent, out, outCurves))
        return nullptr;
    if (blackPointCompensation && !(blackIsZero(inCurves) && blackIsZero(outCurves))) return nullptr;
    if (!invert3(out, outInverse)) return nullptr;
    std::unique_ptr<cmsToneCurve, toneCurveFree> inverse[3];
    for (int c = 0; c < 3; ++c) {
        if (!cmsIsToneCurveMonotonic(outCurves[c])) return nullptr;
        inverse[c].reset(cmsReverseToneCurve(outCurves[c]));
        if (!inverse[c]) return nullptr;
    }

    auto s = std::make_unique<matrixShaper>(key());
    s->samples_ = samples;
    for (int row = 0; row < 3; ++row) {
        double m[3], sum = 0;
        for (int col = 0; col < 3; ++col) {
            m[col] = outInverse[3 * row] * in[col] + outInverse[3 * row + 1] * in[3 + col] +
                     outInverse[3 * row + 2] * in[6 + col];
            sum += m[col];
        }
        // Both profiles' whites sit on the D50 white of the connection space; what the fixed-point
        // colorants leave over (a few 1e-5) would turn full white into one step below it.
        const double fix = std::fabs(sum - 1.0) < 0.02 ? 1.0 / sum : 1.0;
        for (int col = 0; col < 3; ++col)
            s->matrix_[3 * row + col] = float(m[col] * fix);
    }

    const int inputCount = samples == shaperSamples::bytes        ? 256
                           : samples == shaperSamples::sixteenBit ? 65536
                                                                  : 32641;
    const double inputScale = 1.0 / double(inputCount - 1);
    const double fullOutput = samples == shaperSamples::bytes        ? 255.0
                              : samples == shaperSamples::sixteenBit ? 65535.0
                                                                     : 32640.0;
    s->inputMax_ = inputCount - 1;
    for (int c = 0; c < 3; ++c) {
        s->input_[c].resize(size_t(inputCount));
        for (int k = 0; k < inputCount; ++k)
            s->input_[c][size_t(k)] = unitClamp(cmsEvalToneCurveFloat(inCurves[c], float(k * inputScale)));
        if (samples == shaperSamples::bytes) {
            s->outputBytes_[c].resize(size_t(kByteSteps) + 1);
            for (int k = 0; k <= kByteSteps; ++k) {
                const float v = cmsEvalToneCurveFloat(inverse[c].get(), float(double(k) / kByteSteps));
                s->outputBytes_[c][size_t(k)] = uint8_t(unitClamp(v) * 255.0f + 0.5f);
            }
            // The preview's path reads three 64 KiB tables at random; one shared table (the usual
            // case, one curve for all channels) stays in the cache far better.
            if (c > 0 && s->outputBytes_[c] == s->outputBytes_[0]) s->outputBytes_[c].clear();
            continue;
        }
        // One entry beyond the grid, so that interpolation at exactly full scale reads inside.
        s->output_[c].resize(size_t(kSixteenSteps) + 2);
        for (int k = 0; k <= kSixteenSteps; ++k) {
            const double root = double(k) / kSixteenSteps;
            const float v = cmsEvalToneCurveFloat(inverse[c].get(), float(root * root));
            s->output_[c][size_t(k)] = float(unitClamp(v) * fullOutput);
        }
        s->output_[c][size_t(kSixteenSteps) + 1] = s->output_[c][size_t(kSixteenSteps)];
    }
    return s;
}

void matrixShaper::apply(uint8_t* p, size_t count, int stride, int r, int g, int b) const {
    if (samples_ != shaperSamples::bytes) return;
    const float* inR = input_[0].data();
    const float* inG = input_[1].data();
    const float* inB = input_[2].data();
    // Channels with the same curve share the first channel's table (see create()).
    const uint8_t* outR = outputBytes_[0].data();
    const uint8_t* outG = outputBytes_[1].empty() ? outR : outputBytes_[1].data();
    const uint8_t* outB = outputBytes_[2].empty() ? outR : outputBytes_[2].data();
    const float* m = matrix_;
    const float steps = float(kByteSteps);
    for (size_t i = 0; i < count; ++i, p += stride) {
        const float lr = inR[p[r]], lg = inG[p[g]], lb = inB[p[b]];
        const float cr = unitClamp(m[0] * lr + m[1] * lg + m[2] * lb);
        const float cg = unitClamp(m[3] * lr + m[4] * lg + m[5] * lb);
        const float cb = unitClamp(m[6] * lr + m[7] * lg + m[8] * lb);
        p[r] = outR[int(cr * steps + 0.5f)];
        p[g] = outG[int(cg * steps + 0.5f)];
        p[b] = outB[int(cb * steps + 0.5f)];
    }
}

void matrixShaper::apply(uint16_t* p, size_t count) const {
    if (samples_ == shaperSamples::bytes) return;
    const float* in[3] = {input_[0].data(), input_[1].data(), input_[2].data()};
    const float* out[3] = {output_[0].data(), output_[1].data(), output_[2].data()};
    const float steps = float(kSixteenSteps);
    const unsigned top = unsigned(inputMax_);
    const float* m = matrix_;
    for (size_t i = 0; i < count; ++i, p += 3) {
        const float lr = in[0][std::min<unsigned>(p[0], top)];
        const float lg = in[1][std::min<unsigned>(p[1], top)];
        const float lb = in[2][std::min<unsigned>(p[2], top)];
        const float linear[3] = {m[0] * lr + m[1] * lg + m[2] * lb, m[3] * lr + m[4] * lg + m[5] * lb,
                                 m[6] * lr + m[7] * lg + m[8] * lb};
        for (int c = 0; c < 3; ++c) {
            const float s = std::sqrt(unitClamp(linear[c])) * steps;
            const int k = int(s);
            const float f = s - float(k);
            p[c] = uint16_t(out[c][k] + f * (out[c][k + 1] - out[c][k]) + 0.5f);
        }
    }
}

} // namespace halvora
