#pragma once

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QString>
#include <utility>
#include <vector>

// A section of a deck's menu: a title, then one checkable item per choice, `current` checked;
// `choose` gets the value picked. The title is a plain disabled item rather than a section
// header: some styles draw no header text, and a screen reader reads this one as the rest.
template <typename Value, typename Choose>
void addMenuChoices(QMenu& menu, const QString& title,
                    const std::vector<std::pair<QString, Value>>& items, const Value& current,
                    Choose choose) {
    menu.addSeparator();
    menu.addAction(title)->setEnabled(false);
    auto* group = new QActionGroup(&menu);
    group->setExclusive(true);
    for (const auto& [text, value] : items) {
        QAction* action = menu.addAction(text);
        action->setCheckable(true);
        action->setChecked(value == current);
        group->addAction(action);
        QObject::connect(action, &QAction::triggered, &menu,
                         [choose, value = value] { choose(value); });
    }
}
