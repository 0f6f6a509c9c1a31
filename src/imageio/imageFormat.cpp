#include "imageio/imageFormat.h"

#include <QStringList>

namespace halvora {

imageFormat imageFormatOf(const QString& fileName) {
    const qsizetype dot = fileName.lastIndexOf('.');
    if (dot < 0) return formatUnsupported;
    const QString suffix = fileName.mid(dot + 1).toLower();
    static const QStringList raw = {"crw", "cr2", "nef", "nrw", "raf", "orf", "srf", "sr2",
                                    "arw", "srw", "pef", "mrw", "mdc", "dcr", "dcs", "kdc",
                                    "raw", "dng", "x3f", "3fr", "erf", "rw2", "rwl"};
    if (suffix == "jpg" || suffix == "jpeg") return formatJpeg;
    if (suffix == "tif" || suffix == "tiff") return formatTiff;
    if (suffix == "bmp") return formatBmp;
    if (suffix == "png") return formatPng;
    if (suffix == "fit" || suffix == "fts" || suffix == "fits") return formatFits;
    if (suffix == "hdr") return formatRadianceRgbe;
    if (suffix == "exr") return formatOpenExr;
    if (raw.contains(suffix)) return formatRaw;
    return formatUnsupported;
}

} // namespace halvora
