#include "playback/playlist_building.h"

#include <QListWidget>
#include <algorithm>
#include <cstdlib>

#include "components/deck.h"
#include "components/error_sink.h"
#include "components/file_dialog.h"
#include "playback/deck_placing.h"
#include "playback/live_playlist.h"
#include "playback/music_listing.h"
#include "playback/playlist_items.h"
#include "playback/window_refresh.h"
#include "shared/module1.h"
#include "shared/shared_state.h"

PlaylistBuilding::PlaylistBuilding(QListWidget* List4, SharedState& state, Deck& deck1,
                                   FileDialog& playFileDialog, FileDialog& playDirDialog,
                                   WindowRefresh& refresh, PathLookup& lookup, LivePlaylist& live,
                                   ErrorSink& errors)
    : List4(List4),
      state(state),
      MediaPlayer1(deck1),
      CommonDialog1(playFileDialog),
      CommonDialog2(playDirDialog),
      refresh(refresh),
      lookup(lookup),
      live(live),
      errors(errors),
      dialogStartLookup(errors) {}

void PlaylistBuilding::Command6_Click() {
    CommonDialog2.setInitDir(dialogStart(state.DataPath));
    CommonDialog2.showOpen();  // ticks go on meanwhile; what they changed is overridden below
    const std::string chosen = CommonDialog2.fileName();
    if (chosen.empty()) return;
    playDir(chosen);
}

std::string PlaylistBuilding::dialogStart(const std::string& saved) {
    if (saved.empty()) return saved;
    bool answered = false;  // a missing directory answers too: the dialog copes with it
    dialogStartLookup.request({saved, ""}, [&answered](PathLookup::Finding&&) { answered = true; });
    if (answered) return saved;
    dialogStartLookup.supersede();  // its answer must not come once `answered` is gone
    const char* home = std::getenv("HOME");
    std::string start = home && *home == '/' ? home : "/";
    if (start.back() != '/') start += '/';
    errors.report("Cannot open the dialog at " + saved +
                  ": its disk does not answer; it opens at " + start);
    return start;
}

void PlaylistBuilding::playDir(const std::string& chosen) {
    std::string dir = chosen, name;
    Module1::SplitPathAndName(dir, name);
    lookup.request({"", dir}, [this, dir](PathLookup::Finding&& found) {
        playListedDir(dir, std::move(found.names), found.listError);
    });
}

bool PlaylistBuilding::takeListing(const std::string& dir, std::vector<std::string>& names,
                                   const std::string& error) {
    state.PlaylistDir = dir;
    state.DataPath = dir;
    if (error.empty())
        live.follow(dir);  // its first listing comes from the event loop, after this
    else
        live.stop();
    if (!names.empty()) return true;
    // Nothing to start: deck 1 keeps what it plays, the playlist is empty.
    fillPlaylist(List4, names);
    state.TrackNumber = 0;
    state.TrackCount = 0;
    state.CurrentFile.clear();
    errors.report(error.empty() ? "No MP3 file in " + state.PlaylistDir : error);
    return false;
}

void PlaylistBuilding::playListedDir(const std::string& dir, std::vector<std::string> names,
                                     const std::string& error) {
    if (!takeListing(dir, names, error)) return;
    state.TrackNumber = 1;
    state.TrackCount = int(names.size());
    state.CurrentFile = names[naturalFirst(names)];
    MediaPlayer1.setFileName(state.PlaylistDir + state.CurrentFile);
    refresh.UpdateForm1Once();
    MediaPlayer1.play();
    refresh.showDeck1State();
    state.playerState = PlayerState::Playing;
    // Sorted and filled once the first entry sounds: on a big directory these cost more than
    // the rest, and nothing shows the list before this handler returns.
    sortNaturally(names);
    fillPlaylist(List4, names);
    List4->setCurrentRow(0);
}

void PlaylistBuilding::resumeListedDir(const std::string& dir, std::vector<std::string> names,
                                       const std::string& error, const std::string& entry,
                                       double position, ResumeAs as) {
    if (!takeListing(dir, names, error)) return;
    sortNaturally(names);
    fillPlaylist(List4, names);
    state.TrackCount = int(names.size());
    const auto found = std::find(names.begin(), names.end(), entry);
    if (found == names.end()) {
        errors.report("Cannot resume deck 1 at " + dir + entry + ": it is no longer there");
        state.TrackNumber = 1;
        state.CurrentFile = names.front();
        List4->setCurrentRow(0);
        state.playerState = PlayerState::Stopped;
        refresh.UpdateForm1Once();
        return;
    }
    state.TrackNumber = int(found - names.begin()) + 1;
    state.CurrentFile = entry;
    List4->setCurrentRow(state.TrackNumber - 1);
    placeDeck(MediaPlayer1, dir + entry, position, as);
    // From the deck: a file that would not open leaves it stopped, whatever was asked.
    state.playerState = stateWordOf(MediaPlayer1.playState());
    refresh.UpdateForm1Once();
}

void PlaylistBuilding::Command2_Click() {
    CommonDialog1.showOpen();
    playFile(CommonDialog1.fileName());
}

void PlaylistBuilding::playFile(const std::string& chosen) {
    state.CurrentFile = chosen;
    if (state.CurrentFile.empty()) return;
    lookup.supersede();  // a folder still being listed must not replace this file
    live.stop();
    MediaPlayer1.setFileName(state.CurrentFile);
    MediaPlayer1.play();
    refresh.UpdateForm1Once();
}
