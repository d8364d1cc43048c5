#pragma once

#include <QObject>
#include <cstdint>
#include <string>

#include "shared/shared_state.h"

class Deck;
class Deck1Transport;
class MixerSliders;
class ObservedDeck;
class PathOpening;
class PlaylistNavigation;
class QScrollBar;
class QWidget;

// The player as a remote control on the desktop drives and shows it: each command runs the
// window's own handler, and `changed` is emitted once for each change of what a remote
// shows. UI thread only.
class RemoteControl : public QObject {
    Q_OBJECT
public:
    enum class Status { Stopped, Playing, Paused };

    struct Parts {
        QWidget* window;
        QScrollBar* VScroll5;  // deck 1's volume bar
        SharedState& state;
        ObservedDeck& deck1;
        Deck& deck2;
        Deck1Transport& transport;
        PlaylistNavigation& navigation;
        PathOpening& opening;
        MixerSliders& sliders;
    };
    explicit RemoteControl(Parts parts);

    // Each acts on deck 1 alone, as its buttons would with the shared state word saying what
    // deck 1 does (deck 2's buttons set that word too).
    void play();                  // "II" while paused, deck 1's "Play" while stopped
    void pause();                 // "II" while playing
    void playPause();             // "II" while playing or paused, else "Play"
    void stop();                  // deck 1's "Stop"
    void next();                  // ">>"
    void previous();              // "<<"
    void seekTo(double seconds);  // deck 1, clamped as its step buttons clamp
    // A folder or an .mp3 file: "Play Dir" or "Play File" on it; else an error line. What a
    // disk that is slow to answer brings is shown by the next check.
    void openPath(const std::string& path);
    // 0 (silent) to 1 (full): deck 1's bar moved to that height as if dragged there.
    void setVolume(double volume);
    void raise();
    void quit();  // closes the window the normal way, so the settings are saved

    Status status() const;
    // Deck 1's file as a full path, "" for none; the serial changes with every file it is
    // given, even the same one again.
    const std::string& trackPath() const;
    std::uint64_t trackSerial() const;
    double trackLength() const;  // seconds
    double position() const;     // seconds
    double volume() const;       // 0..1, from deck 1's bar
    bool hasPlaylist() const;    // ">>" and "<<" act
    bool canPlay() const;
    bool canPause() const;
    bool canSeek() const;
    bool anyDeckPlaying() const;

    // Emits `changed` when anything a remote shows differs from the last check. Cheap enough
    // for every handler and tick: a few numbers compared, no I/O.
    void checkForChange();

signals:
    void changed();
    void seeked();  // deck 1 moved by a seek or a 10-second step

private:
    void alignWordWithDeck1();

    struct Snapshot {
        PlayerState playerState;
        int deck1State;
        int deck2State;
        std::uint64_t loads;
        double length;
        bool playlist;
        bool current;
        int bar;
        bool operator==(const Snapshot&) const = default;
    };
    Snapshot snapshot() const;

    Parts parts;
    Snapshot last;
};
