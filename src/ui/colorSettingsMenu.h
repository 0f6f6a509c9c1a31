#pragma once
// The "Color settings" menu: colour management on or off, the photo colour space, the monitor profile
// and the rendering intent, as radio groups whose checked items are read back when one is chosen.
// The same menu drops down from the Settings menu and from the status area's colour buttons.
//
// Main thread only.

#include "color/profileChoice.h"

#include <QMenu>

class QAction;
class QActionGroup;

class colorSettingsMenu : public QMenu {
    Q_OBJECT
public:
    explicit colorSettingsMenu(QWidget* parent = nullptr);

    /// Checks the items that match `options` (without emitting chosen()).
    void setFromOptions(const halvora::colorManagementOptions_t& options);
    /// The choices the checked items stand for, in the numbering of the options store; the custom
    /// monitor file and black-point compensation are taken from `base`.
    halvora::colorManagementOptions_t checkedOptions(const halvora::colorManagementOptions_t& base) const;

    QAction* managementAction() const { return management_; }
    /// The monitor item "From file…".
    QAction* fromFileAction() const { return fromFile_; }
    /// The item of a group with the option value `value`; null when there is none.
    QAction* inputAction(int value) const;
    QAction* monitorAction(int value) const;
    QAction* intentAction(int value) const;

signals:
    /// The user chose `action` (any item of the menu).
    void chosen(QAction* action);

private:
    QActionGroup* addGroup(const QString& title, const std::initializer_list<std::pair<QString, int>>& items);
    static QAction* byValue(const QActionGroup* group, int value);
    static int checkedValue(const QActionGroup* group, int fallback);

    QAction* management_ = nullptr;
    QAction* fromFile_ = nullptr;
    QActionGroup* input_ = nullptr;
    QActionGroup* monitor_ = nullptr;
    QActionGroup* intent_ = nullptr;
};
