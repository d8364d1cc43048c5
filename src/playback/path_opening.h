#pragma once

#include <string>

class ErrorSink;
class PathLookup;
class PlaylistBuilding;

// A folder or file handed in from outside the window (the command line, a drop, another
// start of the program) runs "Play Dir" or "Play File" on it, as if chosen in the dialog.
class PathOpening {
public:
    PathOpening(PlaylistBuilding& building, PathLookup& lookup, ErrorSink& errors);

    // `path` is bytes as the file system has them; a relative one is taken from the
    // process's current directory. Anything but a folder or an .mp3 file is reported. The
    // path is looked at, and a folder listed, off the window's thread: until the disk
    // answers, the playlist and the decks stay as they were.
    void open(const std::string& path);

private:
    PlaylistBuilding& building;
    PathLookup& lookup;
    ErrorSink& errors;
};
