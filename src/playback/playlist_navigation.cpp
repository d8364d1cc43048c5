#include "playback/playlist_navigation.h"

#include <QListWidget>
#include <algorithm>
#include <cassert>
#include <chrono>

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

int PlaylistNavigation::backFrom() const {
    if (state.CurrentFile.empty() || state.CurrentFile.find('/') != std::string::npos ||
        entry(state.TrackNumber - 1) == state.CurrentFile)
        return state.TrackNumber;
    for (int row = 0; row < List4->count(); ++row)
        if (entry(row) == state.CurrentFile) return state.TrackNumber;  // listed elsewhere
    return state.TrackNumber + 1;
}

void PlaylistNavigation::loadEntryIntoDeck1(int trackNumber) {
    state.TrackNumber = trackNumber;
    state.CurrentFile = entry(trackNumber - 1);
    List4->setCurrentRow(trackNumber - 1);
    MediaPlayer1.setFileName(deckPathOf(state, state.CurrentFile));
}

namespace {
// Entries one call (a click, a tick) may try: a pass over thousands of broken files is spread
// over ticks. The first few always go within the call, so a short run of broken entries is
// passed at once; the rest only while the call has taken less than kSkipCallBudget.
constexpr int kSkipTriesPerCall = 16;
constexpr int kSkipSureTries = 2;
constexpr std::chrono::milliseconds kSkipCallBudget{15};
// How long one call waits for opens in all: a local file answers within it, as if at once; a
// slow disk's entry is judged at a later tick, the window answering meanwhile.
constexpr std::chrono::milliseconds kSkipOpenWait{40};
}  // namespace

void PlaylistNavigation::skip(int (*step)(int trackNumber, int trackCount)) {
    MediaPlayer1.stop();
    state.playerState = PlayerState::Playing;
    pendingSkip.emplace();
    pendingSkip->step = step;
    continueSkip();
}

void PlaylistNavigation::continueSkip() {
    if (!pendingSkip) return;
    // Another command took over meanwhile (stop, pause, another entry or playlist): it stands.
    if (pendingSkip->tried > 0 &&
        (state.playerState != PlayerState::Playing || state.TrackNumber != pendingSkip->track ||
         state.CurrentFile != pendingSkip->file)) {
        pendingSkip.reset();
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    const auto waitEnd = start + kSkipOpenWait;
    for (int tries = 0;;) {
        if (pendingSkip->tried > 0) {
            if (!pendingSkip->played) startSkippedEntry();
            const std::optional<bool> started = skippedEntryStarted();
            if (!started) return;  // its open has not answered: the next tick looks again
            if (*started) {
                pendingSkip.reset();
                return;
            }
        }
        // An entry that fails to start has said why (the deck reports it); left there, the
        // watch would take it for a finished track and move the other way, forwards.
        if (pendingSkip->tried >= state.TrackCount) {
            pendingSkip.reset();
            state.playerState = PlayerState::Stopped;
            errors.report(kNothingPlayable);
            return;
        }
        if (tries == kSkipTriesPerCall ||
            (tries >= kSkipSureTries &&
             std::chrono::steady_clock::now() - start >= kSkipCallBudget))
            return;
        ++tries;
        Skip& skip = *pendingSkip;
        ++skip.tried;
        skip.track = skip.step(state.TrackNumber, state.TrackCount);
        skip.played = skip.playedOpening = false;
        loadEntryIntoDeck1(skip.track);
        MediaPlayer1.waitForOpenAtMost(std::max(
            std::chrono::duration_cast<std::chrono::milliseconds>(waitEnd -
                                                                  std::chrono::steady_clock::now()),
            std::chrono::milliseconds::zero()));
        skip.file = state.CurrentFile;
        refresh.UpdateForm1Once();
    }
}

void PlaylistNavigation::startSkippedEntry() {
    pendingSkip->playedOpening = MediaPlayer1.stillOpening();
    pendingSkip->played = true;
    MediaPlayer1.play();
    refresh.showDeck1State();
    state.playerState = PlayerState::Playing;
}

std::optional<bool> PlaylistNavigation::skippedEntryStarted() const {
    if (MediaPlayer1.stillOpening()) return std::nullopt;
    const bool playing = MediaPlayer1.playState() == Deck::Playing;
    // Played before its open answered, a deck reads as playing until it hears of a failure;
    // an entry that opened has a length.
    return playing && (!pendingSkip->playedOpening || MediaPlayer1.duration() > 0);
}

void PlaylistNavigation::Command10_Click() {
    if (state.CurrentFile.empty() || state.TrackCount == 0) return;
    skip(nextPosition);
}

void PlaylistNavigation::Command11_Click() {
    if (state.CurrentFile.empty() || state.TrackCount == 0) return;
    state.TrackNumber = backFrom();
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
    playEntryOnDeck1(nextPosition(state.TrackNumber, state.TrackCount));
}

void PlaylistNavigation::playEntryOnDeck1(int trackNumber) {
    assert(trackNumber >= 1 && trackNumber <= List4->count());
    loadEntryIntoDeck1(trackNumber);
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
        loadEntryIntoDeck2(selected + 1, PausedDeck2::Kept);
        return;
    }
    MediaPlayer1.stop();
    MediaPlayer1.setFileName(deckPathOf(state, chosen));
    MediaPlayer1.play();
    state.NextDeck = 2;
    refresh.UpdateForm1Once();
}

void PlaylistNavigation::loadEntryIntoDeck2(int trackNumber, PausedDeck2 whenPaused) {
    assert(trackNumber >= 1 && trackNumber <= List4->count());
    state.Deck2File = entry(trackNumber - 1);
    const int deck2State = MediaPlayer2.playState();
    const bool takes = deck2State == Deck::Playing || deck2State == Deck::Stopped ||
                       (deck2State == Deck::Paused && whenPaused == PausedDeck2::Replaced);
    if (takes) {
        if (deck2State != Deck::Stopped) MediaPlayer2.stop();
        MediaPlayer2.setFileName(deckPathOf(state, state.Deck2File));
        MediaPlayer2.play();
        state.NextDeck = 1;
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
        loadEntryIntoDeck1(previousPosition(backFrom(), state.TrackCount));
        refresh.UpdateForm1Once();
    }
    if (state.playerState == PlayerState::Playing) {
        MediaPlayer1.stop();
        state.playerState = PlayerState::Stopped;
    }
}
