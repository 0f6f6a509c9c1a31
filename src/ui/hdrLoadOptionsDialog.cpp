#include "ui/hdrLoadOptionsDialog.h"

#include "app/programOptionsSettings.h"
#include "app/storedOptions.h"

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
    // "Convert to As embedded" told a photographer nothing: the first entry says that it keeps the
    // file's colours, and a line below says when to choose another.
    auto* label = new QLabel(tr("Convert the picture's colors to:"), group);
    label->setObjectName("colorSpaceLabel");
    colorSpace_ = new QComboBox(group);
    colorSpace_->addItems(hdrLoadOptions::colorSpaceNames());
    colorSpace_->setItemText(hdrLoadOptions::asEmbedded, tr("Keep as embedded (no conversion)"));
    colorSpace_->setCurrentIndex(initial_.colorSpace);
    label->setBuddy(colorSpace_);
    auto* help =
        new QLabel(tr("Radiance files hold their colors in the color space they were made in. Keep them "
                      "as embedded unless the result should be in another color space: the picture is "
                      "then converted to it when it is opened."),
                   group);
    help->setObjectName("colorSpaceHelp");
    help->setWordWrap(true);
    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(colorSpace_, 1);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addLayout(row);
    groupLayout->addWidget(help);

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

    setMinimumWidth(440); // the explanation wraps instead of widening the dialog past the screen
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
    if (dialog.exec() != QDialog::Accepted) return false;
    options = dialog.options();
    halvora::storeHdrLoadOptions(options, settings);
    return true;
}
