#pragma once
// A JPEG file written band by band as the rows of the picture become ready, so the full-size result
// never needs an 8-bit copy of its own and encoding can run while later rows are still computed.
// Baseline JPEG with the library's standard tables at the given quality, 4:2:0 chroma, a JFIF header
// with the resolution in dots per inch. The file gets its name only at finish() (base/replacingFile.h):
// a failed or abandoned stream leaves any existing file untouched.
//
// Used by one thread at a time (the saving worker, or the pool task it hands a band to).

#include "imageio/imageSaver.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>

class jpegStreamWriter {
public:
    /// `caller` names the writer in the debug log's failure lines.
    explicit jpegStreamWriter(const char* caller = "jpegStreamWriter");
    /// Abandons an unfinished file.
    ~jpegStreamWriter();
    jpegStreamWriter(const jpegStreamWriter&) = delete;
    jpegStreamWriter& operator=(const jpegStreamWriter&) = delete;

    /// Creates the file and writes the header of a width × height picture, with `iccProfile` (when
    /// given) embedded as APP2 segments; false with the reason.
    bool open(const QString& fileName, int width, int height, int quality, int dpi, QString* error,
              const QByteArray& iccProfile = QByteArray());
    /// Encodes the next `rows` rows of a working-scale picture (3 samples per pixel, 8-bit = sample >> 7);
    /// `transform` (optional) converts each row on the way, the rows are not changed. False with the
    /// reason when the rows do not fit the picture or the encoder or the disk fails.
    bool writeRows(const uint16_t* rgb16, int rows, const imageSaver::rowTransform_t& transform,
                   QString* error);
    /// Ends the stream after the last row and gives the file its name; false with the reason.
    bool finish(QString* error);

    int rowsWritten() const;
    /// The file's bytes from its start to the end of its scan header (SOI … SOS) once a row has been
    /// written and while they are still buffered: the same for every stream of this size, quality,
    /// resolution and profile. Empty otherwise.
    QByteArray headerBytes() const;

private:
    const char* who_;
    struct state;
    std::unique_ptr<state> s_;
};
