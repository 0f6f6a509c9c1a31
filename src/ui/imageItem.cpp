#include "ui/imageItem.h"

#include "imageio/exifSummary.h"
#include "project/photoEntry.h"

#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QStyle>

imageItem::imageItem(const photoEntry& photo, bool checkable, QWidget* parent)
    : QFrame(parent), id_(photo.id), fileName_(photo.fileName), checkable_(checkable) {
    setObjectName("imageItem");
    setFrameShape(QFrame::StyledPanel);
    setProperty("imageItemSelected", false);

    thumb_ = new QLabel(this);
    thumb_->setFixedSize(100, 100);
    setThumbnail(photo.thumbnail);
    thumb_->setAlignment(Qt::AlignCenter);
    name_ = new QLabel(QFileInfo(fileName_).fileName(), this);
    name_->setObjectName("imageItemName");
    evLabel_ = new QLabel(this);
    evLabel_->setObjectName("imageItemEV");
    evBox_ = new QDoubleSpinBox(this);
    evBox_->setObjectName("imageItemEVbox");
    evBox_->setRange(-30.0, 30.0);
    evBox_->setDecimals(2);
    evBox_->setSingleStep(0.33);
    evBox_->setKeyboardTracking(false); // one edit per finished value, not per typed digit
    evBox_->setToolTip(tr("Exposure value relative to the reference photo"));
    include_ = new QCheckBox(tr("Include"), this);
    include_->setObjectName("imageItemInclude");
    include_->setChecked(photo.included || !checkable);
    include_->setVisible(checkable);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->addWidget(thumb_, 0, 0, 4, 1);
    grid->addWidget(name_, 0, 1, 1, 2);
    grid->addWidget(evLabel_, 1, 1);
    grid->addWidget(evBox_, 1, 2);
    grid->addWidget(include_, 2, 1, 1, 2);
    grid->setColumnStretch(2, 1);

    const exifInfo_t& e = photo.exif;
    exifText_ = halvora::exifSummary(e, e.exposureTime > 0 || e.iso > 0 || e.exposureBias != 0.0f);
    const QString path = QDir::toNativeSeparators(fileName_);
    setToolTip(exifText_.isEmpty() ? path : path + "\n\n" + exifText_);

    setEV(photo.ev);
    setEVEditable(!photo.isRadiance);
    connect(evBox_, &QDoubleSpinBox::valueChanged, this, [this] {
        updateLabel();
        emit evEdited(id_);
    });
    connect(include_, &QCheckBox::stateChanged, this, [this](int state) { emit stateChanged(id_, state); });
}

void imageItem::setEV(double ev) {
    const QSignalBlocker block(evBox_);
    evBox_->setValue(ev);
    updateLabel();
}

double imageItem::ev() const {
    return evBox_->value();
}

void imageItem::updateLabel() {
    // The label shows the value rounded the way photographers write steps (1/3 EV ≈ 0.33).
    evLabel_->setText(tr("EV %1").arg(QString::number(evBox_->value(), 'g', 3)));
}

bool imageItem::isChecked() const {
    return !isCheckable() || include_->isChecked();
}

void imageItem::setChecked(bool on) {
    const QSignalBlocker block(include_);
    include_->setChecked(on);
}

bool imageItem::isCheckable() const {
    return checkable_;
}

void imageItem::setSelected(bool on) {
    if (selected_ == on) return;
    selected_ = on;
    setProperty("imageItemSelected", on);
    // The style sheet draws the frame from the property; it is re-read only when asked to.
    style()->unpolish(this);
    style()->polish(this);
    update();
}

void imageItem::setOutdated(bool on) {
    outdated_ = on;
    const QString path = QDir::toNativeSeparators(fileName_);
    QString tip = exifText_.isEmpty() ? path : path + "\n\n" + exifText_;
    if (on) tip = tr("Parameters were changed, HDR image is not up-to-date") + "\n\n" + tip;
    setToolTip(tip);
    name_->setText((on ? QStringLiteral("* ") : QString()) + QFileInfo(fileName_).fileName());
}

void imageItem::setEVEditable(bool on) {
    evBox_->setEnabled(on);
}

void imageItem::mousePressEvent(QMouseEvent* event) {
    emit clicked(id_);
    QFrame::mousePressEvent(event);
}

void imageItem::setThumbnail(const QImage& thumbnail) {
    if (thumbnail.isNull())
        thumb_->clear();
    else
        thumb_->setPixmap(
            QPixmap::fromImage(thumbnail.scaled(96, 96, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

QImage imageItem::thumbnail() const {
    return thumb_->pixmap().toImage();
}
