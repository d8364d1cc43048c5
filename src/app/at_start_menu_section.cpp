#include "app/at_start_menu_section.h"

#include "app/menu_choices.h"
#include "app/resume_settings.h"

void AtStartMenuSection::addTo(QMenu& menu) {
    addMenuChoices<AtStart>(menu, QStringLiteral("At start"),
                            {{QStringLiteral("Fresh"), AtStart::Fresh},
                             {QStringLiteral("Resume paused"), AtStart::ResumePaused},
                             {QStringLiteral("Resume playing"), AtStart::ResumePlaying}},
                            settings.atStart(), [this](AtStart mode) { settings.choose(mode); });
}
