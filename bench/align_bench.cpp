// Automatic alignment: speed, accuracy on known transforms, and sharpness on a hand-held bracket,
// each against align_image_stack (Debian hugin-tools) run as a black box on the same photos.
//
//   align_bench [speed [runs]] [accuracy [case]] [handheld] [-v] [--no-peer]
//
// speed     — the 12-megapixel night bracket IMG_3869/3872/3875 (decoded with QImage beforehand):
//             wall time of autoAlign + applyAlignment with automatic cropping, best and median of
//             several runs, then one timed `align_image_stack -a /tmp/… -C` on the same files.
// accuracy  — real photos warped by known transforms (shift up to 80 px, rotation up to 3°, mild
//             perspective) with the exposure moved ±2 EV through the sRGB curve; the error of the four
//             image corners in pixels, mean and maximum, for both programs (align_image_stack's
//             transform is read back through pano_trafo).
// handheld  — the seven-frame hand-held xperia bracket: mean gradient energy of a plain average of
//             the photos, unaligned and aligned; crops of both are written to /tmp/align_handheld_*.png.
// -v        — print the alignment's debug log lines.
// --no-peer — leave align_image_stack out (profiling).

#include "align/autoAlign.h"
#include "base/debugLog.h"
#include "base/parallelFor.h"
#include "base/runContext.h"
#include "hdr/mergeWeights.h"
#include "hdr/responseCurve.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <vector>

using namespace halvora;

namespace {

bool runPeer = true;
int onlyCase = 0; ///< accuracy: run only this case (1-based), for a closer look with -v
const QString kBrackets = QStringLiteral(HALVORA_DATA_DIR "/brackets");

struct photo {
    QString path;
    rgb16Buffer pixels;
    double lnExposure = 0;
};

/// Exposure (time × ISO ÷ N²) of every file listed in a bracket's SOURCE.txt.
std::map<QString, double> exposuresOf(const QString& folder) {
    std::map<QString, double> result;
    QFile file(folder + "/SOURCE.txt");
    if (!file.open(QIODevice::ReadOnly)) return result;
    const QRegularExpression re(R"(^\s+(\S+) \|.*\| t=([0-9./]+)s f/([0-9.]+) ISO([0-9]+) )");
    for (const QByteArray& line : file.readAll().split('\n')) {
        const auto m = re.match(QString::fromUtf8(line));
        if (!m.hasMatch()) continue;
        const QStringList t = m.captured(2).split('/');
        const double time = t.size() == 2 ? t[0].toDouble() / t[1].toDouble() : t[0].toDouble();
        const double n = m.captured(3).toDouble();
        result[m.captured(1)] = time * m.captured(4).toDouble() / (n * n);
    }
    return result;
}

QImage decode(const QString& path) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    return reader.read().convertToFormat(QImage::Format_RGB888);
}

bool toBuffer(const QImage& image, rgb16Buffer& out) {
    if (image.isNull() || !out.allocate(image.width(), image.height())) return false;
    for (int y = 0; y < image.height(); ++y) {
        const uchar* line = image.constScanLine(y);
        uint16_t* d = out.pixels() + size_t(y) * image.width() * 3;
        for (int i = 0; i < image.width() * 3; ++i)
            d[i] = uint16_t(line[i] * 128);
    }
    return true;
}

QImage toImage(const rgb16Buffer& b) {
    QImage image(b.width, b.height, QImage::Format_RGB888);
    for (int y = 0; y < b.height; ++y) {
        uchar* line = image.scanLine(y);
        const uint16_t* s = b.pixels() + size_t(y) * b.width * 3;
        for (int i = 0; i < b.width * 3; ++i)
            line[i] = uchar(std::min(255, s[i] >> 7));
    }
    return image;
}

/// The tables the equalisation reads, made once.
struct tables {
    std::vector<double> standard = standardCurveTable();
    std::vector<double> bright = std::vector<double>(kSampleTableSize),
                        dark = std::vector<double>(kSampleTableSize);
    tables() { buildClosenessTables(bright.data(), dark.data()); }
};
const tables& sharedTables() {
    static const tables t;
    return t;
}

/// Aligns `photos` to photos[reference]; transforms per photo, false on failure.
bool alignPhotos(const std::vector<photo>& photos, int reference, std::vector<alignTransform>& transforms,
                 QString& error) {
    autoAlignRequest request;
    request.width = photos[0].pixels.width;
    request.height = photos[0].pixels.height;
    request.reference = reference;
    double lo = 0, hi = 0;
    for (const photo& p : photos) {
        request.lnExposure.push_back(p.lnExposure - photos[size_t(reference)].lnExposure);
        lo = std::min(lo, request.lnExposure.back());
        hi = std::max(hi, request.lnExposure.back());
        request.names.push_back(QFileInfo(p.path).fileName());
    }
    request.lnEvMin = lo;
    request.lnEvMax = hi;
    request.standardCurve = sharedTables().standard.data();
    request.closenessBright = sharedTables().bright.data();
    request.closenessDark = sharedTables().dark.data();
    request.readPhoto = [&](int i, QString*) { return &photos[size_t(i)].pixels; };
    autoAlignResult result;
    const bool ok = autoAlign(request, result, &error);
    transforms = result.transforms;
    return ok;
}

/// Applies the transforms with automatic cropping; keeps the aligned pictures in *aligned when given
/// (otherwise they are dropped as soon as made, as a worker does once they are written).
bool applyTo(const std::vector<photo>& photos, const std::vector<alignTransform>& transforms,
             std::vector<rgb16Buffer>* aligned, alignCropRect& crop, QString& error) {
    applyAlignmentRequest apply;
    apply.width = photos[0].pixels.width;
    apply.height = photos[0].pixels.height;
    apply.transforms = transforms;
    apply.readPhoto = [&](int i, QString*) { return &photos[size_t(i)].pixels; };
    if (aligned) aligned->resize(photos.size());
    apply.writePhoto = [&](int i, rgb16Buffer& picture, QString*) {
        if (aligned) (*aligned)[size_t(i)] = std::move(picture);
        return true;
    };
    return applyAlignmentCrop(apply, crop, &error) && applyAlignment(apply, crop, &error);
}

/// CPU milliseconds of the whole process (all threads), to read timings on a busy machine.
double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

/// Runs a program, returns wall milliseconds (−1 when it failed).
double runTimed(const QString& program, const QStringList& args, QString* output = nullptr,
                const QByteArray& input = {}) {
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(program, args);
    if (!process.waitForStarted(10000)) return -1;
    if (!input.isEmpty()) process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(-1);
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    if (output) *output = QString::fromLocal8Bit(process.readAllStandardOutput());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program),
                     process.readAllStandardError().constData());
        return -1;
    }
    return ms;
}

// ---------------------------------------------------------------------------------------------- speed

int speed(int runs) {
    const QString folder = kBrackets + "/iphone_xr_night_9exp";
    const auto exposures = exposuresOf(folder);
    const QStringList files{"IMG_3869.jpeg", "IMG_3872.jpeg", "IMG_3875.jpeg"};
    std::vector<photo> photos(3);
    for (int i = 0; i < 3; ++i) {
        photos[size_t(i)].path = folder + "/" + files[i];
        if (!toBuffer(decode(photos[size_t(i)].path), photos[size_t(i)].pixels) ||
            !exposures.count(files[i])) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(photos[size_t(i)].path));
            return 1;
        }
        photos[size_t(i)].lnExposure = std::log(exposures.at(files[i]));
    }
    std::printf("== speed: %d × %d, 3 photos, %d threads\n", photos[0].pixels.width, photos[0].pixels.height,
                usableThreadCount());
    std::vector<double> alignMs, totalMs, alignCpu, applyCpu;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const double cpu0 = cpuMs();
        std::vector<alignTransform> transforms;
        QString error;
        if (!alignPhotos(photos, 1, transforms, error)) {
            std::fprintf(stderr, "alignment failed: %s\n", qPrintable(error));
            return 1;
        }
        const double aligned = double(timer.nsecsElapsed()) / 1e6;
        const double cpu1 = cpuMs();
        alignCropRect crop;
        if (!applyTo(photos, transforms, nullptr, crop, error)) {
            std::fprintf(stderr, "apply failed: %s\n", qPrintable(error));
            return 1;
        }
        alignMs.push_back(aligned);
        totalMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        alignCpu.push_back(cpu1 - cpu0);
        applyCpu.push_back(cpuMs() - cpu1);
        if (run == 0)
            for (int i = 0; i < 3; ++i) {
                const alignTransform& t = transforms[size_t(i)];
                std::printf("  photo %d: a = %.6f %.6f %.3f  %.6f %.6f %.3f  %.3g %.3g\n", i, t.a[0], t.a[1],
                            t.a[2], t.a[3], t.a[4], t.a[5], t.a[6], t.a[7]);
            }
        if (run == 0)
            std::printf("  crop %d × %d at (%d, %d)\n", crop.width(), crop.height(), crop.left, crop.top);
    }
    std::printf(
        "  halvora: align %.0f ms, align + resample %.0f ms (best); median %.0f / %.0f ms over %d runs\n",
        *std::min_element(alignMs.begin(), alignMs.end()), *std::min_element(totalMs.begin(), totalMs.end()),
        median(alignMs), median(totalMs), runs);
    std::printf("  cpu time (all threads, median): align %.0f ms, resample %.0f ms\n", median(alignCpu),
                median(applyCpu));
    if (!runPeer) return 0;
    QTemporaryDir dir;
    QStringList args{"-a", dir.path() + "/x", "-C"};
    for (const photo& p : photos)
        args << p.path;
    const double peer = runTimed("align_image_stack", args);
    if (peer < 0)
        std::printf("  align_image_stack: not run (install hugin-tools)\n");
    else
        std::printf("  align_image_stack -a … -C: %.0f ms (one run, decoding and writing TIFFs included)\n",
                    peer);
    return 0;
}

// ------------------------------------------------------------------------------------------- accuracy

struct matrix3 {
    double m[3][3];
    matrix3 operator*(const matrix3& o) const {
        matrix3 r{};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k)
                    r.m[i][j] += m[i][k] * o.m[k][j];
        return r;
    }
    alignPoint apply(double x, double y) const {
        const double w = m[2][0] * x + m[2][1] * y + m[2][2];
        return {(m[0][0] * x + m[0][1] * y + m[0][2]) / w, (m[1][0] * x + m[1][1] * y + m[1][2]) / w};
    }
    matrix3 inverse() const {
        const auto& a = m;
        const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                           a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                           a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
        matrix3 r;
        r.m[0][0] = (a[1][1] * a[2][2] - a[1][2] * a[2][1]) / det;
        r.m[0][1] = (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det;
        r.m[0][2] = (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det;
        r.m[1][0] = (a[1][2] * a[2][0] - a[1][0] * a[2][2]) / det;
        r.m[1][1] = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det;
        r.m[1][2] = (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det;
        r.m[2][0] = (a[1][0] * a[2][1] - a[1][1] * a[2][0]) / det;
        r.m[2][1] = (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det;
        r.m[2][2] = (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det;
        return r;
    }
};

/// A 64-bit LCG for the test transforms: the same cases in every run.
struct caseRandom {
    uint64_t s;
    double uniform(double lo, double hi) {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return lo + (hi - lo) * double(s >> 11) / 9007199254740992.0;
    }
};

double srgbToLinear(double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
double linearToSrgb(double v) {
    return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
}

double cubicWeight(double t) {
    // Catmull-Rom (a = −0.5).
    t = std::fabs(t);
    if (t < 1) return 1.5 * t * t * t - 2.5 * t * t + 1;
    if (t < 2) return -0.5 * t * t * t + 2.5 * t * t - 4 * t + 2;
    return 0;
}

/// The photo a camera moved by `t` (reference → photo) and exposed `ev` stops differently would
/// record: photo(X) = curve(2^ev × linear(original(T⁻¹(X) + margin))), bicubic, 8-bit like a JPEG.
void warpCase(const QImage& original, int margin, const matrix3& t, double ev, int w, int h, rgb16Buffer& ref,
              rgb16Buffer& out) {
    ref.allocate(w, h);
    out.allocate(w, h);
    for (int y = 0; y < h; ++y) {
        const uchar* line = original.constScanLine(y + margin);
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                ref.pixels()[(size_t(y) * w + x) * 3 + c] = uint16_t(line[(x + margin) * 3 + c] * 128);
    }
    uint8_t lut[256];
    for (int v = 0; v < 256; ++v)
        lut[v] = uint8_t(std::lround(
            255 *
            std::clamp(linearToSrgb(std::min(1.0, srgbToLinear(v / 255.0) * std::pow(2.0, ev))), 0.0, 1.0)));
    const matrix3 inv = t.inverse();
    const int ow = original.width(), oh = original.height();
    parallelFor(h, [&](int, int64_t y0, int64_t y1) {
        for (int64_t y = y0; y < y1; ++y)
            for (int x = 0; x < w; ++x) {
                const alignPoint s = inv.apply(x, double(y));
                const double sx = s.x + margin, sy = s.y + margin;
                const int ix = int(std::floor(sx)), iy = int(std::floor(sy));
                double acc[3] = {0, 0, 0};
                for (int j = -1; j <= 2; ++j) {
                    const double wy = cubicWeight(sy - (iy + j));
                    const uchar* line = original.constScanLine(std::clamp(iy + j, 0, oh - 1));
                    for (int i = -1; i <= 2; ++i) {
                        const double wxy = wy * cubicWeight(sx - (ix + i));
                        const int cx = std::clamp(ix + i, 0, ow - 1);
                        for (int c = 0; c < 3; ++c)
                            acc[c] += wxy * line[cx * 3 + c];
                    }
                }
                for (int c = 0; c < 3; ++c)
                    out.pixels()[(size_t(y) * w + x) * 3 + c] =
                        uint16_t(lut[std::clamp(int(std::lround(acc[c])), 0, 255)] * 128);
            }
    });
}

/// align_image_stack's map of reference positions to photo positions, read back through pano_trafo.
bool peerCorners(const QString& dir, const rgb16Buffer& ref, const rgb16Buffer& moved, const alignPoint in[4],
                 alignPoint out[4], double& ms) {
    const QString a = dir + "/ref.png", b = dir + "/photo.png", pto = dir + "/case.pto";
    if (!toImage(ref).save(a) || !toImage(moved).save(b)) return false;
    QFile::remove(pto);
    ms = runTimed("align_image_stack", {"--use-given-order", "-p", pto, a, b});
    if (ms < 0) return false;
    QByteArray points;
    for (int k = 0; k < 4; ++k)
        points += QByteArray::number(in[k].x, 'f', 3) + " " + QByteArray::number(in[k].y, 'f', 3) + "\n";
    QString panorama, back;
    if (runTimed("pano_trafo", {pto, "0"}, &panorama, points) < 0) return false;
    if (runTimed("pano_trafo", {"-r", pto, "1"}, &back, panorama.toLatin1()) < 0) return false;
    const QStringList values = back.simplified().split(' ');
    if (values.size() < 8) return false;
    for (int k = 0; k < 4; ++k)
        out[k] = {values[2 * k].toDouble(), values[2 * k + 1].toDouble()};
    return true;
}

int accuracy() {
    struct source {
        const char* folder;
        const char* file;
        int margin;
    };
    const source sources[] = {{"desk_canon_s45_13exp", "img07.jpg", 130},
                              {"ghost_horse_3exp", "2.png", 130},
                              {"xperia_library_handheld_7exp", "20240401_185503.JPG", 260},
                              {"iphone_xr_night_9exp", "IMG_3874.jpeg", 260}};
    caseRandom random{20240611};
    std::vector<double> ours, peer;
    double oursMax = 0, peerMax = 0;
    int failures = 0, peerFailures = 0, caseNumber = 0;
    QTemporaryDir dir;
    std::printf("== accuracy: error of the four image corners (pixels)\n");
    for (const source& src : sources) {
        const QImage original = decode(kBrackets + "/" + src.folder + "/" + src.file);
        if (original.isNull()) {
            std::fprintf(stderr, "cannot read %s\n", src.file);
            return 1;
        }
        const int w = original.width() - 2 * src.margin, h = original.height() - 2 * src.margin;
        for (int k = 0; k < 6; ++k) {
            // Shift up to 80 px, rotation up to 3° about the centre, perspective moving the far edge by
            // up to about 1.5 %, exposure ±2 EV; drawn again until the warped frame stays inside the
            // original, so the photo has real content everywhere.
            matrix3 t{};
            double dx = 0, dy = 0, theta = 0;
            for (int attempt = 0;; ++attempt) {
                dx = random.uniform(-80, 80);
                dy = random.uniform(-80, 80);
                theta = random.uniform(-3, 3) * M_PI / 180;
                const double p6 = random.uniform(-0.015, 0.015) / (w / 2.0),
                             p7 = random.uniform(-0.015, 0.015) / (h / 2.0);
                const matrix3 toCentre{{{1, 0, -w / 2.0}, {0, 1, -h / 2.0}, {0, 0, 1}}};
                const matrix3 back{{{1, 0, w / 2.0 + dx}, {0, 1, h / 2.0 + dy}, {0, 0, 1}}};
                const matrix3 rotate{{{std::cos(theta), -std::sin(theta), 0},
                                      {std::sin(theta), std::cos(theta), 0},
                                      {0, 0, 1}}};
                const matrix3 perspective{{{1, 0, 0}, {0, 1, 0}, {p6, p7, 1}}};
                t = back * rotate * perspective * toCentre;
                const matrix3 inv = t.inverse();
                bool inside = true;
                for (const alignPoint c :
                     {alignPoint{0, 0}, alignPoint{double(w - 1), 0}, alignPoint{0, double(h - 1)},
                      alignPoint{double(w - 1), double(h - 1)}}) {
                    const alignPoint s = inv.apply(c.x, c.y);
                    inside = inside && s.x + src.margin >= 2 && s.y + src.margin >= 2 &&
                             s.x + src.margin <= original.width() - 3 &&
                             s.y + src.margin <= original.height() - 3;
                }
                if (inside || attempt > 1000) break;
            }
            const double ev = getenv("ALIGN_EV0") ? 0.0 : (k % 2 == 0) ? 2.0 : -2.0;
            if (onlyCase > 0 && caseNumber + 1 != onlyCase) {
                ++caseNumber;
                continue;
            }
            std::vector<photo> photos(2);
            warpCase(original, src.margin, t, ev, w, h, photos[0].pixels, photos[1].pixels);
            photos[0].path = QString("%1 (reference)").arg(src.file);
            photos[1].path = QString("%1 (warped)").arg(src.file);
            photos[1].lnExposure = ev * std::log(2.0);
            std::vector<alignTransform> transforms;
            QString error;
            QElapsedTimer timer;
            timer.start();
            const bool ok = alignPhotos(photos, 0, transforms, error);
            const double ourMs = double(timer.nsecsElapsed()) / 1e6;
            const alignPoint corners[4] = {
                {0, 0}, {double(w - 1), 0}, {0, double(h - 1)}, {double(w - 1), double(h - 1)}};
            double worst = 0, sum = 0;
            for (const alignPoint& c : corners) {
                const alignPoint truth = t.apply(c.x, c.y), found = transforms[1].map(c.x, c.y);
                const double e = ok ? std::hypot(found.x - truth.x, found.y - truth.y) : 1e9;
                worst = std::max(worst, e);
                sum += e;
                ours.push_back(e);
            }
            if (!ok)
                ++failures;
            else
                oursMax = std::max(oursMax, worst);
            alignPoint peerFound[4];
            double peerMs = 0, peerWorst = 0, peerSum = 0;
            const bool peerOk = runPeer && peerCorners(dir.path(), photos[0].pixels, photos[1].pixels,
                                                       corners, peerFound, peerMs);
            for (int c = 0; c < 4 && peerOk; ++c) {
                const alignPoint truth = t.apply(corners[c].x, corners[c].y);
                const double e = std::hypot(peerFound[c].x - truth.x, peerFound[c].y - truth.y);
                peerWorst = std::max(peerWorst, e);
                peerSum += e;
                peer.push_back(e);
            }
            if (peerOk)
                peerMax = std::max(peerMax, peerWorst);
            else
                ++peerFailures;
            std::printf("  case %2d %-20s %4d×%-4d shift %+5.1f,%+5.1f turn %+.2f° ev %+.0f: halvora mean "
                        "%6.3f max %6.3f (%5.0f ms)%s | "
                        "align_image_stack mean %7.3f max %7.3f (%5.0f ms)%s\n",
                        ++caseNumber, src.file, w, h, dx, dy, theta * 180 / M_PI, ev, ok ? sum / 4 : 0.0,
                        ok ? worst : 0.0, ourMs, ok ? "" : qPrintable(" FAILED: " + error),
                        peerOk ? peerSum / 4 : 0.0, peerWorst, peerMs, peerOk ? "" : " FAILED");
        }
    }
    auto mean = [](const std::vector<double>& v) {
        double s = 0;
        int n = 0;
        for (double e : v)
            if (e < 1e8) {
                s += e;
                ++n;
            }
        return n ? s / n : 0.0;
    };
    std::printf("  halvora:           mean %.3f px, max %.3f px over %d cases (%d failed)\n", mean(ours),
                oursMax, caseNumber, failures);
    std::printf("  align_image_stack: mean %.3f px, max %.3f px over %d cases (%d failed)\n", mean(peer),
                peerMax, caseNumber - peerFailures, peerFailures);
    return failures ? 2 : 0;
}

// ------------------------------------------------------------------------------------------- handheld

/// Mean of gx² + gy² (central differences) of the luminance of an average picture (8-bit scale).
double gradientEnergy(const std::vector<double>& luma, int w, int h) {
    double sum = 0;
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x) {
            const double gx = (luma[size_t(y) * w + x + 1] - luma[size_t(y) * w + x - 1]) / 2;
            const double gy = (luma[size_t(y + 1) * w + x] - luma[size_t(y - 1) * w + x]) / 2;
            sum += gx * gx + gy * gy;
        }
    return sum / (double(w - 2) * (h - 2));
}

/// The plain average of the pictures' crop (x0, y0, w, h), as an 8-bit RGB picture and its luminance.
QImage averageOf(const std::vector<const rgb16Buffer*>& pictures, int x0, int y0, int w, int h,
                 std::vector<double>& luma) {
    QImage image(w, h, QImage::Format_RGB888);
    luma.assign(size_t(w) * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double rgb[3] = {0, 0, 0};
            for (const rgb16Buffer* p : pictures)
                for (int c = 0; c < 3; ++c)
                    rgb[c] += p->pixels()[(size_t(y + y0) * p->width + x + x0) * 3 + c] / 128.0;
            for (double& v : rgb)
                v /= double(pictures.size());
            uchar* px = image.scanLine(y) + x * 3;
            for (int c = 0; c < 3; ++c)
                px[c] = uchar(std::lround(rgb[c]));
            luma[size_t(y) * w + x] = 0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2];
        }
    return image;
}

int handheld() {
    const QString folder = kBrackets + "/xperia_library_handheld_7exp";
    const auto exposures = exposuresOf(folder);
    const QStringList files = QDir(folder).entryList({"*.JPG"}, QDir::Files, QDir::Name);
    std::vector<photo> photos(size_t(files.size()));
    for (int i = 0; i < files.size(); ++i) {
        photos[size_t(i)].path = folder + "/" + files[i];
        if (!toBuffer(decode(photos[size_t(i)].path), photos[size_t(i)].pixels) || !exposures.count(files[i]))
            return 1;
        photos[size_t(i)].lnExposure = std::log(exposures.at(files[i]));
    }
    const int reference = int(photos.size()) / 2;
    std::vector<alignTransform> transforms;
    QString error;
    if (!alignPhotos(photos, reference, transforms, error)) {
        std::fprintf(stderr, "alignment failed: %s\n", qPrintable(error));
        return 1;
    }
    std::vector<rgb16Buffer> aligned;
    alignCropRect crop;
    if (!applyTo(photos, transforms, &aligned, crop, error)) {
        std::fprintf(stderr, "apply failed: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("== handheld: %d photos, reference %d, crop %d × %d at (%d, %d)\n", int(photos.size()),
                reference, crop.width(), crop.height(), crop.left, crop.top);
    for (size_t i = 0; i < transforms.size(); ++i)
        std::printf("  %s: shift %.2f, %.2f\n", qPrintable(files[int(i)]), transforms[i].a[2],
                    transforms[i].a[5]);
    // The same area in both averages: the crop rectangle of the reference frame.
    std::vector<const rgb16Buffer*> before, after;
    for (size_t i = 0; i < photos.size(); ++i) {
        before.push_back(&photos[i].pixels);
        after.push_back(&aligned[i]);
    }
    std::vector<double> lumaBefore, lumaAfter;
    const QImage unalignedAverage =
        averageOf(before, crop.left, crop.top, crop.width(), crop.height(), lumaBefore);
    const QImage alignedAverage = averageOf(after, 0, 0, crop.width(), crop.height(), lumaAfter);
    const double eBefore = gradientEnergy(lumaBefore, crop.width(), crop.height());
    const double eAfter = gradientEnergy(lumaAfter, crop.width(), crop.height());
    std::printf("  mean gradient energy of the average: unaligned %.2f, aligned %.2f (%.2f ×)\n", eBefore,
                eAfter, eAfter / eBefore);
    const QRect centre(crop.width() / 2 - 400, crop.height() / 2 - 300, 800, 600);
    const QRect corner(40, 40, 800, 600);
    unalignedAverage.copy(centre).save("/tmp/align_handheld_unaligned_centre.png");
    alignedAverage.copy(centre).save("/tmp/align_handheld_aligned_centre.png");
    unalignedAverage.copy(corner).save("/tmp/align_handheld_unaligned_corner.png");
    alignedAverage.copy(corner).save("/tmp/align_handheld_aligned_corner.png");
    std::printf("  crops: /tmp/align_handheld_{unaligned,aligned}_{centre,corner}.png\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.removeAll("-v")) setDebugLogListener([](const char* text) { std::fputs(text, stdout); });
    // `./run bench` hands every benchmark the options of the Google Benchmark programs.
    args.removeIf([](const QString& a) { return a.startsWith("--benchmark"); });
    if (args.removeAll("--no-peer")) runPeer = false;
    if (args.isEmpty()) args = QStringList{"speed", "accuracy", "handheld"};
    if (!QDir(kBrackets).exists()) {
        std::fprintf(stderr, "test data folder %s is absent\n", qPrintable(kBrackets));
        return 1;
    }
    runContext context;
    runContext::scope bound(context);
    int status = 0;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "speed") {
            const int runs = i + 1 < args.size() && args[i + 1].toInt() > 0 ? args[++i].toInt() : 5;
            status |= speed(runs);
        } else if (args[i] == "accuracy") {
            if (i + 1 < args.size() && args[i + 1].toInt() > 0) onlyCase = args[++i].toInt();
            status |= accuracy();
        } else if (args[i] == "handheld") {
            status |= handheld();
        } else {
            std::fprintf(stderr, "unknown part %s\n", qPrintable(args[i]));
            return 1;
        }
    }
    return status;
}
