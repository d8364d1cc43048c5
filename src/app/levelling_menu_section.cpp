#include "app/levelling_menu_section.h"

#include "app/menu_choices.h"

LevellingMenuSection::LevellingMenuSection(const Deck& deck,
                                           std::function<void(Deck::Levelling)> choose)
    : deck(deck), choose(std::move(choose)) {}

void LevellingMenuSection::addTo(QMenu& menu) {
    using L = Deck::Levelling;
    addMenuChoices<L>(menu, QStringLiteral("Loudness levelling"),
                      {{QStringLiteral("Off"), L::Off},
                       {QStringLiteral("Track"), L::Track},
                       {QStringLiteral("Album"), L::Album}},
                      deck.levelling(), [this](L mode) { choose(mode); });
}
