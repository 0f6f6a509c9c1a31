#include "ui/hdrLoadOptionsDialog.h"

#include "app/storedOptions.h"
#include "app/programOptionsSettings.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

hdrLoadOptionsDialog::hdrLoadOptionsDialog(const hdrLoadOptions& initial, QWidget* parent)
    : styledDialog(parent), initial_(initial) {
    initial_.normalize();
    setWindowTitle(tr("Load HDR image"));
    setObjectName("hdrLoadOptions");

    auto* group = new QGroupBox(tr("Output color space"), this);
    auto* label = new QLabel(tr("Convert to"), group);
    colorSpace_ = new QComboBox(group);
    colorSpace_->addItems(hdrLoadOptions::colorSpaceNames());
    colorSpace_->setCurrentIndex(initial_.colorSpace);
    label->setBuddy(colorSpace_);
    auto* groupLayout = new QHBoxLayout(group);
    groupLayout->addWidget(label);
    groupLayout->addWidget(colorSpace_, 1);

    load_ = new QPushButton(tr("Load"), this);
    load_->setDefault(true);
    cancel_ = new QPushButton(tr("Cancel"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(load_);
    buttons->addWidget(cancel_);

    auto* layout = new QVBoxLayout(contentArea());
    layout->addWidget(group);
    layout->addLayout(buttons);

    connect(load_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

hdrLoadOptions hdrLoadOptionsDialog::options() const {
    hdrLoadOptions o = initial_;
    o.colorSpace = colorSpace_->currentIndex();
    o.normalize();
    return o;
}

bool hdrLoadOptionsDialog::ask(QWidget* parent, programOptionsSettings& settings, hdrLoadOptions& options) {
    hdrLoadOptionsDialog dialog(halvora::hdrLoadOptionsFromSettings(settings), parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    options = dialog.options();
    halvora::storeHdrLoadOptions(options, settings);
    return true;
}
