#pragma once
// The frame of the program's dialogs: frameless, with the styled title bar (icon, title, close) above
// the dialog's own controls. A dialog builds its controls on contentArea(); the title follows
// setWindowTitle. Dragging the title moves the dialog; a double click toggles its size. Main thread.

#include <QDialog>

class styledTitleBar;

class styledDialog : public QDialog {
    Q_OBJECT
public:
    explicit styledDialog(QWidget* parent = nullptr);

    /// The widget the dialog's controls are laid out on.
    QWidget* contentArea() const { return content_; }
    styledTitleBar* titleBar() const { return titleBar_; }
    /// Maximised ↔ normal size.
    void toggleSize();

protected:
    void changeEvent(QEvent* event) override;

private:
    styledTitleBar* titleBar_;
    QWidget* content_;
};
