#pragma once
// LittleCMS reports what went wrong through one process-wide error handler. This collects those
// messages per thread, so the code that called the library can put the library's own reason into
// the failure text it writes. Any thread.

#include <QString>

namespace halvora {

/// Collects LittleCMS's messages on the calling thread while alive (scopes nest; the innermost
/// collects).
class lcmsErrorCapture {
public:
    lcmsErrorCapture();
    ~lcmsErrorCapture();
    lcmsErrorCapture(const lcmsErrorCapture&) = delete;
    lcmsErrorCapture& operator=(const lcmsErrorCapture&) = delete;

    /// The library's last message since the scope began, lower-cased at the start and without a
    /// trailing full stop; `otherwise` when the library said nothing.
    QString reason(const QString& otherwise) const;

    /// Keeps `text` in the calling thread's innermost scope (the library's handler calls this); false
    /// when no scope is open.
    static bool collect(const char* text);

private:
    QString text_;
    lcmsErrorCapture* outer_;
};

} // namespace halvora
