#include "imageio/jpegStreamWriter.h"

#include "base/failure.h"
#include "base/replacingFile.h"
#include "base/runContext.h"
#include "imageio/jpegSegments.h"
#include "imageio/resultRows.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace {

// libjpeg refuses larger dimensions.
constexpr int kMaxJpegSide = 65500;
constexpr size_t kOutputBuffer = 256 * 1024;

} // namespace

// libjpeg reports a fault by calling error_exit, which must not return: it jumps back to the
// setjmp of the call that entered the library (see guarded()). Every object alive across that jump is
// plain data, so nothing is skipped that needs destroying.
struct jpegStreamWriter::state {
    struct errorManager {
        jpeg_error_mgr pub;
        std::jmp_buf jump;
        char message[JMSG_LENGTH_MAX];
    };
    struct destination {
        jpeg_destination_mgr pub;
        state* owner;
    };

    state(const QString& name, const char* caller) : file(name), who(caller) {}

    halvora::replacingFile file;
    const char* who;
    jpeg_compress_struct cinfo{};
    errorManager err{};
    destination dest{};
    std::vector<JOCTET> buffer = std::vector<JOCTET>(kOutputBuffer);
    std::vector<uint8_t> row8;
    std::vector<uint16_t> scratch;
    bool created = false; // jpeg_create_compress succeeded
    bool started = false; // jpeg_start_compress succeeded
    bool diskFailed = false;
    bool flushed = false; // the buffer has gone to the file at least once
    bool broken = false;  // a fault happened: the stream can only be abandoned
    bool finished = false;
    int width = 0, height = 0, rows = 0;

    static void onError(j_common_ptr c) {
        auto* e = reinterpret_cast<errorManager*>(c->err);
        (*c->err->format_message)(c, e->message);
        std::longjmp(e->jump, 1);
    }
    static void onMessage(j_common_ptr, int) {}

    static void initDestination(j_compress_ptr c) {
        auto* d = reinterpret_cast<destination*>(c->dest);
        d->pub.next_output_byte = d->owner->buffer.data();
        d->pub.free_in_buffer = d->owner->buffer.size();
    }
    static boolean emptyBuffer(j_compress_ptr c) {
        auto* d = reinterpret_cast<destination*>(c->dest);
        state* s = d->owner;
        // libjpeg hands over a full buffer whatever free_in_buffer says.
        if (!s->file.write(s->buffer.data(), s->buffer.size())) {
            s->diskFailed = true;
            ERREXIT(c, JERR_FILE_WRITE);
        }
        s->flushed = true;
        d->pub.next_output_byte = s->buffer.data();
        d->pub.free_in_buffer = s->buffer.size();
        return TRUE;
    }
    static void terminateDestination(j_compress_ptr c) {
        auto* d = reinterpret_cast<destination*>(c->dest);
        state* s = d->owner;
        const size_t used = s->buffer.size() - d->pub.free_in_buffer;
        if (used > 0 && !s->file.write(s->buffer.data(), used)) {
            s->diskFailed = true;
            ERREXIT(c, JERR_FILE_WRITE);
        }
    }

    /// Runs `step` (calls into libjpeg) and turns a library fault into false with the reason.
    template <class Step> bool guarded(Step&& step, QString* error) {
        if (setjmp(err.jump) == 0) {
            step();
            return true;
        }
        broken = true;
        const QString reason =
            diskFailed && !file.writeReason().isEmpty()
                ? file.writeReason()
                : QStringLiteral("JPEG encoding failed: %1").arg(QString::fromLocal8Bit(err.message));
        return halvora::fail(error, who, file.fileName(), reason);
    }
};

jpegStreamWriter::jpegStreamWriter(const char* caller) : who_(caller) {}

jpegStreamWriter::~jpegStreamWriter() {
    if (s_ && s_->created) jpeg_destroy_compress(&s_->cinfo);
}

int jpegStreamWriter::rowsWritten() const {
    return s_ ? s_->rows : 0;
}

QByteArray jpegStreamWriter::headerBytes() const {
    if (!s_ || !s_->started || s_->broken || s_->flushed || s_->rows == 0) return QByteArray();
    const QByteArray buffered(reinterpret_cast<const char*>(s_->buffer.data()),
                              qsizetype(s_->buffer.size() - s_->dest.pub.free_in_buffer));
    const qsizetype end = halvora::jpegScanHeaderEnd(buffered);
    return end > 0 ? buffered.left(end) : QByteArray();
}

bool jpegStreamWriter::open(const QString& fileName, int width, int height, int quality, int dpi,
                            QString* error, const QByteArray& iccProfile) {
    if (s_) return halvora::fail(error, who_, fileName, "the JPEG stream is already open");
    if (width <= 0 || height <= 0 || halvora::pictureElements(width, height, 3) == 0)
        return halvora::fail(
            error, who_, fileName,
            QStringLiteral("cannot write an invalid picture of %1 x %2").arg(width).arg(height));
    if (width > kMaxJpegSide || height > kMaxJpegSide)
        return halvora::fail(
            error, who_, fileName,
            QStringLiteral("%1 x %2 is too large for JPEG (at most %3 pixels per side); save it as "
                           "TIFF")
                .arg(width)
                .arg(height)
                .arg(kMaxJpegSide));
    // At most 255 APP2 segments of 65519 profile bytes each: the marker numbers them in one byte.
    if (iccProfile.size() > qsizetype(255) * 65519)
        return halvora::fail(error, who_, fileName, "the colour profile is too large for a JPEG file");
    auto s = std::make_unique<state>(fileName, who_);
    if (!s->file.open(who_, error)) return false;
    s->width = width;
    s->height = height;
    s->row8.resize(size_t(width) * 3);
    state* raw = s.get();
    s_ = std::move(s);

    raw->cinfo.err = jpeg_std_error(&raw->err.pub);
    raw->err.pub.error_exit = &state::onError;
    raw->err.pub.emit_message = &state::onMessage;
    raw->dest.owner = raw;
    raw->dest.pub.init_destination = &state::initDestination;
    raw->dest.pub.empty_output_buffer = &state::emptyBuffer;
    raw->dest.pub.term_destination = &state::terminateDestination;
    // The resolution as whole dots per inch, from the dots per metre a picture file carries.
    const int dotsPerMetre = int(std::clamp(dpi, 1, 99999) * 39.37);
    const UINT16 density = UINT16(std::clamp(int(dotsPerMetre * 0.0254 + 0.5), 1, 65535));
    return raw->guarded(
        [&] {
            jpeg_create_compress(&raw->cinfo);
            raw->created = true;
            raw->cinfo.dest = &raw->dest.pub;
            raw->cinfo.image_width = JDIMENSION(width);
            raw->cinfo.image_height = JDIMENSION(height);
            raw->cinfo.input_components = 3;
            raw->cinfo.in_color_space = JCS_RGB;
            jpeg_set_defaults(&raw->cinfo);
            jpeg_set_quality(&raw->cinfo, std::clamp(quality, 0, 100), TRUE);
            raw->cinfo.density_unit = 1;
            raw->cinfo.X_density = density;
            raw->cinfo.Y_density = density;
            jpeg_start_compress(&raw->cinfo, TRUE);
            // The library splits the profile into as many APP2 segments as it needs.
            if (!iccProfile.isEmpty())
                jpeg_write_icc_profile(&raw->cinfo, reinterpret_cast<const JOCTET*>(iccProfile.constData()),
                                       unsigned(iccProfile.size()));
            raw->started = true;
        },
        error);
}

bool jpegStreamWriter::writeRows(const uint16_t* rgb16, int rows, const imageSaver::rowTransform_t& transform,
                                 QString* error) {
    if (!s_ || !s_->started || s_->broken || s_->finished)
        return halvora::fail(error, who_, s_ ? s_->file.fileName() : QString(),
                             "the JPEG stream is not open");
    state& s = *s_;
    if (!rgb16 || rows < 0 || rows > s.height - s.rows)
        return halvora::fail(
            error, who_, s.file.fileName(),
            QStringLiteral("%1 rows do not fit: %2 of %3 are written").arg(rows).arg(s.rows).arg(s.height));
    if (transform && s.scratch.empty()) s.scratch.resize(size_t(s.width) * 3);
    for (int r = 0; r < rows; ++r) {
        if (halvora::cancelRequested()) {
            s.broken = true;
            return halvora::fail(error, who_, s.file.fileName(), "saving was interrupted");
        }
        halvora::convertRow8(rgb16 + size_t(r) * size_t(s.width) * 3, s.row8.data(), s.width, transform,
                             s.scratch.data());
        JSAMPROW line = s.row8.data();
        if (!s.guarded([&] { jpeg_write_scanlines(&s.cinfo, &line, 1); }, error)) return false;
        ++s.rows;
        halvora::addProgress(uint64_t(s.width) * 2);
    }
    return true;
}

bool jpegStreamWriter::finish(QString* error) {
    if (!s_ || !s_->started || s_->broken || s_->finished)
        return halvora::fail(error, who_, s_ ? s_->file.fileName() : QString(),
                             "the JPEG stream is not open");
    state& s = *s_;
    if (s.rows != s.height)
        return halvora::fail(error, who_, s.file.fileName(),
                             QStringLiteral("only %1 of %2 rows were written").arg(s.rows).arg(s.height));
    if (!s.guarded([&] { jpeg_finish_compress(&s.cinfo); }, error)) return false;
    s.finished = true;
    return s.file.commit(who_, error);
}
