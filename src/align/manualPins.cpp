#include "align/manualPins.h"

#include "align/pinAlignment.h"
#include "base/failure.h"

#include <algorithm>

namespace halvora {

void manualPinSet::defaultPins(int width, int height, alignPoint pins[4]) {
    const double l = width / 4.0, r = width * 3 / 4.0, t = height / 4.0, b = height * 3 / 4.0;
    pins[0] = {l, t};
    pins[1] = {r, t};
    pins[2] = {r, b};
    pins[3] = {l, b};
}

void manualPinSet::reset(int photoCount, int width, int height, int base) {
    width_ = width;
    height_ = height;
    base_ = base;
    pairs_.assign(size_t(std::max(photoCount, 0)), pinPair_t{});
    for (int i = 0; i < photoCount; ++i)
        resetPair(i);
}

void manualPinSet::resetPair(int photo) {
    if (photo < 0 || photo >= photoCount()) return;
    pinPair_t& p = pairs_[size_t(photo)];
    defaultPins(width_, height_, p.base);
    defaultPins(width_, height_, p.photo);
    p.set = false;
}

bool manualPinSet::anySet() const {
    for (int i = 0; i < photoCount(); ++i)
        if (i != base_ && pairs_[size_t(i)].set) return true;
    return false;
}

std::vector<int> manualPinSet::missing() const {
    std::vector<int> m;
    for (int i = 0; i < photoCount(); ++i)
        if (i != base_ && !pairs_[size_t(i)].set) m.push_back(i);
    return m;
}

bool manualPinSet::transforms(int model, const std::vector<QString>& names, std::vector<alignTransform>& out,
                              QString* error) const {
    std::vector<alignTransform> t(pairs_.size(), alignTransform::identity());
    for (int i = 0; i < photoCount(); ++i) {
        const pinPair_t& p = pairs_[size_t(i)];
        if (i == base_ || !p.set) continue;
        QString reason;
        if (!transformFromPins(model, p.base, p.photo, i, t[size_t(i)], &reason)) {
            const QString name = size_t(i) < names.size() ? names[size_t(i)] : QString("photo %1").arg(i + 1);
            if (error) *error = failureText(name, reason);
            return false;
        }
    }
    out = std::move(t);
    return true;
}

} // namespace halvora
