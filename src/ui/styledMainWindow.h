#pragma once
// The frame window around the main window: title with the current file name and the close handling
// that routes through the main window's shutdown.

#include <QMainWindow>

class mainWindow;

class styledMainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit styledMainWindow(QWidget* parent = nullptr);
    void setMainWindow(mainWindow* w);
    /// Window title for the current file name (empty: the program name only).
    void setTitleFileName(const QString& fileName);
    void toggleSize();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    mainWindow* main_ = nullptr;
};
