#include "color/lcmsErrors.h"

#include "base/debugLog.h"

#include <lcms2.h>
#include <mutex>

namespace halvora {

namespace {

thread_local lcmsErrorCapture* innermostCapture = nullptr;

// Outside a capture scope nobody will read the message, so it goes to the log.
void lcmsErrorHandler(cmsContext, cmsUInt32Number code, const char* text) {
    if (!lcmsErrorCapture::collect(text))
        debugLog("LittleCMS error %u: %s\n", unsigned(code), text ? text : "");
}

} // namespace

bool lcmsErrorCapture::collect(const char* text) {
    if (!innermostCapture) return false;
    if (text) innermostCapture->text_ = QString::fromUtf8(text);
    return true;
}

lcmsErrorCapture::lcmsErrorCapture() : outer_(innermostCapture) {
    static std::once_flag installed;
    std::call_once(installed, [] { cmsSetLogErrorHandler(lcmsErrorHandler); });
    innermostCapture = this;
}

lcmsErrorCapture::~lcmsErrorCapture() {
    innermostCapture = outer_;
}

QString lcmsErrorCapture::reason(const QString& otherwise) const {
    QString r = text_.trimmed();
    if (r.isEmpty()) return otherwise;
    if (r.endsWith('.')) r.chop(1);
    if (r.size() > 1 && r[0].isUpper() && !r[1].isUpper()) r[0] = r[0].toLower();
    return r;
}

} // namespace halvora
