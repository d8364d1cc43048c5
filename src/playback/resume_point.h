#pragma once

#include <string>

// How the player starts: as a fresh one, or back where both decks were when it last ended,
// paused there or playing on.
enum class AtStart { Fresh, ResumePaused, ResumePlaying };

// How a deck comes back at its place.
enum class ResumeAs { Paused, Playing };

// Where both decks were when the player ended. Deck 1 holds an entry of a playlist (a folder
// and a name in it), a single file, or nothing; deck 2 a file or nothing.
struct ResumePoint {
    std::string deck1Folder;   // ends with '/'; "" unless deck 1 played from a playlist
    std::string deck1Entry;    // the entry's name in that folder
    std::string deck1File;     // full path of a single file, without a playlist
    double deck1Position = 0;  // seconds
    bool deck1Played = false;  // deck 1 was playing, not paused or stopped
    std::string deck2File;     // full path; "" for an empty deck
    double deck2Position = 0;

    bool deck1Held() const { return !deck1File.empty() || !deck1Entry.empty(); }
    bool operator==(const ResumePoint&) const = default;
};
