#pragma once
// The one message box of the program. In unattended runs a box that would wait for the user becomes
// a debug-log line (questions take their default answer). Tests can record boxes instead of showing them.

#include <QString>
#include <functional>

class QWidget;

class styledMessageBox {
public:
    enum kind { information, warning, error, confirmation };

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
};
