#pragma once
// Format code of a file, from its lower-cased suffix only (the content is not sniffed).

#include <QString>

enum imageFormat : int {
    formatUnsupported = -1,
    formatJpeg = 0,
    formatTiff = 1,
    formatBmp = 2,
    formatPng = 3,
    formatRaw = 4,
    formatFits = 5,
    formatRadianceRgbe = 6,
    formatOpenExr = 7,
};

namespace halvora {

/// The format code of `fileName` (the text after its last dot, compared in lower case).
imageFormat imageFormatOf(const QString& fileName);

} // namespace halvora
