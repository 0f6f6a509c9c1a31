#pragma once
// A picture view: the drawing surface (mainImageArea) inside two scroll bars, the display cache of
// the picture on show, the scale and the offsets. The main window shows an input photo, the
// tone-mapped preview or the full-resolution result in it; the RAW, alignment, chromatic-aberration
// and ghost dialogs use the same view (dialogWorkspaces.h). Pictures are given with the size of the
// picture they stand for (a preview stands for the full-size picture), so a scale of 1.0 always
// means one screen pixel per picture pixel. Main thread only.

#include "app/displayCache.h"
#include "app/workspaceGeometry.h"
#include "base/rgbBuffers.h"
#include "base/rgbDouble.h"
#include "ui/mainImageArea.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

class QScrollBar;
class zoomWidget;

class mainWorkspace : public QWidget {
    Q_OBJECT
public:
    explicit mainWorkspace(QWidget* parent = nullptr);

    mainImageArea* area() const { return area_; }
    /// Connects a zoom widget: its steps set the scale, the wheel steps it, fitting asks this view.
    void attachZoom(zoomWidget* zoom);

    /// Shows an 8-bit RGB picture standing for a pictureWidth × pictureHeight picture (0: its own size).
    void showPicture(const QImage& image, int pictureWidth = 0, int pictureHeight = 0);
    /// Shows a working-scale picture (a photo's preview).
    void showPicture(const halvora::rgb16Buffer& picture, int pictureWidth, int pictureHeight);
    /// Shows a radiance picture (R, G, B floats, 0 … 1 as 0 … 255).
    void showPicture(const float* rgb, int width, int height, int pictureWidth, int pictureHeight);
    /// Shows nothing but the background.
    void clearPicture();
    bool hasPicture() const { return !cache_.empty(); }
    /// The picture on show at its cached full size (null without one).
    QImage shownImage() const;
    int pictureWidth() const { return mapping_.pictureWidth; }
    int pictureHeight() const { return mapping_.pictureHeight; }
    double scale() const { return mapping_.scale; }
    const halvora::viewMapping& mapping() const { return mapping_; }
    /// The scale that fits the picture into the viewport now.
    double fitScale() const;
    /// Scale changes follow the viewport's size until another zoom is chosen.
    bool fitting() const { return fitting_; }
    /// Whether scale changes follow the viewport's size (a view zoomed together with another one
    /// takes that one's choice; an attached zoom widget sets it itself).
    void setFitting(bool on) { fitting_ = on; }

    /// Draws the over/under marks (on the tone-mapped picture only: the owner switches them).
    void setMarkOverUnder(bool on) { area_->setMarkOverUnder(on); }
    /// Bilinear magnification (the anti-aliasing option).
    void setSmooth(bool on) { area_->setSmooth(on); }
    /// The background pair, 0 dark or 1 light.
    void setBackground(int index);
    int background() const { return background_; }
    /// Crop mode on or off (off forgets the rectangle).
    void setCropMode(bool on);
    /// Sample mode with the caller's code (`mode` of sampleTaken); 0 leaves it.
    void setSampleMode(int mode);

public slots:
    /// Sets the scale, keeping the picture point under the wheel position (tweakWheelPos) or the
    /// viewport's centre in place.
    void setScale(double scale);
    /// Redraws now (`now`) or on the redraw timer.
    void redraw(bool now);
    void redraw() { redraw(true); }
    void toggleBackgroundColor();
    /// A scroll bar moved.
    void scrollChanged(int value);
    /// Moves the scroll bars (offsets in displayed pixels).
    void setScrollBars(int x, int y);
    /// A wheel notch at `pos`: the next scale change keeps the picture point under `pos` in place.
    void tweakWheelPos(int direction, QPoint pos);
    void redrawOnTimer();

signals:
    void offsetsChanged(int x, int y);
    void wheelChanged(int direction, QPoint pos);
    void imagesDropped(QStringList files);
    void cropApplied(halvora::cropRect rect);
    void cropAbandoned();
    void sampleAbandoned();
    void mouseMoved(bool inImg, rgbDouble_t v);
    void sampleTaken(int mode, int src, rgbDouble_t sampleValue);
    /// The scale changed (by fitting to a resized viewport, or a setScale).
    void scaleChanged(double scale, bool fitting);

private:
    /// A new picture of `w` × `h` is in the cache: keep the zoom when the size is the same.
    void pictureChanged(int w, int h);
    /// Viewport size, scroll ranges and offsets into the mapping; hands it to the area.
    void updateMapping();

    mainImageArea* area_ = nullptr;
    QScrollBar* horizontal_ = nullptr;
    QScrollBar* vertical_ = nullptr;
    zoomWidget* zoom_ = nullptr;
    halvora::displayCache cache_;
    halvora::viewMapping mapping_;
    bool fitting_ = true;
    bool haveWheelPos_ = false;
    QPoint wheelPos_;
    int background_ = 0;
    bool updatingBars_ = false;
    QTimer redrawTimer_;
};
