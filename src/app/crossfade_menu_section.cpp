#include "app/crossfade_menu_section.h"

#include "app/crossfade_settings.h"
#include "app/menu_choices.h"
#include "components/deck.h"

CrossfadeMenuSection::CrossfadeMenuSection(const Deck& deck, std::function<void(double)> choose)
    : deck(deck), choose(std::move(choose)) {}

void CrossfadeMenuSection::addTo(QMenu& menu) {
    std::vector<std::pair<QString, double>> items{{QStringLiteral("Off (gapless)"), 0.0}};
    for (double seconds : CrossfadeSettings::kOffered)
        items.emplace_back(QStringLiteral("%1 s").arg(seconds), seconds);
    addMenuChoices<double>(menu, QStringLiteral("Crossfade"), items, deck.crossfade(),
                           [this](double seconds) { choose(seconds); });
}
