#pragma once
// Where the frame window goes at start, from the saved rectangle and the saved screen's areas.

#include <QRect>

namespace halvora {

struct framePlacement {
    QRect frame; ///< geometry given to the frame
    bool maximized = false;
    QRect restore;      ///< restore rectangle of a maximized frame
    QRect intersection; ///< saved ∩ available (not maximized only), for the log line
};

/// `available` is the screen minus task bars, `full` the whole screen; rectangles have inclusive
/// right and bottom edges (QRect's own convention).
framePlacement placeFrame(const QRect& saved, bool maximized, const QRect& available, const QRect& full);

/// The 800 × 570 rectangle centred in `area`.
QRect centredDefaultRect(const QRect& area);

} // namespace halvora
