#pragma once

#include <QTimer>
#include <optional>
#include <string>

#include "playback/folder_watch.h"

class Deck;
class ErrorSink;
class PlaylistNavigation;
class QListWidget;
class WindowRefresh;
struct SharedState;

// Keeps deck 1's playlist as its folder is now, while the playlist is one a folder gave: files
// added, removed or renamed there take their sorted places in List4, and the current entry, the
// selection and deck 1's place stay on their files (see PlaylistPlace for a current file that
// went). The view keeps its top entry in place.
class LivePlaylist {
public:
    LivePlaylist(QListWidget* List4, SharedState& state, Deck& deck1,
                 const PlaylistNavigation& navigation, WindowRefresh& refresh, ErrorSink& errors);

    // UI thread only. The playlist is now `dir`'s (ending in '/'): its changes are followed.
    void follow(const std::string& dir);
    // UI thread only. The playlist is no longer deck 1's: it is left as it stands.
    void stop();

    const FolderWatch& watch() const { return folderWatch; }

private:
    // UI thread only: a listing from the watch.
    void take(FolderWatch::Listing&& listing);
    // UI thread only.
    void apply(FolderWatch::Listing&& listing);

    QListWidget* List4;
    SharedState& state;
    Deck& MediaPlayer1;
    const PlaylistNavigation& navigation;
    WindowRefresh& refresh;
    FolderWatch folderWatch;
    // A listing that came while ">>" or "<<" was trying entries: applied once it is done.
    std::optional<FolderWatch::Listing> held;
    QTimer heldRetry;
};
