#include "project/hdrTestSupport.h"

#include "imageio/imageTransform.h"
#include "support/testSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QThread>
#include <algorithm>
#include <cmath>

namespace hdrtest {

namespace {

float rgbeToFloat(uint8_t mantissa, uint8_t exponent) {
    if (exponent == 0) return 0.0f;
    return std::ldexp((mantissa + 0.5f) / 256.0f, int(exponent) - 128);
}

} // namespace

bool readRgbe(const QString& path, radianceImage& out) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray data = file.readAll();
    qsizetype pos = 0;
    // Header lines up to an empty line, then the resolution line.
    for (;;) {
        const qsizetype end = data.indexOf('\n', pos);
        if (end < 0) return false;
        const QByteArray line = data.mid(pos, end - pos);
        pos = end + 1;
        if (line.isEmpty()) break;
    }
    const qsizetype end = data.indexOf('\n', pos);
    if (end < 0) return false;
    const QList<QByteArray> res = data.mid(pos, end - pos).split(' ');
    pos = end + 1;
    if (res.size() != 4 || res[0] != "-Y" || res[2] != "+X") return false;
    const int h = res[1].toInt(), w = res[3].toInt();
    if (w <= 0 || h <= 0 || w > 100000 || h > 100000) return false;
    out.width = w;
    out.height = h;
    out.rgb.assign(size_t(w) * h * 3, 0.0f);
    std::vector<uint8_t> scan(size_t(w) * 4);
    const auto byteAt = [&](qsizetype i) { return i < data.size() ? uint8_t(data[i]) : uint8_t(0); };
    for (int y = 0; y < h; ++y) {
        if (pos + 4 > data.size()) return false;
        if (w >= 8 && w < 32768 && byteAt(pos) == 2 && byteAt(pos + 1) == 2 &&
            (byteAt(pos + 2) & 0x80) == 0) {
            pos += 4;
            for (int c = 0; c < 4; ++c) {
                int x = 0;
                while (x < w) {
                    if (pos >= data.size()) return false;
                    int count = byteAt(pos++);
                    if (count > 128) {
                        count -= 128;
                        if (x + count > w) return false;
                        const uint8_t v = byteAt(pos++);
                        for (int k = 0; k < count; ++k)
                            scan[size_t(x++) * 4 + c] = v;
                    } else {
                        if (count == 0 || x + count > w) return false;
                        for (int k = 0; k < count; ++k)
                            scan[size_t(x++) * 4 + c] = byteAt(pos++);
                    }
                }
            }
        } else {
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 4; ++c)
                    scan[size_t(x) * 4 + c] = byteAt(pos++);
        }
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = &scan[size_t(x) * 4];
            for (int c = 0; c < 3; ++c)
                out.rgb[(size_t(y) * w + x) * 3 + c] = rgbeToFloat(p[c], p[3]);
        }
    }
    return true;
}

syntheticCamera::syntheticCamera(const halvora::responsePolynomial& response) : g(response) {
    table.resize(32641);
    for (int x = 0; x <= 32640; ++x)
        table[size_t(x)] = g.value(x / 32640.0);
}

uint16_t syntheticCamera::expose(double q) const {
    if (!(q > table.front())) return 0;
    if (q >= table.back()) return 32640;
    // Interpolated inverse: find x with table[x] <= q < table[x + 1].
    const auto it = std::upper_bound(table.begin(), table.end(), q);
    const int x = int(it - table.begin()) - 1;
    const double t = (q - table[size_t(x)]) / (table[size_t(x) + 1] - table[size_t(x)]);
    return uint16_t(std::lround(x + t));
}

bool decodePhoto(const QString& path, int reduce, photoData& out, int& w, int& h) {
    QImageReader reader(path);
    reader.setAutoTransform(false);
    if (reduce > 1) reader.setScaledSize(reader.size() / reduce);
    QImage image = reader.read();
    if (image.isNull()) return false;
    image = image.convertToFormat(QImage::Format_RGB888);
    w = image.width();
    h = image.height();
    out.pixels.resize(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < w * 3; ++i)
            out.pixels[size_t(y) * w * 3 + i] = uint16_t(image.constScanLine(y)[i] * 128);
    return true;
}

std::unique_ptr<processingProject> makeProject() {
    return std::make_unique<processingProject>(nullptr, halvora::test::makeTempDir("hdr"));
}

bool addPhotos(processingProject& project, int w, int h, const std::vector<photoData>& photos) {
    if (!project.setImageSize(w, h)) return false;
    for (const photoData& data : photos) {
        if (data.pixels.size() != size_t(w) * h * 3) return false;
        auto photo = std::make_unique<photoEntry>();
        photo->id = project.photoIdCounter++;
        photo->fileName = QString("photo%1.tif").arg(photo->id);
        photo->exif.exposureTime = data.exposureTime;
        photo->exif.fNumber = data.fNumber;
        photo->exif.iso = data.iso;
        photo->exif.exposureBias = data.exposureBias;
        photo->bitDepthClass = 2;
        photo->included = data.included;
        if (!photo->preview.allocate(project.previewWidth, project.previewHeight)) return false;
        halvora::downscaleRgb16(data.pixels.data(), w, h, project.previewDivisor, photo->preview.pixels());
        const size_t area = size_t(project.previewWidth) * project.previewHeight;
        photo->previewPlane = std::make_unique<uint8_t[]>(area);
        photo->thumbnail = halvora::buildThumbnail(photo->preview.pixels(), project.previewWidth,
                                                   project.previewHeight, photo->meanBrightness);
        if (!project.writeToTempFile(*photo, photoEntry::slotCurrent, data.pixels.data(),
                                     data.pixels.size() * 2))
            return false;
        project.photos.push_back(std::move(photo));
    }
    return true;
}

std::vector<photoData> exposeBracket(const radianceImage& scene, const syntheticCamera& camera, double scale,
                                     const std::vector<double>& evs) {
    std::vector<photoData> photos;
    for (double ev : evs) {
        photoData p;
        const double k = scale * std::exp2(ev);
        p.pixels.resize(scene.rgb.size());
        for (size_t i = 0; i < scene.rgb.size(); ++i)
            p.pixels[i] = camera.expose(scene.rgb[i] * k);
        p.exposureTime = float(std::exp2(ev) / 60.0);
        p.fNumber = 8.0f;
        p.iso = 100;
        photos.push_back(std::move(p));
    }
    return photos;
}

halvora::responsePolynomial gridCandidate(int o1, int o2, int o3, int o4) {
    halvora::responsePolynomial p;
    const double c[6] = {0.011572206254299083, 0.2524769884516882,   0.8850015088202797,
                         0.07465203573338197,  -0.19796856978236432, 1.084440338878309};
    p.n = 6;
    for (int j = 0; j < 6; ++j)
        p.c[j] = c[j];
    p.c[1] = c[1] * (1.0 + o1 / 10.0);
    p.c[2] = c[2] * (1.0 + o2 / 5.0);
    p.c[3] = c[3] * (1.0 + o3 / 5.0);
    p.c[4] = c[4] * (1.0 + o4 / 7.0);
    return p;
}

radianceImage rampScene(int width, int height) {
    radianceImage scene;
    scene.width = width;
    scene.height = height;
    scene.rgb.resize(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double e = std::exp2(-7.0 + 11.0 * x / (width - 1)) * (1.0 + 0.3 * std::sin(y * 0.7));
            float* p = &scene.rgb[(size_t(y) * width + x) * 3];
            p[0] = float(e * 1.2);
            p[1] = float(e);
            p[2] = float(e * 0.7);
        }
    return scene;
}

bool waitForRun(projectRun& run) {
    QElapsedTimer guard;
    guard.start();
    while (run.running() && guard.elapsed() < 120000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    QCoreApplication::processEvents();
    return !run.running();
}

} // namespace hdrtest
