#include "app/workspaceGeometry.h"

#include <algorithm>
#include <cmath>

namespace halvora {

namespace {

// Scales are compared as percentages with this slack, so a fitted 0.5 counts as the entry 50.
constexpr double kPercentSlack = 1e-6;

std::vector<int> buildZoomList() {
    std::vector<int> list;
    for (int p = 1; p <= 50; ++p)
        list.push_back(p);
    for (int p = 52; p <= 100; p += 2)
        list.push_back(p);
    for (int p = 104; p <= 200; p += 4)
        list.push_back(p);
    for (int p = 208; p <= 400; p += 8)
        list.push_back(p);
    return list;
}

int displayedSide(int pictureSide, double scale) {
    if (pictureSide <= 0 || !(scale > 0)) return 0;
    return std::max(1, int(std::lround(pictureSide * scale)));
}

} // namespace

const std::vector<int>& zoomPercents() {
    static const std::vector<int> list = buildZoomList();
    return list;
}

double minimumZoom() {
    return zoomPercents().front() / 100.0;
}
double maximumZoom() {
    return zoomPercents().back() / 100.0;
}

int zoomIndexOf(double scale) {
    const double percent = scale * 100.0;
    const auto& list = zoomPercents();
    for (size_t i = 0; i < list.size(); ++i)
        if (std::abs(list[i] - percent) <= kPercentSlack) return int(i);
    return -1;
}

int zoomIndexAtOrAbove(double scale) {
    const double percent = scale * 100.0;
    const auto& list = zoomPercents();
    for (size_t i = 0; i < list.size(); ++i)
        if (percent <= list[i] + kPercentSlack) return int(i);
    return int(list.size()) - 1;
}

double steppedZoom(double scale, int direction) {
    const auto& list = zoomPercents();
    const int at = zoomIndexAtOrAbove(scale);
    const bool onEntry = zoomIndexOf(scale) == at;
    int next = at;
    if (direction > 0)
        next = onEntry ? at + 1 : at; // between two entries, the larger one is the next step up
    else if (direction < 0)
        next = at - 1;
    if (scale * 100.0 > list.back() + kPercentSlack && direction < 0)
        next = int(list.size()) - 1; // above the list (a picture fitted larger): back onto it
    next = std::clamp(next, 0, int(list.size()) - 1);
    return list[size_t(next)] / 100.0;
}

QString zoomText(double scale) {
    return QStringLiteral("%1%").arg(int(std::lround(scale * 100.0)), 4);
}

double fitScale(int w, int h, int vw, int vh) {
    if (w <= 0 || h <= 0 || vw <= 0 || vh <= 0) return 1.0;
    const double s = std::min(double(vw) / w, double(vh) / h);
    return std::clamp(s, minimumZoom(), maximumZoom());
}

int cacheLevelFor(double scale, int levelCount) {
    if (!(scale > 0) || levelCount <= 1 || scale >= 1.0) return 0;
    const double inverse = std::floor(1.0 / scale);
    int level = 0;
    while (level + 1 < levelCount && std::ldexp(1.0, level + 1) <= inverse)
        ++level;
    return level;
}

int viewMapping::displayedWidth() const {
    return displayedSide(pictureWidth, scale);
}
int viewMapping::displayedHeight() const {
    return displayedSide(pictureHeight, scale);
}
int viewMapping::marginX() const {
    return std::max(0, (viewWidth - displayedWidth()) / 2);
}
int viewMapping::marginY() const {
    return std::max(0, (viewHeight - displayedHeight()) / 2);
}
int viewMapping::maxOffsetX() const {
    return std::max(0, displayedWidth() - viewWidth);
}
int viewMapping::maxOffsetY() const {
    return std::max(0, displayedHeight() - viewHeight);
}

void viewMapping::clampOffsets() {
    offsetX = std::clamp(offsetX, 0, maxOffsetX());
    offsetY = std::clamp(offsetY, 0, maxOffsetY());
}

QPointF viewMapping::toPicture(QPointF viewPoint) const {
    if (!(scale > 0)) return QPointF();
    return QPointF((viewPoint.x() - marginX() + offsetX) / scale,
                   (viewPoint.y() - marginY() + offsetY) / scale);
}

QPointF viewMapping::toView(QPointF picturePoint) const {
    return QPointF(picturePoint.x() * scale - offsetX + marginX(),
                   picturePoint.y() * scale - offsetY + marginY());
}

bool viewMapping::onPicture(QPointF viewPoint) const {
    const QPointF p = toPicture(viewPoint);
    return pictureWidth > 0 && pictureHeight > 0 && p.x() >= 0 && p.y() >= 0 && p.x() < pictureWidth &&
           p.y() < pictureHeight;
}

viewMapping rescaledAbout(const viewMapping& m, double newScale, QPointF viewPoint) {
    const QPointF anchor = m.toPicture(viewPoint);
    viewMapping r = m;
    r.scale = newScale;
    r.offsetX = r.offsetY = 0;
    // With zero offsets the anchor sits at toView(anchor); the offsets move it back under the pointer.
    const QPointF at = r.toView(anchor);
    r.offsetX = int(std::lround(at.x() - viewPoint.x()));
    r.offsetY = int(std::lround(at.y() - viewPoint.y()));
    r.clampOffsets();
    return r;
}

viewMapping rescaledAboutCentre(const viewMapping& m, double newScale) {
    return rescaledAbout(m, newScale, QPointF(m.viewWidth / 2.0, m.viewHeight / 2.0));
}

cropRect cropFromDrag(QPointF a, QPointF b, int w, int h) {
    auto border = [](double v, int limit) { return std::clamp(int(std::lround(v)), 0, std::max(0, limit)); };
    cropRect r;
    r.left = border(std::min(a.x(), b.x()), w);
    r.right = border(std::max(a.x(), b.x()), w);
    r.top = border(std::min(a.y(), b.y()), h);
    r.bottom = border(std::max(a.y(), b.y()), h);
    return r;
}

cropRect movedCrop(const cropRect& r, int dx, int dy, int w, int h) {
    const int rw = r.right - r.left, rh = r.bottom - r.top;
    cropRect m;
    m.left = std::clamp(r.left + dx, 0, std::max(0, w - rw));
    m.top = std::clamp(r.top + dy, 0, std::max(0, h - rh));
    m.right = m.left + rw;
    m.bottom = m.top + rh;
    return m;
}

bool cropUsable(const cropRect& r, int w, int h) {
    const bool inside = r.left >= 0 && r.top >= 0 && r.right <= w && r.bottom <= h;
    const bool nonEmpty = r.right > r.left && r.bottom > r.top;
    const bool whole = r.left == 0 && r.top == 0 && r.right == w && r.bottom == h;
    return inside && nonEmpty && !whole;
}

bool cropContains(const cropRect& r, QPointF p) {
    return p.x() >= r.left && p.x() < r.right && p.y() >= r.top && p.y() < r.bottom;
}

QString sampleReadout(bool onPicture, const rgbDouble_t& v) {
    if (!onPicture) return QStringLiteral("[R:000%, G:000%, B:000%]");
    auto percent = [](double c) {
        if (!(c > 0)) // also NaN
            return 0;
        return int(std::min(999.0, std::round(c * 100.0)));
    };
    return QString::asprintf("[R:%03d%%, G:%03d%%, B:%03d%%]", percent(v.r), percent(v.g), percent(v.b));
}

QString dimensionsText(int w, int h) {
    const double megapixels = double(std::max(0, w)) * double(std::max(0, h)) / 1e6;
    return QStringLiteral("%1x%2 [%3 MPix]").arg(w).arg(h).arg(megapixels, 0, 'f', 1);
}

} // namespace halvora
