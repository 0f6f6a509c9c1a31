#pragma once
// The "Histogram, black & white point" panel: the histogram with its black and white handles, the
// two eyedroppers that pick a level from the picture, the clip percentages of the darkest and the
// brightest pixels, the automatic-clipping padlock, and the no-clip and default buttons. The boxes
// show the share of pixels the current levels clip (refreshed after every tone mapping); typing a
// share asks for it, which switches automatic clipping on. Edits the settings record in place. Main
// thread only; the record must not be in use by a tone-mapping pass while the panel is enabled.

#include "tonemap/toneMappingSettings.h"

#include <QWidget>

class QDoubleSpinBox;
class QPushButton;
class QToolButton;
class histogramToolArea;

class histogramTool : public QWidget {
    Q_OBJECT
public:
    /// Sample modes the eyedroppers ask the picture view for.
    enum sampleMode { noSample = 0, blackPointSample = 1, whitePointSample = 2 };

    explicit histogramTool(QWidget* parent = nullptr);

    void setSettings(toneMappingSettings_t* settings);
    toneMappingSettings_t* settings() const { return settings_; }
    /// Shows the record's histogram, levels, resulting clip percentages and automatic clipping,
    /// without signals.
    void setControlsFromSettings();

    histogramToolArea* area() const { return area_; }
    QDoubleSpinBox* blackClipBox() const { return blackClip_; }
    QDoubleSpinBox* whiteClipBox() const { return whiteClip_; }
    QToolButton* lockButton() const { return lock_; }
    QToolButton* blackSampleButton() const { return blackSample_; }
    QToolButton* whiteSampleButton() const { return whiteSample_; }
    QPushButton* noClipButton() const { return noClip_; }
    QPushButton* defaultButton() const { return default_; }

signals:
    /// An eyedropper was switched on (1 black point, 2 white point) or off (0).
    void sampleModeChanged(int mode);
    /// The levels were set from outside the handles (a sample).
    void pointsChanged();
    /// A handle was let go after moving.
    void pointsMoved();
    /// A handle is moving.
    void pointsMovedLive();
    /// Automatic clipping was switched on or off by the user.
    void lockChanged(bool on);
    /// The clip percentages were set (typed, no-clip or default), once per action.
    void clipPercentageChanged(double black, double white);

public slots:
    /// The padlock: applies its state (toggling it first unless `dontToggle`). Switching on asks for
    /// the shares the boxes show, so the picture does not jump.
    void lockClicked(bool dontToggle);
    void lockClicked();
    /// A clip percentage box changed.
    void clipPercentageChangeSlot();
    /// No clipping: automatic clipping off, 0 % both, levels at the ends.
    void setNoClipSlot();
    /// Default clipping: automatic clipping on with 0.1 % and 0.2 %.
    void setDefautSlot();
    /// An eyedropper button was clicked.
    void sampleModeChangedSlot();
    /// The tone mapping switched automatic clipping off (a requested share below 0.0001 %).
    void disableAutoClipping();
    /// Both eyedroppers off, without signals (the sample was taken or abandoned).
    void endSampleMode();

private:
    void setAutoClippingShown(bool on);
    void takeHandleEdit(bool live);

    toneMappingSettings_t* settings_ = nullptr;
    histogramToolArea* area_;
    QDoubleSpinBox* blackClip_;
    QDoubleSpinBox* whiteClip_;
    QToolButton* lock_;
    QToolButton* blackSample_;
    QToolButton* whiteSample_;
    QPushButton* noClip_;
    QPushButton* default_;
};
