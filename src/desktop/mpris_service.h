#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

class MprisPlayer;
class RemoteControl;

// The player on a bus as MPRIS knows it: the root and player interfaces at one object, and
// PropertiesChanged with exactly the values that changed, after the handler or tick that
// changed them, so a track that just plays on sends nothing.
class MprisService : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kServiceName = "org.mpris.MediaPlayer2.velmor_mp3_player";
    static constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";

    MprisService(RemoteControl& remote, QDBusConnection bus, QObject* parent = nullptr);

    // Puts the object on the bus; the caller owns the name. False when the bus refuses.
    bool publish();

private:
    void announceChanges();

    QDBusConnection bus;
    MprisPlayer* player;
    QVariantMap announced;  // what clients were last told
};
