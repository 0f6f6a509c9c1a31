#pragma once
// The pins of manual alignment for a whole sequence: for every photo paired with the base photo, four
// pins on the base side and four on the photo side, and whether the user (or the estimator) has set
// them. Pins start as a square-ish layout around the picture's centre (pins 1 … 4 clockwise from the
// top left), which gives the identity until moved. From the pins come the transforms that the apply
// step uses: the identity for the base photo and for photos whose pins were never set.
//
// A plain value owned by the manual-alignment dialog; main thread.

#include "align/alignTransform.h"

#include <QString>
#include <vector>

namespace halvora {

struct pinPair_t {
    alignPoint base[4];
    alignPoint photo[4];
    bool set = false;
};

class manualPinSet {
public:
    /// Pins for `photoCount` photos of w × h with photo `base` as the base; every pair at the defaults.
    void reset(int photoCount, int width, int height, int base);
    int photoCount() const { return int(pairs_.size()); }
    int base() const { return base_; }
    int width() const { return width_; }
    int height() const { return height_; }

    /// The default layout: (w/4, h/4), (3w/4, h/4), (3w/4, 3h/4), (w/4, 3h/4).
    static void defaultPins(int width, int height, alignPoint pins[4]);
    /// The pair of photo `photo` (0 … photoCount − 1).
    pinPair_t& pair(int photo) { return pairs_[size_t(photo)]; }
    const pinPair_t& pair(int photo) const { return pairs_[size_t(photo)]; }
    /// Puts the pair of `photo` back to the defaults, not set.
    void resetPair(int photo);
    /// True when some pair other than the base photo's has been set.
    bool anySet() const;
    /// Photos other than the base whose pins were not set, in order.
    std::vector<int> missing() const;

    /// One transform per photo for `model`: identity for the base and unset pairs, transformFromPins
    /// for the others. False, with the photo named (names[i], or its number) and the reason in *error,
    /// when the pins of a set pair do not give a transform (coinciding or collinear pins).
    bool transforms(int model, const std::vector<QString>& names, std::vector<alignTransform>& out,
                    QString* error) const;

private:
    std::vector<pinPair_t> pairs_;
    int base_ = 0;
    int width_ = 0, height_ = 0;
};

} // namespace halvora
