#pragma once
// The toolkit's image plugins report what goes wrong while decoding only as log messages: the JPEG
// plugin passes every libjpeg warning on ("Corrupt JPEG data: premature end of data segment") and
// then delivers the picture with the missing part grey, as if nothing had happened. A
// decoderMessages object collects the image plugins' messages of the decodes that run on its
// thread while it lives, so the reader can tell damaged data from a good picture and name the
// reason. The messages it collects go to the debug log instead of standard error.
//
// The capture works through the process's message handler: each capture puts ours on top again,
// passing every other message on to the handlers installed before, so a handler installed later by
// the application keeps receiving everything (once, also when it passes messages on to the handler
// it replaced). Messages of other threads are never captured. A logging rule that switches the
// image plugins' warnings off hides them from us too.

#include <QString>

namespace halvora {

class decoderMessages {
public:
    /// Starts collecting on the calling thread (captures nest).
    decoderMessages();
    ~decoderMessages();
    decoderMessages(const decoderMessages&) = delete;
    decoderMessages& operator=(const decoderMessages&) = delete;

    /// The first message that reports damaged or missing picture data; empty when none did.
    const QString& damage() const { return damage_; }
    /// The first message of any image plugin (why a read failed); empty when none came.
    const QString& first() const { return first_; }

    /// Whether a message of the image plugin `category` reports damaged or missing data (libjpeg's
    /// corrupt-data and premature-end warnings; not its notes on unknown markers or ICC data).
    static bool reportsDamage(const char* category, const QString& text);

private:
    friend void recordDecoderMessage(decoderMessages* capture, const char* category, const QString& text);
    decoderMessages* outer_;
    QString damage_;
    QString first_;
};

} // namespace halvora
