#pragma once

#include <array>
#include <cstdint>

class Mixer;
class QLabel;
class QScrollBar;
class QTreeWidget;
struct SharedState;

// Widths of the mixer list's six columns for a list `width` wide, in the list's own units.
std::array<float, 6> mixerColumnWidths(float width);
// A mixer level 0..65535 as a volume bar position (0 = top = loudest), clamped to the bar.
int levelToBarPosition(int32_t level);

// Brings the window into its initial state before it is shown.
class Startup {
public:
    struct Controls {
        QTreeWidget* ListView1;
        QScrollBar* VScroll1;
        QScrollBar* VScroll2;
        QLabel* Label13;
        QLabel* Label12;
        QLabel* Label15;
        QLabel* Label10;
        QLabel* Label19;
    };
    Startup(Controls controls, SharedState& state, Mixer& mixer);

    void Form_Load();

private:
    Controls ui;
    SharedState& state;
    Mixer& BWMixer1;
};
