#include "ui/styledDialog.h"

#include "ui/styledTitleBar.h"

#include <QEvent>
#include <QVBoxLayout>

styledDialog::styledDialog(QWidget* parent) : QDialog(parent) {
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    auto* frame = new QVBoxLayout(this);
    frame->setContentsMargins(1, 1, 1, 1);
    frame->setSpacing(0);
    titleBar_ = new styledTitleBar(this, false);
    content_ = new QWidget(this);
    content_->setObjectName("dialogContent");
    frame->addWidget(titleBar_);
    frame->addWidget(content_, 1);
    connect(titleBar_, &styledTitleBar::closeClicked, this, &QDialog::reject);
    connect(titleBar_, &styledTitleBar::resizeClicked, this, &styledDialog::toggleSize);
}

void styledDialog::toggleSize() {
    if (isMaximized())
        showNormal();
    else
        showMaximized();
}

void styledDialog::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowTitleChange) titleBar_->setTitle(windowTitle());
    QDialog::changeEvent(event);
}
