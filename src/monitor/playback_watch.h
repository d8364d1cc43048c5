#pragma once

class Deck;
class ErrorSink;
class PlaylistNavigation;
struct SharedState;

// Starts the next playlist entry once deck 1 has stopped while the player says "Playing".
class PlaybackWatch {
public:
    PlaybackWatch(SharedState& state, Deck& deck1, PlaylistNavigation& navigation,
                  ErrorSink& errors);

    void step();

private:
    SharedState& state;
    Deck& MediaPlayer1;
    PlaylistNavigation& navigation;
    ErrorSink& errors;
    int failedInARow = 0;  // entries the watch started that did not play
};
