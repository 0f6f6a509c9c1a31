// libFuzzer target: the tone-mapping settings reader (everything loadSettingsFile does after reading
// the file), then the table builders and one tone mapping with whatever it loaded, which must give
// no NaN and no out-of-range access.

#include "tonemap/picturePasses.h"
#include "tonemap/rebuildOnChange.h"
#include "tonemap/tableBuilders.h"
#include "tonemap/toneMappingSettingsFile.h"

#include <QByteArray>
#include <QDir>
#include <cmath>
#include <cstdint>
#include <cstdlib>
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

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Keep the options (and the debug log level) away from the real user configuration.
    const QString root = QDir::tempPath() + "/halvora-fuzz-settings";
    QDir().mkpath(root);
    qputenv("XDG_CONFIG_HOME", root.toLocal8Bit());
    qputenv("HOME", root.toLocal8Bit());
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

    // Curves and output tables (the 32 MiB local table only now and then: it is slow to build).
    for (int c = 0; c < 4; ++c)
        halvora::generateCurveTable(s, c);
    for (int c = 0; c < 3; ++c)
        halvora::generateLUT(s, c);
    for (const auto& lut : s.tables.outputLUT)
        for (size_t j = 0; j < lut.size(); j += 97)
            if (!(lut[j] >= 0 && lut[j] <= 1)) std::abort();

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
