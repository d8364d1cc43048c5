#include "desktop/mpris_service.h"

#include <QDBusMessage>
#include <QStringList>

#include "app/remote_control.h"
#include "desktop/dbus_properties.h"
#include "desktop/mpris_player.h"
#include "desktop/mpris_root.h"

MprisService::MprisService(RemoteControl& remote, QDBusConnection bus, QObject* parent)
    : QObject(parent), bus(std::move(bus)) {
    new MprisRoot(this, remote, this->bus);
    player = new MprisPlayer(this, remote);
    new DbusProperties(this, this->bus, [this](const QString& property, const QVariant& value) {
        return player->accepts(property, value);
    });
    player->setOnTagsRead([this] { announceChanges(); });
    announced = player->announcedProperties();
    // Queued: the values are read once the handler or tick that changed them has finished,
    // and tags are never read inside a tick.
    connect(&remote, &RemoteControl::changed, this, &MprisService::announceChanges,
            Qt::QueuedConnection);
}

bool MprisService::publish() {
    return bus.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors);
}

void MprisService::announceChanges() {
    const QVariantMap now = player->announcedProperties();
    QVariantMap changed;
    for (auto it = now.begin(); it != now.end(); ++it)
        if (announced.value(it.key()) != it.value()) changed.insert(it.key(), it.value());
    if (changed.isEmpty()) return;
    announced = now;
    QDBusMessage signal = QDBusMessage::createSignal(kObjectPath, "org.freedesktop.DBus.Properties",
                                                     "PropertiesChanged");
    signal << QStringLiteral("org.mpris.MediaPlayer2.Player") << changed << QStringList();
    bus.send(signal);
}
