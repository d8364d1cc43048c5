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
    // Near the end of a track the watch will follow with the next entry, deck 1 is told which
    // file that is, so that it can join it without a gap.
    void cueTheNextEntry();

    SharedState& state;
    Deck& MediaPlayer1;
    PlaylistNavigation& navigation;
    ErrorSink& errors;
    int failedInARow = 0;  // entries the watch started that did not play
};
