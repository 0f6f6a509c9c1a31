#pragma once
// The answer of an update check: whether a newer version exists, with its version, release date and
// note (every field escaped), links to the download and the version history when the service gave
// https addresses, and the "Check automatically" option. Main thread.

#include "app/updateCheck.h"
#include "ui/styledDialog.h"

class QCheckBox;
class QLabel;
class QPushButton;

class checkUpdatesDialog : public styledDialog {
    Q_OBJECT
public:
    /// `text`: the dialog text of the check (halvora::updateDialogText); `reply` its fields.
    checkUpdatesDialog(const QString& text, const halvora::updateReply& reply, QWidget* parent = nullptr);

    QLabel* textLabel() const { return text_; }
    QPushButton* downloadButton() const { return download_; }
    QPushButton* historyButton() const { return history_; }
    QCheckBox* automaticBox() const { return automatic_; }

private:
    QLabel* text_;
    QPushButton* download_;
    QPushButton* history_;
    QCheckBox* automatic_;
};
