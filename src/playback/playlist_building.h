#pragma once

#include <string>
#include <vector>

class Deck;
class ErrorSink;
class FileDialog;
class PathLookup;
class QListWidget;
class WindowRefresh;
struct SharedState;

// "Play Dir" builds the playlist from a directory and starts it; "Play File" plays one file.
class PlaylistBuilding {
public:
    PlaylistBuilding(QListWidget* List4, SharedState& state, Deck& deck1,
                     FileDialog& playFileDialog, FileDialog& playDirDialog, WindowRefresh& refresh,
                     PathLookup& lookup, ErrorSink& errors);

    void Command6_Click();  // "Play Dir"
    void Command2_Click();  // "Play File"

    // The two handlers after their dialog: `chosen` is any file in the directory (or the
    // directory itself, ending in '/'), or the file to play. The directory is listed off the
    // window's thread: until it answers, the playlist and the decks stay as they were.
    void playDir(const std::string& chosen);
    void playFile(const std::string& chosen);
    // "Play Dir" once `dir` (ending in '/') has been listed: its MP3 `names`, in the order the
    // directory gave them, or none and why in `error`.
    void playListedDir(const std::string& dir, std::vector<std::string> names,
                       const std::string& error);

private:
    QListWidget* List4;
    SharedState& state;
    Deck& MediaPlayer1;
    FileDialog& CommonDialog1;
    FileDialog& CommonDialog2;
    WindowRefresh& refresh;
    PathLookup& lookup;
    ErrorSink& errors;
};
