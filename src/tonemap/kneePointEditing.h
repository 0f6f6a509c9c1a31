#pragma once
// Mouse editing of a curve's knee points, shared by the tone-curve and the selective-saturation
// editors. The widgets pass their mouse events in pixels; this class decides what they do to the
// points: hover, insert, drag (kept between the neighbours so the curve stays sorted by x) and
// delete. Plain data without widgets; used on the main thread.

#include <cmath>
#include <vector>

namespace halvora {

/// A curve holds at most this many knee points; a click on empty space adds none beyond it.
inline constexpr int kMaxEditedKneePoints = 31;
/// A point is hovered when its distance from the pointer, rounded to whole pixels, is below this.
inline constexpr int kHoverRadiusPixels = 5;

/// Where the curve's unit square lies in its widget: x = 0 … 1 spans columns left … left + width − 1,
/// y = 1 … 0 spans rows top … top + height − 1.
struct curveFrame_t {
    int left = 0;
    int top = 0;
    int width = 2;
    int height = 2;

    /// Curve x of a widget column, clamped to 0 … 1.
    double curveX(double px) const;
    /// Curve y of a widget row, clamped to 0 … 1.
    double curveY(double py) const;
    double pixelX(double x) const { return left + x * (width - 1); }
    double pixelY(double y) const { return top + (1.0 - y) * (height - 1); }
};

/// What a mouse event did.
enum class kneeEdit {
    nothing,      ///< no visible change
    hoverChanged, ///< another point (or none) is under the pointer: repaint
    selected,     ///< a press picked an existing point (it is now the selected and dragged one)
    live,         ///< points changed and the button is still down
    finished,     ///< the edit is complete (release after a change, or a deletion)
};

/// Editing state over a list of points with members x and y (curvePoint_t, selKneePoints_t). The
/// list is borrowed: it must outlive the calls, and setPoints() switches to another list.
template <class Point> class kneePointEditing {
public:
    /// Edits `points` (null: nothing to edit); forgets hover, drag and selection.
    void setPoints(std::vector<Point>* points) {
        points_ = points;
        hovered_ = dragged_ = selected_ = -1;
        changed_ = false;
    }
    std::vector<Point>* points() const { return points_; }
    int hovered() const { return hovered_; }
    int dragged() const { return dragged_; }
    /// The point last pressed or inserted (−1: none); the selective editor's sigma slider edits it.
    int selected() const { return selected_; }
    void setSelected(int index) { selected_ = index; }

    /// Index of the point nearest to (px, py) if it is within the hover radius, else −1.
    int pointAt(const curveFrame_t& frame, double px, double py) const {
        if (!points_) return -1;
        int best = -1;
        double bestDistance = 0;
        for (int i = 0; i < int(points_->size()); ++i) {
            const Point& p = (*points_)[size_t(i)];
            const double d = std::hypot(frame.pixelX(p.x) - px, frame.pixelY(p.y) - py);
            if (best < 0 || d < bestDistance) {
                best = i;
                bestDistance = d;
            }
        }
        return best >= 0 && std::lround(bestDistance) < kHoverRadiusPixels ? best : -1;
    }

    /// Pointer moved: drags the held point, or updates the hovered one.
    kneeEdit mouseMove(const curveFrame_t& frame, double px, double py) {
        if (!points_) return kneeEdit::nothing;
        if (dragged_ >= 0) {
            if (!moveWithinNeighbours(dragged_, frame.curveX(px), frame.curveY(py))) return kneeEdit::nothing;
            changed_ = true;
            return kneeEdit::live;
        }
        const int now = pointAt(frame, px, py);
        if (now == hovered_) return kneeEdit::nothing;
        hovered_ = now;
        return kneeEdit::hoverChanged;
    }

    /// Button pressed. Left on a point starts dragging it; left elsewhere inserts a point (unless the
    /// curve is full) and drags that; right on a point deletes it while at least 3 remain.
    kneeEdit mousePress(const curveFrame_t& frame, double px, double py, bool leftButton) {
        if (!points_) return kneeEdit::nothing;
        hovered_ = pointAt(frame, px, py);
        changed_ = false;
        if (!leftButton) {
            if (hovered_ < 0 || points_->size() < 3) return kneeEdit::nothing;
            points_->erase(points_->begin() + hovered_);
            if (selected_ == hovered_)
                selected_ = -1;
            else if (selected_ > hovered_)
                --selected_;
            hovered_ = -1;
            return kneeEdit::finished;
        }
        if (hovered_ >= 0) {
            dragged_ = selected_ = hovered_;
            return kneeEdit::selected;
        }
        if (int(points_->size()) >= kMaxEditedKneePoints) return kneeEdit::nothing;
        Point added{};
        added.x = frame.curveX(px);
        added.y = frame.curveY(py);
        size_t at = 0;
        while (at < points_->size() && (*points_)[at].x <= added.x)
            ++at;
        points_->insert(points_->begin() + at, added);
        dragged_ = selected_ = hovered_ = int(at);
        changed_ = true;
        return kneeEdit::live;
    }

    /// Button released: ends a drag; `finished` when the press changed the curve.
    kneeEdit mouseRelease() {
        dragged_ = -1;
        const bool changed = changed_;
        changed_ = false;
        return changed ? kneeEdit::finished : kneeEdit::nothing;
    }

    /// Moves point `index` to (x, y), x kept between its neighbours' x and both inside 0 … 1.
    /// False when the point did not move.
    bool moveWithinNeighbours(int index, double x, double y) {
        if (!points_ || index < 0 || index >= int(points_->size())) return false;
        std::vector<Point>& pts = *points_;
        const double lo = index > 0 ? pts[size_t(index) - 1].x : 0.0;
        const double hi = index + 1 < int(pts.size()) ? pts[size_t(index) + 1].x : 1.0;
        x = std::fmin(std::fmax(x, std::fmax(lo, 0.0)), std::fmin(hi, 1.0));
        y = std::fmin(std::fmax(y, 0.0), 1.0);
        Point& p = pts[size_t(index)];
        if (p.x == x && p.y == y) return false;
        p.x = x;
        p.y = y;
        return true;
    }

private:
    std::vector<Point>* points_ = nullptr;
    int hovered_ = -1;
    int dragged_ = -1;
    int selected_ = -1;
    bool changed_ = false;
};

} // namespace halvora
