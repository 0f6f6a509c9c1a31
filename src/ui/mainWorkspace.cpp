#include "ui/mainWorkspace.h"

#include "ui/zoomWidget.h"

#include <QGridLayout>
#include <QScrollBar>
#include <QSignalBlocker>

mainWorkspace::mainWorkspace(QWidget* parent) : QWidget(parent) {
    setObjectName("workspace");
    area_ = new mainImageArea(this);
    horizontal_ = new QScrollBar(Qt::Horizontal, this);
    vertical_ = new QScrollBar(Qt::Vertical, this);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);
    grid->addWidget(area_, 0, 0);
    grid->addWidget(vertical_, 0, 1);
    grid->addWidget(horizontal_, 1, 0);

    redrawTimer_.setSingleShot(true);
    redrawTimer_.setInterval(40);
    connect(&redrawTimer_, &QTimer::timeout, this, &mainWorkspace::redrawOnTimer);
    connect(horizontal_, &QScrollBar::valueChanged, this, &mainWorkspace::scrollChanged);
    connect(vertical_, &QScrollBar::valueChanged, this, &mainWorkspace::scrollChanged);
    connect(area_, &mainImageArea::resized, this, [this] {
        if (fitting_ && hasPicture()) mapping_.scale = fitScale();
        updateMapping();
        emit scaleChanged(mapping_.scale, fitting_);
    });
    connect(area_, &mainImageArea::offsetsChanged, this, &mainWorkspace::setScrollBars);
    connect(area_, &mainImageArea::offsetsChanged, this, &mainWorkspace::offsetsChanged);
    connect(area_, &mainImageArea::wheelChanged, this, &mainWorkspace::tweakWheelPos);
    connect(area_, &mainImageArea::imagesDropped, this, &mainWorkspace::imagesDropped);
    connect(area_, &mainImageArea::cropApplied, this, &mainWorkspace::cropApplied);
    connect(area_, &mainImageArea::cropAbandoned, this, &mainWorkspace::cropAbandoned);
    connect(area_, &mainImageArea::sampleAbandoned, this, &mainWorkspace::sampleAbandoned);
    connect(area_, &mainImageArea::mouseMoved, this, &mainWorkspace::mouseMoved);
    connect(area_, &mainImageArea::sampleTaken, this, &mainWorkspace::sampleTaken);
    setBackground(0);
    updateMapping();
}

void mainWorkspace::attachZoom(zoomWidget* zoom) {
    zoom_ = zoom;
    if (!zoom) return;
    zoom->fitProvider = [this] { return fitScale(); };
    connect(zoom, &zoomWidget::zoomChanged, this, [this, zoom](double scale) {
        fitting_ = zoom->fitting();
        setScale(scale);
    });
    connect(this, &mainWorkspace::wheelChanged, zoom, &zoomWidget::incDecZoom);
    connect(this, &mainWorkspace::scaleChanged, zoom, &zoomWidget::showScale);
    zoom->showScale(mapping_.scale, fitting_);
}

void mainWorkspace::showPicture(const QImage& image, int pictureWidth, int pictureHeight) {
    if (image.isNull()) {
        clearPicture();
        return;
    }
    const QImage rgb =
        image.format() == QImage::Format_RGB888 ? image : image.convertToFormat(QImage::Format_RGB888);
    cache_.setRgb8(rgb.constBits(), rgb.width(), rgb.height(), int(rgb.bytesPerLine()));
    pictureChanged(pictureWidth > 0 ? pictureWidth : image.width(),
                   pictureHeight > 0 ? pictureHeight : image.height());
}

void mainWorkspace::showPicture(const halvora::rgb16Buffer& picture, int pictureWidth, int pictureHeight) {
    if (!picture.data || picture.width <= 0 || picture.height <= 0) {
        clearPicture();
        return;
    }
    cache_.setRgb16(picture.pixels(), picture.width, picture.height);
    pictureChanged(pictureWidth > 0 ? pictureWidth : picture.width,
                   pictureHeight > 0 ? pictureHeight : picture.height);
}

void mainWorkspace::showPicture(const float* rgb, int width, int height, int pictureWidth,
                                int pictureHeight) {
    cache_.setFloat(rgb, width, height);
    if (cache_.empty()) {
        clearPicture();
        return;
    }
    pictureChanged(pictureWidth > 0 ? pictureWidth : width, pictureHeight > 0 ? pictureHeight : height);
}

void mainWorkspace::clearPicture() {
    cache_.clear();
    area_->setMode(mainImageArea::normalMode);
    mapping_.pictureWidth = mapping_.pictureHeight = 0;
    updateMapping();
}

QImage mainWorkspace::shownImage() const {
    if (cache_.empty()) return QImage();
    const halvora::displayLevel& l0 = cache_.level(0);
    return QImage(l0.rgb.data(), l0.width, l0.height, l0.width * 3, QImage::Format_RGB888).copy();
}

void mainWorkspace::pictureChanged(int w, int h) {
    const bool sameSize = w == mapping_.pictureWidth && h == mapping_.pictureHeight;
    mapping_.pictureWidth = w;
    mapping_.pictureHeight = h;
    if (!sameSize) {
        // Another picture (or the same one turned or cropped): crop and sample modes start afresh.
        area_->setMode(mainImageArea::normalMode);
        if (fitting_) mapping_.scale = fitScale();
        mapping_.offsetX = mapping_.offsetY = 0;
        if (!fitting_) mapping_ = halvora::rescaledAboutCentre(mapping_, mapping_.scale);
    }
    updateMapping();
    emit scaleChanged(mapping_.scale, fitting_);
}

double mainWorkspace::fitScale() const {
    return halvora::fitScale(mapping_.pictureWidth, mapping_.pictureHeight, area_->width(), area_->height());
}

void mainWorkspace::updateMapping() {
    mapping_.viewWidth = area_->width();
    mapping_.viewHeight = area_->height();
    mapping_.clampOffsets();
    {
        updatingBars_ = true;
        const QSignalBlocker h(horizontal_), v(vertical_);
        horizontal_->setRange(0, mapping_.maxOffsetX());
        horizontal_->setPageStep(std::max(1, mapping_.viewWidth));
        horizontal_->setSingleStep(std::max(1, mapping_.viewWidth / 20));
        horizontal_->setValue(mapping_.offsetX);
        vertical_->setRange(0, mapping_.maxOffsetY());
        vertical_->setPageStep(std::max(1, mapping_.viewHeight));
        vertical_->setSingleStep(std::max(1, mapping_.viewHeight / 20));
        vertical_->setValue(mapping_.offsetY);
        updatingBars_ = false;
    }
    horizontal_->setVisible(mapping_.maxOffsetX() > 0);
    vertical_->setVisible(mapping_.maxOffsetY() > 0);
    area_->setDrawing(mapping_, &cache_);
}

void mainWorkspace::setScale(double scale) {
    if (!(scale > 0)) return;
    if (haveWheelPos_)
        mapping_ = halvora::rescaledAbout(mapping_, scale, QPointF(wheelPos_));
    else
        mapping_ = halvora::rescaledAboutCentre(mapping_, scale);
    haveWheelPos_ = false;
    updateMapping();
}

void mainWorkspace::redraw(bool now) {
    if (now) {
        area_->setDrawing(mapping_, &cache_);
        area_->repaint();
    } else {
        redrawTimer_.start();
    }
}

void mainWorkspace::redrawOnTimer() {
    area_->setDrawing(mapping_, &cache_);
}

void mainWorkspace::setBackground(int index) {
    background_ = index == 1 ? 1 : 0;
    area_->setBackgroundPair(background_);
}

void mainWorkspace::toggleBackgroundColor() {
    setBackground(1 - background_);
}

void mainWorkspace::scrollChanged(int) {
    if (updatingBars_) return;
    mapping_.offsetX = horizontal_->value();
    mapping_.offsetY = vertical_->value();
    updateMapping();
    emit offsetsChanged(mapping_.offsetX, mapping_.offsetY);
}

void mainWorkspace::setScrollBars(int x, int y) {
    mapping_.offsetX = x;
    mapping_.offsetY = y;
    updateMapping();
}

void mainWorkspace::tweakWheelPos(int direction, QPoint pos) {
    haveWheelPos_ = true;
    wheelPos_ = pos;
    emit wheelChanged(direction, pos); // an attached zoom widget steps and sets the scale
    if (!zoom_ && hasPicture()) {
        fitting_ = false;
        setScale(halvora::steppedZoom(mapping_.scale, direction));
        emit scaleChanged(mapping_.scale, fitting_);
    }
    haveWheelPos_ = false; // a zoom already at its end changed nothing and must not keep the point
}

void mainWorkspace::setCropMode(bool on) {
    if (on && !hasPicture()) return;
    area_->setMode(on ? mainImageArea::cropMode : mainImageArea::normalMode);
}

void mainWorkspace::setSampleMode(int mode) {
    if (mode != 0 && !hasPicture()) return;
    area_->setMode(mode != 0 ? mainImageArea::sampleMode : mainImageArea::normalMode, mode);
}
