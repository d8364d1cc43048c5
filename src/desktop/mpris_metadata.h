#pragma once

#include <QDBusObjectPath>
#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <string>

#include "app/remote_control.h"
#include "components/mp3_tags.h"

// What the metadata of deck 1's track is made of.
struct TrackFacts {
    std::uint64_t serial = 0;  // which loading of deck 1 this is
    std::string path;          // full path, bytes; "" for no track
    double lengthSeconds = 0;
    Mp3Tags tags;
};

// One id per loading of deck 1, so that a client's SetPosition for a track that has since
// changed is recognised as stale.
QDBusObjectPath mprisTrackId(std::uint64_t serial);

// The MPRIS metadata map: empty without a track.
QVariantMap mprisMetadata(const TrackFacts& track);

// "Playing", "Paused" or "Stopped".
QString mprisStatusName(RemoteControl::Status status);
