#pragma once
// The splash shown while the program starts: the program's mark, name, version and release date.
// start() shows it fully opaque with the main window disabled; startHiding() re-enables the window and
// fades the splash out in 20 ms steps — opaque until step 60, then 1 − (step − 60) / 40, gone at step
// 100 (1.2 s, then a 0.8 s fade) — and emits finished(). A click on it skips to the fade. Main thread.

#include <QTimer>
#include <QWidget>

class splash : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFadeFrom = 60;
    static constexpr int kLastStep = 100;
    static constexpr int kStepMs = 20;

    /// A splash for `mainWindow` (disabled while the splash is up; may be null).
    explicit splash(QWidget* mainWindow);

    int step() const { return step_; }

public slots:
    void start();
    void startHiding();
    void hidingStep();

signals:
    /// The splash is gone; it deletes itself afterwards.
    void finished();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QWidget* main_;
    QTimer timer_;
    int step_ = 0;
    bool hiding_ = false;
};
