#pragma once

#include <string>
#include <vector>

// A file of the folder renamed within it: one name gone, the other come, the same file.
struct FolderRename {
    std::string from, to;
    bool operator==(const FolderRename&) const = default;
};

// Deck 1's place in its playlist. The current entry is `currentFile`, at `trackNumber` - 1.
// A current entry whose file has left the folder is no longer listed: `currentFile` keeps its
// name (it still plays, and is what the window's title says) and `trackNumber` counts the
// entries before its place, so that the next step lands on the entry that followed it.
struct PlaylistPlace {
    std::vector<std::string> entries;  // bare names, in the playlist's order
    int trackNumber = 0;
    std::string currentFile;
    int selectedRow = -1;  // -1: none
    bool operator==(const PlaylistPlace&) const = default;
};

// The playlist once its folder lists `listing` (in the playlist's order) after `renames` (in the
// order they happened): the current entry and the selection stay on their files, renamed or
// not; a selected entry whose file went leaves no selection.
PlaylistPlace mergeListing(const PlaylistPlace& before, std::vector<std::string> listing,
                           const std::vector<FolderRename>& renames);
