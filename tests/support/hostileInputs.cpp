#include "support/hostileInputs.h"
#include "support/testSupport.h"
#include "support/tiffTestEncoders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvora::test {
namespace {

using outcome = hostileInput::outcome;

/// Writes by the name's real bytes (some are not UTF-8, which a QString cannot carry).
bool writeAll(const QByteArray& name, const QByteArray& bytes) {
    FILE* out = std::fopen(name.constData(), "wb");
    if (!out) return false;
    const bool ok = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out) == size_t(bytes.size());
    return std::fclose(out) == 0 && ok;
}

void put16(QByteArray& b, uint16_t v) {
    b.append(char(v & 255)).append(char(v >> 8));
}
void put32(QByteArray& b, uint32_t v) {
    put16(b, uint16_t(v));
    put16(b, uint16_t(v >> 16));
}
void putBE32(QByteArray& b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8)
        b.append(char((v >> s) & 255));
}

using bytes = std::vector<uint8_t>;

QByteArray asBytes(const bytes& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size()));
}

// ---- JPEG

/// Offset of the first frame header (SOFn marker) of a JPEG, or -1.
qsizetype frameHeader(const QByteArray& jpeg) {
    qsizetype pos = 2;
    while (pos + 4 <= jpeg.size() && uint8_t(jpeg[pos]) == 0xFF) {
        const uint8_t marker = uint8_t(jpeg[pos + 1]);
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            return pos;
        pos += 2 + ((uint8_t(jpeg[pos + 2]) << 8) | uint8_t(jpeg[pos + 3]));
    }
    return -1;
}

/// Offset just after the first start-of-scan segment's header.
qsizetype scanData(const QByteArray& jpeg) {
    const qsizetype sos = jpeg.indexOf(QByteArray("\xff\xda", 2));
    return sos < 0 ? -1 : sos + 2 + ((uint8_t(jpeg[sos + 2]) << 8) | uint8_t(jpeg[sos + 3]));
}

/// An APP1 EXIF section whose only directory links to itself as its next directory.
QByteArray selfLinkedExif() {
    tiffBuilder tiff(false);
    const int d = tiff.addIfd();
    tiff.shorts(d, 0x0112, {1}); // Orientation 1
    tiff.setNext(d, d);
    const QByteArray data = asBytes(exifApp1(tiff.build()));
    QByteArray app1("\xff\xe1", 2);
    app1.append(char((data.size() + 2) >> 8)).append(char((data.size() + 2) & 255));
    return app1 + data;
}

// ---- PNG and BMP

QByteArray withPngSize(QByteArray png, uint32_t width, uint32_t height) {
    QByteArray ihdr = png.mid(12, 4 + 13);
    QByteArray size;
    putBE32(size, width);
    putBE32(size, height);
    ihdr.replace(4, 8, size);
    png.replace(12, 17, ihdr);
    QByteArray crc;
    putBE32(crc, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(ihdr.constData()), uInt(ihdr.size()))));
    png.replace(29, 4, crc);
    return png;
}

/// A 24-bit bottom-up BMP of w × h pixels with a colour ramp.
QByteArray bmpPicture(int w, int h) {
    const int stride = (w * 3 + 3) / 4 * 4;
    QByteArray b("BM", 2);
    put32(b, uint32_t(54 + stride * h));
    put32(b, 0);
    put32(b, 54);
    put32(b, 40);
    put32(b, uint32_t(w));
    put32(b, uint32_t(h));
    put16(b, 1);
    put16(b, 24);
    put32(b, 0);
    put32(b, uint32_t(stride * h));
    put32(b, 2835);
    put32(b, 2835);
    put32(b, 0);
    put32(b, 0);
    for (int y = 0; y < h; ++y) {
        QByteArray row(stride, '\0');
        for (int x = 0; x < w; ++x) {
            row[3 * x] = char(x * 4);
            row[3 * x + 1] = char(y * 5);
            row[3 * x + 2] = char(x + y);
        }
        b += row;
    }
    return b;
}

// ---- TIFF: 16 × 16 pixels, four strips of four rows, little-endian

constexpr int kTiffSide = 16;
constexpr int kStripRows = 4;
constexpr int kStripBytes = kTiffSide * kStripRows * 3;

bytes stripSamples(int strip, int count = kStripBytes) {
    bytes raw(size_t(count), 0);
    for (int i = 0; i < count; ++i)
        raw[size_t(i)] = uint8_t((i * 7 + strip * 31) & 255);
    return raw;
}

bytes garbage(size_t count) {
    bytes g(count);
    for (size_t i = 0; i < count; ++i)
        g[i] = uint8_t(0xFF - (i * 13) % 251);
    return g;
}

bytes firstHalf(const bytes& b) {
    return bytes(b.begin(), b.begin() + long(b.size() / 2));
}

/// The four strips of an RGB picture, coded by `encode`; strip `damaged` is replaced by `instead`.
std::vector<bytes> rgbStrips(const std::function<bytes(const bytes&)>& encode, int damaged = -1,
                             const bytes& instead = {}) {
    std::vector<bytes> strips;
    for (int s = 0; s < kTiffSide / kStripRows; ++s)
        strips.push_back(s == damaged ? instead : encode(stripSamples(s)));
    return strips;
}

/// A file of `side` × `side` pixels holding `strips` as they are; one sample per pixel means a palette.
QByteArray tiffFile(const std::vector<bytes>& strips, int compression, int bits = 8, int samples = 3,
                    int sampleFormat = 0, int side = kTiffSide) {
    tiffBuilder b(false);
    std::vector<uint32_t> offsets, counts;
    for (const bytes& s : strips) {
        offsets.push_back(b.addBlob(s));
        counts.push_back(uint32_t(s.size()));
        if (s.size() & 1) b.addBlob({0});
    }
    const int d = b.addIfd();
    b.longs(d, 256, {uint32_t(side)});
    b.longs(d, 257, {uint32_t(side)});
    b.shorts(d, 258, std::vector<uint16_t>(size_t(samples), uint16_t(bits)));
    b.shorts(d, 259, {uint16_t(compression)});
    b.shorts(d, 262, {uint16_t(samples == 1 ? 3 : 2)});
    b.longs(d, 273, offsets);
    b.shorts(d, 277, {uint16_t(samples)});
    b.longs(d, 278, {uint32_t(kStripRows)});
    b.longs(d, 279, counts);
    if (sampleFormat) b.shorts(d, 339, std::vector<uint16_t>(size_t(samples), uint16_t(sampleFormat)));
    return asBytes(b.build());
}

// ---- FITS and Radiance

QByteArray fitsCard(const QByteArray& text) {
    return text.leftJustified(80, ' ');
}

QByteArray fitsTruncated() {
    QByteArray header;
    for (const char* card : {"SIMPLE  =                    T", "BITPIX  =                   16",
                             "NAXIS   =                    2", "NAXIS1  =                  100",
                             "NAXIS2  =                  100", "END"})
        header += fitsCard(card);
    header = header.leftJustified(2880, ' ');
    return header + QByteArray(1000, '\x11');
}

QString declares(qint64 w, qint64 h, qint64 bytes) {
    return QStringLiteral("declares %1 × %2 pixels but holds only %3 bytes").arg(w).arg(h).arg(bytes);
}

} // namespace

QStringList hostileInputNames() {
    return QString(
               "jpeg_truncated_mid_scan_with_end_marker jpeg_truncated jpeg_declares_8000x6000 jpeg_empty "
               "jpeg_not_a_picture unsupported_suffix png_truncated png_damaged_picture_data "
               "png_declares_60000x60000 bmp_truncated tiff_lzw_damaged_strip tiff_lzw_short_strip "
               "tiff_deflate_damaged_strip tiff_deflate_short_strip tiff_packbits_short_strip "
               "tiff_32bit_unsigned tiff_16bit_signed tiff_palette tiff_declares_60000x60000 "
               "rgbe_damaged_crlf rgbe_declares_30000x30000 exr_declares_30000x30000 fits_truncated_data "
               "fifo directory unreadable missing non_utf8_name_twins non_utf8_name_loads "
               "exif_directory_links_to_itself jpeg_trailing_bytes radiance_nan_and_infinity")
        .split(' ');
}

std::vector<hostileInput> makeHostileInputs(const QString& dir, const QString& dataDir) {
    const QByteArray photo = readBytes(dataDir + "/brackets/desk_canon_s45_13exp/img13.jpg");
    const QByteArray mid = readBytes(dataDir + "/brackets/desk_canon_s45_13exp/img09.jpg");
    const QByteArray png = readBytes(dataDir + "/brackets/ghost_horse_3exp/1.png");
    const QByteArray damagedHdr = readBytes(dataDir + "/formats/rgbe/memorial_DAMAGED_crlf.hdr");
    const QByteArray desk = readBytes(dataDir + "/radiance/openexr_images/ScanLines/Desk.exr");
    const QByteArray nanInf =
        readBytes(dataDir + "/radiance/openexr_images/TestImages/BrightRingsNanInf.exr");
    if (photo.isEmpty() || mid.isEmpty() || png.isEmpty() || damagedHdr.isEmpty() || desk.isEmpty() ||
        nanInf.isEmpty())
        return {};

    std::vector<hostileInput> set;
    const QByteArray folder = QFile::encodeName(dir) + "/";
    auto add = [&](const QString& name, const QByteArray& file, const QByteArray& bytes, outcome expected,
                   const QString& reason) {
        writeAll(folder + file, bytes);
        set.push_back({name, dir + "/" + QFile::decodeName(file), folder + file, expected, reason});
    };
    const QByteArray endMarker("\xff\xd9", 2);

    // JPEG
    add("jpeg_truncated_mid_scan_with_end_marker", "cut_mid_scan.jpg",
        photo.left(scanData(photo) + (photo.size() - scanData(photo)) / 2) + endMarker,
        outcome::refusedAtLoad, "damaged picture data");
    add("jpeg_truncated", "cut.jpg", photo.left(photo.size() * 2 / 3), outcome::refusedAtLoad,
        "damaged picture data");
    {
        QByteArray lying = mid;
        const qsizetype sof = frameHeader(lying);
        lying[sof + 5] = char(6000 >> 8);
        lying[sof + 6] = char(6000 & 255);
        lying[sof + 7] = char(8000 >> 8);
        lying[sof + 8] = char(8000 & 255);
        add("jpeg_declares_8000x6000", "lying.jpg", lying, outcome::refusedAtPreparation,
            declares(8000, 6000, lying.size()));
    }
    add("jpeg_empty", "empty.jpg", QByteArray(), outcome::refusedAtPreparation, "is empty (0 bytes)");
    add("jpeg_not_a_picture", "text.jpg", "These are not the pixels you are looking for.\n",
        outcome::refusedAtPreparation, "is not a JPEG picture");
    add("unsupported_suffix", "photo.jpe", photo, outcome::refusedAtPreparation,
        "Unsupported image format (\"jpe\" files are not read)");

    // PNG and BMP
    // libpng would complain about these on standard error; the reader finds them first.
    add("png_truncated", "cut.png", png.left(png.size() / 2), outcome::refusedAtPreparation, "is truncated");
    {
        QByteArray damaged = png;
        damaged[damaged.size() / 2] = char(damaged[damaged.size() / 2] ^ 0x10);
        add("png_damaged_picture_data", "damaged.png", damaged, outcome::refusedAtLoad,
            "its CRC does not match");
    }
    {
        const QByteArray lying = withPngSize(png, 60000, 60000);
        add("png_declares_60000x60000", "lying.png", lying, outcome::refusedAtPreparation,
            declares(60000, 60000, lying.size()));
    }
    {
        const QByteArray bmp = bmpPicture(64, 48);
        const QByteArray cut = bmp.left(bmp.size() / 2);
        add("bmp_truncated", "cut.bmp", cut, outcome::refusedAtPreparation, declares(64, 48, cut.size()));
    }

    // TIFF strips that are damaged or run short, sample formats that must be refused, a lying size
    const auto lzw = [](const bytes& raw) { return lzwEncode(raw, false); };
    const bytes lzwGood = lzw(stripSamples(1)), deflateGood = deflateEncode(stripSamples(1));
    add("tiff_lzw_damaged_strip", "lzw_damaged.tif", tiffFile(rgbStrips(lzw, 1, garbage(lzwGood.size())), 5),
        outcome::refusedAtLoad, "strip 1 of 4: damaged LZW data");
    add("tiff_lzw_short_strip", "lzw_short.tif", tiffFile(rgbStrips(lzw, 1, firstHalf(lzwGood)), 5),
        outcome::refusedAtLoad, "strip 1 of 4: the LZW data end");
    add("tiff_deflate_damaged_strip", "deflate_damaged.tif",
        tiffFile(rgbStrips(deflateEncode, 1, garbage(deflateGood.size())), 8), outcome::refusedAtLoad,
        "strip 1 of 4: damaged Deflate data");
    add("tiff_deflate_short_strip", "deflate_short.tif",
        tiffFile(rgbStrips(deflateEncode, 1, firstHalf(deflateGood)), 8), outcome::refusedAtLoad,
        "strip 1 of 4: the Deflate data end");
    add("tiff_packbits_short_strip", "packbits_short.tif",
        tiffFile(rgbStrips(packBitsEncode, 1, packBitsEncode(stripSamples(1, 100))), 32773),
        outcome::refusedAtLoad,
        QStringLiteral("strip 1 of 4: the PackBits data end %1 bytes short of %2")
            .arg(kStripBytes - 100)
            .arg(kStripBytes));
    add("tiff_32bit_unsigned", "uint32.tif",
        tiffFile(std::vector(4, bytes(kStripBytes * 4, 0x3f)), 1, 32, 3, 1), outcome::refusedAtPreparation,
        "unsupported TIFF format (32-bit samples of sample format 1, not floating point)");
    add("tiff_16bit_signed", "int16.tif", tiffFile(std::vector(4, bytes(kStripBytes * 2, 0x3f)), 1, 16, 3, 2),
        outcome::refusedAtPreparation,
        "unsupported TIFF format (16-bit samples of sample format 2, not unsigned integers)");
    add("tiff_palette", "palette.tif", tiffFile(std::vector(4, bytes(kStripBytes / 3, 0x21)), 1, 8, 1),
        outcome::refusedAtPreparation, "unsupported TIFF format (photometric interpretation = 3)");
    {
        const QByteArray lying = tiffFile(rgbStrips([](const bytes& raw) { return raw; }), 1, 8, 3, 0, 60000);
        add("tiff_declares_60000x60000", "lying.tif", lying, outcome::refusedAtPreparation,
            declares(60000, 60000, lying.size()));
    }

    // Radiance, OpenEXR, FITS
    add("rgbe_damaged_crlf", "damaged.hdr", damagedHdr, outcome::refusedAtLoad, "corrupt pixel data");
    {
        const QByteArray header("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 30000 +X 30000\n");
        add("rgbe_declares_30000x30000", "lying.hdr", header + QByteArray(100, '\x02'),
            outcome::refusedAtPreparation, declares(30000, 30000, 100));
    }
    {
        QByteArray lying = desk;
        const qsizetype at = lying.indexOf(QByteArray("dataWindow\0box2i\0", 17));
        QByteArray box;
        for (uint32_t v : {0u, 0u, 29999u, 29999u})
            put32(box, v);
        if (at > 0) lying.replace(at + 17 + 4, 16, box);
        add("exr_declares_30000x30000", "lying.exr", lying, outcome::refusedAtPreparation,
            declares(30000, 30000, lying.size()));
    }
    add("fits_truncated_data", "cut.fits", fitsTruncated(), outcome::refusedAtPreparation,
        declares(100, 100, 3880));

    // Things that are no picture files at all
    const QString fifo = dir + "/fifo.jpg";
    mkfifo(QFile::encodeName(fifo).constData(), 0600);
    set.push_back({"fifo", fifo, QFile::encodeName(fifo), outcome::refusedAtPreparation,
                   "is a named pipe (FIFO), not a regular file"});
    QDir(dir).mkdir("directory.jpg");
    set.push_back({"directory", dir + "/directory.jpg", folder + "directory.jpg",
                   outcome::refusedAtPreparation, "is a directory, not a file"});
    add("unreadable", "unreadable.jpg", photo, outcome::refusedAtPreparation, "permission denied");
    chmod((folder + "unreadable.jpg").constData(), 0);
    set.back().needsUnprivilegedUser = true;
    set.push_back({"missing", dir + "/missing.jpg", folder + "missing.jpg", outcome::refusedAtPreparation,
                   "no such file or directory"});

    // Names whose bytes are not UTF-8: two that read alike cannot be told apart, one alone is found.
    writeAll(folder + "twin_\xfd.jpg", photo);
    add("non_utf8_name_twins", "twin_\xfe.jpg", photo, outcome::refusedAtPreparation,
        "the name is not valid UTF-8 and 2 files of its folder match it");
    add("non_utf8_name_loads", "photo_\xff.jpg", photo, outcome::loads, QString());

    // Valid edge cases
    add("exif_directory_links_to_itself", "exif_loop.jpg", photo.left(2) + selfLinkedExif() + photo.mid(2),
        outcome::loads, QString());
    add("jpeg_trailing_bytes", "trailing.jpg", photo + "appended by some other program", outcome::loads,
        QString());
    add("radiance_nan_and_infinity", "nan_inf.exr", nanInf, outcome::loads, QString());
    return set;
}

void removeHostileInputs(const QString& dir) {
    const QByteArray folder = QFile::encodeName(dir);
    if (DIR* d = opendir(folder.constData())) {
        std::vector<QByteArray> names;
        while (const dirent* entry = readdir(d))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.emplace_back(entry->d_name);
        closedir(d);
        for (const QByteArray& name : names) {
            const QByteArray path = folder + "/" + name;
            if (unlink(path.constData()) != 0) rmdir(path.constData());
        }
    }
    rmdir(folder.constData());
}

} // namespace halvora::test
