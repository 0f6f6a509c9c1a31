#include "ui/colorSettingsMenu.h"

#include <QAction>
#include <QActionGroup>

colorSettingsMenu::colorSettingsMenu(QWidget* parent) : QMenu(tr("Color settings"), parent) {
    setObjectName("colorSettingsMenu");
    management_ = addAction(tr("Color management"));
    management_->setObjectName("colorManagementAction");
    management_->setCheckable(true);
    connect(management_, &QAction::triggered, this, [this] { emit chosen(management_); });
    input_ = addGroup(tr("Photo color space"), {{tr("As embedded in input photo"), 0},
                                                {tr("sRGB"), 1},
                                                {tr("Adobe RGB"), 2},
                                                {tr("Wide Gamut"), 3},
                                                {tr("Pro Photo"), 4}});
    monitor_ = addGroup(tr("Monitor color profile"), {{tr("sRGB"), 1},
                                                      {tr("Adobe RGB"), 2},
                                                      {tr("Apple RGB"), 3},
                                                      {tr("Color Match"), 4},
                                                      {tr("From file") + QString::fromUtf8("…"), 0}});
    fromFile_ = byValue(monitor_, 0);
    intent_ = addGroup(tr("Intent"), {{tr("Perceptual"), halvora::intentPerceptual},
                                      {tr("Saturation"), halvora::intentSaturation},
                                      {tr("Relative colorimetric"), halvora::intentRelative},
                                      {tr("Absolute colorimetric"), halvora::intentAbsolute}});
}

QActionGroup* colorSettingsMenu::addGroup(const QString& title,
                                          const std::initializer_list<std::pair<QString, int>>& items) {
    addSection(title);
    auto* group = new QActionGroup(this);
    for (const auto& [label, value] : items) {
        QAction* action = addAction(label);
        action->setCheckable(true);
        action->setData(value);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, action] { emit chosen(action); });
    }
    return group;
}

QAction* colorSettingsMenu::byValue(const QActionGroup* group, int value) {
    for (QAction* action : group->actions())
        if (action->data().toInt() == value) return action;
    return nullptr;
}

int colorSettingsMenu::checkedValue(const QActionGroup* group, int fallback) {
    const QAction* checked = group->checkedAction();
    return checked ? checked->data().toInt() : fallback;
}

QAction* colorSettingsMenu::inputAction(int value) const {
    return byValue(input_, value);
}

QAction* colorSettingsMenu::monitorAction(int value) const {
    return byValue(monitor_, value);
}

QAction* colorSettingsMenu::intentAction(int value) const {
    return byValue(intent_, value);
}

void colorSettingsMenu::setFromOptions(const halvora::colorManagementOptions_t& options) {
    management_->setChecked(options.enabled);
    // Values the menu does not offer show as the choice they stand for.
    const int input = options.inputProfile >= 0 && options.inputProfile <= 4 ? options.inputProfile : 1;
    const int monitor = options.outputProfile >= 0 && options.outputProfile <= 4 ? options.outputProfile : 1;
    inputAction(input)->setChecked(true);
    monitorAction(monitor)->setChecked(true);
    intentAction(halvora::renderingIntentOf(options.intent))->setChecked(true);
    for (QActionGroup* group : {input_, monitor_, intent_})
        for (QAction* action : group->actions())
            action->setEnabled(options.enabled);
}

halvora::colorManagementOptions_t
colorSettingsMenu::checkedOptions(const halvora::colorManagementOptions_t& base) const {
    halvora::colorManagementOptions_t o = base;
    o.enabled = management_->isChecked();
    o.inputProfile = checkedValue(input_, 1);
    o.outputProfile = checkedValue(monitor_, 1);
    o.intent = checkedValue(intent_, halvora::intentPerceptual);
    return o;
}
