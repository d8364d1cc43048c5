#include "playback/resume_start.h"

#include <sys/stat.h>

#include <cstring>

#include "components/deck.h"
#include "components/error_sink.h"
#include "playback/deck_placing.h"
#include "playback/playlist_building.h"
#include "playback/window_refresh.h"
#include "shared/shared_state.h"

ResumeStart::ResumeStart(SharedState& state, Deck& deck1, Deck& deck2, PlaylistBuilding& building,
                         PathLookup& deck1Lookup, WindowRefresh& refresh, ErrorSink& errors)
    : state(state),
      MediaPlayer1(deck1),
      MediaPlayer2(deck2),
      building(building),
      deck1Lookup(deck1Lookup),
      refresh(refresh),
      errors(errors),
      deck2Lookup(errors) {}

namespace {

// Why `path` cannot come back, "" when it can.
std::string whyNotAFile(const std::string& path, const PathLookup::Finding& found) {
    if (found.lookError != 0) return path + ": " + std::strerror(found.lookError);
    if (!S_ISREG(found.mode)) return path + ": not a file";
    return {};
}

}  // namespace

void ResumeStart::begin(const ResumePoint& point, ResumeAs as) {
    resumed = point;
    // A deck the user had paused or stopped stays so: playing on is for what was heard.
    const ResumeAs deck1As = point.deck1Played ? as : ResumeAs::Paused;
    if (!point.deck1File.empty()) {
        resumeDeck1File(point, deck1As);
    } else if (!point.deck1Entry.empty() && !point.deck1Folder.empty()) {
        deck1Request = deck1Lookup.request(
            {"", point.deck1Folder}, [this, point, deck1As](PathLookup::Finding&& found) {
                if (!found.listError.empty()) {
                    errors.report("Deck 1 not resumed: " + found.listError);
                    return;
                }
                building.resumeListedDir(point.deck1Folder, std::move(found.names), "",
                                         point.deck1Entry, point.deck1Position, deck1As);
            });
    }
    if (!point.deck2File.empty()) resumeDeck2(point, as);
}

void ResumeStart::resumeDeck1File(const ResumePoint& point, ResumeAs as) {
    deck1Request =
        deck1Lookup.request({point.deck1File, ""}, [this, point, as](PathLookup::Finding&& found) {
            if (const std::string why = whyNotAFile(point.deck1File, found); !why.empty()) {
                errors.report("Deck 1 not resumed: " + why);
                return;
            }
            state.CurrentFile = point.deck1File;
            placeDeck(MediaPlayer1, point.deck1File, point.deck1Position, as);
            state.playerState = stateWordOf(MediaPlayer1.playState());
            refresh.UpdateForm1Once();
        });
}

void ResumeStart::resumeDeck2(const ResumePoint& point, ResumeAs as) {
    deck2Request =
        deck2Lookup.request({point.deck2File, ""}, [this, point, as](PathLookup::Finding&& found) {
            if (const std::string why = whyNotAFile(point.deck2File, found); !why.empty()) {
                errors.report("Deck 2 not resumed: " + why);
                return;
            }
            // The user loaded deck 2 while its disk was slow to answer: that stands.
            if (!MediaPlayer2.fileName().empty()) return;
            state.Deck2File = point.deck2File;
            placeDeck(MediaPlayer2, point.deck2File, point.deck2Position, as);
            // The one transport word is deck 1's; deck 2 sets it only where deck 1 has nothing,
            // as its own buttons would.
            if (!point.deck1Held()) state.playerState = stateWordOf(MediaPlayer2.playState());
            refresh.UpdateForm1Once();
        });
}

ResumePoint ResumeStart::pointToKeep(const std::string& deck1Path,
                                     const std::string& deck2Path) const {
    ResumePoint now;
    if (deck1Lookup.awaits(deck1Request)) {
        now.deck1Folder = resumed.deck1Folder;
        now.deck1Entry = resumed.deck1Entry;
        now.deck1File = resumed.deck1File;
        now.deck1Position = resumed.deck1Position;
        now.deck1Played = resumed.deck1Played;
    } else if (!deck1Path.empty()) {
        // "Play File" and a file from outside name deck 1's file in full; a playlist's entry is
        // a bare name (a double-click into deck 2 names that one, so the deck's path decides).
        const std::string& dir = state.PlaylistDir;
        const bool inPlaylist = !state.CurrentFile.empty() && state.CurrentFile.front() != '/' &&
                                state.TrackCount > 0 && !dir.empty() &&
                                deck1Path.size() > dir.size() && deck1Path.starts_with(dir) &&
                                deck1Path.find('/', dir.size()) == std::string::npos;
        if (inPlaylist) {
            now.deck1Folder = dir;
            now.deck1Entry = deck1Path.substr(dir.size());
        } else {
            now.deck1File = deck1Path;
        }
        now.deck1Position = MediaPlayer1.currentPosition();
        now.deck1Played = MediaPlayer1.playState() == Deck::Playing;
    }
    if (deck2Lookup.awaits(deck2Request)) {
        now.deck2File = resumed.deck2File;
        now.deck2Position = resumed.deck2Position;
    } else if (!deck2Path.empty()) {
        now.deck2File = deck2Path;
        now.deck2Position = MediaPlayer2.currentPosition();
    }
    return now;
}
