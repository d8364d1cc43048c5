#pragma once

#include <functional>

#include "components/deck.h"

class QMenu;

// The part of a deck's menu that sets its loudness levelling: under a title of its own, "Off"
// (each file at its own level), "Track" and "Album", the deck's current mode checked.
class LevellingMenuSection {
public:
    // `choose` gets the mode picked.
    LevellingMenuSection(const Deck& deck, std::function<void(Deck::Levelling)> choose);

    void addTo(QMenu& menu);

private:
    const Deck& deck;
    std::function<void(Deck::Levelling)> choose;
};
