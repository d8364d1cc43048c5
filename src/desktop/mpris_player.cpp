#include "desktop/mpris_player.h"

#include <QCoreApplication>
#include <QPointer>
#include <cmath>
#include <system_error>
#include <thread>

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
        tags = Mp3Tags{};
        if (!track.path.empty()) askForTags(track.serial, track.path);
    }
    track.tags = tags;
    return mprisMetadata(track);
}

void MprisPlayer::askForTags(std::uint64_t serial, const std::string& path) {
    QPointer<MprisPlayer> self(this);
    try {
        std::thread([self, serial, path] {
            const Mp3Tags read = readMp3Tags(path);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, serial, read] {
                    if (self) self->tagsRead(serial, read);
                },
                Qt::QueuedConnection);
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the file name stands for the title.
    }
}

void MprisPlayer::tagsRead(std::uint64_t serial, const Mp3Tags& read) {
    if (serial != taggedSerial) return;  // a later track is current
    tags = read;
    if (onTagsRead) onTagsRead();
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
    const double target = remote.position() + double(offset) / kMicroseconds;
    // Past the end: as Next, where there is a next entry; else the track ends.
    if (target >= remote.trackLength() && remote.hasPlaylist()) {
        remote.next();
        return;
    }
    remote.seekTo(target);
}

void MprisPlayer::SetPosition(const QDBusObjectPath& trackId, qlonglong position) {
    // A request for a track that has been replaced meanwhile is stale; one outside the track
    // is not to be acted on.
    if (trackId != mprisTrackId(remote.trackSerial()) || position < 0 ||
        double(position) / kMicroseconds > remote.trackLength())
        return;
    remote.seekTo(double(position) / kMicroseconds);
}

bool MprisPlayer::accepts(const QString& property, const QVariant& value) const {
    const double number = value.toDouble();
    if (property == QLatin1String("Rate")) return number == 0.0 || number == rate();
    return std::isfinite(number);  // Volume: below 0 is silence, above 1 full
}

void MprisPlayer::setRate(double rate) {
    // One speed only (MinimumRate = MaximumRate = 1); 0 is a pause, as MPRIS asks.
    if (rate == 0.0) Pause();
}

void MprisPlayer::OpenUri(const QString& uri) {
    const QByteArray bytes = uri.toUtf8();
    const auto path = pathOfFileUri(std::string_view(bytes.constData(), size_t(bytes.size())));
    // Another scheme is passed on as it is: the window reports what it cannot open.
    remote.openPath(path ? *path : bytes.toStdString());
}
