#include "playback/deck2_transport.h"

#include "components/deck.h"
#include "playback/pause_toggle.h"
#include "playback/window_refresh.h"
#include "shared/shared_state.h"

Deck2Transport::Deck2Transport(SharedState& state, Deck& deck1, Deck& deck2, WindowRefresh& refresh)
    : state(state), MediaPlayer1(deck1), MediaPlayer2(deck2), refresh(refresh) {}

void Deck2Transport::Command13_Click() {
    if (state.Deck2File.empty()) return;
    MediaPlayer2.setFileName(deckPathOf(state, state.Deck2File));
    MediaPlayer2.play();
    // The shared word: deck 1's watch may start the next entry on the next tick.
    state.playerState = PlayerState::Playing;
    state.NextDeck = 1;
    refresh.UpdateForm1Once();
}

void Deck2Transport::Command14_Click() {
    MediaPlayer2.stop();
    if (MediaPlayer1.playState() == Deck::Playing) state.NextDeck = 2;
}

void Deck2Transport::Command15_Click() {
    pauseOrResume(state, MediaPlayer2);
}
