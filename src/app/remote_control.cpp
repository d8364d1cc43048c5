#include "app/remote_control.h"

#include <QScrollBar>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cmath>

#include "app/observed_deck.h"
#include "components/deck.h"
#include "mixer/mixer_sliders.h"
#include "playback/deck1_transport.h"
#include "playback/path_opening.h"
#include "playback/playlist_navigation.h"
#include "shared/scroll_scale.h"

RemoteControl::RemoteControl(Parts parts) : parts(parts), last(snapshot()) {
    parts.deck1.setOnSeeked([this] { emit seeked(); });
}

RemoteControl::Status RemoteControl::status() const {
    // Deck 1 alone: the shared state word follows deck 2's buttons too, and "Play File" and a
    // double-click play deck 1 without changing it.
    switch (parts.deck1.playState()) {
        case Deck::Playing:
            return Status::Playing;
        case Deck::Paused:
            return Status::Paused;
        default:
            return Status::Stopped;
    }
}

void RemoteControl::alignWordWithDeck1() {
    switch (status()) {
        case Status::Playing:
            parts.state.playerState = PlayerState::Playing;
            break;
        case Status::Paused:
            parts.state.playerState = PlayerState::Paused;
            break;
        case Status::Stopped:
            parts.state.playerState = PlayerState::Stopped;
            break;
    }
}

void RemoteControl::play() {
    const Status now = status();
    if (now == Status::Playing) return;
    alignWordWithDeck1();
    if (now == Status::Paused)
        parts.transport.Command4_Click();
    else
        parts.transport.Command1_Click();
    checkForChange();
}

void RemoteControl::pause() {
    if (status() != Status::Playing) return;
    alignWordWithDeck1();
    parts.transport.Command4_Click();
    checkForChange();
}

void RemoteControl::playPause() {
    const Status now = status();
    alignWordWithDeck1();
    if (now == Status::Stopped)
        parts.transport.Command1_Click();
    else
        parts.transport.Command4_Click();
    checkForChange();
}

void RemoteControl::stop() {
    parts.transport.Command3_Click();
    checkForChange();
}

void RemoteControl::next() {
    parts.navigation.Command10_Click();
    checkForChange();
}

void RemoteControl::previous() {
    parts.navigation.Command11_Click();
    checkForChange();
}

void RemoteControl::seekTo(double seconds) {
    if (!canSeek()) return;
    parts.deck1.seek(std::max(0.0, seconds));
    checkForChange();
}

void RemoteControl::openPath(const std::string& path) {
    parts.opening.open(path);
    checkForChange();
}

void RemoteControl::setVolume(double volume) {
    if (!std::isfinite(volume)) return;
    const double clamped = std::clamp(volume, 0.0, 1.0);
    const int bar = int(std::lround((1.0 - clamped) * ScrollScale::kBottom));
    parts.VScroll5->setValue(bar);
    parts.sliders.VScroll5_Scroll();
    checkForChange();
}

void RemoteControl::raise() {
    QWidget* window = parts.window;
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

void RemoteControl::quit() {
    // After the caller's reply has gone out: closing ends the process.
    QTimer::singleShot(0, parts.window, [window = parts.window] { window->close(); });
}

const std::string& RemoteControl::trackPath() const {
    return parts.deck1.path();
}
std::uint64_t RemoteControl::trackSerial() const {
    return parts.deck1.loads();
}
double RemoteControl::trackLength() const {
    return parts.deck1.duration();
}
double RemoteControl::position() const {
    return parts.deck1.currentPosition();
}
double RemoteControl::volume() const {
    return 1.0 - double(parts.VScroll5->value()) / ScrollScale::kBottom;
}
bool RemoteControl::hasPlaylist() const {
    return parts.state.TrackCount > 0 && !parts.state.CurrentFile.empty();
}
bool RemoteControl::canPlay() const {
    return !parts.state.CurrentFile.empty() || status() == Status::Paused;
}
bool RemoteControl::canPause() const {
    return status() != Status::Stopped;
}
bool RemoteControl::canSeek() const {
    return !trackPath().empty() && trackLength() > 0;
}
bool RemoteControl::anyDeckPlaying() const {
    return parts.deck1.playState() == Deck::Playing || parts.deck2.playState() == Deck::Playing;
}

RemoteControl::Snapshot RemoteControl::snapshot() const {
    return Snapshot{parts.state.playerState,          parts.deck1.playState(),
                    parts.deck2.playState(),          parts.deck1.loads(),
                    parts.deck1.duration(),           parts.state.TrackCount > 0,
                    !parts.state.CurrentFile.empty(), parts.VScroll5->value()};
}

void RemoteControl::checkForChange() {
    const Snapshot now = snapshot();
    if (now == last) return;
    last = now;
    emit changed();
}
