#include "ui/styledMessageBox.h"

#include "base/debugLog.h"
#include "ui/styledIcons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace {
std::function<bool(styledMessageBox::kind, const QString&)> recorder;
bool unattendedRun = false;
} // namespace

QString styledMessageBox::caption(kind k) {
    switch (k) {
    case information:
        return QObject::tr("Information");
    case warning:
        return QObject::tr("Warning");
    case error:
        return QObject::tr("Error");
    default:
        return QObject::tr("Confirmation");
    }
}

styledMessageBox::styledMessageBox(QWidget* parent, kind k, const QString& text, int buttons)
    : styledDialog(parent), buttons_(buttons) {
    setObjectName("styledMessageBox");
    setWindowTitle(caption(k));
    auto* layout = new QVBoxLayout(contentArea());
    layout->setContentsMargins(16, 14, 16, 12);
    layout->setSpacing(14);
    auto* row = new QHBoxLayout;
    row->setSpacing(14);
    auto* icon = new QLabel(contentArea());
    icon->setPixmap(halvora::styledIcons::message(halvora::styledIcons::messageKind(k), 40));
    icon->setAlignment(Qt::AlignTop);
    auto* label = new QLabel(text, contentArea());
    label->setObjectName("messageText");
    label->setWordWrap(true);
    label->setTextFormat(Qt::AutoText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setMinimumWidth(320);
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(label, 1);
    layout->addLayout(row);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    auto add = [this, buttonRow](button b, const QString& title) -> QPushButton* {
        if (!(buttons_ & b)) return nullptr;
        auto* push = new QPushButton(title, contentArea());
        push->setEnabled(false);
        push->setMinimumWidth(80);
        connect(push, &QPushButton::clicked, this, [this, b] { finishWith(b); });
        buttonRow->addWidget(push);
        return push;
    };
    yes_ = add(yes, tr("Yes"));
    no_ = add(no, tr("No"));
    ok_ = add(ok, tr("OK"));
    cancel_ = add(cancel, tr("Cancel"));
    layout->addLayout(buttonRow);
    if (QPushButton* first = ok_ ? ok_ : yes_) first->setDefault(true);
    // Closing from the title bar is the safe answer.
    connect(this, &QDialog::rejected, this, [this] {
        if (!clicked_) clicked_ = (buttons_ & cancel) ? cancel : (buttons_ & no) ? no : ok;
    });
}

QPushButton* styledMessageBox::buttonFor(button b) const {
    switch (b) {
    case ok:
        return ok_;
    case yes:
        return yes_;
    case no:
        return no_;
    case cancel:
        return cancel_;
    }
    return nullptr;
}

void styledMessageBox::enableButtons() {
    for (QPushButton* b : {ok_, yes_, no_, cancel_})
        if (b) b->setEnabled(true);
}

void styledMessageBox::showEvent(QShowEvent* event) {
    styledDialog::showEvent(event);
    // A key still held from the window behind must not answer the box the moment it appears.
    QTimer::singleShot(150, this, &styledMessageBox::enableButtons);
}

void styledMessageBox::finishWith(button b) {
    clicked_ = b;
    switch (b) {
    case ok:
        emit okClicked();
        break;
    case yes:
        emit yesClicked();
        break;
    case no:
        emit noClicked();
        break;
    case cancel:
        emit cancelClicked();
        break;
    }
    done(b == yes || b == ok ? QDialog::Accepted : QDialog::Rejected);
}

void styledMessageBox::setRecorder(std::function<bool(kind, const QString&)> r) {
    recorder = std::move(r);
}
void styledMessageBox::setUnattended(bool u) {
    unattendedRun = u;
}
bool styledMessageBox::unattended() {
    return unattendedRun;
}

void styledMessageBox::showPlain(QWidget* parent, kind k, const QString& text) {
    if (recorder || unattendedRun) {
        show(parent, k, text);
        return;
    }
    // The box shows rich text: the plain text is escaped, its line breaks kept.
    styledMessageBox box(parent, k, text.toHtmlEscaped().replace(QLatin1Char('\n'), QLatin1String("<br>")),
                         ok);
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
    styledMessageBox box(parent, k, text, ok);
    box.exec();
}

bool styledMessageBox::question(QWidget* parent, const QString& text, bool unattendedAnswer) {
    if (recorder) return recorder(confirmation, text);
    if (unattendedRun) {
        debugLog("%s: %s (%s)\n", caption(confirmation).toLocal8Bit().constData(),
                 text.toLocal8Bit().constData(), unattendedAnswer ? "yes" : "no");
        return unattendedAnswer;
    }
    styledMessageBox box(parent, confirmation, text, yes | no);
    box.exec();
    return box.clicked() == yes;
}
