#pragma once
// The drawing surface of a picture view. It draws the viewport its workspace describes (picture,
// scale, offsets) from the workspace's display cache through halvora::drawWorkspace, dims the area
// outside a crop rectangle, and turns the mouse into the view's gestures: dragging pans, the wheel
// zooms about the pointer, crop mode draws and moves a rectangle, sample mode takes a colour with the
// left (shown picture) or right (input HDR picture) button. Local files dropped on it are handed on.
// Main thread only.

#include "app/displayCache.h"
#include "app/workspaceGeometry.h"
#include "app/workspaceRenderer.h"
#include "base/rgbDouble.h"

#include <QImage>
#include <QWidget>
#include <functional>

class mainImageArea : public QWidget {
    Q_OBJECT
public:
    enum mode { normalMode, cropMode, sampleMode };
    /// Where a sample came from (the `src` of sampleTaken).
    enum sampleSource { sampleShown = 0, sampleInput = 1 };

    explicit mainImageArea(QWidget* parent = nullptr);

    /// What to draw; the cache is the workspace's and outlives the area's use of it.
    void setDrawing(const halvora::viewMapping& mapping, const halvora::displayCache* cache);
    const halvora::viewMapping& mapping() const { return mapping_; }
    void setMarkOverUnder(bool on);
    bool markOverUnder() const { return drawing_.markOverUnder; }
    void setSmooth(bool on);
    void setBackgroundPair(int index);
    void setDisplayTransform(std::function<void(uint8_t*, int)> transform);

    mode currentMode() const { return mode_; }
    /// Crop mode starts without a rectangle; sample mode with the caller's mode code.
    void setMode(mode m, int sampleCode = 0);
    int sampleCode() const { return sampleCode_; }
    const halvora::cropRect& crop() const { return crop_; }
    /// Sets the crop rectangle (crop mode), limited to the picture.
    void setCrop(const halvora::cropRect& rect);
    /// Confirms the crop: cropApplied when the rectangle is usable. False otherwise.
    bool applyCrop();
    /// Reads the input picture at picture coordinates for right-button samples; may be empty.
    std::function<bool(QPointF picturePoint, rgbDouble_t& value)> inputSampler;

    /// The last drawn viewport and what it read.
    const QImage& frame() const { return frame_; }
    const halvora::drawingStats& lastDrawing() const { return stats_; }

signals:
    /// The user dragged the picture: the new scroll offsets.
    void offsetsChanged(int x, int y);
    /// One wheel notch (+1 in, −1 out) at `pos`.
    void wheelChanged(int direction, QPoint pos);
    /// Local files were dropped on the view (in the order of the drop).
    void imagesDropped(QStringList files);
    void cropApplied(halvora::cropRect rect);
    void cropAbandoned();
    void sampleAbandoned();
    /// The pointer moved: whether it is on the picture and the colour shown there.
    void mouseMoved(bool inImg, rgbDouble_t v);
    void sampleTaken(int mode, int src, rgbDouble_t sampleValue);
    /// The widget's size changed (the workspace recomputes its scroll ranges).
    void resized();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    enum drag { noDrag, panDrag, cropDrawDrag, cropMoveDrag };
    void updateCursor(QPointF viewPoint);
    void reportPointer(QPointF viewPoint);
    QRectF cropInView() const;

    halvora::viewMapping mapping_;
    halvora::workspaceDrawing drawing_;
    QImage frame_;
    bool frameDirty_ = true;
    halvora::drawingStats stats_;

    mode mode_ = normalMode;
    int sampleCode_ = 0;
    halvora::cropRect crop_;
    drag drag_ = noDrag;
    QPointF dragStart_;        ///< view position where the drag began
    QPointF dragStartPicture_; ///< the same in picture coordinates
    int startOffsetX_ = 0, startOffsetY_ = 0;
    halvora::cropRect startCrop_;
    int wheelRemainder_ = 0; ///< wheel angle not yet a whole notch (touchpads send fractions)
};
