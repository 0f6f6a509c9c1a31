#pragma once
// A collapsible group of the tone-mapping tab: a title button that opens and closes the group's
// content. Main thread only.

#include <QWidget>

class QToolButton;

class toolBox : public QWidget {
    Q_OBJECT
public:
    toolBox(const QString& title, QWidget* parent = nullptr);

    /// Puts `content` under the title (the box takes it over); replaces an earlier content.
    void setContent(QWidget* content);
    QWidget* content() const { return content_; }
    bool isOpen() const;
    /// Opens or closes the box; emits toggled() only when the state changes.
    void setOpen(bool open);
    QString title() const;

signals:
    /// The user (or setOpen) opened or closed the box.
    void toggled(toolBox* box, bool isOpen);

private:
    void applyState(bool open);

    QToolButton* titleButton_;
    QWidget* content_ = nullptr;
};
