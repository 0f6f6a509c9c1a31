// Opening profiles: good files, and every way a profile file can lie about itself — it must be
// refused with a reason that names the file, never read past its end or crash the program.

#include "color/iccProfile.h"
#include "color/colorTransform.h"
#include "colorTestSupport.h"
#include "support/testSupport.h"

#include <QFile>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace halvora;
using namespace colorTest;

namespace {

void putBigEndian32(QByteArray& data, int at, uint32_t v) {
    data[at] = char(v >> 24);
    data[at + 1] = char(v >> 16);
    data[at + 2] = char(v >> 8);
    data[at + 3] = char(v);
}

/// Every transform the program makes must cope with whatever a profile that opened contains.
void convertWithEverything(const iccProfile& profile, const iccProfile& srgb) {
    for (pixelLayout layout : {pixelLayout::rgb8, pixelLayout::rgb16}) {
        for (bool forward : {true, false}) {
            QString error;
            auto t = forward ? colorTransform::create(profile, srgb, layout, 0, true, &error)
                             : colorTransform::create(srgb, profile, layout, 0, true, &error);
            if (!t) {
                EXPECT_FALSE(error.isEmpty());
                continue;
            }
            std::vector<uint8_t> pixels(64 * 6);
            for (size_t i = 0; i < pixels.size(); ++i)
                pixels[i] = uint8_t(i * 37);
            t->apply(pixels.data(), 64);
        }
    }
}

} // namespace

TEST(iccProfile, opensAShippedProfileAndDescribesIt) {
    QString error;
    const iccProfile p = iccProfile::fromFile(profileDir() + "/AdobeRGB1998.icc", &error);
    ASSERT_TRUE(p.valid()) << error.toStdString();
    EXPECT_TRUE(p.isRgb());
    EXPECT_EQ(p.colorSpace(), 0x52474220u);
    EXPECT_EQ(p.data(), shippedBytes("AdobeRGB1998.icc"));
    const profileInfo_t info = p.info();
    EXPECT_EQ(info.description, "Adobe RGB (1998) compatible (Halvora)");
    EXPECT_EQ(info.manufacturer, "Halvora");
    EXPECT_EQ(profileSummaryHtml(p),
              "<b>Adobe RGB (1998) compatible (Halvora)</b><br>Halvora<br>Adobe RGB (1998) "
              "compatible<br>No copyright; made from published primaries");

    // Trailing bytes after the declared length (as in some embedded copies) are not part of it.
    QByteArray padded = shippedBytes("sRGB.icm") + QByteArray(100, 'x');
    const iccProfile q = iccProfile::fromData(padded, "padded", &error);
    ASSERT_TRUE(q.valid()) << error.toStdString();
    EXPECT_EQ(q.data(), shippedBytes("sRGB.icm"));
}

TEST(iccProfile, refusesDataThatIsNotAWholeProfile) {
    const QByteArray good = shippedBytes("sRGB.icm");
    ASSERT_GT(good.size(), 300);
    struct hostile {
        const char* what;
        QByteArray data;
        QString reason;
    };
    std::vector<hostile> cases;
    cases.push_back({"empty", QByteArray(), "too short for a colour profile (0 bytes)"});
    cases.push_back({"header only", good.left(131), "too short for a colour profile (131 bytes)"});
    QByteArray noMagic = good;
    noMagic[36] = 'x';
    cases.push_back({"no magic", noMagic, "no 'acsp' signature"});
    cases.push_back(
        {"cut in half", good.left(good.size() / 2),
         QString("truncated: declares %1 bytes but holds only %2").arg(good.size()).arg(good.size() / 2)});
    QByteArray huge = good;
    putBigEndian32(huge, 0, 0xFFFFFFF0u);
    cases.push_back({"4 GB declared", huge, "declares an impossible length of 4294967280 bytes"});
    QByteArray tiny = good;
    putBigEndian32(tiny, 0, 100);
    cases.push_back({"100 bytes declared", tiny, "declares an impossible length of 100 bytes"});
    QByteArray manyTags = good;
    putBigEndian32(manyTags, 128, 0x10000000u);
    cases.push_back({"tag count", manyTags, "table of 268435456 tags runs past the end"});
    QByteArray farTag = good;
    putBigEndian32(farTag, 132 + 4, 0xFFFFFF00u);
    cases.push_back({"tag offset", farTag, "lies outside the profile (offset 4294967040"});
    // offset + size wraps around in 32 bits but not in 64.
    QByteArray wrapping = good;
    putBigEndian32(wrapping, 132 + 4, 0x80000000u);
    putBigEndian32(wrapping, 132 + 8, 0x80000000u);
    cases.push_back({"wrapping tag", wrapping, "lies outside the profile"});
    QByteArray intoHeader = good;
    putBigEndian32(intoHeader, 132 + 4, 16);
    cases.push_back({"tag in the header", intoHeader, "lies outside the profile (offset 16"});

    for (const hostile& h : cases) {
        QString error;
        const iccProfile p = iccProfile::fromData(h.data, "/photos/bad.icc", &error);
        EXPECT_FALSE(p.valid()) << h.what;
        EXPECT_TRUE(error.startsWith("/photos/bad.icc: ")) << h.what << ": " << error.toStdString();
        EXPECT_TRUE(error.contains(h.reason)) << h.what << ": " << error.toStdString();
    }
}

TEST(iccProfile, survivesCorruptTagContents) {
    // A header and tag table that pass every check, with the tags themselves damaged: either the
    // library refuses the profile, or transforms made with it fail cleanly or convert something.
    QString error;
    const QByteArray good = shippedBytes("sRGB.icm");
    const iccProfile srgb = iccProfile::fromData(good, "sRGB", &error);
    ASSERT_TRUE(srgb.valid());
    const int tableEnd = 132 + 12 * int(uint8_t(good[131]));
    uint64_t state = 12345;
    int opened = 0;
    for (int round = 0; round < 150; ++round) {
        QByteArray bad = good;
        const int changes = 1 + round % 8;
        for (int c = 0; c < changes; ++c) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            const int at = tableEnd + int((state >> 33) % uint64_t(good.size() - tableEnd));
            bad[at] = char(state >> 13);
        }
        const iccProfile p = iccProfile::fromData(bad, "mutated", &error);
        if (!p.valid()) continue;
        ++opened;
        p.info();
        convertWithEverything(p, srgb);
    }
    EXPECT_GT(opened, 0) << "most damaged tags are only found when a transform reads them";
}

TEST(iccProfile, fileErrorsNameTheFile) {
    const QString dir = halvora::test::makeTempDir("profiles");
    QString error;
    EXPECT_FALSE(iccProfile::fromFile(dir + "/missing.icc", &error).valid());
    EXPECT_EQ(error, dir + "/missing.icc: no such file");

    EXPECT_FALSE(iccProfile::fromFile(dir, &error).valid());
    EXPECT_TRUE(error.startsWith(dir + ": ")) << error.toStdString();

    QFile big(dir + "/big.icc");
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(65 << 20));
    big.close();
    EXPECT_FALSE(iccProfile::fromFile(dir + "/big.icc", &error).valid());
    EXPECT_EQ(error, dir + "/big.icc: too large for a colour profile (68157440 bytes)");

    ASSERT_TRUE(halvora::test::writeBytes(dir + "/cut.icc", shippedBytes("sRGB.icm").left(400)));
    EXPECT_FALSE(iccProfile::fromFile(dir + "/cut.icc", &error).valid());
    EXPECT_TRUE(error.startsWith(dir + "/cut.icc: truncated")) << error.toStdString();
}

TEST(iccProfile, savesWholeFilesOnly) {
    const QString dir = halvora::test::makeTempDir("saving");
    QString error;
    const iccProfile p = iccProfile::fromData(shippedBytes("AppleRGB.icc"), "Apple", &error);
    ASSERT_TRUE(p.valid());
    ASSERT_TRUE(p.saveToFile(dir + "/copy.icc", &error)) << error.toStdString();
    QFile copy(dir + "/copy.icc");
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), shippedBytes("AppleRGB.icc"));

    EXPECT_FALSE(p.saveToFile(dir + "/no/such/folder/copy.icc", &error));
    EXPECT_TRUE(error.startsWith(dir + "/no/such/folder/copy.icc: ")) << error.toStdString();
    EXPECT_FALSE(iccProfile().saveToFile(dir + "/empty.icc", &error));
    EXPECT_FALSE(QFile::exists(dir + "/empty.icc"));
}

TEST(iccProfile, infoTextsAreShortPrintableAndEscaped) {
    profileInfo_t texts;
    texts.description = QString(100, 'd');
    texts.manufacturer = "<script>&";
    texts.model = "tab\there";
    texts.copyright = "";
    chromaticities_t c;
    const double srgb[8] = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.3127, 0.3290};
    c = chromaticities_t::fromArray(srgb);
    QString error;
    const iccProfile p = iccProfile::fromChromaticities(c, transferCurve_t::gamma(2.2), texts, &error);
    ASSERT_TRUE(p.valid()) << error.toStdString();
    const profileInfo_t info = p.info();
    EXPECT_EQ(info.description, QString(63, 'd'));
    EXPECT_EQ(info.model, "tab?here");
    EXPECT_EQ(info.copyright, "-");
    EXPECT_EQ(profileSummaryHtml(p),
              "<b>" + QString(63, 'd') + "</b><br>&lt;script&gt;&amp;<br>tab?here<br>-");
}
