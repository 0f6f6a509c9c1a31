#include "imageio/jpegSegments.h"

#include "base/failure.h"
#include "base/replacingFile.h"

#include <QFile>

namespace halvora {
namespace {

constexpr const char* kSplice = "spliceJpegMetadata";

// Walks the segments after SOI until `stop` accepts a marker; returns the offset of that marker's
// 0xFF, or 0 when the bytes end first or break the layout.
template <class Stop> qsizetype walkSegments(const QByteArray& bytes, Stop&& stop) {
    const auto* d = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    if (n < 4 || d[0] != 0xFF || d[1] != 0xD8) return 0;
    qsizetype i = 2;
    while (i + 4 <= n) {
        if (d[i] != 0xFF) return 0;
        const unsigned marker = d[i + 1];
        if (stop(marker)) return i;
        // Every marker before the scan carries a length that counts its own two bytes.
        const qsizetype length = qsizetype(d[i + 2]) << 8 | d[i + 3];
        if (marker == 0xD8 || marker == 0xD9 || (marker >= 0xD0 && marker <= 0xD7) || length < 2) return 0;
        i += 2 + length;
    }
    return 0;
}

bool isMetadata(unsigned marker) {
    return (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE;
}

// The stand-in holds only headers: anything larger is not one.
constexpr qint64 kMaxStandIn = 16 << 20;

} // namespace

qsizetype jpegScanHeaderEnd(const QByteArray& bytes) {
    const qsizetype sos = walkSegments(bytes, [](unsigned marker) { return marker == 0xDA; });
    if (sos == 0 || sos + 4 > bytes.size()) return 0;
    const qsizetype end = sos + 2 + (qsizetype(uchar(bytes[sos + 2])) << 8 | uchar(bytes[sos + 3]));
    return end <= bytes.size() ? end : 0;
}

qsizetype jpegPictureSegmentsStart(const QByteArray& bytes) {
    return walkSegments(bytes, [](unsigned marker) { return !isMetadata(marker); });
}

bool spliceJpegMetadata(const QString& target, const QByteArray& header, const QString& tagged,
                        QString* error) {
    QFile standFile(tagged);
    if (!standFile.open(QIODevice::ReadOnly))
        return fail(error, kSplice, tagged, asReason(standFile.errorString()));
    if (standFile.size() > kMaxStandIn) return fail(error, kSplice, tagged, "is too large for a stand-in");
    const QByteArray stand = standFile.readAll();
    const qsizetype standStart = jpegPictureSegmentsStart(stand);
    const qsizetype ownStart = jpegPictureSegmentsStart(header);
    if (ownStart == 0 || jpegScanHeaderEnd(header) != header.size() || standStart == 0 ||
        stand.mid(standStart) != header.mid(ownStart) + QByteArray("\xFF\xD9", 2))
        return fail(error, kSplice, tagged, "the metadata tool changed more than the metadata");

    // The picture is copied a piece at a time behind the new metadata; the target keeps its bytes
    // until the copy is complete and takes its place.
    QFile picture(target);
    if (!picture.open(QIODevice::ReadOnly))
        return fail(error, kSplice, target, asReason(picture.errorString()));
    if (picture.read(header.size()) != header)
        return fail(error, kSplice, target, "does not start with the expected JPEG header");
    replacingFile out(target);
    if (!out.open(kSplice, error)) return false;
    bool written = out.write(stand.constData(), size_t(standStart)) &&
                   out.write(header.constData() + ownStart, size_t(header.size() - ownStart));
    QByteArray piece;
    while (written && !(piece = picture.read(1 << 20)).isEmpty())
        written = out.write(piece.constData(), size_t(piece.size()));
    if (!written) return fail(error, kSplice, target, out.writeReason());
    if (picture.error() != QFileDevice::NoError)
        return fail(error, kSplice, target, asReason(picture.errorString()));
    return out.commit(kSplice, error);
}

} // namespace halvora
