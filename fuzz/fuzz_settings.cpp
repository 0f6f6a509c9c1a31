// libFuzzer target: the tone-mapping settings reader (everything loadSettingsFile does after reading
// the file), then the table builders and one tone mapping with whatever it loaded, which must give
// no NaN and no out-of-range access.
//
// The table builders and the tone mapping are deterministic functions of the loaded parameters and
// cost about 3 ms of every input (seven tables of 32640 entries under coverage instrumentation),
// twenty times what reading the file costs, so the reader saw few inputs. Now the reader sees every
// input, and the later steps a fixed sample of one in 64 distinct sets of loaded parameters (chosen
// by a digest of the parameters, so an input's outcome never depends on the inputs before it), each
// set once; each table is rebuilt only when what it is built from changed.

#include "base/parallelFor.h"
#include "tonemap/picturePasses.h"
#include "tonemap/rebuildOnChange.h"
#include "tonemap/tableBuilders.h"
#include "tonemap/toneMappingSettingsFile.h"

#include <QByteArray>
#include <QDir>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unordered_set>
#include <vector>

namespace {

toneMappingSettings_t& settings() {
    static toneMappingSettings_t s = [] {
        toneMappingSettings_t t;
        t.tables.allocate();
        return t;
    }();
    return s;
}

/// FNV-1a over every loaded value, as stored.
class digest {
public:
    void add(const void* data, size_t bytes) {
        const auto* p = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i < bytes; ++i)
            value_ = (value_ ^ p[i]) * 1099511628211ull;
    }
    template <class T> void add(const T& v) { add(&v, sizeof v); }
    uint64_t value() const { return value_; }

private:
    uint64_t value_ = 1469598103934665603ull;
};

uint64_t parameterDigest(const toneMappingParameters_t& p) {
    digest d;
    for (double v : {p.compression,     p.gamma,      p.lcStrength, p.highlights,
                     p.shadows,         p.blackness,  p.range,      p.micro,
                     p.maskStrength,    p.blackClip,  p.whiteClip,  p.blackClipResult,
                     p.whiteClipResult, p.blackLevel, p.whiteLevel, p.sharpness,
                     p.temperature,     p.tint,       p.hue,        p.saturation})
        d.add(v);
    for (bool b : {p.localContrastEnabled, p.maskEnabled, p.autoClipping})
        d.add(b);
    for (const auto* list : {&p.brightnessSelective, &p.hueSelective}) {
        d.add(list->size());
        for (const selKneePoints_t& k : *list)
            for (double v : {k.x, k.y, k.sigma})
                d.add(v);
    }
    for (const curveSettings_t& c : p.curves) {
        d.add(c.type);
        d.add(c.identity);
        d.add(c.kneePoints.size());
        for (const curvePoint_t& k : c.kneePoints)
            for (double v : {k.x, k.y})
                d.add(v);
    }
    return d.value();
}

bool sameCurve(const curveSettings_t& a, const curveSettings_t& b) {
    if (a.type != b.type || a.identity != b.identity || a.kneePoints.size() != b.kneePoints.size())
        return false;
    for (size_t i = 0; i < a.kneePoints.size(); ++i)
        if (std::memcmp(&a.kneePoints[i], &b.kneePoints[i], sizeof(curvePoint_t)) != 0) return false;
    return true;
}

/// True for one set of parameters in kSampleEvery, chosen by its digest (so an input's outcome does
/// not depend on the inputs before it), and only the first time that set is seen.
constexpr uint64_t kSampleEvery = 64;
bool sampled(const toneMappingParameters_t& p) {
    const uint64_t d = parameterDigest(p);
    if (d % kSampleEvery != 0) return false;
    static std::unordered_set<uint64_t> seen;
    if (seen.size() > (1u << 22)) seen.clear(); // a long campaign: forget rather than grow without end
    return seen.insert(d).second;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Keep the options (and the debug log level) away from the real user configuration.
    const QString root = QDir::tempPath() + "/halvora-fuzz-settings";
    QDir().mkpath(root);
    qputenv("XDG_CONFIG_HOME", root.toLocal8Bit());
    qputenv("HOME", root.toLocal8Bit());
    // One thread unless HALVORA_FUZZ_THREADS asks for more: handing 32641 entries to a pool thread
    // costs more than computing them, and the split loops are covered by the reader targets.
    const char* threads = getenv("HALVORA_FUZZ_THREADS");
    halvora::setThreadCountOverride(threads ? std::max(1, atoi(threads)) : 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    toneMappingSettings_t& s = settings();
    s.parameters() = toneMappingParameters_t();
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    if (halvora::loadSettingsText(content, s, (size & 1) != 0) != halvora::settingsLoadOk) return 0;
    for (double v : {s.compression, s.gamma, s.lcStrength, s.whiteLevel, s.blackLevel, s.saturation, s.hue})
        if (!std::isfinite(v)) std::abort();
    if (!(s.whiteLevel > s.blackLevel)) std::abort();

    if (!sampled(s.parameters())) return 0;

    // Curves and output tables, rebuilt where what they are built from changed, so the tables always
    // belong to this input's parameters.
    static curveSettings_t builtCurves[4];
    static bool builtOnce = false;
    static double builtGamma = 0;
    bool changed[4];
    for (int c = 0; c < 4; ++c) {
        changed[c] = !builtOnce || !sameCurve(s.curves[c], builtCurves[c]);
        if (changed[c]) {
            halvora::generateCurveTable(s, c);
            builtCurves[c] = s.curves[c];
        }
    }
    for (int c = 0; c < 3; ++c) {
        if (builtOnce && s.gamma == builtGamma && !changed[0] && !changed[c + 1]) continue;
        halvora::generateLUT(s, c);
        const auto& lut = s.tables.outputLUT[size_t(c)];
        for (size_t j = 0; j < lut.size(); j += 97)
            if (!(lut[j] >= 0 && lut[j] <= 1)) std::abort();
    }
    builtOnce = true;
    builtGamma = s.gamma;

    // A tiny picture through the chain with every step the file switched on.
    static const std::vector<float> picture = [] {
        std::vector<float> p(16 * 3);
        for (size_t i = 0; i < p.size(); ++i)
            p[i] = float(i % 7) / 6.0f;
        return p;
    }();
    static const std::vector<uint16_t> plane(16, 20000);
    halvora::toneMapSource_t source;
    source.width = 4;
    source.height = 4;
    source.hdr = picture.data();
    source.lcPlaneFine = source.lcPlaneMedium = source.lcPlaneCoarse = source.maskPlane = plane.data();
    std::vector<uint8_t> out(16 * 3);
    halvora::toneMapPreviewPasses(s, source, nullptr, out.data(), false);
    return 0;
}
