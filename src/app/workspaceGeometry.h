#pragma once
// The arithmetic of the picture views, without widgets: the zoom list and its stepping, the scale
// that fits a picture, the display-cache level a scale draws from, the mapping between viewport
// and picture coordinates (with the picture centred when it is smaller than the viewport), zooming
// about a point, the crop rectangle, the over/under rule and the texts of the status area.
// Plain functions and values; any thread.

#include "base/rgbDouble.h"
#include "imageio/imageTransform.h"

#include <QPointF>
#include <QString>
#include <vector>

namespace halvora {

// ---- zoom

/// The zoom list in percent, built once: 1 … 50 by 1, 52 … 100 by 2, 104 … 200 by 4, 208 … 400 by 8.
const std::vector<int>& zoomPercents();
/// Smallest and largest scale of the list (0.01 and 4.0).
double minimumZoom();
double maximumZoom();
/// Index of the list entry equal to `scale` (as a percentage), or -1 for a scale between entries.
int zoomIndexOf(double scale);
/// The entry i with entry(i − 1) < scale ≤ entry(i), as a percentage; 0 at or below the first entry,
/// the last index above the last.
int zoomIndexAtOrAbove(double scale);
/// One step along the list: `direction` > 0 the next entry above `scale`, < 0 the next below; the
/// ends stay where they are. A scale between two entries (after fitting) steps to one of those two.
double steppedZoom(double scale, int direction);
/// The text of a scale in the zoom widget: "%4d%", so 400 % reads " 400%".
QString zoomText(double scale);
/// The scale that shows the whole w × h picture inside a vw × vh viewport, within the zoom list's
/// range; 1.0 when either size is empty.
double fitScale(int w, int h, int vw, int vh);

/// The display-cache level drawn from at `scale` (displayed pixels per cached full-size pixel): the
/// largest L < levelCount with 2^L ≤ ⌊1 / scale⌋; 0 when zoomed in.
int cacheLevelFor(double scale, int levelCount);

// ---- viewport ↔ picture

/// Where a picture lies in a viewport. Offsets are the scroll positions, in displayed pixels, of the
/// viewport's top left corner inside the displayed picture; along a side where the displayed picture
/// is smaller than the viewport the offset is 0 and the picture is centred.
struct viewMapping {
    int pictureWidth = 0;
    int pictureHeight = 0;
    int viewWidth = 0;
    int viewHeight = 0;
    double scale = 1.0;
    int offsetX = 0;
    int offsetY = 0;

    /// Size of the whole picture on screen (at least 1 pixel for a picture that exists).
    int displayedWidth() const;
    int displayedHeight() const;
    /// Left and top margin of a picture centred in a larger viewport (0 otherwise).
    int marginX() const;
    int marginY() const;
    /// Scroll range: 0 … max.
    int maxOffsetX() const;
    int maxOffsetY() const;
    /// Brings the offsets into their ranges.
    void clampOffsets();
    /// Picture coordinates (pixels, fractional) of a viewport position.
    QPointF toPicture(QPointF viewPoint) const;
    /// Viewport position of picture coordinates.
    QPointF toView(QPointF picturePoint) const;
    /// True when the viewport position lies on the picture.
    bool onPicture(QPointF viewPoint) const;
};

/// `m` at `newScale` with the offsets chosen so that the picture point under `viewPoint` stays under
/// it (as far as the scroll ranges allow).
viewMapping rescaledAbout(const viewMapping& m, double newScale, QPointF viewPoint);
/// `m` at `newScale` keeping the picture point at the viewport's centre in place.
viewMapping rescaledAboutCentre(const viewMapping& m, double newScale);

// ---- crop rectangle (picture coordinates, right and bottom exclusive)

/// The rectangle spanned by two picture points, corners rounded to the nearest pixel border and
/// limited to the w × h picture.
cropRect cropFromDrag(QPointF a, QPointF b, int w, int h);
/// `r` moved by (dx, dy) pixels, its size kept and stopped at the picture's borders.
cropRect movedCrop(const cropRect& r, int dx, int dy, int w, int h);
/// True when `r` is a rectangle a crop can use: at least one pixel, inside the picture, and not the
/// whole picture.
bool cropUsable(const cropRect& r, int w, int h);
/// True when the picture point lies inside `r`.
bool cropContains(const cropRect& r, QPointF picturePoint);

// ---- over/under marks

enum overUnderMark : int { notMarked = 0, markedOver = 1, markedUnder = 2 };

/// The mark of an 8-bit pixel: m = (r + g + b) / 3 (integer division); m ≥ 253 is over (drawn pure
/// red), m ≤ 2 under (drawn pure blue).
inline overUnderMark overUnderOf(int r, int g, int b) {
    const int m = (r + g + b) / 3;
    return m >= 253 ? markedOver : m <= 2 ? markedUnder : notMarked;
}

// ---- status-area texts

/// "[R:%03d%%, G:%03d%%, B:%03d%%]" of a sample (channels 0 … 1 as whole percentages, rounded and
/// limited to 0 … 999); the reset text "[R:000%, G:000%, B:000%]" off the picture.
QString sampleReadout(bool onPicture, const rgbDouble_t& v);
/// "%1x%2 [%3 MPix]" with the megapixels to one decimal.
QString dimensionsText(int w, int h);

} // namespace halvora
