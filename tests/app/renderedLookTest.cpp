// The look of a real bracket through the real program, compared with a stored picture by colour
// difference rather than byte for byte, so that a faster formula or another JPEG library passes and a
// changed look does not.
//
// The stored picture, expected/desk_default_look.png, is the program's JPEG result for three frames of
// the desk bracket with the built-in default look, shrunk by averaging 8 × 8 blocks to 128 × 96 pixels;
// each result is shrunk the same way before the comparison. After a deliberate change of the look (and
// only then: a failure here means the picture changed), write it anew with
//     HALVORA_WRITE_EXPECTED_LOOK=1 build/tests/test_app --gtest_filter='renderedLook.*'
// look at the new file and commit it with the change that explains it.
//
// The measure is CIEDE2000 in CIE L*a*b* from sRGB (D65 white). The plain distance in L*a*b* (ΔE76)
// rates a change of a saturated colour several times higher than the eye does, compared with the same
// change of a grey; CIEDE2000 weighs lightness, chroma and hue as observers judge them, so one bound
// serves the dark desk, the grey wall and the coloured book spines alike. Bounds: the mean difference
// stays within 1.0 (about one just noticeable difference) and the 99th percentile within 3.0 (no
// region of more than 1 % of the picture visibly different). For scale, on this picture: JPEG quality
// 90 instead of 100 gives a mean of 0.46 (p99 1.7); one step of a look slider does not pass, e.g.
// compression 1.55 instead of 1.5 (mean 1.05), gamma 1.05 (1.25), saturation 1.1 (1.23), temperature
// 1.05 (mean 1.8, p99 4.1), local-contrast strength 0.5 (p99 3.4). Changes of fine detail only
// (micro-contrast, sharpness) mostly vanish in the 8 × 8 averages; the kernel tests check those.

#include "autoRunSandbox.h"
#include "support/colorDifference.h"
#include "support/testSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <gtest/gtest.h>
#include <vector>

namespace {

using halvora::test::differenceSummary;
using halvora::test::labColor;

constexpr double meanBound = 1.0;
constexpr double p99Bound = 3.0;
constexpr int shrink = 8;

const QString expectedFile = QStringLiteral(HALVORA_SOURCE_DIR "/tests/app/expected/desk_default_look.png");

QStringList deskBracket() {
    const QString d = halvora::test::dataFile("brackets/desk_canon_s45_13exp/");
    return {d + "img03.jpg", d + "img05.jpg", d + "img08.jpg"};
}

// Averages of `shrink` × `shrink` blocks of the 8-bit sRGB values, rounded; rows and columns that do not
// fill a block are left out.
QImage shrunk(const QImage& picture) {
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    const int w = rgb.width() / shrink, h = rgb.height() / shrink;
    QImage small(w, h, QImage::Format_RGB888);
    for (int by = 0; by < h; ++by) {
        uchar* out = small.scanLine(by);
        for (int bx = 0; bx < w; ++bx)
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int y = 0; y < shrink; ++y) {
                    const uchar* row = rgb.constScanLine(by * shrink + y) + 3 * bx * shrink + c;
                    for (int x = 0; x < shrink; ++x)
                        sum += row[3 * x];
                }
                out[3 * bx + c] = uchar((sum + shrink * shrink / 2) / (shrink * shrink));
            }
    }
    return small;
}

std::vector<uint8_t> samples(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    std::vector<uint8_t> v;
    v.reserve(size_t(rgb.width()) * rgb.height() * 3);
    for (int y = 0; y < rgb.height(); ++y)
        v.insert(v.end(), rgb.constScanLine(y), rgb.constScanLine(y) + 3 * rgb.width());
    return v;
}

// Renders the desk bracket with the given extra arguments and returns the shrunk result (null on failure,
// with the reason recorded).
QImage renderDesk(const halvora::test::autoRunSandbox& box, const QString& name,
                  const QStringList& extra = {}) {
    const QString out = box.out + "/" + name + ".jpg";
    int code = -1;
    QString errors;
    const bool ended =
        box.run(QStringList{"--auto", "--output_fn=" + out} + extra + deskBracket(), code, 60000, &errors);
    EXPECT_TRUE(ended) << "the run did not end";
    EXPECT_EQ(code, 0) << errors.toStdString();
    QImage result;
    if (!ended || code != 0 || !result.load(out, "JPEG")) {
        ADD_FAILURE() << "no readable result " << out.toStdString();
        return {};
    }
    EXPECT_EQ(result.size(), QSize(1024, 768));
    return shrunk(result);
}

std::string describe(const differenceSummary& d) {
    return "CIEDE2000 mean " + std::to_string(d.mean) + ", 99th percentile " + std::to_string(d.p99) +
           ", maximum " + std::to_string(d.maximum);
}

} // namespace

// Published worked pairs for CIEDE2000 (Sharma, Wu and Dalal 2005, table 1): the hue wrap at 0°/360°,
// the blue region's rotation term, near-greys and large differences.
TEST(colorDifference, ciede2000MatchesPublishedPairs) {
    struct pair {
        labColor x, y;
        double expected;
    };
    const pair pairs[] = {
        {{50, 2.6772, -79.7751}, {50, 0, -82.7485}, 2.0425},
        {{50, 3.1571, -77.2803}, {50, 0, -82.7485}, 2.8615},
        {{50, 2.8361, -74.0200}, {50, 0, -82.7485}, 3.4412},
        {{50, 0, 0}, {50, -1, 2}, 2.3669},
        {{50, 2.49, -0.001}, {50, -2.49, 0.0009}, 7.1792},
        {{50, 2.49, -0.001}, {50, -2.49, 0.0011}, 7.2195},
        {{50, -0.001, 2.49}, {50, 0.0009, -2.49}, 4.8045},
        {{50, -0.001, 2.49}, {50, 0.0011, -2.49}, 4.7461},
        {{50, 2.5, 0}, {73, 25, -18}, 27.1492},
        {{50, 2.5, 0}, {61, -5, 29}, 22.8977},
        {{50, 2.5, 0}, {56, -27, -3}, 31.9030},
        {{50, 2.5, 0}, {58, 24, 15}, 19.4535},
        {{60.2574, -34.0099, 36.2677}, {60.4626, -34.1751, 39.4387}, 1.2644},
        {{63.0109, -31.0961, -5.8663}, {62.8187, -29.7946, -4.0864}, 1.2630},
        {{35.0831, -44.1164, 3.7933}, {35.0232, -40.0716, 1.5901}, 1.8645},
        {{22.7233, 20.0904, -46.6940}, {23.0331, 14.9730, -42.5619}, 2.0373},
        {{90.9257, -0.5406, -0.9208}, {88.6381, -0.8985, -0.7239}, 1.5381},
        {{2.0776, 0.0795, -1.1350}, {0.9033, -0.0636, -0.5514}, 0.9082},
    };
    for (const pair& p : pairs) {
        EXPECT_NEAR(halvora::test::deltaE2000(p.x, p.y), p.expected, 1e-4)
            << p.x.L << " " << p.x.a << " " << p.x.b;
        EXPECT_NEAR(halvora::test::deltaE2000(p.y, p.x), p.expected, 1e-4) << "not symmetric";
    }

    // sRGB to L*a*b*: white, black and the primaries as published for D65.
    const struct {
        uint8_t r, g, b;
        labColor lab;
    } colours[] = {{255, 255, 255, {100, 0, 0}},
                   {0, 0, 0, {0, 0, 0}},
                   {255, 0, 0, {53.2408, 80.0925, 67.2032}},
                   {0, 255, 0, {87.7347, -86.1827, 83.1793}},
                   {0, 0, 255, {32.2970, 79.1875, -107.8602}}};
    for (const auto& c : colours) {
        const labColor lab = halvora::test::labFromSrgb8(c.r, c.g, c.b);
        EXPECT_NEAR(lab.L, c.lab.L, 0.01) << int(c.r) << "," << int(c.g) << "," << int(c.b);
        EXPECT_NEAR(lab.a, c.lab.a, 0.01);
        EXPECT_NEAR(lab.b, c.lab.b, 0.01);
    }
}

TEST(renderedLook, deskBracketMatchesTheStoredLookAndAChangedLookDoesNot) {
    HALVORA_REQUIRE_DATA();
    halvora::test::autoRunSandbox box;
    const QImage look = renderDesk(box, "default");
    ASSERT_FALSE(look.isNull());

    if (qEnvironmentVariableIsSet("HALVORA_WRITE_EXPECTED_LOOK")) {
        ASSERT_TRUE(look.save(expectedFile, "PNG"));
        GTEST_SKIP() << "wrote " << expectedFile.toStdString() << "; check it and commit it with its reason";
    }
    QImage expected;
    ASSERT_TRUE(expected.load(expectedFile, "PNG")) << "missing " << expectedFile.toStdString();
    ASSERT_EQ(expected.size(), look.size());
    const differenceSummary same = halvora::test::compareSrgb8(samples(look), samples(expected));
    EXPECT_LE(same.mean, meanBound) << describe(same);
    EXPECT_LE(same.p99, p99Bound) << describe(same);

    // The bounds must see a change of the look a user would notice: the default look with slightly
    // more compression.
    QFile defaults(QStringLiteral(HALVORA_SOURCE_DIR "/resources/built-in presets/default.hvsx"));
    ASSERT_TRUE(defaults.open(QIODevice::ReadOnly));
    QByteArray changed = defaults.readAll();
    ASSERT_TRUE(changed.contains("Compression=\"1.7\""));
    changed.replace("Compression=\"1.7\"", "Compression=\"1.8\"");
    QFile settings(box.root + "/changed.hvsx");
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write(changed);
    settings.close();
    const QImage other = renderDesk(box, "changed", {"--tm_settings=" + settings.fileName()});
    ASSERT_FALSE(other.isNull());
    const differenceSummary moved = halvora::test::compareSrgb8(samples(other), samples(expected));
    EXPECT_TRUE(moved.mean > meanBound || moved.p99 > p99Bound)
        << "a changed look passes: " << describe(moved);
}
