#pragma once
// The frame window around the main window: frameless, with the styled title bar (icon, program name,
// the current file name, minimise, resize and close) and a size grip; the close routes through the
// main window's shutdown. Main thread.

#include <QMainWindow>

class mainWindow;
class styledTitleBar;

class styledMainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit styledMainWindow(QWidget* parent = nullptr);
    void setMainWindow(mainWindow* w);
    /// Window title for the current file name (empty: the program name only).
    void setTitleFileName(const QString& fileName);
    /// Maximised ↔ normal size.
    void toggleSize();
    styledTitleBar* titleBar() const { return titleBar_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    mainWindow* main_ = nullptr;
    styledTitleBar* titleBar_ = nullptr;
    QWidget* body_ = nullptr;
};
