#include "ui/toolBox.h"

#include <QToolButton>
#include <QVBoxLayout>

toolBox::toolBox(const QString& title, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    titleButton_ = new QToolButton(this);
    titleButton_->setObjectName("toolBoxTitle");
    titleButton_->setText(title);
    titleButton_->setCheckable(true);
    titleButton_->setChecked(true);
    titleButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    titleButton_->setArrowType(Qt::DownArrow);
    titleButton_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    layout->addWidget(titleButton_);
    connect(titleButton_, &QToolButton::toggled, this, [this](bool open) {
        applyState(open);
        emit toggled(this, open);
    });
}

void toolBox::setContent(QWidget* content) {
    if (content_ == content) return;
    delete content_;
    content_ = content;
    if (content_) {
        content_->setParent(this);
        layout()->addWidget(content_);
        content_->setVisible(isOpen());
    }
}

bool toolBox::isOpen() const {
    return titleButton_->isChecked();
}

void toolBox::setOpen(bool open) {
    titleButton_->setChecked(open);
}

QString toolBox::title() const {
    return titleButton_->text();
}

void toolBox::applyState(bool open) {
    titleButton_->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    if (content_) content_->setVisible(open);
}
