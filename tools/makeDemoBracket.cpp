// Renders the built-in sample scene — a room lit by a bright window, a warm lamp and a bookshelf in
// deep shadow — as a three-shot bracket (−2, 0, +2 EV) of camera-like JPEGs with EXIF exposure data.
//
// Usage: makeDemoBracket <output folder>
// Writes demo_-2.jpg, demo_0.jpg and demo_+2.jpg. The output is the same byte for byte on every run:
// all noise comes from a hash of the pixel position, and nothing depends on the time or on threads.

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1600;
constexpr int kHeight = 1067;
constexpr int kJpegQuality = 92;

struct rgb {
    float r = 0, g = 0, b = 0;
};
inline rgb operator*(rgb a, float s) {
    return {a.r * s, a.g * s, a.b * s};
}
inline rgb operator*(rgb a, rgb b) {
    return {a.r * b.r, a.g * b.g, a.b * b.b};
}
inline rgb operator+(rgb a, rgb b) {
    return {a.r + b.r, a.g + b.g, a.b + b.b};
}
inline rgb mix(rgb a, rgb b, float t) {
    return a * (1.0f - t) + b * t;
}

inline float clamp01(float v) {
    return std::min(1.0f, std::max(0.0f, v));
}
inline float smoothstep(float e0, float e1, float x) {
    const float t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3.0f - 2.0f * t);
}

// ---- deterministic noise

inline uint32_t hash3(int32_t x, int32_t y, uint32_t seed) {
    uint32_t h = uint32_t(x) * 0x8da6b343u ^ uint32_t(y) * 0xd8163841u ^ seed * 0xcb1ab31fu;
    h ^= h >> 16;
    h *= 0x7feb352du;
    h ^= h >> 15;
    h *= 0x846ca68bu;
    h ^= h >> 16;
    return h;
}
inline float hashUnit(int32_t x, int32_t y, uint32_t seed) {
    return float(hash3(x, y, seed) >> 8) * (1.0f / 16777216.0f);
}

/// Smooth value noise in 0 … 1.
float valueNoise(float x, float y, uint32_t seed) {
    const float fx = std::floor(x), fy = std::floor(y);
    const int32_t ix = int32_t(fx), iy = int32_t(fy);
    float tx = x - fx, ty = y - fy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    const float a = hashUnit(ix, iy, seed), b = hashUnit(ix + 1, iy, seed);
    const float c = hashUnit(ix, iy + 1, seed), d = hashUnit(ix + 1, iy + 1, seed);
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

/// Fractal noise in about 0 … 1.
float fbm(float x, float y, int octaves, uint32_t seed) {
    float sum = 0, amplitude = 0.5f, norm = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * valueNoise(x, y, seed + uint32_t(o) * 101u);
        norm += amplitude;
        x *= 2.03f;
        y *= 2.03f;
        amplitude *= 0.5f;
    }
    return sum / norm;
}

/// Gaussian-ish deviate from a hash (sum of uniforms).
inline float gaussHash(int32_t x, int32_t y, uint32_t seed) {
    return (hashUnit(x, y, seed) + hashUnit(x, y, seed + 1) + hashUnit(x, y, seed + 2) +
            hashUnit(x, y, seed + 3) - 2.0f) *
           1.7320508f;
}

// ---- the scene (linear scene radiance; 0.18 is a mid-grey wall at the middle exposure)

// Room layout in pixels.
constexpr float kFloorY = 0.72f * kHeight;
constexpr float kWinX0 = 0.12f * kWidth, kWinX1 = 0.46f * kWidth;
constexpr float kWinY0 = 0.09f * kHeight, kWinY1 = 0.58f * kHeight;
constexpr float kFrame = 0.013f * kWidth;
constexpr float kShelfX0 = 0.64f * kWidth, kShelfX1 = 0.93f * kWidth;
constexpr float kShelfY0 = 0.16f * kHeight, kShelfY1 = 0.715f * kHeight;
constexpr float kLampX = 0.785f * kWidth, kLampY = 0.105f * kHeight;

/// View through the window: sky with clouds, sunlit hills and trees.
rgb outside(float x, float y) {
    const float u = (x - kWinX0) / (kWinX1 - kWinX0);
    const float v = (y - kWinY0) / (kWinY1 - kWinY0);
    const rgb zenith{0.22f, 0.42f, 1.05f}, horizon{0.95f, 1.02f, 1.10f};
    rgb sky = mix(zenith, horizon, std::pow(clamp01(v * 1.25f), 1.6f)) * 4.2f;
    // Clouds: thresholded fractal noise, brighter on their sunlit tops.
    const float c = fbm(u * 5.0f, v * 9.0f, 6, 11u);
    const float cloud = smoothstep(0.50f, 0.72f, c) * (1.0f - smoothstep(0.55f, 0.78f, v));
    const float lit = 1.0f + 0.35f * (fbm(u * 5.0f, v * 9.0f - 0.15f, 4, 11u) - c) * 8.0f;
    sky = mix(sky, rgb{1.0f, 0.98f, 0.95f} * (4.8f * std::clamp(lit, 0.6f, 1.25f)), cloud);

    // Far hills: hazy blue-green; near hills: sunlit green with tree texture.
    const float far = 0.66f + 0.06f * (fbm(u * 3.0f, 0.5f, 5, 23u) - 0.5f) * 2.0f;
    const float nearLine = 0.78f + 0.08f * (fbm(u * 2.2f, 4.5f, 6, 37u) - 0.5f) * 2.0f;
    if (v > nearLine) {
        const float t = fbm(u * 60.0f, v * 40.0f, 5, 41u);
        const float trees = 0.55f + 0.9f * t * t;
        rgb grass = mix(rgb{0.12f, 0.22f, 0.05f}, rgb{0.30f, 0.40f, 0.10f}, fbm(u * 8.0f, v * 6.0f, 3, 43u));
        return grass * (4.2f * trees);
    }
    if (v > far) {
        const float t = fbm(u * 25.0f, v * 25.0f, 4, 29u);
        return mix(rgb{0.35f, 0.48f, 0.42f}, rgb{0.55f, 0.68f, 0.78f}, 0.45f) * (2.6f * (0.8f + 0.4f * t));
    }
    return sky;
}

/// Light on the back wall and the floor from the window (soft), the lamp and the room.
float roomLight(float x, float y) {
    const float wx = 0.5f * (kWinX0 + kWinX1), wy = 0.5f * (kWinY0 + kWinY1);
    const float dw = std::hypot((x - wx) / kWidth, (y - wy) / kHeight);
    const float window = 0.75f / (1.0f + 9.0f * dw * dw);
    const float dl = std::hypot((x - kLampX) / kWidth, (y - kLampY) / kHeight);
    const float lamp = 0.55f / (1.0f + 60.0f * dl * dl);
    return 0.06f + window + lamp;
}

/// Sunlight patch on the floor: the window projected down and to the right, with the mullion shadows.
float sunPatch(float x, float y) {
    if (y < kFloorY + 4) return 0.0f;
    const float depth = (y - kFloorY) / (kHeight - kFloorY); // 0 at the wall, 1 at the bottom edge
    const float shift = 0.10f * kWidth + depth * 0.55f * kWidth;
    const float px = x - shift;
    const float spread = 1.0f + 0.8f * depth;
    const float cx = 0.5f * (kWinX0 + kWinX1);
    const float half = 0.5f * (kWinX1 - kWinX0) * spread;
    if (depth < 0.08f || depth > 0.78f) return 0.0f;
    const float along = (px - (cx - half)) / (2 * half);
    if (along < 0 || along > 1) return 0.0f;
    // Soft edges (penumbra grows with distance) and the cross of the mullions.
    const float soft = 0.01f + 0.03f * depth;
    float s = smoothstep(0.0f, soft, along) * smoothstep(0.0f, soft, 1.0f - along) *
              smoothstep(0.08f, 0.12f, depth) * smoothstep(0.78f, 0.72f, depth);
    s *= 1.0f - 0.9f * (1.0f - smoothstep(0.0f, soft + 0.012f, std::fabs(along - 0.5f)));
    s *= 1.0f - 0.9f * (1.0f - smoothstep(0.0f, soft + 0.02f, std::fabs(depth - 0.33f)));
    return s;
}

/// Book spines on the shelf.
rgb bookshelf(float x, float y, float light) {
    const rgb wood{0.16f, 0.09f, 0.05f};
    const float side = 0.012f * kWidth;
    const int shelves = 4;
    const float shelfH = (kShelfY1 - kShelfY0) / shelves;
    const float board = 0.012f * kHeight;
    if (x < kShelfX0 + side || x > kShelfX1 - side)
        return wood * (light * (0.8f + 0.2f * fbm(x * 0.3f, y * 0.02f, 3, 71u)));
    const int row = std::min(shelves - 1, int((y - kShelfY0) / shelfH));
    const float inRow = y - kShelfY0 - row * shelfH;
    if (inRow < board) return wood * (light * 1.1f);
    // Books: widths and heights from a hash of their index along the row.
    float bx = kShelfX0 + side;
    for (int i = 0; i < 64 && bx < kShelfX1 - side; ++i) {
        const float w = (0.008f + 0.012f * hashUnit(i, row, 5u)) * kWidth;
        if (x < bx + w) {
            const float top = board + shelfH * (0.18f + 0.25f * hashUnit(i, row, 6u));
            if (inRow < top) break; // space above the book: the dark back of the shelf
            static const rgb colours[] = {{0.55f, 0.06f, 0.05f}, {0.06f, 0.18f, 0.45f}, {0.08f, 0.32f, 0.12f},
                                          {0.65f, 0.50f, 0.10f}, {0.50f, 0.48f, 0.42f}, {0.30f, 0.07f, 0.30f},
                                          {0.70f, 0.30f, 0.05f}, {0.10f, 0.10f, 0.11f}};
            const rgb c = colours[hash3(i, row, 7u) % 8];
            const float t = (x - bx) / w; // rounded spine: darker at its edges
            const float shade = 0.55f + 0.45f * std::sin(3.14159f * t);
            const float band =
                std::fabs(inRow - (top + (shelfH - top) * 0.3f)) < 0.004f * kHeight ? 1.6f : 1.0f;
            return c * (light * shade * band * (0.85f + 0.3f * fbm(x * 0.5f, y * 0.5f, 2, 9u)));
        }
        bx += w + 0.6f;
    }
    return wood * (light * 0.25f);
}

/// A shaded ball on the floor, lit by the window (upper left) and the room.
bool ball(float x, float y, float cx, float cy, float r, rgb albedo, float lightScale, rgb& out) {
    const float dx = (x - cx) / r, dy = (y - cy) / r;
    const float d2 = dx * dx + dy * dy;
    if (d2 > 1.0f) return false;
    const float nz = std::sqrt(1.0f - d2);
    const float lx = -0.55f, ly = -0.45f, lz = 0.70f; // towards the window
    const float lambert = std::max(0.0f, dx * lx + dy * ly + nz * lz);
    // Highlight: mirror direction close to the window.
    const float hx = lx, hy = ly, hz = lz + 1.0f;
    const float hn = std::sqrt(hx * hx + hy * hy + hz * hz);
    const float highlight = std::pow(std::max(0.0f, (dx * hx + dy * hy + nz * hz) / hn), 60.0f);
    const float edge = smoothstep(1.0f, 0.97f, d2); // anti-aliased rim
    rgb c = (albedo * (0.08f + 2.4f * lambert) + rgb{1, 1, 1} * (9.0f * highlight)) * lightScale;
    out = mix(out, c, edge);
    return true;
}

rgb scenePixel(int ix, int iy) {
    const float x = ix + 0.5f, y = iy + 0.5f;
    rgb c;
    if (y < kFloorY) {
        const float light = roomLight(x, y);
        // Plaster wall with a fine, slightly uneven texture.
        const float plaster = 0.86f + 0.10f * fbm(x * 0.05f, y * 0.05f, 5, 3u) + 0.06f * hashUnit(ix, iy, 4u);
        c = rgb{0.74f, 0.66f, 0.55f} * (light * plaster);
        // Corner shadow where the wall meets the floor.
        c = c * (1.0f - 0.45f * std::exp(-(kFloorY - y) / (0.03f * kHeight)));
        // Skirting board.
        if (y > kFloorY - 0.022f * kHeight) c = rgb{0.80f, 0.78f, 0.74f} * (light * 0.8f);

        const bool inWindow = x > kWinX0 && x < kWinX1 && y > kWinY0 && y < kWinY1;
        if (inWindow) {
            const bool frame = x < kWinX0 + kFrame || x > kWinX1 - kFrame || y < kWinY0 + kFrame ||
                               y > kWinY1 - kFrame ||
                               std::fabs(x - 0.5f * (kWinX0 + kWinX1)) < 0.4f * kFrame ||
                               std::fabs(y - (kWinY0 + 0.38f * (kWinY1 - kWinY0))) < 0.4f * kFrame;
            // White frame seen against the light: its inner faces are in shadow.
            c = frame ? rgb{0.85f, 0.84f, 0.80f} * (0.22f + 0.05f * fbm(x * 0.2f, y * 0.2f, 2, 8u))
                      : outside(x, y);
        }
        // Window sill catching the light.
        if (x > kWinX0 - 0.01f * kWidth && x < kWinX1 + 0.01f * kWidth && y >= kWinY1 &&
            y < kWinY1 + 0.018f * kHeight)
            c = rgb{0.88f, 0.86f, 0.82f} * (1.6f - 1.2f * (y - kWinY1) / (0.018f * kHeight));

        if (x > kShelfX0 && x < kShelfX1 && y > kShelfY0 && y < kShelfY1) {
            // The shelf stands away from the window: mostly in shadow, lit a little by the lamp at the top.
            const float shelfLight = 0.018f + 0.20f * std::exp(-(y - kShelfY0) / (0.10f * kHeight));
            c = bookshelf(x, y, shelfLight);
        }
        // Lamp: a glowing warm shade with a bright bulb core.
        const float lx = (x - kLampX) / (0.045f * kWidth), ly = (y - kLampY) / (0.05f * kHeight);
        if (lx * lx + ly * ly < 1.0f) {
            const float core = std::exp(-(lx * lx + ly * ly) * 3.0f);
            c = rgb{1.0f, 0.72f, 0.40f} * (3.0f + 14.0f * core);
        } else if (std::fabs(x - kLampX) < 0.0025f * kWidth && y < kLampY) {
            c = rgb{0.05f, 0.05f, 0.05f} * 0.5f; // cord
        }
    } else {
        // Wooden floor in perspective: planks running towards a vanishing point above the floor line.
        const float vx = 0.55f * kWidth, horizon = 0.40f * kHeight;
        const float z = 1.0f / (y - horizon);      // depth ∝ 1 / distance below the horizon
        const float lateral = (x - vx) * z * 2.2f; // position across the planks
        const float along = z * 900.0f;            // position along the planks
        const float plank = std::floor(lateral * 3.0f);
        const float inPlank = lateral * 3.0f - plank;
        const float offset = hashUnit(int(plank), 0, 12u) * 7.0f;
        const float grain = fbm(inPlank * 2.0f + plank * 13.0f, (along + offset) * 6.0f, 5, 13u);
        const float rings = 0.5f + 0.5f * std::sin((along + offset) * 25.0f + grain * 10.0f);
        const float tone = 0.75f + 0.5f * hashUnit(int(plank), 1, 14u);
        rgb wood =
            mix(rgb{0.36f, 0.20f, 0.09f}, rgb{0.55f, 0.33f, 0.16f}, 0.4f * rings + 0.6f * grain) * tone;
        const float seam = smoothstep(0.0f, 0.04f, inPlank) * smoothstep(0.0f, 0.04f, 1.0f - inPlank);
        const float endJoint = std::fmod(along + offset, 2.7f) < 0.02f ? 0.4f : 1.0f;
        wood = wood * (0.35f + 0.65f * seam) * endJoint;
        float light =
            roomLight(x, kFloorY - 1.0f) * (0.55f + 0.25f * (1.0f - (y - kFloorY) / (kHeight - kFloorY)));
        light *= 1.0f - 0.5f * std::exp(-(y - kFloorY) / (0.025f * kHeight)); // contact shadow at the wall
        c = wood * (light + 7.5f * sunPatch(x, y));
        // Two balls on the floor, one in the sun, one in the room's shade, with soft contact shadows.
        // The sunlit ball's shadow falls away from the window, towards the lower right.
        const float shadowA = std::hypot((x - 0.44f * kWidth) / 120.0f, (y - 0.955f * kHeight) / 24.0f);
        const float shadowB = std::hypot((x - 0.15f * kWidth) / 70.0f, (y - 0.915f * kHeight) / 14.0f);
        c = c * (0.35f + 0.65f * smoothstep(0.6f, 1.3f, shadowA)) *
            (0.35f + 0.65f * smoothstep(0.6f, 1.3f, shadowB));
    }
    ball(x, y, 0.40f * kWidth, 0.87f * kHeight, 85.0f, rgb{0.60f, 0.05f, 0.04f}, 1.0f, c);
    ball(x, y, 0.15f * kWidth, 0.855f * kHeight, 62.0f, rgb{0.05f, 0.20f, 0.55f}, 0.18f, c); // in the shade
    // Lens falloff towards the corners.
    const float dx = (x / kWidth - 0.5f) * 1.5f, dy = (y / kHeight - 0.5f) * 1.0f;
    const float r2 = dx * dx + dy * dy;
    return c * (1.0f - 0.35f * r2);
}

// ---- the camera

/// Camera response: linear up to a soft highlight shoulder, then the sRGB curve, a touch of contrast.
float cameraResponse(float linear) {
    auto shoulder = [](float v) {
        return v > 0.72f ? 0.72f + 0.28f * (1.0f - std::exp(-(v - 0.72f) / 0.28f)) : v;
    };
    // The sensor saturates at 1.1: everything above is 255, as in a real camera.
    float v = std::min(1.0f, shoulder(std::max(0.0f, linear)) / shoulder(1.1f));
    v = v <= 0.0031308f ? 12.92f * v : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f;
    v -= 0.025f * std::sin(6.2831853f * v);
    return clamp01(v);
}

struct shot {
    int ev;
    const char* name;
    uint32_t timeNum, timeDen; // nominal shutter time
    const char* dateTime;
};

QImage exposeShot(const std::vector<rgb>& scene, const shot& s) {
    QImage img(kWidth, kHeight, QImage::Format_RGB888);
    const float gain = std::exp2(float(s.ev)) * 0.92f;
    std::vector<uint8_t> lut(4097);
    for (int i = 0; i <= 4096; ++i)
        lut[size_t(i)] = uint8_t(std::lround(cameraResponse(i / 4096.0f * 1.2f) * 255.0f));
    for (int y = 0; y < kHeight; ++y) {
        uchar* line = img.scanLine(y);
        for (int x = 0; x < kWidth; ++x) {
            const rgb& p = scene[size_t(y) * kWidth + x];
            const float ch[3] = {p.r, p.g, p.b};
            for (int k = 0; k < 3; ++k) {
                float v = ch[k] * gain;
                // Shot noise and read noise of the sensor, different in every frame.
                const float sigma = std::sqrt(0.00025f * v + 0.000004f);
                v += sigma * gaussHash(x * 3 + k, y, 1000u + uint32_t(s.ev + 10) * 17u);
                const float idx = std::clamp(v / 1.2f, 0.0f, 1.0f) * 4096.0f;
                const int i0 = std::min(4095, int(idx));
                const float t = idx - i0;
                line[3 * x + k] = uint8_t(std::lround(lut[size_t(i0)] * (1 - t) + lut[size_t(i0 + 1)] * t));
            }
        }
    }
    return img;
}

// ---- EXIF (big-endian TIFF structure: IFD0 → Exif IFD)

class ifdWriter {
public:
    void ascii(uint16_t tag, const std::string& s) {
        std::vector<uint8_t> v(s.begin(), s.end());
        v.push_back(0);
        add(tag, 2, uint32_t(v.size()), v);
    }
    void shortValue(uint16_t tag, uint16_t x) { add(tag, 3, 1, be16(x)); }
    void longValue(uint16_t tag, uint32_t x) { add(tag, 4, 1, be32(x)); }
    void rational(uint16_t tag, uint32_t n, uint32_t d) {
        auto v = be32(n);
        auto w = be32(d);
        v.insert(v.end(), w.begin(), w.end());
        add(tag, 5, 1, v);
    }
    void srational(uint16_t tag, int32_t n, int32_t d) {
        auto v = be32(uint32_t(n));
        auto w = be32(uint32_t(d));
        v.insert(v.end(), w.begin(), w.end());
        add(tag, 10, 1, v);
    }
    void undefined(uint16_t tag, const std::string& s) {
        add(tag, 7, uint32_t(s.size()), {s.begin(), s.end()});
    }

    /// Bytes of this directory placed at `offset` within the TIFF structure, values behind it.
    size_t size() const {
        size_t n = 2 + entries_.size() * 12 + 4;
        for (const auto& e : entries_)
            if (e.value.size() > 4) n += (e.value.size() + 1) & ~size_t(1);
        return n;
    }
    std::vector<uint8_t> build(uint32_t offset) const {
        std::vector<uint8_t> out, data;
        const uint32_t dataStart = offset + uint32_t(2 + entries_.size() * 12 + 4);
        append(out, be16(uint16_t(entries_.size())));
        for (const auto& e : entries_) {
            append(out, be16(e.tag));
            append(out, be16(e.type));
            append(out, be32(e.count));
            if (e.value.size() <= 4) {
                auto v = e.value;
                v.resize(4, 0);
                append(out, v);
            } else {
                append(out, be32(dataStart + uint32_t(data.size())));
                append(data, e.value);
                if (data.size() & 1) data.push_back(0);
            }
        }
        append(out, be32(0));
        append(out, data);
        return out;
    }

    static std::vector<uint8_t> be16(uint16_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
    static std::vector<uint8_t> be32(uint32_t v) {
        return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    }
    static void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& b) {
        to.insert(to.end(), b.begin(), b.end());
    }

private:
    struct entry {
        uint16_t tag, type;
        uint32_t count;
        std::vector<uint8_t> value;
    };
    void add(uint16_t tag, uint16_t type, uint32_t count, std::vector<uint8_t> value) {
        entries_.push_back({tag, type, count, std::move(value)}); // callers add in ascending tag order
    }
    std::vector<entry> entries_;
};

QByteArray exifSegment(const shot& s) {
    auto makeIfd0 = [&](uint32_t exifOffset) {
        ifdWriter ifd0;
        ifd0.ascii(0x010F, "Halvora");
        ifd0.ascii(0x0110, "Sample Scene Camera");
        ifd0.shortValue(0x0112, 1); // Orientation: top-left
        ifd0.rational(0x011A, 300, 1);
        ifd0.rational(0x011B, 300, 1);
        ifd0.shortValue(0x0128, 2);
        ifd0.ascii(0x0131, "makeDemoBracket");
        ifd0.ascii(0x0132, s.dateTime);
        ifd0.shortValue(0x0213, 1);         // YCbCrPositioning: centred
        ifd0.longValue(0x8769, exifOffset); // pointer to the Exif IFD
        return ifd0;
    };
    // IFD0's size does not depend on the pointer's value: lay it out once to place the Exif IFD behind it.
    const uint32_t ifd0Offset = 8;
    const uint32_t exifOffset = ifd0Offset + uint32_t(makeIfd0(0).size());
    const ifdWriter ifd0 = makeIfd0(exifOffset);

    ifdWriter exif;

    exif.rational(0x829A, s.timeNum, s.timeDen);                // ExposureTime
    exif.rational(0x829D, 8, 1);                                // FNumber
    exif.shortValue(0x8822, 1);                                 // ExposureProgram: manual
    exif.shortValue(0x8827, 100);                               // ISOSpeedRatings
    exif.undefined(0x9000, "0230");                             // ExifVersion
    exif.ascii(0x9003, s.dateTime);                             // DateTimeOriginal
    exif.ascii(0x9004, s.dateTime);                             // DateTimeDigitized
    exif.undefined(0x9101, std::string("\x01\x02\x03\x00", 4)); // ComponentsConfiguration: Y Cb Cr
    exif.srational(0x9204, s.ev, 1);                            // ExposureBiasValue
    exif.shortValue(0x9207, 5);                                 // MeteringMode: pattern
    exif.rational(0x920A, 35, 1);                               // FocalLength
    exif.undefined(0xA000, "0100");                             // FlashpixVersion
    exif.shortValue(0xA001, 1);                                 // ColorSpace: sRGB
    exif.longValue(0xA002, kWidth);
    exif.longValue(0xA003, kHeight);
    exif.shortValue(0xA402, 2); // ExposureMode: auto bracket
    exif.shortValue(0xA403, 0); // WhiteBalance: auto

    std::vector<uint8_t> tiff = {'M', 'M', 0, 42};
    ifdWriter::append(tiff, ifdWriter::be32(ifd0Offset));
    ifdWriter::append(tiff, ifd0.build(ifd0Offset));
    ifdWriter::append(tiff, exif.build(exifOffset));

    QByteArray payload("Exif\0\0", 6);
    payload.append(reinterpret_cast<const char*>(tiff.data()), qsizetype(tiff.size()));
    QByteArray segment("\xFF\xE1", 2);
    const int length = int(payload.size()) + 2;
    segment.append(char(length >> 8));
    segment.append(char(length & 0xFF));
    segment.append(payload);
    return segment;
}

/// The encoded JPEG with its JFIF header replaced by the EXIF segment (as a camera writes it).
QByteArray withExif(const QByteArray& jpeg, const QByteArray& app1) {
    if (jpeg.size() < 4 || uchar(jpeg[0]) != 0xFF || uchar(jpeg[1]) != 0xD8) return {};
    qsizetype pos = 2;
    QByteArray out = jpeg.left(2) + app1;
    while (pos + 4 <= jpeg.size() && uchar(jpeg[pos]) == 0xFF && uchar(jpeg[pos + 1]) == 0xE0) {
        const int len = (uchar(jpeg[pos + 2]) << 8) | uchar(jpeg[pos + 3]);
        pos += 2 + len;
    }
    out += jpeg.mid(pos);
    return out;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "Usage: makeDemoBracket <output folder>\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "makeDemoBracket: cannot create '%s'\n", argv[1]);
        return 1;
    }

    std::vector<rgb> scene(size_t(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            scene[size_t(y) * kWidth + x] = scenePixel(x, y);

    const shot shots[] = {{-2, "demo_-2.jpg", 1, 250, "2026:05:16 18:42:07"},
                          {0, "demo_0.jpg", 1, 60, "2026:05:16 18:42:08"},
                          {2, "demo_+2.jpg", 1, 15, "2026:05:16 18:42:09"}};
    for (const shot& s : shots) {
        const QImage img = exposeShot(scene, s);
        QByteArray encoded;
        QBuffer buffer(&encoded);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpg");
        writer.setQuality(kJpegQuality);
        if (!writer.write(img)) {
            std::fprintf(stderr, "makeDemoBracket: JPEG encoding failed: %s\n",
                         qPrintable(writer.errorString()));
            return 1;
        }
        const QByteArray file = withExif(encoded, exifSegment(s));
        const QString path = dir + "/" + s.name;
        QFile out(path);
        if (file.isEmpty() || !out.open(QIODevice::WriteOnly) || out.write(file) != file.size() ||
            !out.flush()) {
            std::fprintf(stderr, "makeDemoBracket: cannot write '%s'\n", qPrintable(path));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return 0;
}
