#include "app/levelling_menu_section.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

LevellingMenuSection::LevellingMenuSection(const Deck& deck,
                                           std::function<void(Deck::Levelling)> choose)
    : deck(deck), choose(std::move(choose)) {}

void LevellingMenuSection::addTo(QMenu& menu) {
    menu.addSeparator();
    // A plain disabled item rather than a section header: some styles draw no header text,
    // and a screen reader reads this one as it reads the rest.
    menu.addAction(QStringLiteral("Loudness levelling"))->setEnabled(false);
    const Deck::Levelling current = deck.levelling();
    auto* group = new QActionGroup(&menu);
    group->setExclusive(true);
    const std::pair<QString, Deck::Levelling> items[] = {
        {QStringLiteral("Off"), Deck::Levelling::Off},
        {QStringLiteral("Track"), Deck::Levelling::Track},
        {QStringLiteral("Album"), Deck::Levelling::Album},
    };
    for (const auto& [text, mode] : items) {
        QAction* action = menu.addAction(text);
        action->setCheckable(true);
        action->setChecked(mode == current);
        group->addAction(action);
        QObject::connect(action, &QAction::triggered, &menu, [this, mode = mode] { choose(mode); });
    }
}
