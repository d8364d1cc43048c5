#pragma once

#include <string>

class ErrorSink;
class PlaylistBuilding;

// A folder or file handed in from outside the window (the command line, a drop, another
// start of the program) runs "Play Dir" or "Play File" on it, as if chosen in the dialog.
class PathOpening {
public:
    PathOpening(PlaylistBuilding& building, ErrorSink& errors);

    // `path` is bytes as the file system has them; a relative one is taken from the
    // process's current directory. Anything but a folder or an .mp3 file is reported.
    // True when "Play Dir" or "Play File" ran.
    bool open(const std::string& path);

private:
    PlaylistBuilding& building;
    ErrorSink& errors;
};
