#pragma once

#include <cstdint>
#include <string>

#include "playback/path_lookup.h"
#include "playback/resume_point.h"

class Deck;
class ErrorSink;
class PlaylistBuilding;
class WindowRefresh;
struct SharedState;

// Puts both decks back where the player last left them, once at start. Deck 1's folder or file
// is looked at off the window's thread through the lookup that "Play Dir" and paths from
// outside use, so that any of those asked meanwhile supersedes it; deck 2's through a lookup of
// its own. What is gone is reported, a line each; the rest comes back. UI thread only.
class ResumeStart {
public:
    ResumeStart(SharedState& state, Deck& deck1, Deck& deck2, PlaylistBuilding& building,
                PathLookup& deck1Lookup, WindowRefresh& refresh, ErrorSink& errors);

    // Deck 1 plays on only where it played when the player ended; deck 2 comes back as asked.
    void begin(const ResumePoint& point, ResumeAs as);

    // Where the decks are now, each holding the full path it was given last ("" for none); a
    // deck whose resume is still under way keeps the point it is to come back to, so that an
    // end before its disk answers loses nothing.
    ResumePoint pointToKeep(const std::string& deck1Path, const std::string& deck2Path) const;

private:
    void resumeDeck1File(const ResumePoint& point, ResumeAs as);
    void resumeDeck2(const ResumePoint& point, ResumeAs as);

    SharedState& state;
    Deck& MediaPlayer1;
    Deck& MediaPlayer2;
    PlaylistBuilding& building;
    PathLookup& deck1Lookup;
    WindowRefresh& refresh;
    ErrorSink& errors;
    PathLookup deck2Lookup;
    ResumePoint resumed;
    std::uint64_t deck1Request = 0;
    std::uint64_t deck2Request = 0;
};
