// RAW decoding and metadata transfer: the lossy Canon DNG of the data folder (1224 × 816) decoded at
// full size and its embedded preview extracted; a 20-megapixel uncompressed Bayer DNG (5472 × 3648,
// written here) decoded at full size, as a camera's file would be; and EXIF + profile transfer into a
// saved JPEG with the stay-open metadata tool already warm.
//
//   raw_metadata [--benchmark_min_time=…]

#include "imageio/exiftoolDaemon.h"
#include "imageio/rawConverter.h"
#include "imageio/rawLoadOptions.h"

#include <QColorSpace>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstring>
#include <memory>
#include <vector>

namespace {

QString dataFile(const char* relative) {
    return QString(HALVORA_DATA_DIR) + "/" + relative;
}

std::unique_ptr<QTemporaryDir> scratch;

// An uncompressed little-endian DNG holding a width × height 16-bit RGGB mosaic with a smooth pattern.
QString writeBayerDng(int width, int height) {
    struct entry {
        uint16_t tag, type;
        uint32_t count;
        std::vector<uint8_t> value;
    };
    auto shorts = [](std::initializer_list<uint16_t> v) {
        std::vector<uint8_t> b;
        for (uint16_t x : v)
            b.insert(b.end(), {uint8_t(x), uint8_t(x >> 8)});
        return b;
    };
    auto longs = [](std::initializer_list<uint32_t> v) {
        std::vector<uint8_t> b;
        for (uint32_t x : v)
            b.insert(b.end(), {uint8_t(x), uint8_t(x >> 8), uint8_t(x >> 16), uint8_t(x >> 24)});
        return b;
    };
    auto text = [](const char* s) { return std::vector<uint8_t>(s, s + std::strlen(s) + 1); };
    const uint32_t pixelBytes = uint32_t(width) * uint32_t(height) * 2;
    std::vector<uint8_t> identity;
    for (int i = 0; i < 9; ++i) {
        const auto r = longs({i % 4 == 0 ? 1u : 0u, 1u});
        identity.insert(identity.end(), r.begin(), r.end());
    }
    std::vector<entry> entries = {
        {254, 4, 1, longs({0})},
        {256, 4, 1, longs({uint32_t(width)})},
        {257, 4, 1, longs({uint32_t(height)})},
        {258, 3, 1, shorts({16})},
        {259, 3, 1, shorts({1})},
        {262, 3, 1, shorts({32803})},
        {271, 2, 8, text("Halvora")},
        {272, 2, 6, text("Bench")},
        {273, 4, 1, longs({0})},
        {277, 3, 1, shorts({1})},
        {278, 4, 1, longs({uint32_t(height)})},
        {279, 4, 1, longs({pixelBytes})},
        {284, 3, 1, shorts({1})},
        {33421, 3, 2, shorts({2, 2})},
        {33422, 1, 4, {0, 1, 1, 2}},
        {50706, 1, 4, {1, 4, 0, 0}},
        {50708, 2, 14, text("Halvora Bench")},
        {50717, 4, 1, longs({65535})},
        {50721, 10, 9, identity},
        {50778, 3, 1, shorts({21})},
    };
    const uint32_t ifdSize = 2 + 12 * uint32_t(entries.size()) + 4;
    uint32_t extraOffset = 8 + ifdSize;
    std::vector<uint8_t> head{'I', 'I', 42, 0, 8, 0, 0, 0}, extra;
    const auto count = shorts({uint16_t(entries.size())});
    head.insert(head.end(), count.begin(), count.end());
    size_t stripEntry = 0;
    for (const entry& e : entries) {
        auto fields = shorts({e.tag, e.type});
        const auto n = longs({e.count});
        fields.insert(fields.end(), n.begin(), n.end());
        if (e.tag == 273) stripEntry = head.size() + fields.size();
        if (e.value.size() <= 4) {
            std::vector<uint8_t> v = e.value;
            v.resize(4, 0);
            fields.insert(fields.end(), v.begin(), v.end());
        } else {
            const auto o = longs({extraOffset + uint32_t(extra.size())});
            fields.insert(fields.end(), o.begin(), o.end());
            extra.insert(extra.end(), e.value.begin(), e.value.end());
            if (extra.size() % 2) extra.push_back(0);
        }
        head.insert(head.end(), fields.begin(), fields.end());
    }
    head.insert(head.end(), {0, 0, 0, 0});
    head.insert(head.end(), extra.begin(), extra.end());
    const auto strip = longs({uint32_t(head.size())});
    std::copy(strip.begin(), strip.end(), head.begin() + long(stripEntry));

    const QString path = QDir(scratch->path()).filePath("bayer20mp.dng");
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(reinterpret_cast<const char*>(head.data()), qint64(head.size()));
    std::vector<uint16_t> row(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            row[size_t(x)] = uint16_t((x * 11 + y * 7) % 60000 + ((x ^ y) & 63));
        f.write(reinterpret_cast<const char*>(row.data()), qint64(row.size() * 2));
    }
    return path;
}

void decodeFull(benchmark::State& state, const QString& file) {
    rawInfo_t info;
    exifInfo_t exif;
    QString error;
    if (!halvora::getRAWinfo_DCRAW(file, false, info, exif, &error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    std::vector<uint16_t> rgb16(size_t(info.width) * info.height * 3);
    const QStringList args = halvora::buildDcrawArgs(rawLoadOptions{}, false);
    for (auto _ : state)
        if (!halvora::loadRAW_DCRAW(file, args, info.width, info.height, rgb16.data(), nullptr, &error))
            state.SkipWithError(qPrintable(error));
    state.counters["megapixels"] = double(info.width) * info.height / 1e6;
}

void BM_decodeLossyDng(benchmark::State& state) {
    decodeFull(state, dataFile("formats/raw/canon_eos_6d_lossy.dng"));
}

void BM_decodeBayer20MP(benchmark::State& state) {
    static const QString file = writeBayerDng(5472, 3648);
    decodeFull(state, file);
}

void BM_embeddedPreview(benchmark::State& state) {
    const QString file = dataFile("formats/raw/canon_eos_6d_lossy.dng");
    QImage preview;
    QString error;
    for (auto _ : state)
        if (!halvora::getThumbFromRAW_DCRAW(file, preview, &error)) state.SkipWithError(qPrintable(error));
}

void BM_exifAndProfileTransfer(benchmark::State& state) {
    exiftoolDaemon::settings_t settings;
    settings.scratchDirectory = scratch->path();
    settings.startCheckIntervalMs = 50;
    exiftoolDaemon daemon(settings);
    if (!daemon.waitForStartupCheck(30000)) {
        state.SkipWithError("exiftool is not available");
        return;
    }
    const QDir dir(scratch->path());
    const QString saved = dir.filePath("saved.jpg"), target = dir.filePath("result.jpg");
    const QString profile = dir.filePath("sRGB.icc");
    QImage(1600, 1200, QImage::Format_RGB888).save(saved, "JPEG", 90);
    QFile p(profile);
    p.open(QIODevice::WriteOnly);
    p.write(QColorSpace(QColorSpace::SRgb).iccProfile());
    p.close();
    const QString source = dataFile("brackets/desk_canon_s45_13exp/img01.jpg");
    const QString used = halvora::exiftoolUsedPhotoList({"img01.jpg", "img02.jpg", "img03.jpg"});
    // One untimed round, so the tool has loaded its JPEG and EXIF modules.
    QFile::remove(target);
    QFile::copy(saved, target);
    daemon.transferExif(source, target, used, exifResultKind::hdrToneMapped, 300);
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(target);
        QFile::copy(saved, target);
        state.ResumeTiming();
        QString error;
        if (!daemon.transferExif(source, target, used, exifResultKind::hdrToneMapped, 300, profile, &error))
            state.SkipWithError(qPrintable(error));
    }
}

BENCHMARK(BM_decodeLossyDng)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_decodeBayer20MP)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_embeddedPreview)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_exifAndProfileTransfer)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    scratch = std::make_unique<QTemporaryDir>();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    scratch.reset();
    return 0;
}
