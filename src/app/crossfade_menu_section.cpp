#include "app/crossfade_menu_section.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <vector>

#include "app/crossfade_settings.h"
#include "components/deck.h"

CrossfadeMenuSection::CrossfadeMenuSection(const Deck& deck, std::function<void(double)> choose)
    : deck(deck), choose(std::move(choose)) {}

void CrossfadeMenuSection::addTo(QMenu& menu) {
    menu.addSeparator();
    // A plain disabled item, as the levelling's title: every style shows it, and a screen
    // reader reads it.
    menu.addAction(QStringLiteral("Crossfade"))->setEnabled(false);
    const double current = deck.crossfade();
    auto* group = new QActionGroup(&menu);
    group->setExclusive(true);
    std::vector<std::pair<QString, double>> items{{QStringLiteral("Off (gapless)"), 0.0}};
    for (double seconds : CrossfadeSettings::kOffered)
        items.emplace_back(QStringLiteral("%1 s").arg(seconds), seconds);
    for (const auto& [text, seconds] : items) {
        QAction* action = menu.addAction(text);
        action->setCheckable(true);
        action->setChecked(seconds == current);
        group->addAction(action);
        QObject::connect(action, &QAction::triggered, &menu,
                         [this, seconds = seconds] { choose(seconds); });
    }
}
