// HDR core benchmark: response recovery, the three merge methods and the HDR preprocess on the
// 12-megapixel 3-shot bracket IMG_3869/3872/3875 of iphone_xr_night_9exp.
// Usage: hdr_core [data folder]   (default: the build's ../shared/data, or $HALVORA_DATA_DIR)

#include "hdr/responseCurve.h"
#include "imageio/imageTransform.h"
#include "project/exposureValues.h"
#include "project/generateHDRworker.h"
#include "project/processingProject.h"
#include "project/responseRecovery.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <sys/resource.h>

namespace {

struct shot {
    const char* file;
    float time;
};

bool addPhoto(processingProject& project, const QString& path, float exposureTime) {
    QImageReader reader(path);
    reader.setAutoTransform(false);
    QImage image = reader.read();
    if (image.isNull()) return false;
    image = image.convertToFormat(QImage::Format_RGB888);
    const int w = image.width(), h = image.height();
    if (project.photos.empty() && !project.setImageSize(w, h)) return false;
    if (w != project.width || h != project.height) return false;
    std::vector<uint16_t> pixels(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        const uchar* line = image.constScanLine(y);
        for (int i = 0; i < w * 3; ++i)
            pixels[size_t(y) * w * 3 + i] = uint16_t(line[i] * 128);
    }
    auto photo = std::make_unique<photoEntry>();
    photo->id = project.photoIdCounter++;
    photo->fileName = path;
    photo->exif.exposureTime = exposureTime;
    photo->exif.fNumber = 1.8f;
    photo->exif.iso = 1000;
    photo->included = true;
    if (!photo->preview.allocate(project.previewWidth, project.previewHeight)) return false;
    halvora::downscaleRgb16(pixels.data(), w, h, project.previewDivisor, photo->preview.pixels());
    photo->previewPlane = std::make_unique<uint8_t[]>(size_t(project.previewWidth) * project.previewHeight);
    photo->thumbnail = halvora::buildThumbnail(photo->preview.pixels(), project.previewWidth,
                                               project.previewHeight, photo->meanBrightness);
    if (!project.writeToTempFile(*photo, photoEntry::slotCurrent, pixels.data(), pixels.size() * 2))
        return false;
    project.photos.push_back(std::move(photo));
    return true;
}

// Best of `runs` timings in seconds; `setup` runs untimed before each.
double timeBest(int runs, const std::function<void()>& setup, const std::function<bool()>& step) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        setup();
        QElapsedTimer timer;
        timer.start();
        if (!step()) {
            std::fprintf(stderr, "step failed\n");
            return -1;
        }
        best = std::min(best, timer.nsecsElapsed() * 1e-9);
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString data = argc > 1 ? QString(argv[1]) : qEnvironmentVariable("HALVORA_DATA_DIR");
    if (data.isEmpty()) data = HALVORA_DATA_DIR;
    const QString folder = data + "/brackets/iphone_xr_night_9exp/";
    QTemporaryDir scratch;
    processingProject project(nullptr, scratch.path());
    const shot shots[3] = {
        {"IMG_3869.jpeg", 1 / 250.f}, {"IMG_3872.jpeg", 1 / 29.f}, {"IMG_3875.jpeg", 1 / 4.f}};
    for (const shot& s : shots)
        if (!addPhoto(project, folder + s.file, s.time)) {
            std::fprintf(stderr, "cannot load %s\n", qPrintable(folder + s.file));
            return 1;
        }
    halvora::chooseEVsAfterLoading(project);
    const double mp = double(project.width) * project.height / 1e6;
    std::printf("bracket: 3 photos %d x %d (%.2f MP), preview %d x %d, threads %d\n", project.width,
                project.height, mp, project.previewWidth, project.previewHeight, QThread::idealThreadCount());

    generateHDRworker worker(&project);
    worker.method = generateHDRworker::trueHDR;
    project.responseCurveValid = true; // tables only; the recovery is timed on its own
    worker.prepareWeightTables();
    const double recovery = timeBest(
        3, [&] { project.responseCurveValid = false; },
        [&] { return halvora::recoverResponseCurve(project); });

    const double trueHdr = timeBest(
        3, [] {}, [&] { return worker.generateHDR_core(); });
    // The first preprocess builds its curve tables once per process; it is timed apart.
    QElapsedTimer first;
    first.start();
    worker.hdrPreprocess();
    const double preprocessFirst = first.nsecsElapsed() * 1e-9;
    const double preprocess = timeBest(
        3, [&] { worker.generateHDR_core(); }, [&] { return worker.hdrPreprocess(); });

    generateHDRworker smart(&project);
    smart.method = generateHDRworker::smartMerge;
    smart.prepareWeightTables();
    const double smartMerge = timeBest(
        2, [] {}, [&] { return smart.generateHDR_core(); });

    generateHDRworker stack(&project);
    stack.method = generateHDRworker::stack;
    stack.prepareWeightTables();
    const double stackMerge = timeBest(
        3, [] {}, [&] { return stack.generateHDR_core(); });

    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%-34s %10s %12s\n", "step", "seconds", "MP/s");
    std::printf("%-34s %10.3f %12s\n", "response-curve recovery", recovery, "-");
    std::printf("%-34s %10.3f %12.1f\n", "True HDR merge", trueHdr, mp / trueHdr);
    std::printf("%-34s %10.3f %12.1f\n", "Smart Merge (with masks)", smartMerge, mp / smartMerge);
    std::printf("%-34s %10.3f %12.1f\n", "Stack", stackMerge, mp / stackMerge);
    std::printf("%-34s %10.3f %12.1f\n", "HDR preprocess", preprocess, mp / preprocess);
    std::printf("%-34s %10.3f %12.1f\n", "HDR preprocess (first, with tables)", preprocessFirst,
                mp / preprocessFirst);
    std::printf("peak RSS: %.1f MB\n", usage.ru_maxrss / 1024.0);
    return 0;
}
