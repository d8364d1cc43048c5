#pragma once

#include <functional>

class Deck;
class QMenu;

// The part of deck 1's menu that sets the crossfade of its automatic advance: under a title of
// its own, "Off (gapless)", "2 s", "4 s" and "8 s", the deck's current length checked.
class CrossfadeMenuSection {
public:
    // `choose` gets the seconds picked; 0 for the gapless join.
    CrossfadeMenuSection(const Deck& deck, std::function<void(double)> choose);

    void addTo(QMenu& menu);

private:
    const Deck& deck;
    std::function<void(double)> choose;
};
