#include "imageio/decoderMessages.h"

#include "base/debugLog.h"

#include <QMutex>
#include <QMutexLocker>
#include <algorithm>
#include <cstring>
#include <vector>

namespace halvora {

void recordDecoderMessage(decoderMessages* capture, const char* category, const QString& text);

namespace {

thread_local decoderMessages* active = nullptr;
thread_local int forwardDepth = 0;

// The handlers found installed in place of ours, oldest first. A handler that passes messages on
// to the one before it reaches ours again; each time round, the message goes one handler further
// back, so every handler gets it once and none goes round in a circle.
QMutex chainMutex;
std::vector<QtMessageHandler> chain;

bool isImageCategory(const char* category) {
    return category && std::strncmp(category, "qt.gui.imageio", 14) == 0;
}

void captureHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (decoderMessages* capture = active;
        capture && forwardDepth == 0 && isImageCategory(context.category)) {
        recordDecoderMessage(capture, context.category, text);
        return;
    }
    QtMessageHandler next = nullptr;
    {
        QMutexLocker lock(&chainMutex);
        if (forwardDepth < int(chain.size())) next = chain[chain.size() - 1 - size_t(forwardDepth)];
    }
    if (!next) return;
    ++forwardDepth;
    next(type, context, text);
    --forwardDepth;
}

void installCapture() {
    QMutexLocker lock(&chainMutex);
    const QtMessageHandler current = qInstallMessageHandler(captureHandler);
    if (current == captureHandler) return;
    chain.erase(std::remove(chain.begin(), chain.end(), current), chain.end());
    chain.push_back(current);
}

} // namespace

void recordDecoderMessage(decoderMessages* capture, const char* category, const QString& text) {
    debugLog("%s: %s\n", category, text.toLocal8Bit().constData());
    if (capture->first_.isEmpty()) capture->first_ = text;
    if (capture->damage_.isEmpty() && decoderMessages::reportsDamage(category, text)) capture->damage_ = text;
}

decoderMessages::decoderMessages() : outer_(active) {
    installCapture();
    active = this;
}

decoderMessages::~decoderMessages() {
    active = outer_;
}

bool decoderMessages::reportsDamage(const char* category, const QString& text) {
    if (!category || std::strcmp(category, "qt.gui.imageio.jpeg") != 0) return false;
    if (text.startsWith(QLatin1String("Corrupt JPEG data")))
        return !text.contains(QLatin1String("extraneous bytes")) && !text.contains(QLatin1String("ICC"));
    return text.contains(QLatin1String("Premature end of JPEG file")) ||
           text.contains(QLatin1String("Invalid SOS parameters")) ||
           text.contains(QLatin1String("Inconsistent progression sequence"));
}

} // namespace halvora
