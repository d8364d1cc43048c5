#pragma once

class Deck;
class WindowRefresh;
struct SharedState;

// Deck 1's "Play", "Stop" and "II".
class Deck1Transport {
public:
    Deck1Transport(SharedState& state, Deck& deck1, Deck& deck2, WindowRefresh& refresh);

    void Command1_Click();  // "Play"
    void Command3_Click();  // "Stop"
    void Command4_Click();  // "II"

private:
    SharedState& state;
    Deck& MediaPlayer1;
    Deck& MediaPlayer2;
    WindowRefresh& refresh;
};
