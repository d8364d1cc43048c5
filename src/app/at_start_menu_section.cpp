#include "app/at_start_menu_section.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

#include "app/resume_settings.h"

void AtStartMenuSection::addTo(QMenu& menu) {
    menu.addSeparator();
    // A disabled item for the title, read as the levelling section's is.
    menu.addAction(QStringLiteral("At start"))->setEnabled(false);
    const AtStart now = settings.atStart();
    auto* group = new QActionGroup(&menu);
    group->setExclusive(true);
    const std::pair<QString, AtStart> items[] = {
        {QStringLiteral("Fresh"), AtStart::Fresh},
        {QStringLiteral("Resume paused"), AtStart::ResumePaused},
        {QStringLiteral("Resume playing"), AtStart::ResumePlaying},
    };
    for (const auto& [text, mode] : items) {
        QAction* action = menu.addAction(text);
        action->setCheckable(true);
        action->setChecked(mode == now);
        group->addAction(action);
        QObject::connect(action, &QAction::triggered, &menu,
                         [this, mode = mode] { settings.choose(mode); });
    }
}
