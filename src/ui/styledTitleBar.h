#pragma once
// The title bar of the program's frameless windows: the 16-pixel icon, the title, on the main window
// the current file name, and the title buttons. Pressing and dragging on it moves the window; a
// double click toggles its size. Object names are the style sheet's selectors: "windowTitle" (the
// bar and its title), "windowTitleFn", "windowTitleButton" (minimise, resize), "windowTitleButtonX".
// Main thread.

#include <QPoint>
#include <QWidget>

class QLabel;
class QToolButton;

class styledTitleBar : public QWidget {
    Q_OBJECT
public:
    /// `mainWindowButtons`: minimise and resize besides close (dialogs have close only).
    styledTitleBar(QWidget* window, bool mainWindowButtons);

    void setTitle(const QString& title);
    /// The current file name shown after the title (main window only; empty hides it).
    void setFileName(const QString& fileName);
    QString title() const;

    QToolButton* closeButton() const { return close_; }
    QToolButton* minimiseButton() const { return minimise_; }
    QToolButton* resizeButton() const { return resize_; }

signals:
    void minimiseClicked();
    void resizeClicked();
    void closeClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QWidget* window_;
    QLabel* title_ = nullptr;
    QLabel* fileName_ = nullptr;
    QToolButton* minimise_ = nullptr;
    QToolButton* resize_ = nullptr;
    QToolButton* close_ = nullptr;
    bool dragging_ = false;
    QPoint grab_; ///< the pointer's offset from the window's corner while dragging
};
