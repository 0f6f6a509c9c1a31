#pragma once
// One fractional tone-mapping parameter as a label, a slider and a spin box that follow each other.
// The slider works in hundredths (two decimals, step 0.01). Main thread only.

#include <QWidget>

#include <functional>

class QDoubleSpinBox;
class QLabel;
class QSlider;

class paramSlider : public QWidget {
    Q_OBJECT
public:
    paramSlider(const QString& label, double minimum, double maximum, double initial,
                QWidget* parent = nullptr);

    double value() const;
    double minimum() const { return minimum_; }
    double maximum() const { return maximum_; }
    /// Shows `v` (kept inside the range) without emitting anything.
    void setValueQuietly(double v);
    QSlider* slider() const { return slider_; }
    /// Shows `format(value)` after the spin box (the value in its real unit) and keeps it current.
    void setUnitText(std::function<QString(double)> format);
    QLabel* unitLabel() const { return unit_; }
    QDoubleSpinBox* spinBox() const { return spinBox_; }

signals:
    /// The user changed the value; `dragging` while the slider's handle is held down.
    void valueEdited(double value, bool dragging);
    /// The slider's handle was let go.
    void released();

private:
    double minimum_, maximum_;
    QLabel* label_;
    QSlider* slider_;
    QDoubleSpinBox* spinBox_;
    QLabel* unit_ = nullptr;
    std::function<QString(double)> unitFormat_;

    void updateUnit(double v);
};
