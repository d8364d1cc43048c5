#include "desktop/mpris_player.h"

#include <cmath>

#include "app/remote_control.h"
#include "desktop/mpris_metadata.h"
#include "shared/file_uri.h"

namespace {
constexpr double kMicroseconds = 1e6;
}

MprisPlayer::MprisPlayer(QObject* service, RemoteControl& remote)
    : QDBusAbstractAdaptor(service), remote(remote) {
    connect(&remote, &RemoteControl::seeked, this, [this] { emit Seeked(position()); });
}

QString MprisPlayer::playbackStatus() const {
    return mprisStatusName(remote.status());
}

QVariantMap MprisPlayer::metadata() {
    TrackFacts track;
    track.serial = remote.trackSerial();
    track.path = remote.trackPath();
    track.lengthSeconds = remote.trackLength();
    if (track.serial != taggedSerial || track.path != taggedPath) {
        taggedSerial = track.serial;
        taggedPath = track.path;
        tags = track.path.empty() ? Mp3Tags{} : readMp3Tags(track.path);
    }
    track.tags = tags;
    return mprisMetadata(track);
}

double MprisPlayer::volume() const {
    return remote.volume();
}

void MprisPlayer::setVolume(double volume) {
    remote.setVolume(volume);
}

qlonglong MprisPlayer::position() const {
    return std::llround(remote.position() * kMicroseconds);
}

bool MprisPlayer::canGoNext() const {
    return remote.hasPlaylist();
}
bool MprisPlayer::canPlay() const {
    return remote.canPlay();
}
bool MprisPlayer::canPause() const {
    return remote.canPause();
}
bool MprisPlayer::canSeek() const {
    return remote.canSeek();
}

QVariantMap MprisPlayer::announcedProperties() {
    return {{"PlaybackStatus", playbackStatus()},
            {"Metadata", metadata()},
            {"Volume", volume()},
            {"CanGoNext", canGoNext()},
            {"CanGoPrevious", canGoNext()},
            {"CanPlay", canPlay()},
            {"CanPause", canPause()},
            {"CanSeek", canSeek()}};
}

void MprisPlayer::Next() {
    remote.next();
}
void MprisPlayer::Previous() {
    remote.previous();
}
void MprisPlayer::Pause() {
    remote.pause();
}
void MprisPlayer::PlayPause() {
    remote.playPause();
}
void MprisPlayer::Stop() {
    remote.stop();
}
void MprisPlayer::Play() {
    remote.play();
}

void MprisPlayer::Seek(qlonglong offset) {
    remote.seekTo(remote.position() + double(offset) / kMicroseconds);
}

void MprisPlayer::SetPosition(const QDBusObjectPath& trackId, qlonglong position) {
    // A request for a track that has been replaced meanwhile is stale.
    if (trackId != mprisTrackId(remote.trackSerial()) || position < 0) return;
    remote.seekTo(double(position) / kMicroseconds);
}

void MprisPlayer::OpenUri(const QString& uri) {
    const QByteArray bytes = uri.toUtf8();
    const auto path = pathOfFileUri(std::string_view(bytes.constData(), size_t(bytes.size())));
    // Another scheme is passed on as it is: the window reports what it cannot open.
    remote.openPath(path ? *path : bytes.toStdString());
}
