#include "monitor/playback_watch.h"

#include <algorithm>

#include "components/deck.h"
#include "components/error_sink.h"
#include "playback/playlist_navigation.h"
#include "shared/shared_state.h"

PlaybackWatch::PlaybackWatch(SharedState& state, Deck& deck1, PlaylistNavigation& navigation,
                             ErrorSink& errors)
    : state(state), MediaPlayer1(deck1), navigation(navigation), errors(errors) {}

namespace {
// Time enough to open the next file and decode its start before the last sample sounds.
constexpr double kCueSeconds = 3.0;
}  // namespace

void PlaybackWatch::step() {
    if (navigation.skipping()) {  // ">>" or "<<" goes on past entries that do not start
        failedInARow = 0;
        navigation.continueSkip();
        return;
    }
    if (MediaPlayer1.playState() == Deck::Playing) {
        failedInARow = 0;
        cueTheNextEntry();
        return;
    }
    if (state.playerState != PlayerState::Playing) {
        // A stop or pause ends the run of failures; a new start gets a whole pass again.
        failedInARow = 0;
        return;
    }
    navigation.PlayTheNextFile();
    if (state.playerState != PlayerState::Playing) return;  // nothing left to play

    if (MediaPlayer1.playState() == Deck::Playing) {
        failedInARow = 0;
        return;
    }
    // A whole pass without a playable entry: stop instead of cycling on every tick.
    if (++failedInARow >= std::max(state.TrackCount, 1)) {
        failedInARow = 0;
        state.playerState = PlayerState::Stopped;
        errors.report(PlaylistNavigation::kNothingPlayable);
    }
}

void PlaybackWatch::cueTheNextEntry() {
    if (state.playerState != PlayerState::Playing || state.TrackCount == 0) return;
    const double length = MediaPlayer1.duration();
    // A crossfade starts the next entry that much earlier: its open comes as long before.
    const double lead = kCueSeconds + MediaPlayer1.crossfade();
    if (length <= 0 || length - MediaPlayer1.currentPosition() > lead) return;
    MediaPlayer1.cueNext(navigation.nextFilePath());
}
