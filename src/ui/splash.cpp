#include "ui/splash.h"

#include "base/appIdentity.h"
#include "ui/styledIcons.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

splash::splash(QWidget* mainWindow)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint), main_(mainWindow) {
    setObjectName("splash");
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(480, 270);
    timer_.setInterval(kStepMs);
    connect(&timer_, &QTimer::timeout, this, &splash::hidingStep);
}

void splash::start() {
    step_ = 0;
    hiding_ = false;
    setWindowOpacity(1.0);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    if (main_) main_->setEnabled(false);
    show();
    raise();
}

void splash::startHiding() {
    if (hiding_) return;
    hiding_ = true;
    activateWindow();
    if (main_) main_->setEnabled(true);
    timer_.start();
}

void splash::hidingStep() {
    ++step_;
    if (step_ >= kFadeFrom)
        setWindowOpacity(std::max(0.0, 1.0 - double(step_ - kFadeFrom) / double(kLastStep - kFadeFrom)));
    if (step_ < kLastStep) return;
    timer_.stop();
    hide();
    emit finished();
    close(); // deletes the splash
}

void splash::mousePressEvent(QMouseEvent* event) {
    // A click means "I have seen it": the fade starts now.
    step_ = std::max(step_, kFadeFrom);
    startHiding();
    event->accept();
}

void splash::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, height());
    sky.setColorAt(0.0, QColor(0x1b, 0x23, 0x33));
    sky.setColorAt(0.6, QColor(0x3a, 0x3f, 0x52));
    sky.setColorAt(1.0, QColor(0xc9, 0x7b, 0x3c));
    p.fillRect(rect(), sky);
    p.drawPixmap(28, 28, halvora::styledIcons::application(72));
    QFont title = font();
    title.setPixelSize(40);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(0xf2, 0xf2, 0xf2));
    p.drawText(QRect(116, 32, width() - 130, 56), Qt::AlignLeft | Qt::AlignVCenter,
               halvora::kApplicationName);
    QFont text = font();
    text.setPixelSize(14);
    p.setFont(text);
    p.drawText(QRect(118, 88, width() - 130, 20), Qt::AlignLeft, tr("High-dynamic-range photography"));
    p.drawText(QRect(28, height() - 56, width() - 56, 20), Qt::AlignLeft,
               tr("Version") + " " + QString::fromLatin1(halvora::kApplicationVersion));
    p.drawText(QRect(28, height() - 34, width() - 56, 20), Qt::AlignLeft,
               tr("Release date") + " " + QString::fromLatin1(halvora::kReleaseDate));
    p.setPen(QColor(0x10, 0x10, 0x10));
    p.setBrush(Qt::NoBrush);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}
