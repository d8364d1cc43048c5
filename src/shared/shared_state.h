#pragma once

#include <cstdint>
#include <string>

// The one transport word of the whole player, shared by both decks.
enum class PlayerState { Pstart, Stopped, Playing, Paused };

// State several handlers share; lives as long as the window, touched on the UI thread only.
struct SharedState {
    // The transport word. Moved only by what the user or the playlist does to deck 1: start-up
    // (Pstart, then Stopped), its buttons and deck 2's "Play" (deck1_transport, pause_toggle,
    // deck2_transport), "Play Dir" and the playlist's steps (playlist_building,
    // playlist_navigation) and the watch when deck 1 stops by itself (playback_watch). Every
    // other reader (window refresh, tick, MPRIS through the remote control) only reads it.
    PlayerState playerState = PlayerState::Pstart;
    std::string CurrentFile;  // deck 1's entry: bare playlist name, or a full path
    int NextDeck = 2;         // deck the next double-click loads
    // 1-based position in the playlist; 0 before any "Play Dir". While the current entry's
    // file has left its folder, the number of entries before its place: the next step lands
    // on the entry that followed it.
    int TrackNumber = 0;
    int TrackCount = 0;
    std::string PlaylistDir;  // ends with '/', "" before the first "Play Dir"
    std::string DataPath;     // where the "Play Dir" dialog opens
    std::string Deck2File;    // the entry last double-clicked or sent to deck 2
    int32_t MasterVolumeDevice = 0;
    int32_t WaveOutputDevice = 0;
    int32_t BassDevice = 0;
    int32_t TrebleDevice = 0;
    int32_t MixerLevel = 0;
    bool AlreadyActivated = false;
};

// A playlist entry as a deck must be given it: joined to the playlist's directory, so that it
// does not depend on the process's current directory. Full paths pass unchanged.
std::string deckPathOf(const SharedState& state, const std::string& entry);
