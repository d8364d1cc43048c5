#pragma once

#include <QObject>
#include <QPointer>
#include <optional>
#include <string>
#include <vector>

#include "app/at_start_menu_section.h"
#include "app/crossfade_menu_section.h"
#include "app/levelling_menu_section.h"
#include "app/output_menu_section.h"

class CrossfadeSettings;
class Deck;
class LevellingSettings;
class OutputSettings;
class QMenu;
class QPoint;
class QWidget;
class ResumeSettings;

// A deck's own menu, opened on any part of that deck in the window: by the right mouse button,
// and by the Menu key or Shift+F10 on its focused control. Built afresh at each opening, so it
// shows the outputs as they are, and the deck's loudness levelling; a choice goes to the deck at
// once and to the settings writer. It pops up without a loop of its own, so the tick goes on. UI
// thread only.
class DeckMenu : public QObject {
public:
    struct Parts {
        int deckNumber;  // 1 or 2
        std::vector<QWidget*> area;
        Deck& deck;
        OutputSettings& settings;
        LevellingSettings& levellingSettings;
        CrossfadeSettings* crossfadeSettings = nullptr;  // deck 1's automatic advance only
        ResumeSettings* resumeSettings = nullptr;        // deck 1's only: how the player starts
    };
    explicit DeckMenu(Parts parts);
    ~DeckMenu() override;

    // Nothing happens while the menu is open already.
    void open(const QPoint& globalPos);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void choose(const std::string& name);
    void chooseLevelling(Deck::Levelling mode);
    void chooseCrossfade(double seconds);

    Parts parts;
    OutputMenuSection outputs;
    LevellingMenuSection levelling;
    CrossfadeMenuSection crossfade;
    std::optional<AtStartMenuSection> atStart;
    QPointer<QMenu> menu;
};
