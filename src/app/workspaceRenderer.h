#pragma once
// Drawing of a picture view's viewport, without widgets: for each viewport pixel, the checkerboard
// background outside the picture, the picture from the display-cache level its scale needs (nearest
// pixel, or bilinear when smooth drawing is on and the level is magnified), the display colour
// transform per row, and the over/under marks. The viewport's rows are split into bands that are
// drawn in parallel (halvora::parallelFor); every pixel depends on its own position only, so the
// output does not depend on the number of bands.
//
// Called on the main thread; the bands run on the pool and write disjoint rows of the target.

#include "app/displayCache.h"
#include "app/workspaceGeometry.h"

#include <QImage>
#include <cstdint>
#include <functional>

namespace halvora {

/// An 8-bit colour of the view's own drawing (background squares, flat grey).
struct viewColor {
    uint8_t r = 0, g = 0, b = 0;
};

/// The two background pairs a view toggles between: 0 dark, 1 light.
struct backgroundPair {
    viewColor first, second;
};
backgroundPair backgroundPairOf(int index);
/// The flat grey of picture pixels with nothing to show.
viewColor flatBackground();

/// Everything one redraw needs.
struct workspaceDrawing {
    viewMapping view;                    ///< picture, viewport, scale and offsets
    const displayCache* cache = nullptr; ///< null or empty: the picture area is flat grey
    bool smooth = false;                 ///< bilinear magnification (the anti-aliasing option)
    bool markOverUnder = false;          ///< paint m ≥ 253 red and m ≤ 2 blue
    backgroundPair background = backgroundPairOf(0);
    /// Converts one finished row (R, G, B bytes, `pixels` long) to the monitor in place; may be empty.
    std::function<void(uint8_t* row, int pixels)> displayTransform;
};

/// What a redraw read, for tests and benchmarks.
struct drawingStats {
    int level = 0;      ///< display-cache level drawn from
    int levelWidth = 0; ///< its size
    int levelHeight = 0;
    bool bilinear = false;
};

/// Draws the viewport into `target` (resized to the viewport as Format_RGB888 when it is not).
drawingStats drawWorkspace(const workspaceDrawing& drawing, QImage& target);

/// The colour shown at a picture pixel: the nearest pixel of level 0, as 0 … 1 values; false off
/// the picture or without a picture.
bool shownColorAt(const displayCache& cache, int pictureWidth, int pictureHeight, QPointF picturePoint,
                  rgbDouble_t& value);

} // namespace halvora
