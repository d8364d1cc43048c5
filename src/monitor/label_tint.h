#pragma once

#include <climits>

class PaintPacer;
class QLabel;
class QScrollBar;

// Colour values (red in the lowest byte) for a deck's labels at volume bar position v.
unsigned timeLabelTint(int v);
unsigned fileNameLabelTint(int v);

// The louder a deck, the brighter the red of its time and file-name labels.
class LabelTint {
public:
    struct Controls {
        QScrollBar* VScroll5;
        QScrollBar* VScroll6;
        QLabel* Label15;
        QLabel* Label10;
        QLabel* Label2;
        QLabel* Label11;
    };
    LabelTint(Controls controls, PaintPacer& pacer);

    // Colours a deck's labels anew only when its bar moved.
    void refresh();

private:
    Controls ui;
    PaintPacer& pacer;
    int shownDeck1 = INT_MIN;  // the bar positions the colours show
    int shownDeck2 = INT_MIN;
};
