// PNG chunk check: files libpng writes in every layout pass it (the row arithmetic of interlaced
// passes against libpng's own writer), every cut of a real photo is found, and whatever libpng
// itself stops at while decoding — which it would print on standard error — is refused first.

#include "imageio/pngChunks.h"
#include "imageio/qtImageReader.h"
#include "support/testSupport.h"

#include <QFile>
#include <QImage>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

#include <csetjmp>
#include <png.h>
#include <zlib.h>

using namespace halvora;
using namespace halvora::test;

namespace {

QString damage(const std::string& bytes, pngCheck depth) {
    std::FILE* file = std::tmpfile();
    if (!file) return QStringLiteral("no scratch file");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::rewind(file);
    const QString reason = pngDamage(file, bytes.size(), depth);
    std::fclose(file);
    return reason;
}

struct layout {
    int colourType, depth, width, height;
    bool interlaced;
};

void appendBytes(png_structp png, png_bytep data, size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}
void noFlush(png_structp) {}

// A picture written by libpng itself (rows of varied bytes so every filter type may be chosen).
std::string writePng(const layout& l) {
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, appendBytes, noFlush);
    png_set_IHDR(png, info, png_uint_32(l.width), png_uint_32(l.height), l.depth, l.colourType,
                 l.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_color palette[256];
    for (int i = 0; i < 256; ++i)
        palette[i] = {png_byte(i), png_byte(255 - i), png_byte(i * 7)};
    if (l.colourType == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette, 1 << l.depth);
    png_write_info(png, info);
    const int channels = l.colourType == 2 ? 3 : l.colourType == 4 ? 2 : l.colourType == 6 ? 4 : 1;
    const size_t rowBytes = (size_t(l.width) * channels * l.depth + 7) / 8;
    std::vector<std::vector<png_byte>> rows(size_t(l.height), std::vector<png_byte>(rowBytes));
    std::vector<png_bytep> pointers;
    for (size_t y = 0; y < rows.size(); ++y) {
        for (size_t i = 0; i < rowBytes; ++i)
            rows[y][i] = png_byte((i * 31 + y * 17 + (i * y) % 13) & 0xFF);
        pointers.push_back(rows[y].data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

struct reading {
    const std::string* bytes;
    size_t at = 0;
};
void readBytes(png_structp png, png_bytep out, size_t length) {
    auto* r = static_cast<reading*>(png_get_io_ptr(png));
    if (r->at + length > r->bytes->size()) png_error(png, "Read Error");
    std::memcpy(out, r->bytes->data() + r->at, length);
    r->at += length;
}
void failQuietly(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void ignoreWarning(png_structp, png_const_charp) {}

// Whether libpng decodes the whole file (image and end chunks) without an error, the way the
// toolkit's plugin reads it: the warnings are the plugin's (and reach its log), the errors libpng's.
bool libpngDecodes(const std::string& bytes) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, failQuietly, ignoreWarning);
    png_infop info = png_create_info_struct(png);
    png_infop endInfo = png_create_info_struct(png);
    std::vector<std::vector<png_byte>> rows;
    std::vector<png_bytep> pointers;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, &endInfo);
        return false;
    }
    reading r{&bytes};
    png_set_read_fn(png, &r, readBytes);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t height = png_get_image_height(png, info);
    rows.assign(height, std::vector<png_byte>(png_get_rowbytes(png, info)));
    for (auto& row : rows)
        pointers.push_back(row.data());
    png_read_image(png, pointers.data());
    png_read_end(png, endInfo);
    png_destroy_read_struct(&png, &info, &endInfo);
    return true;
}

uint32_t be32(const std::string& s, size_t at) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data() + at);
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Every chunk's CRC made right again after its bytes were changed, so the check has to find the
// damage in the structure or the compressed rows.
void fixCrcs(std::string& s) {
    size_t at = 8;
    while (at + 12 <= s.size()) {
        const uint64_t length = be32(s, at);
        if (at + 12 + length > s.size()) return;
        const uint32_t crc =
            uint32_t(crc32(0, reinterpret_cast<const Bytef*>(s.data() + at + 4), uInt(length + 4)));
        for (int i = 0; i < 4; ++i)
            s[at + 8 + length + i] = char(crc >> (24 - 8 * i));
        at += 12 + length;
    }
}

// The file with the last `bytes` bytes of its last IDAT chunk removed (its length adjusted): the
// compressed rows stop early, the chunks stay whole.
std::string withShortLastIdat(const std::string& png, uint32_t bytes) {
    size_t at = 8, last = 0;
    while (at + 12 <= png.size()) {
        if (png.compare(at + 4, 4, "IDAT") == 0) last = at;
        at += 12 + be32(png, at);
    }
    bytes = std::min(bytes, be32(png, last) - 1);
    const uint32_t length = be32(png, last) - bytes;
    std::string out = png.substr(0, last + 8 + length) + png.substr(last + 8 + length + bytes);
    for (int i = 0; i < 4; ++i)
        out[last + i] = char(length >> (24 - 8 * i));
    fixCrcs(out);
    return out;
}

const std::vector<layout> kLayouts = {
    {0, 1, 1, 1, false},   {0, 1, 13, 7, true},  {0, 2, 9, 17, true},    {0, 4, 3, 5, true},
    {0, 16, 33, 2, true},  {3, 2, 10, 9, true},  {3, 8, 5, 5, false},    {3, 1, 8, 8, true},
    {2, 8, 17, 9, true},   {2, 16, 6, 1, false}, {4, 8, 2, 11, true},    {6, 16, 7, 7, true},
    {6, 8, 64, 40, false}, {2, 8, 1, 30, true},  {0, 8, 300, 200, true},
};

} // namespace

TEST(pngChunks, filesLibpngWritesPassInEveryLayout) {
    for (const layout& l : kLayouts) {
        const std::string png = writePng(l);
        ASSERT_FALSE(png.empty());
        ASSERT_TRUE(libpngDecodes(png));
        EXPECT_EQ(damage(png, pngCheck::layout), QString())
            << "type " << l.colourType << " depth " << l.depth << " " << l.width << "x" << l.height;
        EXPECT_EQ(damage(png, pngCheck::data), QString())
            << "type " << l.colourType << " depth " << l.depth << " " << l.width << "x" << l.height
            << (l.interlaced ? " interlaced" : "");
    }
}

TEST(pngChunks, everyCutOfARealPhotoIsFound) {
    HALVORA_REQUIRE_DATA();
    QFile f(dataFile("brackets/ghost_horse_3exp/1.png"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray whole = f.readAll();
    const std::string photo(whole.constData(), size_t(whole.size()));
    EXPECT_EQ(damage(photo, pngCheck::data), QString());
    // The end chunk is the file's last 12 bytes: any shorter file lacks it or more.
    std::vector<size_t> cuts = {0, 7, 8, 20, 33, 40, photo.size() - 12, photo.size() - 1};
    for (size_t cut = 41; cut < photo.size(); cut += photo.size() / 97)
        cuts.push_back(cut);
    for (size_t cut : cuts) {
        const std::string part = photo.substr(0, cut);
        EXPECT_NE(damage(part, pngCheck::layout), QString()) << "cut at " << cut;
        if (cut >= 41) {
            EXPECT_TRUE(damage(part, pngCheck::layout).startsWith("is truncated")) << cut;
        }
    }
    // A changed byte inside the picture data breaks its chunk's CRC.
    std::string flipped = photo;
    flipped[photo.size() / 2] = char(flipped[photo.size() / 2] ^ 1);
    EXPECT_EQ(damage(flipped, pngCheck::layout), QString()) << "the layout itself is intact";
    EXPECT_TRUE(damage(flipped, pngCheck::data).contains("its CRC does not match"));
    EXPECT_FALSE(libpngDecodes(flipped));
}

TEST(pngChunks, whateverLibpngStopsAtIsRefusedFirst) {
    // Damaged copies of small files: a few bytes changed anywhere, half of them with every CRC made
    // right again, and cuts of the compressed rows with a proper end appended.
    std::mt19937 random(20261207);
    int libpngFailures = 0;
    for (const layout& l : kLayouts) {
        const std::string png = writePng(l);
        for (int round = 0; round < 150; ++round) {
            std::string bad = png;
            const int changes = 1 + int(random() % 3);
            for (int i = 0; i < changes; ++i) {
                const size_t at = 8 + random() % (bad.size() - 8);
                bad[at] = char(bad[at] ^ (1 + random() % 255));
            }
            if (round % 2 == 0) fixCrcs(bad);
            if (round % 10 == 9) {
                // Rows that run out: the last IDAT cut short, then the end chunk.
                bad = withShortLastIdat(png, 1 + random() % 60);
            }
            const bool decodes = libpngDecodes(bad);
            const QString reason = damage(bad, pngCheck::data);
            libpngFailures += decodes ? 0 : 1;
            if (!decodes) {
                EXPECT_NE(reason, QString()) << "libpng fails on a file the check passes (type "
                                             << l.colourType << ", round " << round << ")";
            }
        }
    }
    // The damage must have reached both sides often enough to mean something.
    EXPECT_GT(libpngFailures, 500);
}

// A cut file is refused by the information call (the hostile-input set has one); picture data that
// end early, with a valid end, pass it and are refused by the read.
TEST(pngChunks, theReaderRefusesDamageWithItsReason) {
    const QString dir = makeTempDir("png");
    const std::string png = writePng({2, 8, 40, 30, false});
    int width = 0, height = 0;
    QString error;
    const std::string early = withShortLastIdat(png, 40);
    ASSERT_TRUE(writeBytes(dir + "/early.png", QByteArray(early.data(), qsizetype(early.size()))));
    ASSERT_TRUE(qtImageInfo(dir + "/early.png", formatPng, width, height, &error)) << error.toStdString();
    QImage image;
    error.clear();
    EXPECT_FALSE(qtImageRead(dir + "/early.png", formatPng, QSize(40, 30), QRect(), image, &error));
    EXPECT_TRUE(error.contains("damaged picture data")) << error.toStdString();
}
