#include "playback/playlist_merge.h"

#include <algorithm>

#include "playback/music_listing.h"

namespace {

std::string renamed(std::string name, const std::vector<FolderRename>& renames) {
    for (const FolderRename& rename : renames)
        if (rename.from == name) name = rename.to;
    return name;
}

int rowOf(const std::vector<std::string>& entries, const std::string& name) {
    const auto found = std::find(entries.begin(), entries.end(), name);
    return found == entries.end() ? -1 : int(found - entries.begin());
}

// Where the file once named `name` is listed now: under its last new name, or under the old
// one when another file has taken it since; -1 when neither is listed.
int rowOfFile(const std::vector<std::string>& entries, const std::string& name,
              const std::vector<FolderRename>& renames, std::string& listedAs) {
    listedAs = renamed(name, renames);
    int row = rowOf(entries, listedAs);
    if (row < 0 && listedAs != name) {
        listedAs = name;
        row = rowOf(entries, name);
    }
    return row;
}

}  // namespace

PlaylistPlace mergeListing(const PlaylistPlace& before, std::vector<std::string> listing,
                           const std::vector<FolderRename>& renames) {
    PlaylistPlace after;
    after.entries = std::move(listing);
    const int count = int(after.entries.size());
    after.currentFile = before.currentFile;
    if (before.currentFile.empty()) {
        // No entry has been current (a folder that was empty): the next step starts the first.
        after.trackNumber = std::min(before.trackNumber, count);
    } else {
        std::string listedAs;
        const int row = rowOfFile(after.entries, before.currentFile, renames, listedAs);
        if (row >= 0) {
            after.currentFile = listedAs;
            after.trackNumber = row + 1;
        } else {
            after.trackNumber = int(naturalPlace(after.entries, before.currentFile));
        }
    }
    if (before.selectedRow >= 0 && before.selectedRow < int(before.entries.size())) {
        std::string listedAs;
        after.selectedRow =
            rowOfFile(after.entries, before.entries[size_t(before.selectedRow)], renames, listedAs);
    }
    return after;
}
