#include "ui/checkUpdatesDialog.h"

#include "app/programOptionsSettings.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// Only https addresses are opened; anything else leaves its button disabled.
QUrl safeUrl(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && url.scheme() == QLatin1String("https") ? url : QUrl();
}

} // namespace

checkUpdatesDialog::checkUpdatesDialog(const QString& text, const halvora::updateReply& reply,
                                       QWidget* parent)
    : styledDialog(parent) {
    setObjectName("checkUpdatesDialog");
    setWindowTitle(tr("Check for updates"));
    auto* layout = new QVBoxLayout(contentArea());
    layout->setContentsMargins(16, 14, 16, 12);
    text_ = new QLabel(text, contentArea());
    text_->setTextFormat(Qt::RichText); // every field of the reply was escaped into it
    text_->setWordWrap(true);
    text_->setOpenExternalLinks(true);
    text_->setMinimumWidth(360);
    layout->addWidget(text_);
    automatic_ = new QCheckBox(tr("Check automatically"), contentArea());
    automatic_->setChecked(programOptionsSettings::instance().autoCheckUpdates);
    connect(automatic_, &QCheckBox::toggled, this, [](bool on) {
        programOptionsSettings& options = programOptionsSettings::instance();
        options.autoCheckUpdates = on;
        options.write();
    });
    layout->addWidget(automatic_);
    auto* buttons = new QHBoxLayout;
    history_ = new QPushButton(tr("Version history"), contentArea());
    download_ = new QPushButton(tr("Download"), contentArea());
    auto* close = new QPushButton(tr("Close"), contentArea());
    buttons->addWidget(history_);
    buttons->addStretch(1);
    buttons->addWidget(download_);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    const QUrl downloadUrl = safeUrl(reply.downloadUrl), historyUrl = safeUrl(reply.historyUrl);
    download_->setEnabled(!downloadUrl.isEmpty());
    history_->setEnabled(!historyUrl.isEmpty());
    connect(download_, &QPushButton::clicked, this,
            [downloadUrl] { QDesktopServices::openUrl(downloadUrl); });
    connect(history_, &QPushButton::clicked, this, [historyUrl] { QDesktopServices::openUrl(historyUrl); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    close->setDefault(true);
}
