#pragma once

#include <string>

class Deck;
class ErrorSink;
class FileDialog;
class QListWidget;
class WindowRefresh;
struct SharedState;

// "Play Dir" builds the playlist from a directory and starts it; "Play File" plays one file.
class PlaylistBuilding {
public:
    PlaylistBuilding(QListWidget* List4, SharedState& state, Deck& deck1,
                     FileDialog& playFileDialog, FileDialog& playDirDialog, WindowRefresh& refresh,
                     ErrorSink& errors);

    void Command6_Click();  // "Play Dir"
    void Command2_Click();  // "Play File"

    // The two handlers after their dialog: `chosen` is any file in the directory (or the
    // directory itself, ending in '/'), or the file to play.
    void playDir(const std::string& chosen);
    void playFile(const std::string& chosen);

private:
    QListWidget* List4;
    SharedState& state;
    Deck& MediaPlayer1;
    FileDialog& CommonDialog1;
    FileDialog& CommonDialog2;
    WindowRefresh& refresh;
    ErrorSink& errors;
};
