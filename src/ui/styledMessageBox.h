#pragma once
// The one message box of the program: a styled dialog with the icon and caption of its kind
// ("Information", "Warning", "Error", "Confirmation"), the text and the buttons OK, Yes, No, Cancel.
// The buttons are enabled once the box is on screen, so a key press meant for the window behind it
// cannot answer it. In unattended runs a box that would wait for the user becomes a debug-log line
// (questions take their default answer). Tests can record boxes instead of showing them. Main thread.

#include "ui/styledDialog.h"

#include <QString>
#include <functional>

class QLabel;
class QPushButton;

class styledMessageBox : public styledDialog {
    Q_OBJECT
public:
    enum kind { information, warning, error, confirmation };
    enum button { ok = 1, yes = 2, no = 4, cancel = 8 };

    /// A box of `kind` with `text` (rich text) and the buttons in `buttons` (a combination of button).
    styledMessageBox(QWidget* parent, kind k, const QString& text, int buttons);

    /// The button that closed the box (0 while open, or after the title bar's close: cancel or no).
    int clicked() const { return clicked_; }
    /// Enables the buttons (done when the box is shown).
    void enableButtons();
    QPushButton* buttonFor(button b) const;

    /// Shows a box with OK and waits for it.
    static void show(QWidget* parent, kind k, const QString& text);
    /// The same for text that is not markup (file names, readers' reasons): shown exactly as written.
    static void showPlain(QWidget* parent, kind k, const QString& text);
    /// Yes/No question; true for Yes.
    static bool question(QWidget* parent, const QString& text, bool unattendedAnswer = true);

    /// While set, boxes are not shown: the recorder gets (kind, text) and returns the answer to a question.
    static void setRecorder(std::function<bool(kind, const QString&)> recorder);
    /// Unattended runs (automatic, batch): boxes become log lines.
    static void setUnattended(bool unattended);
    static bool unattended();
    static QString caption(kind k);

signals:
    void okClicked();
    void yesClicked();
    void noClicked();
    void cancelClicked();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void finishWith(button b);

    int clicked_ = 0;
    int buttons_ = 0;
    QPushButton* ok_ = nullptr;
    QPushButton* yes_ = nullptr;
    QPushButton* no_ = nullptr;
    QPushButton* cancel_ = nullptr;
};
