// Loads the 3-shot bracket IMG_3869/3872/3875 (12 megapixels, EXIF-turned) into a project the way the
// main window does — preparation, then waves of load workers on threads of their own — and, in the
// same run, decodes the same files with djpeg as the floor. Prints the best and median of several
// runs, the ratio, and the peak resident memory.
//
//   photo_load [runs]

#include "base/hugePageBlock.h"
#include "project/loadPhotoWorker.h"
#include "project/processingProject.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

const char* const kFiles[] = {"IMG_3869.jpeg", "IMG_3872.jpeg", "IMG_3875.jpeg"};

// User + system CPU milliseconds of this process (who = RUSAGE_SELF) or its finished children.
double cpuMs(int who) {
    rusage u{};
    getrusage(who, &u);
    return (double(u.ru_utime.tv_sec) + double(u.ru_stime.tv_sec)) * 1e3 +
           (double(u.ru_utime.tv_usec) + double(u.ru_stime.tv_usec)) / 1e3;
}
double lastLoadCpu = 0, lastFloorCpu = 0;

// One load of the bracket into a fresh project; returns milliseconds, or -1 on failure.
double loadBracket(const QStringList& files, const QString& scratch) {
    // The project exists before photos are added (the main window builds it at start).
    processingProject project(nullptr, scratch);
    if (project.createFailed) return -1;
    QElapsedTimer timer;
    timer.start();
    const double cpu0 = cpuMs(RUSAGE_SELF);
    std::vector<std::unique_ptr<photoEntry>> pending;
    for (int i = 0; i < files.size(); ++i) {
        auto photo = std::make_unique<photoEntry>();
        photo->fileName = files[i];
        QString error;
        if (!project.loadPhotoPrepare(*photo, i, false, &error)) {
            std::fprintf(stderr, "prepare failed: %s\n", qPrintable(error));
            return -1;
        }
        pending.push_back(std::move(photo));
    }
    size_t next = 0;
    while (next < pending.size()) {
        QStringList names;
        for (size_t i = next; i < pending.size(); ++i)
            names << pending[i]->fileName;
        const int n = loadPhotoWorker::waveSize(project.width, project.height, names);
        std::vector<std::unique_ptr<pyramid>> own;
        std::vector<std::unique_ptr<loadPhotoWorker>> workers;
        std::vector<std::unique_ptr<QThread>> threads;
        for (int i = 0; i < n; ++i, ++next) {
            uint16_t* buffer = nullptr;
            if (i == 0)
                buffer = project.resultImage.data<uint16_t>();
            else if (i == 1)
                buffer = project.hdrImage.data<uint16_t>();
            else {
                own.push_back(std::make_unique<pyramid>());
                own.back()->init(project.width, project.height, 1, 2, 3, true);
                halvora::adviseHugePages(own.back()->data<uint8_t>(), own.back()->levelBytes(0));
                buffer = own.back()->data<uint16_t>();
            }
            workers.push_back(
                std::make_unique<loadPhotoWorker>(&project, std::move(pending[next]), buffer, i));
            loadPhotoWorker* worker = workers.back().get();
            threads.emplace_back(QThread::create([worker] { worker->loadPhoto(); }));
            threads.back()->start();
        }
        for (size_t i = 0; i < threads.size(); ++i) {
            threads[i]->wait();
            if (workers[i]->result() != loadPhotoWorker::loaded) {
                std::fprintf(stderr, "load failed (code %d)\n", workers[i]->result());
                return -1;
            }
            project.photos.push_back(workers[i]->takePhoto());
        }
    }
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    lastLoadCpu = cpuMs(RUSAGE_SELF) - cpu0;
    loadPhotoWorker::releaseStripBlocks();
    if (project.width != 4032 || project.height != 3024)
        std::fprintf(stderr, "note: project is %d x %d (EXIF orientation not applied)\n", project.width,
                     project.height);
    return ms;
}

double djpegFloor(const QStringList& files) {
    QElapsedTimer timer;
    timer.start();
    const double cpu0 = cpuMs(RUSAGE_CHILDREN);
    for (const QString& file : files) {
        QProcess djpeg;
        djpeg.start("djpeg", {"-outfile", "/dev/null", file});
        if (!djpeg.waitForFinished(60000) || djpeg.exitCode() != 0) return -1;
    }
    lastFloorCpu = cpuMs(RUSAGE_CHILDREN) - cpu0;
    return double(timer.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const QString folder = QStringLiteral(HALVORA_DATA_DIR) + "/brackets/iphone_xr_night_9exp";
    QStringList files;
    for (const char* name : kFiles)
        files << QFileInfo(folder + "/" + name).absoluteFilePath();
    for (const QString& f : files)
        if (!QFileInfo::exists(f)) {
            std::fprintf(stderr, "missing %s\n", qPrintable(f));
            return 1;
        }
    QTemporaryDir scratch;
    if (!scratch.isValid()) return 1;

    // Warm the file cache and the decoder plugin once.
    loadBracket(files, scratch.path());
    djpegFloor(files);

    std::vector<double> load, floor, loadCpu, floorCpu;
    for (int r = 0; r < runs; ++r) {
        const double l = loadBracket(files, scratch.path());
        const double f = djpegFloor(files);
        if (l < 0 || f < 0) return 1;
        load.push_back(l);
        floor.push_back(f);
        loadCpu.push_back(lastLoadCpu);
        floorCpu.push_back(lastFloorCpu);
    }
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    const double loadBest = *std::min_element(load.begin(), load.end());
    const double floorBest = *std::min_element(floor.begin(), floor.end());
    std::printf("photo_load: 3 x 12 MP JPEG (IMG_3869/3872/3875), %d runs, %d threads\n", runs,
                QThread::idealThreadCount());
    std::printf("  load into project   best %8.1f ms   median %8.1f ms\n", loadBest, median(load));
    std::printf("  djpeg floor (serial) best %7.1f ms   median %8.1f ms\n", floorBest, median(floor));
    std::printf("  ratio load / floor  best %8.2f      median %8.2f   (goal <= 1.5)\n", loadBest / floorBest,
                median(load) / median(floor));
    std::printf("  CPU time (user+sys) load median %7.1f ms, djpeg median %7.1f ms, ratio %.2f\n",
                median(loadCpu), median(floorCpu), median(loadCpu) / median(floorCpu));
    std::printf("  peak RSS            %8.1f MiB\n", double(self.ru_maxrss) / 1024.0);
    return 0;
}
