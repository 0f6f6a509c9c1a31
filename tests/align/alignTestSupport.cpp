#include "align/alignTestSupport.h"

#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <cmath>

namespace aligntest {

using halvora::alignPoint;
using halvora::rgb16Buffer;

matrix3 multiply(const matrix3& a, const matrix3& b) {
    matrix3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                r[i][j] += a[i][k] * b[k][j];
    return r;
}

matrix3 inverse(const matrix3& a) {
    const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                       a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                       a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    matrix3 r;
    r[0] = {(a[1][1] * a[2][2] - a[1][2] * a[2][1]) / det, (a[0][2] * a[2][1] - a[0][1] * a[2][2]) / det,
            (a[0][1] * a[1][2] - a[0][2] * a[1][1]) / det};
    r[1] = {(a[1][2] * a[2][0] - a[1][0] * a[2][2]) / det, (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det,
            (a[0][2] * a[1][0] - a[0][0] * a[1][2]) / det};
    r[2] = {(a[1][0] * a[2][1] - a[1][1] * a[2][0]) / det, (a[0][1] * a[2][0] - a[0][0] * a[2][1]) / det,
            (a[0][0] * a[1][1] - a[0][1] * a[1][0]) / det};
    return r;
}

alignPoint apply(const matrix3& m, double x, double y) {
    const double w = m[2][0] * x + m[2][1] * y + m[2][2];
    return {(m[0][0] * x + m[0][1] * y + m[0][2]) / w, (m[1][0] * x + m[1][1] * y + m[1][2]) / w};
}

matrix3 cameraMotion(int w, int h, double dx, double dy, double degrees, double perspective) {
    const double t = degrees * M_PI / 180, cx = w / 2.0, cy = h / 2.0;
    const matrix3 toCentre{{{1, 0, -cx}, {0, 1, -cy}, {0, 0, 1}}};
    const matrix3 turn{{{std::cos(t), -std::sin(t), 0}, {std::sin(t), std::cos(t), 0}, {0, 0, 1}}};
    const matrix3 tilt{{{1, 0, 0}, {0, 1, 0}, {perspective / cx, 0, 1}}};
    const matrix3 back{{{1, 0, cx + dx}, {0, 1, cy + dy}, {0, 0, 1}}};
    return multiply(back, multiply(turn, multiply(tilt, toCentre)));
}

rgb16Buffer loadPhoto(const QString& path) {
    rgb16Buffer out;
    QImageReader reader(path);
    reader.setAutoTransform(false);
    const QImage image = reader.read().convertToFormat(QImage::Format_RGB888);
    if (image.isNull() || !out.allocate(image.width(), image.height())) return out;
    for (int y = 0; y < image.height(); ++y) {
        const uchar* line = image.constScanLine(y);
        for (int i = 0; i < image.width() * 3; ++i)
            out.pixels()[size_t(y) * image.width() * 3 + i] = uint16_t(line[i] * 128);
    }
    return out;
}

namespace {

double srgbToLinear(double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
double linearToSrgb(double v) {
    return v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
}

} // namespace

void makeWarpedPair(const rgb16Buffer& source, int margin, const matrix3& motion, double ev,
                    rgb16Buffer& reference, rgb16Buffer& photo) {
    const int w = source.width - 2 * margin, h = source.height - 2 * margin;
    reference.allocate(w, h);
    photo.allocate(w, h);
    for (int y = 0; y < h; ++y)
        std::copy_n(source.pixels() + (size_t(y + margin) * source.width + margin) * 3, size_t(w) * 3,
                    reference.pixels() + size_t(y) * w * 3);
    const matrix3 back = inverse(motion);
    const double gain = std::pow(2.0, ev);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const alignPoint s = apply(back, x, y);
            const double sx = std::clamp(s.x + margin, 0.0, source.width - 1.0);
            const double sy = std::clamp(s.y + margin, 0.0, source.height - 1.0);
            const int x0 = std::min(int(sx), source.width - 2), y0 = std::min(int(sy), source.height - 2);
            const double fx = sx - x0, fy = sy - y0;
            for (int c = 0; c < 3; ++c) {
                auto at = [&](int xx, int yy) {
                    return source.pixels()[(size_t(yy) * source.width + xx) * 3 + c] / 32640.0;
                };
                const double v = (at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx) * (1 - fy) +
                                 (at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx) * fy;
                const double exposed = linearToSrgb(std::min(1.0, srgbToLinear(v) * gain));
                photo.pixels()[(size_t(y) * w + x) * 3 + c] = uint16_t(std::lround(exposed * 255) * 128);
            }
        }
}

rgb16Buffer texturedScene(int w, int h, uint32_t seed) {
    rgb16Buffer out;
    out.allocate(w, h);
    std::vector<double> grey(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            grey[size_t(y) * w + x] = 90 + 40 * std::sin(x * 0.05) * std::cos(y * 0.07);
    uint32_t state = seed;
    auto next = [&]() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    const int shapes = std::max(8, w * h / 900);
    for (int k = 0; k < shapes; ++k) {
        const int cx = int(next() % uint32_t(w)), cy = int(next() % uint32_t(h));
        const int rw = 3 + int(next() % 12u), rh = 3 + int(next() % 12u);
        const double value = 20 + next() % 215u;
        const bool disc = next() % 2u;
        for (int y = std::max(0, cy - rh); y < std::min(h, cy + rh); ++y)
            for (int x = std::max(0, cx - rw); x < std::min(w, cx + rw); ++x) {
                const double u = double(x - cx) / rw, v = double(y - cy) / rh;
                if (!disc || u * u + v * v <= 1) grey[size_t(y) * w + x] = value;
            }
    }
    for (size_t i = 0; i < grey.size(); ++i)
        for (int c = 0; c < 3; ++c)
            out.pixels()[i * 3 + c] = uint16_t(std::lround(std::clamp(grey[i], 0.0, 255.0)) * 128);
    return out;
}

curveTables::curveTables() : standard(32640), bright(32640), dark(32640) {
    // The program's standard camera curve and its closeness-to-clipping tables.
    const double c[6] = {0.011572206254299083, 0.2524769884516882,   0.8850015088202797,
                         0.07465203573338197,  -0.19796856978236432, 1.084440338878309};
    for (int x = 0; x < 32640; ++x) {
        const double t = x / 32640.0;
        double v = 0;
        for (int k = 5; k >= 0; --k)
            v = v * t + c[k];
        standard[size_t(x)] = v;
        bright[size_t(x)] = t > 0.99 ? 1.0 : std::exp(-std::pow((1 - t) - 0.01, 2) / 0.003);
        dark[size_t(x)] = t < 0.01 ? 1.0 : std::exp(-std::pow(t - 0.01, 2) / 0.003);
    }
}

const curveTables& tables() {
    static const curveTables t;
    return t;
}

halvora::autoAlignRequest requestFor(const std::vector<const rgb16Buffer*>& photos, int reference,
                                     const std::vector<double>& ev) {
    halvora::autoAlignRequest r;
    r.width = photos[0]->width;
    r.height = photos[0]->height;
    r.reference = reference;
    for (double e : ev) {
        r.lnExposure.push_back((e - ev[size_t(reference)]) * std::log(2.0));
        r.lnEvMin = std::min(r.lnEvMin, r.lnExposure.back());
        r.lnEvMax = std::max(r.lnEvMax, r.lnExposure.back());
    }
    r.standardCurve = tables().standard.data();
    r.closenessBright = tables().bright.data();
    r.closenessDark = tables().dark.data();
    r.readPhoto = [photos](int i, QString*) { return photos[size_t(i)]; };
    return r;
}

double cornerError(const halvora::alignTransform& found, const matrix3& truth, int w, int h) {
    double worst = 0;
    for (const alignPoint c : {alignPoint{0, 0}, alignPoint{double(w - 1), 0}, alignPoint{0, double(h - 1)},
                               alignPoint{double(w - 1), double(h - 1)}}) {
        const alignPoint a = found.map(c.x, c.y), b = apply(truth, c.x, c.y);
        worst = std::max(worst, std::hypot(a.x - b.x, a.y - b.y));
    }
    return worst;
}

} // namespace aligntest
