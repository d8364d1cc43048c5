#include "playback/playlist_navigation.h"

#include <QListWidget>

#include "components/deck.h"
#include "components/error_sink.h"
#include "playback/playlist_items.h"
#include "playback/playlist_positions.h"
#include "playback/window_refresh.h"
#include "shared/shared_state.h"

PlaylistNavigation::PlaylistNavigation(QListWidget* List4, SharedState& state, Deck& deck1,
                                       Deck& deck2, WindowRefresh& refresh, ErrorSink& errors)
    : List4(List4),
      state(state),
      MediaPlayer1(deck1),
      MediaPlayer2(deck2),
      refresh(refresh),
      errors(errors) {}

std::string PlaylistNavigation::entry(int index) const {
    return playlistEntry(List4, index);
}

void PlaylistNavigation::loadEntryIntoDeck1(int trackNumber) {
    state.TrackNumber = trackNumber;
    state.CurrentFile = entry(trackNumber - 1);
    List4->setCurrentRow(trackNumber - 1);
    MediaPlayer1.setFileName(deckPathOf(state, state.CurrentFile));
}

void PlaylistNavigation::skip(int (*step)(int trackNumber, int trackCount)) {
    MediaPlayer1.stop();
    // An entry that fails to start has said why (the deck reports it); left there, the watch
    // would take it for a finished track and move the other way, forwards.
    int track = state.TrackNumber;
    for (int tried = 0; tried < state.TrackCount; ++tried) {
        track = step(track, state.TrackCount);
        loadEntryIntoDeck1(track);
        refresh.UpdateForm1Once();
        MediaPlayer1.play();
        refresh.showDeck1State();
        state.playerState = PlayerState::Playing;
        if (MediaPlayer1.playState() == Deck::Playing) return;
    }
    state.playerState = PlayerState::Stopped;
    errors.report(kNothingPlayable);
}

void PlaylistNavigation::Command10_Click() {
    if (state.CurrentFile.empty() || state.TrackCount == 0) return;
    skip(nextPosition);
}

void PlaylistNavigation::Command11_Click() {
    if (state.CurrentFile.empty() || state.TrackCount == 0) return;
    skip(previousPosition);
}

void PlaylistNavigation::Command7_Click() {
    MediaPlayer1.stepForward();
}

void PlaylistNavigation::Command5_Click() {
    MediaPlayer1.stepBack();
}

std::string PlaylistNavigation::nextFilePath() const {
    if (state.TrackCount == 0) return {};
    return deckPathOf(state, entry(nextPosition(state.TrackNumber, state.TrackCount) - 1));
}

void PlaylistNavigation::PlayTheNextFile() {
    if (state.TrackCount == 0) {
        state.playerState = PlayerState::Stopped;
        return;
    }
    loadEntryIntoDeck1(nextPosition(state.TrackNumber, state.TrackCount));
    refresh.UpdateForm1Once();
    MediaPlayer1.play();
    refresh.showDeck1State();
    state.playerState = PlayerState::Playing;
}

void PlaylistNavigation::List4_DblClick() {
    const int selected = List4->currentRow();
    if (selected < 0 || List4->currentItem() == nullptr || !List4->currentItem()->isSelected())
        return;
    const std::string chosen = entry(selected);
    state.CurrentFile = chosen;
    state.Deck2File = chosen;
    state.TrackNumber = selected + 1;

    if (state.NextDeck == 2) {
        // A paused deck 2 is left alone: its turn passes without loading anything.
        const int deck2State = MediaPlayer2.playState();
        if (deck2State == Deck::Playing || deck2State == Deck::Stopped) {
            if (deck2State == Deck::Playing) MediaPlayer2.stop();
            MediaPlayer2.setFileName(deckPathOf(state, state.Deck2File));
            MediaPlayer2.play();
            state.NextDeck = 1;
        }
    } else {
        MediaPlayer1.stop();
        MediaPlayer1.setFileName(deckPathOf(state, chosen));
        MediaPlayer1.play();
        state.NextDeck = 2;
    }
    refresh.UpdateForm1Once();
}

void PlaylistNavigation::joystickNextAction() {
    if (state.playerState == PlayerState::Playing && !state.CurrentFile.empty() &&
        state.TrackCount > 0) {
        skip(nextPosition);
        return;  // a pass that found nothing to play has stopped, and stays so
    }
    if (state.playerState != PlayerState::Playing && !state.CurrentFile.empty()) {
        MediaPlayer1.setFileName(deckPathOf(state, state.CurrentFile));
        MediaPlayer1.play();
        state.playerState = PlayerState::Playing;
    }
}

void PlaylistNavigation::joystickPreviousAction() {
    if (state.playerState == PlayerState::Stopped && !state.CurrentFile.empty() &&
        state.TrackCount > 0) {
        loadEntryIntoDeck1(previousPosition(state.TrackNumber, state.TrackCount));
        refresh.UpdateForm1Once();
    }
    if (state.playerState == PlayerState::Playing) {
        MediaPlayer1.stop();
        state.playerState = PlayerState::Stopped;
    }
}
