#pragma once

#include <string>
#include <vector>

#include "playback/path_lookup.h"
#include "playback/resume_point.h"

class Deck;
class ErrorSink;
class FileDialog;
class LivePlaylist;
class QListWidget;
class WindowRefresh;
struct SharedState;

// "Play Dir" builds the playlist from a directory and starts it; "Play File" plays one file.
class PlaylistBuilding {
public:
    PlaylistBuilding(QListWidget* List4, SharedState& state, Deck& deck1,
                     FileDialog& playFileDialog, FileDialog& playDirDialog, WindowRefresh& refresh,
                     PathLookup& lookup, LivePlaylist& live, ErrorSink& errors);

    void Command6_Click();  // "Play Dir"
    void Command2_Click();  // "Play File"

    // The two handlers after their dialog: `chosen` is any file in the directory (or the
    // directory itself, ending in '/'), or the file to play. The directory is listed off the
    // window's thread: until it answers, the playlist and the decks stay as they were.
    void playDir(const std::string& chosen);
    void playFile(const std::string& chosen);
    // "Play Dir" once `dir` (ending in '/') has been listed: its MP3 `names`, in the order the
    // directory gave them, or none and why in `error`. A folder that could be read is followed
    // from then on, until another playlist or file takes deck 1.
    void playListedDir(const std::string& dir, std::vector<std::string> names,
                       const std::string& error);
    // Deck 1 back at `entry` of the listed `dir`: the playlist built as "Play Dir" builds it,
    // that entry selected, loaded and put at `position`. An entry that is gone is reported; the
    // playlist then stands with its first entry selected and deck 1 stopped.
    void resumeListedDir(const std::string& dir, std::vector<std::string> names,
                         const std::string& error, const std::string& entry, double position,
                         ResumeAs as);

private:
    // The listing becomes the playlist's folder; false, with the playlist emptied and the
    // cause reported, when it gave no MP3 file.
    bool takeListing(const std::string& dir, std::vector<std::string>& names,
                     const std::string& error);
    // Where the "Play Dir" dialog opens: the saved directory, or the home directory when the
    // saved one's disk does not answer (the dialog looks it up on the window's thread).
    std::string dialogStart(const std::string& saved);

    QListWidget* List4;
    SharedState& state;
    Deck& MediaPlayer1;
    FileDialog& CommonDialog1;
    FileDialog& CommonDialog2;
    WindowRefresh& refresh;
    PathLookup& lookup;
    LivePlaylist& live;
    ErrorSink& errors;
    PathLookup dialogStartLookup;
};
