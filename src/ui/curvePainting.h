#pragma once
// Drawing shared by the curve editors: the frame with its quarter grid and the knee-point handles.
// Main thread only (paint events).

#include "tonemap/kneePointEditing.h"

#include <QColor>
#include <QPointF>
#include <vector>

class QPainter;

namespace halvora::curvePainting {

/// Background, border and quarter grid of the curve's unit square.
void drawFrame(QPainter& painter, const halvora::curveFrame_t& frame);
/// A polyline through `values` (curve y at evenly spaced x from 0 to 1) in `colour`.
void drawValues(QPainter& painter, const halvora::curveFrame_t& frame, const std::vector<double>& values,
                const QColor& colour);
/// Knee points (curve coordinates) as small squares; the hovered one larger, the selected one filled.
void drawKneePoints(QPainter& painter, const halvora::curveFrame_t& frame, const std::vector<QPointF>& points,
                    int hovered, int selected);
/// The drawing frame of a widget of `width` × `height` pixels with a margin for the handles.
halvora::curveFrame_t frameFor(int width, int height);

} // namespace halvora::curvePainting
