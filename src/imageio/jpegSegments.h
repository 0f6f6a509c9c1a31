#pragma once
// The segment layout of a JPEG file as a metadata tool sees it: metadata segments (APPn, COM) after
// SOI, then the picture's own segments (tables, frame, scan). Lets the metadata a tool wrote into a
// small stand-in file be moved onto the full picture, which is what the tool itself would have
// written into it.

#include <QByteArray>
#include <QString>

namespace halvora {

/// Offset just past the scan header (the SOS segment) of the JPEG data in `bytes`; 0 when the bytes
/// end before it or do not follow the segment layout.
qsizetype jpegScanHeaderEnd(const QByteArray& bytes);
/// Offset of the first segment after SOI that is neither APPn nor COM; 0 when there is none or the
/// bytes do not follow the segment layout.
qsizetype jpegPictureSegmentsStart(const QByteArray& bytes);

/// Gives the complete JPEG file `target`, which starts with `header` (SOI … SOS), the metadata of
/// `tagged`, a stand-in that held `header` and EOI before a tool wrote its tags: the segments before
/// the picture's own come from `tagged`, everything from there on from `target`. False with the
/// reason, `target` untouched, when either file is not what is described here (the tool changed more
/// than metadata, or `target` has another header).
bool spliceJpegMetadata(const QString& target, const QByteArray& header, const QString& tagged,
                        QString* error);

} // namespace halvora
