#pragma once

class Deck;
class WindowRefresh;
struct SharedState;

// Deck 2's "Play", "Stop" and "II"; they share the player's one transport word.
class Deck2Transport {
public:
    Deck2Transport(SharedState& state, Deck& deck1, Deck& deck2, WindowRefresh& refresh);

    void Command13_Click();  // "Play"
    void Command14_Click();  // "Stop"
    void Command15_Click();  // "II"

private:
    SharedState& state;
    Deck& MediaPlayer1;
    Deck& MediaPlayer2;
    WindowRefresh& refresh;
};
