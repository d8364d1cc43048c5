#pragma once

#include <string>

class Deck;
class ErrorSink;
class QListWidget;
class WindowRefresh;
struct SharedState;

// Walking the playlist: ">>", "<<", ">", "<", the double-click that loads either deck, the
// next-file step of the tick, and the joystick's two button actions.
class PlaylistNavigation {
public:
    PlaylistNavigation(QListWidget* List4, SharedState& state, Deck& deck1, Deck& deck2,
                       WindowRefresh& refresh, ErrorSink& errors);

    void Command10_Click();  // ">>"
    void Command11_Click();  // "<<"
    void Command7_Click();   // ">"
    void Command5_Click();   // "<"
    void List4_DblClick();
    void PlayTheNextFile();
    // What the next-file step would give deck 1 now; "" with an empty playlist.
    std::string nextFilePath() const;

    // Joystick button 1: on to the next entry while playing, or start the current one.
    void joystickNextAction();
    // Joystick button 2: back one entry while stopped, or stop while playing.
    void joystickPreviousAction();

    // The one line said when a whole pass over the playlist found nothing that starts.
    static constexpr const char* kNothingPlayable =
        "No entry of the playlist could be played; playback stopped";

private:
    // Makes entry `trackNumber` the current one: CurrentFile, selection, deck 1's file.
    void loadEntryIntoDeck1(int trackNumber);
    // ">>" and "<<": on from the current entry in one direction to the first that starts.
    void skip(int (*step)(int trackNumber, int trackCount));
    std::string entry(int index) const;

    QListWidget* List4;
    SharedState& state;
    Deck& MediaPlayer1;
    Deck& MediaPlayer2;
    WindowRefresh& refresh;
    ErrorSink& errors;
};
