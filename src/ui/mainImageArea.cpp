#include "ui/mainImageArea.h"

#include "base/debugLog.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QUrl>
#include <QWheelEvent>
#include <cmath>

namespace {

QStringList localFiles(const QMimeData* mime) {
    QStringList files;
    if (!mime || !mime->hasUrls()) return files;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) files << url.toLocalFile();
    return files;
}

// An eyedropper drawn once: a pipette from the top right to the hot spot at the bottom left.
QCursor eyedropperCursor() {
    static const QCursor cursor = [] {
        QPixmap pixmap(24, 24);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        for (const auto& [colour, width] :
             {std::pair{QColor(Qt::black), 4.0}, std::pair{QColor(Qt::white), 2.0}}) {
            p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(2, 21), QPointF(15, 8));
        }
        p.setPen(QPen(Qt::black, 1.0));
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(18, 5), 4, 4);
        return QCursor(pixmap, 1, 22);
    }();
    return cursor;
}

} // namespace

mainImageArea::mainImageArea(QWidget* parent) : QWidget(parent) {
    setObjectName("pictureView");
    setAcceptDrops(true);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus); // Enter and Esc confirm or leave crop and sample mode
    setMinimumSize(200, 150);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void mainImageArea::setDrawing(const halvora::viewMapping& mapping, const halvora::displayCache* cache) {
    mapping_ = mapping;
    drawing_.view = mapping;
    drawing_.cache = cache;
    frameDirty_ = true;
    update();
}

void mainImageArea::setMarkOverUnder(bool on) {
    if (drawing_.markOverUnder == on) return;
    drawing_.markOverUnder = on;
    frameDirty_ = true;
    update();
}

void mainImageArea::setSmooth(bool on) {
    drawing_.smooth = on;
    frameDirty_ = true;
    update();
}

void mainImageArea::setBackgroundPair(int index) {
    drawing_.background = halvora::backgroundPairOf(index);
    frameDirty_ = true;
    update();
}

void mainImageArea::setDisplayTransform(std::function<void(uint8_t*, int)> transform) {
    drawing_.displayTransform = std::move(transform);
    frameDirty_ = true;
    update();
}

void mainImageArea::setMode(mode m, int sampleCode) {
    mode_ = m;
    sampleCode_ = m == sampleMode ? sampleCode : 0;
    crop_ = halvora::cropRect{};
    drag_ = noDrag;
    if (m != normalMode) setFocus(Qt::OtherFocusReason);
    updateCursor(mapFromGlobal(QCursor::pos()));
    update();
}

void mainImageArea::setCrop(const halvora::cropRect& rect) {
    const int w = mapping_.pictureWidth, h = mapping_.pictureHeight;
    crop_ = halvora::cropFromDrag(QPointF(rect.left, rect.top), QPointF(rect.right, rect.bottom), w, h);
    update();
}

bool mainImageArea::applyCrop() {
    if (mode_ != cropMode || !halvora::cropUsable(crop_, mapping_.pictureWidth, mapping_.pictureHeight))
        return false;
    emit cropApplied(crop_);
    return true;
}

QRectF mainImageArea::cropInView() const {
    const QPointF a = mapping_.toView(QPointF(crop_.left, crop_.top));
    const QPointF b = mapping_.toView(QPointF(crop_.right, crop_.bottom));
    return QRectF(a, b);
}

void mainImageArea::paintEvent(QPaintEvent*) {
    if (frameDirty_ || frame_.size() != size()) {
        drawing_.view.viewWidth = width();
        drawing_.view.viewHeight = height();
        stats_ = halvora::drawWorkspace(drawing_, frame_);
        frameDirty_ = false;
    }
    QPainter painter(this);
    painter.drawImage(0, 0, frame_);
    if (mode_ == cropMode && crop_.right > crop_.left && crop_.bottom > crop_.top) {
        // Everything outside the rectangle is dimmed by a half-transparent white veil.
        const QRectF inside = cropInView();
        QPainterPath outside;
        outside.addRect(QRectF(rect()));
        outside.addRect(inside);
        painter.fillPath(outside, QColor(255, 255, 255, 128));
        painter.setPen(QPen(QColor(255, 255, 255), 1, Qt::DashLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(inside.adjusted(0, 0, -1, -1));
    }
}

void mainImageArea::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    frameDirty_ = true;
    emit resized();
}

void mainImageArea::updateCursor(QPointF viewPoint) {
    switch (mode_) {
    case sampleMode:
        setCursor(eyedropperCursor());
        break;
    case cropMode:
        if (drag_ == cropMoveDrag ||
            (drag_ == noDrag && halvora::cropContains(crop_, mapping_.toPicture(viewPoint))))
            setCursor(Qt::SizeAllCursor); // the rectangle can be moved
        else
            setCursor(Qt::CrossCursor);
        break;
    default:
        setCursor(drag_ == panDrag ? Qt::ClosedHandCursor : Qt::OpenHandCursor);
    }
}

void mainImageArea::reportPointer(QPointF viewPoint) {
    rgbDouble_t value;
    const bool on = drawing_.cache && mapping_.onPicture(viewPoint) &&
                    halvora::shownColorAt(*drawing_.cache, mapping_.pictureWidth, mapping_.pictureHeight,
                                          mapping_.toPicture(viewPoint), value);
    emit mouseMoved(on, on ? value : rgbDouble_t{});
}

void mainImageArea::mousePressEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    dragStart_ = at;
    dragStartPicture_ = mapping_.toPicture(at);
    if (mode_ == sampleMode) {
        if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton) return;
        if (!mapping_.onPicture(at)) return; // a click beside the picture samples nothing and keeps the mode
        rgbDouble_t value;
        if (event->button() == Qt::LeftButton) {
            if (drawing_.cache && halvora::shownColorAt(*drawing_.cache, mapping_.pictureWidth,
                                                        mapping_.pictureHeight, dragStartPicture_, value))
                emit sampleTaken(sampleCode_, sampleShown, value);
        } else if (inputSampler && inputSampler(dragStartPicture_, value)) {
            emit sampleTaken(sampleCode_, sampleInput, value);
        }
        return;
    }
    if (event->button() != Qt::LeftButton) return;
    if (mode_ == cropMode) {
        startCrop_ = crop_;
        if (halvora::cropContains(crop_, dragStartPicture_)) {
            drag_ = cropMoveDrag;
        } else {
            drag_ = cropDrawDrag;
            crop_ = halvora::cropFromDrag(dragStartPicture_, dragStartPicture_, mapping_.pictureWidth,
                                          mapping_.pictureHeight);
        }
    } else {
        drag_ = panDrag;
        startOffsetX_ = mapping_.offsetX;
        startOffsetY_ = mapping_.offsetY;
    }
    updateCursor(at);
    update();
}

void mainImageArea::mouseMoveEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    reportPointer(at);
    switch (drag_) {
    case panDrag: {
        const QPointF delta = at - dragStart_;
        emit offsetsChanged(startOffsetX_ - int(std::lround(delta.x())),
                            startOffsetY_ - int(std::lround(delta.y())));
        break;
    }
    case cropDrawDrag:
        crop_ = halvora::cropFromDrag(dragStartPicture_, mapping_.toPicture(at), mapping_.pictureWidth,
                                      mapping_.pictureHeight);
        update();
        break;
    case cropMoveDrag: {
        const QPointF delta = mapping_.toPicture(at) - dragStartPicture_;
        crop_ = halvora::movedCrop(startCrop_, int(std::lround(delta.x())), int(std::lround(delta.y())),
                                   mapping_.pictureWidth, mapping_.pictureHeight);
        update();
        break;
    }
    default:
        break;
    }
    updateCursor(at);
}

void mainImageArea::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) drag_ = noDrag;
    updateCursor(event->position());
}

void mainImageArea::mouseDoubleClickEvent(QMouseEvent* event) {
    if (mode_ == cropMode && event->button() == Qt::LeftButton &&
        halvora::cropContains(crop_, mapping_.toPicture(event->position()))) {
        applyCrop();
        return;
    }
    mousePressEvent(event);
}

void mainImageArea::wheelEvent(QWheelEvent* event) {
    // One notch is 120 eighths of a degree; smaller steps add up until they make one.
    wheelRemainder_ += event->angleDelta().y();
    const int notches = wheelRemainder_ / 120;
    wheelRemainder_ -= notches * 120;
    const QPoint at = event->position().toPoint();
    for (int i = 0; i < std::abs(notches); ++i)
        emit wheelChanged(notches > 0 ? 1 : -1, at);
    event->accept();
}

void mainImageArea::keyPressEvent(QKeyEvent* event) {
    const bool confirm = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (mode_ == cropMode && confirm) {
        applyCrop();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        if (mode_ == cropMode) {
            emit cropAbandoned();
            return;
        }
        if (mode_ == sampleMode) {
            emit sampleAbandoned();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

void mainImageArea::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    emit mouseMoved(false, rgbDouble_t{});
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
