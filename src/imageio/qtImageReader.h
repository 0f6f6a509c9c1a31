#pragma once
// JPEG, PNG and BMP through the toolkit's image reader, with what the toolkit does not check:
// the file must be a regular file that can hold the picture its header declares (checked before any
// memory is reserved), and a decode that the JPEG plugin reports as damaged or incomplete fails
// instead of delivering a picture with a grey or black part.
//
// The calls keep no state: the information call runs during preparation, the reads on load workers,
// several at once on different files.

#include "imageio/imageFormat.h"

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <cstdint>
#include <cstdio>

namespace halvora {

/// What a picture file's header declares, read without decoding.
struct declaredPicture {
    bool known = false; ///< the header was understood
    int64_t width = 0;
    int64_t height = 0;
    uint64_t leastBytes = 0; ///< fewest bytes a file of this kind and size can have
};

/// The header of a JPEG, PNG or BMP file at the start of `file` (read from its current position).
declaredPicture declaredQtPicture(std::FILE* file, imageFormat format);

/// Size of a JPEG (format 0), BMP (2) or PNG (3) file; false with the reason (see failure.h) for a
/// file that is not a regular file, cannot be read by the toolkit, or is too short for its size.
bool qtImageInfo(const QString& fileName, imageFormat format, int& width, int& height, QString* error);

/// Decodes the rows `clip` (the whole picture when empty) of a file whose picture is `expected`
/// big into `image` (an image of the right size and format given in is decoded into). False with the
/// reason when the file changed its size, cannot be decoded, or the decoder reported damaged or
/// missing data. Any thread.
bool qtImageRead(const QString& fileName, imageFormat format, const QSize& expected, const QRect& clip,
                 QImage& image, QString* error);

} // namespace halvora
