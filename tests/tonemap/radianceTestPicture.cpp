#include "radianceTestPicture.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace halvora::test {

bool readRgbe(const QString& path, radiancePicture& picture) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = file.readAll();
    qsizetype pos = 0;
    // Header lines up to the empty line, then the resolution line.
    for (;;) {
        const qsizetype end = data.indexOf('\n', pos);
        if (end < 0)
            return false;
        const QByteArray line = data.mid(pos, end - pos);
        pos = end + 1;
        if (line.isEmpty())
            break;
    }
    const qsizetype end = data.indexOf('\n', pos);
    if (end < 0)
        return false;
    const QList<QByteArray> parts = data.mid(pos, end - pos).split(' ');
    pos = end + 1;
    if (parts.size() != 4 || parts[0] != "-Y" || parts[2] != "+X")
        return false;
    const int h = parts[1].toInt(), w = parts[3].toInt();
    if (w <= 0 || h <= 0 || w > 20000 || h > 20000)
        return false;
    picture.width = w;
    picture.height = h;
    picture.rgb.assign(size_t(w) * h * 3, 0.0f);
    std::vector<uint8_t> scan(size_t(w) * 4);
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
    const qsizetype size = data.size();
    for (int y = 0; y < h; ++y) {
        if (pos + 4 > size)
            return false;
        if (bytes[pos] == 2 && bytes[pos + 1] == 2 && ((bytes[pos + 2] << 8) | bytes[pos + 3]) == w) {
            pos += 4;
            for (int c = 0; c < 4; ++c) {
                int x = 0;
                while (x < w) {
                    if (pos >= size)
                        return false;
                    int count = bytes[pos++];
                    if (count > 128) {
                        count -= 128;
                        if (pos >= size || x + count > w)
                            return false;
                        const uint8_t v = bytes[pos++];
                        for (int k = 0; k < count; ++k)
                            scan[size_t(x++) * 4 + c] = v;
                    } else {
                        if (count == 0 || pos + count > size || x + count > w)
                            return false;
                        for (int k = 0; k < count; ++k)
                            scan[size_t(x++) * 4 + c] = bytes[pos++];
                    }
                }
            }
        } else {
            if (pos + qsizetype(w) * 4 > size)
                return false;
            std::copy(bytes + pos, bytes + pos + w * 4, scan.begin());
            pos += w * 4;
        }
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = &scan[size_t(x) * 4];
            float* out = &picture.rgb[(size_t(y) * w + x) * 3];
            if (p[3] == 0)
                continue;
            const float f = std::ldexp(1.0f, int(p[3]) - 136);
            for (int c = 0; c < 3; ++c)
                out[c] = (p[c] + 0.5f) * f;
        }
    }
    return true;
}

void hdrPreprocess(radiancePicture& picture) {
    auto& v = picture.rgb;
    const auto [mnIt, mxIt] = std::minmax_element(v.begin(), v.end());
    const double mn = *mnIt, mx = *mxIt;
    const double range = mx > mn ? mx - mn : 1.0;
    std::vector<uint64_t> histogram(16384, 0);
    const size_t pixels = v.size() / 3;
    for (size_t i = 0; i < pixels; ++i) {
        float* p = &v[i * 3];
        for (int c = 0; c < 3; ++c) {
            double x = (p[c] - mn) / range;
            x = 1.5385 * std::pow(x, 0.6) - 0.5385 * std::pow(x, 1.3);
            p[c] = float(std::clamp(x, 0.0, 1.0));
        }
        const double y = std::min(1.0, 0.3086 * p[0] + 0.6094 * p[1] + 0.082 * p[2]);
        ++histogram[size_t(16383 * y)];
    }
    double hs = 0, he = 1, med = 0;
    bool haveHs = false, haveMed = false;
    uint64_t running = 0;
    for (int j = 0; j < 16384; ++j) {
        running += histogram[size_t(j)];
        const double share = double(running) / double(pixels);
        if (!haveHs && share >= 0.1) {
            hs = j / 16384.0;
            haveHs = true;
        }
        if (!haveMed && share >= 0.5) {
            med = j / 16384.0;
            haveMed = true;
        }
        if (share <= 0.9)
            he = j / 16384.0;
    }
    double g = 1.0;
    for (;;) {
        const double hs2 = std::pow(hs, g), he2 = std::pow(he, g);
        g -= 0.01;
        if (he2 >= 0.2 || hs2 >= 0.04 || g <= 0.5)
            break;
    }
    picture.lcCorrection = std::min(g, 1.0) + 0.01;
    picture.hdrMean = med + 0.001;
}

radiancePicture downscale(const radiancePicture& picture, int factor) {
    radiancePicture out;
    out.width = picture.width / factor;
    out.height = picture.height / factor;
    out.hdrMean = picture.hdrMean;
    out.lcCorrection = picture.lcCorrection;
    out.rgb.assign(size_t(out.width) * out.height * 3, 0.0f);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            for (int c = 0; c < 3; ++c) {
                double sum = 0;
                for (int dy = 0; dy < factor; ++dy)
                    for (int dx = 0; dx < factor; ++dx)
                        sum += picture.rgb[((size_t(y) * factor + dy) * picture.width + size_t(x) * factor + dx) * 3 + c];
                out.rgb[(size_t(y) * out.width + x) * 3 + c] = float(sum / (factor * factor));
            }
    return out;
}

} // namespace halvora::test
