#pragma once

#include <chrono>
#include <optional>
#include <string>

class Deck;
class ErrorSink;
class QListWidget;
class WindowRefresh;
struct SharedState;

// Walking the playlist: ">>", "<<", ">", "<", the double-click that loads either deck, the
// next-file step of the tick, a chosen entry played on either deck, and the joystick's two
// button actions. UI thread only.
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

    // Makes entry `trackNumber` (1-based) deck 1's current one and plays it, as the next-file
    // step does for the next entry.
    void playEntryOnDeck1(int trackNumber);
    // What a paused deck 2 does when an entry is sent to it.
    enum class PausedDeck2 {
        Kept,      // left as it is: a double-click's turn passes it by
        Replaced,  // stopped and loaded: the user named deck 2 on purpose
    };
    // Loads entry `trackNumber` (1-based) into deck 2 and plays it, without crossfade; deck 1's
    // entry, TrackNumber and the selection stay. A deck 2 that took it is started by its "Play"
    // with it again, and the next double-click goes to deck 1.
    void loadEntryIntoDeck2(int trackNumber, PausedDeck2 whenPaused);
    // What the next-file step would give deck 1 now; "" with an empty playlist.
    std::string nextFilePath() const;

    // Joystick button 1: on to the next entry while playing, or start the current one.
    void joystickNextAction();
    // Joystick button 2: back one entry while stopped, or stop while playing.
    void joystickPreviousAction();

    // ">>", "<<" or the joystick's next still trying entries: the tick goes on with it, a few
    // entries at a time, so that the window never waits for a pass over the playlist.
    bool skipping() const { return pendingSkip.has_value(); }
    void continueSkip();

    // The one line said when a whole pass over the playlist found nothing that starts.
    static constexpr const char* kNothingPlayable =
        "No entry of the playlist could be played; playback stopped";

private:
    // Makes entry `trackNumber` the current one: CurrentFile, selection, deck 1's file.
    void loadEntryIntoDeck1(int trackNumber);
    // ">>" and "<<": on from the current entry in one direction to the first that starts.
    void skip(int (*step)(int trackNumber, int trackCount));
    // Plays the entry the skip set; judged at once when the deck knows, else at a later tick.
    void startSkippedEntry();
    // Whether the entry the skip started plays; nullopt while its open has not answered.
    std::optional<bool> skippedEntryStarted() const;
    std::string entry(int index) const;
    // Where a step back starts: a current entry whose file left the folder (no longer listed)
    // stands in a gap, TrackNumber on the entry before it, so a step back starts from the gap's
    // far side and lands on that entry.
    int backFrom() const;

    // A skip under way. Each entry is set without the deck waiting for its open, and judged
    // once it answers: a local file within a tick, a slow disk over as many as it takes.
    struct Skip {
        int (*step)(int trackNumber, int trackCount) = nullptr;
        int tried = 0;               // entries set so far
        int track = 0;               // the entry set last
        std::string file;            // its name, to see whether another command took over
        bool played = false;         // play() was given for it
        bool playedOpening = false;  // ... before its open had answered
    };
    std::optional<Skip> pendingSkip;

    QListWidget* List4;
    SharedState& state;
    Deck& MediaPlayer1;
    Deck& MediaPlayer2;
    WindowRefresh& refresh;
    ErrorSink& errors;
};
