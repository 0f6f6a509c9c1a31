#include "ui/mainImageArea.h"

#include "base/debugLog.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QUrl>

namespace {

QStringList localFiles(const QMimeData* mime) {
    QStringList files;
    if (!mime || !mime->hasUrls()) return files;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) files << url.toLocalFile();
    return files;
}

} // namespace

mainImageArea::mainImageArea(QWidget* parent) : QWidget(parent) {
    setObjectName("pictureView");
    setAcceptDrops(true);
    setMinimumSize(320, 240);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void mainImageArea::setImage(const QImage& image) {
    image_ = image;
    scaled_ = QImage();
    update();
}

QRect mainImageArea::imageRect() const {
    if (image_.isNull() || width() <= 0 || height() <= 0) return QRect();
    const QSize fitted = image_.size().scaled(size(), Qt::KeepAspectRatio);
    if (fitted.isEmpty()) return QRect();
    return QRect(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
}

void mainImageArea::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), backgroundColor());
    const QRect target = imageRect();
    if (target.isEmpty()) return;
    if (scaled_.size() != target.size())
        scaled_ = image_.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    painter.drawImage(target.topLeft(), scaled_);
}

void mainImageArea::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    scaled_ = QImage();
}

void mainImageArea::dragEnterEvent(QDragEnterEvent* event) {
    if (localFiles(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void mainImageArea::dragMoveEvent(QDragMoveEvent* event) {
    if (localFiles(event->mimeData()).isEmpty())
        event->ignore();
    else
        event->acceptProposedAction();
}

void mainImageArea::dropEvent(QDropEvent* event) {
    const QStringList files = localFiles(event->mimeData());
    if (files.isEmpty()) {
        event->ignore();
        return;
    }
    for (int i = 0; i < files.size(); ++i)
        debugLog("Drag&drop: path_%d=%s\n", i, files[i].toLocal8Bit().constData());
    event->acceptProposedAction();
    emit imagesDropped(files);
}
