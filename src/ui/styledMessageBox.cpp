#include "ui/styledMessageBox.h"

#include "base/debugLog.h"

#include <QMessageBox>

namespace {
std::function<bool(styledMessageBox::kind, const QString&)> recorder;
bool unattendedRun = false;
} // namespace

QString styledMessageBox::caption(kind k) {
    switch (k) {
    case information: return QObject::tr("Information");
    case warning: return QObject::tr("Warning");
    case error: return QObject::tr("Error");
    default: return QObject::tr("Confirmation");
    }
}

void styledMessageBox::setRecorder(std::function<bool(kind, const QString&)> r) { recorder = std::move(r); }
void styledMessageBox::setUnattended(bool u) { unattendedRun = u; }
bool styledMessageBox::unattended() { return unattendedRun; }

void styledMessageBox::showPlain(QWidget* parent, kind k, const QString& text) {
    if (recorder || unattendedRun) {
        show(parent, k, text);
        return;
    }
    QMessageBox box(k == error     ? QMessageBox::Critical
                    : k == warning ? QMessageBox::Warning
                                   : QMessageBox::Information,
                    caption(k), text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void styledMessageBox::show(QWidget* parent, kind k, const QString& text) {
    if (recorder) {
        recorder(k, text);
        return;
    }
    if (unattendedRun) {
        debugLog("%s: %s\n", caption(k).toLocal8Bit().constData(), text.toLocal8Bit().constData());
        return;
    }
    QMessageBox box(k == error ? QMessageBox::Critical : k == warning ? QMessageBox::Warning : QMessageBox::Information,
                    caption(k), text, QMessageBox::Ok, parent);
    box.exec();
}

bool styledMessageBox::question(QWidget* parent, const QString& text, bool unattendedAnswer) {
    if (recorder)
        return recorder(confirmation, text);
    if (unattendedRun) {
        debugLog("%s: %s (%s)\n", caption(confirmation).toLocal8Bit().constData(), text.toLocal8Bit().constData(),
                 unattendedAnswer ? "yes" : "no");
        return unattendedAnswer;
    }
    QMessageBox box(QMessageBox::Question, caption(confirmation), text, QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() == QMessageBox::Yes;
}
