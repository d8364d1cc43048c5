#include "playback/deck1_transport.h"

#include "components/deck.h"
#include "playback/pause_toggle.h"
#include "playback/window_refresh.h"
#include "shared/shared_state.h"

Deck1Transport::Deck1Transport(SharedState& state, Deck& deck1, Deck& deck2, WindowRefresh& refresh)
    : state(state), MediaPlayer1(deck1), MediaPlayer2(deck2), refresh(refresh) {}

void Deck1Transport::Command1_Click() {
    if (state.playerState == PlayerState::Playing || state.CurrentFile.empty()) return;
    MediaPlayer1.setFileName(deckPathOf(state, state.CurrentFile));
    MediaPlayer1.play();
    state.playerState = PlayerState::Playing;
    state.NextDeck = 2;
    refresh.UpdateForm1Once();
}

void Deck1Transport::Command3_Click() {
    MediaPlayer1.stop();
    state.playerState = PlayerState::Stopped;
    if (MediaPlayer2.playState() == Deck::Playing) state.NextDeck = 1;
    refresh.UpdateForm1Once();
}

void Deck1Transport::Command4_Click() {
    pauseOrResume(state, MediaPlayer1);
}
