#pragma once

#include <cstdint>

class Deck;
class PaintPacer;
class QLabel;
class QSlider;

// One deck's progress slider, percentage and elapsed time, written only when they change.
class TimeDisplay {
public:
    struct Controls {
        QSlider* slider;
        QLabel* percentLabel;
        QLabel* timeLabel;
    };
    TimeDisplay(Controls controls, Deck& deck, PaintPacer& pacer);

    // The deck follows its output first; a deck with no known length keeps what its displays
    // showed.
    void refresh();

private:
    Controls ui;
    Deck& deck;
    PaintPacer& pacer;
    int shownPercent = -1;
    int64_t shownMilliseconds = -1;
};
