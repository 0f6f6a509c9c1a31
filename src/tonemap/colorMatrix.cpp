#include "tonemap/colorMatrix.h"

#include <cmath>

namespace halvora {
namespace {

constexpr float kLumR = 0.3086f, kLumG = 0.6094f, kLumB = 0.0820f;

using mat4 = float[4][4];

void setIdentity(mat4 m) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m[r][c] = r == c ? 1.0f : 0.0f;
}

// m = m × b: with row vectors, b is applied after m.
void postMultiply(mat4 m, const mat4 b) {
    float t[4][4];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            t[r][c] = m[r][0] * b[0][c] + m[r][1] * b[1][c] + m[r][2] * b[2][c] + m[r][3] * b[3][c];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m[r][c] = t[r][c];
}

void rotateX(mat4 m, float s, float c) {
    mat4 b;
    setIdentity(b);
    b[1][1] = c;
    b[1][2] = s;
    b[2][1] = -s;
    b[2][2] = c;
    postMultiply(m, b);
}

void rotateY(mat4 m, float s, float c) {
    mat4 b;
    setIdentity(b);
    b[0][0] = c;
    b[0][2] = -s;
    b[2][0] = s;
    b[2][2] = c;
    postMultiply(m, b);
}

void rotateZ(mat4 m, float s, float c) {
    mat4 b;
    setIdentity(b);
    b[0][0] = c;
    b[0][1] = s;
    b[1][0] = -s;
    b[1][1] = c;
    postMultiply(m, b);
}

void shearZ(mat4 m, float dx, float dy) {
    mat4 b;
    setIdentity(b);
    b[0][2] = dx;
    b[1][2] = dy;
    postMultiply(m, b);
}

void transformPoint(const mat4 m, float x, float y, float z, float& tx, float& ty, float& tz) {
    tx = x * m[0][0] + y * m[1][0] + z * m[2][0] + m[3][0];
    ty = x * m[0][1] + y * m[1][1] + z * m[2][1] + m[3][1];
    tz = x * m[0][2] + y * m[1][2] + z * m[2][2] + m[3][2];
}

} // namespace

colorMatrix_t buildColorMatrix(double saturation, double degrees) {
    colorMatrix_t result;
    auto& m = result.m;
    setIdentity(m);

    const float s = float(saturation);
    const float a = kLumR * (1 - s), b = kLumG * (1 - s), c = kLumB * (1 - s);
    mat4 sat;
    setIdentity(sat);
    sat[0][0] = a + s, sat[0][1] = a, sat[0][2] = a;
    sat[1][0] = b, sat[1][1] = b + s, sat[1][2] = b;
    sat[2][0] = c, sat[2][1] = c, sat[2][2] = c + s;
    postMultiply(m, sat);

    // Hue: turn the grey axis onto z, shear so that the luminance plane is horizontal, rotate about
    // z, then undo the shear and the turns.
    mat4 h;
    setIdentity(h);
    const float xs = 1.0f / std::sqrt(2.0f), xc = xs;
    rotateX(h, xs, xc);
    const float ys = -1.0f / std::sqrt(3.0f), yc = std::sqrt(2.0f) / std::sqrt(3.0f);
    rotateY(h, ys, yc);
    float lx, ly, lz;
    transformPoint(h, kLumR, kLumG, kLumB, lx, ly, lz);
    const float zsx = lx / lz, zsy = ly / lz;
    shearZ(h, zsx, zsy);
    const double radians = degrees * 3.14159265358979323846 / 180.0;
    rotateZ(h, float(std::sin(radians)), float(std::cos(radians)));
    shearZ(h, -zsx, -zsy);
    rotateY(h, -ys, yc);
    rotateX(h, -xs, xc);
    postMultiply(m, h);
    return result;
}

} // namespace halvora
