#pragma once
// One selective-saturation editor ("Hue selective saturation" or "Brightness selective
// saturation"): its curve area, the sigma slider of the selected point (positions 1 … 20, sigma =
// position / 10) and "Reset". Edits the point list it is given in place. Main thread only.

#include "base/rgbDouble.h"
#include "tonemap/selKneePoints.h"

#include <QWidget>
#include <vector>

class QLabel;
class QSlider;
class selectiveCurveToolArea;

class selectiveCurveTool : public QWidget {
    Q_OBJECT
public:
    selectiveCurveTool(const QString& title, bool hueAxis, QWidget* parent = nullptr);

    /// Edits `points` (null detaches); the sigma slider goes back to its initial position.
    void setPoints(std::vector<selKneePoints_t>* points);
    selectiveCurveToolArea* area() const { return area_; }
    QSlider* sigmaSlider() const { return sigma_; }

signals:
    /// The curve's edit is complete.
    void curveChanged();
    /// The curve is changing (a drag, the sigma slider held).
    void curveChangedLive();

public slots:
    /// Marks the colour under the pointer on the axis while it is over the picture.
    void setSampleValue(bool inImg, rgbDouble_t v);
    /// Back to no points (no change of saturation); emits curveChanged() unless `silent`.
    void resetCurve(bool silent);
    void resetCurve();
    void curveChangedSlot();
    void curveChangedLiveSlot();
    /// The sigma slider moved to `position`: the selected point's sigma becomes position / 10.
    void changeCurrentSigma(int position);
    /// Another point was selected: the slider shows its sigma.
    void changeCurrentSigmaOnSlider(int newIdx, selKneePoints_t k);
    void sigmaSliderReleased();

private:
    bool hueAxis_;
    selectiveCurveToolArea* area_;
    QSlider* sigma_;
    QLabel* sigmaValue_;
    bool sigmaChanged_ = false;
};
