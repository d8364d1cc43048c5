#include "playback/pause_toggle.h"

#include "components/deck.h"
#include "shared/shared_state.h"

void pauseOrResume(SharedState& state, Deck& deck) {
    if (state.playerState == PlayerState::Playing) {
        deck.pause();
        state.playerState = PlayerState::Paused;
    } else if (state.playerState == PlayerState::Paused) {
        deck.play();
        state.playerState = PlayerState::Playing;
    }
}
