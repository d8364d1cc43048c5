#include "desktop/mpris_metadata.h"

#include <QStringList>
#include <cmath>

#include "shared/file_name_text.h"
#include "shared/file_uri.h"

QDBusObjectPath mprisTrackId(std::uint64_t serial) {
    return QDBusObjectPath(QStringLiteral("/org/velmor_mp3_player/track/%1").arg(serial));
}

QVariantMap mprisMetadata(const TrackFacts& track) {
    QVariantMap map;
    if (track.path.empty()) return map;
    map.insert("mpris:trackid", QVariant::fromValue(mprisTrackId(track.serial)));
    if (track.lengthSeconds > 0)
        map.insert("mpris:length", qlonglong(std::llround(track.lengthSeconds * 1e6)));
    map.insert("xesam:url", QString::fromLatin1(fileUriOf(track.path)));
    const size_t slash = track.path.rfind('/');
    const std::string name = slash == std::string::npos ? track.path : track.path.substr(slash + 1);
    map.insert("xesam:title", track.tags.title.empty() ? fileNameText(name)
                                                       : QString::fromStdString(track.tags.title));
    if (!track.tags.artist.empty())
        map.insert("xesam:artist", QStringList{QString::fromStdString(track.tags.artist)});
    if (!track.tags.album.empty())
        map.insert("xesam:album", QString::fromStdString(track.tags.album));
    return map;
}

QString mprisStatusName(RemoteControl::Status status) {
    switch (status) {
        case RemoteControl::Status::Playing:
            return QStringLiteral("Playing");
        case RemoteControl::Status::Paused:
            return QStringLiteral("Paused");
        case RemoteControl::Status::Stopped:
            break;
    }
    return QStringLiteral("Stopped");
}
