#include "playback/playlist_navigation.h"

#include <QListWidget>

#include "components/deck.h"
#include "playback/playlist_positions.h"
#include "playback/window_refresh.h"
#include "shared/shared_state.h"

PlaylistNavigation::PlaylistNavigation(QListWidget* List4, SharedState& state, Deck& deck1,
                                       Deck& deck2, WindowRefresh& refresh)
    : List4(List4), state(state), MediaPlayer1(deck1), MediaPlayer2(deck2), refresh(refresh) {}

std::string PlaylistNavigation::entry(int index) const {
    const QListWidgetItem* item = List4->item(index);
    return item ? item->text().toStdString() : std::string();
}

void PlaylistNavigation::loadEntryIntoDeck1(int trackNumber) {
    state.TrackNumber = trackNumber;
    state.CurrentFile = entry(trackNumber - 1);
    List4->setCurrentRow(trackNumber - 1);
    MediaPlayer1.setFileName(deckPathOf(state, state.CurrentFile));
}

void PlaylistNavigation::skipTo(int trackNumber) {
    MediaPlayer1.stop();
    loadEntryIntoDeck1(trackNumber);
    refresh.UpdateForm1Once();
    MediaPlayer1.play();
    state.playerState = PlayerState::Playing;
}

void PlaylistNavigation::Command10_Click() {
    if (state.CurrentFile.empty() || state.TrackCount == 0) return;
    skipTo(nextPosition(state.TrackNumber, state.TrackCount));
}

void PlaylistNavigation::Command11_Click() {
    if (state.CurrentFile.empty() || state.TrackCount == 0) return;
    skipTo(previousPosition(state.TrackNumber, state.TrackCount));
}

void PlaylistNavigation::Command7_Click() {
    MediaPlayer1.stepForward();
}

void PlaylistNavigation::Command5_Click() {
    MediaPlayer1.stepBack();
}

void PlaylistNavigation::PlayTheNextFile() {
    if (state.TrackCount == 0) {
        state.playerState = PlayerState::Stopped;
        return;
    }
    loadEntryIntoDeck1(nextPosition(state.TrackNumber, state.TrackCount));
    refresh.UpdateForm1Once();
    MediaPlayer1.play();
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
        state.TrackCount > 0)
        skipTo(nextPosition(state.TrackNumber, state.TrackCount));
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
