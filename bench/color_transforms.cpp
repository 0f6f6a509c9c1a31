// Colour management costs: the colour-managed refresh of an 807 × 605 8-bit preview (working →
// monitor, what every tone-mapping preview adds) and "Convert to sRGB" on a 12-megapixel 16-bit
// picture, each against LittleCMS's own transform of the same profiles as the yardstick.
// The preview is a real photograph scaled to the preview size when the test data are present.

#include "base/parallelFor.h"
#include "color/colorManagement.h"

#include <QImage>
#include <benchmark/benchmark.h>
#include <lcms2.h>
#include <string>
#include <vector>

using namespace halvora;

namespace {

constexpr int kPreviewW = 807, kPreviewH = 605;
constexpr int kBigW = 4000, kBigH = 3000;

QImage preview() {
    QImage photo(QString(HALVORA_DATA_DIR) + "/brackets/desk_canon_s45_13exp/img07.jpg");
    if (!photo.isNull())
        return photo.scaled(kPreviewW, kPreviewH, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .convertToFormat(QImage::Format_RGB888);
    QImage synthetic(kPreviewW, kPreviewH, QImage::Format_RGB888);
    for (int y = 0; y < kPreviewH; ++y)
        for (int x = 0; x < kPreviewW * 3; ++x)
            synthetic.scanLine(y)[x] = uchar((x * 3 + y * 5) % 256);
    return synthetic;
}

/// Colour management with the photo taken as `input` (1 sRGB, 2 Adobe RGB, 4 ProPhoto) on the
/// monitor `monitor` (1 sRGB, 2 Adobe RGB, 3 Apple RGB, 4 ColorMatch).
bool setUp(colorManagement& cm, int input, int monitor) {
    colorSetupRequest_t r;
    r.options.enabled = true;
    r.options.inputProfile = input;
    r.options.outputProfile = monitor;
    r.profileDir = HALVORA_PROFILE_DIR;
    colorSetupResult_t result;
    QString error;
    return cm.setupForPhoto(r, result, &error);
}

void previewToMonitor(benchmark::State& state) {
    colorManagement cm;
    if (!setUp(cm, int(state.range(0)), int(state.range(1)))) {
        state.SkipWithError("colour management cannot be set up (profiles missing?)");
        return;
    }
    const QImage source = preview();
    QImage image = source.copy();
    for (auto _ : state) {
        cm.toMonitor(image);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kPreviewW * kPreviewH);
    static const char* const inputs[] = {"", "sRGB", "Adobe RGB", "Wide Gamut", "ProPhoto"};
    static const char* const monitors[] = {"", "sRGB", "Adobe RGB", "Apple RGB", "ColorMatch"};
    state.SetLabel(std::string(inputs[state.range(0)]) + " -> " + monitors[state.range(1)]);
}
BENCHMARK(previewToMonitor)
    ->Args({2, 1})
    ->Args({4, 4})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

/// LittleCMS's own transform from the shipped Adobe RGB to sRGB, the yardstick: converts rows of
/// a picture in place on the same threads the program's conversion uses.
class littleCmsAdobeToSrgb {
public:
    explicit littleCmsAdobeToSrgb(cmsUInt32Number format) {
        const QString dir = HALVORA_PROFILE_DIR;
        adobe_ = cmsOpenProfileFromFile((dir + "/AdobeRGB1998.icc").toLocal8Bit().constData(), "r");
        srgb_ = cmsOpenProfileFromFile((dir + "/sRGB.icm").toLocal8Bit().constData(), "r");
        if (adobe_ && srgb_)
            transform_ = cmsCreateTransform(adobe_, format, srgb_, format, INTENT_PERCEPTUAL, 0);
    }
    ~littleCmsAdobeToSrgb() {
        if (transform_) cmsDeleteTransform(transform_);
        if (adobe_) cmsCloseProfile(adobe_);
        if (srgb_) cmsCloseProfile(srgb_);
    }
    bool valid() const { return transform_ != nullptr; }
    void rows(uchar* bits, qsizetype stride, int width, int height) const {
        parallelFor(height, [&](int, int64_t begin, int64_t end) {
            for (int64_t y = begin; y < end; ++y)
                cmsDoTransform(transform_, bits + y * stride, bits + y * stride, cmsUInt32Number(width));
        });
    }

private:
    cmsHPROFILE adobe_ = nullptr, srgb_ = nullptr;
    cmsHTRANSFORM transform_ = nullptr;
};

void previewLittleCms(benchmark::State& state) {
    const littleCmsAdobeToSrgb yardstick(TYPE_RGB_8);
    if (!yardstick.valid()) {
        state.SkipWithError("profiles missing");
        return;
    }
    QImage image = preview();
    for (auto _ : state) {
        yardstick.rows(image.bits(), image.bytesPerLine(), kPreviewW, kPreviewH);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kPreviewW * kPreviewH);
}
BENCHMARK(previewLittleCms)->Unit(benchmark::kMillisecond)->UseRealTime();

std::vector<uint16_t>& bigPicture() {
    static std::vector<uint16_t> picture = [] {
        std::vector<uint16_t> p(size_t(kBigW) * kBigH * 3);
        for (int y = 0; y < kBigH; ++y)
            for (int x = 0; x < kBigW; ++x) {
                uint16_t* px = &p[(size_t(y) * kBigW + x) * 3];
                px[0] = uint16_t(x * 32640 / kBigW);
                px[1] = uint16_t(y * 32640 / kBigH);
                px[2] = uint16_t(((x + y) * 13) % 32641);
            }
        return p;
    }();
    return picture;
}

void pictureToSrgb(benchmark::State& state) {
    colorManagement cm;
    if (!setUp(cm, int(state.range(0)), 1)) {
        state.SkipWithError("colour management cannot be set up (profiles missing?)");
        return;
    }
    std::vector<uint16_t> picture = bigPicture();
    for (auto _ : state) {
        state.PauseTiming();
        picture = bigPicture();
        state.ResumeTiming();
        cm.toSrgbWorkingScale(picture.data(), kBigW, kBigH);
        benchmark::DoNotOptimize(picture.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kBigW * kBigH);
    state.SetLabel(state.range(0) == 2 ? "Adobe RGB" : "ProPhoto RGB");
}
BENCHMARK(pictureToSrgb)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

/// The same with LittleCMS's 16-bit transform (0 … 65535 rows, as the result writers pass them).
void pictureLittleCms(benchmark::State& state) {
    const littleCmsAdobeToSrgb yardstick(TYPE_RGB_16);
    if (!yardstick.valid()) {
        state.SkipWithError("profiles missing");
        return;
    }
    std::vector<uint16_t> picture = bigPicture();
    for (auto _ : state) {
        state.PauseTiming();
        picture = bigPicture();
        state.ResumeTiming();
        yardstick.rows(reinterpret_cast<uchar*>(picture.data()), qsizetype(kBigW) * 6, kBigW, kBigH);
        benchmark::DoNotOptimize(picture.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kBigW * kBigH);
}
BENCHMARK(pictureLittleCms)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
