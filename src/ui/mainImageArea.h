#pragma once
// The main window's picture view: the shown picture fitted into the widget with its aspect ratio
// kept, on a dark background; local files dropped on it are handed on as imagesDropped(). Main
// thread only.

#include <QImage>
#include <QWidget>

class QPixmap;

class mainImageArea : public QWidget {
    Q_OBJECT
public:
    explicit mainImageArea(QWidget* parent = nullptr);

    /// Shows `image` (a null image clears the view).
    void setImage(const QImage& image);
    /// Shows nothing but the background.
    void clear() { setImage(QImage()); }
    const QImage& image() const { return image_; }
    /// Where the picture is drawn inside the widget: fitted, aspect ratio kept, centred.
    QRect imageRect() const;

    static QColor backgroundColor() { return QColor(0x2b, 0x2b, 0x2b); }

signals:
    /// Local files were dropped on the view (in the order of the drop).
    void imagesDropped(QStringList files);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QImage image_;
    QImage scaled_; ///< image_ smoothly scaled to imageRect(), made once per size
};
